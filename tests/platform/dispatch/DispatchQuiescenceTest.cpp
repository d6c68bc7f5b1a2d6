// What the manual clock's settle and a wait until idle wait for: work apart, and a block waiting
// for it, run beside a settle but not beside a wait until idle; work apart polls the cancellation
// it was handed (cancelled by its asker or by the process's end), and leaves no thread once done;
// a settle gives up on work that spins without end after its total bound.
#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/foundation/Clock.h"
#include "tests/platform/dispatch/DispatchTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using testing::HasSubstr;

namespace {

using WorkApart = ManualClockTest;
using SettleBounds = ManualClockTest;

// What outstandingWork says of each queue with work.
std::map<std::string, std::string> outstanding() {
    std::map<std::string, std::string> told;
    for (const auto& work : DispatchQuiescence::outstandingWork()) told[work.where] = work.what;
    return told;
}

// Threads of the pool apart still there.
int apartThreads() {
    int count = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec)) {
        std::ifstream comm(it->path() / "comm");
        std::string name;
        std::getline(comm, name);
        count += name == "dispatch-apart";
    }
    return count;
}

// Polls `cancellation` as work apart does, until it is cancelled (true) or the safety bound ends.
bool pollUntilCancelled(const DispatchCancellation& cancellation) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSafety);
    while (!cancellation.isCancelled()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace

// The clock settles and fires its timers while work apart runs, its blocks one after another on
// their queue; waiting until idle does not end before them, and the list of work left names
// their queue. Once they end, no thread of theirs stays.
TEST_F(WorkApart, ASettleGoesOnBesideItWhileWaitingUntilIdleAndTheWorkLeftCountIt) {
    // A settle that waited for the work held here would give up after this, and say so.
    dispatch_detail::ScopedSettleLimits limits(std::chrono::seconds(2), std::chrono::seconds(4));
    auto apart = DispatchQueue::createApart("test.apart");
    Latch started(1);
    Latch release(1);
    std::vector<std::string> ran;  // written on the queue apart alone, one block after another
    apart->async([&] {
        ran.push_back(DispatchQueue::currentQueueLabel());
        started.countDown();
        ASSERT_TRUE(release.waitFor());
    });
    ASSERT_TRUE(started.waitFor());
    apart->async([&] { ran.push_back("second"); });

    testing::internal::CaptureStderr();
    std::atomic<bool> fired{false};
    DispatchQueue::create("test.apart.timer")->after(1, [&] { fired = true; });
    Clock::advance(1);
    EXPECT_TRUE(fired);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::Not(HasSubstr("did not settle")));
    EXPECT_FALSE(DispatchQuiescence::waitUntilIdle(0));
    EXPECT_EQ(outstanding()["queue \"test.apart\""], "running, 1 block waiting");

    release.countDown();
    ASSERT_TRUE(DispatchQuiescence::waitUntilIdle(kSafety));
    EXPECT_EQ(ran, (std::vector<std::string>{"test.apart", "second"}));
    EXPECT_TRUE(outstanding().empty());
    // A thread of the pool apart leaves as soon as it finds no work.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSafety);
    while (apartThreads() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(apartThreads(), 0);
}

// The work polls the cancellation it was handed: its asker cancels it, and the process's end
// cancels every one whose block has not ended, running or still queued, and none handed later;
// the wait until idle that follows sees the work end.
TEST_F(WorkApart, StopsWhenItsCancellationIsCancelledByItsAskerOrByTheProcessEnd) {
    auto apart = DispatchQueue::createApart("test.apart.cancel");
    auto asked = DispatchCancellation::make();
    std::promise<bool> stopped;
    apart->async([&] { stopped.set_value(pollUntilCancelled(*asked)); }, asked);
    asked->cancel();
    auto answer = stopped.get_future();
    ASSERT_EQ(answer.wait_for(std::chrono::duration<double>(kSafety)), std::future_status::ready);
    EXPECT_TRUE(answer.get());

    auto ended = DispatchCancellation::make();
    apart->async([] {}, ended);
    auto running = DispatchCancellation::make();
    auto queued = DispatchCancellation::make();
    Latch started(1);
    std::atomic<int> sawCancelled{0};
    apart->async(
        [&] {
            started.countDown();
            sawCancelled += pollUntilCancelled(*running);
        },
        running);
    apart->async([&] { sawCancelled += queued->isCancelled(); }, queued);
    ASSERT_TRUE(started.waitFor());

    DispatchQueue::cancelWorkInProgress();
    auto later = DispatchCancellation::make();
    apart->async([] {}, later);
    ASSERT_TRUE(DispatchQuiescence::waitUntilIdle(kSafety));
    EXPECT_EQ(sawCancelled, 2);
    EXPECT_FALSE(ended->isCancelled());
    EXPECT_FALSE(later->isCancelled());
}

// A queue's block that runs its work apart and waits for it keeps its queue, not the clock: the
// clock settles and fires its timers meanwhile, the queue's next block waits, and waiting until
// idle does not end before both. What the work throws comes out at its waiter.
TEST_F(WorkApart, ABlockWaitingForItsWorkApartHoldsItsQueueButNotTheClock) {
    dispatch_detail::ScopedSettleLimits limits(std::chrono::seconds(2), std::chrono::seconds(4));
    auto apart = DispatchQueue::createApart("test.apart.waited");
    auto queue = DispatchQueue::create("test.apart.waiter");
    Latch started(1);
    Latch release(1);
    std::vector<std::string> ran;  // written by one block at a time, each after the one before
    queue->async([&] {
        apart->syncApart(
            [&] {
                ran.push_back(DispatchQueue::currentQueueLabel());
                started.countDown();
                ASSERT_TRUE(release.waitFor());
            },
            nullptr);
        ran.push_back("waiter");
    });
    queue->async([&] { ran.push_back("behind"); });
    ASSERT_TRUE(started.waitFor());

    testing::internal::CaptureStderr();
    std::atomic<bool> fired{false};
    DispatchQueue::create("test.apart.waited.timer")->after(1, [&] { fired = true; });
    Clock::advance(1);
    EXPECT_TRUE(fired);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::Not(HasSubstr("did not settle")));
    EXPECT_FALSE(DispatchQuiescence::waitUntilIdle(0));

    release.countDown();
    ASSERT_TRUE(DispatchQuiescence::waitUntilIdle(kSafety));
    EXPECT_EQ(ran, (std::vector<std::string>{"test.apart.waited", "waiter", "behind"}));
    EXPECT_THROW(apart->syncApart([] { throw std::runtime_error("apart"); }, nullptr), std::runtime_error);
}

// Work that spins without end keeps a settle waiting only up to its total bound: then the settle
// says so and the clock goes on. Here at a bound of a second and a half, three times the still
// bound, which the spinning work is never still for; the advance runs on a thread of its own, so
// that a settle that never gave up fails the test rather than hang it.
TEST_F(SettleBounds, ASettleGivesUpOnWorkThatSpinsWithoutEndAfterItsTotalBound) {
    dispatch_detail::ScopedSettleLimits limits(std::chrono::milliseconds(500), std::chrono::milliseconds(1500));
    std::atomic<bool> stop{false};
    Latch spinning(1);
    DispatchQueue::globalQueue()->async([&] {
        spinning.countDown();
        while (!stop.load(std::memory_order_relaxed)) {
        }
    });
    ASSERT_TRUE(spinning.waitFor());
    auto advanced = std::async(std::launch::async, [] {
        testing::internal::CaptureStderr();
        const auto began = std::chrono::steady_clock::now();
        Clock::advance(1);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        return std::pair{testing::internal::GetCapturedStderr(), took};
    });
    const bool gaveUp = advanced.wait_for(std::chrono::duration<double>(kSafety)) == std::future_status::ready;
    stop = true;
    ASSERT_TRUE(gaveUp) << "the settle waited on spinning work past its total bound";
    const auto [said, took] = advanced.get();
    EXPECT_THAT(said, HasSubstr("queued work kept moving but did not settle within 1.5 s; firing the next timer anyway."));
    EXPECT_GE(took, 1.5);
    ASSERT_TRUE(DispatchQuiescence::waitUntilIdle(kSafety));
}
