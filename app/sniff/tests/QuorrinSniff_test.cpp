// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniff front end tests -- quorrin-sniff run as a program against a
// private driver service, in a folder of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "driver/testing/StalledDriver.h"
#include "driver/testing/TestBus.h"
#include "platform/testing/FileText.h"
#include "platform/testing/RuntimeFolder.h"
#include "platform/testing/TempFolder.h"
#include "platform/testing/linux/ShellRun.h"
#include "sniffer/DeviceTableJson.h"
#include "driver/testing/SimBus.h"
#include "windriver/WinDriverRequests.h"

namespace {

struct ProgramRun {
    int Status = -1;
    std::string Out;
    std::string Log;
};

class SniffProgram : public testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        temp_ = std::make_unique<platform::testing::TempFolder>("quorrin-sniff-");
        dir = temp_->Path();
    }
    void TearDown() override { temp_.reset(); }
    std::unique_ptr<platform::testing::TempFolder> temp_;
    // The single-instance guard of this test's copies alone.
    platform::testing::RuntimeFolder runtime_;
    ProgramRun Start(const std::string& arguments, const std::string& environment = "") {
        const auto shell = platform::testing::RunInFolder(
            dir, runtime_.Assignment() + " " + environment + " exec '" +
                     BuiltProgram("quorrin-sniff") + "' " + arguments + " 2>'" + dir + "/stderr'");
        return ProgramRun{shell.Status, shell.Out, ReadText(dir + "/Quorrin.Log")};
    }
    std::string Errors() const { return ReadText(dir + "/stderr"); }
    static std::string ReadText(const std::string& path) { return platform::testing::ReadFile(path); }
    // A copy started without waiting for it, its output in `name`.out (or
    // into `out`) and `name`.err; Reap gives its wait status.
    pid_t Launch(const std::string& name, const std::vector<std::string>& arguments, int into = -1) {
        const std::string program = BuiltProgram("quorrin-sniff");
        const pid_t pid = ::fork();
        if (pid != 0) return pid;
        const int out = into >= 0 ? into : ::open((dir + "/" + name + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open((dir + "/" + name + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::chdir(dir.c_str()) != 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(120);
        ::setenv("QUORRIN_INSTANCE_ROOT", runtime_.Path().c_str(), 1);
        ::signal(SIGINT, SIG_DFL);  // as from a terminal, whatever ran these tests
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(121);
    }
    static int Reap(pid_t pid) {
        int status = -1;
        ::waitpid(pid, &status, 0);
        return status;
    }
};

const char* const EndBanner = "------------------PROGRAM END--------------------";

std::string DemoLikeBus() {
    return simbus::BusJson({simbus::SimFunction(0, 0, 0).Ids(0x8086, 0x1237),
                            simbus::SimFunction(0, 3, 0)
                                .Ids(0x8086, 0x100E)
                                .Dword(0x08, 0x02000003)
                                .Memory(0, 0xFEBC0000, 0x20000)
                                .Interrupt(11),
                            simbus::PlxBoard(2, 4, 0x9056, simbus::PatternWords(64, 5))});
}

TEST_F(SniffProgram, PrintsTheReportAndLogsIt) {
    TestBus bus(DemoLikeBus());
    const ProgramRun run = Start("--device '" + bus.Socket() + "'");
    ASSERT_EQ(run.Status, 0) << Errors();
    // The same scan in this process gives the text the program must print.
    bus.Use();
    static PciDeviceTableType table;
    GetPciCardInfo(100, table);
    ASSERT_EQ(table.Count, 3);
    const std::string report = FormatSniffReport(table);
    EXPECT_EQ(run.Out, report + "\r\n");

    const auto records = simbus::LogFolder::Parse(run.Log);
    ASSERT_GE(records.size(), 8u);
    EXPECT_EQ(records.front().Message, "------------------PROGRAM START--------------------");
    EXPECT_EQ(records.back().Message, "------------------PROGRAM END--------------------");
    bool version = false;
    for (const auto& r : records)
        version = version || (r.Code == 1 && r.Message.rfind("WINDRIVER Version ", 0) == 0);
    EXPECT_TRUE(version) << "the driver check did not run";
    // Header, three devices and footer, just before the end banner.
    const std::size_t n = records.size();
    const int codes[] = {3, 1, 2, 3, 3};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(records[n - 6 + i].Code, codes[i]) << i;
    EXPECT_EQ(records[n - 4].Message, FormatDeviceReport(1, table) + "\r\n");
}

TEST_F(SniffProgram, NoDriverSaysSoAndExitsTwo) {
    const ProgramRun run = Start("--device '" + dir + "/nobody'");
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Out, "No PCI Devices to Log.  Assume something broke\r\n");
    EXPECT_NE(run.Log.find("[SnifferUnit.cpp:222 GetPciCardInfo()] Could not get a WinDrvr Handle"),
              std::string::npos);
    EXPECT_NE(run.Log.find("000000  "), std::string::npos);
    const auto records = simbus::LogFolder::Parse(run.Log);
    int empty = 0;
    for (const auto& r : records)
        empty += r.Code == 0 && r.Message == "No PCI Devices to Log.  Assume something broke";
    EXPECT_EQ(empty, 1);
}

TEST_F(SniffProgram, ADriverLostMidScanExitsTwo) {
    TestBus bus(simbus::BusJson({simbus::PlxBoard(2, 4, 0x9056, simbus::PatternWords(64, 5))}));
    std::thread killer = bus.KillAfter(WD_Transfer, 100);
    const ProgramRun run = Start("--device '" + bus.Socket() + "'");
    killer.join();
    EXPECT_EQ(run.Status, 2);
    EXPECT_NE(run.Log.find("GetPciCardInfo: lost the connection to the driver during the scan"),
              std::string::npos);
}

TEST_F(SniffProgram, UsageErrorsExitOneWithAMessage) {
    for (const char* arguments : {"--bogus", "--device", "extra"}) {
        const ProgramRun run = Start(arguments);
        EXPECT_EQ(run.Status, 1) << arguments;
        EXPECT_EQ(run.Out, "") << arguments;
        EXPECT_NE(Errors().find("usage: quorrin-sniff"), std::string::npos) << arguments;
        EXPECT_FALSE(std::filesystem::exists(dir + "/Quorrin.Log")) << arguments;
    }
    const ProgramRun help = Start("--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("--json"), std::string::npos);
}

// --bus on lspci text: the report of the text served as a bus, the log
// naming the file and what the service said of it, no service or folder
// left; --save-bus of that sniff replays as the same report.
TEST_F(SniffProgram, ReplaysLspciTextAndSavesWhatReplaysTheSame) {
    const std::string text = std::string(QUORRIN_SOURCE_DIR) + "/examples/demo-lspci.txt";
    const ProgramRun run = Start("--bus '" + text + "' --save-bus saved.json");
    ASSERT_EQ(run.Status, 0) << Errors();
    TestBus bus(ReadText(text));
    bus.Use();
    static PciDeviceTableType table;
    GetPciCardInfo(100, table);
    ASSERT_EQ(table.Count, 7);
    EXPECT_EQ(run.Out, FormatSniffReport(table) + "\r\n");
    const auto records = simbus::LogFolder::Parse(run.Log);
    ASSERT_GE(records.size(), 5u);
    EXPECT_EQ(records[2].Message, "REPLAYING THE RECORDED BUS " + text + " (the PC information is this machine's)");
    EXPECT_EQ(records[3].Message, text + ": lspci text of 7 functions");
    EXPECT_EQ(records[4].Message,
              text + ": 02:04.0: a PLX 9056 bridge; lspci cannot read its serial EEPROM, so its words read blank (FFFF)");
    EXPECT_NE(run.Log.find("Saved the sniffed bus in saved.json\r\n"), std::string::npos);
    for (const auto& entry : std::filesystem::directory_iterator(runtime_.Path()))
        EXPECT_NE(entry.path().filename().string().rfind("quorrin-replay-", 0), 0u) << entry.path();

    const ProgramRun again = Start("--bus saved.json");
    ASSERT_EQ(again.Status, 0) << Errors();
    EXPECT_EQ(again.Out, run.Out);
}

TEST_F(SniffProgram, ABusThatCannotBeReplayedOrSavedExitsOne) {
    struct Case {
        std::string Arguments, Error;
        int Status;
    };
    TestBus bus(DemoLikeBus());
    std::ofstream(dir + "/ticket.txt") << "00:03.0 Ethernet controller: Intel\n\tControl: I/O+\n00: 86 80 0e 10\n";
    const Case cases[] = {
        {"--bus", "quorrin-sniff: needs a value: --bus\n", 1},
        {"--device nobody --bus ticket.txt", "quorrin-sniff: --device and --bus name two drivers\n", 1},
        {"--bus missing.txt", "quorrin-sniff: missing.txt: cannot be read\n", 1},
        {"--bus ticket.txt",
         "quorrin-sniff: cannot replay " + dir + "/ticket.txt: line 3: cut off: 4 of the line's 16 bytes\n", 1},
        {"--device '" + bus.Socket() + "' --save-bus no-folder/bus.json",
         "quorrin-sniff: could not save the bus: no-folder/bus.json: cannot be written\n", 1},
        {"--device nobody --save-bus bus.json",
         "quorrin-sniff: could not save the bus: no whole sniff to save: the last one did not reach the driver to "
         "its end\n",
         2},
    };
    for (const Case& c : cases) {
        const ProgramRun run = Start(c.Arguments);
        EXPECT_EQ(run.Status, c.Status) << c.Arguments;
        const std::string errors = Errors();
        EXPECT_EQ(errors.substr(0, c.Error.size()), c.Error) << c.Arguments;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/bus.json"));
}

TEST_F(SniffProgram, JsonCarriesEveryField) {
    TestBus bus(DemoLikeBus());
    const ProgramRun run = Start("--json --device '" + bus.Socket() + "'");
    ASSERT_EQ(run.Status, 0) << Errors();
    const auto j = nlohmann::json::parse(run.Out);
    ASSERT_EQ(j["Count"], 3);
    const auto& devices = j["Devices"];
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0]["VendorId"], 0x8086);
    EXPECT_FALSE(devices[0].contains("EepromWords"));
    EXPECT_EQ(devices[1]["MemPhysicalAddress"][0], 0xFEBC0000u);
    EXPECT_EQ(devices[1]["Interrupt"], 11);
    EXPECT_EQ(devices[1]["FailText"], "");
    EXPECT_EQ(j["format"], "quorrin-sniff/1");
    EXPECT_EQ(devices[1]["Location"], "00:03.0");
    EXPECT_EQ(devices[1]["ClassCode"], 0x020000);
    if (std::filesystem::exists("/usr/share/misc/pci.ids")) {
        EXPECT_EQ(devices[2]["VendorName"], "PLX Technology, Inc.");
        EXPECT_EQ(devices[2]["DeviceName"], "PCI9056 32-bit 66MHz PCI <-> IOBus Bridge");
    }
    const auto& plx = devices[2];
    EXPECT_EQ(plx["IsPlx"], true);
    ASSERT_EQ(plx["EepromWords"].size(), 64u);
    EXPECT_EQ(plx["EepromWords"][63], simbus::PatternWords(64, 5)[63]);
    ASSERT_EQ(plx["ConfigRegs"].size(), 64u);
    EXPECT_EQ(plx["ConfigRegs"][0], 0x905610B5u);
    EXPECT_EQ(plx["IoAddress"].size(), 1u);
    for (const char* field : {"Index", "SubVendorId", "SubDeviceId", "Bus", "Slot", "Function",
                              "NumMemAddresses", "NumIOAddresses", "NumInterrupts", "MemBytes", "MemAddress",
                              "MemDirect", "MemBar", "IoBytes", "IoBar", "FailCode"})
        EXPECT_TRUE(plx.contains(field)) << field;
    // The log is written as usual.
    EXPECT_NE(run.Log.find("PCI Sniff Results.  Found 3 PCI Devices on the Bus"), std::string::npos);
}

// SIGTERM, SIGHUP and SIGINT while the driver check waits: the check ends,
// the scan is left out, the log gets its end, and the signal ends the copy.
TEST_F(SniffProgram, EndedFromOutsideItStillEndsTheLog) {
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        StalledDriver driver(dir + "/stalled");
        const pid_t sniff = Launch("signalled", {"--device", driver.Socket()});
        ASSERT_TRUE(driver.WaitForClient());
        ASSERT_EQ(::kill(sniff, sig), 0);
        driver.Release();
        const int status = Reap(sniff);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
            << strsignal(sig) << ": wait status " << status;
        const std::string log = ReadText(dir + "/Quorrin.Log");
        const auto records = simbus::LogFolder::Parse(log);
        ASSERT_FALSE(records.empty()) << strsignal(sig);
        EXPECT_EQ(records.back().Message, EndBanner) << strsignal(sig);
        EXPECT_EQ(log.find("No PCI Devices to Log"), std::string::npos) << strsignal(sig) << ": the scan ran";
        EXPECT_EQ(ReadText(dir + "/signalled.out"), "") << strsignal(sig);
    }
}

// In a pipe: a reader that quits ends the copy as a closed pipe does, and
// one that stops reading leaves a write that SIGTERM still ends. The report
// is logged before it is printed, and the log gets its end either way.
TEST_F(SniffProgram, InAPipeTheLogHasTheReportAndItsEnd) {
    TestBus bus(DemoLikeBus());
    for (const bool readerQuits : {true, false}) {
        int pipe[2];
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        // Smaller than the report: the write has to wait for the reader.
        ASSERT_GT(::fcntl(pipe[1], F_SETPIPE_SZ, 4096), 0);
        const pid_t sniff = Launch("piped", {"--device", bus.Socket()}, pipe[1]);
        ::close(pipe[1]);
        char first[16];
        ASSERT_GT(::read(pipe[0], first, sizeof first), 0);
        if (readerQuits) {
            ::close(pipe[0]);
        } else {
            for (int i = 0; i < 1000 && ReadText(dir + "/Quorrin.Log").find("End of PCI Sniff Report") == std::string::npos; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_EQ(::kill(sniff, SIGTERM), 0);
        }
        const int status = Reap(sniff);
        if (!readerQuits) ::close(pipe[0]);
        const int expected = readerQuits ? SIGPIPE : SIGTERM;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == expected)
            << strsignal(expected) << ": wait status " << status << "\n" << ReadText(dir + "/piped.err");
        const std::string log = ReadText(dir + "/Quorrin.Log");
        EXPECT_NE(log.find("End of PCI Sniff Report"), std::string::npos) << strsignal(expected);
        const auto records = simbus::LogFolder::Parse(log);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.back().Message, EndBanner) << strsignal(expected);
    }
}

// The Done pattern is the window's: the sniff plays it only when asked.
// ALSA's default device is made a file here, so a tone leaves its samples.
TEST_F(SniffProgram, BeepsOnlyWhenAsked) {
    const std::string tones = dir + "/tones.raw";
    std::ofstream(dir + "/asound.conf")
        << "pcm.!default { type file slave.pcm { type null } file \"" << tones << "\" format \"raw\" }\n";
    const std::string alsa = "ALSA_CONFIG_PATH='" + dir + "/asound.conf'";
    auto played = [&] {
        std::error_code none;
        return std::filesystem::exists(tones) && std::filesystem::file_size(tones, none) > 0;
    };
    ASSERT_EQ(Start("--device '" + dir + "/nobody'", alsa).Status, 2) << Errors();
    EXPECT_FALSE(played()) << "a sniff without --beep sounded";
    ASSERT_EQ(Start("--beep --device '" + dir + "/nobody'", alsa).Status, 2) << Errors();
    if (!played()) GTEST_SKIP() << "the tones do not go to ALSA on this machine (PC speaker, or no ALSA)";
}

TEST(DeviceTableJson, FailTextAndOddBytesStayValidJson) {
    static PciDeviceTableType table{};
    table.Count = 1;
    table.Devices[0].FailCode = 9;
    std::strcpy(table.Devices[0].FailText, "P9080_CardIsUsable->Failed Card Register.\n\xff");
    const auto j = nlohmann::json::parse(DeviceTableJson(table));
    EXPECT_EQ(j["Devices"][0]["FailCode"], 9);
    EXPECT_EQ(j["Devices"][0]["FailText"].get<std::string>().rfind(
                  "P9080_CardIsUsable->Failed Card Register.\n", 0),
              0u);
    table.Count = 0;
    EXPECT_EQ(nlohmann::json::parse(DeviceTableJson(table))["Devices"].size(), 0u);
}

// What quorrin-compare reads back: every field as written, whatever its value.
TEST(DeviceTableJson, ReadsBackEveryFieldItWrote) {
    static PciDeviceTableType table, back;
    std::mt19937 random(7);
    for (auto& byte : reinterpret_cast<unsigned char(&)[sizeof table]>(table))
        byte = static_cast<unsigned char>(random());
    table.Count = 3;
    for (int i = 0; i < 3; ++i) {
        PciDeviceRecord& d = table.Devices[i];
        d.NumMemAddresses = 4 * i;  // 0, 4 and 8 entries, the rest left out
        d.NumIOAddresses = 8 - 3 * i;
        d.IsPlx = i != 1;
        // The padding after IsPlx is no field.
        std::memset(&d.IsPlx + 1, 0, offsetof(PciDeviceRecord, Bus) - offsetof(PciDeviceRecord, IsPlx) - 1);
        for (int k = d.NumMemAddresses; k < 8; ++k)
            d.MemBytes[k] = d.MemAddress[k] = d.MemDirect[k] = d.MemPhysicalAddress[k] = d.MemBar[k] = 0;
        for (int k = d.NumIOAddresses; k < 8; ++k) d.IoBytes[k] = d.IoAddress[k] = d.IoBar[k] = 0;
        if (!d.IsPlx) std::memset(d.EepromWords, 0, sizeof d.EepromWords);
        std::memset(d.FailText, 0, sizeof d.FailText);
        std::strcpy(d.FailText, "P9080_CardIsUsable->Failed Card Register.\n");
    }
    const DeviceTableJsonReading r = ReadDeviceTableJson(DeviceTableJson(table), back);
    ASSERT_TRUE(r.Read) << r.Error;
    EXPECT_TRUE(r.Skipped.empty()) << r.Skipped[0];
    ASSERT_EQ(back.Count, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::memcmp(&back.Devices[i], &table.Devices[i], sizeof(PciDeviceRecord)), 0) << i;
}

}  // namespace
