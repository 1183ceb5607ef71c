// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the program's life on the real subsystems, each in its own
// temporary start folder: start-up order, shutdown (also twice), the guard,
// and the terminate handler in a child process.
#include "app/shell/ProgramLife.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/process/ProcessUnit.h"
#include "app/shell/MainWindowModel.h"
#include "app/shell/RealShellServices.h"
#include "log/wexerrorlog.h"
#include "platform/Clock.h"
#include "platform/SingleInstance.h"
#include "platform/testing/FileText.h"
#include "platform/testing/RuntimeFolder.h"
#include "platform/testing/TempFolder.h"
#include "speaker/wexspeakerclass.h"
#include "timing/TimeUnit.h"

namespace fs = std::filesystem;

namespace {

class SilentSink : public ToneSink {
public:
    void Beep(unsigned, int) override {}
    void Pause(int) override {}
};

class CaptionView : public MainWindowView {
public:
    void ClearMemo() override {}
    void AppendMemo(const std::string&) override {}
    void SetCaption(const std::string& text) override {
        caption = text;
        ++captions;
    }
    void PostAfterShow() override {}
    void ShowPlainBox(const std::string&, const std::string&) override { ++boxes; }
    std::string AskSaveBusFile(const std::string&) override { return ""; }
    std::string caption;
    int captions = 0;
    int boxes = 0;
};

// Makes a fresh folder the current directory for one test.
class TempStartFolder {
public:
    TempStartFolder() : previous_(fs::current_path()) { fs::current_path(folder_.Path()); }
    ~TempStartFolder() {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
    }
    const std::string& Path() const { return folder_.Path(); }
    std::string LogPath() const { return folder_.Path() + "/Quorrin.Log"; }

private:
    platform::testing::TempFolder folder_{"quorrin-shell-"};
    fs::path previous_;
};

using platform::testing::ReadFile;

// The log's lines without their CR LF; fails the test on a bare LF.
std::vector<std::string> LogLines(const std::string& path) {
    const std::string text = ReadFile(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated last line: " << text.substr(start);
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The message of a record line: everything after code, stamp and blanks.
std::string Message(const std::string& line) { return line.size() >= 29 ? line.substr(29) : ""; }
std::string Code(const std::string& line) { return line.substr(0, 6); }

bool ProcessGone(int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

class ProgramLifeTest : public ::testing::Test {
protected:
    void SetUp() override { SetToneSink(&silent); }
    void TearDown() override {
        ShutDown(form);  // harmless when the test has already shut down
        SetToneSink(nullptr);
        std::set_terminate(nullptr);
    }

    SilentSink silent;
    TempStartFolder folder;
    CaptionView view;
    RealShellServices services;
    MainWindowModel form{view, services};
};

TEST_F(ProgramLifeTest, StartUpOpensTheLogStartsTheClockAndSetsTheCaption) {
    const int periodsBefore = platform::TimerPeriodRequests();
    ProgramClosing = true;
    StartUp(form);

    EXPECT_EQ(StartFolder, fs::canonical(folder.Path()).string());
    EXPECT_FALSE(ProgramClosing);
    ASSERT_NE(MultTimer, nullptr);
    EXPECT_GT(CurrentTime, 0.0);
    EXPECT_LE(CurrentTime, MaxReading);
    EXPECT_EQ(form.LastTitleTime, CurrentTime);
    EXPECT_EQ(view.captions, 1);
    EXPECT_EQ(view.caption, TitleText(CurrentTime));
    EXPECT_EQ(std::get_terminate(), &AbnormalTermination);

    const auto lines = LogLines(folder.LogPath());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Code(lines[0]), "000000");
    EXPECT_EQ(Message(lines[0]), "------------------PROGRAM START--------------------");
    EXPECT_EQ(Message(lines[1]), "Program Version 1.2");
    // The priority line comes after the PC information and is the last one.
    const std::string priority = Message(lines.back());
    EXPECT_TRUE(priority == "SETTING PRIORITY OF APPLICATION TO HIGH" ||
                priority == "COULD NOT SET PRIORITY OF APPLICATION TO HIGH")
        << priority;
    EXPECT_GT(lines.size(), 3u) << "no PC information between the version line and the priority line";

    ShutDown(form);
    EXPECT_TRUE(ProgramClosing);
    EXPECT_EQ(MultTimer, nullptr);
    EXPECT_EQ(platform::TimerPeriodRequests(), periodsBefore) << "a 1 ms period request was not released";
    const auto after = LogLines(folder.LogPath());
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(Message(after.back()), "------------------PROGRAM END--------------------");
}

TEST_F(ProgramLifeTest, ShutDownTwiceReleasesEverythingOnce) {
    StartUp(form);
    ShutDown(form);
    const std::string once = ReadFile(folder.LogPath());
    ShutDown(form);
    EXPECT_EQ(ReadFile(folder.LogPath()), once) << "the second shutdown wrote to the log";
    EXPECT_EQ(MultTimer, nullptr);
    int ends = 0;
    for (const auto& line : LogLines(folder.LogPath())) ends += Message(line) == "------------------PROGRAM END--------------------";
    EXPECT_EQ(ends, 1);
}

TEST_F(ProgramLifeTest, ShutDownEndsAViewerStillRunning) {
    StartUp(form);
    ASSERT_TRUE(RunProgram("/bin/sleep", "30", true, ViewerProcess));
    const int pid = ViewerProcess.Handle.Pid();
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(ProcessGone(pid));

    ShutDown(form);
    EXPECT_TRUE(ViewerProcess.Handle.Empty());
    EXPECT_TRUE(ProcessGone(pid)) << "the viewer outlived the program";
}

TEST(AlreadyRunningTest, SeesAnotherHolderOfTheGuard) {
    platform::testing::RuntimeFolder runtime;
    runtime.Use();
    const std::string name = "QuorrinTest_Guard_" + std::to_string(::getpid());
    {
        platform::SingleInstance other;
        ASSERT_EQ(other.Claim(name), platform::ClaimResult::Claimed);
        EXPECT_TRUE(AlreadyRunning(name));
    }
    EXPECT_FALSE(AlreadyRunning(name)) << "the guard outlived its holder";
    // We now hold it ourselves: another claim on it fails.
    platform::SingleInstance later;
    EXPECT_EQ(later.Claim(name), platform::ClaimResult::AlreadyClaimed);
}

[[noreturn]] void ThrowEscaped() { throw std::runtime_error("escaped"); }
// Called through a pointer so the compiler cannot see the throw inside.
void (*volatile Thrower)() = ThrowEscaped;
void CallThrowerNoexcept() noexcept { Thrower(); }

// How the child lets an exception escape.
enum class Escape { NoexceptFunction, OtherThread, TerminateCalled };

[[noreturn]] void RunChild(const std::string& folder, Escape how, int pidPipe) {
    static SilentSink silent;
    SetToneSink(&silent);
    if (::chdir(folder.c_str()) != 0) std::_Exit(90);
    static CaptionView view;
    static RealShellServices services;
    static MainWindowModel form{view, services};
    StartUp(form);
    if (!RunProgram("/bin/sleep", "30", true, ViewerProcess)) std::_Exit(91);
    const int viewer = ViewerProcess.Handle.Pid();
    if (::write(pidPipe, &viewer, sizeof viewer) != sizeof viewer) std::_Exit(92);
    switch (how) {
        case Escape::NoexceptFunction:
            CallThrowerNoexcept();
            break;
        case Escape::OtherThread: {
            std::thread worker([] { throw std::logic_error("escaped on a worker"); });
            worker.join();
            break;
        }
        case Escape::TerminateCalled:
            std::terminate();
    }
    std::_Exit(93);
}

TEST(AbnormalTerminationTest, LogsShutsDownAndEndsWithStatusThree) {
    const Escape cases[] = {Escape::NoexceptFunction, Escape::OtherThread, Escape::TerminateCalled};
    for (Escape how : cases) {
        SCOPED_TRACE(static_cast<int>(how));
        TempStartFolder folder;
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeFds[0]);
            RunChild(folder.Path(), how, pipeFds[1]);
        }
        ::close(pipeFds[1]);
        int viewer = -1;
        const bool gotViewer = ::read(pipeFds[0], &viewer, sizeof viewer) == sizeof viewer;
        ::close(pipeFds[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 3);
        ASSERT_TRUE(gotViewer);
        EXPECT_TRUE(ProcessGone(viewer)) << "the viewer outlived the abnormal end";

        const auto lines = LogLines(folder.LogPath());
        ASSERT_GE(lines.size(), 2u);
        const std::string& record = lines[lines.size() - 2];
        EXPECT_EQ(Code(record), "005000");
        EXPECT_EQ(Message(record), "Abnormal Program Termination");
        EXPECT_EQ(Message(lines.back()), "------------------PROGRAM END--------------------");
    }
}

}  // namespace
