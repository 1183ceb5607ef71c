// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- what changed between two sniffs: functions matched by
// location, the differences of each pair, and what each side shows alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "findings/Findings.h"
#include "sniffer/SnifferUnit.h"

namespace compare {

enum class DifferenceKind { Identifiers, Registration, Memory, Io, Interrupt, Config, Eeprom };
const char* DifferenceKindName(DifferenceKind kind);

struct Difference {
    DifferenceKind Kind;
    int Index = -1;                 // BAR, register offset or EEPROM word; -1 where none
    std::string What;               // "config 0x04 command/status", "EEPROM word 5", "memory BAR 2", ...
    std::string Baseline, Current;  // the values as text; "none" where a side lacks it
};

enum class Side { Baseline, Current, Both };
const char* SideName(Side side);

// A health finding of one side, or of both.
struct Finding {
    Side Where;
    std::string Kind;
    findings::Severity Level;
    std::string Text;
};

struct FunctionComparison {
    uint32_t Bus = 0, Slot = 0, Function = 0;
    const PciDeviceRecord* Baseline = nullptr;  // null where the side lacks the function
    const PciDeviceRecord* Current = nullptr;
    std::string SameCardAt;  // a one-side function: where the other side has a card with its identifiers
    std::vector<Difference> Differences;
    std::vector<Finding> Findings;
    bool Differs() const { return !Baseline || !Current || !Differences.empty(); }
};

struct Comparison {
    std::vector<FunctionComparison> Functions;  // every function of both sides, by location
    int Matched = 0, Differing = 0, OnlyBaseline = 0, OnlyCurrent = 0, FindingCount = 0;
    bool Agree() const { return Differing == 0 && OnlyBaseline == 0 && OnlyCurrent == 0; }
};

struct CompareOptions {
    bool AllBits = false;  // compare the status register's error bits too
};

// The status word's error bits (8 and 11-15), which the bus sets and
// software clears, as they sit in configuration double-word 0x04.
constexpr uint32_t StatusErrorBits = 0xF9000000u;

// The tables must outlive the result: it points into them.
Comparison CompareSniffs(const PciDeviceTableType& baseline, const PciDeviceTableType& current,
                         const CompareOptions& options);

}  // namespace compare
