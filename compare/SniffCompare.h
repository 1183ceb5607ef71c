// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- what changed between two sniffs: functions matched by
// location (a card that moved matched as one), the differences of each pair,
// and the findings each side shows.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "compare/SniffInput.h"
#include "findings/Findings.h"
#include "sniffer/SnifferUnit.h"

namespace compare {

enum class DifferenceKind { Identifiers, Registration, Memory, Io, Interrupt, Config, Eeprom, Location };
const char* DifferenceKindName(DifferenceKind kind);

struct Difference {
    DifferenceKind Kind;
    int Index = -1;                 // BAR, register offset or EEPROM word; -1 where none
    std::string What;               // "config 0x04 command/status", "EEPROM word 5", "memory BAR 2", ...
    std::string Baseline, Current;  // the values as text; "none" where a side lacks it
    std::string Detail;             // the bits that changed, what moved with a card; may be empty
};

enum class Side { Baseline, Current, Both };
const char* SideName(Side side);

// A health finding of one side (cleared or new), or of both (standing).
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
    bool Moved = false;      // both sides, at different locations
    std::string SameCardAt;  // a one-side function: where the other side has a card with its identifiers
    std::string NotCompared;  // why the other side could not be read here; empty when it could
    std::vector<Difference> Differences;
    std::vector<Finding> Findings;
    bool Changed() const;  // a difference, a new or cleared finding, or a side missing
};

// Fields an engineer expects to differ and asks to leave out.
struct IgnoreSet {
    std::set<std::string> Kinds;  // "irq", "eeprom", "config", "location", ...
    std::set<int> ConfigOffsets;  // "config:0x04"
    std::set<int> EepromWords;    // "eeprom:5"
    std::vector<std::string> Named;  // as given, in order
};
// False with `error` for a field no comparison knows.
bool AddIgnored(IgnoreSet& ignore, std::string_view field, std::string& error);
// "02:04.0" (lspci's form; a domain "0000:" before it is taken).
bool ParseLocation(std::string_view text, uint64_t& key);

struct CompareOptions {
    bool AllBits = false;  // compare the status register's error bits too
    IgnoreSet Ignore;
    std::vector<uint64_t> Only;  // compare these locations alone; empty: all
    std::vector<std::string> OnlyNamed;
};

enum class Verdict { Agree, Differ, Incomplete };

struct Comparison {
    std::vector<FunctionComparison> Functions;  // every function of both sides, by location
    int Matched = 0, Moved = 0, Differing = 0, OnlyBaseline = 0, OnlyCurrent = 0, NotCompared = 0;
    int Changes = 0;          // the lines of change
    int StandingFindings = 0;
    std::map<std::string, int> Ignored;  // field -> the differences left out for it
    Verdict Result() const;
    bool Agree() const { return Result() == Verdict::Agree; }
};

// The tables must outlive the result: it points into them.
Comparison CompareSniffs(const PciDeviceTableType& baseline, const PciDeviceTableType& current,
                         const CompareOptions& options);
// The same, and what each side could not read is marked not compared.
Comparison CompareSniffs(const Sniff& baseline, const Sniff& current, const CompareOptions& options);

}  // namespace compare
