// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- local time, the performance counter, sleeping and
// the 1 ms multimedia timer period through the Win32 services.
#include "platform/Clock.h"

#include <windows.h>
#include <timeapi.h>

#include <atomic>

namespace platform {

namespace {

std::atomic<TimeSource*> testSource{nullptr};
std::atomic<int> periodRequests{0};

}  // namespace

LocalTime GetLocalTime() {
    if (TimeSource* source = testSource.load()) return source->Now();
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    LocalTime result;
    result.Year = now.wYear;
    result.Month = now.wMonth;
    result.Day = now.wDay;
    result.Hour = now.wHour;
    result.Minute = now.wMinute;
    result.Second = now.wSecond;
    result.Millisecond = now.wMilliseconds;
    return result;
}

int64_t CounterFrequency() {
    if (TimeSource* source = testSource.load()) return source->CounterFrequency();
    LARGE_INTEGER frequency{};
    if (!::QueryPerformanceFrequency(&frequency)) return 0;
    return frequency.QuadPart;
}

int64_t CounterValue() {
    if (TimeSource* source = testSource.load()) return source->CounterValue();
    LARGE_INTEGER value{};
    ::QueryPerformanceCounter(&value);
    return value.QuadPart;
}

TimeSource* SetTimeSourceForTesting(TimeSource* source) {
    return testSource.exchange(source);
}

void SleepMs(int milliseconds) {
    if (milliseconds <= 0) return;
    ::Sleep(static_cast<DWORD>(milliseconds));
}

// Each request is one timeBeginPeriod(1); the count lets tests see every one
// matched by its timeEndPeriod(1).
void RequestTimerPeriod() {
    ::timeBeginPeriod(1);
    ++periodRequests;
}
void ReleaseTimerPeriod() {
    ::timeEndPeriod(1);
    --periodRequests;
}
int TimerPeriodRequests() {
    return periodRequests.load();
}

}  // namespace platform
