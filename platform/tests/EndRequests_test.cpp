// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the end requests: a caught signal waits to be taken, cuts no
// system call short and ends the process as itself when asked; a signal
// ignored from the start stays ignored; a started program gets the ordinary
// handling.
#include "platform/EndRequests.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Process.h"

namespace {

// Runs the case in a child of its own (the signal mask is the process's to
// keep) and gives its wait status. Exit codes above 0 name the step that failed.
int InChild(int sig, bool ignoredAtStart) {
    const pid_t child = ::fork();
    if (child != 0) {
        int status = -1;
        ::waitpid(child, &status, 0);
        return status;
    }
    if (ignoredAtStart) ::signal(sig, SIG_IGN);
    if (!platform::CatchEndRequests()) ::_exit(10);
    ::kill(::getpid(), sig);
    pollfd ready{platform::EndRequestDescriptor(), POLLIN, 0};
    const bool readable = ::poll(&ready, 1, 200) == 1;
    if (ignoredAtStart) ::_exit(readable || platform::TakeEndRequest() != 0 ? 11 : 0);
    // A sleep is not cut short: the signal is nobody's to take but ours.
    if (!readable || ::usleep(1000) != 0) ::_exit(12);
    // A program started now is ended by the same signal.
    platform::ProcessHandle sleeper;
    if (!platform::StartProcess("/bin/sleep", "30", false, sleeper)) ::_exit(13);
    int status = 0;
    if (::kill(sleeper.Pid(), sig) != 0 || ::waitpid(sleeper.Pid(), &status, 0) != sleeper.Pid() ||
        !WIFSIGNALED(status) || WTERMSIG(status) != sig) {
        ::_exit(14);
    }
    const int request = platform::TakeEndRequest();
    if (request != sig || platform::TakeEndRequest() != 0) ::_exit(15);
    platform::EndAsRequested(request);
}

TEST(EndRequests, ACaughtSignalWaitsAndEndsTheProcessAsItself) {
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        const int status = InChild(sig, false);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
            << strsignal(sig) << ": wait status " << status << " (exit " << WEXITSTATUS(status) << ")";
        EXPECT_EQ(InChild(sig, true), 0) << strsignal(sig) << " ignored from the start was caught";
    }
}

}  // namespace
