// Groups: notification after all work, waits with deadlines on the manual clock.
#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "tests/platform/dispatch/DispatchTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

using Group = ManualClockTest;

TEST_F(Group, NotifyRunsOnItsQueueAfterEveryBlockAndEveryLeave) {
    auto group = DispatchGroup::create();
    auto work = DispatchQueue::create("test.group.work", DispatchQueue::Kind::Concurrent);
    std::atomic<int> done{0};
    for (int i = 0; i < 50; ++i) group->async(work, [&] { done.fetch_add(1); });
    group->enter();  // an outside piece of work still running
    std::atomic<int> seenAtNotify{-1};
    bool onMain = false;
    group->notify(DispatchQueue::mainQueue(), [&] {
        seenAtNotify = done.load();
        onMain = DispatchQueue::currentQueueLabel() == "main-thread";
    });
    work->syncBarrier([] {});
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(seenAtNotify.load(), -1);  // the outside work has not left yet
    group->leave();
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return seenAtNotify.load() >= 0; }, kSafety));
    EXPECT_EQ(seenAtNotify.load(), 50);
    EXPECT_TRUE(onMain);
}

TEST_F(Group, NotifyOnAnEmptyGroupIsPostedNotRunInline) {
    auto group = DispatchGroup::create();
    bool ran = false;
    group->notify(DispatchQueue::mainQueue(), [&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return ran; }, kSafety));
}

TEST_F(Group, WaitEndsWhenEmptyOrWhenTheClockPassesTheDeadline) {
    auto group = DispatchGroup::create();
    EXPECT_TRUE(group->wait(DispatchTime::now()));
    group->enter();
    EXPECT_FALSE(group->wait(DispatchTime::now()));
    std::atomic<int> result{-1};
    DispatchQueue::globalQueue()->async([&] { result = group->wait(DispatchTime::after(5)) ? 1 : 0; });
    Clock::advance(4);
    EXPECT_EQ(result.load(), -1);
    Clock::advance(1);
    EXPECT_EQ(result.load(), 0);

    result = -1;
    DispatchQueue::globalQueue()->async([&] { result = group->wait(DispatchTime::after(5)) ? 1 : 0; });
    Clock::advance(1);
    group->leave();
    Clock::advance(0);  // settles: the waiter has finished
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(Clock::now(), start + 6);
}

using GroupDeathTest = ::testing::Test;

TEST_F(GroupDeathTest, LeavingMoreOftenThanEnteringAborts) {
    EXPECT_DEATH(
        {
            auto group = DispatchGroup::create();
            group->enter();
            group->leave();
            group->leave();
        },
        "group left more often than entered");
}
