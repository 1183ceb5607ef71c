// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- a terminal on standard output, and whether it
// takes colours.
#include "platform/Terminal.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace platform {

bool StandardOutputShowsColor() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) == 1 && !(term && std::strcmp(term, "dumb") == 0);
}

}  // namespace platform
