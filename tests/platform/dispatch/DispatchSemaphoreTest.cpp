// Semaphores: counting, waking, and deadlines that pass only when the manual clock is advanced.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "tests/platform/dispatch/DispatchTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

using Semaphore = ManualClockTest;

TEST_F(Semaphore, CountsUnitsAndRefusesANegativeStart) {
    EXPECT_EQ(DispatchSemaphore::create(-1), nullptr);
    auto semaphore = DispatchSemaphore::create(2);
    EXPECT_TRUE(semaphore->wait(DispatchTime::now()));
    EXPECT_TRUE(semaphore->wait(DispatchTime::now()));
    EXPECT_FALSE(semaphore->wait(DispatchTime::now()));
    EXPECT_FALSE(semaphore->signal());  // nobody waiting
    EXPECT_TRUE(semaphore->wait(DispatchTime::now()));
}

TEST_F(Semaphore, ADeadlineWaitTimesOutExactlyWhenTheClockPassesIt) {
    auto semaphore = DispatchSemaphore::create(0);
    std::atomic<int> result{-1};
    std::atomic<double> endedAt{0};
    // The waiter is a pool worker: advance() settles around it while it is blocked.
    DispatchQueue::globalQueue()->async([&] {
        const bool got = semaphore->wait(DispatchTime::after(10));
        endedAt = Clock::now();
        result = got ? 1 : 0;
    });
    Clock::advance(9.5);
    EXPECT_EQ(result.load(), -1);
    Clock::advance(0.5);
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(endedAt.load(), start + 10);
}

TEST_F(Semaphore, ASignalWakesAWaiterBeforeItsDeadline) {
    auto semaphore = DispatchSemaphore::create(0);
    Latch finished(1);
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        got = semaphore->wait(DispatchTime::after(30));
        finished.countDown();
    });
    semaphore->signal();  // before or while the waiter waits: either way it gets the unit
    ASSERT_TRUE(finished.waitFor());
    waiter.join();
    EXPECT_TRUE(got.load());
    EXPECT_EQ(Clock::now(), start);
}

TEST_F(Semaphore, ManyWaitersForeverEachTakeOneSignal) {
    auto semaphore = DispatchSemaphore::create(0);
    constexpr int waiters = 16;
    Latch finished(waiters);
    std::atomic<int> woke{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < waiters; ++i) {
        threads.emplace_back([&] {
            if (semaphore->wait()) woke.fetch_add(1);
            finished.countDown();
        });
    }
    for (int i = 0; i < waiters; ++i) semaphore->signal();
    ASSERT_TRUE(finished.waitFor());
    for (auto& t : threads) t.join();
    EXPECT_EQ(woke.load(), waiters);
    EXPECT_FALSE(semaphore->wait(DispatchTime::now()));
}

// A released waiter took the unit, so the value is 0 again while it is still leaving the wait:
// a settle must count it as running then, not as still blocked, or it returns before the work
// the waiter goes on with. Many waiters released at once keep some of them in that stretch
// while the settle looks.
TEST_F(Semaphore, ASettleWaitsForReleasedWaitersToGoOn) {
    constexpr int kWaiters = 16;
    auto semaphore = DispatchSemaphore::create(0);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        auto wentOn = std::make_shared<std::atomic<int>>(0);  // outlives a failed round's waiters
        for (int i = 0; i < kWaiters; ++i) {
            DispatchQueue::globalQueue()->async([semaphore, wentOn] {
                EXPECT_TRUE(semaphore->wait(DispatchTime::after(60)));
                wentOn->fetch_add(1);
            });
        }
        Clock::advance(0);  // all blocked now: only signals or the clock end their waits
        ASSERT_EQ(wentOn->load(), 0);
        for (int i = 0; i < kWaiters; ++i) semaphore->signal();
        Clock::advance(0);
        ASSERT_EQ(wentOn->load(), kWaiters);
    }
    EXPECT_EQ(Clock::now(), start);
}
