// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- matching two device tables by location and naming what
// differs, in the terms an engineer reads a sniff in.
#include "compare/SniffCompare.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "pci/PciRegisters.h"
#include "sniffer/ReportTexts.h"
#include "sniffer/SnifferReport.h"
#include "windriver/WexPlxGenDriverUnit.h"

namespace compare {

namespace {

std::string Hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string Ids(uint32_t vendor, uint32_t device) {
    return Hex(vendor & 0xFFFF, 4) + ":" + Hex(device & 0xFFFF, 4);
}

uint32_t Register(const PciDeviceRecord& d, uint32_t offset) {
    return d.ConfigRegs[offset / 4];
}

// Codes without a reason text all read the same: the report does not name them.
int32_t NamedCode(int32_t code) {
    return code >= 0 && code < reporttext::FailureTextCount ? code : -1;
}

std::string Text(const PciDeviceRecord& d) {
    std::string t(d.FailText, strnlen(d.FailText, sizeof d.FailText));
    // A copy made on another system may have turned the driver's line feed into CR LF.
    std::string out;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (!(t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n')) out += t[i];
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string Registration(const PciDeviceRecord& d) {
    if (d.FailCode == 0) return "usable";
    const int32_t code = NamedCode(d.FailCode);
    std::string t = "failed";
    if (code > 0) t += ", code " + std::to_string(code) + " (" + reporttext::FailureTexts[code] + ")";
    const std::string text = Text(d);
    return text.empty() ? t : t + ": " + text;
}

// A refused registration leaves no space to read the EEPROM through: its
// words are zeros nobody read.
bool EepromRead(const PciDeviceRecord& d) {
    return d.IsPlx && d.FailCode != CardRegisterFailed && d.FailCode != CardLockFailed;
}

uint32_t BarCount(const PciDeviceRecord& d) {
    const uint32_t type = (Register(d, pcireg::HeaderType & ~3u) >> 16) & pcireg::HeaderTypeLayoutMask;
    return type == pcireg::HeaderTypeBridge ? pcireg::BarCountBridge : pcireg::BarCountNormal;
}

bool Is64BitMemory(uint32_t bar) {
    return (bar & pcireg::BarSpaceIo) == 0 && (bar & pcireg::BarMemoryTypeMask) == pcireg::BarMemoryType64;
}

// Which BARs of the record are the upper halves of a 64-bit pair.
std::vector<bool> UpperHalves(const PciDeviceRecord& d) {
    std::vector<bool> upper(pcireg::BarCountNormal, false);
    const uint32_t count = BarCount(d);
    for (uint32_t i = 0; i + 1 < count; ++i)
        if (Is64BitMemory(d.ConfigRegs[pcireg::BaseAddress0 / 4 + i])) upper[++i] = true;
    return upper;
}

// The item's physical address field holds the low half of an address above
// 4 GiB; the BAR pair in configuration space holds the whole one.
uint64_t WholeAddress(const PciDeviceRecord& d, int item) {
    const uint64_t physical = d.MemPhysicalAddress[item];
    const uint32_t bar = d.MemBar[item];
    if (physical > 0xFFFFFFFFu || bar + 1 >= BarCount(d)) return physical;
    const uint32_t index = pcireg::BaseAddress0 / 4 + bar;
    if (!Is64BitMemory(d.ConfigRegs[index])) return physical;
    return static_cast<uint64_t>(d.ConfigRegs[index + 1]) << 32 | (physical & 0xFFFFFFFFu);
}

struct Resource {
    uint32_t Bar;
    uint64_t Address;
    uint64_t Bytes;
};

std::string ResourceText(const Resource* r) {
    if (!r) return "none";
    return "0x" + Hex(r->Address, r->Address > 0xFFFFFFFFu ? 16 : 8) + ", 0x" + Hex(r->Bytes, 8) + " bytes";
}

std::vector<Resource> Memory(const PciDeviceRecord& d) {
    std::vector<Resource> list;
    for (int i = 0; i < d.NumMemAddresses && i < MaxMemSpaces; ++i)
        list.push_back({d.MemBar[i], WholeAddress(d, i), d.MemBytes[i]});
    return list;
}

std::vector<Resource> Io(const PciDeviceRecord& d) {
    std::vector<Resource> list;
    for (int i = 0; i < d.NumIOAddresses && i < MaxIoSpaces; ++i)
        list.push_back({d.IoBar[i], d.IoAddress[i], d.IoBytes[i]});
    return list;
}

// Resources of one kind paired by BAR (a repeated BAR in order of listing).
void CompareResources(DifferenceKind kind, const char* name, std::vector<Resource> a, std::vector<Resource> b,
                      std::vector<Difference>& out) {
    auto byBar = [](const Resource& x, const Resource& y) { return x.Bar < y.Bar; };
    std::stable_sort(a.begin(), a.end(), byBar);
    std::stable_sort(b.begin(), b.end(), byBar);
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        const Resource* x = i < a.size() ? &a[i] : nullptr;
        const Resource* y = j < b.size() ? &b[j] : nullptr;
        if (x && y && x->Bar != y->Bar) (x->Bar < y->Bar ? y : x) = nullptr;
        const uint32_t bar = x ? x->Bar : y->Bar;
        if (!x || !y || x->Address != y->Address || x->Bytes != y->Bytes)
            out.push_back({kind, static_cast<int>(bar), std::string(name) + " BAR " + std::to_string(bar),
                           ResourceText(x), ResourceText(y), {}});
        i += x ? 1 : 0;
        j += y ? 1 : 0;
    }
}

std::string InterruptText(const PciDeviceRecord& d) {
    if (d.NumInterrupts <= 0) return "none";
    const std::string n = std::to_string(d.Interrupt);
    return d.NumInterrupts == 1 ? n : n + " (the last of " + std::to_string(d.NumInterrupts) + ")";
}

std::string RegisterName(int offset, bool bridge, const std::vector<bool>& upper) {
    const char* name = nullptr;
    const uint32_t bars = bridge ? pcireg::BarCountBridge : pcireg::BarCountNormal;
    const int bar = (offset - static_cast<int>(pcireg::BaseAddress0)) / 4;
    char text[64];
    if (bar >= 0 && bar < static_cast<int>(bars)) {
        if (upper[bar])
            std::snprintf(text, sizeof text, "config 0x%02X BAR%d upper half", offset, bar - 1);
        else
            std::snprintf(text, sizeof text, "config 0x%02X BAR%d", offset, bar);
        return text;
    }
    switch (offset) {
        case 0x00:
            name = "IDs";
            break;
        case pcireg::Command:
            name = "command/status";
            break;
        case pcireg::ClassRevision:
            name = "class/revision";
            break;
        case 0x18:
            name = bridge ? "bus numbers" : nullptr;
            break;
        case 0x1C:
            name = bridge ? "I/O base/limit, secondary status" : nullptr;
            break;
        case 0x20:
            name = bridge ? "memory base/limit" : nullptr;
            break;
        case 0x24:
            name = bridge ? "prefetchable base/limit" : nullptr;
            break;
        case pcireg::SubsystemIds:
            name = bridge ? "prefetchable limit upper" : "subsystem IDs";
            break;
        case pcireg::ExpansionRom:
            name = bridge ? "I/O base/limit upper" : "expansion ROM";
            break;
        case 0x38:
            name = bridge ? "expansion ROM" : nullptr;
            break;
        case pcireg::InterruptLine:
            name = bridge ? "interrupt line/pin, bridge control" : "interrupt line/pin";
            break;
        default:
            break;
    }
    if (name)
        std::snprintf(text, sizeof text, "config 0x%02X %s", offset, name);
    else
        std::snprintf(text, sizeof text, "config 0x%02X", offset);
    return text;
}

struct BitName {
    uint16_t Bit;
    const char* Name;
};

constexpr BitName CommandBits[] = {
    {pcireg::CommandIoSpace, "I/O Space Enable"},
    {pcireg::CommandMemorySpace, "Memory Space Enable"},
    {pcireg::CommandBusMaster, "Bus Master Enable"},
    {pcireg::CommandSpecialCycles, "Special Cycles"},
    {pcireg::CommandMemoryWriteInvalidate, "Memory Write and Invalidate"},
    {pcireg::CommandVgaPaletteSnoop, "VGA Palette Snoop"},
    {pcireg::CommandParityErrorResponse, "Parity Error Response"},
    {pcireg::CommandSteppingControl, "Stepping Control"},
    {pcireg::CommandSerrEnable, "SERR# Enable"},
    {pcireg::CommandFastBackToBack, "Fast Back-to-Back Enable"},
    {pcireg::CommandInterruptDisable, "Interrupt Disable"},
};

constexpr BitName StatusBits[] = {
    {pcireg::StatusInterrupt, "Interrupt Status"},
    {pcireg::StatusCapabilityList, "Capabilities List"},
    {pcireg::Status66MHz, "66 MHz Capable"},
    {pcireg::StatusFastBackToBack, "Fast Back-to-Back Capable"},
    {pcireg::StatusMasterDataParityError, "Master Data Parity Error"},
    {pcireg::StatusSignaledTargetAbort, "Signaled Target Abort"},
    {pcireg::StatusReceivedTargetAbort, "Received Target Abort"},
    {pcireg::StatusReceivedMasterAbort, "Received Master Abort"},
    {pcireg::StatusSignaledSystemError, "Signaled System Error"},
    {pcireg::StatusDetectedParityError, "Detected Parity Error"},
};

// The command bits as switches (on/off), the status bits as events the bus
// sets; bits without a name by number.
std::string DecodeCommandStatus(uint32_t a, uint32_t b) {
    std::vector<std::string> parts;
    const uint16_t ca = static_cast<uint16_t>(a), cb = static_cast<uint16_t>(b);
    const uint16_t sa = static_cast<uint16_t>(a >> 16), sb = static_cast<uint16_t>(b >> 16);
    for (int bit = 0; bit < 16; ++bit) {
        const uint16_t m = static_cast<uint16_t>(1u << bit);
        if (!((ca ^ cb) & m)) continue;
        const char* name = nullptr;
        for (const BitName& n : CommandBits)
            if (n.Bit == m) name = n.Name;
        parts.push_back((name ? std::string(name) : "command bit " + std::to_string(bit)) +
                        ((ca & m) ? " on -> off" : " off -> on"));
    }
    static const char* const timing[] = {"fast", "medium", "slow", "reserved"};
    if ((sa ^ sb) & pcireg::StatusDevselMask)
        parts.push_back(std::string("DEVSEL timing ") + timing[(sa & pcireg::StatusDevselMask) >> 9] + " -> " +
                        timing[(sb & pcireg::StatusDevselMask) >> 9]);
    for (int bit = 0; bit < 16; ++bit) {
        const uint16_t m = static_cast<uint16_t>(1u << bit);
        if (!((sa ^ sb) & m) || (m & pcireg::StatusDevselMask)) continue;
        const char* name = nullptr;
        for (const BitName& n : StatusBits)
            if (n.Bit == m) name = n.Name;
        parts.push_back((name ? std::string(name) : "status bit " + std::to_string(bit)) +
                        ((sb & m) ? " set" : " cleared"));
    }
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : ", ") + p;
    return text;
}

// The name the user left a difference out by, or empty.
std::string IgnoredBy(const CompareOptions& o, const Difference& d) {
    const IgnoreSet& i = o.Ignore;
    auto has = [&i](const char* kind) { return i.Kinds.count(kind) > 0; };
    switch (d.Kind) {
        case DifferenceKind::Identifiers:
            return has("identifiers") ? "identifiers" : "";
        case DifferenceKind::Registration:
            return has("registration") ? "registration" : "";
        case DifferenceKind::Memory:
            return has("memory") ? "memory" : "";
        case DifferenceKind::Io:
            return has("io") ? "io" : "";
        case DifferenceKind::Interrupt:
            return has("irq") ? "irq" : "";
        case DifferenceKind::Location:
            return has("location") ? "location" : "";
        case DifferenceKind::Config: {
            if (i.ConfigOffsets.count(d.Index)) {
                char name[16];
                std::snprintf(name, sizeof name, "config:0x%02X", d.Index);
                return name;
            }
            return has("config") ? "config" : "";
        }
        case DifferenceKind::Eeprom:
            if (d.Index >= 0 && i.EepromWords.count(d.Index)) return "eeprom:" + std::to_string(d.Index);
            return has("eeprom") ? "eeprom" : "";
    }
    return "";
}

std::vector<Difference> Differences(const PciDeviceRecord& a, const PciDeviceRecord& b, const CompareOptions& o,
                                    bool moved, std::map<std::string, int>& ignored) {
    std::vector<Difference> out;
    if ((a.VendorId ^ b.VendorId) & 0xFFFF || (a.DeviceId ^ b.DeviceId) & 0xFFFF)
        out.push_back({DifferenceKind::Identifiers, -1, "vendor:device", Ids(a.VendorId, a.DeviceId),
                       Ids(b.VendorId, b.DeviceId), {}});
    if ((a.SubVendorId ^ b.SubVendorId) & 0xFFFF || (a.SubDeviceId ^ b.SubDeviceId) & 0xFFFF)
        out.push_back({DifferenceKind::Identifiers, -1, "subsystem", Ids(a.SubVendorId, a.SubDeviceId),
                       Ids(b.SubVendorId, b.SubDeviceId), {}});
    if (NamedCode(a.FailCode) != NamedCode(b.FailCode) || (a.FailCode != 0 && Text(a) != Text(b)))
        out.push_back({DifferenceKind::Registration, -1, "registration", Registration(a), Registration(b), {}});
    std::vector<Difference> resources;
    CompareResources(DifferenceKind::Memory, "memory", Memory(a), Memory(b), resources);
    CompareResources(DifferenceKind::Io, "I/O", Io(a), Io(b), resources);
    if (InterruptText(a) != InterruptText(b))
        resources.push_back({DifferenceKind::Interrupt, -1, "interrupt", InterruptText(a), InterruptText(b), {}});

    // A BAR whose resource differs is said once, by the resource.
    const bool bridge = BarCount(a) == pcireg::BarCountBridge || BarCount(b) == pcireg::BarCountBridge;
    std::vector<bool> upper = UpperHalves(a);
    const std::vector<bool> upperB = UpperHalves(b);
    for (std::size_t i = 0; i < upper.size(); ++i) upper[i] = upper[i] || upperB[i];
    std::vector<bool> saidByResource(ConfigDwordCount, false);
    for (const Difference& r : resources) {
        if (r.Kind == DifferenceKind::Interrupt) continue;
        const int index = static_cast<int>(pcireg::BaseAddress0 / 4) + r.Index;
        if (r.Index < 0 || r.Index >= static_cast<int>(pcireg::BarCountNormal)) continue;
        saidByResource[index] = true;
        if (r.Index + 1 < static_cast<int>(pcireg::BarCountNormal) && upper[r.Index + 1])
            saidByResource[index + 1] = true;
    }
    std::vector<Difference> config;
    const bool irqIgnored = o.Ignore.Kinds.count("irq") > 0;
    for (int k = 0; k < ConfigDwordCount; ++k) {
        const uint32_t offset = 4u * static_cast<uint32_t>(k);
        uint32_t mask = offset == pcireg::Command && !o.AllBits ? ~(uint32_t{pcireg::StatusErrorBits} << 16) : ~0u;
        // The interrupt line is the interrupt's register: left out with it.
        if (offset == pcireg::InterruptLine && irqIgnored && ((a.ConfigRegs[k] ^ b.ConfigRegs[k]) & mask & 0xFF)) {
            mask &= ~0xFFu;
            if (((a.ConfigRegs[k] ^ b.ConfigRegs[k]) & mask) == 0) ++ignored["irq"];
        }
        if ((a.ConfigRegs[k] & mask) == (b.ConfigRegs[k] & mask) || saidByResource[k]) continue;
        Difference d{DifferenceKind::Config, static_cast<int>(offset), RegisterName(static_cast<int>(offset), bridge, upper),
                     Hex(a.ConfigRegs[k], 8), Hex(b.ConfigRegs[k], 8), {}};
        if (offset == pcireg::Command) d.Detail = DecodeCommandStatus(a.ConfigRegs[k] & mask, b.ConfigRegs[k] & mask);
        const bool barOrLine = (offset >= pcireg::BaseAddress0 && offset < pcireg::BaseAddress0 + 4 * BarCount(a)) ||
                               offset == pcireg::InterruptLine;
        (moved && barOrLine ? resources : config).push_back(d);
    }
    if (moved) {
        // Resources are the bus's to give: on a move they differ, said on the move's line.
        std::string what;
        for (const Difference& r : resources) {
            if (!IgnoredBy(o, r).empty()) continue;
            const std::string name = r.Kind == DifferenceKind::Config ? r.What.substr(std::strlen("config ")) : r.What;
            what += (what.empty() ? "" : ", ") + name;
        }
        resources.clear();
        out.push_back({DifferenceKind::Location, -1, "moved", LocationText(a), LocationText(b),
                       what.empty() ? "" : "as expected on a move, these differ: " + what});
    }
    out.insert(out.end(), resources.begin(), resources.end());
    out.insert(out.end(), config.begin(), config.end());
    if (EepromRead(a) && EepromRead(b)) {
        for (int k = 0; k < EepromWordCount; ++k)
            if (a.EepromWords[k] != b.EepromWords[k])
                out.push_back({DifferenceKind::Eeprom, k, "EEPROM word " + std::to_string(k), Hex(a.EepromWords[k], 4),
                               Hex(b.EepromWords[k], 4), {}});
    } else if (EepromRead(a) != EepromRead(b) && a.IsPlx && b.IsPlx) {
        const auto state = [](const PciDeviceRecord& d) {
            return !d.IsPlx ? std::string("none") : EepromRead(d) ? std::string("read") : std::string("not read (not registered)");
        };
        out.push_back({DifferenceKind::Eeprom, -1, "EEPROM words", state(a), state(b), "not compared"});
    }
    std::vector<Difference> kept;
    for (Difference& d : out) {
        const std::string by = IgnoredBy(o, d);
        if (by.empty())
            kept.push_back(std::move(d));
        else
            ++ignored[by];
    }
    return kept;
}

std::vector<Finding> Findings(const PciDeviceRecord* a, const PciDeviceRecord* b) {
    using Found = std::vector<findings::Finding>;
    const Found fa = a ? findings::FindingsOf(*a) : Found{};
    const Found fb = b ? findings::FindingsOf(*b) : Found{};
    // One finding stands when both sides have the same kind saying the same.
    const auto has = [](const Found& list, const findings::Finding& f) {
        return std::any_of(list.begin(), list.end(),
                           [&f](const auto& g) { return g.Kind == f.Kind && g.Text == f.Text; });
    };
    std::vector<Finding> out;
    for (const auto& f : fa) out.push_back({has(fb, f) ? Side::Both : Side::Baseline, f.Kind, f.Level, f.Text});
    for (const auto& f : fb)
        if (!has(fa, f)) out.push_back({Side::Current, f.Kind, f.Level, f.Text});
    return out;
}

bool SameCard(const PciDeviceRecord& a, const PciDeviceRecord& b) {
    return ((a.VendorId ^ b.VendorId) & 0xFFFF) == 0 && ((a.DeviceId ^ b.DeviceId) & 0xFFFF) == 0 &&
           ((a.SubVendorId ^ b.SubVendorId) & 0xFFFF) == 0 && ((a.SubDeviceId ^ b.SubDeviceId) & 0xFFFF) == 0;
}

std::vector<const PciDeviceRecord*> ByLocation(const PciDeviceTableType& t) {
    std::vector<const PciDeviceRecord*> list;
    for (int32_t i = 0; i < t.Count && i < PciTableCapacity; ++i) list.push_back(&t.Devices[i]);
    std::stable_sort(list.begin(), list.end(),
                     [](auto* x, auto* y) { return LocationKey(*x) < LocationKey(*y); });
    return list;
}

std::string UnreadText(const std::vector<UnreadLocations>& unread, uint64_t at, const char* side) {
    for (const UnreadLocations& u : unread)
        if (u.From <= at && at <= u.To)
            return std::string(side) + (u.CutOff ? " is cut off before it" : " could not be read there") +
                   " (line " + std::to_string(u.Line) + ")";
    return "";
}

// The pairs by location, the moves among what is left, the differences.
Comparison Compare(const PciDeviceTableType& baseline, const PciDeviceTableType& current, const CompareOptions& options,
                   const std::vector<UnreadLocations>& unreadBaseline,
                   const std::vector<UnreadLocations>& unreadCurrent) {
    const auto a = ByLocation(baseline);
    const auto b = ByLocation(current);
    std::vector<FunctionComparison> all;
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        const PciDeviceRecord* x = i < a.size() ? a[i] : nullptr;
        const PciDeviceRecord* y = j < b.size() ? b[j] : nullptr;
        if (x && y && LocationKey(*x) != LocationKey(*y)) (LocationKey(*x) < LocationKey(*y) ? y : x) = nullptr;
        FunctionComparison f;
        const PciDeviceRecord& any = x ? *x : *y;
        f.Bus = any.Bus;
        f.Slot = any.Slot;
        f.Function = any.Function;
        f.Baseline = x;
        f.Current = y;
        if (!x) f.NotCompared = UnreadText(unreadBaseline, LocationKey(any), "baseline");
        if (!y) f.NotCompared = UnreadText(unreadCurrent, LocationKey(any), "current");
        all.push_back(std::move(f));
        i += x ? 1 : 0;
        j += y ? 1 : 0;
    }
    // A card that left one location and turned up at another is one card.
    std::vector<bool> gone(all.size(), false);
    for (FunctionComparison& left : all) {
        if (!left.Baseline || left.Current || !left.NotCompared.empty()) continue;
        for (std::size_t k = 0; k < all.size(); ++k) {
            FunctionComparison& came = all[k];
            if (gone[k] || came.Baseline || !came.NotCompared.empty() || !SameCard(*left.Baseline, *came.Current))
                continue;
            gone[k] = true;
            left.Current = came.Current;
            left.Moved = true;
            break;
        }
    }
    // Other cards of the same kind elsewhere, for the one-side functions.
    for (FunctionComparison& f : all) {
        if (f.Moved || (f.Baseline && f.Current)) continue;
        const PciDeviceRecord& mine = f.Baseline ? *f.Baseline : *f.Current;
        for (const auto* other : f.Baseline ? b : a)
            if (LocationKey(*other) != LocationKey(mine) && SameCard(*other, mine)) {
                f.SameCardAt = LocationText(*other);
                break;
            }
    }

    Comparison c;
    for (std::size_t k = 0; k < all.size(); ++k) {
        if (gone[k]) continue;
        FunctionComparison& f = all[k];
        if (!options.Only.empty()) {
            const auto named = [&options](const PciDeviceRecord* d) {
                return d && std::find(options.Only.begin(), options.Only.end(), LocationKey(*d)) != options.Only.end();
            };
            if (!named(f.Baseline) && !named(f.Current)) continue;
        }
        if (f.Baseline && f.Current) f.Differences = Differences(*f.Baseline, *f.Current, options, f.Moved, c.Ignored);
        if (f.NotCompared.empty()) f.Findings = Findings(f.Baseline, f.Current);
        if (options.Ignore.Kinds.count("findings")) {
            const auto before = f.Findings.size();
            std::erase_if(f.Findings, [](const Finding& x) { return x.Where != Side::Both; });
            if (before != f.Findings.size()) c.Ignored["findings"] += static_cast<int>(before - f.Findings.size());
        }
        for (const Finding& x : f.Findings) {
            if (x.Where == Side::Both)
                ++c.StandingFindings;
            else
                ++c.Changes;
        }
        c.Changes += static_cast<int>(f.Differences.size());
        if (!f.NotCompared.empty()) {
            ++c.NotCompared;
        } else if (f.Baseline && f.Current) {
            ++(f.Moved ? c.Moved : c.Matched);
            c.Differing += f.Changed() ? 1 : 0;
        } else {
            ++(f.Baseline ? c.OnlyBaseline : c.OnlyCurrent);
            ++c.Changes;
        }
        c.Functions.push_back(std::move(f));
    }
    return c;
}

}  // namespace

bool FunctionComparison::Changed() const {
    if (!NotCompared.empty()) return false;
    if (!Baseline || !Current || !Differences.empty()) return true;
    return std::any_of(Findings.begin(), Findings.end(), [](const Finding& f) { return f.Where != Side::Both; });
}

Verdict Comparison::Result() const {
    if (Differing > 0 || OnlyBaseline > 0 || OnlyCurrent > 0) return Verdict::Differ;
    return NotCompared > 0 ? Verdict::Incomplete : Verdict::Agree;
}

const char* DifferenceKindName(DifferenceKind kind) {
    static const char* const names[] = {"identifiers", "registration", "memory", "io",
                                        "interrupt",   "config",       "eeprom", "location"};
    return names[static_cast<int>(kind)];
}

const char* SideName(Side side) {
    static const char* const names[] = {"baseline", "current", "both"};
    return names[static_cast<int>(side)];
}

bool AddIgnored(IgnoreSet& ignore, std::string_view field, std::string& error) {
    static const char* const kinds[] = {"identifiers", "registration", "memory", "io",
                                        "irq",         "config",       "eeprom", "location", "findings"};
    const std::string name(field);
    const auto number = [&name](std::size_t from, int base, long& value) {
        char* end = nullptr;
        value = std::strtol(name.c_str() + from, &end, base);
        return from < name.size() && *end == '\0';
    };
    long value = 0;
    if (name == "interrupt") {
        ignore.Kinds.insert("irq");
    } else if (std::find(std::begin(kinds), std::end(kinds), name) != std::end(kinds)) {
        ignore.Kinds.insert(name);
    } else if (name.starts_with("config:") && number(7, 16, value) && value >= 0 && value < 256 && value % 4 == 0) {
        ignore.ConfigOffsets.insert(static_cast<int>(value));
    } else if (name.starts_with("eeprom:") && number(7, 10, value) && value >= 0 && value < EepromWordCount) {
        ignore.EepromWords.insert(static_cast<int>(value));
    } else {
        error = "--ignore knows identifiers, registration, memory, io, irq, config, config:OFFSET (a multiple of 4 "
                "below 0x100), eeprom, eeprom:WORD (0-63), location and findings, not " + name;
        return false;
    }
    ignore.Named.push_back(name);
    return true;
}

bool ParseLocation(std::string_view text, uint64_t& key) {
    // Hex digits up to the separator; false when there are none or too many.
    const auto field = [&text](char separator, std::size_t most, unsigned& value) {
        std::size_t n = 0;
        value = 0;
        for (; n < text.size() && std::isxdigit(static_cast<unsigned char>(text[n])); ++n) {
            const int c = std::tolower(static_cast<unsigned char>(text[n]));
            value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        if (n == 0 || n > most || (separator ? !text.substr(n).starts_with(separator) : n != text.size()))
            return false;
        text.remove_prefix(n + (separator ? 1 : 0));
        return true;
    };
    unsigned domain = 0, bus = 0, slot = 0, function = 0;
    if (std::count(text.begin(), text.end(), ':') == 2 && (!field(':', 4, domain) || domain != 0)) return false;
    if (!field(':', 2, bus) || !field('.', 2, slot) || !field('\0', 1, function)) return false;
    if (slot > 0x1F || function > 7) return false;
    key = LocationKey(bus, slot, function);
    return true;
}

Comparison CompareSniffs(const PciDeviceTableType& baseline, const PciDeviceTableType& current,
                         const CompareOptions& options) {
    return Compare(baseline, current, options, {}, {});
}

Comparison CompareSniffs(const Sniff& baseline, const Sniff& current, const CompareOptions& options) {
    return Compare(*baseline.Table, *current.Table, options, baseline.Unread, current.Unread);
}

}  // namespace compare
