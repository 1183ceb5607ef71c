// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin findings -- what looks wrong with a function, read from its record
// in the device table and its configuration space, never from the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sniffer/SnifferUnit.h"

namespace findings {

enum class Severity { Error, Warning, Note };
const char* SeverityName(Severity severity);  // "error", "warning", "note"

struct Finding {
    std::string Kind;  // a stable name: "eeprom-blank", "decode-on-code-7", ...
    Severity Level;
    std::string Text;  // one line an engineer understands
};

// The configuration space the findings read: the scan's whole space where
// there is one, else the record's 256 bytes (a sniff read back from a log).
struct ConfigView {
    const uint8_t* Bytes;
    uint32_t Size;
};
ConfigView ViewOf(const PciDeviceRecord& record);
ConfigView ViewOf(const PciConfigSpace& space);

// Every finding of one function, in a fixed order.
std::vector<Finding> FindingsOf(const PciDeviceRecord& record, const ConfigView& config);
inline std::vector<Finding> FindingsOf(const PciDeviceRecord& record) { return FindingsOf(record, ViewOf(record)); }

}  // namespace findings
