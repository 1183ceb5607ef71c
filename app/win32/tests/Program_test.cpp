// SPDX-License-Identifier: GPL-2.0-or-later
// The real quorrin.exe, started in a fresh folder: its caption clock, the
// refused second copy, the log's end on a close, and a sniff without a driver.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/win32/tools/ProgramDriver.h"
#include "sniffer/SnifferUnit.h"

using namespace programdriver;

namespace {

constexpr char TitleStart[] = "Corvane PCI Sniffer    Ver 1.2   ";

bool HasTitle(const std::string& caption) { return caption.rfind(TitleStart, 0) == 0; }

// Waits for the window with its title clock, answering the boxes the start
// shows (the driver check's, under wine); they are kept in boxes.
HWND WaitForReadyWindow(const Program& program, std::vector<Box>& boxes) {
    HWND window = nullptr;
    WaitFor([&] {
        for (const Box& box : AnswerBoxes(program.Id())) boxes.push_back(box);
        window = program.Window();
        return window != nullptr && HasTitle(TextOf(window));
    });
    return window;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = FreshFolder("quorrin-win32-");
        ASSERT_FALSE(folder.empty());
        if (FindWindowA("TMainForm", nullptr) != nullptr) GTEST_SKIP() << "a Quorrin is running on this desktop";
    }
    std::string Log() const { return ReadWholeFile(folder + "\\Quorrin.Log"); }

    // Closes the window as its close box would and waits for the end.
    void CloseAndExpectCleanEnd(Program& program) {
        PostMessageA(program.Window(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(WaitFor([&] {
            AnswerBoxes(program.Id());
            return program.Ended();
        })) << "the program did not end after WM_CLOSE";
        EXPECT_EQ(program.ExitStatus(), 0u);
        const std::string log = Log();
        EXPECT_NE(log.find("------------------PROGRAM END--------------------"), std::string::npos) << log;
    }

    std::string folder;
};

TEST_F(ProgramTest, CaptionShowsTheClockAndACloseEndsTheLog) {
    Program program(folder);
    ASSERT_TRUE(program.Started());
    std::vector<Box> boxes;
    HWND window = WaitForReadyWindow(program, boxes);
    ASSERT_NE(window, nullptr) << "no window with the title clock";
    const std::string first = TextOf(window);
    std::string later;
    EXPECT_TRUE(WaitFor([&] {
        later = TextOf(window);
        return HasTitle(later) && later != first;
    }, 10000)) << "the clock in the caption did not move: " << first;
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 497);
    EXPECT_EQ(client.bottom, 457);
    EXPECT_NE(Log().find("------------------PROGRAM START--------------------"), std::string::npos);
    CloseAndExpectCleanEnd(program);
}

// A logoff or shutdown ends the program as its close box does: the end
// banner is written before WM_ENDSESSION returns, after which the system may
// end the process at any moment.
TEST_F(ProgramTest, TheSessionsEndEndsTheLogBeforeItReturns) {
    Program program(folder);
    std::vector<Box> boxes;
    HWND window = WaitForReadyWindow(program, boxes);
    ASSERT_NE(window, nullptr);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 10000,
                                    &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    ASSERT_TRUE(SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 10000,
                                    &answer));
    const std::string log = Log();
    EXPECT_NE(log.find("------------------PROGRAM END--------------------"), std::string::npos) << log;
    ASSERT_TRUE(WaitFor([&] { return program.Ended(); })) << "the program did not end with its session";
    EXPECT_EQ(program.ExitStatus(), 0u);
}

TEST_F(ProgramTest, SecondCopyShowsRunFailAndEndsWithStatus3) {
    Program first(folder);
    std::vector<Box> boxes;
    ASSERT_NE(WaitForReadyWindow(first, boxes), nullptr);

    const std::string otherFolder = FreshFolder("quorrin-win32-second-");
    Program second(otherFolder);
    ASSERT_TRUE(second.Started());
    std::vector<Box> secondBoxes;
    ASSERT_TRUE(WaitFor([&] {
        for (const Box& box : AnswerBoxes(second.Id())) secondBoxes.push_back(box);
        return second.Ended();
    })) << "the second copy did not end";
    ASSERT_EQ(secondBoxes.size(), 1u);
    EXPECT_EQ(secondBoxes[0].caption, "RUN FAIL");
    EXPECT_EQ(secondBoxes[0].text, "ALREADY HAVE THE PROGRAM RUNNING.  KILL IT FIRST!");
    EXPECT_EQ(second.ExitStatus(), 3u);
    EXPECT_TRUE(ReadWholeFile(otherFolder + "\\Quorrin.Log").empty()) << "the refused copy wrote a log";

    EXPECT_FALSE(first.Ended());
    CloseAndExpectCleanEnd(first);
}

TEST_F(ProgramTest, ButtonPressWithoutADriverShowsAndLogsTheEmptyReport) {
    Program program(folder);
    std::vector<Box> boxes;
    ASSERT_NE(WaitForReadyWindow(program, boxes), nullptr);
    HWND memo = program.Memo();
    ASSERT_NE(memo, nullptr);
    // The prompt is there once the post-show work has run.
    ASSERT_TRUE(WaitFor([&] { return TextOf(memo).find("Press the") != std::string::npos; }));

    PostMessageA(program.Button(), BM_CLICK, 0, 0);
    // The scan without a driver finds nothing; the memo holds the report
    // for an empty table and nothing else.
    static PciDeviceTableType empty{};
    const std::string expected = FormatSniffReport(empty) + "\r\n";
    std::string shown;
    EXPECT_TRUE(WaitFor([&] {
        for (const Box& box : AnswerBoxes(program.Id())) boxes.push_back(box);
        shown = TextOf(memo);
        return shown == expected;
    })) << "shown:\n" << shown << "\nexpected:\n" << expected;
    EXPECT_TRUE(WaitFor([&] {
        AnswerBoxes(program.Id());
        return Log().find("No PCI Devices to Log.  Assume something broke") != std::string::npos;
    })) << Log();
    CloseAndExpectCleanEnd(program);
}

}  // namespace
