// A unit of work for an operation queue: subclasses override main(); cancellation is cooperative.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class NSOperation : public NSObject {
public:
    static std::shared_ptr<NSOperation> make() { return std::make_shared<NSOperation>(); }

    NSOperation() = default;
    ~NSOperation() override;

    // The work; long-running work looks at isCancelled() now and then.
    virtual void main() {}

    // Runs main() on the calling thread unless cancelled, then finishes. Operation queues call it.
    void start();
    // Keeps a waiting operation from running main(); a running one sees isCancelled().
    void cancel();
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
    bool isExecuting() const;
    bool isFinished() const;
    // Every dependency finished (or the operation was cancelled).
    bool isReady() const;

    // An operation does not start before its dependencies have finished.
    void addDependency(const std::shared_ptr<NSOperation>& operation);
    void removeDependency(const std::shared_ptr<NSOperation>& operation);
    std::vector<std::shared_ptr<NSOperation>> dependencies() const;

    // Submitted to a global queue when the operation finishes.
    void setCompletionBlock(std::function<void()> block);
    void waitUntilFinished();

    std::string name() const;
    void setName(const std::string& name);

    // Called once when the operation finishes (at once when it already has); for queues.
    void whenFinished(std::function<void()> callback);
    // Called once when the operation is cancelled (at once when it already is); for queues.
    void whenCancelled(std::function<void()> callback);

private:
    enum class State { Waiting, Executing, Finished };
    void finish();

    mutable Mutex mutex_;
    std::condition_variable finishedCv_;
    State state_ GUARDED_BY(mutex_) = State::Waiting;
    std::atomic<bool> cancelled_{false};
    std::vector<std::shared_ptr<NSOperation>> dependencies_ GUARDED_BY(mutex_);
    std::vector<std::function<void()>> finishCallbacks_ GUARDED_BY(mutex_);
    std::vector<std::function<void()>> cancelCallbacks_ GUARDED_BY(mutex_);
    std::function<void()> completionBlock_ GUARDED_BY(mutex_);
    std::string name_ GUARDED_BY(mutex_);
};
