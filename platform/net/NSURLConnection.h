// Delegate-style loading: the delegate is told of the response, each data portion and the end
// on the run loop (or queue) the connection is scheduled on, never inside the call that
// caused it. The connection keeps itself and its delegate until it ends.
#pragma once

#include "platform/foundation/Executor.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class NSRunLoop;
class NSURLConnectionDelegate;
class NSURLRequest;
class URLTransfer;

class NSURLConnection : public NSObject {
public:
    // Starts at once, scheduled on the current thread's run loop.
    static std::shared_ptr<NSURLConnection> connectionWithRequest(std::shared_ptr<NSURLRequest> request,
                                                                  std::shared_ptr<NSURLConnectionDelegate> delegate);
    // With `startImmediately` false, schedule it (or not: start() takes the current thread's
    // run loop) and start it.
    static std::shared_ptr<NSURLConnection> initWithRequest(std::shared_ptr<NSURLRequest> request,
                                                            std::shared_ptr<NSURLConnectionDelegate> delegate,
                                                            bool startImmediately);

    // Before start(): where the delegate is called.
    void scheduleInRunLoop(const std::shared_ptr<NSRunLoop>& runLoop);
    void setDelegateQueue(std::shared_ptr<Executor> queue);
    void start();
    // No delegate call follows, not even one already on its way.
    void cancel();

    const std::shared_ptr<NSURLRequest>& originalRequest() const { return request_; }

    // Body bytes that came from the server and wait for the delegate. Past kMaximumBufferedBytes
    // the connection stops reading from the server until the delegate has taken the most of
    // them, so a delegate slower than the network never makes the body pile up in memory.
    std::size_t bufferedByteCount() const;
    static constexpr std::size_t kMaximumBufferedBytes = 1024 * 1024;

private:
    class Client;
    using Event = std::function<void(const std::shared_ptr<NSURLConnectionDelegate>&)>;

    NSURLConnection(std::shared_ptr<NSURLRequest> request, std::shared_ptr<NSURLConnectionDelegate> delegate);
    // From the network side: queues an event and, with `post`, a pump on the delivery target
    // unless one is on its way already. Without it the event waits for flush().
    void push(Event event, bool final, std::size_t bytes, bool post);
    // Posts a pump for the events queued without one.
    void flush();
    // Sets `target` when a pump is to be posted to it (by postPump, after the lock).
    void postPumpLocked(std::shared_ptr<Executor>& target) REQUIRES(mutex_);
    void postPump(const std::shared_ptr<Executor>& target);
    bool canBuffer() const;
    void pump();
    void challengeAnswered(bool proceed);
    void end();

    struct Pending {
        Event event;
        bool final = false;
        std::size_t bytes = 0;  // of body
    };

    const std::shared_ptr<NSURLRequest> request_;
    mutable Mutex mutex_;
    std::shared_ptr<NSURLConnectionDelegate> delegate_ GUARDED_BY(mutex_);
    std::shared_ptr<Executor> target_ GUARDED_BY(mutex_);
    std::shared_ptr<URLTransfer> transfer_ GUARDED_BY(mutex_);
    std::deque<Pending> pending_ GUARDED_BY(mutex_);
    std::size_t bufferedBytes_ GUARDED_BY(mutex_) = 0;
    bool started_ GUARDED_BY(mutex_) = false;
    bool ended_ GUARDED_BY(mutex_) = false;     // finished, failed or cancelled: nothing more is delivered
    bool awaiting_ GUARDED_BY(mutex_) = false;  // a challenge is out: events wait
    // A pump is posted and has not started taking events yet: what is queued meanwhile is its,
    // so one post carries all the reports of a network pass.
    bool pumpPosted_ GUARDED_BY(mutex_) = false;
};
