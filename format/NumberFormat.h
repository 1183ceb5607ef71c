// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin format -- number-to-text formatters shared by the report, the log
// and the PC information block. They never fail: a value they cannot show
// becomes "Nan", "INVALID" or "OVERFLOW". A width is a maximum as well as a
// minimum: a longer text is cut to its leftmost characters.
#pragma once

#include <cstdint>
#include <string>

// Fixed point with `decimals` digits (the locale's decimal separator), cut to
// at most maxWidth characters, never filled up.
std::string DecimalText(double value, int32_t maxWidth, int32_t decimals);

// Upper-case hex, zero-filled to `width` and cut to its `width` most
// significant digits; "0x" in front when prefix is set.
std::string Hex32Text(uint32_t value, int32_t width, bool prefix);

// As Hex32Text for values from -2^63 to 2^64-1 (negative values as their 64-bit
// two's complement, fractions truncated); "OVERFLOW" outside that range.
std::string Hex64Text(long double value, int32_t width, bool prefix);

// The user's decimal separator, read once from the locale settings without
// touching the process's own locale; '.' when the settings cannot be read.
char DecimalSeparator();

// Fills `text` on the left with `fill` up to `width`, or cuts it to its first
// `width` characters.
std::string PadOrCut(int32_t width, char fill, const std::string& text);
