// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin timing -- the reading in seconds of the year, the locked clock the
// log stamps its records with, and the reading's text form.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/NamedMutex.h"

// Valid readings lie from 0 to this (367 days).
constexpr double MaxReading = 31708800.0;

int DayOfYear(int year, int month, int day);
double TimeOfYear();
int64_t FloorToInt(double x);
bool SplitTime(double x, int& days, int& hours, int& minutes, double& seconds);

// "%03d:%02d:%02d:%09.6f", or "XXX:XX:XX:XX.XXXXXX" for an invalid reading.
std::string ElapsedText(double x);
// The same form of a reading already split, as it is: the log's record stamp.
std::string SplitTimeText(int days, int hours, int minutes, double seconds);

// A reading's base: local time of year at one moment and the counter then.
// Both clocks compute their readings from it.
struct ClockBase {
    double BaseReading = 0.0;    // seconds of the year at the base moment
    double CounterPeriod = 0.0;  // seconds per count
    double CounterAtBase = 0.0;  // counts

    void Rebase();
    // Seconds the counter has run since the base moment; 1.0 when that
    // cannot be computed (a counter without a frequency).
    double ElapsedSinceBase() const;
};

// The time-of-year base: holds a 1 ms timer period request for its life.
class Ctimeclass {
public:
    Ctimeclass();
    ~Ctimeclass();
    Ctimeclass(const Ctimeclass&) = delete;
    Ctimeclass& operator=(const Ctimeclass&) = delete;
};

class Ctimerclass : public Ctimeclass {
public:
    Ctimerclass();
    ~Ctimerclass();

    void Rebase();             // callers serialise it
    double ElapsedSinceBase();
    double GetTime();          // -1.0 when the lock is not had within 30 ms

    // The clock's own lock, for tests that hold it from another thread.
    platform::NamedMutex& LockForTesting() { return *lock_; }

private:
    ClockBase base_;
    std::unique_ptr<platform::NamedMutex> lock_;
};
