// Quorrin timing -- the window's clock source: a thread that sleeps in 1 ms
// steps for the object's life, and readings in seconds of the year.
#pragma once

#include <atomic>
#include <thread>

class bormulttimerclass {
public:
    explicit bormulttimerclass(bool createSuspended = false);
    ~bormulttimerclass();
    bormulttimerclass(const bormulttimerclass&) = delete;
    bormulttimerclass& operator=(const bormulttimerclass&) = delete;

    double GetTime();  // no lock; never -1.0

private:
    double ElapsedSinceBase();

    double counterPeriod_ = 0.0;
    double baseReading_ = 0.0;
    double counterAtBase_ = 0.0;
    std::atomic<bool> terminate_{false};
    std::thread thread_;
};
