// Operation queues over dispatch queues: the queue decides what may start, dispatch runs it.
#include "platform/dispatch/NSOperationQueue.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/NSBlockOperation.h"
#include "platform/foundation/Diagnostics.h"

#include <algorithm>
#include <cstdio>
#include <limits>

NSOperationQueue::NSOperationQueue(bool main)
    : main_(main), maxConcurrent_(main ? 1 : defaultMaxConcurrentOperationCount) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "NSOperationQueue %p", static_cast<void*>(this));
    name_ = main ? "NSOperationQueue Main Queue" : buffer;
}

std::shared_ptr<NSOperationQueue> NSOperationQueue::make() {
    return std::shared_ptr<NSOperationQueue>(new NSOperationQueue(false));
}

std::shared_ptr<NSOperationQueue> NSOperationQueue::mainQueue() {
    static auto* queue = new std::shared_ptr<NSOperationQueue>(new NSOperationQueue(true));
    return *queue;
}

long NSOperationQueue::maxConcurrentOperationCount() const {
    MutexLock lock(mutex_);
    return maxConcurrent_;
}

void NSOperationQueue::setMaxConcurrentOperationCount(long count) {
    if (main_) return;
    {
        MutexLock lock(mutex_);
        maxConcurrent_ = count < 0 ? defaultMaxConcurrentOperationCount : count;
    }
    pump();
}

void NSOperationQueue::addOperation(const std::shared_ptr<NSOperation>& operation) {
    if (!operation) return;
    {
        MutexLock lock(mutex_);
        for (const auto& entry : entries_) {
            if (entry.operation == operation) return;
        }
        if (operation->isFinished() || operation->isExecuting()) {
            Diagnostics::note("NSOperationQueue: an operation that has already started was not added.");
            return;
        }
        entries_.push_back(Entry{operation, false});
    }
    std::weak_ptr<NSOperationQueue> weak = self<NSOperationQueue>();
    auto look = [weak] {
        if (auto queue = weak.lock()) queue->pump();
    };
    for (const auto& dependency : operation->dependencies()) dependency->whenFinished(look);
    operation->whenCancelled(look);
    pump();
}

void NSOperationQueue::addOperations(const std::vector<std::shared_ptr<NSOperation>>& operations,
                                     bool waitUntilFinished) {
    for (const auto& operation : operations) addOperation(operation);
    if (!waitUntilFinished) return;
    for (const auto& operation : operations) {
        if (operation) operation->waitUntilFinished();
    }
}

void NSOperationQueue::addOperationWithBlock(std::function<void()> block) {
    addOperation(NSBlockOperation::blockOperationWithBlock(std::move(block)));
}

void NSOperationQueue::pump() {
    std::vector<std::shared_ptr<NSOperation>> toStart;
    std::vector<std::shared_ptr<NSOperation>> toDrop;
    {
        MutexLock lock(mutex_);
        if (suspended_) return;
        const long limit = maxConcurrent_ < 0 ? std::numeric_limits<long>::max() : maxConcurrent_;
        for (auto it = entries_.begin(); it != entries_.end();) {
            if (it->started) {
                ++it;
                continue;
            }
            if (it->operation->isCancelled()) {
                toDrop.push_back(it->operation);
                it = entries_.erase(it);
                continue;
            }
            if (running_ < limit && it->operation->isReady()) {
                it->started = true;
                ++running_;
                toStart.push_back(it->operation);
            }
            ++it;
        }
    }
    // A cancelled operation that never started only finishes: main() does not run.
    for (const auto& operation : toDrop) operation->start();
    if (!toDrop.empty()) {
        emptied_.notify_all();
        DispatchQuiescence::changed();
    }
    auto queue = main_ ? DispatchQueue::mainQueue() : DispatchQueue::globalQueue();
    auto self = this->self<NSOperationQueue>();
    for (auto& operation : toStart) {
        queue->async([self, operation] {
            operation->start();
            self->operationFinished(operation.get());
        });
    }
}

void NSOperationQueue::operationFinished(const NSOperation* operation) {
    {
        MutexLock lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [operation](const Entry& entry) { return entry.operation.get() == operation; });
        if (it != entries_.end()) entries_.erase(it);
        --running_;
    }
    emptied_.notify_all();
    pump();
}

void NSOperationQueue::cancelAllOperations() {
    for (const auto& operation : operations()) operation->cancel();
    pump();
}

bool NSOperationQueue::isSuspended() const {
    MutexLock lock(mutex_);
    return suspended_;
}

void NSOperationQueue::setSuspended(bool suspended) {
    {
        MutexLock lock(mutex_);
        suspended_ = suspended;
    }
    if (!suspended) pump();
}

std::size_t NSOperationQueue::operationCount() const {
    MutexLock lock(mutex_);
    return entries_.size();
}

std::vector<std::shared_ptr<NSOperation>> NSOperationQueue::operations() const {
    MutexLock lock(mutex_);
    std::vector<std::shared_ptr<NSOperation>> result;
    result.reserve(entries_.size());
    for (const auto& entry : entries_) result.push_back(entry.operation);
    return result;
}

void NSOperationQueue::waitUntilAllOperationsAreFinished() {
    // Once emptied, this thread runs on even if operations were added again meanwhile.
    bool ended = false;
    DispatchQuiescence::BlockedScope blocked([this, &ended] {
        MutexLock lock(mutex_);
        return ended || entries_.empty();
    });
    MutexLock lock(mutex_);
    lock.wait(emptied_, [this]() REQUIRES(mutex_) { return entries_.empty(); });
    ended = true;
}

std::string NSOperationQueue::name() const {
    MutexLock lock(mutex_);
    return name_;
}

void NSOperationQueue::setName(const std::string& name) {
    MutexLock lock(mutex_);
    name_ = name;
}
