// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin timing -- the timer thread and its lock-free readings.
#include "timing/MultTimerUnit.h"

#include <cmath>

#include "platform/Clock.h"
#include "timing/TimeUnit.h"

bormulttimerclass::bormulttimerclass(bool createSuspended) {
    platform::RequestTimerPeriod();
    // Rebase: fixed before the thread exists, read-only afterwards.
    counterPeriod_ = 1.0 / static_cast<double>(platform::CounterFrequency());
    counterAtBase_ = static_cast<double>(platform::CounterValue());
    baseReading_ = TimeOfYear();
    started_ = !createSuspended;
    thread_ = std::thread([this] { Execute(); });
}

bormulttimerclass::~bormulttimerclass() {
    terminate_ = true;
    Resume();  // a thread still held back must be let go to finish
    platform::SleepMs(1);
    platform::ReleaseTimerPeriod();
    if (thread_.joinable()) thread_.join();
}

void bormulttimerclass::Resume() {
    {
        std::lock_guard<std::mutex> hold(startLock_);
        started_ = true;
    }
    startSignal_.notify_all();
}

void bormulttimerclass::Execute() {
    {
        std::unique_lock<std::mutex> hold(startLock_);
        startSignal_.wait(hold, [this] { return started_; });
    }
    do {
        platform::SleepMs(1);
        ++sleeps_;
    } while (!terminate_.load());
}

double bormulttimerclass::ElapsedSinceBase() {
    const double now = static_cast<double>(platform::CounterValue());
    double span = now - counterAtBase_;
    if (span < 0.0) span = counterAtBase_ - now;
    const double elapsed = span * counterPeriod_;
    // A counter without a frequency would make this a fault on the original
    // platform; the reading then stands at one second past its base.
    return std::isfinite(elapsed) ? elapsed : 1.0;
}

double bormulttimerclass::GetTime() { return ElapsedSinceBase() + baseReading_; }
