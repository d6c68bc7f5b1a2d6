// Connections: the transfer's reports queue up as events; a pump on the delivery target hands
// them to the delegate in order, holding them back while a trust challenge is unanswered. One
// pump is posted for all that a pass of the network brought, not one per portion.
#include "platform/net/NSURLConnection.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLAuthenticationChallenge.h"
#include "platform/net/NSURLConnectionDelegate.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/URLTransfer.h"

#include <cstdint>

void NSURLAuthenticationChallenge::useCredential(const NSURLCredential&) { answer(true); }

void NSURLAuthenticationChallenge::answer(bool proceed) {
    Answer answer;
    {
        MutexLock lock(mutex_);
        answer = std::move(answer_);
        answer_ = nullptr;
    }
    if (answer) answer(proceed);
}

// Holds its connection for as long as the transfer runs.
class NSURLConnection::Client : public URLTransferClient {
public:
    explicit Client(std::shared_ptr<NSURLConnection> connection) : connection_(std::move(connection)) {}

    void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>& response) override {
        const auto& url = response->URL();
        if (url && url->scheme() == "https") {
            NSURLProtectionSpace space;
            space.host = url->host();
            space.port = url->port().value_or(443);
            space.protocol = "https";
            space.serverTrust = std::make_shared<SecTrust>(SecTrust{space.host, space.port});
            std::weak_ptr<NSURLConnection> weak = connection_;
            connection_->push(
                [weak, space](const std::shared_ptr<NSURLConnectionDelegate>& delegate) {
                    auto connection = weak.lock();
                    if (!connection || !delegate->connectionCanAuthenticateAgainstProtectionSpace(connection, space)) return;
                    {
                        MutexLock lock(connection->mutex_);
                        connection->awaiting_ = true;
                    }
                    auto challenge = std::make_shared<NSURLAuthenticationChallenge>(space, [weak](bool proceed) {
                        if (auto answered = weak.lock()) answered->challengeAnswered(proceed);
                    });
                    delegate->connectionDidReceiveAuthenticationChallenge(connection, challenge);
                },
                false, 0, false);
        }
        std::weak_ptr<NSURLConnection> weak = connection_;
        connection_->push(
            [weak, response](const std::shared_ptr<NSURLConnectionDelegate>& delegate) {
                if (auto connection = weak.lock()) delegate->connectionDidReceiveResponse(connection, response);
            },
            false, 0, false);
    }

    NSErrorPtr transferReceivedData(const char* bytes, std::size_t size) override {
        std::weak_ptr<NSURLConnection> weak = connection_;
        connection_->push(
            [weak, data = NSData(reinterpret_cast<const std::uint8_t*>(bytes),
                                 reinterpret_cast<const std::uint8_t*>(bytes) + size)](const std::shared_ptr<NSURLConnectionDelegate>& delegate) {
                if (auto connection = weak.lock()) delegate->connectionDidReceiveData(connection, data);
            },
            false, size, false);
        return nullptr;
    }
    bool transferCanTakeData() override { return connection_->canBuffer(); }
    // The response and the portions of one network pass go to the delegate's side in one post.
    void transferPassEnded() override { connection_->flush(); }

    void transferCompleted(NSErrorPtr error) override {
        std::weak_ptr<NSURLConnection> weak = connection_;
        connection_->push(
            [weak, error](const std::shared_ptr<NSURLConnectionDelegate>& delegate) {
                auto connection = weak.lock();
                if (!connection) return;
                if (error) delegate->connectionDidFailWithError(connection, error);
                else delegate->connectionDidFinishLoading(connection);
            },
            true, 0, true);
    }

private:
    const std::shared_ptr<NSURLConnection> connection_;
};

NSURLConnection::NSURLConnection(std::shared_ptr<NSURLRequest> request, std::shared_ptr<NSURLConnectionDelegate> delegate)
    : request_(std::move(request)), delegate_(std::move(delegate)) {}

std::shared_ptr<NSURLConnection> NSURLConnection::connectionWithRequest(std::shared_ptr<NSURLRequest> request,
                                                                        std::shared_ptr<NSURLConnectionDelegate> delegate) {
    return initWithRequest(std::move(request), std::move(delegate), true);
}

std::shared_ptr<NSURLConnection> NSURLConnection::initWithRequest(std::shared_ptr<NSURLRequest> request,
                                                                  std::shared_ptr<NSURLConnectionDelegate> delegate,
                                                                  bool startImmediately) {
    if (!request || !delegate) return nullptr;
    std::shared_ptr<NSURLConnection> connection(new NSURLConnection(std::move(request), std::move(delegate)));
    if (startImmediately) connection->start();
    return connection;
}

void NSURLConnection::scheduleInRunLoop(const std::shared_ptr<NSRunLoop>& runLoop) { setDelegateQueue(runLoop); }

void NSURLConnection::setDelegateQueue(std::shared_ptr<Executor> queue) {
    MutexLock lock(mutex_);
    if (!started_) target_ = std::move(queue);
}

void NSURLConnection::start() {
    {
        MutexLock lock(mutex_);
        if (started_ || ended_) return;
        started_ = true;
        if (!target_) target_ = NSRunLoop::currentRunLoop();
        // Before the transfer starts: its end, on another thread, lets go of this.
        context = shared_from_this();
    }
    // Made out of the lock, which the transfer's reports take.
    auto transfer = URLTransfer::make(*request_, request_->timeoutInterval(),
                                      std::make_shared<Client>(self<NSURLConnection>()));
    {
        MutexLock lock(mutex_);
        // A cancel came meanwhile and let go of this already: the transfer never starts.
        if (ended_) return;
        transfer_ = transfer;
    }
    transfer->start();
}

void NSURLConnection::cancel() {
    std::shared_ptr<URLTransfer> transfer;
    {
        MutexLock lock(mutex_);
        if (ended_) return;
        ended_ = true;
        pending_.clear();
        bufferedBytes_ = 0;
        transfer = transfer_;
    }
    if (transfer) transfer->cancel(makeURLError(NSURLErrorCancelled, request_->URL() ? request_->URL()->absoluteString() : ""));
    end();
}

std::size_t NSURLConnection::bufferedByteCount() const {
    MutexLock lock(mutex_);
    return bufferedBytes_;
}

bool NSURLConnection::canBuffer() const {
    MutexLock lock(mutex_);
    return ended_ || bufferedBytes_ < kMaximumBufferedBytes;
}

void NSURLConnection::push(Event event, bool final, std::size_t bytes, bool post) {
    std::shared_ptr<Executor> target;
    {
        MutexLock lock(mutex_);
        if (ended_) return;
        pending_.push_back({std::move(event), final, bytes});
        bufferedBytes_ += bytes;
        if (post) postPumpLocked(target);
    }
    postPump(target);
}

void NSURLConnection::flush() {
    std::shared_ptr<Executor> target;
    {
        MutexLock lock(mutex_);
        if (ended_ || pending_.empty()) return;
        postPumpLocked(target);
    }
    postPump(target);
}

void NSURLConnection::postPumpLocked(std::shared_ptr<Executor>& target) {
    if (pumpPosted_) return;
    pumpPosted_ = true;
    target = target_;
}

void NSURLConnection::postPump(const std::shared_ptr<Executor>& target) {
    if (target) target->post([connection = self<NSURLConnection>()] { connection->pump(); });
}

void NSURLConnection::pump() {
    auto keep = self<NSURLConnection>();
    for (bool first = true;; first = false) {
        Event event;
        bool final;
        std::shared_ptr<NSURLConnectionDelegate> delegate;
        std::shared_ptr<URLTransfer> resume;
        {
            MutexLock lock(mutex_);
            // From here on what is queued needs a pump of its own: this one may be inside a
            // delegate call when it comes.
            if (first) pumpPosted_ = false;
            if (ended_ || awaiting_ || pending_.empty()) return;
            Pending next = std::move(pending_.front());
            pending_.pop_front();
            event = std::move(next.event);
            final = next.final;
            if (final) ended_ = true;
            delegate = delegate_;
            // Reading resumes once a quarter of the bound is left, not at every portion taken.
            const std::size_t before = bufferedBytes_;
            bufferedBytes_ -= next.bytes;
            if (before >= kMaximumBufferedBytes / 4 && bufferedBytes_ < kMaximumBufferedBytes / 4) resume = transfer_;
        }
        if (resume) resume->resumeReceiving();
        if (delegate) event(delegate);
        if (final) {
            end();
            return;
        }
    }
}

void NSURLConnection::challengeAnswered(bool proceed) {
    std::shared_ptr<URLTransfer> transfer;
    {
        MutexLock lock(mutex_);
        if (!awaiting_ || ended_) return;
        transfer = transfer_;
    }
    if (!proceed) {
        const std::string url = request_->URL() ? request_->URL()->absoluteString() : "";
        // What the server sent while the challenge was out is dropped; only the failure remains.
        if (transfer) transfer->cancel(makeURLError(NSURLErrorCancelled, url));
        MutexLock lock(mutex_);
        pending_.clear();
        bufferedBytes_ = 0;
        std::weak_ptr<NSURLConnection> weak = weakSelf<NSURLConnection>();
        pending_.push_back(
            {[weak, error = makeURLError(NSURLErrorCancelled, url)](const std::shared_ptr<NSURLConnectionDelegate>& delegate) {
                 if (auto connection = weak.lock()) delegate->connectionDidFailWithError(connection, error);
             },
             true, 0});
    }
    std::shared_ptr<Executor> target;
    {
        MutexLock lock(mutex_);
        awaiting_ = false;
        postPumpLocked(target);
    }
    postPump(target);
}

void NSURLConnection::end() {
    {
        MutexLock lock(mutex_);
        delegate_.reset();
        transfer_.reset();
    }
    context.reset();  // may release this connection: the last thing done here
}
