// Threads: main-thread identity, detached threads, and sleeping on the clock.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSThread.h"
#include "tests/platform/dispatch/DispatchTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

TEST(Thread, OnlyTheThreadThatRanMainIsTheMainThread) {
    EXPECT_TRUE(NSThread::isMainThread());
    std::atomic<int> detachedIsMain{-1};
    std::atomic<int> poolIsMain{-1};
    Latch done(2);
    NSThread::detachNewThreadWithBlock([&] {
        detachedIsMain = NSThread::isMainThread();
        done.countDown();
    });
    DispatchQueue::globalQueue()->async([&] {
        poolIsMain = NSThread::isMainThread();
        done.countDown();
    });
    ASSERT_TRUE(done.waitFor());
    EXPECT_EQ(detachedIsMain.load(), 0);
    EXPECT_EQ(poolIsMain.load(), 0);
}

TEST(Thread, AnExceptionEscapingADetachedThreadIsReported) {
    std::mutex mutex;
    std::vector<std::string> reports;
    Latch reported(1);
    DispatchQueue::setExceptionHandler([&](const std::string& where, const std::string& what) {
        {
            std::lock_guard lock(mutex);
            reports.push_back(where + " | " + what);
        }
        reported.countDown();
    });
    NSThread::detachNewThreadWithBlock([] { throw std::runtime_error("thread failed"); });
    ASSERT_TRUE(reported.waitFor());
    DispatchQueue::setExceptionHandler(nullptr);
    std::lock_guard lock(mutex);
    EXPECT_EQ(reports, (std::vector<std::string>{"detached thread | thread failed"}));
}

using ThreadSleep = ManualClockTest;

TEST_F(ThreadSleep, ASleepOnAQueueEndsWhenTheClockIsAdvancedPastIt) {
    std::atomic<double> wokeAt{0};
    DispatchQueue::globalQueue()->async([&] {
        NSThread::sleepForTimeInterval(100);
        wokeAt = Clock::now();
    });
    Clock::advance(99);
    EXPECT_EQ(wokeAt.load(), 0);
    Clock::advance(1);
    EXPECT_EQ(wokeAt.load(), start + 100);
}
