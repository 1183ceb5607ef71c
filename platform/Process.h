// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- child processes, priority and the process's own id.
#pragma once

#include <string>
#include <vector>

#include "platform/Files.h"

namespace platform {

// A started child process, held through a pidfd so that terminating it can
// never reach another process that has since taken its id.
class ProcessHandle {
public:
    ProcessHandle() = default;
    ~ProcessHandle();
    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    bool Empty() const { return pidfd_ < 0; }
    int Pid() const { return pid_; }
    // Ends the process (whether or not it still runs) and reaps it. A signal
    // cannot carry an exit code: the process ends by SIGKILL and exitCode is
    // only what the caller means by it.
    void Terminate(int exitCode);
    // Lets go of the process without ending it; reaps it if it has already
    // ended.
    void Reset();

private:
    friend bool StartProcess(const std::string&, const std::string&, bool, ProcessHandle&, const Folder&);
    int pidfd_ = -1;
    int pid_ = -1;
};

// Starts programFile (a path, not searched for on PATH; a relative one
// resolves against `in`) with `argument` as its one argument, the caller's
// environment, `in` as its current directory (the caller's when `in` is not
// open), no descriptors beyond 0 to 2, and nice 19 when idle is set, else
// normal priority (nice 0, or the caller's own value when it is above 0).
// True once the program has been executed; on failure `handle` is left as
// it was. The caller's own current directory is never changed.
bool StartProcess(const std::string& programFile, const std::string& argument, bool idle,
                  ProcessHandle& handle, const Folder& in = InCurrentDirectory);

// Starts argv[0] with the arguments argv in `in`, at normal priority as
// StartProcess does, and lets it run on unobserved: it is started through an
// intermediate child that is reaped at once, so it never becomes our zombie
// and we hold nothing of it. True once the program has been executed.
bool StartDetached(const std::vector<std::string>& argv, const Folder& in = InCurrentDirectory);

// Starts a batch file detached, under the system's command interpreter
// (/bin/sh here, cmd.exe on Windows), with the file's path as its only
// argument, in `in`. True once the interpreter runs.
bool StartBatchFile(const std::string& path, const Folder& in = InCurrentDirectory);

// Priority classes of the process as a whole (every thread).
enum class PriorityClass { Idle, Normal, High, Realtime };
int NiceValueFor(PriorityClass priority);
bool SetProcessPriority(PriorityClass priority);
int CurrentNiceValue();  // of the calling thread

// True when this process runs as 32-bit code on a 64-bit kernel.
bool IsWow64Process();
// The decision behind it, from the process's pointer width, the kernel's
// machine name (uname) and the process's personality.
bool IsWow64Decision(int pointerBits, const std::string& machine, unsigned long personality);

unsigned CurrentProcessId();

}  // namespace platform
