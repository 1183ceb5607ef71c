// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the time services: the test source takes over and hands back,
// the counter never goes back, sleeps last at least as asked, and timer-period
// requests are counted.
#include "platform/Clock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/Tone.h"

namespace {

class FixedTime : public platform::TimeSource {
public:
    platform::LocalTime Now() override { return {2024, 2, 29, 23, 59, 59, 999}; }
    int64_t CounterFrequency() override { return 10; }
    int64_t CounterValue() override { return 42; }
};

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

TEST(Clock, ATestSourceTakesOverAndHandsBack) {
    FixedTime fixed;
    EXPECT_EQ(platform::SetTimeSourceForTesting(&fixed), nullptr);
    EXPECT_EQ(platform::GetLocalTime().Day, 29);
    EXPECT_EQ(platform::GetLocalTime().Millisecond, 999);
    EXPECT_EQ(platform::CounterFrequency(), 10);
    EXPECT_EQ(platform::CounterValue(), 42);
    EXPECT_EQ(platform::SetTimeSourceForTesting(nullptr), &fixed);
    EXPECT_NE(platform::CounterValue(), 42);
}

TEST(Clock, TheSystemSourceGivesPlausibleValues) {
    const platform::LocalTime now = platform::GetLocalTime();
    EXPECT_GE(now.Year, 2020);
    EXPECT_TRUE(now.Month >= 1 && now.Month <= 12);
    EXPECT_TRUE(now.Day >= 1 && now.Day <= 31);
    EXPECT_TRUE(now.Hour >= 0 && now.Hour <= 23);
    EXPECT_TRUE(now.Minute >= 0 && now.Minute <= 59);
    EXPECT_TRUE(now.Second >= 0 && now.Second <= 59);
    EXPECT_TRUE(now.Millisecond >= 0 && now.Millisecond <= 999);
    EXPECT_GT(platform::CounterFrequency(), 0);
    int64_t last = platform::CounterValue();
    for (int i = 0; i < 1000; ++i) {
        const int64_t value = platform::CounterValue();
        ASSERT_GE(value, last);
        last = value;
    }
}

// A time namespace whose boot-time clock runs a day ahead of its monotonic
// clock is a machine that has slept for a day: the counter counts that day,
// so readings after a resume still follow local time.
TEST(Clock, TheCounterCountsTimeTheMachineSlept) {
    constexpr int64_t Day = 86400;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWTIME) != 0) ::_exit(77);
        const int offsets = ::open("/proc/self/timens_offsets", O_WRONLY);
        const std::string slept = "boottime " + std::to_string(Day) + " 0";
        if (offsets < 0 ||
            ::write(offsets, slept.data(), slept.size()) != static_cast<ssize_t>(slept.size())) {
            ::_exit(77);
        }
        ::close(offsets);
        const pid_t inside = ::fork();  // only children enter the namespace
        if (inside == 0) {
            timespec monotonic{};
            ::clock_gettime(CLOCK_MONOTONIC, &monotonic);
            const int64_t counted = platform::CounterValue() / platform::CounterFrequency();
            ::_exit(counted - monotonic.tv_sec >= Day - 60 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(inside, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no time namespace here (it needs root)";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the counter stopped while the machine slept";
}

// Each wait lasts at least as long as asked: the tone patterns keep their
// timing on every output.
TEST(Clock, WaitsLastAtLeastTheirLength) {
    struct Case {
        const char* what;
        void (*wait)(int);
        int ms;
    };
    const Case cases[] = {
        {"SleepMs", platform::SleepMs, 15},
        {"SilentWait", platform::SilentWait, 15},
        {"PlayTone 0 Hz", [](int ms) { platform::PlayTone(0, ms); }, 15},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        c.wait(c.ms);
        EXPECT_GE(MsSince(start), c.ms) << c.what;
    }
    // Nothing to wait for: returns without blocking.
    platform::SleepMs(0);
    platform::SleepMs(-5);
    platform::PlayTone(0, 0);
}

TEST(Clock, AToneKeepsItsLengthOnWhateverOutputThereIs) {
    if (platform::CurrentToneOutput() != platform::ToneOutput::Silent) {
        GTEST_SKIP() << "a real output would sound during the tests";
    }
    const auto start = std::chrono::steady_clock::now();
    platform::PlayTone(440, 10);
    EXPECT_GE(MsSince(start), 10);
}

TEST(Clock, TimerPeriodRequestsAreCounted) {
    const int before = platform::TimerPeriodRequests();
    platform::RequestTimerPeriod();
    platform::RequestTimerPeriod();
    EXPECT_EQ(platform::TimerPeriodRequests(), before + 2);
    platform::ReleaseTimerPeriod();
    platform::ReleaseTimerPeriod();
    EXPECT_EQ(platform::TimerPeriodRequests(), before);
}

}  // namespace
