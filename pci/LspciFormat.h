// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI facts -- how lspci names a function at the start of the line
// that opens its block: "[domain:]bus:slot.function " in hexadecimal, the
// domain (four digits or more) only with -D or on a machine with several.
// The service's reader of lspci text and the comparison's kind detection
// both go by it.
#pragma once

#include <cstdint>
#include <string_view>

namespace lspci {

struct FunctionName {
    uint32_t Domain = 0;
    uint32_t Bus = 0;
    uint32_t Slot = 0;
    uint32_t Function = 0;
};

namespace detail {
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
// Exactly `digits` hex digits at `at` (or `digits` or more when `orMore`).
constexpr bool Hex(std::string_view line, std::size_t& at, std::size_t digits, bool orMore, uint32_t& value) {
    value = 0;
    std::size_t n = 0;
    while (at < line.size() && HexDigit(line[at]) >= 0 && (orMore || n < digits)) {
        if (n == 8) return false;  // wider than any number lspci prints here
        value = value * 16 + static_cast<uint32_t>(HexDigit(line[at]));
        ++at;
        ++n;
    }
    return n >= digits && (orMore || n == digits);
}
}  // namespace detail

// True when `line` opens a function's block; `name` then holds its parts.
constexpr bool ParseFunctionName(std::string_view line, FunctionName& name) {
    name = {};
    std::size_t at = 0;
    uint32_t first = 0;
    if (!detail::Hex(line, at, 2, true, first) || at >= line.size() || line[at] != ':') return false;
    ++at;
    // With a domain the first number has four digits or more and is followed
    // by the bus; without one it is the bus.
    uint32_t second = 0;
    const std::size_t firstDigits = at - 1;
    if (firstDigits >= 4) {
        name.Domain = first;
        if (!detail::Hex(line, at, 2, false, second) || at >= line.size() || line[at] != ':') return false;
        ++at;
        name.Bus = second;
    } else if (firstDigits == 2) {
        name.Bus = first;
    } else {
        return false;
    }
    if (!detail::Hex(line, at, 2, false, name.Slot) || name.Slot > 0x1F) return false;
    if (at >= line.size() || line[at] != '.') return false;
    ++at;
    if (at >= line.size() || line[at] < '0' || line[at] > '7') return false;
    name.Function = static_cast<uint32_t>(line[at] - '0');
    ++at;
    return at < line.size() && line[at] == ' ';
}

// lspci's and libpci's own messages ("lspci: Unable to load libkmod
// resources"), there when standard error was kept with the output (2>&1).
constexpr bool IsToolMessage(std::string_view line) {
    return line.starts_with("lspci: ") || line.starts_with("pcilib: ");
}

// Whether a text is lspci's at all: its first line that is neither blank
// nor one of lspci's messages opens a function's block.
constexpr bool LooksLikeLspciText(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // an editor's byte-order mark
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view{} : text.substr(lf + 1);
        if (line.find_first_not_of(" \t\r") == std::string_view::npos || IsToolMessage(line)) continue;
        FunctionName name;
        return ParseFunctionName(line, name);
    }
    return false;
}

}  // namespace lspci
