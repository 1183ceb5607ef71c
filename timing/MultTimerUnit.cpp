// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin timing -- the timer thread and its lock-free readings.
#include "timing/MultTimerUnit.h"

#include "platform/Clock.h"

bormulttimerclass::bormulttimerclass(bool createSuspended) {
    platform::RequestTimerPeriod();
    base_.Rebase();
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

double bormulttimerclass::GetTime() { return base_.ElapsedSinceBase() + base_.BaseReading; }
