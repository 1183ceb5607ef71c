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

OutputResult WriteStandardOutput(const char* data, std::size_t size) {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(size < (1u << 20) ? size : (1u << 20));
        if (!::WriteFile(out, data, chunk, &written, nullptr)) {
            const DWORD error = ::GetLastError();
            return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ? OutputResult::Closed : OutputResult::Failed;
        }
        data += written;
        size -= written;
    }
    return OutputResult::Written;
}

int OutputClosedRequest() {
    return static_cast<int>(ERROR_NO_DATA);
}

void EndAsRequested(int request) {
    // A closed pipe ends with its error's number; Ctrl+C and Ctrl+Break with
    // the status of a console program that Ctrl+C ended.
    if (request == static_cast<int>(ERROR_NO_DATA)) ::ExitProcess(ERROR_NO_DATA);
    ::ExitProcess(static_cast<UINT>(0xC000013AUL));
}

}  // namespace platform
