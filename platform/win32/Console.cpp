// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- standard output through the Win32 console
// services, for console and GUI programs alike.
#include "platform/Console.h"

#include <windows.h>

#include <cstdio>

namespace platform {

bool WriteInfoText(const std::string& text) {
    std::fflush(stdout);
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE console = INVALID_HANDLE_VALUE;
    // A GUI program started from cmd has no standard output; the console it
    // was started from is still there to answer in.
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        console = ::CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
        out = console;
    }
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
    std::string lines;
    lines.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    bool written = true;
    for (std::size_t done = 0; written && done < lines.size();) {
        DWORD count = 0;
        written = ::WriteFile(out, lines.data() + done, static_cast<DWORD>(lines.size() - done), &count,
                              nullptr) != 0 &&
                  count > 0;
        done += count;
    }
    if (console != INVALID_HANDLE_VALUE) ::CloseHandle(console);
    return written;
}

}  // namespace platform
