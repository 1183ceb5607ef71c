// Quorrin platform layer -- child processes, priority and the process's own id.
#pragma once

#include <string>

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
    // Ends the process (whether or not it still runs) and reaps it.
    void Terminate(int exitCode);
    void Reset();

private:
    friend bool StartProcess(const std::string&, const std::string&, bool, ProcessHandle&);
    int pidfd_ = -1;
    int pid_ = -1;
};

unsigned CurrentProcessId();

}  // namespace platform
