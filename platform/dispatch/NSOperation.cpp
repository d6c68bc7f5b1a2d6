// Operation states and the finish step that releases dependants and waiters.
#include "platform/dispatch/NSOperation.h"

#include "platform/dispatch/DispatchGuard.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchQuiescence.h"

#include <algorithm>

NSOperation::~NSOperation() = default;

void NSOperation::start() {
    {
        MutexLock lock(mutex_);
        if (state_ != State::Waiting) return;
        state_ = State::Executing;
    }
    if (!isCancelled()) invokeGuarded("operation \"" + name() + "\" (" + className() + ")", [this] { main(); });
    finish();
}

void NSOperation::finish() {
    std::vector<std::function<void()>> callbacks;
    std::function<void()> completion;
    {
        MutexLock lock(mutex_);
        state_ = State::Finished;
        callbacks.swap(finishCallbacks_);
        cancelCallbacks_.clear();
        completion = std::move(completionBlock_);
        completionBlock_ = nullptr;
        dependencies_.clear();
    }
    finishedCv_.notify_all();
    if (completion) DispatchQueue::globalQueue()->async(std::move(completion));
    for (auto& callback : callbacks) callback();
    DispatchQuiescence::changed();
}

void NSOperation::cancel() {
    cancelled_.store(true, std::memory_order_release);
    std::vector<std::function<void()>> callbacks;
    {
        MutexLock lock(mutex_);
        callbacks.swap(cancelCallbacks_);
    }
    // A cancelled operation is ready at once: its queue looks again.
    for (auto& callback : callbacks) callback();
}

void NSOperation::whenCancelled(std::function<void()> callback) {
    if (!isCancelled()) {
        MutexLock lock(mutex_);
        if (!isCancelled()) {
            cancelCallbacks_.push_back(std::move(callback));
            return;
        }
    }
    callback();
}

bool NSOperation::isExecuting() const {
    MutexLock lock(mutex_);
    return state_ == State::Executing;
}

bool NSOperation::isFinished() const {
    MutexLock lock(mutex_);
    return state_ == State::Finished;
}

bool NSOperation::isReady() const {
    if (isCancelled()) return true;
    for (const auto& dependency : dependencies()) {
        if (!dependency->isFinished()) return false;
    }
    return true;
}

void NSOperation::addDependency(const std::shared_ptr<NSOperation>& operation) {
    if (!operation || operation.get() == this) return;
    MutexLock lock(mutex_);
    if (std::find(dependencies_.begin(), dependencies_.end(), operation) == dependencies_.end()) {
        dependencies_.push_back(operation);
    }
}

void NSOperation::removeDependency(const std::shared_ptr<NSOperation>& operation) {
    MutexLock lock(mutex_);
    dependencies_.erase(std::remove(dependencies_.begin(), dependencies_.end(), operation), dependencies_.end());
}

std::vector<std::shared_ptr<NSOperation>> NSOperation::dependencies() const {
    MutexLock lock(mutex_);
    return dependencies_;
}

void NSOperation::setCompletionBlock(std::function<void()> block) {
    MutexLock lock(mutex_);
    completionBlock_ = std::move(block);
}

void NSOperation::waitUntilFinished() {
    DispatchQuiescence::BlockedScope blocked([this] { return isFinished(); });
    MutexLock lock(mutex_);
    lock.wait(finishedCv_, [this]() REQUIRES(mutex_) { return state_ == State::Finished; });
}

std::string NSOperation::name() const {
    MutexLock lock(mutex_);
    return name_;
}

void NSOperation::setName(const std::string& name) {
    MutexLock lock(mutex_);
    name_ = name;
}

void NSOperation::whenFinished(std::function<void()> callback) {
    {
        MutexLock lock(mutex_);
        if (state_ != State::Finished) {
            finishCallbacks_.push_back(std::move(callback));
            return;
        }
    }
    callback();
}
