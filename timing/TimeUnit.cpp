// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin timing -- seconds of the year from local time, the locked clock the
// log stamps its records with, and the reading's text form.
#include "timing/TimeUnit.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/Clock.h"

namespace {

constexpr double SecondsPerDay = 86400.0;
constexpr char Placeholder[] = "XXX:XX:XX:XX.XXXXXX";

// Days before each month, February left out (it is added by leap rule).
constexpr int DaysBeforeMonth[12] = {0, 31, 31, 62, 92, 123, 153, 184, 215, 245, 276, 306};

int MonthLength(int year, int month) {
    switch (month) {
        case 2:
            return year % 4 == 0 ? 29 : 28;
        case 4:
        case 6:
        case 9:
        case 11:
            return 30;
        default:
            return 31;
    }
}

// Each clock's lock gets a number of its own that is never handed out twice,
// so a new clock can never meet the lock of an old one.
std::atomic<unsigned long long> nextClockNumber{1};

}  // namespace

int DayOfYear(int year, int month, int day) {
    // An impossible month is taken as January, an impossible day as the 1st;
    // months below 1 and days below 1 count as impossible too.
    if (month < 1 || month > 12) month = 1;
    const int february = MonthLength(year, 2);
    if (day < 1 || day > MonthLength(year, month)) day = 1;
    return DaysBeforeMonth[month - 1] + (month > 2 ? february : 0) + day;
}

double TimeOfYear() {
    const platform::LocalTime now = platform::GetLocalTime();
    const double reading = DayOfYear(now.Year, now.Month, now.Day) * SecondsPerDay + now.Hour * 3600.0 +
                           now.Minute * 60.0 + now.Second + now.Millisecond * 0.001;
    if (reading < 0.0 || reading > MaxReading) return 0.0;
    return reading;
}

int64_t FloorToInt(double x) {
    if (std::isnan(x)) return 0;
    if (x < -2147483647.0) x = -2147483647.0;
    if (x > 4294967295.0) x = 4294967295.0;
    return static_cast<int64_t>(std::floor(x));
}

bool SplitTime(double x, int& days, int& hours, int& minutes, double& seconds) {
    days = hours = minutes = 0;
    seconds = 0.0;
    if (!std::isfinite(x) || x > MaxReading || x < 0.0) return false;
    days = static_cast<int>(FloorToInt(x / SecondsPerDay));
    double rest = x - days * SecondsPerDay;
    hours = static_cast<int>(FloorToInt(rest / 3600.0));
    rest -= hours * 3600.0;
    minutes = static_cast<int>(FloorToInt(rest / 60.0));
    seconds = rest - minutes * 60.0;
    if (seconds >= 60.0) {
        seconds = 0.0;
        ++minutes;
    }
    if (minutes >= 60) {
        minutes = 0;
        ++hours;
    }
    if (hours >= 24) {
        hours = 0;
        ++days;
    }
    return true;
}

std::string ElapsedText(double x) {
    int days = 0, hours = 0, minutes = 0;
    double seconds = 0.0;
    if (!SplitTime(x, days, hours, minutes, seconds)) return Placeholder;
    // Six decimals would round these up to 60.000000: carry them instead.
    if (seconds >= 59.999999) {
        seconds = 0.0;
        if (++minutes >= 60) {
            minutes = 0;
            if (++hours >= 24) {
                hours = 0;
                ++days;
            }
        }
    }
    return SplitTimeText(days, hours, minutes, seconds);
}

std::string SplitTimeText(int days, int hours, int minutes, double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%03d:%02d:%02d:%09.6f", days, hours, minutes, seconds);
    return text;
}

void ClockBase::Rebase() {
    const int64_t frequency = platform::CounterFrequency();
    // A counter without a frequency has no period: every span then counts as
    // the faulted computation, one second (ElapsedSinceBase).
    CounterPeriod =
        frequency > 0 ? 1.0 / static_cast<double>(frequency) : std::numeric_limits<double>::infinity();
    CounterAtBase = static_cast<double>(platform::CounterValue());
    BaseReading = TimeOfYear();
}

double ClockBase::ElapsedSinceBase() const {
    const double now = static_cast<double>(platform::CounterValue());
    double span = now - CounterAtBase;
    if (span < 0.0) span = CounterAtBase - now;  // a counter that runs back still gives a span
    const double elapsed = span * CounterPeriod;
    return std::isfinite(elapsed) ? elapsed : 1.0;
}

Ctimeclass::Ctimeclass() {
    platform::RequestTimerPeriod();
}

Ctimeclass::~Ctimeclass() {
    platform::ReleaseTimerPeriod();
}

Ctimerclass::Ctimerclass() {
    platform::RequestTimerPeriod();
    lock_ = std::make_unique<platform::NamedMutex>("TIMERCLASS_GETTIME_MUTEX_" +
                                                   std::to_string(nextClockNumber.fetch_add(1)));
    lock_->Release();  // as created: not owned, so this does nothing
    Rebase();
}

Ctimerclass::~Ctimerclass() {
    if (lock_) lock_->Release();
    lock_.reset();
    platform::ReleaseTimerPeriod();
}

void Ctimerclass::Rebase() { base_.Rebase(); }

double Ctimerclass::ElapsedSinceBase() { return base_.ElapsedSinceBase(); }

double Ctimerclass::GetTime() {
    if (!lock_) return -1.0;
    // An abandoned lock is still ours: the reading it guards cannot be left
    // half-done, so it is taken like any other.
    const platform::WaitResult result = lock_->Wait(30);
    if (result != platform::WaitResult::Acquired && result != platform::WaitResult::Abandoned) return -1.0;
    const double reading = base_.ElapsedSinceBase() + base_.BaseReading;
    lock_->Release();
    return reading;
}
