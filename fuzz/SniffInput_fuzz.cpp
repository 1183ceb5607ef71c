// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin fuzz target -- a file a customer sent, read as one side of a
// comparison (log, report or JSON, whichever it looks like) and compared
// with itself. Whatever the bytes, reading must not run past them, and a
// sniff that was read must agree with itself.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "compare/CompareOutput.h"
#include "compare/SniffCompare.h"
#include "compare/SniffInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    compare::Sniff sniff;
    std::string error;
    // The last complete sniff, or the first or second named.
    if (!compare::ReadSniff(text, size % 3, sniff, error)) return 0;
    if (sniff.Table->Count < 0 || sniff.Table->Count > PciTableCapacity) __builtin_trap();
    const compare::Comparison c = compare::CompareSniffs(*sniff.Table, *sniff.Table, {});
    if (!c.Agree()) __builtin_trap();
    (void)compare::ComparisonText(sniff, sniff, c, {}, {});
    (void)compare::ComparisonJson(sniff, sniff, c, {});
    return 0;
}
