// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the process utilities: the viewer's start, replacement and
// fallback, child process hygiene, and the priority classes.
#include "app/process/ProcessUnit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "log/wexerrorlog.h"
#include "platform/Files.h"
#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"
#include "speaker/wexspeakerclass.h"

namespace fs = std::filesystem;

namespace {

class CountingTones : public ToneSink {
public:
    int Beeps = 0;
    void Beep(unsigned frequency, int duration) override {
        if (frequency != 0 || duration != 0) ++Beeps;
    }
    void Pause(int) override {}
};

struct Record {
    int Code;
    std::string Message;
};

using platform::testing::ReadFile;

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The nice value of a thread or process, field 19 of its stat file.
int NiceOf(const std::string& statPath) {
    std::string stat = ReadFile(statPath);
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return 1000;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 19; ++i) rest >> field;
    return std::atoi(field.c_str());
}

// True once the process behind pidfd has ended.
bool Ended(int pidfd) {
    pollfd p{pidfd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

int OpenPidfd(int pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

class ProcessUnitTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldCwd_ = platform::GetCurrentDir();
        temp_ = std::make_unique<platform::testing::TempFolder>("quorrin-process-");
        folder_ = temp_->Path();
        fs::create_directories(folder_ + "/fallback");
        SetViewerFallbackFolderForTesting(folder_ + "/fallback/");
        ASSERT_TRUE(platform::SetCurrentDir(folder_));
        SetToneSink(&tones_);
        StartErrorLog(false, "1.2", "Quorrin", nullptr);
        ASSERT_TRUE(ErrorLog);
        before_ = Records().size();
    }
    void TearDown() override {
        KillProgram(ViewerProcess);
        SetViewerFallbackFolderForTesting("");
        EndErrorLog(false);
        SetToneSink(nullptr);
        platform::SetCurrentDir(oldCwd_);
        temp_.reset();
    }

    std::vector<Record> NewRecords() const {
        auto all = Records();
        return {all.begin() + static_cast<long>(before_), all.end()};
    }
    std::vector<Record> Records() const {
        std::vector<Record> out;
        std::string text = ReadFile(folder_ + "/Quorrin.Log");
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            pos = end + 2;
            if (line.size() >= 29) out.push_back({std::atoi(line.substr(0, 6).c_str()), line.substr(29)});
        }
        return out;
    }
    // A stand-in viewer that reports how it was started and then waits.
    void WriteViewer(const std::string& where, const std::string& tail = "exec sleep 30\n") {
        const std::string path = where + "/ViewLogs";
        std::ofstream(path) << "#!/bin/sh\n"
                               "printf '%s|%s|%s|%s' \"$#\" \"$1\" \"$(pwd)\" \"$QUORRIN_PROBE\" > \"$1.viewer.$$\"\n"
                            << tail;
        fs::permissions(path, fs::perms::owner_all);
    }
    int Beeps1Error() {
        CountingTones probe;
        SetToneSink(&probe);
        BeepError();
        SetToneSink(&tones_);
        return probe.Beeps;
    }

    CountingTones tones_;
    std::unique_ptr<platform::testing::TempFolder> temp_;
    std::string folder_, oldCwd_;
    std::size_t before_ = 0;
};

TEST_F(ProcessUnitTest, ViewerGetsTheLogsRealPathAsItsOneArgument) {
    WriteViewer(folder_);
    setenv("QUORRIN_PROBE", "inherited", 1);
    ShowLogViewer();
    unsetenv("QUORRIN_PROBE");
    ASSERT_FALSE(ViewerProcess.Handle.Empty());
    const std::string log = folder_ + "/Quorrin.Log";
    const std::string report = log + ".viewer." + std::to_string(ViewerProcess.Handle.Pid());
    ASSERT_TRUE(WaitFor([&] { return fs::exists(report); }));
    EXPECT_EQ(ReadFile(report), "1|" + log + "|" + folder_ + "|inherited");
    // The path given names the file the log writes, letter case and all.
    EXPECT_TRUE(fs::exists(log));
    EXPECT_TRUE(NewRecords().empty());
    EXPECT_EQ(tones_.Beeps, 0);
}

TEST_F(ProcessUnitTest, SecondViewerReplacesTheFirst) {
    WriteViewer(folder_);
    ShowLogViewer();
    ASSERT_FALSE(ViewerProcess.Handle.Empty());
    const int firstPid = ViewerProcess.Handle.Pid();
    const int first = OpenPidfd(firstPid);
    ASSERT_GE(first, 0);
    ShowLogViewer();
    ASSERT_FALSE(ViewerProcess.Handle.Empty());
    EXPECT_NE(ViewerProcess.Handle.Pid(), firstPid);
    EXPECT_TRUE(Ended(first));
    close(first);
    const int second = OpenPidfd(ViewerProcess.Handle.Pid());
    EXPECT_FALSE(Ended(second));
    KillProgram(ViewerProcess);
    EXPECT_TRUE(ViewerProcess.Handle.Empty());
    EXPECT_TRUE(WaitFor([&] { return Ended(second); }));
    close(second);
}

TEST_F(ProcessUnitTest, ViewerTheUserClosedIsReleasedQuietly) {
    WriteViewer(folder_, "exit 0\n");
    ShowLogViewer();
    ASSERT_FALSE(ViewerProcess.Handle.Empty());
    const int pid = ViewerProcess.Handle.Pid();
    // Ended but not reaped: still our zombie until KillProgram.
    ASSERT_TRUE(WaitFor([&] {
        return ReadFile("/proc/" + std::to_string(pid) + "/stat").find(") Z ") != std::string::npos;
    }));
    KillProgram(ViewerProcess);
    EXPECT_TRUE(ViewerProcess.Handle.Empty());
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
    EXPECT_TRUE(NewRecords().empty());
    KillProgram(ViewerProcess);  // nothing held: nothing happens
    EXPECT_TRUE(ViewerProcess.Handle.Empty());
}

TEST_F(ProcessUnitTest, FallbackFolderIsTriedAfterOneErrorPattern) {
    WriteViewer(folder_ + "/fallback");
    ShowLogViewer();
    EXPECT_FALSE(ViewerProcess.Handle.Empty());
    auto records = NewRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Code, 1);
    EXPECT_EQ(records[0].Message,
              "Could Not Find ViewLogs.  Looking in Debug Directory.  BUILD ERROR FOR INSTALL.");
    EXPECT_EQ(tones_.Beeps, Beeps1Error());
}

TEST_F(ProcessUnitTest, BothMissingGivesTwoPatternsAndTwoRecordsInOrder) {
    ShowLogViewer();
    EXPECT_TRUE(ViewerProcess.Handle.Empty());
    auto records = NewRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Message,
              "Could Not Find ViewLogs.  Looking in Debug Directory.  BUILD ERROR FOR INSTALL.");
    EXPECT_EQ(records[1].Message,
              "Could Not Find Debug  " + folder_ + "/fallback/ViewLogs.  Cannot View Log Files");
    EXPECT_EQ(records[0].Code, 1);
    EXPECT_EQ(records[1].Code, 1);
    const int one = Beeps1Error();
    ASSERT_GT(one, 0);
    EXPECT_EQ(tones_.Beeps, 2 * one);
}

TEST_F(ProcessUnitTest, ViewerIsNotLookedForOnThePath) {
    fs::create_directories(folder_ + "/onpath");
    WriteViewer(folder_ + "/onpath");
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (folder_ + "/onpath:" + oldPath).c_str(), 1);
    ShowLogViewer();
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_TRUE(ViewerProcess.Handle.Empty());
    EXPECT_EQ(NewRecords().size(), 2u);
}

TEST_F(ProcessUnitTest, ViewerIsFoundInTheStartFolderWhateverTheCurrentDirectory) {
    WriteViewer(folder_);
    fs::create_directories(folder_ + "/elsewhere");
    ASSERT_TRUE(platform::SetCurrentDir(folder_ + "/elsewhere"));
    ShowLogViewer();
    EXPECT_FALSE(ViewerProcess.Handle.Empty());
    EXPECT_EQ(platform::GetCurrentDir(), folder_ + "/elsewhere") << "the process's current directory is left alone";
}

TEST_F(ProcessUnitTest, ChildGetsNoDescriptorsBeyondTheStandardThree) {
    // A descriptor this process would hand down if nothing closed it.
    const int leaky = open("/dev/null", O_RDONLY);  // no O_CLOEXEC on purpose
    ASSERT_GE(leaky, 0);
    ASSERT_GE(dup2(leaky, 57), 0);
    const std::string out = folder_ + "/fds";
    const int file = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int savedOut = dup(1);
    dup2(file, 1);
    ProcessRecord record;
    const bool started = RunProgram("/bin/ls", "/proc/self/fd", false, record);
    dup2(savedOut, 1);
    close(savedOut);
    close(file);
    close(leaky);
    close(57);
    ASSERT_TRUE(started);
    int status = 0;
    ASSERT_EQ(waitpid(record.Handle.Pid(), &status, 0), record.Handle.Pid());
    KillProgram(record);
    std::istringstream listed(ReadFile(out));
    std::vector<int> fds;
    for (int fd; listed >> fd;) fds.push_back(fd);
    // 0 to 2, and the one ls opened to read the folder.
    ASSERT_EQ(fds.size(), 4u) << ReadFile(out);
    EXPECT_EQ(fds[0], 0);
    EXPECT_EQ(fds[1], 1);
    EXPECT_EQ(fds[2], 2);
    EXPECT_EQ(std::count(fds.begin(), fds.end(), 57), 0);
}

TEST_F(ProcessUnitTest, IdleStartRunsAtNiceNineteen) {
    const int mine = NiceOf("/proc/self/stat");
    for (bool idle : {true, false}) {
        ProcessRecord record;
        ASSERT_TRUE(RunProgram("/bin/sleep", "30", idle, record));
        const std::string stat = "/proc/" + std::to_string(record.Handle.Pid()) + "/stat";
        // The child may still be between fork and exec; its nice is set before exec.
        ASSERT_TRUE(WaitFor([&] { return ReadFile(stat).find("(sleep)") != std::string::npos; }));
        EXPECT_EQ(NiceOf(stat), idle ? 19 : mine) << idle;
        KillProgram(record);
        EXPECT_TRUE(record.Handle.Empty());
    }
}

TEST_F(ProcessUnitTest, FailedStartLeavesTheRecordAsItWas) {
    ProcessRecord record;
    ASSERT_TRUE(RunProgram("/bin/sleep", "30", false, record));
    const int pid = record.Handle.Pid();
    EXPECT_FALSE(RunProgram(folder_ + "/missing", "x", false, record));
    EXPECT_FALSE(RunProgram(folder_, "x", false, record));  // a folder is no program
    EXPECT_EQ(record.Handle.Pid(), pid);
    KillProgram(record);
}

TEST_F(ProcessUnitTest, PriorityTableWritesOneLinePerCall) {
    // A thread that exists before the call, as the timer thread does.
    std::atomic<bool> stop{false};
    std::atomic<long> tid{0};
    std::thread other([&] {
        tid = syscall(SYS_gettid);
        while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(WaitFor([&] { return tid != 0; }));
    const struct {
        bool High, Realtime;
        const char* Name;
        int Nice;
    } cases[] = {
        {true, true, "HIGH", -10},  // high wins over realtime
        {true, false, "HIGH", -10},
        {false, true, "REALTIME", -20},
        {false, false, "NORMAL", 0},
    };
    for (const auto& c : cases) {
        const std::size_t mark = Records().size();
        SetProgramPriority(c.High, c.Realtime);
        auto all = Records();
        ASSERT_EQ(all.size(), mark + 1) << c.Name;
        const bool took = platform::CurrentNiceValue() == c.Nice;
        if (took) {
            EXPECT_EQ(all.back().Code, 0);
            EXPECT_EQ(all.back().Message, std::string("SETTING PRIORITY OF APPLICATION TO ") + c.Name);
            EXPECT_EQ(NiceOf("/proc/self/task/" + std::to_string(tid) + "/stat"), c.Nice);
        } else {
            EXPECT_EQ(all.back().Code, 1);
            EXPECT_EQ(all.back().Message, std::string("COULD NOT SET PRIORITY OF APPLICATION TO ") + c.Name);
        }
    }
    stop = true;
    other.join();
}

}  // namespace
