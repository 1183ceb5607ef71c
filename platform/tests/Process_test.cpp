// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the child-process layer: pidfd handles, detached starts, nice
// values and the 32-on-64-bit decision.
#include "platform/Process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/personality.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"

namespace fs = std::filesystem;

namespace {

using platform::testing::ReadFile;

// Each test's own folder.
struct TempFolder : platform::testing::TempFolder {
    TempFolder() : platform::testing::TempFolder("quorrin-platform-") {}
};

// True when no child of ours has ended unreaped; looks without reaping, so
// other tests' children are left alone.
bool NoZombieChild() {
    siginfo_t info{};
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno == ECHILD;
    return info.si_pid == 0;
}

bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 1000 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(path);
}

TEST(StartDetached, LeavesNoChildBehindAndTheProgramRunsOn) {
    TempFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string out = dir.Path() + "/ppid";
    // The program reports its parent once the intermediate child is gone.
    ASSERT_TRUE(platform::StartDetached(
        {"/bin/sh", "-c", "sleep 0.2; echo $PPID > '" + out + ".tmp'; mv '" + out + ".tmp' '" + out + "'"}));
    // Nothing of ours is left to reap: no zombie now, none later.
    EXPECT_TRUE(NoZombieChild());
    ASSERT_TRUE(WaitForFile(out));
    EXPECT_NE(std::atoi(ReadFile(out).c_str()), static_cast<int>(getpid()));
    EXPECT_TRUE(NoZombieChild());
}

TEST(StartDetached, FailsWhenTheProgramCannotBeExecuted) {
    EXPECT_FALSE(platform::StartDetached({"/nonexistent/bin/sh", "x"}));
    EXPECT_FALSE(platform::StartDetached({"/tmp"}));  // a folder
    EXPECT_FALSE(platform::StartDetached({}));
    EXPECT_TRUE(NoZombieChild());  // the failed starts are reaped too
}

// A program runs in the folder it is given (ours without one), a relative
// program file is looked for there, and our own current directory stays.
TEST(StartDetached, RunsInTheFolderGivenAndLeavesOursAlone) {
    TempFolder dir;
    fs::create_directory(dir.Path() + "/cwd");
    fs::create_directory(dir.Path() + "/given");
    const std::string script = "#!/bin/sh\npwd > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"\n";
    std::ofstream(dir.Path() + "/given/where") << script;
    fs::permissions(dir.Path() + "/given/where", fs::perms::owner_all);
    const platform::Folder given = platform::Folder::Open(dir.Path() + "/given");
    ASSERT_TRUE(given.IsOpen());
    struct Case {
        const char* what;
        bool (*start)(const std::string& out, const platform::Folder& in);
        bool inGiven;
    };
    const Case cases[] = {
        {"detached", [](const std::string& out, const platform::Folder&) {
             return platform::StartDetached({"/bin/sh", "-c", "pwd > '" + out + ".tmp'; mv '" + out + ".tmp' '" + out + "'"});
         }, false},
        {"detached in a folder", [](const std::string& out, const platform::Folder& in) {
             return platform::StartDetached({"/bin/sh", "where", out}, in);
         }, true},
        {"process, relative file", [](const std::string& out, const platform::Folder& in) {
             platform::ProcessHandle handle;
             const bool started = platform::StartProcess("where", out, false, handle, in);
             handle.Reset();
             return started;
         }, true},
    };
    const fs::path old = fs::current_path();
    fs::current_path(dir.Path() + "/cwd");
    for (const Case& c : cases) {
        const std::string out = dir.Path() + "/" + c.what;
        ASSERT_TRUE(c.start(out, given)) << c.what;
        EXPECT_EQ(fs::current_path(), dir.Path() + "/cwd") << c.what;
        ASSERT_TRUE(WaitForFile(out)) << c.what;
        EXPECT_EQ(ReadFile(out), dir.Path() + (c.inGiven ? "/given" : "/cwd") + "\n") << c.what;
    }
    fs::current_path(old);
}

// A started program goes with its starter, also when the starter is killed
// outright and runs nothing on its way out.
TEST(StartProcess, TheProgramDiesWithAStarterKilledOutright) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t starter = fork();
    ASSERT_GE(starter, 0);
    if (starter == 0) {
        close(report[0]);
        platform::ProcessHandle handle;
        const int pid = platform::StartProcess("/bin/sleep", "30", false, handle) ? handle.Pid() : -1;
        if (write(report[1], &pid, sizeof pid) != sizeof pid) _exit(2);
        for (;;) pause();
    }
    close(report[1]);
    int pid = -1;
    ASSERT_EQ(read(report[0], &pid, sizeof pid), static_cast<ssize_t>(sizeof pid));
    close(report[0]);
    ASSERT_GT(pid, 0);
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    ASSERT_GE(pidfd, 0);
    ASSERT_EQ(kill(starter, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(starter, &status, 0), starter);
    pollfd ended{pidfd, POLLIN, 0};
    EXPECT_EQ(poll(&ended, 1, 10000), 1) << "the program outlived its starter";
    close(pidfd);
}

// The program's raised priority is its own: started programs (the viewer,
// the install script and what that starts) run at normal priority, or idle.
TEST(StartProcess, StartedProgramsDoNotInheritARaisedPriority) {
    TempFolder dir;
    const std::string script = dir.Path() + "/nice.sh";
    std::ofstream(script) << "#!/bin/sh\nnice > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"\n";
    fs::permissions(script, fs::perms::owner_all);
    const int before = platform::CurrentNiceValue();
    const bool raised = setpriority(PRIO_PROCESS, 0, -10) == 0;
    // Without the right to raise it, a value we started with above 0 is kept.
    const std::string normal = std::to_string(raised ? 0 : std::max(before, 0)) + "\n";
    struct Case {
        const char* what;
        bool detached, idle;
        std::string nice;
    };
    const Case cases[] = {
        {"normal", false, false, normal}, {"idle", false, true, "19\n"}, {"detached", true, false, normal}};
    for (const Case& c : cases) {
        const std::string out = dir.Path() + "/" + c.what;
        platform::ProcessHandle handle;
        ASSERT_TRUE(c.detached ? platform::StartDetached({"/bin/sh", script, out})
                               : platform::StartProcess(script, out, c.idle, handle));
        ASSERT_TRUE(WaitForFile(out)) << c.what;
        EXPECT_EQ(ReadFile(out), c.nice)
            << c.what << (raised ? " from nice -10" : " from our own nice value");
    }
    setpriority(PRIO_PROCESS, 0, before);
}

TEST(ProcessHandle, TerminateEndsAndReapsAndEmpties) {
    platform::ProcessHandle handle;
    EXPECT_TRUE(handle.Empty());
    handle.Terminate(1);  // nothing held: nothing happens
    ASSERT_TRUE(platform::StartProcess("/bin/sleep", "30", false, handle));
    ASSERT_FALSE(handle.Empty());
    const int pid = handle.Pid();
    handle.Terminate(1);
    EXPECT_TRUE(handle.Empty());
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
}

TEST(ProcessHandle, MoveTransfersOwnership) {
    platform::ProcessHandle a;
    ASSERT_TRUE(platform::StartProcess("/bin/sleep", "30", false, a));
    const int pid = a.Pid();
    platform::ProcessHandle b(std::move(a));
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(b.Pid(), pid);
    platform::ProcessHandle c;
    c = std::move(b);
    EXPECT_TRUE(b.Empty());
    c.Terminate(1);
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
}

TEST(IsWow64Decision, OnlyA32BitProcessOnA64BitKernel) {
    const struct {
        int Bits;
        const char* Machine;
        unsigned long Persona;
        bool Wow64;
    } cases[] = {
        {32, "x86_64", PER_LINUX, true},  {32, "aarch64", PER_LINUX, true},
        {32, "i686", PER_LINUX, false},   {32, "i686", PER_LINUX32, true},  // under linux32
        {64, "x86_64", PER_LINUX, false}, {64, "x86_64", PER_LINUX32, false},
        {32, "armv7l", PER_LINUX, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::IsWow64Decision(c.Bits, c.Machine, c.Persona), c.Wow64) << c.Bits << " " << c.Machine;
}

}  // namespace
