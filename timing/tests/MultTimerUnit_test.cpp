// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the timer thread: its life, the timer-period balance and readings.
#include "timing/MultTimerUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <cmath>

#include "platform/Clock.h"

namespace {

// A clock the test moves by hand.
class FakeTime : public platform::TimeSource {
public:
    platform::LocalTime Local{2024, 2, 14, 9, 15, 2, 123};
    std::atomic<int64_t> Frequency{1000};
    std::atomic<int64_t> Counter{5000};
    platform::LocalTime Now() override { return Local; }
    int64_t CounterFrequency() override { return Frequency; }
    int64_t CounterValue() override { return Counter; }
};

class FakeTimeScope {
public:
    explicit FakeTimeScope(FakeTime& t) : previous_(platform::SetTimeSourceForTesting(&t)) {}
    ~FakeTimeScope() { platform::SetTimeSourceForTesting(previous_); }

private:
    platform::TimeSource* previous_;
};

constexpr double Feb14At091502_123 = 45 * 86400.0 + 9 * 3600.0 + 15 * 60.0 + 2.123;

TEST(MultTimer, HoldsOneTimerPeriodForItsLife) {
    const int before = platform::TimerPeriodRequests();
    {
        bormulttimerclass timer;
        EXPECT_EQ(platform::TimerPeriodRequests(), before + 1);
    }
    EXPECT_EQ(platform::TimerPeriodRequests(), before);
}

TEST(MultTimer, DestroyedRightAfterConstructionStops) {
    // A thread that ignored the stop request would keep the destruction
    // from ever returning; how long a stopping one takes is the machine's
    // load, not the timer's, so only the end itself is waited for.
    const int before = platform::TimerPeriodRequests();
    auto destroyed = std::async(std::launch::async, [] { bormulttimerclass timer; });
    ASSERT_EQ(destroyed.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the thread never stopped";
    EXPECT_EQ(platform::TimerPeriodRequests(), before);
}

TEST(MultTimer, ThreadKeepsSleepingUntilStopped) {
    bormulttimerclass timer;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (timer.SleepsDone() < 20 && std::chrono::steady_clock::now() < deadline)
        platform::SleepMs(5);
    EXPECT_GE(timer.SleepsDone(), 20);
}

TEST(MultTimer, SuspendedThreadWaitsForResume) {
    bormulttimerclass timer(true);
    platform::SleepMs(20);
    EXPECT_EQ(timer.SleepsDone(), 0);
    timer.Resume();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (timer.SleepsDone() == 0 && std::chrono::steady_clock::now() < deadline) platform::SleepMs(1);
    EXPECT_GT(timer.SleepsDone(), 0);
}

TEST(MultTimer, SuspendedAndNeverResumedStillEnds) {
    // Destruction must release a held-back thread, or the join would hang.
    const int before = platform::TimerPeriodRequests();
    { bormulttimerclass timer(true); }
    EXPECT_EQ(platform::TimerPeriodRequests(), before);
}

TEST(MultTimer, FirstReadingIsLocalTimeAtConstructionPlusElapsed) {
    FakeTime fake;
    FakeTimeScope scope(fake);
    bormulttimerclass timer;
    EXPECT_DOUBLE_EQ(timer.GetTime(), Feb14At091502_123);
    fake.Counter = 5250;  // 0.25 s at 1000 counts per second
    EXPECT_NEAR(timer.GetTime(), Feb14At091502_123 + 0.25, 1e-9);
}

TEST(MultTimer, ReadingIsNotRebasedWhenTheWallClockMoves) {
    FakeTime fake;
    FakeTimeScope scope(fake);
    bormulttimerclass timer;
    const double first = timer.GetTime();
    fake.Local = {2024, 7, 1, 0, 0, 0, 0};  // the wall clock is set far ahead
    fake.Counter = 6000;
    EXPECT_NEAR(timer.GetTime() - first, 1.0, 1e-9);
}

TEST(MultTimer, CounterRunningBackwardsStillGivesAPositiveSpan) {
    FakeTime fake;
    FakeTimeScope scope(fake);
    bormulttimerclass timer;
    fake.Counter = 4000;
    EXPECT_NEAR(timer.GetTime(), Feb14At091502_123 + 1.0, 1e-9);
}

TEST(MultTimer, CounterWithoutFrequencyGivesOneSecondNeverMinusOne) {
    FakeTime fake;
    fake.Frequency = 0;
    FakeTimeScope scope(fake);
    bormulttimerclass timer;
    fake.Counter = 9000;
    EXPECT_DOUBLE_EQ(timer.GetTime(), Feb14At091502_123 + 1.0);
    fake.Counter = 5000;  // no span at all: 0 times an infinite period
    EXPECT_DOUBLE_EQ(timer.GetTime(), Feb14At091502_123 + 1.0);
}

TEST(MultTimer, RealClockReadingsGrowWithRealTime) {
    bormulttimerclass timer;
    const double a = timer.GetTime();
    platform::SleepMs(50);
    const double b = timer.GetTime();
    EXPECT_NE(a, -1.0);
    EXPECT_GE(b - a, 0.045);
    EXPECT_LT(b - a, 5.0);
}

}  // namespace
