// Requests over one URL session each, so that the completion runs on the caller's queue.
#include "platform/services/DIDEderazi.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLSession.h"
#include "platform/net/NSURLSessionConfiguration.h"
#include "platform/net/NSURLSessionTask.h"
#include "platform/net/SCNetworkReachability.h"
#include "platform/services/VULLogger.h"

#include <vector>

struct DIDEderazi::BackgroundSession {
    int running = 0;
    std::vector<std::function<void()>> waiting;
};

std::shared_ptr<DIDEderazi> DIDEderazi::initWithReachabilityHost(const std::string& host) {
    auto reachability = SCNetworkReachability::createWithName(host);
    if (!reachability) return nullptr;
    auto network = std::make_shared<DIDEderazi>();
    network->host_ = host;
    network->reachability_ = std::move(reachability);
    network->queue_ = DispatchQueue::create("com.vizudi.DIDEderazi");
    return network;
}

DIDEderazi::~DIDEderazi() {
    if (reachability_) reachability_->setCallback(nullptr, nullptr);
}

void DIDEderazi::setLoggerDelegate(std::weak_ptr<DIDEderaziLoggerDelegate> delegate) {
    MutexLock lock(mutex_);
    logger_ = std::move(delegate);
}

void DIDEderazi::setIsDebugModeEnabled(bool enabled) { debugMode_.store(enabled); }

bool DIDEderazi::isNetworkConnected() const { return reachability_ && reachability_->isReachable(); }

void DIDEderazi::setReachabilityDelegate(std::weak_ptr<DIDEderaziReachabilityDelegate> delegate) {
    const bool watching = !delegate.expired();
    {
        MutexLock lock(mutex_);
        reachabilityDelegate_ = std::move(delegate);
    }
    if (!watching) {
        reachability_->setCallback(nullptr, nullptr);
        return;
    }
    std::weak_ptr<DIDEderazi> weak = self<DIDEderazi>();
    reachability_->setCallback(
        [weak](bool) {
            auto network = weak.lock();
            if (!network) return;
            std::shared_ptr<DIDEderaziReachabilityDelegate> target;
            {
                MutexLock lock(network->mutex_);
                target = network->reachabilityDelegate_.lock();
            }
            if (target) target->reachabilityDidChange();
        },
        queue_);
}

void DIDEderazi::setTimeoutInterval(double seconds) {
    MutexLock lock(mutex_);
    timeout_ = seconds;
}

double DIDEderazi::timeoutInterval() const {
    MutexLock lock(mutex_);
    return timeout_;
}

void DIDEderazi::setFollowsRedirects(bool follows) {
    MutexLock lock(mutex_);
    followsRedirects_ = follows;
}

std::uint64_t DIDEderazi::countOfBytesTransferred() const {
    std::shared_ptr<NSURLSessionTask> task;
    {
        MutexLock lock(mutex_);
        task = latestTask_;
    }
    return task ? task->countOfBytesTransferred() : 0;
}

long DIDEderazi::receivedStatusCode() const {
    std::shared_ptr<NSURLSessionTask> task;
    {
        MutexLock lock(mutex_);
        task = latestTask_;
    }
    return task ? task->receivedStatusCode() : 0;
}

std::string DIDEderazi::postURL(const std::shared_ptr<NSURL>& url, const NSData& payload,
                                const std::shared_ptr<DispatchQueue>& queue, bool usingBackgroundSession,
                                CompletionHandler completionHandler) {
    return startRequest("POST", url, payload, {}, 0, queue, usingBackgroundSession, std::move(completionHandler));
}

std::string DIDEderazi::postURL(const std::shared_ptr<NSURL>& url, const NSData& payload,
                                std::uint64_t maximumBodyLength, const std::shared_ptr<DispatchQueue>& queue,
                                bool usingBackgroundSession, CompletionHandler completionHandler) {
    return startRequest("POST", url, payload, {}, maximumBodyLength, queue, usingBackgroundSession,
                        std::move(completionHandler));
}

std::string DIDEderazi::getURL(const std::shared_ptr<NSURL>& url, const Value::Dictionary& headers,
                               const std::shared_ptr<DispatchQueue>& queue, bool usingBackgroundSession,
                               CompletionHandler completionHandler) {
    return startRequest("GET", url, {}, headers, 0, queue, usingBackgroundSession, std::move(completionHandler));
}

std::string DIDEderazi::getURL(const std::shared_ptr<NSURL>& url, const Value::Dictionary& headers,
                               std::uint64_t maximumBodyLength, const std::shared_ptr<DispatchQueue>& queue,
                               bool usingBackgroundSession, CompletionHandler completionHandler) {
    return startRequest("GET", url, {}, headers, maximumBodyLength, queue, usingBackgroundSession,
                        std::move(completionHandler));
}

std::string DIDEderazi::startRequest(const std::string& method, const std::shared_ptr<NSURL>& url,
                                     const NSData& body, const Value::Dictionary& headers,
                                     std::uint64_t maximumBodyLength, const std::shared_ptr<DispatchQueue>& queue,
                                     bool usingBackgroundSession, CompletionHandler completionHandler) {
    const std::shared_ptr<DispatchQueue> target = queue ? queue : DispatchQueue::globalQueue();
    // Counted from here until just before the completion runs, so that a completion which
    // starts the next request finds no other one in flight.
    inFlight_->fetch_add(1);
    auto finish = [inFlight = inFlight_, completion = std::move(completionHandler)](
                      const std::shared_ptr<NSHTTPURLResponse>& response, const NSData& data,
                      const NSErrorPtr& error) {
        inFlight->fetch_sub(1);
        if (completion) completion(response, data, error);
    };
    if (!url) {
        log(VULLoggerLevelError, kDIDEderaziMessageInvalidURL, "Unable to make a request without a URL. Method",
            {Value(method)});
        NSErrorPtr error = makeURLError(NSURLErrorBadURL, "");
        {
            MutexLock lock(mutex_);
            latestTask_.reset();
        }
        target->async([finish, error] { finish(nullptr, {}, error); });
        return "";
    }

    std::string sessionID;
    double timeout = 0;
    bool followsRedirects = true;
    {
        MutexLock lock(mutex_);
        timeout = timeout_;
        followsRedirects = followsRedirects_;
        sessionID = std::string(usingBackgroundSession ? "com.vizudi.DIDEderazi.background." : "com.vizudi.DIDEderazi.")
                    + std::to_string(nextSession_++);
        if (usingBackgroundSession) {
            auto& session = backgroundSessions_[sessionID];
            if (!session) session = std::make_shared<BackgroundSession>();
            ++session->running;
        }
    }
    auto request = NSMutableURLRequest::requestWithURL(url, NSURLRequestReloadIgnoringLocalCacheData, timeout);
    request->setHTTPMethod(method);
    if (method == "POST") request->setHTTPBody(body);
    for (const auto& [field, value] : headers) request->setValue(value.stringValue(), field);
    request->setMaximumBodyLength(maximumBodyLength);
    request->setFollowsRedirects(followsRedirects);

    auto configuration = usingBackgroundSession
                             ? NSURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(sessionID)
                             : NSURLSessionConfiguration::defaultSessionConfiguration();
    auto session = NSURLSession::sessionWithConfiguration(configuration, target);
    std::weak_ptr<DIDEderazi> weak = self<DIDEderazi>();
    const std::string address = url->absoluteString();
    auto task = session->dataTaskWithRequest(
        request, [weak, finish, sessionID, address, usingBackgroundSession](
                     const NSData& data, const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) {
            if (auto network = weak.lock()) {
                if (error) {
                    network->log(VULLoggerLevelWarning, kDIDEderaziMessageRequestFailed, "Request failed. URL, error",
                                 {Value(address), Value(error->description())});
                } else if (network->isDebugModeEnabled()) {
                    network->log(VULLoggerLevelDebug, kDIDEderaziMessageRequestCompleted,
                                 "Request completed. URL, status code",
                                 {Value(address), Value(response ? response->statusCode() : 0L)});
                }
                if (usingBackgroundSession) network->backgroundRequestFinished(sessionID);
            }
            finish(response, data, error);
        });
    if (isDebugModeEnabled()) {
        log(VULLoggerLevelDebug, kDIDEderaziMessageRequestStarted, "Request started. Method, URL",
            {Value(method), Value(address)});
    }
    {
        MutexLock lock(mutex_);
        latestTask_ = task;
    }
    task->resume();
    return sessionID;
}

void DIDEderazi::backgroundRequestFinished(const std::string& sessionID) {
    std::vector<std::function<void()>> ready;
    {
        MutexLock lock(mutex_);
        auto it = backgroundSessions_.find(sessionID);
        if (it == backgroundSessions_.end() || --it->second->running > 0) return;
        ready = std::move(it->second->waiting);
        backgroundSessions_.erase(it);
    }
    for (auto& completion : ready) DispatchQueue::mainQueue()->async(std::move(completion));
}

void DIDEderazi::handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                       std::function<void()> completionHandler) {
    if (!completionHandler) return;
    {
        MutexLock lock(mutex_);
        auto it = backgroundSessions_.find(sessionID);
        if (it != backgroundSessions_.end()) {
            it->second->waiting.push_back(std::move(completionHandler));
            return;
        }
    }
    DispatchQueue::mainQueue()->async(std::move(completionHandler));
}

void DIDEderazi::log(int level, std::int64_t code, const std::string& message, const Value::Array& contexts) const {
    std::shared_ptr<DIDEderaziLoggerDelegate> logger;
    {
        MutexLock lock(mutex_);
        logger = logger_.lock();
    }
    if (logger) logger->DIDEderazi_logWithLevel(level, code, message, contexts);
}
