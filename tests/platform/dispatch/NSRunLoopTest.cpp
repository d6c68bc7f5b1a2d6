// Run loops: the main run loop and main queue, thread run loops, timers, delayed performs and
// main-thread hops, under the manual clock.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSDelayedPerforming.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/dispatch/NSThreadPerformAdditions.h"
#include "platform/dispatch/NSTimer.h"
#include "tests/platform/dispatch/DispatchTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Records its timer's fires into a log that outlives it.
class Target : public NSObject {
public:
    struct Log {
        std::vector<double> ticks;
        Value lastInfo;
    };
    explicit Target(std::shared_ptr<Log> log = std::make_shared<Log>()) : log(std::move(log)) {}
    void tick(const std::shared_ptr<NSTimer>& timer) {
        log->ticks.push_back(Clock::now());
        log->lastInfo = timer->userInfo();
    }
    std::shared_ptr<Log> log;
};

}  // namespace

using MainRunLoop = ManualClockTest;

TEST_F(MainRunLoop, MainQueueWorkFromAnyThreadRunsInOrderOnTheMainThreadNeverInline) {
    auto loop = NSRunLoop::mainRunLoop();
    EXPECT_TRUE(NSThread::isMainThread());
    EXPECT_EQ(NSRunLoop::currentRunLoop(), loop);
    std::vector<int> order;
    bool allOnMain = true;
    bool ranInline = false;
    DispatchQueue::mainQueue()->async([&] { order.push_back(0); });
    ranInline = !order.empty();
    std::thread other([&] {
        EXPECT_FALSE(NSThread::isMainThread());
        for (int i = 1; i <= 100; ++i) {
            DispatchQueue::mainQueue()->async([&, i] {
                allOnMain = allOnMain && NSThread::isMainThread();
                order.push_back(i);
            });
        }
    });
    other.join();
    EXPECT_FALSE(ranInline);
    EXPECT_TRUE(loop->runUntil([&] { return order.size() == 101; }, kSafety));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(order[i], i);
}

TEST_F(MainRunLoop, AMainQueueBlockQueuedByAnotherRunsOnALaterTurn) {
    int turns = 0;
    bool secondRan = false;
    DispatchQueue::mainQueue()->async([&] {
        DispatchQueue::mainQueue()->async([&] { secondRan = true; });
    });
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil(
        [&] {
            ++turns;
            return secondRan;
        },
        kSafety));
    EXPECT_GE(turns, 3);  // checked before, between and after the two turns
}

TEST_F(MainRunLoop, RunReturnsWhenStoppedAndRunUntilGivesUpAfterItsSafetyTimeout) {
    auto loop = NSRunLoop::mainRunLoop();
    int ran = 0;
    DispatchQueue::mainQueue()->async([&] { ++ran; });
    DispatchQueue::mainQueue()->async([&] { loop->stop(); });
    loop->run();
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(loop->runUntil([] { return false; }, 0.01));
}

TEST_F(MainRunLoop, RunUntilIdleRunsWhatTheWorkPostsToo) {
    auto loop = NSRunLoop::mainRunLoop();
    int depth = 0;
    std::function<void()> step = [&] {
        if (++depth < 5) loop->performBlock(step);
    };
    loop->performBlock(step);
    loop->runUntilIdle();
    EXPECT_EQ(depth, 5);
}

TEST_F(MainRunLoop, AnExceptionFromPostedWorkIsReportedAndTheLoopGoesOn) {
    std::vector<std::string> reports;
    DispatchQueue::setExceptionHandler([&](const std::string& where, const std::string& what) {
        reports.push_back(where + " | " + what);
    });
    bool after = false;
    NSRunLoop::mainRunLoop()->performBlock([] { throw std::runtime_error("posted"); });
    DispatchQueue::mainQueue()->async([] { throw std::runtime_error("main queue"); });
    DispatchQueue::mainQueue()->async([&] { after = true; });
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return after; }, kSafety));
    DispatchQueue::setExceptionHandler(nullptr);
    EXPECT_TRUE(after);
    EXPECT_EQ(reports, (std::vector<std::string>{"the main run loop | posted", "queue \"main-thread\" | main queue"}));
}

TEST_F(MainRunLoop, PerformOnMainThreadWaitingReturnsAfterTheBlockRanOnMain) {
    std::atomic<bool> returned{false};
    bool ranOnMain = false;
    bool ranBeforeReturn = false;
    std::thread other([&] {
        performOnMainThread([&] { ranOnMain = NSThread::isMainThread(); }, true);
        ranBeforeReturn = ranOnMain;
        returned = true;
    });
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return returned.load(); }, kSafety));
    other.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(ranBeforeReturn);

    bool later = false;
    performOnMainThread([&] { later = true; }, false);
    EXPECT_FALSE(later);
    bool now = false;
    performOnMainThread([&] { now = true; }, true);  // on main: at once, as the platform does
    EXPECT_TRUE(now);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(later);
}

// --- Timers ------------------------------------------------------------------------------------

using RunLoopTimer = ManualClockTest;

TEST_F(RunLoopTimer, ARepeatingMainTimerFiresTenTimesAcrossSixThousandSecondsThenStopsWhenInvalidated) {
    std::vector<double> fires;
    std::vector<double> nextDates;
    bool allOnMain = true;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(600, true, [&](const std::shared_ptr<NSTimer>& t) {
        fires.push_back(Clock::now());
        nextDates.push_back(t->fireDate().timeIntervalSince1970);
        allOnMain = allOnMain && NSThread::isMainThread();
    });
    EXPECT_TRUE(timer->isValid());
    EXPECT_EQ(timer->timeInterval(), 600);
    EXPECT_EQ(timer->fireDate().timeIntervalSince1970, start + 600);
    Clock::advance(6000);
    ASSERT_EQ(fires.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(fires[i], start + 600.0 * (i + 1));
        EXPECT_EQ(nextDates[i], start + 600.0 * (i + 2));
    }
    EXPECT_TRUE(allOnMain);
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    Clock::advance(6000);
    EXPECT_EQ(fires.size(), 10u);
}

TEST_F(RunLoopTimer, AOneShotFiresOnceAndInvalidatesItselfAndTheTargetIsReleased) {
    auto target = std::make_shared<Target>();
    std::weak_ptr<Target> weakTarget = target;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(90, target, &Target::tick, Value("info"), false);
    auto log = target->log;
    target.reset();
    EXPECT_FALSE(weakTarget.expired());  // the timer holds its target
    EXPECT_EQ(timer->userInfo(), Value("info"));
    EXPECT_EQ(timer->timeInterval(), 0);
    Clock::advance(89);
    EXPECT_TRUE(log->ticks.empty());
    Clock::advance(1);
    EXPECT_EQ(log->ticks, (std::vector<double>{start + 90}));
    EXPECT_EQ(log->lastInfo, Value("info"));
    EXPECT_FALSE(timer->isValid());
    EXPECT_TRUE(weakTarget.expired());
    Clock::advance(1000);
}

TEST_F(RunLoopTimer, AnInvalidatedTimerReleasesItsTargetAndNeverFires) {
    auto target = std::make_shared<Target>();
    std::weak_ptr<Target> weakTarget = target;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(60, target, &Target::tick, Value(), true);
    target.reset();
    timer->invalidate();
    EXPECT_TRUE(weakTarget.expired());
    Clock::advance(600);
}

TEST_F(RunLoopTimer, ATimerMadeUnscheduledFiresOnlyOnceAddedAndFireRunsItAtOnce) {
    int fires = 0;
    auto timer = NSTimer::timerWithTimeInterval(10, false, [&](const std::shared_ptr<NSTimer>&) { ++fires; });
    Clock::advance(20);
    EXPECT_EQ(fires, 0);
    NSRunLoop::mainRunLoop()->addTimer(timer);  // its date has passed: fires on the next turn
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return fires == 1; }, kSafety));
    EXPECT_EQ(fires, 1);

    auto repeating = NSTimer::scheduledTimerWithTimeInterval(10, true, [&](const std::shared_ptr<NSTimer>&) { ++fires; });
    repeating->fire();
    EXPECT_EQ(fires, 2);
    EXPECT_TRUE(repeating->isValid());
    EXPECT_EQ(repeating->fireDate().timeIntervalSince1970, start + 30);
    repeating->invalidate();
}

TEST_F(RunLoopTimer, ATimerOnAThreadsRunLoopFiresOnThatThread) {
    std::shared_ptr<NSRunLoop> threadLoop;
    std::thread::id timerThread;
    std::vector<double> fires;
    std::mutex mutex;
    Latch ready(1);
    Latch exited(1);
    std::thread::id loopThread;
    NSThread::detachNewThreadWithBlock([&] {
        loopThread = std::this_thread::get_id();
        threadLoop = NSRunLoop::currentRunLoop();
        NSTimer::scheduledTimerWithTimeInterval(60, true, [&](const std::shared_ptr<NSTimer>& timer) {
            std::lock_guard lock(mutex);
            timerThread = std::this_thread::get_id();
            fires.push_back(Clock::now());
            if (fires.size() == 3) {
                timer->invalidate();
                NSRunLoop::currentRunLoop()->stop();
            }
        });
        // Ready once the loop runs: fires posted to a loop that is not running wait for it.
        NSRunLoop::currentRunLoop()->performBlock([&] { ready.countDown(); });
        NSRunLoop::currentRunLoop()->run();
        threadLoop.reset();
        exited.countDown();
    });
    ASSERT_TRUE(ready.waitFor());
    Clock::advance(200);  // the thread's loop is running, so each fire settles before the next
    ASSERT_TRUE(exited.waitFor());
    std::lock_guard lock(mutex);
    EXPECT_EQ(fires, (std::vector<double>{start + 60, start + 120, start + 180}));
    EXPECT_EQ(timerThread, loopThread);
    EXPECT_NE(timerThread, std::this_thread::get_id());
}

// --- Delayed performs ------------------------------------------------------------------------

using DelayedPerform = ManualClockTest;

TEST_F(DelayedPerform, RunsAfterItsDelayUnlessCancelledForItsTargetOrTheTargetIsGone) {
    auto kept = std::make_shared<Target>();
    auto cancelled = std::make_shared<Target>();
    auto gone = std::make_shared<Target>();
    std::vector<std::string> ran;
    performAfterDelay(kept, [&] { ran.push_back("kept@" + std::to_string(Clock::now() - start)); }, 0.5);
    performAfterDelay(cancelled, [&] { ran.push_back("cancelled"); }, 0.2);
    performAfterDelay(cancelled, [&] { ran.push_back("cancelled too"); }, 0.7);
    performAfterDelay(gone, [&] { ran.push_back("gone"); }, 0.1);
    gone.reset();
    cancelPreviousPerformRequestsWithTarget(cancelled);
    Clock::advance(0.4);
    EXPECT_TRUE(ran.empty());
    Clock::advance(1);
    EXPECT_EQ(ran, (std::vector<std::string>{"kept@0.500000"}));
}

TEST_F(DelayedPerform, AZeroDelayRunsOnTheNextTurnWithoutAnAdvance) {
    auto target = std::make_shared<Target>();
    bool ran = false;
    performAfterDelay(target, [&] { ran = true; }, 0);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return ran; }, kSafety));
}

TEST_F(DelayedPerform, RunUntilDateReturnsWhenAnotherThreadAdvancesTheClockPastIt) {
    std::atomic<bool> advanced{false};
    std::thread other([&] {
        Clock::advance(30);
        advanced = true;
    });
    NSRunLoop::mainRunLoop()->runUntilDate(NSDate{start + 30});
    EXPECT_GE(Clock::now(), start + 30);
    other.join();
    EXPECT_TRUE(advanced.load());
}
