// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- reading lspci's verbose text and hex dumps as a
// bus. The resources follow what the real bus backend takes from sysfs,
// which is where lspci gets them too: every region the kernel gave a range
// (disabled, virtual or not yet assigned alike), the expansion ROM as BAR 6,
// and one interrupt when the function has a pin and an IRQ.
#include "driver/LspciText.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "pci/LspciFormat.h"
#include "pci/PciRegisters.h"
#include "pci/PlxBridge.h"

namespace driverd {

namespace {

constexpr uint32_t RomBar = 6;
constexpr uint32_t HighestBar = 5;
constexpr std::size_t HexLineBytes = 16;
constexpr uint64_t MaxIoBytes = 0x10000;

struct TextError {
    int Line;
    std::string Why;
};

std::string LocationText(const Location& l) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x:%02x.%x", l.Bus & 0xFFu, l.Slot & 0x1Fu, l.Function & 0x7u);
    return text;
}

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

bool IsBlank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

std::string_view Trimmed(std::string_view text) {
    const std::size_t end = text.find_last_not_of(" \t");
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<uint64_t> HexNumber(std::string_view text) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        const int d = HexValue(c);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<uint64_t>(d);
    }
    return value;
}

std::optional<uint64_t> DecimalNumber(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// "[size=S]" as lspci writes it: the count in the largest of K, M, G, T that
// divides it exactly, so the bytes are the count times the unit.
std::optional<uint64_t> SizeValue(std::string_view text) {
    unsigned shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
            case 'K': shift = 10; break;
            case 'M': shift = 20; break;
            case 'G': shift = 30; break;
            case 'T': shift = 40; break;
            default: break;
        }
    }
    if (shift) text.remove_suffix(1);
    const std::optional<uint64_t> count = DecimalNumber(text);
    if (!count || *count == 0 || *count > (UINT64_MAX >> shift)) return std::nullopt;
    return *count << shift;
}

// One region, ROM or port range as written after "at ".
struct RangeText {
    std::optional<uint64_t> Address;  // none: <unassigned> or <ignored>
    std::optional<uint64_t> Size;
};

// Parses "ADDR[ (TYPE, PREF)][ [flag]]...[ [size=S]]"; `memory` asks for the
// parenthesised type.
RangeText ReadRange(std::string_view rest, bool memory, bool rom, int line) {
    RangeText range;
    const std::size_t space = rest.find(' ');
    const std::string_view address = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space);
    if (address == "<unassigned>" || address == "<ignored>") {
        // The kernel holds no address for it.
    } else if (address == "<broken-64-bit-slot>") {
        throw TextError{line, "a 64-bit BAR in the last register: lspci could not read its address"};
    } else if (const auto value = HexNumber(address)) {
        range.Address = *value;
    } else {
        throw TextError{line, "\"" + std::string(address) + "\" is not an address"};
    }
    if (memory) {
        if (!StartsWith(rest, " (")) throw TextError{line, "cut off: the memory type \"(32-bit, ...)\" is missing"};
        const std::size_t close = rest.find(')');
        if (close == std::string_view::npos) throw TextError{line, "cut off in the memory type"};
        const std::string_view type = rest.substr(2, close - 2);
        const std::size_t comma = type.find(", ");
        const std::string_view width = type.substr(0, comma);
        const std::string_view fetch = comma == std::string_view::npos ? std::string_view{} : type.substr(comma + 2);
        if ((width != "32-bit" && width != "64-bit" && width != "low-1M" && width != "type 3") ||
            (fetch != "prefetchable" && fetch != "non-prefetchable"))
            throw TextError{line, "\"(" + std::string(type) + ")\" is not a memory type lspci writes"};
        rest.remove_prefix(close + 1);
    }
    while (!rest.empty()) {
        if (!StartsWith(rest, " [")) throw TextError{line, "\"" + std::string(rest) + "\" after the range"};
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) throw TextError{line, "cut off in \"" + std::string(rest.substr(1)) + "\""};
        const std::string_view flag = rest.substr(2, close - 2);
        rest.remove_prefix(close + 1);
        if (StartsWith(flag, "size=")) {
            range.Size = SizeValue(flag.substr(5));
            if (!range.Size) throw TextError{line, "\"[" + std::string(flag) + "]\" is not a size"};
            if (!rest.empty()) throw TextError{line, "\"" + std::string(rest) + "\" after the size"};
        } else if (flag != "virtual" && flag != "disabled" && flag != "enhanced" && !(rom && flag == "disabled by cmd")) {
            throw TextError{line, "\"[" + std::string(flag) + "]\" is not a flag lspci writes"};
        }
    }
    if (range.Address && !range.Size)
        throw TextError{line, "the region has no [size=...]: its range cannot be had from this text"};
    if (!memory && !rom && range.Size && *range.Size > MaxIoBytes)
        throw TextError{line, "I/O ports of more than the 64 KiB an I/O space has"};
    if (range.Address && *range.Size - 1 > UINT64_MAX - *range.Address)
        throw TextError{line, "the range runs past the 64-bit address space"};
    return range;
}

class Reader {
public:
    explicit Reader(std::vector<std::string>& notes) : notes_(notes) {}

    void Take(std::string_view line, int number) {
        if (lspci::IsToolMessage(line)) return;
        if (IsBlank(line)) {
            Close();
            return;
        }
        lspci::FunctionName name;
        if (lspci::ParseFunctionName(line, name)) {
            Close();
            Open(name, number);
            return;
        }
        if (!open_) {
            throw TextError{number, functions_.empty() ? "not lspci output: expected a function's first line "
                                                         "(\"bb:dd.f class: name\")"
                                                       : "a line outside every function's block"};
        }
        if (line.front() == ' ' || line.front() == '\t') {
            Verbose(line, number);
            return;
        }
        Hex(Trimmed(line), number);
    }

    void End(int lastLine) {
        Close();
        if (functions_.empty()) throw TextError{std::max(lastLine, 1), "not lspci output: no function in it"};
    }

    std::vector<LspciFunction>& Functions() { return functions_; }

private:
    void Open(const lspci::FunctionName& name, int number) {
        char text[48];
        std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x", name.Domain, name.Bus, name.Slot, name.Function);
        if (name.Domain != 0)
            throw TextError{number, std::string(text) + " is in PCI domain " + std::string(text, 4) +
                                        ": only domain 0 can be replayed, the driver's requests name no domain"};
        LspciFunction f;
        f.Line = number;
        f.Where = {name.Bus, name.Slot, name.Function};
        if (!seen_.insert({f.Where.Bus, f.Where.Slot, f.Where.Function}).second)
            throw TextError{number, LocationText(f.Where) + " is listed twice"};
        functions_.push_back(std::move(f));
        open_ = true;
        indent_.clear();
        verboseLines_ = 0;
        control_ = false;
        flagsLine_ = 0;
        interrupt_ = false;
        romLine_ = false;
        rom_.reset();
        regions_.clear();
        irq_.reset();
    }

    LspciFunction& Current() { return functions_.back(); }

    void Verbose(std::string_view line, int number) {
        if (!Current().Config.empty()) throw TextError{number, "a -v line inside the hex dump"};
        const std::size_t text = line.find_first_not_of(" \t");
        const std::string_view indent = line.substr(0, text);
        // The first indented line sets how deep a line of the function
        // itself sits (a tab, or the blanks a paste made of it); deeper
        // lines belong to a capability and are not read.
        if (indent_.empty()) indent_ = std::string(indent);
        if (indent != indent_) return;
        ++verboseLines_;
        const std::string_view content = Trimmed(line.substr(text));
        if (StartsWith(content, "Control:")) {
            control_ = true;
        } else if (StartsWith(content, "Flags:")) {
            flagsLine_ = number;
        } else if (StartsWith(content, "Region ")) {
            Region(content.substr(7), number);
        } else if (StartsWith(content, "Expansion ROM at ")) {
            if (romLine_) throw TextError{number, "a second expansion ROM"};
            romLine_ = true;
            const RangeText range = ReadRange(content.substr(17), false, true, number);
            if (range.Size) rom_ = Resource{ResourceKind::Memory, RomBar, range.Address.value_or(0), *range.Size, 0};
        } else if (StartsWith(content, "Interrupt:")) {
            Interrupt(content, number);
        } else if (StartsWith(content, "Memory at ") || StartsWith(content, "I/O ports at ")) {
            throw TextError{number, "a region without its BAR number (lspci -v): run lspci -vv or -vvv"};
        }
    }

    void Region(std::string_view rest, int number) {
        const std::size_t colon = rest.find(": ");
        const std::optional<uint64_t> bar = DecimalNumber(rest.substr(0, colon));
        if (colon == std::string_view::npos || !bar || *bar > HighestBar)
            throw TextError{number, "\"Region " + std::string(rest.substr(0, colon)) + "\" names no BAR from 0 to 5"};
        if (regions_.count(static_cast<uint32_t>(*bar)))
            throw TextError{number, "region " + std::to_string(*bar) + " is listed twice"};
        rest.remove_prefix(colon + 2);
        bool memory = false;
        if (StartsWith(rest, "Memory at ")) {
            memory = true;
            rest.remove_prefix(10);
        } else if (StartsWith(rest, "I/O ports at ")) {
            rest.remove_prefix(13);
        } else {
            throw TextError{number, "region " + std::to_string(*bar) + " is neither \"Memory at\" nor \"I/O ports at\""};
        }
        const RangeText range = ReadRange(rest, memory, false, number);
        std::optional<Resource>& slot = regions_[static_cast<uint32_t>(*bar)];
        if (range.Size)
            slot = Resource{memory ? ResourceKind::Memory : ResourceKind::IO, static_cast<uint32_t>(*bar),
                            range.Address.value_or(0), *range.Size, 0};
    }

    // "Interrupt: pin A routed to IRQ 16"; pin "?" is none.
    void Interrupt(std::string_view content, int number) {
        if (interrupt_) throw TextError{number, "a second interrupt line"};
        interrupt_ = true;
        constexpr std::string_view lead = "Interrupt: pin ";
        constexpr std::string_view routed = " routed to IRQ ";
        const bool shaped = StartsWith(content, lead) && content.size() > lead.size() + routed.size() &&
                            content.substr(lead.size() + 1, routed.size()) == routed;
        const char pin = shaped ? content[lead.size()] : '\0';
        const std::optional<uint64_t> irq =
            shaped ? DecimalNumber(content.substr(lead.size() + 1 + routed.size())) : std::nullopt;
        if (!shaped || !irq || *irq > UINT32_MAX || !(pin == '?' || (pin >= 'A' && pin <= 'Z')))
            throw TextError{number, "\"" + std::string(content) + "\" is not \"Interrupt: pin A routed to IRQ N\""};
        if (pin != '?' && *irq != 0) irq_ = static_cast<uint32_t>(*irq);
    }

    void Hex(std::string_view line, int number) {
        LspciFunction& f = Current();
        const std::size_t colon = line.find(':');
        const std::optional<uint64_t> offset =
            colon == 2 || colon == 3 ? HexNumber(line.substr(0, colon)) : std::nullopt;
        if (!offset) throw TextError{number, "neither a function's first line, a -v line nor a hex dump line"};
        if (*offset != f.Config.size())
            throw TextError{number, "the hex dump goes on at " + std::string(line.substr(0, colon)) + ", not at " +
                                        HexText(f.Config.size())};
        if (f.Config.size() >= pcireg::ExpressConfigSize) throw TextError{number, "past the 4096 bytes of configuration space"};
        std::string_view bytes = line.substr(colon + 1);
        std::size_t count = 0;
        while (!bytes.empty()) {
            const int high = bytes.size() >= 3 && bytes[0] == ' ' ? HexValue(bytes[1]) : -1;
            const int low = high >= 0 ? HexValue(bytes[2]) : -1;
            if (low < 0) {
                const std::string_view token = bytes.substr(std::min(bytes.find_first_not_of(' '), bytes.size()));
                throw TextError{number, "\"" + std::string(token.substr(0, token.find(' '))) + "\" is not a hex byte"};
            }
            if (++count > HexLineBytes) throw TextError{number, "more than 16 bytes on a hex dump line"};
            f.Config.push_back(static_cast<uint8_t>(high * 16 + low));
            bytes.remove_prefix(3);
        }
        if (count != HexLineBytes)
            throw TextError{number, "cut off: " + std::to_string(count) + " of the line's 16 bytes"};
        lastHexLine_ = number;
    }

    static std::string HexText(std::size_t value) {
        char text[24];
        std::snprintf(text, sizeof text, "%02zx", value);
        return text;
    }

    void Close() {
        if (!open_) return;
        open_ = false;
        LspciFunction& f = Current();
        const std::string where = LocationText(f.Where);
        if (verboseLines_ == 0)
            throw TextError{f.Line, where + " has no -v lines, so no resources: run lspci -vvv -xxxx"};
        if (!control_ && flagsLine_)
            throw TextError{flagsLine_, "lspci -v lists regions without their BAR numbers: run lspci -vv or -vvv"};
        if (!control_) throw TextError{f.Line, where + " has no \"Control:\" line (lspci -vv writes one for every function)"};
        const std::size_t size = f.Config.size();
        if (size == 0) throw TextError{f.Line, where + " has no hex dump: run lspci with -xxx or -xxxx"};
        // lspci dumps 64 bytes (128 for a CardBus bridge) to a reader without
        // root, 256 with -xxx, 4096 with -xxxx where the kernel has them.
        if (size != 64 && size != 128 && size != pcireg::ConfigSize && size != pcireg::ExpressConfigSize)
            throw TextError{lastHexLine_ + 1, where + ": the hex dump stops after " + std::to_string(size) +
                                                  " bytes (cut off)"};
        if (size < pcireg::ConfigSize) {
            notes_.push_back(where + ": lspci dumped " + std::to_string(size) +
                             " bytes (it was run without root); the rest of its configuration space reads 0");
            f.Config.resize(pcireg::ConfigSize, 0);
        }
        for (auto& [bar, region] : regions_)
            if (region) f.Resources.push_back(*region);
        if (rom_) f.Resources.push_back(*rom_);
        if (irq_) f.Resources.push_back(Resource{ResourceKind::Interrupt, 0, 0, 0, *irq_});
        const uint16_t vendor = static_cast<uint16_t>(f.Config[0] | f.Config[1] << 8);
        const uint16_t device = static_cast<uint16_t>(f.Config[2] | f.Config[3] << 8);
        if (plx::IsBridge(vendor, device)) {
            notes_.push_back(where + ": a PLX " + HexText(device) +
                             " bridge; lspci cannot read its serial EEPROM, so its words read blank (FFFF)");
        }
    }

    std::vector<std::string>& notes_;
    std::vector<LspciFunction> functions_;
    std::set<std::tuple<uint32_t, uint32_t, uint32_t>> seen_;
    bool open_ = false;
    std::string indent_;
    int verboseLines_ = 0;
    bool control_ = false;
    int flagsLine_ = 0;
    bool interrupt_ = false;
    bool romLine_ = false;
    std::optional<Resource> rom_;
    std::map<uint32_t, std::optional<Resource>> regions_;
    std::optional<uint32_t> irq_;
    int lastHexLine_ = 0;
};

// Calls `take` with each line and its number, line ends (LF or CR LF) cut.
template <typename Take>
int EachLine(std::string_view text, Take take) {
    if (StartsWith(text, "\xEF\xBB\xBF")) text.remove_prefix(3);  // an editor's byte-order mark
    int number = 0;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view{} : text.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!take(line, ++number)) break;
    }
    return number;
}

}  // namespace

bool ReadLspciText(std::string_view text, std::vector<LspciFunction>& functions, std::vector<std::string>& notes,
                   std::string& error) {
    std::vector<std::string> found;
    Reader reader(found);
    try {
        const int last = EachLine(text, [&](std::string_view line, int number) {
            reader.Take(line, number);
            return true;
        });
        reader.End(last);
    } catch (const TextError& e) {
        error = "line " + std::to_string(e.Line) + ": " + e.Why;
        return false;
    }
    functions = std::move(reader.Functions());
    notes.insert(notes.end(), found.begin(), found.end());
    return true;
}

}  // namespace driverd
