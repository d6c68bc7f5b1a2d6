// An operation running one or more blocks, one after the other.
#pragma once

#include "platform/dispatch/NSOperation.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class NSBlockOperation : public NSOperation {
public:
    static std::shared_ptr<NSBlockOperation> blockOperationWithBlock(std::function<void()> block);
    void addExecutionBlock(std::function<void()> block);
    void main() override;

private:
    Mutex blocksMutex_;
    std::vector<std::function<void()>> blocks_ GUARDED_BY(blocksMutex_);
};
