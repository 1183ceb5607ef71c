// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- standard output through the C runtime.
#include "platform/Console.h"

#include <cstdio>

namespace platform {

bool WriteInfoText(const std::string& text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return std::fflush(stdout) == 0 && written;
}

}  // namespace platform
