// Handing freed memory back: behind the asking queue's work, and for the main thread on the queue
// the relief was given, never in the call, once for all that asked meanwhile.
#include "platform/dispatch/MemoryRelief.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <gtest/gtest.h>

#include <memory>

// The picture decoders' case: the main thread asks while it holds a picture's lock, again and
// again during a walk through the pictures; a decoding queue asks from its own work.
TEST(MemoryReliefTest, WhatTheMainThreadAsksForIsDoneOnTheGivenQueueOnceForAllWhoAskedMeanwhile) {
    const auto elsewhere = DispatchQueue::create("test.relief.elsewhere");
    elsewhere->suspend();
    const auto relief = MemoryRelief::make(elsewhere);
    Mutex pictureLock;
    {
        MutexLock held(pictureLock);
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(relief->request());
        EXPECT_EQ(relief->reliefCount(), 0u);
    }
    elsewhere->resume();
    elsewhere->sync([] {});
    EXPECT_EQ(relief->reliefCount(), 1u);
    // Asked again once that one is done: done again.
    EXPECT_FALSE(relief->request());
    elsewhere->sync([] {});
    EXPECT_EQ(relief->reliefCount(), 2u);

    // From a queue's work, behind that queue's work, while the given queue is held up.
    elsewhere->suspend();
    const auto decoding = DispatchQueue::create("test.relief.decoding");
    bool doneAtOnce = true;
    decoding->async([&] { doneAtOnce = relief->request(); });
    // The first wait is for the request, the second for what it queued behind it.
    decoding->sync([] {});
    EXPECT_FALSE(doneAtOnce);
    decoding->sync([] {});
    EXPECT_EQ(relief->reliefCount(), 3u);
    elsewhere->resume();
}
