// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- a comparison as the text an engineer reads, grouped by
// function, and as JSON with the same content.
#pragma once

#include <string>

#include "compare/SniffCompare.h"
#include "compare/SniffInput.h"

namespace compare {

// The two sources, every function that differs or shows a finding, and the
// summary line.
std::string ComparisonText(const Sniff& baseline, const Sniff& current, const Comparison& comparison);
std::string ComparisonJson(const Sniff& baseline, const Sniff& current, const Comparison& comparison);

}  // namespace compare
