// A session's load: made suspended, started by resume(), ended once by completion or cancel().
#pragma once

#include "platform/foundation/Executor.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class NSHTTPURLResponse;
class NSURLRequest;
class URLTransfer;

enum NSURLSessionTaskState : long {
    NSURLSessionTaskStateRunning = 0,
    NSURLSessionTaskStateSuspended = 1,
    NSURLSessionTaskStateCanceling = 2,
    NSURLSessionTaskStateCompleted = 3,
};

class NSURLSessionTask : public NSObject {
public:
    unsigned long taskIdentifier() const { return identifier_; }
    const std::shared_ptr<NSURLRequest>& originalRequest() const { return request_; }
    // The answer, once it came.
    std::shared_ptr<NSHTTPURLResponse> response() const;
    // The failure, once the task completed with one.
    NSErrorPtr error() const;
    NSURLSessionTaskState state() const;
    // Body bytes taken so far (none past the request's maximumBodyLength).
    std::int64_t countOfBytesReceived() const { return received_.load(); }
    // Our own additions, as the task's transfer counts them (URLTransfer), kept once it ended:
    // bytes moved either way, each as it comes, the reply's head as much as its body; and the
    // status of the reply's status line as soon as that line is read (0 before), also when the
    // task then fails.
    std::uint64_t countOfBytesTransferred() const;
    long receivedStatusCode() const;

    // Starts the task; a task that started once ignores it (tasks here do not pause).
    void resume();
    // Unless the task completed, it ends with NSURLErrorCancelled: its completion handler
    // still runs, exactly once.
    void cancel();

protected:
    NSURLSessionTask(unsigned long identifier, std::shared_ptr<NSURLRequest> request, double idleTimeout,
                     std::shared_ptr<Executor> queue);

    // On the network thread: a portion of the body. An error stops the task with it.
    virtual NSErrorPtr receiveData(const char* bytes, std::size_t size) = 0;
    // On the delegate queue, once: runs and drops the completion handler.
    virtual void complete(const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) = 0;

private:
    class Client;

    void finish(NSErrorPtr error);

    const unsigned long identifier_;
    const std::shared_ptr<NSURLRequest> request_;
    const double idleTimeout_;
    const std::shared_ptr<Executor> queue_;
    mutable Mutex mutex_;
    NSURLSessionTaskState state_ GUARDED_BY(mutex_) = NSURLSessionTaskStateSuspended;
    bool started_ GUARDED_BY(mutex_) = false;
    std::shared_ptr<URLTransfer> transfer_ GUARDED_BY(mutex_);
    std::shared_ptr<NSHTTPURLResponse> response_ GUARDED_BY(mutex_);
    // What the transfer counted, taken as it is let go.
    std::uint64_t bytesTransferred_ GUARDED_BY(mutex_) = 0;
    long receivedStatusCode_ GUARDED_BY(mutex_) = 0;
    NSErrorPtr error_ GUARDED_BY(mutex_);
    std::atomic<std::int64_t> received_{0};
};
