// Timer sources under the manual clock: repeating fires in order on their queue, one-shots
// re-armed from their own handler, suspension merging fires, cancellation.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSourceTimer.h"
#include "tests/platform/dispatch/DispatchTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Fire {
    double at;
    std::string queue;
    std::uint64_t data;
};

}  // namespace

using TimerSource = ManualClockTest;

TEST_F(TimerSource, ARepeatingTimerFiresTenTimesInOrderOnItsQueueAcrossSixThousandSeconds) {
    auto queue = DispatchQueue::create("test.timer.queue");
    auto timer = DispatchSourceTimer::create(queue);
    std::mutex mutex;
    std::vector<Fire> fires;
    timer->setEventHandler([&] {
        std::lock_guard lock(mutex);
        fires.push_back({Clock::now(), DispatchQueue::currentQueueLabel(), timer->data()});
    });
    timer->setTimer(DispatchTime::after(600), 600, 1);
    timer->resume();

    Clock::advance(6000);
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(fires.size(), 10u);
        for (int i = 0; i < 10; ++i) {
            EXPECT_DOUBLE_EQ(fires[i].at, start + 600.0 * (i + 1)) << i;
            EXPECT_EQ(fires[i].queue, "test.timer.queue");
            EXPECT_EQ(fires[i].data, 1u);
        }
    }
    EXPECT_EQ(Clock::now(), start + 6000);
    timer->cancel();
    Clock::advance(6000);
    std::lock_guard lock(mutex);
    EXPECT_EQ(fires.size(), 10u);
}

TEST_F(TimerSource, AOneShotReArmedFromItsOwnHandlerFiresAgainWithinTheSameAdvance) {
    auto queue = DispatchQueue::create("test.timer.rearm");
    auto timer = DispatchSourceTimer::create(queue);
    std::vector<double> fires;
    timer->setEventHandler([&] {
        fires.push_back(Clock::now());
        if (fires.size() < 4) timer->setTimer(DispatchTime::after(90), DispatchTime::forever);
    });
    timer->setTimer(DispatchTime::after(60), DispatchTime::forever);
    timer->resume();

    Clock::advance(59);
    EXPECT_TRUE(fires.empty());
    Clock::advance(1000);
    EXPECT_EQ(fires, (std::vector<double>{start + 60, start + 150, start + 240, start + 330}));
    timer->cancel();
}

TEST_F(TimerSource, SetTimerAgainReplacesTheSchedule) {
    auto queue = DispatchQueue::create("test.timer.replace");
    auto timer = DispatchSourceTimer::create(queue);
    std::vector<double> fires;
    timer->setEventHandler([&] { fires.push_back(Clock::now()); });
    timer->setTimer(DispatchTime::after(10), DispatchTime::forever);
    timer->resume();
    timer->setTimer(DispatchTime::after(30), DispatchTime::forever);
    Clock::advance(100);
    EXPECT_EQ(fires, (std::vector<double>{start + 30}));
    timer->cancel();
}

TEST_F(TimerSource, FiresWhileSuspendedAreDeliveredMergedOnResume) {
    auto queue = DispatchQueue::create("test.timer.suspend");
    auto timer = DispatchSourceTimer::create(queue);
    std::vector<std::uint64_t> data;
    timer->setEventHandler([&] { data.push_back(timer->data()); });
    timer->setTimer(DispatchTime::after(10), 10);
    timer->resume();
    Clock::advance(10);
    timer->suspend();
    Clock::advance(35);
    queue->sync([] {});
    EXPECT_EQ(data, (std::vector<std::uint64_t>{1}));
    timer->resume();
    queue->sync([] {});
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[1], 3u);  // fires at +20, +30, +40
    Clock::advance(10);       // to +55: +50 fires, +60 is not due yet
    EXPECT_EQ(data.size(), 3u);
    timer->cancel();
}

TEST_F(TimerSource, CancelStopsFiresAndRunsTheCancelHandlerOnTheQueue) {
    auto queue = DispatchQueue::create("test.timer.cancel");
    auto timer = DispatchSourceTimer::create(queue);
    std::atomic<int> fires{0};
    std::string cancelledOn;
    timer->setEventHandler([&] { fires.fetch_add(1); });
    timer->setCancelHandler([&] { cancelledOn = DispatchQueue::currentQueueLabel(); });
    timer->setTimer(DispatchTime::after(5), 5);
    timer->resume();
    Clock::advance(12);
    EXPECT_EQ(fires.load(), 2);
    EXPECT_FALSE(timer->testCancel());
    timer->cancel();
    EXPECT_TRUE(timer->testCancel());
    Clock::advance(100);
    queue->sync([] {});
    EXPECT_EQ(fires.load(), 2);
    EXPECT_EQ(cancelledOn, "test.timer.cancel");
}

TEST_F(TimerSource, AResumedSourceKeepsItselfAliveUntilCancelled) {
    auto queue = DispatchQueue::create("test.timer.alive");
    std::atomic<int> fires{0};
    std::weak_ptr<DispatchSourceTimer> weak;
    {
        auto timer = DispatchSourceTimer::create(queue);
        weak = timer;
        timer->setEventHandler([&] { fires.fetch_add(1); });
        timer->setTimer(DispatchTime::after(1), 1);
        timer->resume();
    }
    Clock::advance(3);
    EXPECT_EQ(fires.load(), 3);
    auto timer = weak.lock();
    ASSERT_TRUE(timer);
    timer->cancel();
    timer.reset();
    queue->sync([] {});
    EXPECT_TRUE(weak.expired());
}

TEST_F(TimerSource, ANeverResumedSourceDoesNotFire) {
    auto queue = DispatchQueue::create("test.timer.inactive");
    auto timer = DispatchSourceTimer::create(queue);
    bool fired = false;
    timer->setEventHandler([&] { fired = true; });
    timer->setTimer(DispatchTime::after(1), DispatchTime::forever);
    Clock::advance(10);
    queue->sync([] {});
    EXPECT_FALSE(fired);
}

TEST_F(TimerSource, OnTheMainQueueItFiresOnTheMainThreadWithinAnAdvanceMadeThere) {
    auto timer = DispatchSourceTimer::create(DispatchQueue::mainQueue());
    std::vector<double> fires;
    bool allOnMain = true;
    timer->setEventHandler([&] {
        fires.push_back(Clock::now());
        allOnMain = allOnMain && DispatchQueue::currentQueueLabel() == "main-thread";
    });
    timer->setTimer(DispatchTime::after(1), 1);
    timer->resume();
    Clock::advance(5);  // the main run loop is drained by the advance itself
    EXPECT_EQ(fires, (std::vector<double>{start + 1, start + 2, start + 3, start + 4, start + 5}));
    EXPECT_TRUE(allOnMain);
    timer->cancel();
}
