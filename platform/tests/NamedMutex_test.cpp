// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the named mutexes: one lock per name, owner and recursion rules,
// timed waits, abandonment by a thread that ends holding the lock.
#include "platform/NamedMutex.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using platform::NamedMutex;
using platform::WaitResult;

namespace {

std::string UniqueName(const char* what) {
    static std::atomic<int> serial{0};
    return std::string("QuorrinTest_") + what + "_" + std::to_string(::getpid()) + "_" +
           std::to_string(serial++);
}

// Waits on `name` from a thread of its own and reports how that went.
WaitResult WaitFromOtherThread(const std::string& name, int timeoutMs, bool release = true) {
    WaitResult result = WaitResult::Failed;
    std::thread other([&] {
        NamedMutex mutex(name);
        result = mutex.Wait(timeoutMs);
        if (release && (result == WaitResult::Acquired || result == WaitResult::Abandoned)) mutex.Release();
    });
    other.join();
    return result;
}

TEST(NamedMutex, OneNameIsOneLockAndOtherNamesAreOthers) {
    const std::string name = UniqueName("shared");
    NamedMutex first(name);
    NamedMutex other(UniqueName("other"));
    ASSERT_EQ(first.Wait(0), WaitResult::Acquired);
    EXPECT_EQ(WaitFromOtherThread(name, 0), WaitResult::Timeout);
    EXPECT_EQ(WaitFromOtherThread(name, 20), WaitResult::Timeout);
    EXPECT_EQ(WaitFromOtherThread(other.Name(), 0), WaitResult::Acquired);
    EXPECT_TRUE(first.Release());
    EXPECT_EQ(WaitFromOtherThread(name, 0), WaitResult::Acquired);
}

TEST(NamedMutex, TheOwnerTakesItAgainAndReleasesAsOften) {
    NamedMutex mutex(UniqueName("recursive"));
    ASSERT_EQ(mutex.Wait(0), WaitResult::Acquired);
    ASSERT_EQ(mutex.Wait(0), WaitResult::Acquired);
    EXPECT_TRUE(mutex.Release());
    EXPECT_EQ(WaitFromOtherThread(mutex.Name(), 0), WaitResult::Timeout);  // still held once
    EXPECT_TRUE(mutex.Release());
    EXPECT_FALSE(mutex.Release());  // no longer owned
    EXPECT_EQ(WaitFromOtherThread(mutex.Name(), 0), WaitResult::Acquired);
}

TEST(NamedMutex, AReleaseByAnotherThreadDoesNothing) {
    NamedMutex mutex(UniqueName("foreign"));
    EXPECT_FALSE(mutex.Release());  // not owned at all: the release after creation
    ASSERT_EQ(mutex.Wait(0), WaitResult::Acquired);
    bool released = true;
    std::thread other([&] {
        NamedMutex same(mutex.Name());
        released = same.Release();
    });
    other.join();
    EXPECT_FALSE(released);
    EXPECT_EQ(WaitFromOtherThread(mutex.Name(), 0), WaitResult::Timeout);
    EXPECT_TRUE(mutex.Release());
}

TEST(NamedMutex, AWaiterGetsTheLockOnceItIsReleased) {
    NamedMutex mutex(UniqueName("handover"));
    ASSERT_EQ(mutex.Wait(0), WaitResult::Acquired);
    std::atomic<bool> waiting{false};
    WaitResult result = WaitResult::Failed;
    std::thread other([&] {
        NamedMutex same(mutex.Name());
        waiting = true;
        result = same.Wait(-1);  // no time limit
        same.Release();
    });
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(mutex.Release());
    other.join();
    EXPECT_EQ(result, WaitResult::Acquired);
}

TEST(NamedMutex, AThreadEndingWithTheLockLeavesItAbandoned) {
    const std::string name = UniqueName("abandoned");
    NamedMutex mutex(name);
    EXPECT_EQ(WaitFromOtherThread(name, 0, /*release=*/false), WaitResult::Acquired);
    // The next waiter gets it, told that it was abandoned, and owns it.
    EXPECT_EQ(mutex.Wait(0), WaitResult::Abandoned);
    EXPECT_TRUE(mutex.Release());
    EXPECT_EQ(mutex.Wait(0), WaitResult::Acquired);
    EXPECT_TRUE(mutex.Release());
}

TEST(NamedMutex, ALockOutlivesNoneOfItsObjects) {
    const std::string name = UniqueName("gone");
    {
        NamedMutex mutex(name);
        ASSERT_EQ(mutex.Wait(0), WaitResult::Acquired);
        mutex.Release();
    }
    // A new object of the same name after all are gone starts free.
    NamedMutex again(name);
    EXPECT_EQ(WaitFromOtherThread(name, 0), WaitResult::Acquired);
}

TEST(NamedMutex, KeepsThreadsOutOfEachOthersWay) {
    const std::string name = UniqueName("exclusive");
    int counter = 0;  // not atomic: the lock is all that protects it
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            NamedMutex mutex(name);
            for (int i = 0; i < 2000; ++i) {
                if (mutex.Wait(5000) != WaitResult::Acquired) {
                    ++failures;
                    continue;
                }
                const int seen = counter;
                counter = seen + 1;
                mutex.Release();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(counter, 8000);
}

}  // namespace
