// The process clock: manual stepping fires timers in time order at their own times; deadline
// waits end on an advance; real mode fires on time; cancel really stops a timer.
#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kStart = 2'000'000.0;

class ManualClock : public ::testing::Test {
protected:
    void SetUp() override { Clock::setManual(kStart); }
    void TearDown() override { Clock::setReal(); }
};

}  // namespace

TEST_F(ManualClock, StandsStillUntilAdvancedAndUptimeMovesWithIt) {
    EXPECT_TRUE(Clock::isManual());
    EXPECT_EQ(Clock::now(), kStart);
    const double uptime = Clock::uptime();
    EXPECT_GT(uptime, 0);
    Clock::advance(12.5);
    EXPECT_EQ(Clock::now(), kStart + 12.5);
    EXPECT_DOUBLE_EQ(Clock::uptime(), uptime + 12.5);
    // An unreadable boot time reads as -1; the uptime comes back unchanged.
    Clock::setUptimeUnreadable(true);
    EXPECT_EQ(Clock::uptime(), -1);
    Clock::setUptimeUnreadable(false);
    EXPECT_DOUBLE_EQ(Clock::uptime(), uptime + 12.5);
    Clock::advance(-3);  // time never runs backwards
    EXPECT_EQ(Clock::now(), kStart + 12.5);
}

TEST_F(ManualClock, AdvanceFiresDueTimersInTimeOrderAtTheirOwnTimes) {
    std::vector<std::pair<int, double>> fired;
    Clock::schedule(kStart + 30, [&] { fired.emplace_back(3, Clock::now()); });
    Clock::schedule(kStart + 10, [&] { fired.emplace_back(1, Clock::now()); });
    Clock::schedule(kStart + 20, [&] { fired.emplace_back(2, Clock::now()); });
    Clock::schedule(kStart + 20, [&] { fired.emplace_back(22, Clock::now()); });  // same time: in order made
    const auto late = Clock::schedule(kStart + 100, [&] { fired.emplace_back(9, Clock::now()); });
    Clock::advance(50);
    EXPECT_EQ(fired, (std::vector<std::pair<int, double>>{
                         {1, kStart + 10}, {2, kStart + 20}, {22, kStart + 20}, {3, kStart + 30}}));
    EXPECT_EQ(Clock::now(), kStart + 50);
    Clock::cancel(late);
    Clock::advance(100);
    EXPECT_EQ(fired.size(), 4u);
}

TEST_F(ManualClock, TimersAnAdvanceMakesDueFireOnItsThreadOneAfterAnother) {
    // The clock's own thread fires only what was due as it was scheduled: a second timer at
    // the same time must not fire there beside the first, nor after the advance returned.
    // (Shared state: where that goes wrong, the second fires on a thread of its own.)
    struct Seen {
        std::atomic<bool> firstOnAdvancing{false}, secondOnAdvancing{false}, secondDuringFirst{false};
        std::atomic<int> secondFired{0};
        Clock::TimerId wake = 0;
    };
    auto seen = std::make_shared<Seen>();
    const auto advancing = std::this_thread::get_id();
    Clock::schedule(kStart + 10, [seen, advancing] {
        seen->firstOnAdvancing = std::this_thread::get_id() == advancing;
        seen->wake = Clock::schedule(kStart + 1000, [] {});  // rouses the clock's thread
        for (int i = 0; i < 10000 && !seen->secondFired.load(); ++i) std::this_thread::yield();
        seen->secondDuringFirst = seen->secondFired.load() != 0;
    });
    Clock::schedule(kStart + 10, [seen, advancing] {
        seen->secondOnAdvancing = std::this_thread::get_id() == advancing;
        ++seen->secondFired;
    });
    Clock::advance(10);
    EXPECT_EQ(seen->secondFired.load(), 1);
    EXPECT_FALSE(seen->secondDuringFirst.load());
    EXPECT_TRUE(seen->firstOnAdvancing.load());
    EXPECT_TRUE(seen->secondOnAdvancing.load());
    Clock::cancel(seen->wake);
}

TEST_F(ManualClock, AnAdvanceWaitsForADueTimerTheClocksThreadIsFiring) {
    struct Seen {
        std::promise<void> entered;
        std::atomic<bool> advancing{false}, callbackDone{false};
    };
    auto seen = std::make_shared<Seen>();
    Clock::schedule(kStart, [seen] {
        seen->entered.set_value();
        while (!seen->advancing.load()) std::this_thread::yield();
        for (int i = 0; i < 10000; ++i) std::this_thread::yield();  // advance() is under way by now
        seen->callbackDone = true;
    });
    ASSERT_EQ(seen->entered.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    seen->advancing = true;
    Clock::advance(0);
    EXPECT_TRUE(seen->callbackDone.load());  // what the timer handed on is there when advance() returns
}

TEST_F(ManualClock, ATimerScheduledByAFiringTimerInsideTheSpanFiresInTheSameAdvance) {
    std::vector<double> fired;
    std::function<void()> rearm = [&] {
        fired.push_back(Clock::now());
        if (fired.size() < 5) Clock::schedule(Clock::now() + 7, rearm);
    };
    Clock::schedule(kStart + 7, rearm);
    Clock::advance(30);
    EXPECT_EQ(fired, (std::vector<double>{kStart + 7, kStart + 14, kStart + 21, kStart + 28}));
    Clock::advance(10);
    EXPECT_EQ(fired.size(), 5u);
}

TEST_F(ManualClock, ATimerAlreadyDueFiresWithoutAnAdvance) {
    std::promise<double> fired;
    Clock::schedule(kStart - 5, [&] { fired.set_value(Clock::now()); });
    auto result = fired.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(result.get(), kStart);
}

TEST_F(ManualClock, ADeadlineWaitEndsOnlyWhenAnAdvancePassesTheDeadline) {
    Mutex mutex;
    std::condition_variable cv;
    bool flag = false;
    std::promise<void> waiting;
    auto outcome = std::async(std::launch::async, [&] {
        MutexLock lock(mutex);
        const bool done = Clock::waitUntil(lock, cv, kStart + 60, [&] { return flag; }, [&] { waiting.set_value(); });
        return std::make_pair(done, Clock::now());
    });
    // Wait (bounded) until the waiter's wake-up is armed, so the advance below must wake it.
    ASSERT_EQ(waiting.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    Clock::advance(59);
    EXPECT_EQ(outcome.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    Clock::advance(1);
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const auto [done, at] = outcome.get();
    EXPECT_FALSE(done);
    EXPECT_EQ(at, kStart + 60);
}

TEST_F(ManualClock, ADeadlineWaitEndsAtOnceWhenItsConditionIsMet) {
    Mutex mutex;
    std::condition_variable cv;
    bool flag = false;
    auto outcome = std::async(std::launch::async, [&] {
        MutexLock lock(mutex);
        return Clock::waitUntil(lock, cv, kStart + 60, [&] { return flag; });
    });
    {
        MutexLock lock(mutex);
        flag = true;
    }
    cv.notify_all();
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_TRUE(outcome.get());
    EXPECT_EQ(Clock::now(), kStart);
}

TEST(RealClock, FiresATimerNotBeforeItsTimeAndCancelStopsAnother) {
    Clock::setReal();
    EXPECT_FALSE(Clock::isManual());
    const double before = Clock::now();
    const auto wall = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(before, wall, 1.0);

    std::promise<double> fired;
    std::atomic<bool> cancelledFired{false};
    const auto cancelled = Clock::schedule(before + 0.02, [&] { cancelledFired = true; });
    Clock::schedule(before + 0.05, [&] { fired.set_value(Clock::now()); });
    Clock::cancel(cancelled);
    auto result = fired.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_GE(result.get(), before + 0.05);
    EXPECT_FALSE(cancelledFired.load());
}

TEST(RealClock, CancelWaitsForACallbackFiringOnAnotherThread) {
    Clock::setReal();
    std::promise<void> entered;
    std::atomic<bool> cancelling{false};
    std::atomic<bool> callbackDone{false};
    const auto id = Clock::schedule(Clock::now(), [&] {
        entered.set_value();
        while (!cancelling.load()) std::this_thread::yield();
        for (int i = 0; i < 10000; ++i) std::this_thread::yield();  // cancel() is under way by now
        callbackDone = true;
    });
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    cancelling = true;
    Clock::cancel(id);
    EXPECT_TRUE(callbackDone.load());  // cancel returned only after the callback had finished
}

TEST(RealClock, ATimerDueBeforeTheOneTheClockWaitsForWakesItAndOneDueAfterStillFires) {
    Clock::setReal();
    std::mutex mutex;
    std::vector<std::string> order;
    std::promise<void> lastFired;
    auto note = [&](const char* what) {
        std::lock_guard lock(mutex);
        order.push_back(what);
    };
    const double start = Clock::now();
    // The clock's thread now sleeps towards an hour from now.
    const std::vector<Clock::TimerId> timers{
        Clock::schedule(start + 3600, [&] { note("far"); }),
        // Due before the time the clock waits for, then after the one before each.
        Clock::schedule(start + 0.05, [&] { note("soon"); }),
        Clock::schedule(start + 0.1, [&] { note("then"); }),
        Clock::schedule(start + 0.15,
                        [&] {
                            note("last");
                            lastFired.set_value();
                        }),
    };
    const auto waited = lastFired.get_future().wait_for(std::chrono::seconds(20));
    for (const auto id : timers) Clock::cancel(id);
    ASSERT_EQ(waited, std::future_status::ready);
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<std::string>{"soon", "then", "last"}));
}
