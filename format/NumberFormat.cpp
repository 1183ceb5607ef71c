// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin format -- the decimal and hexadecimal formatters and their shared
// pad-or-cut step.
#include "format/NumberFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <locale>
#include <new>
#include <stdexcept>

namespace {

constexpr int SignificantDigits = 18;

char ReadDecimalSeparator() {
    try {
        // A locale object of its own: the process's global C locale (which a
        // GUI toolkit may have set) is neither read nor changed.
        const std::locale user("");
        return std::use_facet<std::numpunct<char>>(user).decimal_point();
    } catch (...) {
        return '.';  // a LANG naming a locale that is not installed
    }
}

std::string HexDigits(uint32_t value) {
    char digits[8];
    for (int i = 7; i >= 0; --i) {
        digits[i] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    }
    return std::string(digits, 8);
}

std::string MinimalHexDigits(uint32_t value) {
    std::string digits = HexDigits(value);
    while (digits.size() > 1 && digits.front() == '0') digits.erase(digits.begin());
    return digits;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// 18 significant digits in exponent form: mantissa "d.ddd" with its
// trailing zeros dropped, then "E+nn".
std::string ExponentText(bool negative, const std::string& digits, int exponent, char separator) {
    std::string mantissa = digits.substr(0, 1);
    std::string fraction = digits.substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) mantissa += separator + fraction;
    std::string text = negative ? "-" : "";
    text += mantissa;
    text += exponent < 0 ? "E-" : "E+";
    const std::string power = std::to_string(exponent < 0 ? -exponent : exponent);
    text += power.size() < 2 ? "0" + power : power;
    return text;
}

// The value rounded to `decimals` places, with no more than `shown` of
// them written: the rest would be cut anyway.
std::string FixedText(double value, int decimals, int shown, char separator) {
    // The value rounded to 18 significant digits, locale-free.
    char buffer[64];
    const auto converted = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                         std::chars_format::scientific, SignificantDigits - 1);
    if (converted.ec != std::errc()) return "Nan";
    const std::string scientific(buffer, converted.ptr);
    const auto e = scientific.find('e');
    if (e == std::string::npos) return "Nan";
    std::string digits = scientific.substr(0, 1) + scientific.substr(2, e - 2);
    int exponent = std::stoi(scientific.substr(e + 1));
    const bool negative = std::signbit(value);

    if (exponent + 1 > SignificantDigits) return ExponentText(negative, digits, exponent, separator);

    // digits holds d1 d2 ... d18 with the decimal point after `point` digits.
    int point = exponent + 1;
    const int keep = point + decimals;  // digits that survive the rounding
    if (keep < 0) {
        digits.assign(digits.size(), '0');
    } else if (keep < static_cast<int>(digits.size())) {
        const bool roundUp = digits[keep] >= '5';
        digits.resize(keep);
        if (roundUp) {
            int i = keep - 1;
            while (i >= 0 && digits[i] == '9') digits[i--] = '0';
            if (i >= 0) {
                ++digits[i];
            } else {
                digits.insert(digits.begin(), '1');
                ++point;
            }
        }
    }
    if (point > SignificantDigits) {
        return ExponentText(negative, digits.substr(0, SignificantDigits), point - 1, separator);
    }

    auto digitAt = [&](int position) {  // position 0 is the first digit of `digits`
        return position >= 0 && position < static_cast<int>(digits.size()) ? digits[position] : '0';
    };
    std::string integer;
    if (point <= 0) {
        integer = "0";
    } else {
        for (int i = 0; i < point; ++i) integer += digitAt(i);
    }
    std::string fraction;
    for (int i = 0; i < std::min(decimals, shown); ++i) fraction += digitAt(point + i);

    // What is left after the rounding, written or not: a value that rounds
    // to zero has no sign.
    const bool zero = std::all_of(digits.begin(), digits.end(), [](char c) { return c == '0'; });
    std::string text = negative && !zero ? "-" : "";
    text += integer;
    if (decimals > 0) text += separator + fraction;
    return text;
}

}  // namespace

char DecimalSeparator() {
    static const char separator = ReadDecimalSeparator();
    return separator;
}

std::string PadOrCut(int32_t width, char fill, const std::string& text) {
    // A negative width asks for nothing at all rather than a cut past the start.
    const std::size_t wanted = width > 0 ? static_cast<std::size_t>(width) : 0;
    if (text.size() < wanted) return std::string(wanted - text.size(), fill) + text;
    if (text.size() > wanted) return text.substr(0, wanted);
    return text;
}

std::string DecimalText(double value, int32_t maxWidth, int32_t decimals) {
    if (!std::isfinite(value)) return "Nan";
    try {
        // Rounded to the decimals asked for, then cut: 9.96 to two places in
        // one character is "9". A double has no digit past the 342nd place
        // (18 significant digits, exponents down to -324), so any larger count
        // rounds alike; and no more decimals than the width are written.
        const int32_t width = std::max<int32_t>(maxWidth, 0);
        const int32_t places = std::clamp<int32_t>(decimals, 0, 400);
        std::string text = FixedText(value, places, width, DecimalSeparator());
        if (text.size() > static_cast<std::size_t>(width)) text.resize(width);
        return text;
    } catch (...) {
        return "Nan";
    }
}

// Wider than any field could be: the conversion counts as failed rather
// than fill gigabytes with zeros.
constexpr int32_t WidestHexField = 65535;

std::string Hex32Text(uint32_t value, int32_t width, bool prefix) {
    std::string text;
    try {
        if (width > WidestHexField) throw std::length_error("hex field");
        const std::string digits = MinimalHexDigits(value);
        text = PadOrCut(width, '0',
                        PadOrCut(std::max<int32_t>(width, static_cast<int32_t>(digits.size())), '0', digits));
    } catch (...) {  // a width too large to fill
        text = "invalid";
    }
    text = Upper(text);
    return prefix ? "0x" + text : text;
}

std::string Hex64Text(long double value, int32_t width, bool prefix) {
    // long double carries 64 mantissa bits on x86, so every 64-bit pattern
    // arrives exactly.
    constexpr long double lowest = -9223372036854775808.0L;   // -2^63
    constexpr long double highest = 18446744073709551615.0L;  // 2^64 - 1
    if (std::isnan(value) || value < lowest || value > highest) return "OVERFLOW";
    const long double whole = std::trunc(value);
    const uint64_t pattern =
        whole >= 0 ? static_cast<uint64_t>(whole) : static_cast<uint64_t>(static_cast<int64_t>(whole));
    if (width > WidestHexField) return "OVERFLOW";
    std::string text;
    if (pattern > 0xFFFFFFFFULL) {
        text = HexDigits(static_cast<uint32_t>(pattern >> 32)) + HexDigits(static_cast<uint32_t>(pattern));
    } else {
        // A 32-bit pattern is zero-filled to the field's width, as Hex32Text
        // does, so that 255 in a field of 2 reads FF. At the width of 8 every
        // caller uses this is the same as a fixed eight digits.
        text = MinimalHexDigits(static_cast<uint32_t>(pattern));
        text = PadOrCut(std::max<int32_t>(width, static_cast<int32_t>(text.size())), '0', text);
    }
    text = PadOrCut(width, '0', text);
    text = Upper(text);
    return prefix ? "0x" + text : text;
}
