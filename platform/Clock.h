// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- local time, the high-resolution counter, sleeping
// and the system timer period.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// The local date and time to the millisecond, as the wall clock shows it.
struct LocalTime {
    int Year = 0;
    int Month = 0;  // 1 to 12
    int Day = 0;    // 1 to 31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// Where time comes from. The real source reads the system clocks; tests put
// their own in place so every reading can be pinned.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual LocalTime Now() = 0;
    virtual int64_t CounterFrequency() = 0;  // counts per second
    virtual int64_t CounterValue() = 0;
};

LocalTime GetLocalTime();
int64_t CounterFrequency();
int64_t CounterValue();

// Replaces the time source for the whole process; nullptr restores the
// system's. Returns the previous replacement (nullptr for the system's).
TimeSource* SetTimeSourceForTesting(TimeSource* source);

void SleepMs(int milliseconds);

// The 1 ms system timer period. Linux has no such setting; the requests are
// counted so tests can see that every request is released.
void RequestTimerPeriod();
void ReleaseTimerPeriod();
int TimerPeriodRequests();  // requests not yet released

}  // namespace platform
