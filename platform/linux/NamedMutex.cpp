// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- named mutexes as a registry of in-process locks
// with Windows ownership rules: owner thread, recursion count, abandonment.
#include "platform/NamedMutex.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

namespace {

struct LockState {
    std::mutex guard;
    std::condition_variable freed;
    std::thread::id owner;
    unsigned count = 0;
    bool abandoned = false;
};

// Objects of one name share one lock while any of them lives.
std::mutex registryGuard;
std::unordered_map<std::string, std::weak_ptr<LockState>>& Registry() {
    static auto* registry = new std::unordered_map<std::string, std::weak_ptr<LockState>>();
    return *registry;
}

// Set when the thread's record below is gone. exit() destroys the main
// thread's thread-local objects before it runs the atexit steps, and those
// may still log (ShutDownAtExit): their locks then go unrecorded, which is
// harmless on a thread that is ending.
thread_local bool heldByThreadGone = false;

// The locks the current thread owns. When the thread ends still holding one,
// the lock is freed and marked abandoned, as Windows does, so that the next
// waiter is not stuck for good.
struct HeldByThread {
    std::thread::id self = std::this_thread::get_id();
    std::vector<std::weak_ptr<LockState>> held;

    ~HeldByThread() {
        heldByThreadGone = true;
        for (auto& weak : held) {
            auto shared = weak.lock();
            if (!shared) continue;
            std::lock_guard<std::mutex> hold(shared->guard);
            if (shared->owner == self && shared->count > 0) {
                shared->owner = std::thread::id();
                shared->count = 0;
                shared->abandoned = true;
                shared->freed.notify_one();
            }
        }
    }

    void Forget(const LockState* shared) {
        std::erase_if(held, [shared](const std::weak_ptr<LockState>& weak) {
            auto locked = weak.lock();
            return !locked || locked.get() == shared;
        });
    }
};

thread_local HeldByThread heldByThread;

}  // namespace

struct NamedMutex::Shared : LockState {};

NamedMutex::NamedMutex(const std::string& name) : name_(name) {
    std::lock_guard<std::mutex> hold(registryGuard);
    auto& registry = Registry();
    auto found = registry.find(name_);
    if (found != registry.end()) shared_ = std::static_pointer_cast<Shared>(found->second.lock());
    if (!shared_) {
        shared_ = std::make_shared<Shared>();
        registry[name_] = shared_;
    }
}

NamedMutex::~NamedMutex() {
    // Closing a handle does not release ownership: a lock still owned stays
    // owned by its thread until it releases it or ends.
    std::lock_guard<std::mutex> hold(registryGuard);
    shared_.reset();
    auto& registry = Registry();
    auto found = registry.find(name_);
    if (found != registry.end() && found->second.expired()) registry.erase(found);
}

WaitResult NamedMutex::Wait(int timeoutMs) {
    if (!shared_) return WaitResult::Failed;
    const auto self = std::this_thread::get_id();
    std::unique_lock<std::mutex> hold(shared_->guard);
    if (shared_->count > 0 && shared_->owner == self) {
        ++shared_->count;
        return WaitResult::Acquired;
    }
    auto isFree = [this] { return shared_->count == 0; };
    if (timeoutMs < 0) {
        shared_->freed.wait(hold, isFree);
    } else if (!shared_->freed.wait_for(hold, std::chrono::milliseconds(timeoutMs), isFree)) {
        return WaitResult::Timeout;
    }
    shared_->owner = self;
    shared_->count = 1;
    const bool abandoned = std::exchange(shared_->abandoned, false);
    hold.unlock();
    if (!heldByThreadGone) heldByThread.held.push_back(shared_);
    return abandoned ? WaitResult::Abandoned : WaitResult::Acquired;
}

bool NamedMutex::Release() {
    if (!shared_) return false;
    {
        std::lock_guard<std::mutex> hold(shared_->guard);
        if (shared_->count == 0 || shared_->owner != std::this_thread::get_id()) return false;
        if (--shared_->count > 0) return true;
        shared_->owner = std::thread::id();
        shared_->freed.notify_one();
    }
    if (!heldByThreadGone) heldByThread.Forget(shared_.get());
    return true;
}

}  // namespace platform
