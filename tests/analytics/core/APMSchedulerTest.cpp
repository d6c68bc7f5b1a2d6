// The worker queue: exceptions become log lines, synchronous work never deadlocks on
// itself, and the background-thread check.
#include "analytics/core/APMScheduler.h"

#include "LogCapture.h"
#include "platform/dispatch/DispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

TEST(APMSchedulerTest, ExceptionsInAsyncBlocksAreLoggedAndTheQueueGoesOn) {
    LogCapture capture;
    auto scheduler = APMScheduler::initWithWorkerQueueLabel("com.vizudi.daro.worker");
    EXPECT_EQ(scheduler->workerQueue()->label(), "com.vizudi.daro.worker");
    std::atomic<int> ran{0};
    scheduler->scheduleOnWorkerQueueBlockID("APMTest:1", [] { throw std::runtime_error("boom"); });
    scheduler->scheduleOnWorkerQueueBlockID("APMTest:2", [] { throw 7; });
    scheduler->scheduleOnWorkerQueueBlockID("APMTest:3", [&] { ran++; });
    scheduler->scheduleOnWorkerQueueBlockID("APMTest:4", nullptr);
    scheduler->workerQueue()->sync([] {});
    EXPECT_EQ(ran.load(), 1);
    EXPECT_TRUE(capture.contains(
        "[I-ACS030000] Exception on worker queue. Block ID=APMTest:1. Exception: std::runtime_error: "
        "std::runtime_error: boom"));
    EXPECT_TRUE(capture.contains("[I-ACS030000] Exception on worker queue. Block ID=APMTest:2. Exception: int"));
    EXPECT_TRUE(capture.contains("[I-ACS030005] Nil block dispatched asynchronously on worker queue. Block ID=APMTest:4."));
}

TEST(APMSchedulerTest, SyncBlocksReportFailureOnTheCallersThread) {
    LogCapture capture;
    auto scheduler = APMScheduler::initWithWorkerQueueLabel("worker");
    int value = 0;
    scheduler->dispatchSyncOnWorkerQueueBlockID("ok", [&] { value = 1; });
    EXPECT_EQ(value, 1);
    scheduler->dispatchSyncOnWorkerQueueBlockID("bad", [] { throw std::logic_error("nope"); });
    auto lines = capture.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[lines.size() - 2].find("[I-ACS030003] Exception on worker queue when processing sync block. "
                                           "Block ID=bad. Exception"),
              std::string::npos);
    EXPECT_EQ(lines.back(), "<ZevUzeviroreda>[I-ACS030004] Synchronous task failed. Block ID=bad");
    scheduler->dispatchSyncOnWorkerQueueBlockID("nil", nullptr);
    EXPECT_TRUE(capture.contains("[I-ACS030002] Nil block dispatched synchronously on worker queue. Block ID=nil."));
}

TEST(APMSchedulerTest, SyncFromTheWorkerQueueItselfRunsAtOnce) {
    auto scheduler = APMScheduler::initWithWorkerQueueLabel("worker");
    std::atomic<bool> inner{false};
    scheduler->dispatchSyncOnWorkerQueueBlockID("outer", [&] {
        EXPECT_TRUE(scheduler->isOnWorkerQueue());
        scheduler->dispatchSyncOnWorkerQueueBlockID("inner", [&] { inner = true; });
    });
    EXPECT_TRUE(inner.load());
    EXPECT_FALSE(scheduler->isOnWorkerQueue());
}

TEST(APMSchedulerTest, BackgroundThreadCheck) {
    LogCapture capture;
    // On the main thread: no, with a line naming the method.
    EXPECT_FALSE(APMScheduler::checkOnBackgroundThreadWithMethodName(""));
    EXPECT_FALSE(APMScheduler::checkOnBackgroundThreadWithMethodName("readConfig"));
    // Off it: yes, and nothing said.
    bool offMain = false;
    std::thread([&] { offMain = APMScheduler::checkOnBackgroundThreadWithMethodName("x"); }).join();
    EXPECT_TRUE(offMain);
    auto lines = capture.matching("I-ACS030001");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "<ZevUzeviroreda>[I-ACS030001] Method <empty method name> should execute on background "
                        "thread: (nil)");
    EXPECT_NE(lines[1].find("Method readConfig should"), std::string::npos);
}

TEST(APMSchedulerTest, ExceptionsEscapingOtherQueuesAreLoggedNotFatal) {
    LogCapture capture;
    auto queue = DispatchQueue::create("plain");
    queue->async([] { throw std::runtime_error("stray"); });
    std::atomic<bool> after{false};
    queue->async([&] { after = true; });
    queue->sync([] {});
    EXPECT_TRUE(after.load());
    EXPECT_TRUE(capture.contains("[I-ACS030000]"));
    EXPECT_TRUE(capture.contains("stray"));
}

}  // namespace
