// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the driver presence check: every record sequence it can write,
// the install script's start, and the slow-install race.
#include "windriver/DriverCheck.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "driver/testing/TestBus.h"
#include "log/wexerrorlog.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"
#include "speaker/wexspeakerclass.h"
#include "windriver/WinDriverRequests.h"

namespace fs = std::filesystem;

namespace {

const std::string Sep(55, '>');
const std::string NotLoaded = "HARDWARE DRIVER NOT LOADED.  CANNOT NOT TALK TO HARDWARE!!!!!!!!!!!!!!";
const std::string Attempt = "Attempting to install HARDWARE DRIVER..........";
const std::string Failed =
    "ATTEMPT TO INSTALL HARDWARE DRIVER FAILED.  CANNOT NOT TALK TO HARDWARE!!!!!!!!!!!!!!";
const std::string EmptyBus = R"({ "functions": [] })";

class SilentTones : public ToneSink {
public:
    void Beep(unsigned, int) override {}
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

// A run of the log in a fresh start folder, with the driver pointed at a
// socket that does not exist.
class DriverCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldCwd_ = platform::GetCurrentDir();
        oldDevice_ = DriverDevice();
        temp_ = std::make_unique<platform::testing::TempFolder>("quorrin-check-");
        folder_ = temp_->Path();
        ASSERT_TRUE(platform::SetCurrentDir(folder_));
        SetToneSink(&tones_);
        StartErrorLog(false, "1.2", "Quorrin", nullptr);
        ASSERT_TRUE(ErrorLog);
        SetDriverDevice(folder_ + "/no-driver");
        before_ = Records().size();
    }
    void TearDown() override {
        SetInstallStarterForTesting(nullptr);
        EndErrorLog(false);
        SetToneSink(nullptr);
        SetDriverDevice(oldDevice_);
        platform::SetCurrentDir(oldCwd_);
        temp_.reset();
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
            if (line.size() < 29) continue;
            out.push_back({std::atoi(line.substr(0, 6).c_str()), line.substr(29)});
        }
        return out;
    }
    // The records the check wrote, all of which must carry code 1.
    std::vector<std::string> CheckMessages() const {
        std::vector<std::string> out;
        auto all = Records();
        for (std::size_t i = before_; i < all.size(); ++i) {
            EXPECT_EQ(all[i].Code, 1) << all[i].Message;
            out.push_back(all[i].Message);
        }
        return out;
    }
    std::string ScriptPath() const { return folder_ + "/DriverTools/WindriverLoad.bat"; }
    void WriteScript(const std::string& body) {
        fs::create_directories(folder_ + "/DriverTools");
        std::ofstream(ScriptPath()) << body;
    }

    SilentTones tones_;
    std::string folder_, oldCwd_, oldDevice_;
    std::unique_ptr<platform::testing::TempFolder> temp_;
    std::size_t before_ = 0;
};

TEST(DriverVersionLine, SplitsTheNumberIntoMajorAndMinor) {
    const struct {
        uint32_t Number;
        const char* Text;
    } cases[] = {
        {1110, "WINDRIVER Version 11.10"}, {1105, "WINDRIVER Version 11.5"},
        {0, "WINDRIVER Version 0.0"},      {99, "WINDRIVER Version 0.99"},
        {600, "WINDRIVER Version 6.0"},    {4294967295u, "WINDRIVER Version 42949672.95"},
    };
    for (const auto& c : cases) EXPECT_EQ(DriverVersionLine(c.Number), c.Text) << c.Number;
}

TEST(InstallScriptPath, IsPlainConcatenation) {
    EXPECT_EQ(InstallScriptPath("/opt/quorrin"), "/opt/quorrin/DriverTools/WindriverLoad.bat");
    // The root already ends in a separator; it is doubled, not tidied.
    EXPECT_EQ(InstallScriptPath("/"), "//DriverTools/WindriverLoad.bat");
}

TEST_F(DriverCheckTest, DriverAnswersGivesThreeRecordsAndNoInstall) {
    TestBus bus(EmptyBus);
    bus.Use();
    int starts = 0;
    SetInstallStarterForTesting([&](const std::string&, const platform::Folder&) { return ++starts, true; });
    WriteScript("exit 0\n");
    EXPECT_TRUE(CheckDriver());
    EXPECT_EQ(CheckMessages(), (std::vector<std::string>{Sep, "WINDRIVER Version 11.10", Sep}));
    EXPECT_EQ(starts, 0);
}

TEST_F(DriverCheckTest, AbsentWithoutScriptEndsAfterFourRecords) {
    std::optional<std::string> cwdAtStart;
    SetInstallStarterForTesting([&](const std::string&, const platform::Folder& folder) {
        cwdAtStart = folder.Path();
        return true;
    });
    EXPECT_FALSE(CheckDriver());
    EXPECT_EQ(CheckMessages(),
              (std::vector<std::string>{
                  NotLoaded, Attempt,
                  "    .... Tried to run " + ScriptPath() +
                      "  and it does not exist.  Located on your Install CD and put it here.",
                  Failed}));
    EXPECT_FALSE(cwdAtStart.has_value());
    EXPECT_EQ(platform::GetCurrentDir(), folder_);
}

TEST_F(DriverCheckTest, UnreadableScriptCountsAsMissing) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    WriteScript("exit 0\n");
    chmod(ScriptPath().c_str(), 0);
    EXPECT_FALSE(CheckDriver());
    auto messages = CheckMessages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_NE(messages[2].find("and it does not exist."), std::string::npos);
}

TEST_F(DriverCheckTest, ScriptThatCannotBeStartedGivesStartFailedRecords) {
    WriteScript("exit 0\n");
    // The system's shell missing: the same start, with an interpreter that
    // is not there.
    SetInstallStarterForTesting([](const std::string& path, const platform::Folder& folder) {
        return platform::StartDetached({"/nonexistent/bin/sh", path}, folder);
    });
    EXPECT_FALSE(CheckDriver());
    EXPECT_EQ(CheckMessages(),
              (std::vector<std::string>{NotLoaded, Attempt,
                                        "    .... Tried to run " + ScriptPath() + "  and it failed",
                                        Failed}));
    EXPECT_EQ(platform::GetCurrentDir(), folder_);
}

TEST_F(DriverCheckTest, ScriptRunsInDriverToolsWithItsPathAsOnlyArgument) {
    // The script's own view of how it was started, left next to it.
    WriteScript("printf '%s|%s|%s' \"$(pwd)\" \"$0\" \"$#\" > started.tmp\n"
                "mv started.tmp started\n");
    EXPECT_FALSE(CheckDriver());
    EXPECT_EQ(CheckMessages(), (std::vector<std::string>{NotLoaded, Attempt, Failed}));
    EXPECT_EQ(platform::GetCurrentDir(), folder_);
    const std::string marker = folder_ + "/DriverTools/started";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(marker); }));
    EXPECT_EQ(ReadFile(marker), folder_ + "/DriverTools|" + ScriptPath() + "|0");
}

TEST_F(DriverCheckTest, ScriptThatBringsTheDriverUpAtOnceCounts) {
    WriteScript("exit 0\n");
    // An installer so quick that the driver is up before the second probe.
    std::optional<TestBus> bus;
    std::string cwdAtStart, pathGiven;
    SetInstallStarterForTesting([&](const std::string& path, const platform::Folder& folder) {
        cwdAtStart = folder.Path();
        pathGiven = path;
        bus.emplace(EmptyBus);
        bus->Use();
        return true;
    });
    EXPECT_TRUE(CheckDriver());
    EXPECT_EQ(CheckMessages(), (std::vector<std::string>{NotLoaded, Attempt, Sep,
                                                         "WINDRIVER Version 11.10", Sep}));
    EXPECT_EQ(cwdAtStart, folder_ + "/DriverTools");
    EXPECT_EQ(pathGiven, ScriptPath());
    EXPECT_EQ(platform::GetCurrentDir(), folder_);
}

TEST_F(DriverCheckTest, SlowInstallIsReportedFailedYetTheDriverAnswersLater) {
    const std::string socket = folder_ + "/windrvr6";
    fs::create_directories(folder_ + "/DriverTools");
    std::ofstream(folder_ + "/DriverTools/bus.json") << EmptyBus;
    WriteScript("echo $$ > driverd.pid\n"
                "sleep 0.3\n"
                "exec '" + BuiltProgram("quorrin-driverd") + "' --bus bus.json --socket '" + socket +
                "' > /dev/null\n");
    SetDriverDevice(socket);
    EXPECT_FALSE(CheckDriver());
    EXPECT_EQ(CheckMessages(), (std::vector<std::string>{NotLoaded, Attempt, Failed}));
    // A later probe (a sniff, say) in the same run finds the driver.
    EXPECT_TRUE(WaitFor([] { return ProbeDriver(); }));
    VersionRecord version{};
    GetDriverVersion(&version);
    EXPECT_EQ(version.Version, 1110u);
    // The service is not our child: end it through a pidfd of its pid.
    const int pid = std::atoi(ReadFile(folder_ + "/DriverTools/driverd.pid").c_str());
    ASSERT_GT(pid, 0);
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    ASSERT_GE(pidfd, 0);
    syscall(SYS_pidfd_send_signal, pidfd, SIGTERM, nullptr, 0);
    close(pidfd);
    EXPECT_TRUE(WaitFor([] { return !ProbeDriver(); }));
}

TEST_F(DriverCheckTest, RootStartFolderDoublesTheSeparator) {
    StartFolder = "/";
    EXPECT_FALSE(CheckDriver());
    StartFolder = folder_;
    auto messages = CheckMessages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[2], "    .... Tried to run //DriverTools/WindriverLoad.bat  and it does not "
                           "exist.  Located on your Install CD and put it here.");
}

}  // namespace
