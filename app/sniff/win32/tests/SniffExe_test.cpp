// quorrin-sniff.exe on a Windows machine without the WinDriver driver: the
// program's start, the PC information block, the driver check's four
// records and the scan's refusal reach the log, and it ends with status 2.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing/TempFolder.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct SniffRun {
    DWORD status = 0xFFFFFFFF;
    std::string out;
};

// Runs the program in `folder` with its output in a file there, and waits
// for it (a minute at most; then it is ended and the run counts as failed).
SniffRun RunSniff(const std::string& folder, const std::string& arguments) {
    SniffRun run;
    const std::string outPath = folder + "\\out.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = ::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return run;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    const std::string program = QUORRIN_BIN_DIR "/quorrin-sniff.exe";
    std::string commandLine = "quorrin-sniff.exe" + arguments;
    PROCESS_INFORMATION started{};
    const BOOL ok = ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     folder.c_str(), &startup, &started);
    ::CloseHandle(out);
    if (!ok) return run;
    if (::WaitForSingleObject(started.hProcess, 60000) != WAIT_OBJECT_0) ::TerminateProcess(started.hProcess, 99);
    ::WaitForSingleObject(started.hProcess, 5000);
    ::GetExitCodeProcess(started.hProcess, &run.status);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    run.out = ReadAll(outPath);
    return run;
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
    const SniffRun run = RunSniff(folder.Path(), "");
    EXPECT_EQ(run.status, 2u) << run.out;
    EXPECT_NE(run.out.find("No PCI Devices to Log.  Assume something broke"), std::string::npos) << run.out;

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
    const SniffRun run = RunSniff(folder.Path(), "");
    ::CloseHandle(held);
    EXPECT_EQ(run.status, 3u) << run.out;
    EXPECT_EQ(run.out.rfind("ALREADY HAVE THE PROGRAM RUNNING.  KILL IT FIRST!", 0), 0u) << run.out;
    EXPECT_FALSE(std::filesystem::exists(folder.Path() + "\\Quorrin.Log"));
}

TEST(SniffExe, HelpNamesTheDriverDeviceAndAWrongArgumentEndsWithOne) {
    platform::testing::TempFolder folder("quorrin-sniff-exe-");
    const SniffRun help = RunSniff(folder.Path(), " --help");
    EXPECT_EQ(help.status, 0u);
    EXPECT_NE(help.out.find("\\\\.\\WINDRVR6"), std::string::npos) << help.out;
    const SniffRun wrong = RunSniff(folder.Path(), " --bogus");
    EXPECT_EQ(wrong.status, 1u);
    EXPECT_FALSE(std::filesystem::exists(folder.Path() + "\\Quorrin.Log"));
}

}  // namespace
