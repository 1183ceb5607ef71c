// SPDX-License-Identifier: GPL-2.0-or-later
// A stand-in for the log viewer in the Windows process tests: writes how it
// was started (its whole command line and its current folder) beside the file its command line names, then waits to be ended.
#include <windows.h>

#include <string>

int main() {
    const std::string commandLine = ::GetCommandLineA();
    char folder[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryA(sizeof folder, folder);
    const std::string report = commandLine + "|" + folder + "\n";
    // One line per start, appended: a replaced viewer's id may come back.
    const std::string path = commandLine + ".viewer";
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::SetFilePointer(file, 0, nullptr, FILE_END);
        DWORD written = 0;
        ::WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    ::Sleep(30000);
    return 0;
}
