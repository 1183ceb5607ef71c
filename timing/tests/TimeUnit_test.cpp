// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the clock: day numbers and their guards, readings of local time,
// the split and the text form at their limits, the locked clock against a
// pinned time source, and the balance of timer-period requests.
#include "timing/TimeUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "platform/Clock.h"

namespace {

// A clock whose local time and counter the test sets.
class PinnedTime : public platform::TimeSource {
public:
    PinnedTime() { previous_ = platform::SetTimeSourceForTesting(this); }
    ~PinnedTime() override { platform::SetTimeSourceForTesting(previous_); }
    platform::LocalTime Now() override { return now; }
    int64_t CounterFrequency() override { return frequency; }
    int64_t CounterValue() override { return counter; }

    platform::LocalTime now{2023, 2, 14, 9, 15, 2, 123};
    std::atomic<int64_t> frequency{1000000};
    std::atomic<int64_t> counter{0};

private:
    platform::TimeSource* previous_;
};

TEST(DayOfYear, CountsFromOneWithTheSimpleLeapRuleAndGuards) {
    struct Case {
        int year, month, day, expected;
    };
    const Case cases[] = {
        {2023, 1, 1, 1},     {2023, 3, 1, 60},   {2024, 3, 1, 61},  {2024, 12, 31, 366},
        {2023, 12, 31, 365}, {2023, 2, 28, 59},  {2024, 2, 29, 60}, {2023, 2, 29, 32},
        {2023, 4, 31, 91},   {2023, 4, 30, 120}, {2023, 13, 5, 5},  {2100, 3, 1, 61},
        {2023, 0, 5, 5},     {2023, -3, 5, 5},   {2023, 6, 0, 152}, {2023, 6, -7, 152},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DayOfYear(c.year, c.month, c.day), c.expected) << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(TimeOfYear, ReadsLocalTimeAsSecondsOfTheYear) {
    PinnedTime time;
    struct Case {
        platform::LocalTime now;
        double expected;
    };
    const Case cases[] = {
        {{2023, 1, 1, 0, 0, 0, 0}, 86400.0},
        {{2023, 2, 14, 9, 15, 2, 123}, 3921302.123},
        {{2024, 12, 31, 23, 59, 59, 999}, 366 * 86400.0 + 86399.999},
    };
    for (const Case& c : cases) {
        time.now = c.now;
        EXPECT_DOUBLE_EQ(TimeOfYear(), c.expected);
    }
}

TEST(TimeOfYear, AReadingOutsideTheValidRangeIsZero) {
    PinnedTime time;
    time.now = {2023, 1, 1, -30, 0, 0, 0};  // below zero
    EXPECT_EQ(TimeOfYear(), 0.0);
    time.now = {2024, 12, 31, 48, 0, 0, 0};  // beyond 367 days
    EXPECT_EQ(TimeOfYear(), 0.0);
}

TEST(FloorToInt, FloorsAfterClampingToItsRange) {
    struct Case {
        double x;
        int64_t expected;
    };
    const Case cases[] = {
        {2.7, 2},
        {-2.1, -3},
        {0.0, 0},
        {5e9, 4294967295LL},
        {-5e9, -2147483647LL},
        {std::numeric_limits<double>::infinity(), 4294967295LL},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(FloorToInt(c.x), c.expected) << c.x;
}

TEST(SplitTime, ValidReadingsSplitAndInvalidOnesGiveZeros) {
    struct Case {
        double x;
        bool valid;
        int days, hours, minutes;
        double seconds;
    };
    const Case cases[] = {
        {31708800.0, true, 367, 0, 0, 0.0},
        {0.0, true, 0, 0, 0, 0.0},
        {3921302.125, true, 45, 9, 15, 2.125},
        {86400.0 + 3599.5, true, 1, 0, 59, 59.5},
        {31708800.5, false, 0, 0, 0, 0.0},
        {-0.1, false, 0, 0, 0, 0.0},
        {std::numeric_limits<double>::quiet_NaN(), false, 0, 0, 0, 0.0},
        {std::numeric_limits<double>::infinity(), false, 0, 0, 0, 0.0},
    };
    for (const Case& c : cases) {
        int days = -1, hours = -1, minutes = -1;
        double seconds = -1.0;
        EXPECT_EQ(SplitTime(c.x, days, hours, minutes, seconds), c.valid) << c.x;
        EXPECT_EQ(days, c.days) << c.x;
        EXPECT_EQ(hours, c.hours) << c.x;
        EXPECT_EQ(minutes, c.minutes) << c.x;
        EXPECT_DOUBLE_EQ(seconds, c.seconds) << c.x;
    }
}

TEST(ElapsedText, FormatsValidReadingsInNineteenCharacters) {
    struct Case {
        double x;
        const char* expected;
    };
    const Case cases[] = {
        {45 * 86400.0 + 9 * 3600.0 + 15 * 60.0 + 2.123456, "045:09:15:02.123456"},
        {31708800.0, "367:00:00:00.000000"},
        {0.0, "000:00:00:00.000000"},
        // Seconds that six decimals would show as 60 carry into the next day.
        {45 * 86400.0 + 23 * 3600.0 + 59 * 60.0 + 59.9999995, "046:00:00:00.000000"},
        {45 * 86400.0 + 10 * 60.0 + 59.9999992, "045:00:11:00.000000"},
        {-1.0, "XXX:XX:XX:XX.XXXXXX"},
        {31708800.5, "XXX:XX:XX:XX.XXXXXX"},
        {std::numeric_limits<double>::quiet_NaN(), "XXX:XX:XX:XX.XXXXXX"},
    };
    for (const Case& c : cases) {
        const std::string text = ElapsedText(c.x);
        EXPECT_EQ(text, c.expected) << c.x;
        EXPECT_EQ(text.size(), 19u);
    }
}

TEST(ElapsedText, EveryValidReadingGivesNineteenCharacters) {
    for (double x = 0.0; x <= MaxReading; x += 86400.0 * 7 + 3599.9999997) {
        EXPECT_EQ(ElapsedText(x).size(), 19u) << x;
    }
}

TEST(Ctimerclass, ReadsTheBaseMomentPlusTheCounterSpan) {
    PinnedTime time;
    time.frequency = 1000;
    time.counter = 5000;
    Ctimerclass clock;
    EXPECT_DOUBLE_EQ(clock.GetTime(), 3921302.123);
    time.counter = 5000 + 2500;
    EXPECT_DOUBLE_EQ(clock.ElapsedSinceBase(), 2.5);
    EXPECT_DOUBLE_EQ(clock.GetTime(), 3921302.123 + 2.5);
    // A counter that runs backwards still gives a positive span.
    time.counter = 5000 - 1500;
    EXPECT_DOUBLE_EQ(clock.ElapsedSinceBase(), 1.5);
    // The wall clock changing is not seen until the next Rebase.
    time.now = {2023, 1, 1, 0, 0, 0, 0};
    time.counter = 6000;
    EXPECT_DOUBLE_EQ(clock.GetTime(), 3921302.123 + 1.0);
    clock.Rebase();
    EXPECT_DOUBLE_EQ(clock.GetTime(), 86400.0);
}

TEST(Ctimerclass, ACounterWithoutAFrequencyGivesTheFaultedSpanOfOneSecond) {
    PinnedTime time;
    time.frequency = 0;
    Ctimerclass clock;
    for (const int64_t counter : {0, 123456}) {
        time.counter = counter;
        EXPECT_DOUBLE_EQ(clock.ElapsedSinceBase(), 1.0);
        EXPECT_DOUBLE_EQ(clock.GetTime(), 3921302.123 + 1.0);
    }
}

TEST(Ctimerclass, EachClockHasALockOfItsOwn) {
    Ctimerclass first;
    Ctimerclass second;
    EXPECT_EQ(first.LockForTesting().Name().rfind("TIMERCLASS_GETTIME_MUTEX_", 0), 0u);
    EXPECT_NE(first.LockForTesting().Name(), second.LockForTesting().Name());
}

TEST(Ctimerclass, GetTimeGivesMinusOneWhileAnotherThreadHoldsTheLock) {
    Ctimerclass clock;
    std::atomic<bool> held{false}, done{false};
    std::thread holder([&] {
        ASSERT_EQ(clock.LockForTesting().Wait(1000), platform::WaitResult::Acquired);
        held = true;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        clock.LockForTesting().Release();
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(clock.GetTime(), -1.0);
    done = true;
    holder.join();
    EXPECT_GT(clock.GetTime(), 0.0);
}

TEST(Ctimerclass, TheOwnerOfTheLockStillReads) {
    // The lock is a Windows mutex: its owner may take it again.
    Ctimerclass clock;
    ASSERT_EQ(clock.LockForTesting().Wait(0), platform::WaitResult::Acquired);
    EXPECT_GT(clock.GetTime(), 0.0);
    EXPECT_TRUE(clock.LockForTesting().Release());
}

TEST(Ctimerclass, TimerPeriodRequestsBalanceOverTheClocksLife) {
    const int before = platform::TimerPeriodRequests();
    {
        Ctimerclass clock;
        EXPECT_EQ(platform::TimerPeriodRequests(), before + 2);  // one per class level
        {
            Ctimeclass base;
            EXPECT_EQ(platform::TimerPeriodRequests(), before + 3);
        }
        EXPECT_EQ(platform::TimerPeriodRequests(), before + 2);
    }
    EXPECT_EQ(platform::TimerPeriodRequests(), before);
}

}  // namespace
