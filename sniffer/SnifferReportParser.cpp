// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- the sniff report read back into the device table. Every
// text the formatter writes is accepted, cut values included: a field reads as
// the digits the report kept.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sniffer/ReportTexts.h"
#include "sniffer/SnifferReport.h"

namespace {

using namespace reporttext;

const std::string DashLine72(DashLine72Length, '-');
const std::string DashLine43(DashLine43Length, '-');
const std::string DashLine9(DashLine9Length, '-');

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// How much of `text` the literal covers, npos when it does not match. Blanks
// that end a line of the literal may be missing from the text: editors and
// mailers trim them, and they carry nothing.
std::size_t Match(std::string_view text, std::string_view literal) {
    std::size_t i = 0, j = 0;
    while (i < literal.size()) {
        if (j < text.size() && text[j] == literal[i]) {
            ++i;
            ++j;
            continue;
        }
        if (literal[i] != ' ') return std::string_view::npos;
        std::size_t run = i;
        while (run < literal.size() && literal[run] == ' ') ++run;
        const bool literalLineEnds = run == literal.size() || literal[run] == '\r' || literal[run] == '\n';
        const bool textLineEnds = j == text.size() || text[j] == '\r' || text[j] == '\n';
        if (!literalLineEnds || !textLineEnds) return std::string_view::npos;
        i = run;
    }
    return j;
}

// A cursor over the text that remembers what it expected where it first
// failed.
class Reader {
public:
    Reader(std::string_view text, std::string_view lineEnd, std::size_t at = 0)
        : text_(text), eol_(lineEnd), at_(at) {}

    std::size_t At() const { return at_; }
    bool AtEnd() const { return at_ >= text_.size(); }
    std::string_view Rest() const { return text_.substr(std::min(at_, text_.size())); }
    bool Sees(std::string_view literal) const { return Match(Rest(), literal) != std::string_view::npos; }
    // The literal, when it is there; no failure is noted when it is not.
    bool Take(std::string_view literal) {
        const std::size_t n = Match(Rest(), literal);
        if (n == std::string_view::npos) return false;
        at_ += n;
        return true;
    }

    bool Literal(std::string_view literal, const char* what = nullptr) {
        if (!Take(literal)) return Fail(what ? what : literal, literal.starts_with(Rest()));
        return true;
    }
    bool Eol() { return Literal(eol_, "the end of the line"); }

    // Exactly `digits` hex digits, or (with `longDigits`) that many instead:
    // the formatter always writes the whole width, so a field with fewer
    // digits has lost some.
    bool Hex(int digits, uint64_t& value, std::string_view what, int longDigits = 0) {
        int n = 0;
        value = 0;
        const int most = std::max(digits, longDigits);
        while (n <= most && at_ + n < text_.size() && HexDigit(text_[at_ + n]) >= 0) {
            value = value << 4 | static_cast<uint64_t>(HexDigit(text_[at_ + n]));
            ++n;
        }
        if (n != digits && (longDigits == 0 || n != longDigits)) {
            const std::string wanted =
                std::to_string(digits) + (longDigits ? " or " + std::to_string(longDigits) : "") + " hex digits";
            const std::string found = n == 0 ? "none" : n > most ? "more" : std::to_string(n);
            return FailSaying(std::string(what) + ": expected " + wanted + ", found " + found,
                              at_ + n >= text_.size());
        }
        at_ += n;
        return true;
    }
    bool Hex32(int digits, uint32_t& value, const char* what) {
        uint64_t v;
        if (!Hex(digits, v, what)) return false;
        value = static_cast<uint32_t>(v);
        return true;
    }

    // A decimal as DecimalText writes it with no decimals: a minus sign only
    // when negative, at most `width` characters.
    bool Dec(int width, int64_t& value, const char* what) {
        std::size_t n = 0;
        const bool negative = at_ < text_.size() && text_[at_] == '-';
        if (negative) ++n;
        value = 0;
        const std::size_t first = n;
        while (n < static_cast<std::size_t>(width) && at_ + n < text_.size() && text_[at_ + n] >= '0' &&
               text_[at_ + n] <= '9')
            value = value * 10 + (text_[at_ + n++] - '0');
        if (n == first) return Fail(what, at_ + n >= text_.size());
        if (negative) value = -value;
        at_ += n;
        return true;
    }
    template <typename Field>
    bool DecField(int width, Field& field, const char* what) {
        int64_t v;
        if (!Dec(width, v, what)) return false;
        field = static_cast<Field>(v);
        return true;
    }

    // `cut`: the text ended before what was expected did.
    bool Fail(std::string_view what, bool cut = false) { return FailSaying("expected " + Quoted(what), cut); }
    bool FailSaying(std::string text, bool cut = false) {
        if (expected_.empty()) {
            expected_ = std::move(text);
            failedAt_ = at_;
            cut_ = cut;
        }
        return false;
    }
    ReportProblem Problem(std::size_t block) const {
        ReportProblem p;
        p.Block = block;
        p.At = failedAt_;
        p.CutOff = cut_ || failedAt_ >= text_.size();
        p.Text = p.CutOff ? "the text ends inside the block (cut off)" : expected_;
        return p;
    }

    void Skip(std::size_t n) { at_ += n; }

private:
    static std::string Quoted(std::string_view s) {
        if (s.starts_with("the ") || s.starts_with("a ")) return std::string(s);
        std::string q = "\"";
        for (char c : s)
            q += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
        return q + "\"";
    }
    std::string_view text_;
    std::string_view eol_;
    std::size_t at_;
    std::string expected_;
    std::size_t failedAt_ = 0;
    bool cut_ = false;
};

bool ReadHeaderLines(Reader& r, PciDeviceRecord& d) {
    uint32_t number;
    if (!r.Literal(DashLine43) || !r.Eol() || !r.Literal(DeviceLead) ||
        !r.DecField(5, number, "the device number") || !r.Literal(DeviceTail) || !r.Eol())
        return false;
    d.Index = number - 1;  // devices count from 1 in the report
    return r.Literal(VendorLabel) && r.Hex32(4, d.VendorId, "the vendor ID") && r.Literal(Gap) &&
           r.Literal(DeviceLabel) && r.Hex32(4, d.DeviceId, "the device ID") && r.Literal(Gap) &&
           r.Literal(SubVendorLabel) && r.Hex32(4, d.SubVendorId, "the subvendor ID") && r.Literal(Gap) &&
           r.Literal(SubDeviceLabel) && r.Hex32(4, d.SubDeviceId, "the subdevice ID") && r.Literal(Gap) &&
           r.Eol() && r.Literal(LocationLabel) && r.Literal(BusLabel) && r.Hex32(4, d.Bus, "the bus") &&
           r.Literal(Gap) && r.Literal(SlotLabel) && r.Hex32(4, d.Slot, "the slot") && r.Literal(Gap) &&
           r.Literal(FunctionLabel) && r.Hex32(4, d.Function, "the function") && r.Literal(Gap) && r.Eol();
}

// The failure box, when there is one. Its driver text may hold line ends of
// its own; it runs to the first closing dash line that a section follows.
bool ReadFailure(Reader& r, std::string_view text, std::string_view eol, PciDeviceRecord& d) {
    const std::string open = std::string(eol) + DashLine9 + std::string(eol) + FailedLabel;
    if (!r.Take(open)) return true;
    d.FailCode = -1;
    for (int32_t code = 1; code < FailureTextCount; ++code) {
        const std::string reason = std::string(FailureTexts[code]) + ReasonTail + std::string(eol);
        const std::size_t n = Match(r.Rest(), reason);
        if (n != std::string_view::npos && Match(r.Rest().substr(n), FailTextLead) != std::string_view::npos) {
            d.FailCode = code;
            r.Skip(n);
            break;
        }
    }
    if (!r.Literal(FailTextLead)) return false;
    const std::string close = std::string(eol) + DashLine9 + std::string(eol);
    const std::string nextBox = close + NoResources;
    const std::string nextSection = std::string(eol) + ResourcesTitle + std::string(eol);
    const std::size_t start = r.At();
    for (std::size_t p = text.find(close, start); p != std::string_view::npos; p = text.find(close, p + 1)) {
        const std::string_view after = text.substr(p + close.size());
        if (Match(after, nextBox) == std::string_view::npos && !after.starts_with(nextSection)) continue;
        const std::size_t length = std::min(p - start, sizeof d.FailText);
        std::memcpy(d.FailText, text.data() + start, length);
        r.Skip(p + close.size() - start);
        return true;
    }
    r.Skip(text.size() - start);
    return r.Fail("the failure box's closing line", true);
}

template <typename Value>
bool ReadResourceLine(Reader& r, const char* label, int index, Value& value, bool decimal) {
    int64_t n;
    if (!r.Literal(label) || !r.Dec(2, n, "the resource number")) return false;
    if (n != index) return r.Fail("resource number " + std::to_string(index));
    if (!r.Literal(IndexTail)) return false;
    std::string_view name(label);
    while (name.starts_with(' ')) name.remove_prefix(1);
    const std::string field = std::string(name) + std::to_string(index) + ")";
    if (decimal) {
        if (!r.DecField(8, value, "a decimal value")) return false;
    } else {
        uint64_t v;
        if (!r.Literal("0x") || !r.Hex(8, v, field, 16)) return false;
        if (v > static_cast<Value>(-1)) return r.Fail("a value that fits the field");
        value = static_cast<Value>(v);
    }
    return r.Eol();
}

bool ReadResources(Reader& r, std::string_view eol, PciDeviceRecord& d) {
    const std::string box = std::string(eol) + DashLine9 + std::string(eol) + NoResources + std::string(eol) +
                            DashLine9 + std::string(eol);
    r.Take(box);
    if (!r.Eol() || !r.Literal(ResourcesTitle) || !r.Eol()) return false;
    if (!r.Literal(NumMemLabel) || !r.DecField(8, d.NumMemAddresses, "the memory count") || !r.Eol())
        return false;
    for (int i = 0; i < d.NumMemAddresses && i < MaxMemSpaces; ++i)
        if (!ReadResourceLine(r, MemBytesLabel, i, d.MemBytes[i], false) ||
            !ReadResourceLine(r, MemAddressLabel, i, d.MemAddress[i], false) ||
            !ReadResourceLine(r, MemDirectLabel, i, d.MemDirect[i], false) ||
            !ReadResourceLine(r, MemPhysicalLabel, i, d.MemPhysicalAddress[i], false) ||
            !ReadResourceLine(r, MemBarLabel, i, d.MemBar[i], true))
            return false;
    if (!r.Literal(NumIoLabel) || !r.DecField(8, d.NumIOAddresses, "the I/O count") || !r.Eol()) return false;
    for (int i = 0; i < d.NumIOAddresses && i < MaxIoSpaces; ++i)
        if (!ReadResourceLine(r, IoAddressLabel, i, d.IoAddress[i], false) ||
            !ReadResourceLine(r, IoBytesLabel, i, d.IoBytes[i], false) ||
            !ReadResourceLine(r, IoBarLabel, i, d.IoBar[i], true))
            return false;
    if (!r.Literal(NumInterruptsLabel) || !r.DecField(8, d.NumInterrupts, "the interrupt count") || !r.Eol())
        return false;
    if (d.NumInterrupts > 0 &&
        (!r.Literal(InterruptLabel) || !r.DecField(8, d.Interrupt, "the interrupt number") || !r.Eol()))
        return false;
    return true;
}

// Eight rows of eight values, each followed by a blank, and the empty line.
template <typename Word, int N>
bool ReadRows(Reader& r, const char* title, int digits, Word (&words)[N]) {
    if (!r.Eol() || !r.Literal(title) || !r.Eol()) return false;
    for (int k = 0; k < N; ++k) {
        uint64_t v;
        char what[40];
        if (digits == 8)
            std::snprintf(what, sizeof what, "config register 0x%02X", 4 * k);
        else
            std::snprintf(what, sizeof what, "EEPROM word %d", k);
        if (!r.Hex(digits, v, what) || !r.Literal(" "))
            return false;
        words[k] = static_cast<Word>(v);
        if (k % 8 == 7 && !r.Eol()) return false;
    }
    return r.Eol();
}

}  // namespace

std::string_view ReportLineEnd(std::string_view text) {
    const std::size_t n = text.find('\n');
    return n != std::string_view::npos && n > 0 && text[n - 1] == '\r' ? "\r\n" : "\n";
}

bool StartsWithDeviceReport(std::string_view text, std::string_view eol) {
    return text.starts_with(DashLine43) && text.substr(DashLine43.size()).starts_with(eol) &&
           text.substr(DashLine43.size() + eol.size()).starts_with(DeviceLead);
}

bool ParseDeviceReport(std::string_view text, std::string_view eol, PciDeviceRecord& d, std::size_t& end,
                       ReportProblem& problem) {
    d = PciDeviceRecord{};
    Reader r(text, eol);
    const bool located = ReadHeaderLines(r, d);
    bool read = located && ReadFailure(r, text, eol, d) && ReadResources(r, eol, d) &&
                ReadRows(r, RegistersTitle, 8, d.ConfigRegs);
    if (read && r.Sees(std::string(eol) + EepromTitle + std::string(eol))) {
        d.IsPlx = true;
        read = ReadRows(r, EepromTitle, 4, d.EepromWords);
    }
    if (!read) {
        problem = r.Problem(0);
        // The rest of the comparison needs to know which function it was.
        problem.Located = located;
        problem.Bus = d.Bus;
        problem.Slot = d.Slot;
        problem.Function = d.Function;
        return false;
    }
    end = r.At();
    return true;
}

bool ParseReportHeader(std::string_view text, std::string_view eol, int32_t& count, std::size_t& end) {
    Reader r(text, eol);
    if (!(r.Eol() && r.Literal(DashLine72) && r.Eol() && r.Literal(DashLine72) && r.Eol() &&
          r.Literal(CountLead) && r.DecField(9, count, "the count") && r.Literal(CountTail) && r.Eol() &&
          r.Literal(DashLine72) && r.Eol() && r.Literal(DashLine72)))
        return false;
    end = r.At();
    return true;
}

bool StartsWithReportFooter(std::string_view text, std::string_view eol, std::size_t& end) {
    Reader r(text, eol);
    if (!(r.Eol() && r.Literal(DashLine72) && r.Eol() && r.Literal(DashLine72) && r.Eol() &&
          r.Literal(FooterTitle) && r.Eol() && r.Literal(DashLine72) && r.Eol() && r.Literal(DashLine72)))
        return false;
    end = r.At();
    return true;
}

namespace {

// Where reading goes on after a part it could not read: the next device
// block, the report's footer or the next report's header, whichever comes
// first. Each begins with a run of hyphens, and each run is looked at once,
// so that many damaged blocks cost no more than one pass.
std::size_t NextPart(std::string_view text, std::size_t from, std::string_view eol, std::string_view block,
                     std::string_view footer, std::string_view header) {
    while (true) {
        const std::size_t dashes = text.find(DashLine43, from);
        if (dashes == std::string_view::npos) return text.size();
        std::size_t runEnd = dashes;
        while (runEnd < text.size() && text[runEnd] == '-') ++runEnd;
        if (dashes >= eol.size() && dashes - eol.size() >= from &&
            text.substr(dashes - eol.size(), eol.size()) == eol) {
            const std::string_view there = text.substr(dashes - eol.size());
            if (there.starts_with(footer) || there.starts_with(header)) return dashes - eol.size();
        }
        // A block's dash line may follow another run on the same line.
        const std::size_t blockAt = runEnd - DashLine43.size();
        if (text.substr(blockAt).starts_with(block)) return blockAt;
        from = runEnd;
    }
}

}  // namespace

ReportReading ParseSniffReport(std::string_view text, PciDeviceTableType& table) {
    ReportReading reading;
    table.Count = 0;
    const std::string_view eol = ReportLineEnd(text);
    const std::string headerStart =
        std::string(eol) + DashLine72 + std::string(eol) + DashLine72 + std::string(eol) + CountLead;
    const std::size_t header = text.find(headerStart);
    // Looked for only before the header: over the whole rest, once for each
    // of many pasted reports, the search would make the reading quadratic.
    const std::size_t empty =
        text.substr(0, header == std::string_view::npos ? text.size() : header).find(NoDevices);
    if (empty != std::string_view::npos) {
        reading.Found = reading.Complete = true;
        reading.HeaderCount = 0;
        reading.Begin = empty;
        reading.End = empty + std::strlen(NoDevices);
        return reading;
    }
    std::size_t at;
    if (header == std::string_view::npos ||
        !ParseReportHeader(text.substr(header), eol, reading.HeaderCount, at)) {
        reading.End = text.size();
        return reading;
    }
    reading.Found = true;
    reading.Begin = header;
    at += header;
    const std::string nextBlock = DashLine43 + std::string(eol) + DeviceLead;
    // The footer's title without its last blank, which a trimmed copy lacks.
    const std::string footerTitle(FooterTitle, std::strlen(FooterTitle) - 1);
    const std::string footerStart =
        headerStart.substr(0, headerStart.size() - std::strlen(CountLead)) + footerTitle;
    PciDeviceRecord record;
    while (true) {
        const std::string_view rest = text.substr(at);
        std::size_t end;
        if (StartsWithReportFooter(rest, eol, end)) {
            reading.Complete = true;
            at += end;
            break;
        }
        if (rest.empty() || rest.starts_with(headerStart)) {
            // A block cut off has said so already.
            if (reading.Problems.empty() || !reading.Problems.back().CutOff)
                reading.Problems.push_back({at, at, "the report ends before its footer (cut off)", true});
            reading.Problems.back().ReadBefore = table.Count;
            break;
        }
        ReportProblem problem;
        const bool isBlock = StartsWithDeviceReport(rest, eol);
        if (isBlock && ParseDeviceReport(rest, eol, record, end, problem)) {
            if (table.Count < PciTableCapacity) {
                table.Devices[table.Count++] = record;
            } else {
                reading.Problems.push_back(
                    {at, at, "a block past the table's " + std::to_string(PciTableCapacity) + " records, left out"});
                reading.Problems.back().ReadBefore = table.Count;
            }
            at += end;
            continue;
        }
        const std::size_t next = NextPart(text, at + 1, eol, nextBlock, footerStart, headerStart);
        if (!isBlock) {
            // Text between the parts: a stray line loses nothing, unless a
            // block whose first line was damaged is in it.
            const bool lostBlock = text.substr(at, next - at).find(DeviceLead) != std::string_view::npos;
            problem = {0, 0,
                       lostBlock ? "expected a device block or the report's footer"
                                 : "text between the device blocks, not read"};
            problem.Note = !lostBlock;
        }
        problem.Block += at;
        problem.At += at;
        problem.ReadBefore = table.Count;
        problem.CutOff = problem.CutOff && next >= text.size();
        reading.Problems.push_back(problem);
        at = next;
    }
    reading.End = at;
    const int32_t expected = std::min(reading.HeaderCount, PciTableCapacity);
    bool lost = false;
    for (const ReportProblem& p : reading.Problems) lost = lost || !p.Note;
    if (reading.Complete && !lost && table.Count != expected) {
        reading.Problems.push_back({reading.Begin, reading.Begin,
                                    "the header counts " + std::to_string(reading.HeaderCount) +
                                        " devices, " + std::to_string(table.Count) + " blocks follow"});
        reading.Problems.back().ReadBefore = table.Count;
    }
    return reading;
}
