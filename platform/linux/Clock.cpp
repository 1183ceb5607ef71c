// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- local time from the wall clock, the counter from
// CLOCK_BOOTTIME, sleeping, and a count of timer-period requests.
#include "platform/Clock.h"

#include <time.h>

#include <atomic>
#include <cerrno>

namespace platform {

namespace {

// The replacement installed by a test, or nullptr for the system's clocks.
std::atomic<TimeSource*> testSource{nullptr};
std::atomic<int> periodRequests{0};

LocalTime SystemLocalTime() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    LocalTime result;
    if (::localtime_r(&now.tv_sec, &parts) == nullptr) return result;
    result.Year = parts.tm_year + 1900;
    result.Month = parts.tm_mon + 1;
    result.Day = parts.tm_mday;
    result.Hour = parts.tm_hour;
    result.Minute = parts.tm_min;
    // A leap second shows as 60 here; Windows never reports one, so it is
    // folded into the second before it.
    result.Second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
    result.Millisecond = static_cast<int>(now.tv_nsec / 1000000);
    return result;
}

}  // namespace

LocalTime GetLocalTime() {
    if (TimeSource* source = testSource.load()) return source->Now();
    return SystemLocalTime();
}

int64_t CounterFrequency() {
    if (TimeSource* source = testSource.load()) return source->CounterFrequency();
    return 1000000000;
}

// CLOCK_BOOTTIME, like the performance counter it stands in for, never jumps
// when the wall clock is set, so a run's readings stay consistent; unlike
// CLOCK_MONOTONIC it goes on counting while the machine sleeps, so after a
// resume the readings still follow local time.
int64_t CounterValue() {
    if (TimeSource* source = testSource.load()) return source->CounterValue();
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

TimeSource* SetTimeSourceForTesting(TimeSource* source) {
    return testSource.exchange(source);
}

void SleepMs(int milliseconds) {
    if (milliseconds <= 0) return;
    timespec remaining{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000};
    // A signal handled in between must not cut the wait short.
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void RequestTimerPeriod() {
    ++periodRequests;
}
void ReleaseTimerPeriod() {
    --periodRequests;
}
int TimerPeriodRequests() {
    return periodRequests.load();
}

}  // namespace platform
