// A token that work polls to stop early: whoever asked for the work cancels it once the result is
// no longer wanted (a picture page that leaves), and the process's end cancels those its queues
// were handed with their blocks (DispatchQueue::async with a cancellation). Polling is one load.
#pragma once

#include "platform/foundation/NSObject.h"

#include <atomic>
#include <memory>

class DispatchCancellation : public NSObject {
public:
    static std::shared_ptr<DispatchCancellation> make() { return std::make_shared<DispatchCancellation>(); }

    // For good: the work stops at its next poll, and work not yet begun stops at its first.
    void cancel() { cancelled_.store(true, std::memory_order_release); }
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

private:
    std::atomic<bool> cancelled_{false};
};
