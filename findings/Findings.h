// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin findings -- what looks wrong with a function, read from its record
// in the device table and its configuration space, never from the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pci/CapabilityList.h"
#include "sniffer/SnifferUnit.h"

namespace findings {

enum class Severity { Error, Warning, Note };
const char* SeverityName(Severity severity);  // "error", "warning", "note"

// A number behind a finding's text: a register as read, a width, a speed.
struct Value {
    std::string Name;
    double Number;
};

struct Finding {
    std::string Kind;  // a stable name: "eeprom-blank", "link-narrow", ...
    Severity Level;
    std::string Text;  // one line an engineer understands
    std::vector<Value> Values;
};

// The configuration space the findings read: the scan's whole space where
// there is one, else the record's 256 bytes (a sniff read back from a log).
using ConfigView = pcicap::Space;
ConfigView ViewOf(const PciDeviceRecord& record);
ConfigView ViewOf(const PciConfigSpace& space);
// The space when it is this record's (the same first 256 bytes), else the record's.
ConfigView ViewOf(const PciDeviceRecord& record, const PciConfigSpace& space);

// Every finding of one function, in a fixed order.
std::vector<Finding> FindingsOf(const PciDeviceRecord& record, const ConfigView& config);
inline std::vector<Finding> FindingsOf(const PciDeviceRecord& record) { return FindingsOf(record, ViewOf(record)); }

// A PCI Express function's link as trained and as the function could train
// it; Present is false for a function without a link of its own.
struct ExpressLink {
    bool Present = false;
    unsigned Width = 0, CapableWidth = 0;
    double Speed = 0, CapableSpeed = 0;  // GT/s; 0 for a code not known
};
ExpressLink LinkOf(const ConfigView& config);

// The findings of a whole table, function by function in table order.
struct FunctionFindings {
    int Index;
    std::string Location;  // "02:04.0"
    std::vector<Finding> Found;
};
// `captures` may be null (a table read back from a log or JSON).
std::vector<FunctionFindings> FindingsOfTable(const PciDeviceTableType& table, const PciCaptureTable* captures);

struct Tally {
    int Errors = 0, Warnings = 0, Notes = 0;
    int Total() const { return Errors + Warnings + Notes; }
};
Tally TallyOf(const std::vector<FunctionFindings>& all);

// One line per finding, "02:00.0  warning  link x4 at ...", without line ends.
std::vector<std::string> FindingLines(const std::vector<FunctionFindings>& all);

}  // namespace findings
