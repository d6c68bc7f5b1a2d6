// Helpers of the dispatch tests: a latch with a real-time safety bound and a manual-clock fixture.
#pragma once

#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

// Counts down to zero; waits are bounded in real time only as a safety net against a hang.
class Latch {
public:
    explicit Latch(int count) : count_(count) {}
    void countDown() {
        std::lock_guard lock(mutex_);
        if (count_ > 0 && --count_ == 0) cv_.notify_all();
    }
    [[nodiscard]] bool waitFor(double seconds = 20) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return count_ == 0; });
    }
    bool done() {
        std::lock_guard lock(mutex_);
        return count_ == 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_;
};

// The clock frozen at a round start time for the length of a test.
class ManualClockTest : public ::testing::Test {
protected:
    static constexpr double start = 1'000'000.0;
    void SetUp() override { Clock::setManual(start); }
    void TearDown() override { Clock::setReal(); }
};

// A safety bound, in real seconds, for pumping the main run loop until something happened.
constexpr double kSafety = 20.0;
