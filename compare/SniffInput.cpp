// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- reading a sniff from whatever an engineer has kept: the
// log (several sniffs, records with codes and stamps), a copy of the window's
// report, or quorrin-sniff --json.
#include "compare/SniffInput.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

#include <nlohmann/json.hpp>

#include "log/LogReader.h"
#include "pci/LspciFormat.h"
#include "sniffer/DeviceTableJson.h"
#include "sniffer/ReportTexts.h"
#include "sniffer/SnifferReport.h"
#include "windriver/ReplayService.h"
#include "windriver/WinDriverRequests.h"

namespace compare {

namespace {

constexpr uint64_t LastLocation = std::numeric_limits<uint64_t>::max();

// Line numbers of offsets asked for mostly in order: counting from the last
// answer keeps a file with many problems linear.
class LineCounter {
public:
    explicit LineCounter(std::string_view text) : text_(text) {}
    int At(std::size_t offset) {
        offset = std::min(offset, text_.size());
        if (offset < at_) at_ = 0, line_ = 1;
        line_ += static_cast<int>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(at_),
                                             text_.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
        at_ = offset;
        return line_;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
};

std::size_t Offset(std::string_view text, std::string_view part) {
    return static_cast<std::size_t>(part.data() - text.data());
}

std::string_view WithoutLeadingBlanks(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // an editor's byte-order mark
    while (!text.empty() &&
           (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    return text;
}

// One sniff of a source as the choice sees it.
struct Candidate {
    bool Complete = false;
    std::string NotReached;  // why it did not reach the driver; empty when it did
    int Line = 0;            // where it, or the sign that it missed the driver, is
};

bool Pick(int wanted, const std::vector<Candidate>& all, int& chosen, std::string& error) {
    const int count = static_cast<int>(all.size());
    if (count == 0) {
        error = "holds no sniff report";
        return false;
    }
    if (wanted > count) {
        error = "holds " + std::to_string(count) + (count == 1 ? " sniff" : " sniffs") + ", not " +
                std::to_string(wanted);
        return false;
    }
    chosen = wanted;
    if (wanted == 0) {
        // The last complete one that reached the driver, else the last that reached it.
        for (int pass = 0; pass < 2 && chosen == 0; ++pass)
            for (int i = count; i >= 1 && chosen == 0; --i)
                if (all[i - 1].NotReached.empty() && (pass == 1 || all[i - 1].Complete)) chosen = i;
        if (chosen == 0) {
            const Candidate& last = all.back();
            error = std::to_string(last.Line) + ": " +
                    (count == 1 ? "its sniff did not reach" : "none of its " + std::to_string(count) + " sniffs reached") +
                    " the driver (" + last.NotReached + "): nothing to compare";
            return false;
        }
    }
    const Candidate& c = all[chosen - 1];
    if (!c.NotReached.empty()) {
        error = std::to_string(c.Line) + ": sniff " + std::to_string(chosen) + " of " + std::to_string(count) +
                " did not reach the driver (" + c.NotReached + "): nothing to compare";
        return false;
    }
    return true;
}

// Where a damaged block leaves the other side uncompared: its own location
// when its location lines were read, else everything between the blocks
// read before and after it.
void AddUnread(Sniff& sniff, const ReportProblem& p, int line) {
    const PciDeviceTableType& t = *sniff.Table;
    if (p.Located) {
        const uint64_t at = LocationKey(p.Bus, p.Slot, p.Function);
        sniff.Unread.push_back({at, p.CutOff ? LastLocation : at, line, p.CutOff});
        return;
    }
    const int before = std::clamp(p.ReadBefore, 0, t.Count);
    const uint64_t from = before > 0 ? LocationKey(t.Devices[before - 1]) + 1 : 0;
    const uint64_t to = before < t.Count && !p.CutOff ? LocationKey(t.Devices[before]) - 1 : LastLocation;
    if (from <= to) sniff.Unread.push_back({from, to, line, p.CutOff});
}

void Describe(const ReportProblem& p, std::size_t base, LineCounter& lines, Sniff& sniff) {
    const int block = lines.At(base + p.Block);
    const int at = lines.At(base + p.At);
    std::string what = p.Note ? "" : "device block at line " + std::to_string(block) + " skipped: ";
    if (at != block) what += "line " + std::to_string(at) + ": ";
    sniff.Problems.push_back({block, what + p.Text, p.Note});
    if (!p.Note) AddUnread(sniff, p, block);
}

// The records of one sniff in a log: the header, the device blocks, the
// footer when it came, and what the scan logged before it.
struct LogSniff {
    const LogRecord* Header = nullptr;  // none for the no-devices sentence
    std::size_t Offset = 0;
    int32_t Count = 0;
    std::vector<const LogRecord*> Devices;
    bool Complete = false;
    std::string NotReached;
    std::size_t NotReachedAt = 0;
};

bool ReadLog(std::string_view text, int wanted, Sniff& sniff, std::string& error) {
    const std::string_view eol = ReportLineEnd(text);
    const std::vector<LogRecord> records = ReadLogRecords(text);
    std::vector<LogSniff> sniffs;
    LogSniff* open = nullptr;
    // The scan logs its trouble with the driver before the report it leads to.
    std::string missed;
    std::size_t missedAt = 0;
    for (const LogRecord& r : records) {
        int32_t count;
        std::size_t end;
        if (r.Message == reporttext::NoDevices || ParseReportHeader(r.Message, eol, count, end)) {
            const bool none = r.Message == reporttext::NoDevices;
            LogSniff s{none ? nullptr : &r, r.Offset, none ? 0 : count, {}, none, missed, missedAt};
            if (none && s.NotReached.empty()) s.NotReached = "it found no PCI devices";
            sniffs.push_back(std::move(s));
            open = none ? nullptr : &sniffs.back();
            missed.clear();
        } else if (open && StartsWithDeviceReport(r.Message, eol)) {
            open->Devices.push_back(&r);
        } else if (open && StartsWithReportFooter(r.Message, eol, end)) {
            open->Complete = true;
            open = nullptr;
        } else if (r.Code == reporttext::NoHandleCode &&
                   r.Message.find(reporttext::NoHandleText) != std::string_view::npos) {
            missed = reporttext::NoHandleText;
            missedAt = r.Offset;
        } else if (r.Message == reporttext::LostDriverText) {
            missed = "the connection to the driver was lost during the scan";
            missedAt = r.Offset;
        }
    }
    LineCounter lines(text);
    std::vector<Candidate> candidates;
    for (const LogSniff& s : sniffs)
        candidates.push_back({s.Complete, s.NotReached, lines.At(s.NotReached.empty() ? s.Offset : s.NotReachedAt)});
    int chosen;
    if (!Pick(wanted, candidates, chosen, error)) return false;
    const LogSniff& s = sniffs[chosen - 1];
    sniff.Kind = SourceKind::Log;
    sniff.Number = chosen;
    sniff.Of = static_cast<int>(sniffs.size());
    sniff.Complete = s.Complete;
    PciDeviceTableType& table = *sniff.Table;
    table.Count = 0;
    PciDeviceRecord record;
    std::vector<std::pair<ReportProblem, std::size_t>> problems;  // and the base of their offsets
    for (const LogRecord* r : s.Devices) {
        std::size_t end = 0;
        ReportProblem p;
        const std::size_t base = Offset(text, r->Message);
        if (!ParseDeviceReport(r->Message, eol, record, end, p)) {
            p.ReadBefore = table.Count;
            problems.push_back({p, base});
            continue;
        }
        if (table.Count == PciTableCapacity) {
            problems.push_back(
                {{0, 0, "past the table's " + std::to_string(PciTableCapacity) + " records", false, false, false, 0, 0,
                  0, table.Count},
                 base});
            continue;
        }
        table.Devices[table.Count++] = record;
        // LogInfoLine put one line end after the block; anything more is a
        // line that came into the record from elsewhere (the block is whole).
        std::string_view after = r->Message.substr(end);
        if (after.starts_with(eol)) after.remove_prefix(eol.size());
        if (!after.empty()) {
            ReportProblem stray{end, end + (r->Message.substr(end).starts_with(eol) ? eol.size() : 0),
                                "text after the device block, not read"};
            stray.Note = after.find(reporttext::DeviceLead) == std::string_view::npos;
            if (!stray.Note) stray.Text = "a device block inside the record before it (its record line is damaged)";
            stray.Block = stray.At;
            stray.ReadBefore = table.Count;
            problems.push_back({stray, base});
        }
    }
    for (const auto& [p, base] : problems) Describe(p, base, lines, sniff);
    if (!s.Complete) {
        const int line = lines.At(s.Offset);
        sniff.Problems.push_back({line, "the sniff that starts here has no footer (cut off)"});
        ReportProblem cut;
        cut.CutOff = true;
        cut.ReadBefore = table.Count;
        AddUnread(sniff, cut, line);
    } else if (problems.empty() && static_cast<int32_t>(s.Devices.size()) != std::min(s.Count, PciTableCapacity)) {
        sniff.Problems.push_back(
            {lines.At(s.Offset), "the header counts " + std::to_string(s.Count) + " devices, " +
                                     std::to_string(s.Devices.size()) + " blocks follow"});
    }
    return true;
}

// Every occurrence of `needle`, in one pass.
std::vector<std::size_t> FindAll(std::string_view text, std::string_view needle) {
    std::vector<std::size_t> found;
    const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
    for (auto at = text.begin();;) {
        const auto hit = std::search(at, text.end(), searcher);
        if (hit == text.end()) return found;
        found.push_back(static_cast<std::size_t>(hit - text.begin()));
        at = hit + 1;
    }
}

// The reports of a text, pasted one after the other, told apart by their
// headers, footers and no-devices sentences alone: only the one chosen is
// read block by block.
struct ReportPlace {
    std::size_t Begin = 0;
    bool Complete = false, Empty = false;
};
std::vector<ReportPlace> ReportPlaces(std::string_view text) {
    const std::string_view eol = ReportLineEnd(text);
    const std::string dashes(reporttext::DashLine72Length, '-');
    const std::string lead = std::string(eol) + dashes + std::string(eol) + dashes + std::string(eol);
    std::string footer(reporttext::FooterTitle);
    footer.pop_back();  // its last blank, which a trimmed copy lacks
    enum Kind { Header, Footer, Empty };
    std::vector<std::pair<std::size_t, Kind>> marks;
    for (std::size_t at : FindAll(text, reporttext::CountLead)) {
        int32_t count;
        std::size_t end;
        if (at >= lead.size() && ParseReportHeader(text.substr(at - lead.size()), eol, count, end))
            marks.push_back({at - lead.size(), Header});
    }
    for (std::size_t at : FindAll(text, footer)) marks.push_back({at, Footer});
    for (std::size_t at : FindAll(text, reporttext::NoDevices)) marks.push_back({at, Empty});
    std::sort(marks.begin(), marks.end());
    std::vector<ReportPlace> places;
    bool open = false;
    for (const auto& [at, kind] : marks) {
        if (kind == Footer) {
            if (open) places.back().Complete = true;
            open = false;
        } else {
            places.push_back({at, kind == Empty, kind == Empty});
            open = kind == Header;
        }
    }
    return places;
}

bool ReadReports(std::string_view text, int wanted, Sniff& sniff, std::string& error) {
    std::vector<Candidate> candidates;
    LineCounter lines(text);
    const std::vector<ReportPlace> places = ReportPlaces(text);
    for (const ReportPlace& r : places)
        candidates.push_back({r.Complete, r.Empty ? "the report found no PCI devices" : "", lines.At(r.Begin)});
    int chosen;
    if (!Pick(wanted, candidates, chosen, error)) return false;
    const std::size_t begin = places[chosen - 1].Begin;
    const ReportReading again = ParseSniffReport(text.substr(begin), *sniff.Table);
    sniff.Kind = SourceKind::Report;
    sniff.Number = chosen;
    sniff.Of = static_cast<int>(places.size());
    sniff.Complete = again.Complete;
    const std::string_view eol = ReportLineEnd(text);
    for (const ReportProblem& p : again.Problems) {
        if (!p.Note && !StartsWithDeviceReport(text.substr(begin + p.Block), eol)) {
            const int line = lines.At(begin + p.At);
            sniff.Problems.push_back({line, p.Text});
            if (p.CutOff || p.Text.starts_with("expected")) AddUnread(sniff, p, line);
        } else {
            Describe(p, begin, lines, sniff);
        }
    }
    return true;
}

bool ReadJson(std::string_view text, int wanted, Sniff& sniff, std::string& error) {
    const DeviceTableJsonReading r = ReadDeviceTableJson(text, *sniff.Table);
    if (!r.Read) {
        error = std::to_string(LineCounter(text).At(r.ErrorOffset)) + ": " + r.Error;
        return false;
    }
    if (wanted > 1) {
        error = "holds 1 sniff, not " + std::to_string(wanted);
        return false;
    }
    if (r.Count == 0) {
        error = "1: its sniff found no PCI devices (it did not reach the driver): nothing to compare";
        return false;
    }
    sniff.Kind = SourceKind::Json;
    for (const std::string& skipped : r.Skipped) sniff.Problems.push_back({0, skipped + "; left out"});
    if (r.Skipped.empty() && sniff.Table->Count != std::clamp(r.Count, 0, PciTableCapacity))
        sniff.Problems.push_back({0, "the table counts " + std::to_string(r.Count) + " devices, " +
                                         std::to_string(sniff.Table->Count) + " follow"});
    return true;
}

// A log whose first lines were lost or edited is still a log: any line that
// starts a record says so (no report line looks like one).
bool HoldsLogRecord(std::string_view text) {
    for (std::size_t line = 0; line < text.size();) {
        if (StartsLogRecord(text.substr(line))) return true;
        const std::size_t lf = text.find('\n', line);
        if (lf == std::string_view::npos) break;
        line = lf + 1;
    }
    return false;
}

// A text in UTF-16 (what Windows PowerShell 5.1's ">" writes), by its
// byte-order mark or, without one, by the zero bytes of ASCII text.
enum class Utf16 { No, Little, Big };
Utf16 Utf16Kind(std::string_view text) {
    if (text.starts_with("\xFF\xFE")) return Utf16::Little;
    if (text.starts_with("\xFE\xFF")) return Utf16::Big;
    if (text.size() >= 4 && text[0] != '\0' && text[1] == '\0' && text[2] != '\0' && text[3] == '\0')
        return Utf16::Little;
    if (text.size() >= 4 && text[0] == '\0' && text[1] != '\0' && text[2] == '\0' && text[3] != '\0')
        return Utf16::Big;
    return Utf16::No;
}

// The 8-bit text the program wrote: every character it writes is below 256.
std::string FromUtf16(std::string_view text, Utf16 kind) {
    std::string out;
    out.reserve(text.size() / 2);
    std::size_t i = text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ? 2 : 0;
    for (; i + 1 < text.size(); i += 2) {
        const unsigned char a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(text[i + 1]);
        const unsigned unit = kind == Utf16::Little ? a | b << 8 : b | a << 8;
        out += unit < 0x100 ? static_cast<char>(unit) : '?';
    }
    return out;
}

// The offset of the first line whose end differs from the first line's; npos
// when they all end alike. In a CR LF text a driver's own line feed stands
// just before a CR LF, and that is no change.
std::size_t LineEndChange(std::string_view text) {
    const bool crlf = ReportLineEnd(text) == "\r\n";
    for (std::size_t lf = text.find('\n'); lf != std::string_view::npos; lf = text.find('\n', lf + 1)) {
        const bool hasCr = lf > 0 && text[lf - 1] == '\r';
        if (crlf && !hasCr && !text.substr(lf + 1).starts_with("\r\n")) return lf;
        if (!crlf && hasCr) return lf;
    }
    return std::string_view::npos;
}

std::string WithLfLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

bool ReadKnownKind(std::string_view text, int wanted, Sniff& sniff, std::string& error) {
    switch (KindOf(text)) {
        case SourceKind::Json:
            return ReadJson(text, wanted, sniff, error);
        case SourceKind::Log:
            return ReadLog(text, wanted, sniff, error);
        case SourceKind::Report:
            return ReadReports(text, wanted, sniff, error);
        case SourceKind::BusFile:
        case SourceKind::Lspci:
            error = "a recorded bus, sniffed from its file";
            return false;
        case SourceKind::Live:
        case SourceKind::Unknown:
            break;
    }
    error = "1: neither a Quorrin log, a sniff report, quorrin-sniff --json, a bus file nor lspci text";
    return false;
}

std::string Reason(int error) {
    switch (error) {
        case ENOENT:
            return "no such file";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EISDIR:
            return "a folder, not a file";
        default:
            return std::strerror(error);
    }
}

bool ReadAll(std::FILE* in, std::string& text) {
    char block[1 << 16];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, in)) > 0) text.append(block, n);
    return !std::ferror(in);
}

// A quorrin-sniff --json text has its "Devices"; a bus file, written by hand
// or saved, has its "functions".
bool IsBusFile(std::string_view text) {
    const nlohmann::json doc = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    return doc.is_object() && doc.contains("functions") && !doc.contains("Devices");
}

std::string& ReplayProgram() {
    static std::string program;
    return program;
}

// The recorded bus sniffed as quorrin-sniff --bus sniffs it, without a log
// (none is started here, so the scan's records go nowhere).
bool Replay(const std::string& path, Sniff& sniff, std::string& error) {
    if (ReplayProgram().empty()) {
        error = path + ": a recorded bus, and no service to replay it";
        return false;
    }
    ReplayService service;
    if (!service.Start(ReplayProgram(), path, error)) return false;
    const std::string previous = DriverDevice();
    SetDriverDevice(service.Socket());
    auto captures = std::make_unique<PciCaptureTable>();
    GetPciCardInfo(PciTableCapacity, *sniff.Table, *captures);
    const bool reached = captures->Complete && LastErrorCode != 1;
    SetDriverDevice(previous);
    if (!reached) {
        error = path + ": the service replaying it did not answer to the end of the sniff";
        return false;
    }
    return true;
}

}  // namespace

const char* SourceKindName(SourceKind kind) {
    switch (kind) {
        case SourceKind::Log:
            return "log";
        case SourceKind::Report:
            return "report";
        case SourceKind::Json:
            return "json";
        case SourceKind::BusFile:
            return "bus";
        case SourceKind::Lspci:
            return "lspci";
        case SourceKind::Live:
            return "live";
        case SourceKind::Unknown:
            break;
    }
    return "unknown";
}

SourceKind KindOf(std::string_view text) {
    const std::string_view start = WithoutLeadingBlanks(text);
    if (start.starts_with('{')) return IsBusFile(text) ? SourceKind::BusFile : SourceKind::Json;
    if (HoldsLogRecord(start)) return SourceKind::Log;
    const std::string_view eol = ReportLineEnd(text);
    const std::string header = std::string(eol) + std::string(reporttext::DashLine72Length, '-') +
                               std::string(eol) + std::string(reporttext::DashLine72Length, '-') +
                               std::string(eol) + reporttext::CountLead;
    if (text.find(header) != std::string_view::npos || start.starts_with(reporttext::NoDevices))
        return SourceKind::Report;
    if (lspci::LooksLikeLspciText(text)) return SourceKind::Lspci;
    return SourceKind::Unknown;
}

void SetReplayProgram(const std::string& program) { ReplayProgram() = program; }

bool ReadSniff(std::string_view text, int wanted, Sniff& sniff, std::string& error) {
    std::string converted;
    std::vector<SourceProblem> notes;
    if (const Utf16 kind = Utf16Kind(text); kind != Utf16::No) {
        converted = FromUtf16(text, kind);
        text = converted;
        notes.push_back({0, "read as UTF-16 text", true});
    }
    if (const std::size_t change = LineEndChange(text); change != std::string_view::npos) {
        const int line = LineCounter(text).At(change) + 1;
        const bool fromCrlf = ReportLineEnd(text) == "\r\n";
        converted = WithLfLineEnds(text);
        text = converted;
        notes.push_back({line,
                         std::string("the line ends change here from ") + (fromCrlf ? "CR LF to LF" : "LF to CR LF") +
                             "; read as LF",
                         true});
    }
    if (!ReadKnownKind(text, wanted, sniff, error)) {
        if (!notes.empty() && !error.empty() && error.front() >= '0' && error.front() <= '9')
            error += " (" + notes.back().Text + ")";
        return false;
    }
    sniff.Problems.insert(sniff.Problems.begin(), notes.begin(), notes.end());
    std::stable_sort(sniff.Problems.begin(), sniff.Problems.end(),
                     [](const SourceProblem& a, const SourceProblem& b) { return a.Line < b.Line; });
    return true;
}

bool LoadSniff(const std::string& path, int wanted, Sniff& sniff, std::string& error) {
    std::string text;
    if (path == "-") {
        if (!ReadAll(stdin, text)) {
            error = "-: standard input cannot be read: " + Reason(errno);
            return false;
        }
    } else {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            error = path + ": cannot be read: " + Reason(EISDIR);
            return false;
        }
        errno = 0;
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (!in) {
            error = path + ": cannot be read: " + Reason(errno);
            return false;
        }
        const bool read = ReadAll(in, text);
        const int why = errno;
        std::fclose(in);
        if (!read) {
            error = path + ": cannot be read: " + Reason(why);
            return false;
        }
    }
    sniff.Source = path;
    const SourceKind kind = KindOf(text);
    if (kind == SourceKind::BusFile || kind == SourceKind::Lspci) {
        if (path == "-") {
            error = "-: a recorded bus is replayed from its file: name the file instead of standard input";
            return false;
        }
        if (wanted > 1) {
            error = path + ": holds 1 sniff, not " + std::to_string(wanted);
            return false;
        }
        sniff.Kind = kind;
        return Replay(path, sniff, error);
    }
    if (!ReadSniff(text, wanted, sniff, error)) {
        error = path + (error.front() >= '0' && error.front() <= '9' ? ":" : ": ") + error;
        return false;
    }
    return true;
}

}  // namespace compare
