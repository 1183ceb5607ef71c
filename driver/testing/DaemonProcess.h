// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- quorrin-driverd started as a process of its own,
// its standard output on a pipe and its standard error in a file.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/testing/TestBus.h"

namespace driverd::testing {

struct DaemonProcess {
    pid_t Pid = -1;
    int Out = -1;  // read end of its standard output
};

// `inChild` runs in the child just before exec: a lower limit, another user,
// a socket handed over.
inline DaemonProcess StartDaemon(const std::vector<std::string>& arguments, const std::string& errors,
                                 const std::function<void()>& inChild = {}) {
    DaemonProcess run;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return run;
    run.Pid = fork();
    if (run.Pid == 0) {
        dup2(out[1], 1);
        dup2(open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 2);
        if (inChild) inChild();
        std::vector<std::string> args{BuiltProgram("quorrin-driverd")};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    run.Out = out[0];
    return run;
}

}  // namespace driverd::testing
