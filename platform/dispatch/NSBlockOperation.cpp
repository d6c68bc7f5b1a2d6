// Block operations.
#include "platform/dispatch/NSBlockOperation.h"

std::shared_ptr<NSBlockOperation> NSBlockOperation::blockOperationWithBlock(std::function<void()> block) {
    auto operation = std::make_shared<NSBlockOperation>();
    operation->addExecutionBlock(std::move(block));
    return operation;
}

void NSBlockOperation::addExecutionBlock(std::function<void()> block) {
    MutexLock lock(blocksMutex_);
    blocks_.push_back(std::move(block));
}

void NSBlockOperation::main() {
    std::vector<std::function<void()>> blocks;
    {
        MutexLock lock(blocksMutex_);
        blocks = blocks_;
    }
    for (const auto& block : blocks) {
        if (block) block();
    }
}
