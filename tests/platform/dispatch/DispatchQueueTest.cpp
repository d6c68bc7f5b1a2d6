// Dispatch queues: order and exclusivity under many threads, no lost work, sync and its
// deadlock abort, barriers, targets and specifics, suspension, cancellable blocks, delays, and
// the work still outstanding.
#include "platform/dispatch/DispatchBlock.h"
#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/dispatch/SequenceChecker.h"
#include "tests/platform/dispatch/DispatchTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// Fails the test when two blocks it guards overlap.
class ExclusivityProbe {
public:
    void enter() {
        if (inside_.exchange(true)) overlaps_.fetch_add(1);
    }
    void leave() { inside_.store(false); }
    int overlaps() const { return overlaps_.load(); }

private:
    std::atomic<bool> inside_{false};
    std::atomic<int> overlaps_{0};
};

}  // namespace

// --- Serial queues: order, exclusivity, no lost or duplicated work -------------------------

TEST(SerialQueue, KeepsEachProducersOrderAndNeverRunsTwoBlocksAtOnce) {
    auto queue = DispatchQueue::create("test.serial.order");
    constexpr int producers = 8;
    constexpr int perProducer = 3000;
    ExclusivityProbe probe;
    std::vector<int> lastSeen(producers, -1);
    int outOfOrder = 0;
    int ran = 0;
    Latch finished(producers * perProducer);

    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < perProducer; ++i) {
                queue->async([&, p, i] {
                    probe.enter();
                    // Plain (unlocked) state: only exclusivity keeps it consistent.
                    if (lastSeen[p] != i - 1) ++outOfOrder;
                    lastSeen[p] = i;
                    ++ran;
                    probe.leave();
                    finished.countDown();
                });
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(finished.waitFor());
    EXPECT_EQ(probe.overlaps(), 0);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(ran, producers * perProducer);
}

TEST(SerialQueue, QueuesSharingASerialTargetAreExclusiveWithEachOther) {
    auto target = DispatchQueue::create("test.serial.shared-target");
    auto a = DispatchQueue::create("test.serial.a", DispatchQueue::Kind::Serial, target);
    auto b = DispatchQueue::create("test.serial.b", DispatchQueue::Kind::Serial, target);
    ExclusivityProbe probe;
    constexpr int count = 2000;
    Latch finished(3 * count);
    for (int i = 0; i < count; ++i) {
        for (const auto& q : {a, b, target}) {
            q->async([&] {
                probe.enter();
                probe.leave();
                finished.countDown();
            });
        }
    }
    ASSERT_TRUE(finished.waitFor());
    EXPECT_EQ(probe.overlaps(), 0);
}

TEST(QueueStress, ManyProducersLoseAndDuplicateNothingAcrossQueueKinds) {
    std::vector<std::shared_ptr<DispatchQueue>> queues = {
        DispatchQueue::create("test.stress.serial1"),
        DispatchQueue::create("test.stress.serial2"),
        DispatchQueue::create("test.stress.concurrent", DispatchQueue::Kind::Concurrent),
        DispatchQueue::globalQueue(DispatchQueue::Priority::High),
        DispatchQueue::globalQueue(DispatchQueue::Priority::Background),
    };
    constexpr int producers = 12;
    constexpr int perProducer = 4000;
    constexpr int total = producers * perProducer;
    auto runs = std::make_unique<std::atomic<int>[]>(total);
    Latch finished(total);
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < perProducer; ++i) {
                const int id = p * perProducer + i;
                auto block = [&, id] {
                    runs[id].fetch_add(1);
                    finished.countDown();
                };
                if (id % 50 == 0) queues[id % queues.size()]->asyncBarrier(block);
                else queues[id % queues.size()]->async(block);
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(finished.waitFor(60));
    int wrong = 0;
    for (int i = 0; i < total; ++i) wrong += runs[i].load() != 1;
    EXPECT_EQ(wrong, 0);
}

// --- Concurrent queues and barriers --------------------------------------------------------

TEST(ConcurrentQueue, RunsBlocksInParallelAndABarrierAlone) {
    auto queue = DispatchQueue::create("test.concurrent", DispatchQueue::Kind::Concurrent);
    // Two blocks that each wait for the other can only finish when run in parallel.
    Latch both(2);
    std::atomic<int> metInParallel{0};
    for (int i = 0; i < 2; ++i) {
        queue->async([&] {
            both.countDown();
            if (both.waitFor(10)) metInParallel.fetch_add(1);
        });
    }
    std::atomic<int> active{0};
    std::atomic<int> before{0};
    std::atomic<int> after{0};
    std::atomic<bool> barrierAlone{false};
    std::atomic<bool> barrierSawAllBefore{false};
    std::atomic<int> afterStartedEarly{0};
    std::atomic<bool> barrierDone{false};
    Latch finished(61);
    for (int i = 0; i < 30; ++i) {
        queue->async([&] {
            active.fetch_add(1);
            before.fetch_add(1);
            active.fetch_sub(1);
            finished.countDown();
        });
    }
    queue->asyncBarrier([&] {
        barrierAlone = active.load() == 0;
        barrierSawAllBefore = before.load() == 30 && metInParallel.load() == 2;
        barrierDone = true;
        finished.countDown();
    });
    for (int i = 0; i < 30; ++i) {
        queue->async([&] {
            if (!barrierDone.load()) afterStartedEarly.fetch_add(1);
            after.fetch_add(1);
            finished.countDown();
        });
    }
    ASSERT_TRUE(finished.waitFor());
    EXPECT_EQ(metInParallel.load(), 2);
    EXPECT_TRUE(barrierAlone.load());
    EXPECT_TRUE(barrierSawAllBefore.load());
    EXPECT_EQ(afterStartedEarly.load(), 0);
    EXPECT_EQ(after.load(), 30);
}

// --- sync -------------------------------------------------------------------------------------

TEST(Sync, RunsOnTheCallingThreadAfterEarlierWorkAndExclusiveOfIt) {
    auto queue = DispatchQueue::create("test.sync");
    ExclusivityProbe probe;
    std::vector<int> order;
    for (int i = 0; i < 100; ++i) {
        queue->async([&, i] {
            probe.enter();
            order.push_back(i);
            probe.leave();
        });
    }
    std::thread::id ranOn;
    std::string label;
    queue->sync([&] {
        probe.enter();
        ranOn = std::this_thread::get_id();
        label = DispatchQueue::currentQueueLabel();
        order.push_back(100);
        probe.leave();
    });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(label, "test.sync");
    ASSERT_EQ(order.size(), 101u);
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_EQ(probe.overlaps(), 0);
}

TEST(Sync, FromManyThreadsWhileAsyncWorkRunsStaysExclusive) {
    auto queue = DispatchQueue::create("test.sync.many");
    ExclusivityProbe probe;
    long counter = 0;  // unlocked on purpose
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                queue->async([&] {
                    probe.enter();
                    ++counter;
                    probe.leave();
                });
                queue->sync([&] {
                    probe.enter();
                    ++counter;
                    probe.leave();
                });
            }
        });
    }
    for (auto& t : threads) t.join();
    queue->sync([] {});
    EXPECT_EQ(counter, 6 * 300 * 2);
    EXPECT_EQ(probe.overlaps(), 0);
}

TEST(Sync, OntoAnIdleQueueHoldsItAsItsWorkUntilDone) {
    static char key;
    auto queue = DispatchQueue::create("test.sync.idle");
    queue->setSpecific(&key, Value("idle"));
    SequenceChecker checker("IdleQueueProbe");
    Latch bound(1);
    queue->async([&] {
        EXPECT_TRUE(checker.calledOnValidSequence());
        bound.countDown();
    });
    ASSERT_TRUE(bound.waitFor());
    queue->sync([] {});  // the queue is idle from here on

    ExclusivityProbe probe;
    std::vector<int> order;
    Latch ran(2);
    Value specific;
    bool onSequence = false;
    queue->sync([&] {
        probe.enter();
        specific = DispatchQueue::getSpecific(&key);
        onSequence = checker.calledOnValidSequence();
        // Queued from elsewhere while the caller holds the queue: it waits for the caller.
        std::thread other([&] {
            for (int i = 1; i <= 2; ++i) {
                queue->async([&, i] {
                    probe.enter();
                    order.push_back(i);
                    probe.leave();
                    ran.countDown();
                });
            }
        });
        other.join();
        EXPECT_FALSE(ran.waitFor(0.05));
        order.push_back(0);
        probe.leave();
    });
    ASSERT_TRUE(ran.waitFor());
    EXPECT_EQ(specific, Value("idle"));
    EXPECT_TRUE(onSequence);
    EXPECT_FALSE(checker.calledOnValidSequence());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(probe.overlaps(), 0);

    // A block that throws gives the queue back too.
    Latch after(1);
    EXPECT_THROW(queue->sync([&] {
        queue->async([&] { after.countDown(); });
        throw std::runtime_error("thrown inside sync");
    }),
                 std::runtime_error);
    EXPECT_TRUE(after.waitFor());
}

TEST(Sync, OntoAnotherQueueFromAQueueAndOntoAConcurrentQueueFromInsideIt) {
    auto outer = DispatchQueue::create("test.sync.outer");
    auto inner = DispatchQueue::create("test.sync.inner");
    auto concurrent = DispatchQueue::create("test.sync.concurrent", DispatchQueue::Kind::Concurrent);
    std::vector<std::string> labels;
    outer->sync([&] {
        inner->sync([&] { labels.push_back(DispatchQueue::currentQueueLabel()); });
        labels.push_back(DispatchQueue::currentQueueLabel());
    });
    concurrent->sync([&] { concurrent->sync([&] { labels.push_back(DispatchQueue::currentQueueLabel()); }); });
    EXPECT_EQ(labels, (std::vector<std::string>{"test.sync.inner", "test.sync.outer", "test.sync.concurrent"}));
}

TEST(Sync, OntoTheMainQueueFromAnotherThreadRunsOnTheMainThread) {
    bool onMain = false;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        DispatchQueue::mainQueue()->sync([&] { onMain = NSThread::isMainThread(); });
        returned = true;
    });
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return returned.load(); }, kSafety));
    worker.join();
    EXPECT_TRUE(onMain);
}

using SyncDeathTest = ::testing::Test;

TEST_F(SyncDeathTest, OntoTheSerialQueueRunningTheCallerAborts) {
    EXPECT_DEATH(
        {
            auto queue = DispatchQueue::create("test.deadlock.self");
            queue->sync([&] { queue->sync([] {}); });
        },
        "sync onto queue \"test.deadlock.self\".*would deadlock");
}

TEST_F(SyncDeathTest, OntoAQueueTargetingTheCallersQueueAborts) {
    EXPECT_DEATH(
        {
            auto target = DispatchQueue::create("test.deadlock.target");
            auto child = DispatchQueue::create("test.deadlock.child", DispatchQueue::Kind::Serial, target);
            Latch done(1);
            target->async([&] {
                child->sync([] {});
                done.countDown();
            });
            (void)done.waitFor(10);  // not reached: the sync aborts
        },
        "sync onto queue \"test.deadlock.child\".*would deadlock");
}

TEST_F(SyncDeathTest, OntoTheMainQueueFromTheMainThreadAborts) {
    EXPECT_DEATH(DispatchQueue::mainQueue()->sync([] {}), "sync onto queue \"main-thread\".*would deadlock");
}

TEST_F(SyncDeathTest, BarrierOntoAConcurrentQueueFromInsideItAborts) {
    EXPECT_DEATH(
        {
            auto queue = DispatchQueue::create("test.deadlock.barrier", DispatchQueue::Kind::Concurrent);
            queue->sync([&] { queue->syncBarrier([] {}); });
        },
        "would deadlock");
}

// --- Targets, labels and queue-specific values --------------------------------------------

TEST(QueueIdentity, LabelsAndSpecificsFollowTheTargetChain) {
    static char key;
    static char otherKey;
    auto target = DispatchQueue::create("test.identity.target");
    auto child = DispatchQueue::create("test.identity.child", DispatchQueue::Kind::Serial, target);
    target->setSpecific(&key, Value("from target"));
    child->setSpecific(&otherKey, Value(7));
    EXPECT_EQ(child->targetQueue(), target);
    EXPECT_EQ(target->targetQueue(), DispatchQueue::globalQueue());

    std::string label;
    Value inherited, own, missing;
    std::shared_ptr<DispatchQueue> current;
    child->sync([&] {
        label = DispatchQueue::currentQueueLabel();
        inherited = DispatchQueue::getSpecific(&key);
        own = DispatchQueue::getSpecific(&otherKey);
        current = DispatchQueue::currentQueue();
    });
    Latch ran(1);
    target->async([&] {
        missing = DispatchQueue::getSpecific(&otherKey);
        ran.countDown();
    });
    ASSERT_TRUE(ran.waitFor());
    EXPECT_EQ(label, "test.identity.child");
    EXPECT_EQ(inherited, Value("from target"));
    EXPECT_EQ(own, Value(7));
    EXPECT_TRUE(missing.isNull());
    EXPECT_EQ(current, child);
    EXPECT_EQ(DispatchQueue::currentQueueLabel(), "");
    EXPECT_EQ(DispatchQueue::currentQueue(), nullptr);
    EXPECT_TRUE(DispatchQueue::getSpecific(&key).isNull());
}

TEST(QueueIdentity, ATargetCycleIsRefused) {
    auto a = DispatchQueue::create("test.cycle.a");
    auto b = DispatchQueue::create("test.cycle.b", DispatchQueue::Kind::Serial, a);
    a->setTargetQueue(b);
    EXPECT_EQ(a->targetQueue(), DispatchQueue::globalQueue());
    bool ran = false;
    b->sync([&] { ran = true; });
    EXPECT_TRUE(ran);
}

// --- Suspension and cancellable blocks -----------------------------------------------------

TEST(Suspension, NothingStartsWhileSuspendedAndOrderIsKeptOnResume) {
    auto target = DispatchQueue::create("test.suspend.target");
    auto queue = DispatchQueue::create("test.suspend", DispatchQueue::Kind::Serial, target);
    queue->suspend();
    queue->suspend();
    std::vector<int> order;
    std::mutex mutex;
    auto cancelled = DispatchBlock::create([&] {
        std::lock_guard lock(mutex);
        order.push_back(-1);
    });
    for (int i = 0; i < 5; ++i) {
        queue->async([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
        if (i == 2) queue->async(cancelled);
    }
    cancelled->cancel();
    EXPECT_TRUE(cancelled->testCancel());
    queue->resume();
    // Still suspended once. Had the queue been started, its drain would be on the target
    // ahead of this sync.
    target->sync([] {});
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(order.empty());
    }
    queue->resume();
    queue->sync([] {});
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(CancellableBlock, RunsWhenNotCancelled) {
    auto queue = DispatchQueue::create("test.block");
    int runs = 0;
    auto block = DispatchBlock::create([&] { ++runs; });
    queue->async(block);
    queue->sync([] {});
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(block->testCancel());
}

// --- Exceptions escaping blocks -----------------------------------------------------------------

TEST(BlockExceptions, AreReportedAndTheQueueGoesOn) {
    std::mutex mutex;
    std::vector<std::string> reports;
    DispatchQueue::setExceptionHandler([&](const std::string& where, const std::string& what) {
        std::lock_guard lock(mutex);
        reports.push_back(where + " | " + what);
    });
    auto queue = DispatchQueue::create("test.throwing");
    bool after = false;
    queue->async([] { throw std::runtime_error("boom in a block"); });
    queue->async([] { throw 42; });
    queue->async([&] { after = true; });
    queue->sync([] {});
    DispatchQueue::setExceptionHandler(nullptr);
    EXPECT_TRUE(after);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "queue \"test.throwing\" | boom in a block");
    EXPECT_NE(reports[1].find("unknown type"), std::string::npos);
}

TEST(BlockExceptions, GoToStandardErrorWithoutAHandler) {
    DispatchQueue::setExceptionHandler(nullptr);
    auto queue = DispatchQueue::create("test.throwing.stderr");
    testing::internal::CaptureStderr();
    queue->async([] { throw std::logic_error("bad state"); });
    queue->sync([] {});
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("queue \"test.throwing.stderr\": bad state"), std::string::npos) << printed;
}

TEST(BlockExceptions, FromASyncBlockReachTheCaller) {
    auto queue = DispatchQueue::create("test.throwing.sync");
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("to the caller"); }), std::runtime_error);
    bool ran = false;
    queue->sync([&] { ran = true; });  // the queue was released
    EXPECT_TRUE(ran);
}

// --- Delayed blocks on the clock ------------------------------------------------------------

using DelayedBlocks = ManualClockTest;

TEST_F(DelayedBlocks, RunInDeadlineOrderOnlyWhenTheClockGetsThere) {
    auto queue = DispatchQueue::create("test.after");
    std::vector<std::pair<int, double>> fired;
    queue->after(3, [&] { fired.emplace_back(3, Clock::now()); });
    queue->after(1, [&] { fired.emplace_back(1, Clock::now()); });
    queue->after(2, [&] { fired.emplace_back(2, Clock::now()); });
    auto cancelled = DispatchBlock::create([&] { fired.emplace_back(-1, Clock::now()); });
    queue->after(1.5, cancelled);
    cancelled->cancel();
    // Nothing waits on the clock to skip the cancelled one.
    std::vector<double> pending;
    for (const auto& timer : Clock::pending())
        if (timer.label == "a block after a delay on queue \"test.after\"") pending.push_back(timer.fireTime - start);
    EXPECT_EQ(pending, (std::vector<double>{3, 1, 2}));

    Clock::advance(0.999);
    queue->sync([] {});
    EXPECT_TRUE(fired.empty());
    Clock::advance(10);
    queue->sync([] {});
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[0], std::make_pair(1, start + 1));
    EXPECT_EQ(fired[1], std::make_pair(2, start + 2));
    EXPECT_EQ(fired[2], std::make_pair(3, start + 3));
}

TEST_F(DelayedBlocks, AZeroDelayRunsWithoutAnAdvanceButNeverInline) {
    auto queue = DispatchQueue::create("test.after.zero");
    std::atomic<bool> ran{false};
    queue->after(0, [&] { ran = true; });
    queue->sync([] {});
    EXPECT_TRUE(ran.load());

    bool mainRan = false;
    DispatchQueue::mainQueue()->after(0, [&] { mainRan = true; });
    EXPECT_FALSE(mainRan);
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return mainRan; }, kSafety));
}

TEST_F(DelayedBlocks, WorkQueuedBeforeAnAdvanceIsSettledFirst) {
    // The block that arms the delay has not run when advance() starts; it must not be missed.
    auto queue = DispatchQueue::create("test.after.settle");
    std::atomic<int> fired{0};
    queue->async([&] { queue->after(5, [&] { fired.fetch_add(1); }); });
    Clock::advance(5);
    EXPECT_EQ(fired.load(), 1);
}

TEST(OutstandingWork, NamesEachQueueWithWorkAndTheMainRunLoopWithBlocksReady) {
    Latch release(1);
    Latch started(2);
    auto held = DispatchQueue::create("held");
    held->async([&] {
        started.countDown();
        ASSERT_TRUE(release.waitFor());
    });
    // Its own blocks only: not the drains of the queues that target it.
    DispatchQueue::globalQueue()->async([&] {
        started.countDown();
        ASSERT_TRUE(release.waitFor());
    });
    ASSERT_TRUE(started.waitFor());
    held->async([] {});
    auto paused = DispatchQueue::create("paused");
    paused->suspend();
    paused->async([] {});
    DispatchQueue::mainQueue()->async([] {});

    using Told = std::map<std::string, std::string>;
    Told outstanding;
    for (const auto& work : DispatchQuiescence::outstandingWork()) outstanding[work.where] = work.what;
    EXPECT_EQ(outstanding, (Told{{"queue \"held\"", "running, 1 block waiting"},
                                 {"queue \"global.default\"", "1 block queued or running"},
                                 {"queue \"paused\"", "1 block waiting (suspended)"},
                                 {"the main run loop", "blocks ready"}}));

    release.countDown();
    paused->resume();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_TRUE(DispatchQuiescence::waitUntilIdle(kSafety));
    EXPECT_TRUE(DispatchQuiescence::outstandingWork().empty());
}

namespace {

// Queues blocks that wait for `release`, each from a member function, onto a serial queue, a
// concurrent one (two at once), a global one, and a serial one through a sync from a thread.
class BlockOwner {
public:
    explicit BlockOwner(Latch& release) : release_(release) {}
    void queueOn(const std::shared_ptr<DispatchQueue>& queue, Latch& started) {
        queue->async([&] {
            started.countDown();
            ASSERT_TRUE(release_.waitFor());
        });
    }
    std::thread syncFromAThread(const std::shared_ptr<DispatchQueue>& queue, Latch& started) {
        return std::thread([this, queue, &started] {
            queue->sync([&] {
                started.countDown();
                ASSERT_TRUE(release_.waitFor());
            });
        });
    }

private:
    Latch& release_;
};

}  // namespace

TEST(OutstandingWork, NamesWhoMadeEachBlockRunning) {
    Latch release(1);
    Latch started(5);
    BlockOwner owner(release);
    auto serial = DispatchQueue::create("owned.serial");
    auto concurrent = DispatchQueue::create("owned.concurrent", DispatchQueue::Kind::Concurrent);
    auto synced = DispatchQueue::create("owned.synced");
    owner.queueOn(serial, started);
    owner.queueOn(concurrent, started);
    owner.queueOn(concurrent, started);
    owner.queueOn(DispatchQueue::globalQueue(DispatchQueue::Priority::Low), started);
    std::thread caller = owner.syncFromAThread(synced, started);
    ASSERT_TRUE(started.waitFor());
    // Queued behind, not running: not named.
    serial->async([] {});

    std::map<std::string, std::vector<std::string>> owners;
    for (const auto& work : DispatchQuiescence::outstandingWork()) owners[work.where] = work.owners;
    const std::vector<std::string> one{"BlockOwner"};
    EXPECT_EQ(owners["queue \"owned.serial\""], one);
    EXPECT_EQ(owners["queue \"owned.concurrent\""], (std::vector<std::string>{"BlockOwner", "BlockOwner"}));
    EXPECT_EQ(owners["queue \"global.low\""], one);
    EXPECT_EQ(owners["queue \"owned.synced\""], one);

    release.countDown();
    caller.join();
    ASSERT_TRUE(DispatchQuiescence::waitUntilIdle(kSafety));
    for (const auto& work : DispatchQuiescence::outstandingWork()) EXPECT_TRUE(work.owners.empty()) << work.where;
}
