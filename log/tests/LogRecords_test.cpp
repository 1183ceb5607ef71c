// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the record calls and the record stamp: the clock's two repairs
// and their notes, the year's end, the source-location text, the extra line,
// the error beep and the optional boxes.
#include <atomic>
#include <chrono>
#include <thread>

#include "log/tests/LogTestSupport.h"

using namespace logtest;

namespace {

const std::string Reinit = "  >>>> HAD TO REINIT ErrorLog TIMER";
const std::string CpuTime = "  >>>> HAD TO USE THE CPU TIME";

// The stamp and notes of the last line: what follows the code.
std::string StampOf(const std::string& line) {
    return line.substr(8, 19);
}
std::string TailOf(const std::string& line, std::size_t n) {
    return line.substr(line.size() - n);
}

class StampTest : public LogTest {
protected:
    void SetUp() override {
        LogTest::SetUp();
        time_.frequency = 1;                        // whole seconds: readings stay exact
        time_.now = {2024, 12, 31, 23, 59, 59, 0};  // day 366 of a leap year: 31,708,799
        StartErrorLog(false, "1.2", "Quorrin", "/");
        ASSERT_TRUE(ErrorLog);
    }
    PinnedTime time_;
};

TEST_F(StampTest, TheLastValidReadingIsStampedAsItIs) {
    time_.counter = 1;  // 31,708,800 exactly
    const Stamp stamp = TakeStamp(*ErrorLog);
    EXPECT_EQ(stamp.Text, "367:00:00:00.000000");
    EXPECT_EQ(stamp.Notes, "");
}

TEST_F(StampTest, AReadingPastTheLimitRebasesTheClockOnTheNewYear) {
    time_.counter = 2;  // 31,708,801: past midnight at the year's end
    time_.now = {2025, 1, 1, 0, 0, 1, 0};
    LogText("new year", 0);
    const std::string& line = ErrorLog->LastLine();
    EXPECT_EQ(StampOf(line), "001:00:00:01.000000");
    EXPECT_EQ(line, "000000  001:00:00:01.000000  new year" + Reinit + "\r\n");
}

// The counter goes on while the machine sleeps, so after a resume the clock
// agrees with local time again; across the year's end the reading runs past
// 367 days and the clock is rebased on the new year.
TEST_F(StampTest, AfterASleepTheStampsFollowLocalTime) {
    struct Case {
        platform::LocalTime asleep, awake;
        int64_t sleptSeconds;
        const char* line;
    };
    const Case cases[] = {
        {{2024, 2, 14, 9, 0, 0, 0}, {2024, 2, 14, 10, 0, 0, 0}, 3600, "045:10:00:00.000000  awake\r\n"},
        {{2024, 12, 30, 23, 0, 0, 0},
         {2025, 1, 2, 23, 0, 0, 0},
         3 * 86400,
         "002:23:00:00.000000  awake  >>>> HAD TO REINIT ErrorLog TIMER\r\n"},
    };
    for (const Case& c : cases) {
        time_.now = c.asleep;
        time_.counter = 0;
        ErrorLog->Clock()->Rebase();
        time_.now = c.awake;
        time_.counter = c.sleptSeconds;
        LogText("awake", 0);
        EXPECT_EQ(ErrorLog->LastLine(), std::string("000000  ") + c.line);
        LogText("later", 0);  // repaired once, not at every record
        EXPECT_EQ(ErrorLog->LastLine().find(">>>>"), std::string::npos) << ErrorLog->LastLine();
    }
}

TEST_F(StampTest, BothRepairsGiveBothNotesInOrder) {
    time_.counter = 2;
    time_.now = {2025, 1, 1, -30, 0, 0, 0};  // a local time whose reading is invalid: 0
    const Stamp stamp = TakeStamp(*ErrorLog);
    EXPECT_EQ(stamp.Notes, Reinit + CpuTime);
    EXPECT_EQ(stamp.Text, "000:00:00:00.000000");
}

TEST_F(StampTest, ABusyClockIsReplacedAndTheRecordSaysSo) {
    time_.now = {2023, 2, 14, 9, 15, 2, 123};
    ErrorLog->Clock()->Rebase();
    const std::string oldLock = ErrorLog->Clock()->LockForTesting().Name();
    std::atomic<bool> held{false}, done{false};
    std::thread holder([&, name = ErrorLog->Clock()->LockForTesting().Name()] {
        // An object of its own for the same lock: the clock it belongs to is
        // destroyed while this thread still holds it.
        platform::NamedMutex same(name);
        ASSERT_EQ(same.Wait(1000), platform::WaitResult::Acquired);
        held = true;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        same.Release();
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int periods = platform::TimerPeriodRequests();
    LogText("busy clock", 0);
    done = true;
    holder.join();
    // A new clock (its memory may well be the old one's), with a lock of its own.
    EXPECT_NE(ErrorLog->Clock()->LockForTesting().Name(), oldLock);
    EXPECT_EQ(platform::TimerPeriodRequests(), periods);  // old released, new requested
    EXPECT_EQ(ErrorLog->LastLine(), "000000  045:09:15:02.123000  busy clock" + CpuTime + "\r\n");
    LogText("next", 0);
    EXPECT_EQ(ErrorLog->LastLine(), "000000  045:09:15:02.123000  next\r\n");
}

TEST_F(StampTest, SecondsJustShortOfAMinuteAreNotCarried) {
    time_.now = {2023, 2, 14, 23, 59, 59, 0};
    time_.frequency = 10000000;
    ErrorLog->Clock()->Rebase();
    time_.counter = 9999999;  // 59.9999999 s
    EXPECT_EQ(TakeStamp(*ErrorLog).Text, "045:23:59:60.000000");
}

TEST_F(LogTest, SourceErrorsNameTheFileLineAndFunction) {
    StartErrorLog(false, "1.2", "Quorrin", "/");
    struct Case {
        std::string source;
        uint32_t line;
        std::string expected;
    };
    const Case cases[] = {
        {"C:\\src\\unit", 7, "[unit:7 Scan()] bad"},
        {"unit", 7, "[unit:7 Scan()] bad"},
        {"C:unit.cpp", 7, "[unit.cpp:7 Scan()] bad"},
        {"/work/main/sniffer/SnifferUnit.cpp", 222, "[SnifferUnit.cpp:222 Scan()] bad"},
        {"", 0, "[:0 Scan()] bad"},
        {"a/b\\c", 4294967295u, "[c:429496729 Scan()] bad"},  // nine characters at most
    };
    for (const Case& c : cases) {
        LogSourceError(c.source, c.line, "Scan", "bad", 255);
        EXPECT_EQ(ErrorLog->LastLine().substr(0, 8), "000255  ");
        EXPECT_EQ(ErrorLog->LastLine().substr(8 + 19 + 2), c.expected + "\r\n") << c.source;
    }
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(LogTest, LogInfoLineAddsAnEmptyLineAndShowsTheExtendedText) {
    StartErrorLog(false, "1.2", "Quorrin", "/");
    LogInfoLine("section", 3, true);
    const std::string text = ReadFile(LogFile());
    EXPECT_EQ(TailOf(text, 11), "section\r\n\r\n");
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2].substr(8 + 19 + 2), "section");
    EXPECT_EQ(lines[3], "");
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].kind, BoxKind::Information);
    EXPECT_EQ(boxes_.boxes[0].caption, "INFO");
    EXPECT_EQ(boxes_.boxes[0].text, "section\r\n");
}

TEST_F(LogTest, BoxesAreShownOnlyWhenAskedAndAsTheCallSays) {
    // Without a log: LogInfo shows nothing, LogInfoLine and LogError still do.
    LogInfo("info", 0, true);
    LogInfoLine("line", 0, true);
    LogError("error", 1, true);
    ASSERT_EQ(boxes_.boxes.size(), 2u);
    EXPECT_EQ(boxes_.boxes[0].caption, "INFO");
    EXPECT_EQ(boxes_.boxes[0].text, "line\r\n");
    EXPECT_EQ(boxes_.boxes[1].kind, BoxKind::Error);
    EXPECT_EQ(boxes_.boxes[1].caption, "ERROR");
    EXPECT_EQ(boxes_.boxes[1].text, "error");

    boxes_.boxes.clear();
    StartErrorLog(false, "1.2", "Quorrin", "/");
    LogInfo("info", 0, true);
    LogInfo("quiet", 0, false);
    LogError("quiet", 1, false);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].text, "info");

    SetMessageBoxSink(nullptr);  // no front end: no box, no failure
    LogInfo("info", 0, true);
}

TEST_F(LogTest, LogErrorBeepsFirstAndWritesWithItsCode) {
    const std::vector<std::pair<unsigned, int>> error = {
        {100, 50}, {250, 10}, {0, 100}, {100, 50}, {250, 10}};
    LogError("no log yet", 5000, false);
    EXPECT_EQ(tones_.tones, error);
    EXPECT_FALSE(fs::exists(LogFile()));

    StartErrorLog(false, "1.2", "Quorrin", "/");
    tones_.tones.clear();
    LogError("Abnormal Program Termination", 5000, false);
    EXPECT_EQ(tones_.tones, error);
    EXPECT_EQ(ErrorLog->LastLine().substr(0, 8), "005000  ");
    EXPECT_EQ(ErrorLog->LastLine().substr(8 + 19 + 2), "Abnormal Program Termination\r\n");
}

TEST_F(LogTest, CStringMessagesIncludingNone) {
    StartErrorLog(false, "1.2", "Quorrin", "/");
    LogText(static_cast<const char*>(nullptr), 1);
    EXPECT_EQ(ErrorLog->LastLine().substr(8 + 19), "  \r\n");
    LogInfo(static_cast<const char*>(nullptr), 2, false);
    EXPECT_EQ(ErrorLog->LastLine().substr(0, 6), "000002");
    LogInfo("No PCI devices found", 0, false);
    EXPECT_EQ(ErrorLog->LastLine().substr(8 + 19 + 2), "No PCI devices found\r\n");
}

}  // namespace
