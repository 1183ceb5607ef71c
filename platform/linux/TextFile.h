// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer (Linux) -- reading the small text files of /proc,
// /sys and /etc whole.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace platform {

// The file's contents, or empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace platform
