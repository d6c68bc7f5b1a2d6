// Operation queues: concurrency limits, cancellation of waiting and running operations,
// suspension, dependencies, subclassed operations and the main operation queue.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSBlockOperation.h"
#include "platform/dispatch/NSOperationQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "tests/platform/dispatch/DispatchTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// A subclassed operation that reports what it saw of itself while running.
class RecordingOperation : public NSOperation {
public:
    explicit RecordingOperation(std::string name, std::vector<std::string>* log, std::mutex* mutex)
        : log_(log), mutex_(mutex) {
        setName(std::move(name));
    }
    void main() override {
        executingInside = isExecuting();
        finishedInside = isFinished();
        std::lock_guard lock(*mutex_);
        log_->push_back(name());
    }
    bool executingInside = false;
    bool finishedInside = true;

private:
    std::vector<std::string>* log_;
    std::mutex* mutex_;
};

}  // namespace

TEST(OperationQueue, NeverRunsMoreThanTheMaximumAtOnceButDoesReachIt) {
    auto queue = NSOperationQueue::make();
    queue->setMaxConcurrentOperationCount(2);
    EXPECT_EQ(queue->maxConcurrentOperationCount(), 2);
    std::atomic<int> active{0};
    std::atomic<int> peak{0};
    Latch pairMet(2);
    constexpr int count = 40;
    for (int i = 0; i < count; ++i) {
        queue->addOperationWithBlock([&, i] {
            const int now = active.fetch_add(1) + 1;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            if (i < 2) {  // the first two wait for each other: both must run at once
                pairMet.countDown();
                EXPECT_TRUE(pairMet.waitFor(10));
            }
            active.fetch_sub(1);
        });
    }
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue->operationCount(), 0u);
    EXPECT_EQ(peak.load(), 2);
    EXPECT_TRUE(pairMet.done());
}

TEST(OperationQueue, CancelAllNeverStartsWaitingOperationsAndTellsTheRunningOne) {
    auto queue = NSOperationQueue::make();
    queue->setMaxConcurrentOperationCount(1);
    Latch started(1);
    Latch release(1);
    std::atomic<bool> sawCancelled{false};
    std::atomic<int> laterRan{0};
    auto running = NSBlockOperation::blockOperationWithBlock([&] {
        started.countDown();
        EXPECT_TRUE(release.waitFor());
    });
    running->addExecutionBlock([&] { sawCancelled = running->isCancelled(); });
    queue->addOperation(running);
    std::vector<std::shared_ptr<NSOperation>> waiting;
    for (int i = 0; i < 5; ++i) {
        auto op = NSBlockOperation::blockOperationWithBlock([&] { laterRan.fetch_add(1); });
        waiting.push_back(op);
        queue->addOperation(op);
    }
    ASSERT_TRUE(started.waitFor());
    EXPECT_EQ(queue->operationCount(), 6u);
    EXPECT_TRUE(running->isExecuting());
    queue->cancelAllOperations();
    EXPECT_EQ(queue->operationCount(), 1u);  // only the running one is left
    release.countDown();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sawCancelled.load());
    EXPECT_EQ(laterRan.load(), 0);
    for (const auto& op : waiting) {
        EXPECT_TRUE(op->isCancelled());
        EXPECT_TRUE(op->isFinished());
    }
    EXPECT_TRUE(running->isFinished());
    EXPECT_FALSE(running->isExecuting());

    // The queue goes on taking new work afterwards.
    std::atomic<bool> ran{false};
    queue->addOperationWithBlock([&] { ran = true; });
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(ran.load());
}

TEST(OperationQueue, ASuspendedQueueStartsNothingUntilResumed) {
    auto queue = NSOperationQueue::make();
    queue->setSuspended(true);
    EXPECT_TRUE(queue->isSuspended());
    std::atomic<int> ran{0};
    for (int i = 0; i < 3; ++i) queue->addOperationWithBlock([&] { ran.fetch_add(1); });
    // Anything started would have been submitted to the pool by now; a pool round trip shows it.
    auto probe = DispatchQueue::create("test.op.probe", DispatchQueue::Kind::Serial,
                                       DispatchQueue::globalQueue());
    for (int i = 0; i < 3; ++i) probe->sync([] {});
    EXPECT_EQ(queue->operationCount(), 3u);
    queue->setSuspended(false);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 3);
}

TEST(OperationQueue, DependenciesOrderSubclassedOperationsAndStatesAreSeenInside) {
    auto queue = NSOperationQueue::make();
    queue->setName("test.ops");
    EXPECT_EQ(queue->name(), "test.ops");
    std::vector<std::string> log;
    std::mutex mutex;
    auto first = std::make_shared<RecordingOperation>("first", &log, &mutex);
    auto second = std::make_shared<RecordingOperation>("second", &log, &mutex);
    auto third = std::make_shared<RecordingOperation>("third", &log, &mutex);
    third->addDependency(second);
    second->addDependency(first);
    Latch completed(1);
    first->setCompletionBlock([&] { completed.countDown(); });
    queue->addOperation(third);
    queue->addOperation(second);
    EXPECT_FALSE(third->isReady());
    queue->addOperation(first);
    third->waitUntilFinished();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_TRUE(first->executingInside);
    EXPECT_FALSE(first->finishedInside);
    EXPECT_TRUE(third->isFinished());
    EXPECT_TRUE(completed.waitFor());
}

TEST(OperationQueue, AnExceptionInAnOperationIsReportedAndTheOperationStillFinishes) {
    std::vector<std::string> reports;
    std::mutex mutex;
    DispatchQueue::setExceptionHandler([&](const std::string& where, const std::string& what) {
        std::lock_guard lock(mutex);
        reports.push_back(where + " | " + what);
    });
    auto queue = NSOperationQueue::make();
    queue->setMaxConcurrentOperationCount(1);
    auto op = NSBlockOperation::blockOperationWithBlock([] { throw std::runtime_error("op failed"); });
    op->setName("thrower");
    queue->addOperation(op);
    queue->waitUntilAllOperationsAreFinished();
    DispatchQueue::setExceptionHandler(nullptr);
    EXPECT_TRUE(op->isFinished());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "operation \"thrower\" (NSBlockOperation) | op failed");
}

TEST(OperationQueue, TheMainOperationQueueRunsOnTheMainRunLoopOneAtATime) {
    auto queue = NSOperationQueue::mainQueue();
    EXPECT_EQ(queue, NSOperationQueue::mainQueue());
    EXPECT_EQ(queue->maxConcurrentOperationCount(), 1);
    std::vector<int> order;
    bool allOnMain = true;
    for (int i = 0; i < 5; ++i) {
        queue->addOperationWithBlock([&, i] {
            allOnMain = allOnMain && NSThread::isMainThread();
            order.push_back(i);
        });
    }
    EXPECT_TRUE(order.empty());
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return queue->operationCount() == 0; }, kSafety));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(allOnMain);
}
