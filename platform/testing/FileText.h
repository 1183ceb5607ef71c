// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- a file's whole content as bytes, empty when it
// cannot be read. Portable: the tests of both systems use it.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace platform::testing {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace platform::testing
