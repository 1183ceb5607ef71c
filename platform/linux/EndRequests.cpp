// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- the end requests as blocked signals read through
// a signalfd: no work is done in a signal handler, and since no thread takes
// the signals, none of them cuts a system call short (a driver request
// waiting for its reply is not failed by a Ctrl+C).
#include "platform/EndRequests.h"

#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <initializer_list>

namespace platform {

namespace {

int endFd = -1;

sigset_t EndSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction current {};
        if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&signals, sig);
    }
    return signals;
}

}  // namespace

bool CatchEndRequests() {
    if (endFd >= 0) return true;
    const sigset_t signals = EndSignals();
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return false;
    endFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (endFd < 0) {
        ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        return false;
    }
    return true;
}

int EndRequestDescriptor() {
    return endFd;
}

int TakeEndRequest() {
    if (endFd < 0) return 0;
    signalfd_siginfo info{};
    ssize_t got;
    do {
        got = ::read(endFd, &info, sizeof info);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

OutputResult WriteStandardOutput(const char* data, std::size_t size) {
    // A reader that quit shows as EPIPE, not as a death in the middle of
    // the program's ending; the SIGPIPE it raises is taken back below.
    sigset_t pipe, previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    OutputResult result = OutputResult::Written;
    while (size > 0) {
        // A full pipe would block the write; waiting in poll instead lets
        // an end request through. A pipe that polls writable takes PIPE_BUF
        // bytes without blocking.
        pollfd wait[2] = {{STDOUT_FILENO, POLLOUT, 0}, {endFd, POLLIN, 0}};
        if (::poll(wait, endFd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            result = OutputResult::Failed;
            break;
        }
        if (endFd >= 0 && (wait[1].revents & POLLIN)) {
            result = OutputResult::Ended;
            break;
        }
        if (wait[0].revents == 0) continue;
        const ssize_t n = ::write(STDOUT_FILENO, data, std::min<std::size_t>(size, PIPE_BUF));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) {
            result = errno == EPIPE ? OutputResult::Closed : OutputResult::Failed;
            break;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    if (!sigismember(&previous, SIGPIPE)) {
        const timespec now{0, 0};
        while (::sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
        }
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    return result;
}

int OutputClosedRequest() {
    return SIGPIPE;
}

void EndAsRequested(int request) {
    if (request > 0) {
        ::signal(request, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, request);
        ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        ::raise(request);
    }
    ::_exit(128 + request);
}

}  // namespace platform
