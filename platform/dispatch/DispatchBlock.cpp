// Cancellable blocks.
#include "platform/dispatch/DispatchBlock.h"

std::shared_ptr<DispatchBlock> DispatchBlock::create(std::function<void()> block) {
    return std::shared_ptr<DispatchBlock>(new DispatchBlock(std::move(block)));
}

void DispatchBlock::cancel() { cancelled_.store(true, std::memory_order_release); }

void DispatchBlock::perform() {
    if (testCancel() || !block_) return;
    block_();
}
