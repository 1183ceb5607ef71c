// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin findings -- the checks, one function at a time.
#include "findings/Findings.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "pci/PciRegisters.h"
#include "sniffer/ReportTexts.h"
#include "sniffer/SnifferReport.h"
#include "windriver/WexPlxGenDriverUnit.h"

namespace findings {

namespace {

using pcicap::List;

std::string HexText(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string SpeedText(uint32_t code) {
    const double gts = pcireg::LinkSpeedOf(code);
    char text[32];
    if (gts > 0)
        std::snprintf(text, sizeof text, "%g GT/s", gts);
    else
        std::snprintf(text, sizeof text, "speed code %u", code);
    return text;
}

// A register bit, the finding it gives and the name the register's own
// documentation uses for it.
struct NamedBit {
    uint32_t Bit;
    const char* Kind;
    const char* Name;
    Severity Level;
};

constexpr NamedBit StatusBits[] = {
    {pcireg::StatusDetectedParityError, "status-detected-parity-error", "Detected Parity Error", Severity::Error},
    {pcireg::StatusSignaledSystemError, "status-signaled-system-error", "Signaled System Error", Severity::Error},
    {pcireg::StatusReceivedMasterAbort, "status-received-master-abort", "Received Master Abort", Severity::Warning},
    {pcireg::StatusReceivedTargetAbort, "status-received-target-abort", "Received Target Abort", Severity::Error},
    {pcireg::StatusSignaledTargetAbort, "status-signaled-target-abort", "Signaled Target Abort", Severity::Error},
    {pcireg::StatusMasterDataParityError, "status-master-data-parity-error", "Master Data Parity Error",
     Severity::Error},
};

// Correctable errors were put right by the hardware, and an Unsupported
// Request is what firmware probing leaves behind: worth seeing, not alarming.
constexpr NamedBit DeviceStatusBits[] = {
    {pcireg::DeviceStatusCorrectable, "devsta-correctable", "Correctable Error Detected", Severity::Note},
    {pcireg::DeviceStatusNonFatal, "devsta-non-fatal", "Non-Fatal Error Detected", Severity::Error},
    {pcireg::DeviceStatusFatal, "devsta-fatal", "Fatal Error Detected", Severity::Error},
    {pcireg::DeviceStatusUnsupportedRequest, "devsta-unsupported-request", "Unsupported Request Detected",
     Severity::Note},
};

constexpr NamedBit AerUncorrectableBits[] = {
    {pcireg::AerUncorrectableDataLinkProtocol, "aer-data-link-protocol", "Data Link Protocol Error", Severity::Error},
    {pcireg::AerUncorrectableSurpriseDown, "aer-surprise-down", "Surprise Down Error", Severity::Error},
    {pcireg::AerUncorrectablePoisonedTlp, "aer-poisoned-tlp", "Poisoned TLP", Severity::Error},
    {pcireg::AerUncorrectableFlowControlProtocol, "aer-flow-control-protocol", "Flow Control Protocol Error",
     Severity::Error},
    {pcireg::AerUncorrectableCompletionTimeout, "aer-completion-timeout", "Completion Timeout", Severity::Error},
    {pcireg::AerUncorrectableCompleterAbort, "aer-completer-abort", "Completer Abort", Severity::Error},
    {pcireg::AerUncorrectableUnexpectedCompletion, "aer-unexpected-completion", "Unexpected Completion",
     Severity::Error},
    {pcireg::AerUncorrectableReceiverOverflow, "aer-receiver-overflow", "Receiver Overflow", Severity::Error},
    {pcireg::AerUncorrectableMalformedTlp, "aer-malformed-tlp", "Malformed TLP", Severity::Error},
    {pcireg::AerUncorrectableEcrc, "aer-ecrc", "ECRC Error", Severity::Error},
    {pcireg::AerUncorrectableUnsupportedRequest, "aer-unsupported-request", "Unsupported Request Error",
     Severity::Error},
    {pcireg::AerUncorrectableAcsViolation, "aer-acs-violation", "ACS Violation", Severity::Error},
    {pcireg::AerUncorrectableInternal, "aer-uncorrectable-internal", "Uncorrectable Internal Error", Severity::Error},
    {pcireg::AerUncorrectableMulticastBlocked, "aer-mc-blocked-tlp", "MC Blocked TLP", Severity::Error},
    {pcireg::AerUncorrectableAtomicEgressBlocked, "aer-atomicop-egress-blocked", "AtomicOp Egress Blocked",
     Severity::Error},
    {pcireg::AerUncorrectablePrefixBlocked, "aer-tlp-prefix-blocked", "TLP Prefix Blocked Error", Severity::Error},
    {pcireg::AerUncorrectablePoisonedEgressBlocked, "aer-poisoned-tlp-egress-blocked", "Poisoned TLP Egress Blocked",
     Severity::Error},
};

constexpr NamedBit AerCorrectableBits[] = {
    {pcireg::AerCorrectableReceiver, "aer-receiver-error", "Receiver Error", Severity::Note},
    {pcireg::AerCorrectableBadTlp, "aer-bad-tlp", "Bad TLP", Severity::Note},
    {pcireg::AerCorrectableBadDllp, "aer-bad-dllp", "Bad DLLP", Severity::Note},
    {pcireg::AerCorrectableReplayRollover, "aer-replay-rollover", "REPLAY_NUM Rollover", Severity::Note},
    {pcireg::AerCorrectableReplayTimeout, "aer-replay-timeout", "Replay Timer Timeout", Severity::Note},
    {pcireg::AerCorrectableAdvisoryNonFatal, "aer-advisory-non-fatal", "Advisory Non-Fatal Error", Severity::Note},
    {pcireg::AerCorrectableInternal, "aer-corrected-internal", "Corrected Internal Error", Severity::Note},
    {pcireg::AerCorrectableHeaderLogOverflow, "aer-header-log-overflow", "Header Log Overflow", Severity::Note},
};

// One finding per named bit set; bits without a name together in one.
template <std::size_t N>
void BitFindings(uint32_t value, const NamedBit (&bits)[N], const std::string& what, const char* otherKind,
                 Severity otherLevel, std::vector<Finding>& found) {
    uint32_t named = 0;
    for (const NamedBit& b : bits) {
        named |= b.Bit;
        if (value & b.Bit) found.push_back({b.Kind, b.Level, what + ": " + b.Name, {{"status", double(value)}}});
    }
    if (otherKind && (value & ~named))
        found.push_back({otherKind, otherLevel, what + ": bits " + HexText(value & ~named) + " set",
                         {{"status", double(value)}}});
}

void StatusFindings(const ConfigView& config, std::vector<Finding>& found) {
    const std::size_t first = found.size();
    BitFindings(config.Word(pcireg::Status), StatusBits, "status register", nullptr, Severity::Note, found);
    // A scan probes empty slots through the host bridge and the bridges,
    // which then hold Received Master Abort without anything being wrong.
    const uint8_t layout = config.Byte(pcireg::HeaderType) & pcireg::HeaderTypeLayoutMask;
    const bool bridge = layout != pcireg::HeaderTypeNormal ||
                        (config.Dword(pcireg::ClassRevision) >> 16) == pcireg::ClassHostBridge;
    if (!bridge) return;
    for (std::size_t i = first; i < found.size(); ++i)
        if (found[i].Kind == "status-received-master-abort") {
            found[i].Level = Severity::Note;
            found[i].Text += " (a bus scan leaves it on bridges)";
        }
}

// The capabilities the checks read, found in one walk of each list.
struct Capabilities {
    uint32_t Express = 0, Msi = 0, MsiX = 0, Aer = 0;
};

void ListFindings(const pcicap::Walk& walk, List list, std::vector<Finding>& found) {
    if (walk.Broken() == pcicap::Break::None) return;
    const bool standard = list == List::Standard;
    const std::string name = standard ? "capability list" : "extended capability list";
    const std::string kind = standard ? "caplist-" : "ext-caplist-";
    const bool head = standard && walk.BrokenAt() < pcireg::CapabilityFirst;
    const std::string where = (head ? "the list head at " : "the entry at ") + HexText(walk.BrokenAt());
    const std::string target = HexText(walk.BrokenTarget());
    const std::vector<Value> values = {{"at", double(walk.BrokenAt())}, {"target", double(walk.BrokenTarget())}};
    switch (walk.Broken()) {
        case pcicap::Break::Loop:
            found.push_back({kind + "loop", Severity::Error, name + " loops: " + where + " points back to " + target,
                             values});
            break;
        case pcicap::Break::Outside:
            found.push_back({kind + "outside", Severity::Error,
                             name + " points outside the space read: " + where + " points to " + target, values});
            break;
        case pcicap::Break::IntoHeader:
            found.push_back({kind + "into-header", Severity::Error,
                             name + " points below " +
                                 HexText(standard ? pcireg::CapabilityFirst : pcireg::ExtendedCapabilityFirst) +
                                 ": " + where + " points to " + target,
                             values});
            break;
        case pcicap::Break::None:
            break;
    }
}

Capabilities WalkLists(const ConfigView& config, std::vector<Finding>& found) {
    Capabilities caps;
    pcicap::Entry e;
    pcicap::Walk standard(config, List::Standard);
    const auto first = [](uint32_t& slot, uint32_t offset) {
        if (slot == 0) slot = offset;
    };
    while (standard.Next(e)) {
        if (e.Id == pcireg::CapabilityIdExpress) first(caps.Express, e.Offset);
        if (e.Id == pcireg::CapabilityIdMsi) first(caps.Msi, e.Offset);
        if (e.Id == pcireg::CapabilityIdMsiX) first(caps.MsiX, e.Offset);
    }
    ListFindings(standard, List::Standard, found);
    if (caps.Express == 0) return caps;
    pcicap::Walk extended(config, List::Extended);
    while (extended.Next(e))
        if (e.Id == pcireg::ExtendedIdAer) first(caps.Aer, e.Offset);
    ListFindings(extended, List::Extended, found);
    return caps;
}

uint8_t ExpressType(const ConfigView& config, uint32_t express) {
    return static_cast<uint8_t>((config.Word(express + pcireg::ExpressFlags) & pcireg::ExpressFlagsTypeMask) >>
                                pcireg::ExpressFlagsTypeShift);
}

bool HasLink(uint8_t type) {
    return type != pcireg::ExpressTypeRootIntegratedEndpoint && type != pcireg::ExpressTypeRootEventCollector;
}

// A port facing down trains to whatever is plugged into it: a narrow card in
// a wide slot is no fault of the port. The link is judged where it ends.
bool FacesUpstream(uint8_t type) {
    return type == pcireg::ExpressTypeEndpoint || type == pcireg::ExpressTypeLegacyEndpoint ||
           type == pcireg::ExpressTypeUpstreamPort || type == pcireg::ExpressTypeExpressToPciBridge;
}

void LinkFindings(const ConfigView& config, uint32_t express, std::vector<Finding>& found) {
    const uint8_t type = ExpressType(config, express);
    if (!HasLink(type) || !FacesUpstream(type) || !config.Has(express, pcireg::ExpressLinkStatus + 2)) return;
    const uint32_t capabilities = config.Dword(express + pcireg::ExpressLinkCapabilities);
    const uint16_t status = config.Word(express + pcireg::ExpressLinkStatus);
    const unsigned capableWidth = (capabilities & pcireg::LinkCapabilitiesWidthMask) >> pcireg::LinkWidthShift;
    const unsigned width = (status & pcireg::LinkStatusWidthMask) >> pcireg::LinkWidthShift;
    const uint32_t capableSpeed = capabilities & pcireg::LinkCapabilitiesSpeedMask;
    const uint32_t speed = status & pcireg::LinkStatusSpeedMask;
    if (width == 0 || speed == 0) return;  // the link is down: nothing trained to judge
    const std::string link = "link x" + std::to_string(width) + " at " + SpeedText(speed) + "; the card can do x" +
                             std::to_string(capableWidth) + " at " + SpeedText(capableSpeed);
    const std::vector<Value> values = {{"width", double(width)},
                                       {"capableWidth", double(capableWidth)},
                                       {"speed", pcireg::LinkSpeedOf(speed)},
                                       {"capableSpeed", pcireg::LinkSpeedOf(capableSpeed)}};
    if (width < capableWidth)
        found.push_back({"link-narrow", Severity::Warning, link + "; the slot may be narrower", values});
    if (speed < capableSpeed)
        found.push_back({"link-slow", Severity::Note, link + "; devices slow an idle link to save power", values});
}

// A BAR whose type bits are there but which holds no address, and for which
// the driver gave no resource: the firmware found no room for it.
void BarFindings(const PciDeviceRecord& d, const ConfigView& config, std::vector<Finding>& found) {
    const uint8_t layout = config.Byte(pcireg::HeaderType) & pcireg::HeaderTypeLayoutMask;
    const uint32_t count = layout == pcireg::HeaderTypeNormal   ? pcireg::BarCountNormal
                           : layout == pcireg::HeaderTypeBridge ? pcireg::BarCountBridge
                           : layout == pcireg::HeaderTypeCardBus ? pcireg::BarCountCardBus
                                                                 : 0;
    for (uint32_t bar = 0; bar < count; ++bar) {
        const uint32_t low = config.Dword(pcireg::BaseAddress0 + 4 * bar);
        const bool io = low & pcireg::BarSpaceIo;
        const bool wide = !io && (low & pcireg::BarMemoryTypeMask) == pcireg::BarMemoryType64;
        const uint32_t high = wide && bar + 1 < count ? config.Dword(pcireg::BaseAddress0 + 4 * (bar + 1)) : 0;
        const uint32_t typeBits = io ? pcireg::BarSpaceIo : low & ~pcireg::BarMemoryAddressMask;
        const uint32_t address = low & (io ? pcireg::BarIoAddressMask : pcireg::BarMemoryAddressMask);
        const uint32_t first = bar;
        if (wide) ++bar;
        if (typeBits == 0 || address != 0 || high != 0) continue;
        bool resource = false;
        for (int i = 0; i < d.NumMemAddresses && i < MaxMemSpaces; ++i) resource = resource || d.MemBar[i] == first;
        for (int i = 0; i < d.NumIOAddresses && i < MaxIoSpaces; ++i) resource = resource || d.IoBar[i] == first;
        if (resource) continue;
        const std::string type = io ? "I/O" : std::string(wide ? "64-bit " : "32-bit ") +
                                                  (low & pcireg::BarMemoryPrefetchable ? "prefetchable " : "") +
                                                  "memory";
        found.push_back({"bar-unassigned", Severity::Warning,
                         "BAR " + std::to_string(first) + " (" + type +
                             ") is implemented but holds no address: the firmware assigned none",
                         {{"bar", double(first)}, {"register", double(low)}}});
    }
}

void InterruptFindings(const PciDeviceRecord& d, const ConfigView& config, const Capabilities& caps,
                       std::vector<Finding>& found) {
    const uint8_t pin = config.Byte(pcireg::InterruptPin);
    if (pin < 1 || pin > 4 || d.NumInterrupts > 0) return;
    const bool msi = caps.Msi && (config.Word(caps.Msi + pcireg::MsiControl) & pcireg::MsiControlEnable);
    const bool msix = caps.MsiX && (config.Word(caps.MsiX + pcireg::MsiXControl) & pcireg::MsiXControlEnable);
    if (msi || msix) return;
    const std::string name = std::string("INT") + static_cast<char>('A' + pin - 1) + "#";
    found.push_back({"irq-unrouted", Severity::Warning,
                     "interrupt pin " + name + " has no routed interrupt, and neither MSI nor MSI-X is enabled",
                     {{"pin", double(pin)}, {"line", double(config.Byte(pcireg::InterruptLine))}}});
}

// Logs of versions whose card check compared whole addresses give code 7
// for every function with memory above 4 GiB: worth saying where it is so.
bool MemoryAbove4GiB(const PciDeviceRecord& d) {
    for (int i = 0; i < d.NumMemAddresses && i < MaxMemSpaces; ++i)
        if (d.MemAddress[i] > 0xFFFFFFFFu || d.MemPhysicalAddress[i] > 0xFFFFFFFFu) return true;
    for (uint32_t bar = 0; bar + 1 < pcireg::BarCountNormal; ++bar) {
        const uint32_t v = d.ConfigRegs[(pcireg::BaseAddress0 / 4) + bar];
        if (!(v & pcireg::BarSpaceIo) && (v & pcireg::BarMemoryTypeMask) == pcireg::BarMemoryType64 &&
            d.ConfigRegs[(pcireg::BaseAddress0 / 4) + bar + 1] != 0)
            return true;
    }
    return false;
}

bool NotRegistered(const PciDeviceRecord& d) {
    return d.FailCode == CardRegisterFailed || d.FailCode == CardLockFailed;
}

void RecordFindings(const PciDeviceRecord& d, const ConfigView& config, std::vector<Finding>& found) {
    if (d.IsPlx) {
        const auto all = [&](uint16_t w) {
            return std::all_of(std::begin(d.EepromWords), std::end(d.EepromWords),
                               [w](uint16_t x) { return x == w; });
        };
        if (all(0xFFFF))
            found.push_back({"eeprom-blank", Severity::Warning, "PLX EEPROM reads all FFFF (blank or absent chip)", {}});
        // After a refused registration the words are never read at all.
        if (all(0x0000) && !NotRegistered(d))
            found.push_back({"eeprom-silent", Severity::Error, "PLX EEPROM reads all 0000 (no answer)", {}});
    }
    if (d.FailCode == CardNoMemorySpace && (config.Word(pcireg::Command) & pcireg::CommandMemorySpace))
        found.push_back({"decode-on-code-7", Severity::Error,
                         std::string("memory decode is on, yet no memory space was active (code 7)") +
                             (MemoryAbove4GiB(d) ? "; its memory lies above 4 GiB" : ""),
                         {{"failCode", double(d.FailCode)}}});
    if (NotRegistered(d))
        found.push_back({"not-registered", Severity::Warning,
                         "could not be registered with the driver (code " + std::to_string(d.FailCode) + ": " +
                             reporttext::FailureTexts[d.FailCode] + ")",
                         {{"failCode", double(d.FailCode)}}});
}

}  // namespace

const char* SeverityName(Severity severity) {
    static const char* const names[] = {"error", "warning", "note"};
    return names[static_cast<int>(severity)];
}

// The double-words are kept as the bus gives them, so their bytes are the
// space's bytes in order.
static_assert(std::endian::native == std::endian::little);

ConfigView ViewOf(const PciDeviceRecord& record) {
    return {reinterpret_cast<const uint8_t*>(record.ConfigRegs), static_cast<uint32_t>(sizeof record.ConfigRegs)};
}

ConfigView ViewOf(const PciConfigSpace& space) {
    return {space.Bytes, std::min<uint32_t>(space.Size, sizeof space.Bytes)};
}

ConfigView ViewOf(const PciDeviceRecord& record, const PciConfigSpace& space) {
    const ConfigView whole = ViewOf(space);
    if (whole.Size < sizeof record.ConfigRegs ||
        std::memcmp(whole.Bytes, record.ConfigRegs, sizeof record.ConfigRegs) != 0)
        return ViewOf(record);
    return whole;
}

std::vector<Finding> FindingsOf(const PciDeviceRecord& d, const ConfigView& config) {
    std::vector<Finding> found;
    // A function that does not answer reads all ones: its bits say nothing.
    if (config.Dword(pcireg::VendorId) == 0xFFFFFFFFu) {
        found.push_back({"no-answer", Severity::Error,
                         "configuration space reads all FF: the function did not answer", {}});
    } else {
        const Capabilities caps = WalkLists(config, found);
        StatusFindings(config, found);
        if (caps.Express) {
            BitFindings(config.Word(caps.Express + pcireg::ExpressDeviceStatus), DeviceStatusBits, "device status",
                        nullptr, Severity::Note, found);
            LinkFindings(config, caps.Express, found);
        }
        if (caps.Aer && config.Has(caps.Aer, pcireg::AerCorrectableStatus + 4)) {
            BitFindings(config.Dword(caps.Aer + pcireg::AerUncorrectableStatus), AerUncorrectableBits,
                        "AER uncorrectable", "aer-uncorrectable-other", Severity::Error, found);
            BitFindings(config.Dword(caps.Aer + pcireg::AerCorrectableStatus), AerCorrectableBits, "AER correctable",
                        "aer-correctable-other", Severity::Note, found);
        }
        BarFindings(d, config, found);
        InterruptFindings(d, config, caps, found);
    }
    RecordFindings(d, config, found);
    return found;
}

ExpressLink LinkOf(const ConfigView& config) {
    ExpressLink link;
    const uint32_t express = pcicap::Find(config, List::Standard, pcireg::CapabilityIdExpress);
    if (express == 0 || !HasLink(ExpressType(config, express)) ||
        !config.Has(express, pcireg::ExpressLinkStatus + 2))
        return link;
    const uint32_t capabilities = config.Dword(express + pcireg::ExpressLinkCapabilities);
    const uint16_t status = config.Word(express + pcireg::ExpressLinkStatus);
    link.Present = true;
    link.CapableWidth = (capabilities & pcireg::LinkCapabilitiesWidthMask) >> pcireg::LinkWidthShift;
    link.Width = (status & pcireg::LinkStatusWidthMask) >> pcireg::LinkWidthShift;
    link.CapableSpeed = pcireg::LinkSpeedOf(capabilities & pcireg::LinkCapabilitiesSpeedMask);
    link.Speed = pcireg::LinkSpeedOf(status & pcireg::LinkStatusSpeedMask);
    return link;
}

std::vector<FunctionFindings> FindingsOfTable(const PciDeviceTableType& table, const PciCaptureTable* captures) {
    std::vector<FunctionFindings> all;
    for (int32_t i = 0; i < table.Count && i < PciTableCapacity; ++i) {
        const PciDeviceRecord& d = table.Devices[i];
        const bool spaced = captures && i < captures->Count;
        const ConfigView config = spaced ? ViewOf(d, captures->Functions[i].Config) : ViewOf(d);
        all.push_back({i, LocationText(d), FindingsOf(d, config)});
    }
    return all;
}

Tally TallyOf(const std::vector<FunctionFindings>& all) {
    Tally t;
    for (const FunctionFindings& f : all)
        for (const Finding& one : f.Found) {
            if (one.Level == Severity::Error) ++t.Errors;
            if (one.Level == Severity::Warning) ++t.Warnings;
            if (one.Level == Severity::Note) ++t.Notes;
        }
    return t;
}

std::vector<std::string> FindingLines(const std::vector<FunctionFindings>& all) {
    std::vector<std::string> lines;
    for (const FunctionFindings& f : all)
        for (const Finding& one : f.Found) {
            std::string severity = SeverityName(one.Level);
            severity.resize(7, ' ');
            lines.push_back(f.Location + "  " + severity + "  " + one.Text);
        }
    return lines;
}

}  // namespace findings
