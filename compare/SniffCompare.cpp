// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- matching two device tables by location and naming what
// differs, in the terms an engineer reads a sniff in.
#include "compare/SniffCompare.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tuple>

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

auto Key(const PciDeviceRecord& d) {
    return std::make_tuple(d.Bus, d.Slot, d.Function);
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
        list.push_back({d.MemBar[i], d.MemPhysicalAddress[i], d.MemBytes[i]});
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
                           ResourceText(x), ResourceText(y)});
        i += x ? 1 : 0;
        j += y ? 1 : 0;
    }
}

std::string InterruptText(const PciDeviceRecord& d) {
    if (d.NumInterrupts <= 0) return "none";
    const std::string n = std::to_string(d.Interrupt);
    return d.NumInterrupts == 1 ? n : n + " (the last of " + std::to_string(d.NumInterrupts) + ")";
}

std::string RegisterName(int offset) {
    char text[48];
    const char* name = nullptr;
    switch (offset) {
        case 0x00:
            name = "IDs";
            break;
        case 0x04:
            name = "command/status";
            break;
        case 0x08:
            name = "class/revision";
            break;
        case 0x2C:
            name = "subsystem IDs";
            break;
        case 0x30:
            name = "expansion ROM";
            break;
        case 0x3C:
            name = "interrupt line/pin";
            break;
        default:
            break;
    }
    if (offset >= 0x10 && offset <= 0x24) {
        std::snprintf(text, sizeof text, "config 0x%02X BAR%d", offset, (offset - 0x10) / 4);
    } else if (name) {
        std::snprintf(text, sizeof text, "config 0x%02X %s", offset, name);
    } else {
        std::snprintf(text, sizeof text, "config 0x%02X", offset);
    }
    return text;
}

std::vector<Difference> Differences(const PciDeviceRecord& a, const PciDeviceRecord& b,
                                    const CompareOptions& o) {
    std::vector<Difference> out;
    if ((a.VendorId ^ b.VendorId) & 0xFFFF || (a.DeviceId ^ b.DeviceId) & 0xFFFF)
        out.push_back({DifferenceKind::Identifiers, -1, "vendor:device", Ids(a.VendorId, a.DeviceId),
                       Ids(b.VendorId, b.DeviceId)});
    if ((a.SubVendorId ^ b.SubVendorId) & 0xFFFF || (a.SubDeviceId ^ b.SubDeviceId) & 0xFFFF)
        out.push_back({DifferenceKind::Identifiers, -1, "subsystem", Ids(a.SubVendorId, a.SubDeviceId),
                       Ids(b.SubVendorId, b.SubDeviceId)});
    if (NamedCode(a.FailCode) != NamedCode(b.FailCode) || (a.FailCode != 0 && Text(a) != Text(b)))
        out.push_back({DifferenceKind::Registration, -1, "registration", Registration(a), Registration(b)});
    CompareResources(DifferenceKind::Memory, "memory", Memory(a), Memory(b), out);
    CompareResources(DifferenceKind::Io, "I/O", Io(a), Io(b), out);
    if (InterruptText(a) != InterruptText(b))
        out.push_back({DifferenceKind::Interrupt, -1, "interrupt", InterruptText(a), InterruptText(b)});
    for (int k = 0; k < ConfigDwordCount; ++k) {
        const uint32_t mask = k == 1 && !o.AllBits ? ~StatusErrorBits : 0xFFFFFFFFu;
        if ((a.ConfigRegs[k] & mask) != (b.ConfigRegs[k] & mask))
            out.push_back({DifferenceKind::Config, 4 * k, RegisterName(4 * k), Hex(a.ConfigRegs[k], 8),
                           Hex(b.ConfigRegs[k], 8)});
    }
    if (a.IsPlx && b.IsPlx)
        for (int k = 0; k < EepromWordCount; ++k)
            if (a.EepromWords[k] != b.EepromWords[k])
                out.push_back({DifferenceKind::Eeprom, k, "EEPROM word " + std::to_string(k),
                               Hex(a.EepromWords[k], 4), Hex(b.EepromWords[k], 4)});
    return out;
}

std::vector<Finding> Findings(const PciDeviceRecord* a, const PciDeviceRecord* b) {
    using Found = std::vector<findings::Finding>;
    const Found fa = a ? findings::FindingsOf(*a) : Found{};
    const Found fb = b ? findings::FindingsOf(*b) : Found{};
    const auto has = [](const Found& list, const std::string& kind) {
        return std::any_of(list.begin(), list.end(), [&kind](const auto& f) { return f.Kind == kind; });
    };
    std::vector<Finding> out;
    for (const auto& f : fa) out.push_back({has(fb, f.Kind) ? Side::Both : Side::Baseline, f.Kind, f.Level, f.Text});
    for (const auto& f : fb)
        if (!has(fa, f.Kind)) out.push_back({Side::Current, f.Kind, f.Level, f.Text});
    return out;
}

bool SameCard(const PciDeviceRecord& a, const PciDeviceRecord& b) {
    return ((a.VendorId ^ b.VendorId) | (a.DeviceId ^ b.DeviceId) | (a.SubVendorId ^ b.SubVendorId) |
            (a.SubDeviceId ^ b.SubDeviceId)) == 0;
}

std::vector<const PciDeviceRecord*> ByLocation(const PciDeviceTableType& t) {
    std::vector<const PciDeviceRecord*> list;
    for (int32_t i = 0; i < t.Count && i < PciTableCapacity; ++i) list.push_back(&t.Devices[i]);
    std::stable_sort(list.begin(), list.end(), [](auto* x, auto* y) { return Key(*x) < Key(*y); });
    return list;
}

}  // namespace

const char* DifferenceKindName(DifferenceKind kind) {
    static const char* const names[] = {"identifiers", "registration", "memory", "io",
                                        "interrupt",   "config",       "eeprom"};
    return names[static_cast<int>(kind)];
}

const char* SideName(Side side) {
    static const char* const names[] = {"baseline", "current", "both"};
    return names[static_cast<int>(side)];
}

Comparison CompareSniffs(const PciDeviceTableType& baseline, const PciDeviceTableType& current,
                         const CompareOptions& options) {
    const auto a = ByLocation(baseline);
    const auto b = ByLocation(current);
    Comparison c;
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        const PciDeviceRecord* x = i < a.size() ? a[i] : nullptr;
        const PciDeviceRecord* y = j < b.size() ? b[j] : nullptr;
        if (x && y && Key(*x) != Key(*y)) (Key(*x) < Key(*y) ? y : x) = nullptr;
        FunctionComparison f;
        const PciDeviceRecord& any = x ? *x : *y;
        f.Bus = any.Bus;
        f.Slot = any.Slot;
        f.Function = any.Function;
        f.Baseline = x;
        f.Current = y;
        if (x && y) f.Differences = Differences(*x, *y, options);
        f.Findings = Findings(x, y);
        c.FindingCount += static_cast<int>(f.Findings.size());
        if (x && y) {
            ++c.Matched;
            c.Differing += f.Differences.empty() ? 0 : 1;
        } else {
            ++(x ? c.OnlyBaseline : c.OnlyCurrent);
        }
        c.Functions.push_back(std::move(f));
        i += x ? 1 : 0;
        j += y ? 1 : 0;
    }
    // A card that left one slot and turned up in another.
    std::vector<bool> claimed(c.Functions.size());
    for (FunctionComparison& gone : c.Functions) {
        if (!gone.Baseline || gone.Current) continue;
        for (std::size_t k = 0; k < c.Functions.size(); ++k) {
            FunctionComparison& come = c.Functions[k];
            if (claimed[k] || come.Baseline || !SameCard(*gone.Baseline, *come.Current)) continue;
            claimed[k] = true;
            gone.SameCardAt = LocationText(*come.Current);
            come.SameCardAt = LocationText(*gone.Baseline);
            break;
        }
    }
    return c;
}

}  // namespace compare
