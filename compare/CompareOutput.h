// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- a comparison as the text an engineer reads (changes
// first, standing findings after, the summary last) and as JSON with the same
// content; for a lab, one row per machine and then each one's changes.
#pragma once

#include <string>
#include <vector>

#include "compare/SniffCompare.h"
#include "compare/SniffInput.h"

namespace compare {

struct OutputStyle {
    bool Color = false;  // terminal colours
};

// One current side of a lab comparison: read and compared, or a problem.
struct LabEntry {
    std::string Path;
    std::string Problem;  // why it could not be read; empty when it was
    Sniff Current;
    Comparison Result;
};

// 0 agree, 4 differ, 1 not all compared or a problem (for the lab: the worst of all).
int ExitStatusOf(const Comparison& comparison);
int ExitStatusOf(const std::vector<LabEntry>& lab);

std::string ComparisonText(const Sniff& baseline, const Sniff& current, const Comparison& comparison,
                           const CompareOptions& options, const OutputStyle& style);
std::string LabText(const Sniff& baseline, const std::vector<LabEntry>& lab, const CompareOptions& options,
                    const OutputStyle& style);

// One object for one current side; a lab gives one per entry, in order.
std::string ComparisonJson(const Sniff& baseline, const Sniff& current, const Comparison& comparison,
                           const CompareOptions& options);
std::string LabJson(const Sniff& baseline, const std::vector<LabEntry>& lab, const CompareOptions& options);

}  // namespace compare
