// SPDX-License-Identifier: GPL-2.0-or-later
// quorrin-compare.exe on a Windows machine without the WinDriver driver: the
// log quorrin-sniff.exe leaves there is read, and a sniff made now cannot
// reach the driver.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "platform/testing/TempFolder.h"
#include "platform/testing/win32/ProgramRun.h"
#include "sniffer/SnifferUnit.h"

namespace {

using platform::testing::ProgramRun;
using platform::testing::RunProgram;

TEST(CompareExe, ReadsTheLogOfQuorrinSniffExeAndCannotSniffWithoutTheDriver) {
    platform::testing::TempFolder folder("quorrin-compare-exe ");  // a blank in the path
    const ProgramRun sniff = RunProgram(folder.Path(), "quorrin-sniff", "");
    ASSERT_EQ(sniff.Status, 2u) << sniff.Out;
    std::ofstream(folder.Path() + "\\report.txt", std::ios::binary) << sniff.Out;
    PciDeviceTableType table{};
    table.Count = 1;
    std::ofstream(folder.Path() + "\\one.txt", std::ios::binary) << FormatSniffReport(table);

    // The sniff without the driver is read, and is no sniff to compare.
    const ProgramRun none = RunProgram(folder.Path(), "quorrin-compare", "Quorrin.Log report.txt");
    EXPECT_EQ(none.Status, 1u) << none.Out;
    EXPECT_NE(none.Out.find(": its sniff did not reach the driver (Could not get a WinDrvr Handle): nothing to compare"),
              std::string::npos)
        << none.Out;

    const ProgramRun same = RunProgram(folder.Path(), "quorrin-compare", "one.txt one.txt");
    EXPECT_EQ(same.Status, 0u) << same.Out;
    std::string text = same.Out;
    std::erase(text, '\r');  // the console's line ends
    EXPECT_EQ(text,
              "baseline: one.txt (report, sniff 1 of 1): 1 function\n"
              "current:  one.txt (report, sniff 1 of 1): 1 function\n"
              "\n"
              "Summary: 1 function matched by location, none differs, 0 standing findings: the sniffs agree.\n");

    const ProgramRun live = RunProgram(folder.Path(), "quorrin-compare", "one.txt");
    EXPECT_EQ(live.Status, 2u) << live.Out;
    EXPECT_NE(live.Out.find("the driver could not be reached through \\\\.\\WINDRVR6"), std::string::npos)
        << live.Out;
    const ProgramRun missing = RunProgram(folder.Path(), "quorrin-compare", "one.txt nothing.log");
    EXPECT_EQ(missing.Status, 1u) << missing.Out;
    EXPECT_NE(missing.Out.find("nothing.log: cannot be read: no such file"), std::string::npos) << missing.Out;
}

}  // namespace
