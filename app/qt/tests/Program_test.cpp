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

#include <gtest/gtest.h>

#include "platform/SingleInstance.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string BinDir = QUORRIN_BIN_DIR;
const std::string StartBanner = "------------------PROGRAM START--------------------";
const std::string EndBanner = "------------------PROGRAM END--------------------";

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/quorrin-program-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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

// One run of the built program in `folder`, with the hook's settings.
class Quorrin {
public:
    Quorrin(const std::string& folder, const std::map<std::string, std::string>& hook) {
        std::map<std::string, std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const char* eq = std::strchr(*e, '=');
            if (eq != nullptr) env[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
        }
        env["QT_QPA_PLATFORM"] = "offscreen";
        env["LD_PRELOAD"] = BinDir + "/libquorrin_testhook.so";
        // A sanitizer build wants its runtime first; the hook comes before it.
        env["ASAN_OPTIONS"] = env["ASAN_OPTIONS"] + (env["ASAN_OPTIONS"].empty() ? "" : ":") +
                              "verify_asan_link_order=0";
        for (const auto& [name, value] : hook) env[name] = value;
        std::vector<std::string> texts;
        for (const auto& [name, value] : env) texts.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& t : texts) envp.push_back(t.data());
        envp.push_back(nullptr);
        const std::string program = BinDir + "/quorrin";

        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(folder.c_str()) != 0) ::_exit(120);
            char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
            ::execve(program.c_str(), argv, envp.data());
            ::_exit(121);
        }
    }
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
    void SetUp() override {
        platform::SingleInstance probe;
        if (probe.Claim("Protect_Quorrin") == platform::ClaimResult::AlreadyClaimed) {
            GTEST_SKIP() << "a Quorrin is running on this machine";
        }
    }
    TempFolder start;    // the programs' start folder: only their logs go here
    TempFolder control;  // the hook's files
};

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

}  // namespace
