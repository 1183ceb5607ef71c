// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- a shell command run in a folder, its standard
// output and exit status taken, as the program tests start built programs.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace platform::testing {

struct ShellRun {
    int Status = -1;  // -1 when the command did not exit by itself
    std::string Out;
};

inline ShellRun RunInFolder(const std::string& folder, const std::string& command) {
    ShellRun run;
    std::FILE* p = popen(("cd '" + folder + "' && " + command).c_str(), "r");
    if (!p) return run;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, p)) > 0) run.Out.append(buffer, got);
    const int status = pclose(p);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace platform::testing
