// Sequence checks: a serial queue is one sequence whatever pool thread runs it, the main queue
// and the main thread are one, and a call from another sequence is refused (and aborts).
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/SequenceChecker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(SequenceChecker, ASerialQueueIsOneSequenceAndOtherThreadsAreNot) {
    SequenceChecker checker("Probe");
    auto queue = DispatchQueue::create("test.sequence.serial");
    std::atomic<int> valid{0};
    for (int i = 0; i < 50; ++i)
        queue->async([&] { valid += checker.calledOnValidSequence() ? 1 : 0; });
    queue->sync([] {});
    EXPECT_EQ(valid.load(), 50);

    // The bound queue's work, even run by sync on this thread, is the same sequence; plain
    // threads and other queues are not.
    bool onQueue = false;
    queue->sync([&] { onQueue = checker.calledOnValidSequence(); });
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(checker.calledOnValidSequence());
    bool onOther = true;
    DispatchQueue::create("test.sequence.other")->sync([&] { onOther = checker.calledOnValidSequence(); });
    EXPECT_FALSE(onOther);

    checker.detach();
    EXPECT_TRUE(checker.calledOnValidSequence());  // binds to this thread now
    bool fromThread = true;
    std::thread([&] { fromThread = checker.calledOnValidSequence(); }).join();
    EXPECT_FALSE(fromThread);
}

TEST(SequenceChecker, TheMainQueueIsTheMainThread) {
    SequenceChecker checker("Probe");
    ASSERT_TRUE(checker.calledOnValidSequence());
    bool fromMainQueue = false, ran = false;
    DispatchQueue::mainQueue()->async([&] {
        fromMainQueue = checker.calledOnValidSequence();
        ran = true;
    });
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return ran; }, 5));
    EXPECT_TRUE(fromMainQueue);
    // A concurrent queue's work is no sequence of its own: its pool thread is not the main one.
    bool fromGlobal = true;
    DispatchQueue::globalQueue()->sync([&] { fromGlobal = checker.calledOnValidSequence(); });
    EXPECT_TRUE(fromGlobal);  // sync runs on the calling thread, the main thread
}

TEST(SequenceCheckerDeathTest, AWrongSequenceCallAbortsNamingTheOwner) {
    SequenceChecker checker("APMDatabase");
    ASSERT_TRUE(checker.calledOnValidSequence());
    EXPECT_DEATH(
        { std::thread([&] { checker.check("insertEvent"); }).join(); },
        "APMDatabase::insertEvent called from a thread outside any serial queue");
}
