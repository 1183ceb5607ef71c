// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver tests -- the private service a recorded bus is replayed
// through: it comes up in a folder of the user's runtime folder and leaves
// nothing there, says plainly why when it cannot, and clears what a crashed
// run left behind.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/testing/SimBus.h"
#include "driver/testing/TestBus.h"
#include "platform/testing/ParamName.h"
#include "platform/testing/RuntimeFolder.h"
#include "platform/testing/TempFolder.h"
#include "windriver/ReplayService.h"
#include "windriver/WinDriverRequests.h"

namespace fs = std::filesystem;

namespace {

class Replay : public testing::Test {
protected:
    void SetUp() override { runtime_.Use(); }

    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = files_.Path() + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    std::vector<std::string> RuntimeEntries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(runtime_.UserFolder(::geteuid()))) names.push_back(e.path().filename().string());
        return names;
    }

    platform::testing::RuntimeFolder runtime_;
    platform::testing::TempFolder files_{"quorrin-replay-test-"};
};

TEST_F(Replay, ServesTheBusAndLeavesNothingBehind) {
    const std::string bus = Write("bus.json", simbus::BusJson({simbus::SimFunction(0, 3, 0).Ids(0x8086, 0x100E)}));
    {
        ReplayService service;
        std::string error;
        ASSERT_TRUE(service.Start(BuiltProgram("quorrin-driverd"), bus, error)) << error;
        EXPECT_EQ(service.BusFile(), bus);
        EXPECT_EQ(service.Notes(), std::vector<std::string>{bus + ": a bus file of 1 functions"});
        EXPECT_EQ(service.Socket().rfind(runtime_.UserFolder(::geteuid()) + "/quorrin-replay-", 0), 0u) << service.Socket();
        struct stat folder {};
        ASSERT_EQ(::stat(fs::path(service.Socket()).parent_path().c_str(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 0777, 0700u);

        SetDriverDevice(service.Socket());
        DriverHandle handle = OpenDriver();
        ASSERT_NE(handle, NoDriverHandle);
        PciScanRecord scan{};
        EXPECT_EQ(DriverRequest(WD_PciScanCards, handle, &scan, sizeof scan), 0u);
        EXPECT_EQ(scan.CardCount, 1u);
        CloseDriver(handle);
    }
    EXPECT_EQ(RuntimeEntries(), std::vector<std::string>{}) << "the folder goes with the service";
}

struct FailureCase {
    const char* Name;
    std::string Program;  // empty: the built service
    std::string Text;     // the recording
    std::string Error;    // what the user reads, after the file's path
};
class ReplayFailures : public Replay, public testing::WithParamInterface<FailureCase> {};

TEST_P(ReplayFailures, SayWhyAndLeaveNothing) {
    const FailureCase& c = GetParam();
    const std::string file = Write("recording", c.Text);
    std::string program = c.Program.empty() ? BuiltProgram("quorrin-driverd") : Write("program", c.Program);
    ::chmod(program.c_str(), 0755);
    ReplayService service;
    std::string error;
    EXPECT_FALSE(service.Start(program, file, error, 500));
    EXPECT_EQ(error, "cannot replay " + file + c.Error);
    EXPECT_EQ(RuntimeEntries(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Services, ReplayFailures,
    testing::Values(
        FailureCase{"NotABus", "", "Dear support,\n", ": neither a bus file (JSON) nor the text of lspci -vv -xxx"},
        FailureCase{"LspciCutOff", "", "00:02.0 VGA compatible controller: Acme\n\tControl: I/O+\n00: 86 80 37 12",
                    ": line 3: cut off: 4 of the line's 16 bytes"},
        FailureCase{"ServiceSilent", "#!/bin/sh\nexec sleep 30\n", "{}", ": quorrin-driverd did not answer within 500 ms"},
        FailureCase{"ServiceEndsAtOnce", "#!/bin/sh\nexit 1\n", "{}", ": quorrin-driverd ended at once"}),
    platform::testing::ParamName());

TEST_F(Replay, AMissingServiceIsNamed) {
    const std::string file = Write("bus.json", "{\"functions\": []}");
    ReplayService service;
    std::string error;
    EXPECT_FALSE(service.Start(files_.Path() + "/no-driverd", file, error));
    EXPECT_EQ(error, "cannot replay " + file + ": cannot start " + files_.Path() +
                         "/no-driverd: No such file or directory (quorrin-driverd is needed to replay a bus)");
}

// A run that was killed leaves its folder, socket and lock file; nobody
// holds that folder any more, so the next run clears it. A folder another
// live run holds stays.
TEST_F(Replay, ClearsWhatACrashedRunLeft) {
    const std::string stale = runtime_.UserFolder(::geteuid()) + "/quorrin-replay-Ab12Cd";
    ASSERT_EQ(::mkdir(stale.c_str(), 0700), 0);
    std::ofstream(stale + "/windrvr6.lock");
    const int dead = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/windrvr6", stale.c_str());
    ASSERT_EQ(::bind(dead, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(dead);

    const std::string bus = Write("bus.json", "{\"functions\": []}");
    ReplayService live, next;
    std::string error;
    ASSERT_TRUE(live.Start(BuiltProgram("quorrin-driverd"), bus, error)) << error;
    ASSERT_TRUE(next.Start(BuiltProgram("quorrin-driverd"), bus, error)) << error;
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live.Socket()));
    EXPECT_NE(live.Socket(), next.Socket());
}

// The program that started the service ends without stopping it (a crash):
// the service is told to end at once, and its folder is cleared by the next
// run.
TEST_F(Replay, EndsWithTheProgramThatStartedIt) {
    const std::string bus = Write("bus.json", "{\"functions\": []}");
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ReplayService orphaned;
        std::string error;
        const bool started = orphaned.Start(BuiltProgram("quorrin-driverd"), bus, error);
        const std::string socket = started ? orphaned.Socket() : "";
        ssize_t ignored = ::write(pipe[1], socket.data(), socket.size());
        (void)ignored;
        ::_exit(started ? 0 : 1);
    }
    ::close(pipe[1]);
    char path[256] = {};
    ASSERT_GT(::read(pipe[0], path, sizeof path - 1), 0);
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    // quorrin-driverd removes its socket when it is told to end.
    for (int i = 0; i < 500 && fs::exists(path); ++i) ::usleep(10000);
    EXPECT_FALSE(fs::exists(path));

    ReplayService next;
    std::string error;
    ASSERT_TRUE(next.Start(BuiltProgram("quorrin-driverd"), bus, error)) << error;
    EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
}

}  // namespace
