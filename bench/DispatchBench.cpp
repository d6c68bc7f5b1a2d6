// Dispatch costs against a bare mutex-and-condition-variable handoff: blocks per second through
// a serial queue, and the latency of a hop onto the main queue while the main run loop is pumped.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace {

constexpr int kBatch = 10000;

// Signalled by the last block of a batch.
class Done {
public:
    void signal() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_one();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return done_; });
        done_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

// The baseline: one consumer thread taking blocks from a locked deque.
class Handoff {
public:
    Handoff() : consumer_([this] { consume(); }) {}
    ~Handoff() {
        post(nullptr);
        consumer_.join();
    }
    void post(std::function<void()> block) {
        {
            std::lock_guard lock(mutex_);
            blocks_.push_back(std::move(block));
        }
        cv_.notify_one();
    }

private:
    void consume() {
        for (;;) {
            std::function<void()> block;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [this] { return !blocks_.empty(); });
                block = std::move(blocks_.front());
                blocks_.pop_front();
            }
            if (!block) return;
            block();
        }
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> blocks_;
    std::thread consumer_;
};

void SerialQueueAsync(benchmark::State& state) {
    auto queue = DispatchQueue::create("bench.serial");
    Done done;
    int count = 0;
    for (auto _ : state) {
        count = 0;
        for (int i = 0; i < kBatch; ++i) {
            queue->async([&] {
                if (++count == kBatch) done.signal();
            });
        }
        done.wait();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(SerialQueueAsync)->UseRealTime();

void MutexConditionHandoff(benchmark::State& state) {
    Handoff handoff;
    Done done;
    int count = 0;
    for (auto _ : state) {
        count = 0;
        for (int i = 0; i < kBatch; ++i) {
            handoff.post([&] {
                if (++count == kBatch) done.signal();
            });
        }
        done.wait();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(MutexConditionHandoff)->UseRealTime();

using Clock = std::chrono::steady_clock;

// Another thread posts one block per iteration when asked; the main thread pumps until it ran.
// The time measured is from the post to the block's start.
template <class Post, class Pump>
void measureHop(benchmark::State& state, Post post, Pump pump) {
    std::atomic<long> requested{0};
    std::atomic<bool> stop{false};
    Clock::time_point postedAt;
    Clock::time_point ranAt;
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        long handled = 0;
        while (!stop.load(std::memory_order_acquire)) {
            if (requested.load(std::memory_order_acquire) == handled) {
                std::this_thread::yield();
                continue;
            }
            ++handled;
            postedAt = Clock::now();
            post([&] {
                ranAt = Clock::now();
                ran.store(true, std::memory_order_release);
            });
        }
    });
    for (auto _ : state) {
        ran.store(false);
        requested.fetch_add(1, std::memory_order_release);
        pump([&] { return ran.load(std::memory_order_acquire); });
        state.SetIterationTime(std::chrono::duration<double>(ranAt - postedAt).count());
    }
    stop = true;
    poster.join();
}

void MainQueueHop(benchmark::State& state) {
    auto loop = NSRunLoop::mainRunLoop();
    auto main = DispatchQueue::mainQueue();
    measureHop(
        state, [&](std::function<void()> block) { main->async(std::move(block)); },
        [&](const std::function<bool()>& ran) {
            if (!loop->runUntil(ran, 10)) state.SkipWithError("the hop never ran");
        });
}
BENCHMARK(MainQueueHop)->UseManualTime();

void MutexConditionHop(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::function<void()>> blocks;
    measureHop(
        state,
        [&](std::function<void()> block) {
            {
                std::lock_guard lock(mutex);
                blocks.push_back(std::move(block));
            }
            cv.notify_one();
        },
        [&](const std::function<bool()>& ran) {
            while (!ran()) {
                std::function<void()> block;
                {
                    std::unique_lock lock(mutex);
                    cv.wait(lock, [&] { return !blocks.empty(); });
                    block = std::move(blocks.front());
                    blocks.pop_front();
                }
                block();
            }
        });
}
BENCHMARK(MutexConditionHop)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
