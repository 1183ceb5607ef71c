// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin timing -- the window's clock source: a thread that sleeps in 1 ms
// steps for the object's life, and readings in seconds of the year.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "timing/TimeUnit.h"

class bormulttimerclass {
public:
    // A suspended object's thread waits for Resume (or for destruction)
    // before it starts sleeping.
    explicit bormulttimerclass(bool createSuspended = false);
    ~bormulttimerclass();
    bormulttimerclass(const bormulttimerclass&) = delete;
    bormulttimerclass& operator=(const bormulttimerclass&) = delete;

    double GetTime();  // no lock; never -1.0
    void Resume();

    // Sleeps the thread body has finished so far, for tests.
    long SleepsDone() const { return sleeps_.load(); }

private:
    void Execute();

    ClockBase base_;  // fixed before the thread exists, read-only afterwards
    std::atomic<bool> terminate_{false};
    std::atomic<long> sleeps_{0};
    std::mutex startLock_;
    std::condition_variable startSignal_;
    bool started_ = false;
    std::thread thread_;
};
