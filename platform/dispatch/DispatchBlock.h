// A block that can be cancelled before it starts: submitted to a queue, a cancelled one is skipped.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class DispatchBlock : public NSObject {
public:
    static std::shared_ptr<DispatchBlock> create(std::function<void()> block);

    // Keeps the block from starting; one already running runs on. Its submissions after a delay
    // that has not yet come are dropped with it: nothing waits on the clock to skip it.
    void cancel();
    bool testCancel() const { return cancelled_.load(std::memory_order_acquire); }

    // Runs the block unless it was cancelled.
    void perform();

private:
    friend class DispatchQueue;
    explicit DispatchBlock(std::function<void()> block) : block_(std::move(block)) {}
    // The clock's timer of a submission after a delay, cancelled with the block (at once when
    // the block already is).
    void addDelayedSubmission(std::uint64_t timer);

    std::function<void()> block_;
    std::atomic<bool> cancelled_{false};
    Mutex mutex_;
    std::vector<std::uint64_t> delayedSubmissions_ GUARDED_BY(mutex_);
};
