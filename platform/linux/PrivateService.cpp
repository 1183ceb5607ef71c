// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer on Linux -- a private service's folder in the
// user's runtime folder, and its process through a pidfd.
#include "platform/PrivateService.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/Process.h"
#include "platform/linux/UserFolders.h"

namespace platform {

namespace {

int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
int PidfdSendSignal(int pidfd, int sig) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

using userfolders::OwnFolder;

// The user's own folder, found as the single-instance claim finds it.
int OpenRuntimeFolder(std::string& path) { return userfolders::OpenUserFolder(path); }

// Removes the files in an open folder (a service's socket, lock and error
// file); nothing is followed and no folder below is entered.
void EmptyFolder(int fd) {
    const int copy = ::dup(fd);
    if (copy < 0) return;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(dir);
}

// Folders of `prefix` that nobody holds: their process ended without
// removing them (a crash, SIGKILL).
void SweepLeftovers(int runtime, const std::string& prefix) {
    const int copy = ::dup(runtime);
    if (copy < 0) return;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) continue;
        const int fd = ::openat(runtime, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        if (OwnFolder(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            EmptyFolder(fd);
            ::unlinkat(runtime, entry->d_name, AT_REMOVEDIR);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

}  // namespace

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {
    other.path_.clear();
}

PrivateFolder& PrivateFolder::operator=(PrivateFolder&& other) noexcept {
    if (this != &other) {
        Remove();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

bool PrivateFolder::Create(const std::string& prefix, std::string& error) {
    Remove();
    std::string runtimePath;
    const int runtime = OpenRuntimeFolder(runtimePath);
    if (runtime < 0) {
        error = "no runtime folder of this user's own (" + runtimePath + ")";
        return false;
    }
    SweepLeftovers(runtime, prefix);
    // Made under a hidden name and locked before it takes its own, so that
    // no sweep ever meets it unheld.
    std::string hidden = runtimePath + "/." + prefix + "XXXXXX";
    if (::mkdtemp(hidden.data()) == nullptr) {
        error = Why("cannot create a folder in " + runtimePath);
        ::close(runtime);
        return false;
    }
    const std::string hiddenName = hidden.substr(runtimePath.size() + 1);
    const std::string name = hiddenName.substr(1);
    const int fd = ::openat(runtime, hiddenName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || !OwnFolder(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::renameat2(runtime, hiddenName.c_str(), runtime, name.c_str(), RENAME_NOREPLACE) != 0) {
        error = Why("cannot set up a folder in " + runtimePath);
        if (fd >= 0) ::close(fd);
        ::unlinkat(runtime, hiddenName.c_str(), AT_REMOVEDIR);
        ::close(runtime);
        return false;
    }
    ::close(runtime);
    fd_ = fd;
    path_ = runtimePath + "/" + name;
    return true;
}

void PrivateFolder::Remove() {
    if (fd_ < 0) return;
    EmptyFolder(fd_);
    // The runtime folder is the user's own: the name cannot have been swapped.
    ::rmdir(path_.c_str());
    CloseFd(fd_);
    path_.clear();
}

ServiceProcess::ServiceProcess(ServiceProcess&& other) noexcept
    : pidfd_(std::exchange(other.pidfd_, -1)), pid_(std::exchange(other.pid_, -1)),
      out_(std::exchange(other.out_, -1)), pending_(std::move(other.pending_)) {}

ServiceProcess& ServiceProcess::operator=(ServiceProcess&& other) noexcept {
    if (this != &other) {
        Stop();
        pidfd_ = std::exchange(other.pidfd_, -1);
        pid_ = std::exchange(other.pid_, -1);
        out_ = std::exchange(other.out_, -1);
        pending_ = std::move(other.pending_);
    }
    return *this;
}

bool ServiceProcess::Start(const std::vector<std::string>& argvIn, const std::string& errorFile, std::string& error) {
    Stop();
    if (argvIn.empty() || argvIn[0].empty()) {
        error = "no program named";
        return false;
    }
    std::vector<std::string> args = argvIn;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const int err = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (err < 0) {
        error = Why("cannot create " + errorFile);
        return false;
    }
    int out[2], report[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error = Why("pipe");
        ::close(err);
        return false;
    }
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = Why("pipe");
        ::close(err);
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);  // we were gone before the line above
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        // As StartProcess does: a raised priority of ours is not passed on.
        errno = 0;
        const int inherited = ::getpriority(PRIO_PROCESS, 0);
        if (errno == 0 && inherited < NiceValueFor(PriorityClass::Normal))
            ::setpriority(PRIO_PROCESS, 0, NiceValueFor(PriorityClass::Normal));
        const int in = ::open("/dev/null", O_RDONLY);
        if (in >= 0) ::dup2(in, 0);
        ::dup2(out[1], 1);
        ::dup2(err, 2);
        ::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
        ::execv(argv[0], argv.data());
        int why = errno;
        ssize_t ignored = ::write(report[1], &why, sizeof why);
        (void)ignored;
        ::_exit(127);
    }
    ::close(err);
    ::close(out[1]);
    ::close(report[1]);
    if (pid < 0) {
        error = Why("fork");
        ::close(out[0]);
        ::close(report[0]);
        return false;
    }
    // Not reaped yet, so the pid is still this child's alone.
    const int pidfd = PidfdOpen(pid);
    int why = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &why, sizeof why);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof why) || pidfd < 0) {
        if (got != static_cast<ssize_t>(sizeof why)) why = errno;
        if (pidfd >= 0) ::close(pidfd);
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ::close(out[0]);
        errno = why;
        error = Why("cannot start " + argvIn[0]);
        return false;
    }
    pidfd_ = pidfd;
    pid_ = pid;
    out_ = out[0];
    pending_.clear();
    return true;
}

ServiceProcess::Output ServiceProcess::ReadLine(int timeoutMs, std::string& line) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const std::size_t lf = pending_.find('\n');
        if (lf != std::string::npos) {
            line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            return Output::Line;
        }
        if (out_ < 0) return Output::Closed;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return Output::TimedOut;
        pollfd p{out_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return Output::TimedOut;
        char buffer[256];
        const ssize_t got = ready < 0 ? -1 : ::read(out_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            CloseFd(out_);
            return Output::Closed;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

bool ServiceProcess::Running() const {
    if (pidfd_ < 0) return false;
    pollfd p{pidfd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

int ServiceProcess::Stop(int graceMs) {
    CloseFd(out_);
    pending_.clear();
    if (pidfd_ < 0) return -1;
    PidfdSendSignal(pidfd_, SIGTERM);
    pollfd p{pidfd_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, graceMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) PidfdSendSignal(pidfd_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    CloseFd(pidfd_);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace platform
