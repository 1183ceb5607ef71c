// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- the end requests of a Windows console: Ctrl+C and
// Ctrl+Break are noted for the program to take. Closing the console, a
// logoff or a shutdown still end it as before: the system ends the process
// as soon as the handler returns, so noting those would gain nothing.
#include "platform/EndRequests.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

std::atomic<int> waiting{0};

BOOL WINAPI NoteRequest(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    waiting = static_cast<int>(event) + 1;
    return TRUE;
}

}  // namespace

bool CatchEndRequests() {
    return ::SetConsoleCtrlHandler(NoteRequest, TRUE) != FALSE;
}

int EndRequestDescriptor() {
    return -1;
}

int TakeEndRequest() {
    return waiting.exchange(0);
}

void EndAsRequested(int) {
    // The status of a console program that Ctrl+C ended.
    ::ExitProcess(static_cast<UINT>(0xC000013AUL));
}

}  // namespace platform
