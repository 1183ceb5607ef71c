// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer on Linux -- child processes through pidfds, nice
// values for the priority classes, and the 32-on-64-bit test.
#include "platform/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// Debian 12's <sys/pidfd.h> declares these without C linkage, so the
// system calls are made directly.
int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
int PidfdSendSignal(int pidfd, int sig) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

// Both ends close on exec: the child's copy vanishes when the program starts,
// so the parent reads end of file on success and the errno on failure.
struct ExecPipe {
    int fds[2] = {-1, -1};
    bool Open() { return pipe2(fds, O_CLOEXEC) == 0; }
    ~ExecPipe() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    void CloseWrite() {
        close(fds[1]);
        fds[1] = -1;
    }
    // 0 when the program was executed, else the child's errno.
    int ReadResult() {
        int error = 0;
        ssize_t got;
        do {
            got = read(fds[0], &error, sizeof error);
        } while (got < 0 && errno == EINTR);
        return got == static_cast<ssize_t>(sizeof error) ? error : 0;
    }
};

[[noreturn]] void ReportAndExit(int reportFd) {
    int error = errno;
    ssize_t ignored = write(reportFd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// Runs in the child after fork: only async-signal-safe calls from here on.
// `folderFd` (when not -1) becomes its current directory, which the caller's
// stays as it was.
[[noreturn]] void ExecChild(char* const argv[], bool idle, int reportFd, int folderFd) {
    if (folderFd >= 0 && fchdir(folderFd) != 0) ReportAndExit(reportFd);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    // Nothing but 0 to 2 reaches the program; the report pipe goes at exec.
    if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != reportFd) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    // CreateProcess gives a program the normal class, not ours: our raised
    // priority stays ours. A value above normal (we were started with nice)
    // is passed on, as Windows passes on a below-normal class.
    errno = 0;
    const int inherited = getpriority(PRIO_PROCESS, 0);
    if (idle) {
        setpriority(PRIO_PROCESS, 0, NiceValueFor(PriorityClass::Idle));
    } else if (errno == 0 && inherited < NiceValueFor(PriorityClass::Normal)) {
        setpriority(PRIO_PROCESS, 0, NiceValueFor(PriorityClass::Normal));
    }
    execv(argv[0], argv);
    ReportAndExit(reportFd);
}

std::vector<char*> ArgvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

pid_t WaitPid(pid_t pid, int& status, int options) {
    pid_t r;
    do {
        r = waitpid(pid, &status, options);
    } while (r < 0 && errno == EINTR);
    return r;
}

}  // namespace

ProcessHandle::~ProcessHandle() { Reset(); }

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : pidfd_(other.pidfd_), pid_(other.pid_) {
    other.pidfd_ = -1;
    other.pid_ = -1;
}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        Reset();
        pidfd_ = other.pidfd_;
        pid_ = other.pid_;
        other.pidfd_ = -1;
        other.pid_ = -1;
    }
    return *this;
}

void ProcessHandle::Terminate(int /*exitCode*/) {
    if (pidfd_ < 0) return;
    // The pidfd names this very process even if it has ended; a process
    // that is already gone makes the signal fail, which is fine.
    PidfdSendSignal(pidfd_, SIGKILL);
    // Not yet reaped, so the pid is still ours alone.
    int status = 0;
    WaitPid(pid_, status, 0);
    close(pidfd_);
    pidfd_ = -1;
    pid_ = -1;
}

void ProcessHandle::Reset() {
    if (pidfd_ < 0) return;
    int status = 0;
    WaitPid(pid_, status, WNOHANG);
    close(pidfd_);
    pidfd_ = -1;
    pid_ = -1;
}

bool StartProcess(const std::string& programFile, const std::string& argument, bool idle,
                  ProcessHandle& handle, const Folder& in) {
    if (programFile.empty()) return false;
    std::vector<std::string> args{programFile, argument};
    std::vector<char*> argv = ArgvOf(args);
    ExecPipe report;
    if (!report.Open()) return false;
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        // Ours goes with us, also when we are killed outright: the signal
        // comes when the forking thread ends, and the program forks on its
        // GUI thread, which lives as long as the process. Had we already
        // gone before the request, no signal would ever come.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) ReportAndExit(report.fds[1]);
        if (getppid() != parent) _exit(127);
        ExecChild(argv.data(), idle, report.fds[1], in.Descriptor());
    }
    report.CloseWrite();
    // The child is not reaped before we say so, so the pid cannot have been
    // taken by anyone else yet.
    int pidfd = PidfdOpen(pid);
    int error = report.ReadResult();
    int status = 0;
    if (error != 0 || pidfd < 0) {
        if (pidfd >= 0) close(pidfd);
        if (error == 0) kill(pid, SIGKILL);
        WaitPid(pid, status, 0);
        return false;
    }
    handle.Reset();
    handle.pidfd_ = pidfd;
    handle.pid_ = pid;
    return true;
}

bool StartDetached(const std::vector<std::string>& argvIn, const Folder& in) {
    if (argvIn.empty() || argvIn[0].empty()) return false;
    std::vector<std::string> args = argvIn;
    std::vector<char*> argv = ArgvOf(args);
    ExecPipe report;
    if (!report.Open()) return false;
    pid_t middle = fork();
    if (middle < 0) return false;
    if (middle == 0) {
        // _Fork runs no fork handlers: the lone thread of this child may not
        // take locks that another thread of ours held at the first fork.
        pid_t grandchild = _Fork();
        if (grandchild == 0) {
            setsid();  // outlives us without our terminal's signals
            ExecChild(argv.data(), false, report.fds[1], in.Descriptor());
        }
        int error = errno;
        if (grandchild < 0) {
            ssize_t ignored = write(report.fds[1], &error, sizeof error);
            (void)ignored;
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    report.CloseWrite();
    int status = 0;
    WaitPid(middle, status, 0);
    // The grandchild's copy of the write end stays open until it executes
    // the program (or fails to).
    return report.ReadResult() == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool StartBatchFile(const std::string& path, const Folder& in) {
    if (path.empty()) return false;
    return StartDetached({"/bin/sh", path}, in);
}

bool SetProcessPriority(PriorityClass priority) {
    // A nice value belongs to one thread on Linux; a priority class belongs
    // to the whole process, so every thread is set.
    const int nice = NiceValueFor(priority);
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return setpriority(PRIO_PROCESS, 0, nice) == 0;
    bool ok = true;
    bool any = false;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        id_t tid = static_cast<id_t>(std::strtoul(entry->d_name, nullptr, 10));
        if (tid == 0) continue;
        any = true;
        if (setpriority(PRIO_PROCESS, tid, nice) != 0 && errno != ESRCH) ok = false;
    }
    closedir(tasks);
    return ok && any;
}

int CurrentNiceValue() {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    return errno == 0 ? nice : 0;
}

bool IsWow64Decision(int pointerBits, const std::string& machine, unsigned long persona) {
    if (pointerBits != 32) return false;
    // linux32/setarch make uname report a 32-bit machine on a 64-bit kernel.
    if ((persona & PER_MASK) == PER_LINUX32) return true;
    static const char* const wide[] = {"x86_64", "aarch64", "ppc64", "ppc64le", "s390x",
                                       "mips64", "riscv64", "sparc64", "loongarch64"};
    for (const char* m : wide)
        if (machine == m) return true;
    return false;
}

bool IsWow64Process() {
    utsname u{};
    if (uname(&u) != 0) return false;
    int persona = personality(0xffffffff);
    return IsWow64Decision(static_cast<int>(sizeof(void*) * 8), u.machine,
                           persona < 0 ? 0ul : static_cast<unsigned long>(persona));
}

unsigned CurrentProcessId() { return static_cast<unsigned>(getpid()); }

}  // namespace platform
