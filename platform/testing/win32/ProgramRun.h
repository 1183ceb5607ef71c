// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- one of the built Windows programs run in a folder,
// its standard output and error in a file there, for a minute at most (then
// it is ended and the run counts as failed).
#pragma once

#include <windows.h>

#include <string>

#include "platform/testing/FileText.h"

namespace platform::testing {

struct ProgramRun {
    DWORD Status = 0xFFFFFFFF;
    std::string Out;
};

inline std::string ReadAll(const std::string& path) { return ReadFile(path); }

// `program` without ".exe", from the build's bin folder; `arguments` as the
// command line has them after the program's name.
inline ProgramRun RunProgram(const std::string& folder, const std::string& program,
                             const std::string& arguments) {
    ProgramRun run;
    const std::string outPath = folder + "\\" + program + ".out";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = ::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return run;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    const std::string path = QUORRIN_BIN_DIR "/" + program + ".exe";
    std::string commandLine = program + ".exe" + (arguments.empty() ? "" : " " + arguments);
    PROCESS_INFORMATION started{};
    const BOOL ok = ::CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     folder.c_str(), &startup, &started);
    ::CloseHandle(out);
    if (!ok) return run;
    if (::WaitForSingleObject(started.hProcess, 60000) != WAIT_OBJECT_0)
        ::TerminateProcess(started.hProcess, 99);
    ::WaitForSingleObject(started.hProcess, 5000);
    ::GetExitCodeProcess(started.hProcess, &run.Status);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    run.Out = ReadAll(outPath);
    return run;
}

}  // namespace platform::testing
