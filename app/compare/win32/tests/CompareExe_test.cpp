// quorrin-compare.exe on a Windows machine without the WinDriver driver: the
// log quorrin-sniff.exe leaves there is read, and a sniff made now cannot
// reach the driver.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/testing/TempFolder.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ProgramRun {
    DWORD status = 0xFFFFFFFF;
    std::string out;
};

// Runs one of the built programs in `folder`, its output in a file there,
// for a minute at most.
ProgramRun Start(const std::string& folder, const std::string& program, const std::string& arguments) {
    ProgramRun run;
    const std::string outPath = folder + "\\" + program + ".out";
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
    const std::string path = QUORRIN_BIN_DIR "/" + program + ".exe";
    std::string commandLine = program + ".exe " + arguments;
    PROCESS_INFORMATION started{};
    const BOOL ok = ::CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     folder.c_str(), &startup, &started);
    ::CloseHandle(out);
    if (!ok) return run;
    if (::WaitForSingleObject(started.hProcess, 60000) != WAIT_OBJECT_0)
        ::TerminateProcess(started.hProcess, 99);
    ::WaitForSingleObject(started.hProcess, 5000);
    ::GetExitCodeProcess(started.hProcess, &run.status);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    run.out = ReadAll(outPath);
    return run;
}

TEST(CompareExe, ReadsTheLogOfQuorrinSniffExeAndCannotSniffWithoutTheDriver) {
    platform::testing::TempFolder folder("quorrin-compare-exe ");  // a blank in the path
    const ProgramRun sniff = Start(folder.Path(), "quorrin-sniff", "");
    ASSERT_EQ(sniff.status, 2u) << sniff.out;
    std::ofstream(folder.Path() + "\\report.txt", std::ios::binary) << sniff.out;

    const ProgramRun same = Start(folder.Path(), "quorrin-compare", "Quorrin.Log report.txt");
    EXPECT_EQ(same.status, 0u) << same.out;
    std::string text = same.out;
    std::erase(text, '\r');  // the console's line ends
    EXPECT_EQ(text,
              "baseline: Quorrin.Log (log, sniff 1 of 1): 0 functions\n"
              "current:  report.txt (report, sniff 1 of 1): 0 functions\n"
              "\n"
              "Summary: 0 functions matched by location, none differs, 0 findings: the sniffs agree.\n");

    const ProgramRun live = Start(folder.Path(), "quorrin-compare", "Quorrin.Log");
    EXPECT_EQ(live.status, 2u) << live.out;
    EXPECT_NE(live.out.find("the driver could not be reached through \\\\.\\WINDRVR6"), std::string::npos)
        << live.out;
    const ProgramRun missing = Start(folder.Path(), "quorrin-compare", "Quorrin.Log nothing.log");
    EXPECT_EQ(missing.status, 1u) << missing.out;
}

}  // namespace
