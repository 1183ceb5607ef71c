// SPDX-License-Identifier: GPL-2.0-or-later
// quorrin-sniff.exe on a Windows machine without the WinDriver driver: the
// program's start, the PC information block, the driver check's four
// records and the scan's refusal reach the log, and it ends with status 2.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/testing/TempFolder.h"
#include "platform/testing/win32/ProgramRun.h"

namespace {

using platform::testing::ProgramRun;
using platform::testing::ReadAll;

ProgramRun RunSniff(const std::string& folder, const std::string& arguments) {
    return platform::testing::RunProgram(folder, "quorrin-sniff", arguments);
}

// The messages of the log's records in order, each "code  stamp  text".
std::vector<std::string> Messages(const std::string& log, std::vector<std::string>* codes = nullptr) {
    std::vector<std::string> messages;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        // Records start with the code and the 19-character stamp; the PC
        // block's further lines do not.
        if (line.size() > 31 && line[6] == ' ' && line[7] == ' ' && line[11] == ':' && line[27] == ' ') {
            messages.push_back(line.substr(29));
            if (codes) codes->push_back(line.substr(0, 6));
        }
        start = end + 2;
    }
    return messages;
}

TEST(SniffExe, WithoutTheDriverLogsTheCheckAndTheRefusalAndEndsWithTwo) {
    platform::testing::TempFolder folder("quorrin-sniff-exe ");  // a blank in the path
    const ProgramRun run = RunSniff(folder.Path(), "");
    EXPECT_EQ(run.Status, 2u) << run.Out;
    EXPECT_NE(run.Out.find("No PCI Devices to Log.  Assume something broke"), std::string::npos) << run.Out;

    const std::string log = ReadAll(folder.Path() + "\\Quorrin.Log");
    std::vector<std::string> codes;
    const std::vector<std::string> messages = Messages(log, &codes);
    ASSERT_GE(messages.size(), 12u) << log;
    EXPECT_EQ(messages.front(), "------------------PROGRAM START--------------------");
    EXPECT_EQ(messages.back(), "------------------PROGRAM END--------------------");

    // The PC block as one record per section, with a release the name table knows.
    EXPECT_NE(log.find(">>>>>>>>>>>>>>>>>   PC INFO  <<<<<<<<<<<<<<<<<<<<<<\r\n"), std::string::npos);
    EXPECT_NE(log.find(">>>>>>>>>>>>>>>>> END PC INFO <<<<<<<<<<<<<<<<<<<<<<\r\n"), std::string::npos);
    const std::size_t name = log.find("  O/S Name      : ");
    ASSERT_NE(name, std::string::npos);
    EXPECT_EQ(log.compare(name + 18, 7, "Windows"), 0) << log.substr(name, 60);
    EXPECT_EQ(log.find("NOT SUPPORTED"), std::string::npos);
    EXPECT_NE(log.find("Disk C\r\n"), std::string::npos);

    // The driver check without a driver and without DriverTools: four records with code 1, in order.
    const std::string check[] = {
        "HARDWARE DRIVER NOT LOADED.  CANNOT NOT TALK TO HARDWARE!!!!!!!!!!!!!!",
        "Attempting to install HARDWARE DRIVER..........",
        "    .... Tried to run " + folder.Path() + "\\DriverTools\\WindriverLoad.bat" +
            "  and it does not exist.  Located on your Install CD and put it here.",
        "ATTEMPT TO INSTALL HARDWARE DRIVER FAILED.  CANNOT NOT TALK TO HARDWARE!!!!!!!!!!!!!!",
    };
    std::size_t at = 0;
    while (at < messages.size() && messages[at] != check[0]) ++at;
    ASSERT_LT(at + 4, messages.size()) << log;
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(messages[at + i], check[i]) << i;
        EXPECT_EQ(codes[at + i], "000001") << i;
    }
    EXPECT_NE(log.find("[SnifferUnit.cpp:222 GetPciCardInfo()] Could not get a WinDrvr Handle"), std::string::npos);
    EXPECT_NE(log.find("No PCI Devices to Log.  Assume something broke"), std::string::npos);
}

// A copy of Quorrin holding the session's mutex keeps its log.
TEST(SniffExe, BesideARunningCopyItEndsWithThreeAndWritesNoLog) {
    platform::testing::TempFolder folder("quorrin-sniff-exe-");
    HANDLE held = ::CreateMutexA(nullptr, FALSE, "Protect_Quorrin");
    ASSERT_NE(held, nullptr);
    ASSERT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "a Quorrin is running here";
    const ProgramRun run = RunSniff(folder.Path(), "");
    ::CloseHandle(held);
    EXPECT_EQ(run.Status, 3u) << run.Out;
    EXPECT_EQ(run.Out.rfind("ALREADY HAVE THE PROGRAM RUNNING.  KILL IT FIRST!", 0), 0u) << run.Out;
    EXPECT_FALSE(std::filesystem::exists(folder.Path() + "\\Quorrin.Log"));
}

TEST(SniffExe, HelpNamesTheDriverDeviceAndAWrongArgumentEndsWithOne) {
    platform::testing::TempFolder folder("quorrin-sniff-exe-");
    const ProgramRun help = RunSniff(folder.Path(), "--help");
    EXPECT_EQ(help.Status, 0u);
    EXPECT_NE(help.Out.find("\\\\.\\WINDRVR6"), std::string::npos) << help.Out;
    const ProgramRun wrong = RunSniff(folder.Path(), "--bogus");
    EXPECT_EQ(wrong.Status, 1u);
    EXPECT_FALSE(std::filesystem::exists(folder.Path() + "\\Quorrin.Log"));
}

// The Windows build has no driver service to replay a recorded bus through:
// --bus says so and ends with 1, before any log.
TEST(SniffExe, ABusToReplayIsRefusedForWantOfTheService) {
    platform::testing::TempFolder folder("quorrin-sniff-exe-");
    const std::string bus = folder.Path() + "\\bus.json";
    std::FILE* f = std::fopen(bus.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("{\"functions\": []}", f);
    std::fclose(f);
    const ProgramRun run = RunSniff(folder.Path(), "--bus bus.json");
    EXPECT_EQ(run.Status, 1u);
    EXPECT_FALSE(std::filesystem::exists(folder.Path() + "\\Quorrin.Log"));
}

}  // namespace
