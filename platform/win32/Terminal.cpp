// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- a console on standard output, set to read the
// escape sequences of colours.
#include "platform/Terminal.h"

#include <windows.h>

namespace platform {

bool StandardOutputShowsColor() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
    // ENABLE_VIRTUAL_TERMINAL_PROCESSING, which older headers lack.
    constexpr DWORD VirtualTerminal = 0x0004;
    return (mode & VirtualTerminal) != 0 || SetConsoleMode(out, mode | VirtualTerminal) != 0;
}

}  // namespace platform
