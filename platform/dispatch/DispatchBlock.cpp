// Cancellable blocks.
#include "platform/dispatch/DispatchBlock.h"

#include "platform/foundation/Clock.h"

std::shared_ptr<DispatchBlock> DispatchBlock::create(std::function<void()> block) {
    return std::shared_ptr<DispatchBlock>(new DispatchBlock(std::move(block)));
}

void DispatchBlock::cancel() {
    std::vector<std::uint64_t> timers;
    {
        MutexLock lock(mutex_);
        cancelled_.store(true, std::memory_order_release);
        timers.swap(delayedSubmissions_);
    }
    // Not under the lock: a timer firing now finishes first, and its submission is skipped.
    for (const auto timer : timers) Clock::cancel(timer);
}

void DispatchBlock::addDelayedSubmission(std::uint64_t timer) {
    {
        MutexLock lock(mutex_);
        if (!testCancel()) {
            delayedSubmissions_.push_back(timer);
            return;
        }
    }
    Clock::cancel(timer);
}

void DispatchBlock::perform() {
    if (testCancel() || !block_) return;
    block_();
}
