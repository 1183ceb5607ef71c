// SPDX-License-Identifier: GPL-2.0-or-later
// The process utilities on Windows: the viewer found by its whole file name
// in the start folder, or else in the fallback folder, started idle with the
// log's path as its whole command line, replaced (ended with code 1), and
// the priority classes and the 32-on-64 test against the system.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/process/ProcessUnit.h"
#include "log/wexerrorlog.h"
#include "platform/Files.h"
#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"
#include "speaker/wexspeakerclass.h"

namespace fs = std::filesystem;

namespace {

class SilentTones : public ToneSink {
public:
    int Beeps = 0;
    void Beep(unsigned frequency, int duration) override {
        if (frequency != 0 || duration != 0) ++Beeps;
    }
    void Pause(int) override {}
};

std::string ReadAll(const fs::path& path) { return platform::testing::ReadFile(path.string()); }

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class ProcessUnitWin32 : public testing::Test {
protected:
    void SetUp() override {
        saved_ = platform::GetCurrentDir();
        fallback_ = folder_.Path() + "\\fallback\\";
        fs::create_directory(fallback_);
        SetViewerFallbackFolderForTesting(fallback_);
        ASSERT_TRUE(platform::SetCurrentDir(folder_.Path()));
        SetToneSink(&tones_);
        StartErrorLog(false, "1.2", "Quorrin", nullptr);
        ASSERT_TRUE(ErrorLog);
    }
    void TearDown() override {
        KillProgram(ViewerProcess);
        SetViewerFallbackFolderForTesting("");
        EndErrorLog(false);
        SetToneSink(nullptr);
        platform::SetCurrentDir(saved_);
    }
    void PlaceViewer(const std::string& folder) {
        fs::copy_file(QUORRIN_BIN_DIR "/stand-in-viewer.exe", fs::path(folder) / "ViewLogs.exe");
    }
    // The reports of the viewers started so far, one line each.
    std::vector<std::string> Reports() const {
        std::vector<std::string> reports;
        std::istringstream lines(ReadAll(LogPath() + ".viewer"));
        for (std::string line; std::getline(lines, line);) reports.push_back(line);
        return reports;
    }
    static DWORD PriorityOf(const platform::ProcessHandle& handle) {
        HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(handle.Pid()));
        if (process == nullptr) return 0;
        const DWORD priority = ::GetPriorityClass(process);
        ::CloseHandle(process);
        return priority;
    }
    std::string LogPath() const { return folder_.Path() + "\\Quorrin.Log"; }

    platform::testing::TempFolder folder_{"quorrin process "};  // a blank in the path
    std::string fallback_;
    SilentTones tones_;

private:
    std::string saved_;
};

TEST_F(ProcessUnitWin32, ViewerGetsTheLogsPathAsItsWholeCommandLineAndStartsIdle) {
    PlaceViewer(folder_.Path());
    ShowLogViewer();
    ASSERT_FALSE(ViewerProcess.Handle.Empty());
    EXPECT_EQ(PriorityOf(ViewerProcess.Handle), static_cast<DWORD>(IDLE_PRIORITY_CLASS));
    ASSERT_TRUE(WaitFor([&] { return Reports().size() == 1; }));
    EXPECT_EQ(Reports()[0], LogPath() + "|" + folder_.Path());
    EXPECT_EQ(tones_.Beeps, 0);
    EXPECT_EQ(ReadAll(LogPath()).find("Could Not Find"), std::string::npos);
}

TEST_F(ProcessUnitWin32, ASecondViewerEndsTheFirstWithCodeOne) {
    PlaceViewer(folder_.Path());
    ShowLogViewer();
    ASSERT_FALSE(ViewerProcess.Handle.Empty());
    HANDLE first = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE,
                                 static_cast<DWORD>(ViewerProcess.Handle.Pid()));
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(WaitFor([&] { return Reports().size() == 1; }));  // it runs before it is replaced
    ShowLogViewer();
    ASSERT_EQ(::WaitForSingleObject(first, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(first, &code);
    ::CloseHandle(first);
    EXPECT_EQ(code, 1u);
    ASSERT_FALSE(ViewerProcess.Handle.Empty());
    EXPECT_TRUE(WaitFor([&] { return Reports().size() == 2; }));
}

TEST_F(ProcessUnitWin32, TheFallbackFolderIsTriedAndEachMissAReportedError) {
    struct Case {
        bool inFallback;
        std::vector<std::string> records;
        int beeps;  // the Error pattern's tones per miss
    };
    PlaceViewer(fallback_);
    ShowLogViewer();
    EXPECT_FALSE(ViewerProcess.Handle.Empty());
    std::string log = ReadAll(LogPath());
    EXPECT_NE(log.find("000001  "), std::string::npos);
    EXPECT_NE(log.find("Could Not Find ViewLogs.exe.  Looking in Debug Directory.  BUILD ERROR FOR INSTALL."),
              std::string::npos);
    EXPECT_EQ(log.find("Cannot View Log Files"), std::string::npos);
    const int oneMiss = tones_.Beeps;
    EXPECT_GT(oneMiss, 0);
    KillProgram(ViewerProcess);

    fs::remove(fs::path(fallback_) / "ViewLogs.exe");
    ShowLogViewer();
    EXPECT_TRUE(ViewerProcess.Handle.Empty());
    log = ReadAll(LogPath());
    EXPECT_NE(log.find("Could Not Find Debug  " + fallback_ + "ViewLogs.exe.  Cannot View Log Files"),
              std::string::npos)
        << log;
    EXPECT_EQ(tones_.Beeps, 3 * oneMiss);
}

TEST(ProcessUnitWin32System, PriorityClassesAndThe32On64Test) {
    SetProgramPriority(true, false);
    EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()), static_cast<DWORD>(HIGH_PRIORITY_CLASS));
    SetProgramPriority(false, false);
    EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    BOOL wow = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow));
    EXPECT_EQ(IsWow64(), wow != FALSE);
}

}  // namespace
