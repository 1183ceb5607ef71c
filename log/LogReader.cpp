// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin log -- splitting a log's text into records.
#include "log/LogReader.h"

#include <charconv>
#include <cstring>

namespace {

// The code ("%06d": six characters at least, a minus sign among them) and
// the separator; 0 when the text does not start so.
std::size_t CodeLength(std::string_view t) {
    std::size_t n = t.starts_with('-') ? 1 : 0;
    while (n < t.size() && n < 12 && t[n] >= '0' && t[n] <= '9') ++n;
    if (n < 6 || !t.substr(n).starts_with("  ")) return 0;
    return n;
}

// "%03d:%02d:%02d:%09.6f"; the clock's placeholder has X for every digit.
bool IsStamp(std::string_view t) {
    static const char shape[] = "999:99:99:99.999999";
    if (t.size() < sizeof shape - 1) return false;
    for (std::size_t i = 0; i + 1 < sizeof shape; ++i) {
        const char c = t[i];
        if (shape[i] == '9' ? !((c >= '0' && c <= '9') || c == 'X') : c != shape[i]) return false;
    }
    return true;
}

constexpr std::size_t StampLength = 19;

std::string_view StripSuffix(std::string_view& message, std::string_view note) {
    if (!message.ends_with(note)) return {};
    message.remove_suffix(note.size());
    return note;
}

// The lost-records note: its prefix and a number.
std::string_view StripLostNote(std::string_view& message) {
    std::size_t digits = 0;
    while (digits < message.size() && digits < 20 && message[message.size() - 1 - digits] >= '0' &&
           message[message.size() - 1 - digits] <= '9')
        ++digits;
    if (digits == 0) return {};
    std::string_view rest = message.substr(0, message.size() - digits);
    if (!rest.ends_with(LostNotePrefix)) return {};
    const std::size_t length = digits + std::strlen(LostNotePrefix);
    message.remove_suffix(length);
    return std::string_view(message.data() + message.size(), length);
}

}  // namespace

// The two blanks after the stamp; a message that begins with a line end
// (the report's header does) leaves them at the end of the line, where an
// editor that trims such blanks takes them away.
std::size_t StampTail(std::string_view afterStamp) {
    if (afterStamp.starts_with("  ")) return 2;
    return afterStamp.starts_with("\n") || afterStamp.starts_with("\r\n") ? 0 : std::string_view::npos;
}

bool StartsLogRecord(std::string_view text) {
    const std::size_t code = CodeLength(text);
    return code && IsStamp(text.substr(code + 2)) &&
           StampTail(text.substr(code + 2 + StampLength)) != std::string_view::npos;
}

std::vector<LogRecord> ReadLogRecords(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t line = 0; line < text.size();) {
        if (StartsLogRecord(text.substr(line))) starts.push_back(line);
        const void* lf = std::memchr(text.data() + line, '\n', text.size() - line);
        if (!lf) break;
        line = static_cast<const char*>(lf) - text.data() + 1;
    }
    std::vector<LogRecord> records;
    records.reserve(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t start = starts[i];
        std::size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        // The line end the writer put after the record belongs to no message.
        if (end > start && text[end - 1] == '\n') --end;
        if (end > start && text[end - 1] == '\r') --end;
        const std::size_t code = CodeLength(text.substr(start));
        LogRecord r;
        r.Offset = start;
        int64_t value = 0;
        std::from_chars(text.data() + start, text.data() + start + code, value);
        r.Code = static_cast<int32_t>(value);
        r.Stamp = text.substr(start + code + 2, StampLength);
        const std::size_t message =
            start + code + 2 + StampLength + StampTail(text.substr(start + code + 2 + StampLength));
        r.Message = message < end ? text.substr(message, end - message) : std::string_view{};
        const std::string_view lost = StripLostNote(r.Message);
        const std::string_view cpu = StripSuffix(r.Message, CpuTimeNote);
        const std::string_view reinit = StripSuffix(r.Message, ReinitNote);
        if (!reinit.empty() || !cpu.empty() || !lost.empty())
            r.Notes = text.substr(r.Message.data() - text.data() + r.Message.size(),
                                  reinit.size() + cpu.size() + lost.size());
        records.push_back(r);
    }
    return records;
}
