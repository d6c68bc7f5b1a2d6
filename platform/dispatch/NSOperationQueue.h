// Operation queues: operations run on the thread pool (or the main queue), at most
// maxConcurrentOperationCount at a time, in the order added once their dependencies finished.
#pragma once

#include "platform/dispatch/NSOperation.h"
#include "platform/foundation/Executor.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class DispatchQueue;

class NSOperationQueue : public NSObject, public Executor {
public:
    // No limit other than the thread pool's.
    static constexpr long defaultMaxConcurrentOperationCount = -1;

    static std::shared_ptr<NSOperationQueue> make();
    // Runs its operations one at a time on the main queue.
    static std::shared_ptr<NSOperationQueue> mainQueue();

    long maxConcurrentOperationCount() const;
    void setMaxConcurrentOperationCount(long count);

    void addOperation(const std::shared_ptr<NSOperation>& operation);
    void addOperations(const std::vector<std::shared_ptr<NSOperation>>& operations, bool waitUntilFinished);
    void addOperationWithBlock(std::function<void()> block);

    // Cancels every operation in the queue: waiting ones never run main(), running ones see isCancelled().
    void cancelAllOperations();
    // While suspended no operation starts; running ones go on.
    bool isSuspended() const;
    void setSuspended(bool suspended);

    // Operations added and not yet finished.
    std::size_t operationCount() const;
    std::vector<std::shared_ptr<NSOperation>> operations() const;
    void waitUntilAllOperationsAreFinished();

    std::string name() const;
    void setName(const std::string& name);

    void post(std::function<void()> block) override { addOperationWithBlock(std::move(block)); }

private:
    struct Entry {
        std::shared_ptr<NSOperation> operation;
        bool started;
    };

    explicit NSOperationQueue(bool main);
    void pump();
    void operationFinished(const NSOperation* operation);

    const bool main_;
    mutable Mutex mutex_;
    std::condition_variable emptied_;
    std::vector<Entry> entries_ GUARDED_BY(mutex_);
    long maxConcurrent_ GUARDED_BY(mutex_);
    long running_ GUARDED_BY(mutex_) = 0;
    bool suspended_ GUARDED_BY(mutex_) = false;
    std::string name_ GUARDED_BY(mutex_);
};
