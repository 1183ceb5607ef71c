// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin findings -- the checks, one function at a time.
#include "findings/Findings.h"

#include <algorithm>

#include "sniffer/ReportTexts.h"
#include "windriver/WexPlxGenDriverUnit.h"

namespace findings {

namespace {

// Logs of versions whose card check compared whole addresses give code 7
// for every function with memory above 4 GiB: worth saying where it is so.
bool MemoryAbove4GiB(const PciDeviceRecord& d) {
    for (int i = 0; i < d.NumMemAddresses && i < MaxMemSpaces; ++i)
        if (d.MemAddress[i] > 0xFFFFFFFFu || d.MemPhysicalAddress[i] > 0xFFFFFFFFu) return true;
    for (int bar = 0; bar < 5; ++bar) {
        const uint32_t v = d.ConfigRegs[4 + bar];
        if ((v & 1) == 0 && ((v >> 1) & 3) == 2 && d.ConfigRegs[5 + bar] != 0) return true;
    }
    return false;
}

bool NotRegistered(const PciDeviceRecord& d) {
    return d.FailCode == CardRegisterFailed || d.FailCode == CardLockFailed;
}

}  // namespace

const char* SeverityName(Severity severity) {
    static const char* const names[] = {"error", "warning", "note"};
    return names[static_cast<int>(severity)];
}

ConfigView ViewOf(const PciDeviceRecord& record) {
    return {reinterpret_cast<const uint8_t*>(record.ConfigRegs), static_cast<uint32_t>(sizeof record.ConfigRegs)};
}

ConfigView ViewOf(const PciConfigSpace& space) {
    return {space.Bytes, std::min<uint32_t>(space.Size, sizeof space.Bytes)};
}

std::vector<Finding> FindingsOf(const PciDeviceRecord& d, const ConfigView&) {
    std::vector<Finding> found;
    if (d.IsPlx) {
        const auto all = [&](uint16_t w) {
            return std::all_of(std::begin(d.EepromWords), std::end(d.EepromWords),
                               [w](uint16_t x) { return x == w; });
        };
        if (all(0xFFFF))
            found.push_back({"eeprom-blank", Severity::Warning, "PLX EEPROM reads all FFFF (blank or absent chip)"});
        // After a refused registration the words are never read at all.
        if (all(0x0000) && !NotRegistered(d))
            found.push_back({"eeprom-silent", Severity::Error, "PLX EEPROM reads all 0000 (no answer)"});
    }
    if (d.FailCode == CardNoMemorySpace && (d.ConfigRegs[1] & 0x2))
        found.push_back({"decode-on-code-7", Severity::Error,
                         std::string("memory decode is on, yet no memory space was active (code 7)") +
                             (MemoryAbove4GiB(d) ? "; its memory lies above 4 GiB" : "")});
    if (NotRegistered(d))
        found.push_back({"not-registered", Severity::Warning,
                         "could not be registered with the driver (code " + std::to_string(d.FailCode) + ": " +
                             reporttext::FailureTexts[d.FailCode] + ")"});
    return found;
}

}  // namespace findings
