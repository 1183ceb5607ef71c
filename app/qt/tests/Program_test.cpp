// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the built program itself, run under the offscreen platform with a
// preloaded hook that answers its message boxes: the second copy, closing,
// and an exception escaping an event handler.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>

#include "driver/testing/StalledDriver.h"
#include "platform/testing/FileText.h"
#include "platform/testing/RuntimeFolder.h"
#include "platform/testing/TempFolder.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string BinDir = QUORRIN_BIN_DIR;
const std::string StartBanner = "------------------PROGRAM START--------------------";
const std::string EndBanner = "------------------PROGRAM END--------------------";

struct TempFolder : platform::testing::TempFolder {
    TempFolder() : platform::testing::TempFolder("quorrin-program-") {}
    std::string operator/(const std::string& name) const { return Path() + "/" + name; }
};

using platform::testing::ReadFile;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::string Message(const std::string& line) { return line.size() >= 29 ? line.substr(29) : ""; }

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// What else a run needs: another program of the build (quorrin-sniff), its
// arguments, a file for its standard error, another user to run it as.
struct RunAs {
    std::string program = "quorrin";
    std::vector<std::string> arguments;
    std::string errors;
    const passwd* user = nullptr;
};

// One run of a built program in `folder`, with the hook's settings (an empty
// value removes the variable).
class Quorrin {
public:
    Quorrin(const std::string& folder, const std::map<std::string, std::string>& hook,
            const RunAs& run = {}) {
        std::map<std::string, std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const char* eq = std::strchr(*e, '=');
            if (eq != nullptr) env[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
        }
        env["QT_QPA_PLATFORM"] = "offscreen";
        if (run.program == "quorrin") env["LD_PRELOAD"] = BinDir + "/libquorrin_testhook.so";
        // A sanitizer build wants its runtime first; the hook comes before it.
        env["ASAN_OPTIONS"] = env["ASAN_OPTIONS"] + (env["ASAN_OPTIONS"].empty() ? "" : ":") +
                              "verify_asan_link_order=0";
        for (const auto& [name, value] : hook) env[name] = value;
        std::vector<std::string> texts;
        for (const auto& [name, value] : env) {
            if (!value.empty()) texts.push_back(name + "=" + value);
        }
        std::vector<char*> envp;
        for (auto& t : texts) envp.push_back(t.data());
        envp.push_back(nullptr);
        const std::string program = BinDir + "/" + run.program;
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : run.arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        pid_ = ::fork();
        if (pid_ == 0) {
            if (!run.errors.empty()) {
                const int errors = ::open(run.errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (errors < 0 || ::dup2(errors, 2) < 0) ::_exit(119);
            }
            if (run.user != nullptr && (::setgroups(0, nullptr) != 0 || ::setgid(run.user->pw_gid) != 0 ||
                                        ::setuid(run.user->pw_uid) != 0)) {
                ::_exit(118);
            }
            if (::chdir(folder.c_str()) != 0) ::_exit(120);
            ::signal(SIGINT, SIG_DFL);  // as from a terminal, whatever ran these tests
            ::execve(program.c_str(), argv.data(), envp.data());
            ::_exit(121);
        }
    }
    pid_t Pid() const { return pid_; }
    ~Quorrin() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool Running() {
        if (ended_) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            status_ = status;
        }
        return !ended_;
    }

    // The wait status once the program has ended; -1 when it ran too long
    // (it is then killed).
    int Wait(std::chrono::seconds limit = 60s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (Running()) {
            if (std::chrono::steady_clock::now() > until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                ended_ = true;
                return -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = 0;
};

bool WaitForFile(const std::string& path, Quorrin& program, std::chrono::seconds limit = 60s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(path)) {
        if (!program.Running() || std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

bool ExitedWith(int status, int code) { return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == code; }

class ProgramTest : public ::testing::Test {
protected:
    // The guard of this test's copies alone: a Quorrin running on the
    // machine neither stops them nor is stopped by them.
    void SetUp() override { runtime.Use(); }
    platform::testing::RuntimeFolder runtime;
    TempFolder start;    // the programs' start folder: only their logs go here
    TempFolder control;  // the hook's files
};

// A viewer that stays until it is ended and leaves its process id in the
// file $QUORRIN_TEST_VIEWER_PID names.
void PutStandInViewer(const std::string& folder) {
    const std::string viewer = folder + "/ViewLogs";
    std::ofstream(viewer)
        << "#!/bin/sh\necho $$ > \"$QUORRIN_TEST_VIEWER_PID.tmp\"\n"
           "mv \"$QUORRIN_TEST_VIEWER_PID.tmp\" \"$QUORRIN_TEST_VIEWER_PID\"\nexec sleep 600\n";
    fs::permissions(viewer, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
}

// True when the process is gone; one that is not is ended.
bool EndedOrEnd(pid_t pid) {
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH)) return true;
    ::kill(pid, SIGKILL);
    return false;
}

TEST_F(ProgramTest, SecondCopyIsRefusedAndLeavesTheFirstAndItsLogAlone) {
    Quorrin first(start.Path(), {{"QUORRIN_HOOK_ACTION", "wait"},
                                 {"QUORRIN_HOOK_READY", control / "ready"},
                                 {"QUORRIN_HOOK_CLOSE_FILE", control / "close"},
                                 {"QUORRIN_HOOK_BOXES", control / "boxes-first"}});
    ASSERT_TRUE(WaitForFile(control / "ready", first)) << "the first copy did not come up";
    const std::string before = ReadFile(start / "Quorrin.Log");
    ASSERT_EQ(Count(before, StartBanner), 1);

    Quorrin second(start.Path(), {{"QUORRIN_HOOK_BOXES", control / "boxes-second"}});
    const int status = second.Wait();
    EXPECT_TRUE(ExitedWith(status, 3)) << "wait status " << status;
    EXPECT_EQ(ReadFile(control / "boxes-second"),
              "RUN FAIL|ALREADY HAVE THE PROGRAM RUNNING.  KILL IT FIRST!|icon=0|buttons=1024\n");

    EXPECT_TRUE(first.Running()) << "the first copy did not survive the second";
    const std::string during = ReadFile(start / "Quorrin.Log");
    EXPECT_EQ(during.substr(0, before.size()), before) << "the second copy touched the first copy's log";
    EXPECT_EQ(Count(during, StartBanner), 1);

    std::ofstream(control / "close") << "close\n";
    EXPECT_TRUE(ExitedWith(first.Wait(), 0));
    const auto lines = Lines(ReadFile(start / "Quorrin.Log"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Message(lines.back()), EndBanner);
    EXPECT_FALSE(fs::exists(control / "boxes-first")) << "the first copy showed a box";

    // With the first copy gone the guard has gone with it.
    Quorrin third(start.Path(), {{"QUORRIN_HOOK_ACTION", "close"}, {"QUORRIN_HOOK_BOXES", control / "boxes-third"}});
    EXPECT_TRUE(ExitedWith(third.Wait(), 0));
    EXPECT_FALSE(fs::exists(control / "boxes-third"));
    const std::string log = ReadFile(start / "Quorrin.Log");
    EXPECT_EQ(Count(log, StartBanner), 1) << "the new run did not replace the old log";
    EXPECT_EQ(Count(log, EndBanner), 1);
}

TEST_F(ProgramTest, EscapingExceptionEndsThroughTheTerminateHandler) {
    Quorrin program(start.Path(), {{"QUORRIN_HOOK_ACTION", "throw"}, {"QUORRIN_HOOK_READY", control / "ready"}});
    const int status = program.Wait();
    ASSERT_TRUE(fs::exists(control / "ready")) << "the window never came up";
    EXPECT_TRUE(ExitedWith(status, 3)) << "wait status " << status;

    const auto lines = Lines(ReadFile(start / "Quorrin.Log"));
    ASSERT_GE(lines.size(), 2u);
    const std::string& record = lines[lines.size() - 2];
    EXPECT_EQ(record.substr(0, 6), "005000");
    EXPECT_EQ(Message(record), "Abnormal Program Termination");
    EXPECT_EQ(Message(lines.back()), EndBanner);
}

// SIGTERM (a logout, systemd), SIGHUP (the terminal gone) and SIGINT end the
// program as its close box does: viewer stopped, end banner, status 0.
TEST_F(ProgramTest, EndSignalsCloseTheProgramAsTheCloseBoxDoes) {
    PutStandInViewer(start.Path());
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        const std::string name = std::to_string(sig);
        Quorrin program(start.Path(), {{"QUORRIN_HOOK_ACTION", "wait"},
                                       {"QUORRIN_HOOK_VIEWER", "1"},
                                       {"QUORRIN_HOOK_READY", control / ("ready" + name)},
                                       {"QUORRIN_TEST_VIEWER_PID", control / ("viewer" + name)}});
        ASSERT_TRUE(WaitForFile(control / ("viewer" + name), program)) << "no viewer came up";
        ASSERT_TRUE(WaitForFile(control / ("ready" + name), program));
        const pid_t viewer = std::stoi(ReadFile(control / ("viewer" + name)));
        ASSERT_EQ(::kill(program.Pid(), sig), 0);
        const int status = program.Wait();
        EXPECT_TRUE(ExitedWith(status, 0)) << strsignal(sig) << ": wait status " << status;
        const std::string log = ReadFile(start / "Quorrin.Log");
        const auto lines = Lines(log);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(Message(lines.back()), EndBanner) << strsignal(sig);
        EXPECT_EQ(Count(log, EndBanner), 1) << strsignal(sig);
        EXPECT_TRUE(EndedOrEnd(viewer)) << strsignal(sig) << ": the viewer outlived the program";
    }
}

// Qt ends the process itself (status 1) when the X server goes away; the log
// still gets its end and the viewer is still stopped.
TEST_F(ProgramTest, LosingTheDisplayStillEndsTheLogAndTheViewer) {
    int display[2];
    ASSERT_EQ(::pipe(display), 0);
    const pid_t server = ::fork();
    if (server == 0) {
        ::close(display[0]);
        const std::string fd = std::to_string(display[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(display[1]);
    // The number, then its line end in a write of its own: the server ends
    // when it cannot write that.
    std::string number;
    char c = 0;
    while (::read(display[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(display[0]);
    if (number.empty()) {
        ::waitpid(server, nullptr, 0);
        GTEST_SKIP() << "no Xvfb to run a display";
    }
    PutStandInViewer(start.Path());
    Quorrin program(start.Path(),
                    {{"QT_QPA_PLATFORM", "xcb"},
                     {"DISPLAY", ":" + number},
                     {"QUORRIN_HOOK_ACTION", "wait"},
                     {"QUORRIN_HOOK_VIEWER", "1"},
                     {"QUORRIN_TEST_VIEWER_PID", control / "viewer"}},
                    {"quorrin", {}, control / "errors", nullptr});
    const bool viewerUp = WaitForFile(control / "viewer", program);
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    ASSERT_TRUE(viewerUp) << "the window never came up on display " << number << ReadFile(control / "errors");
    const pid_t viewer = std::stoi(ReadFile(control / "viewer"));
    const int status = program.Wait();
    EXPECT_TRUE(ExitedWith(status, 1)) << "wait status " << status << "\n" << ReadFile(control / "errors");
    const auto lines = Lines(ReadFile(start / "Quorrin.Log"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Message(lines.back()), EndBanner);
    EXPECT_TRUE(EndedOrEnd(viewer)) << "the viewer outlived the program";
}

TEST_F(ProgramTest, TheSniffLeavesARunningWindowAndItsLogAlone) {
    Quorrin window(start.Path(), {{"QUORRIN_HOOK_ACTION", "wait"},
                                  {"QUORRIN_HOOK_READY", control / "ready"},
                                  {"QUORRIN_HOOK_CLOSE_FILE", control / "close"}});
    ASSERT_TRUE(WaitForFile(control / "ready", window));
    const std::string before = ReadFile(start / "Quorrin.Log");

    Quorrin sniff(start.Path(), {}, {"quorrin-sniff", {"--device", control / "none"}, control / "errors"});
    EXPECT_TRUE(ExitedWith(sniff.Wait(), 3));
    EXPECT_EQ(ReadFile(control / "errors"), "ALREADY HAVE THE PROGRAM RUNNING.  KILL IT FIRST!\n");
    EXPECT_EQ(ReadFile(start / "Quorrin.Log"), before) << "the sniff touched the window's log";

    std::ofstream(control / "close") << "close\n";
    EXPECT_TRUE(ExitedWith(window.Wait(), 0));
    EXPECT_EQ(Message(Lines(ReadFile(start / "Quorrin.Log")).back()), EndBanner);
}

// quorrin --bus: the window sniffs the recorded bus through a private
// service, says so at the start of its log, and leaves no service or folder;
// a file it cannot replay stops it before anything is logged.
TEST_F(ProgramTest, ReplaysARecordedBusInTheWindow) {
    const std::string bus = control / "bus.json";
    std::ofstream(bus) << R"({"functions": [{"bus": 0, "slot": 3, "function": 0, "vendor": "0x8086", "device": "0x100E"}]})";
    Quorrin window(start.Path(), {{"QUORRIN_HOOK_ACTION", "sniff"}}, {"quorrin", {"--bus", bus}, control / "errors"});
    EXPECT_TRUE(ExitedWith(window.Wait(), 0)) << ReadFile(control / "errors");
    const std::string log = ReadFile(start / "Quorrin.Log");
    const auto lines = Lines(log);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Message(lines[2]), "REPLAYING THE RECORDED BUS " + bus + " (the PC information is this machine's)");
    EXPECT_EQ(Message(lines[3]), bus + ": a bus file of 1 functions");
    EXPECT_NE(log.find("PCI Sniff Results.  Found 1 PCI Devices on the Bus"), std::string::npos);
    EXPECT_EQ(Message(lines.back()), EndBanner);
    for (const auto& entry : fs::directory_iterator(runtime.UserFolder(::geteuid())))
        EXPECT_EQ(entry.path().filename().string().rfind("quorrin-replay-", 0), std::string::npos) << entry.path();

    std::ofstream(control / "not-a-bus.txt") << "hello\n";
    fs::remove(start / "Quorrin.Log");
    Quorrin refused(start.Path(), {}, {"quorrin", {"--bus", control / "not-a-bus.txt"}, control / "errors"});
    EXPECT_TRUE(ExitedWith(refused.Wait(), 1));
    // Qt may say its own word about the runtime folder before ours.
    EXPECT_NE(ReadFile(control / "errors").find("quorrin: cannot replay " + control / "not-a-bus.txt" +
                                                ": neither a bus file (JSON) nor the text of lspci -vv -xxx\n"),
              std::string::npos)
        << ReadFile(control / "errors");
    EXPECT_FALSE(fs::exists(start / "Quorrin.Log"));
}

TEST_F(ProgramTest, AWindowStartedWhileASniffRunsIsRefused) {
    StalledDriver driver(control / "stalled");
    Quorrin sniff(start.Path(), {}, {"quorrin-sniff", {"--device", driver.Socket()}, "", nullptr});
    ASSERT_TRUE(driver.WaitForClient()) << "the sniff never came to its driver check";

    TempFolder other;
    Quorrin window(other.Path(), {{"QUORRIN_HOOK_BOXES", control / "boxes"}});
    EXPECT_TRUE(ExitedWith(window.Wait(), 3));
    EXPECT_EQ(ReadFile(control / "boxes"),
              "RUN FAIL|ALREADY HAVE THE PROGRAM RUNNING.  KILL IT FIRST!|icon=0|buttons=1024\n");
    EXPECT_FALSE(fs::exists(other / "Quorrin.Log"));

    driver.Release();
    EXPECT_TRUE(ExitedWith(sniff.Wait(), 2));
    const std::string log = ReadFile(start / "Quorrin.Log");
    EXPECT_EQ(Count(log, StartBanner), 1);
    EXPECT_EQ(Message(Lines(log).back()), EndBanner);
}

// Each user has a guard of their own: `nobody`'s copies (with no runtime
// folder, as from cron) and root's neither block nor are blocked by each
// other, and each user's second copy is still refused.
TEST_F(ProgramTest, AnotherUsersCopiesNeitherBlockNorAreBlocked) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) GTEST_SKIP() << "a second user needs root";
    TempFolder theirs, theirControl;
    for (const std::string& folder : {theirs.Path(), theirControl.Path()}) {
        ASSERT_EQ(::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    const std::map<std::string, std::string> asNobody = {{"XDG_RUNTIME_DIR", ""}, {"HOME", theirs.Path()}};
    auto with = [](std::map<std::string, std::string> settings,
                   const std::map<std::string, std::string>& more) {
        settings.insert(more.begin(), more.end());
        return settings;
    };
    Quorrin theirWindow(theirs.Path(),
                        with(asNobody, {{"QUORRIN_HOOK_ACTION", "wait"},
                                        {"QUORRIN_HOOK_READY", theirControl / "ready"},
                                        {"QUORRIN_HOOK_CLOSE_FILE", theirControl / "close"}}),
                        {"quorrin", {}, "", nobody});
    ASSERT_TRUE(WaitForFile(theirControl / "ready", theirWindow)) << "nobody's window did not come up";

    Quorrin mine(start.Path(), {{"QUORRIN_HOOK_ACTION", "wait"},
                                {"QUORRIN_HOOK_READY", control / "ready"},
                                {"QUORRIN_HOOK_CLOSE_FILE", control / "close"}});
    ASSERT_TRUE(WaitForFile(control / "ready", mine)) << "nobody's window blocked root's";

    const std::vector<std::string> noDriver = {"--device", control / "none"};
    Quorrin mySniff(start.Path(), {}, {"quorrin-sniff", noDriver, "", nullptr});
    EXPECT_TRUE(ExitedWith(mySniff.Wait(), 3)) << "root's second copy was not refused";
    Quorrin theirSniff(theirs.Path(), asNobody, {"quorrin-sniff", noDriver, "", nobody});
    EXPECT_TRUE(ExitedWith(theirSniff.Wait(), 3)) << "nobody's second copy was not refused";

    std::ofstream(theirControl / "close") << "close\n";
    EXPECT_TRUE(ExitedWith(theirWindow.Wait(), 0));
    Quorrin theirNext(theirs.Path(), asNobody, {"quorrin-sniff", noDriver, "", nobody});
    EXPECT_TRUE(ExitedWith(theirNext.Wait(), 2)) << "root's window blocked nobody's sniff";
    std::ofstream(control / "close") << "close\n";
    EXPECT_TRUE(ExitedWith(mine.Wait(), 0));
}

}  // namespace
