// A block that can be cancelled before it starts: submitted to a queue, a cancelled one is skipped.
#pragma once

#include "platform/foundation/NSObject.h"

#include <atomic>
#include <functional>
#include <memory>

class DispatchBlock : public NSObject {
public:
    static std::shared_ptr<DispatchBlock> create(std::function<void()> block);

    // Keeps the block from starting; one already running runs on.
    void cancel();
    bool testCancel() const { return cancelled_.load(std::memory_order_acquire); }

    // Runs the block unless it was cancelled.
    void perform();

private:
    explicit DispatchBlock(std::function<void()> block) : block_(std::move(block)) {}
    std::function<void()> block_;
    std::atomic<bool> cancelled_{false};
};
