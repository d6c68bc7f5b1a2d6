// The utility library's network object: GET and POST over URL sessions with a completion run
// exactly once on the caller's queue (also when the request fails or cannot be made), a
// time-out for the next requests, whether one of its requests is running and how far the last
// one has got, and the reachability of its host with a delegate told of changes.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

class DispatchQueue;
class NSHTTPURLResponse;
class NSURL;
class NSURLSessionTask;
class SCNetworkReachability;

inline constexpr long kDIDEderaziHTTPStatusOK = 200;
inline constexpr long kDIDEderaziHTTPStatusNoContent = 204;
inline constexpr long kDIDEderaziHTTPStatusCodeNotModified = 304;
inline constexpr long kDIDEderaziHTTPStatusCodeNotFound = 404;
inline constexpr long kDIDEderaziHTTPStatusCodeCannotAcceptTraffic = 429;
inline constexpr long kDIDEderaziHTTPStatusCodeUnavailable = 503;

// Message codes of the network object's log calls.
enum DIDEderaziMessageCode : std::int64_t {
    kDIDEderaziMessageRequestStarted = 901001,
    kDIDEderaziMessageRequestCompleted = 901002,
    kDIDEderaziMessageRequestFailed = 901003,
    kDIDEderaziMessageInvalidURL = 901004,
};

// Receives the network object's messages; levels are the utility logger's (3 error .. 7 debug).
class DIDEderaziLoggerDelegate {
public:
    virtual ~DIDEderaziLoggerDelegate() = default;
    virtual void DIDEderazi_logWithLevel(int level, std::int64_t messageCode, const std::string& message,
                                         const Value::Array& contexts) = 0;
    virtual void DIDEderazi_logWithLevel(int level, std::int64_t messageCode, const std::string& message,
                                         const Value& context) {
        DIDEderazi_logWithLevel(level, messageCode, message, Value::Array{context});
    }
    virtual void DIDEderazi_logWithLevel(int level, std::int64_t messageCode, const std::string& message) {
        DIDEderazi_logWithLevel(level, messageCode, message, Value::Array{});
    }
};

class DIDEderaziReachabilityDelegate {
public:
    virtual ~DIDEderaziReachabilityDelegate() = default;
    virtual void reachabilityDidChange() = 0;
};

class DIDEderazi : public NSObject {
public:
    // The response (none on a transport failure), the body and the failure.
    using CompletionHandler = std::function<void(const std::shared_ptr<NSHTTPURLResponse>& response,
                                                 const NSData& data, const NSErrorPtr& error)>;

    // Watches the reachability of `host`; empty for an empty host.
    [[nodiscard]] static std::shared_ptr<DIDEderazi> initWithReachabilityHost(const std::string& host);

    // Both delegates are held weakly.
    void setLoggerDelegate(std::weak_ptr<DIDEderaziLoggerDelegate> delegate);
    // When on, every request's start and answer are logged at the debug level.
    void setIsDebugModeEnabled(bool enabled);
    bool isDebugModeEnabled() const { return debugMode_.load(); }

    bool isNetworkConnected() const;
    // Told (on a queue of the network object) of every change of reachability while set;
    // an empty pointer stops it.
    void setReachabilityDelegate(std::weak_ptr<DIDEderaziReachabilityDelegate> delegate);

    // A request of this object is running: from its start until just before its completion runs.
    bool hasUploadInProgress() const { return inFlight_->load() > 0; }
    // Our own additions, for a caller that must judge in real time whether an answer is still
    // coming, of the request started last (its callers run one at a time), from its start until
    // the next one starts; 0 before any. The bytes it has moved either way, each as it comes,
    // the answer's head as much as its body; and the status of the answer's status line as soon
    // as that line is read, before the rest of the answer, also when the request then fails.
    std::uint64_t countOfBytesTransferred() const;
    long receivedStatusCode() const;
    // Seconds without progress after which the next requests fail with a time-out (60 at first).
    void setTimeoutInterval(double seconds);
    double timeoutInterval() const;
    // Our own addition: whether the next requests follow a redirect (yes at first). One that
    // does not completes with the redirect as its answer.
    void setFollowsRedirects(bool follows);

    // Start the request and return its session's identifier: "" when no session could be made
    // (no URL), in which case the completion still runs, with NSURLErrorBadURL. A background
    // session here is an ordinary one whose identifier the system may name again.
    std::string postURL(const std::shared_ptr<NSURL>& url, const NSData& payload,
                        const std::shared_ptr<DispatchQueue>& queue, bool usingBackgroundSession,
                        CompletionHandler completionHandler);
    // Our own addition: as postURL, taking at most `maximumBodyLength` bytes of the answer (see getURL).
    std::string postURL(const std::shared_ptr<NSURL>& url, const NSData& payload, std::uint64_t maximumBodyLength,
                        const std::shared_ptr<DispatchQueue>& queue, bool usingBackgroundSession,
                        CompletionHandler completionHandler);
    // `headers` (strings) are added to the request; an empty dictionary adds none.
    std::string getURL(const std::shared_ptr<NSURL>& url, const Value::Dictionary& headers,
                       const std::shared_ptr<DispatchQueue>& queue, bool usingBackgroundSession,
                       CompletionHandler completionHandler);
    // Our own addition: as getURL, taking at most `maximumBodyLength` bytes of the answer. A longer
    // one completes with NSURLErrorDataLengthExceedsMaximum as soon as that is known, never
    // having been held whole.
    std::string getURL(const std::shared_ptr<NSURL>& url, const Value::Dictionary& headers,
                       std::uint64_t maximumBodyLength, const std::shared_ptr<DispatchQueue>& queue,
                       bool usingBackgroundSession, CompletionHandler completionHandler);
    // The system's hand-off of a background session's events: `completionHandler` runs on the
    // main queue once that session's requests have all finished (at once when none is running).
    void handleEventsForBackgroundURLSessionID(const std::string& sessionID, std::function<void()> completionHandler);

    ~DIDEderazi() override;

private:
    struct BackgroundSession;

    std::string startRequest(const std::string& method, const std::shared_ptr<NSURL>& url, const NSData& body,
                             const Value::Dictionary& headers, std::uint64_t maximumBodyLength,
                             const std::shared_ptr<DispatchQueue>& queue, bool usingBackgroundSession,
                             CompletionHandler completionHandler);
    void log(int level, std::int64_t code, const std::string& message, const Value::Array& contexts) const;
    void backgroundRequestFinished(const std::string& sessionID);

    std::string host_;
    std::shared_ptr<SCNetworkReachability> reachability_;
    std::shared_ptr<DispatchQueue> queue_;
    std::atomic<bool> debugMode_{false};
    // Shared with the completions, which may outlive this object.
    std::shared_ptr<std::atomic<int>> inFlight_ = std::make_shared<std::atomic<int>>(0);
    mutable Mutex mutex_;
    std::weak_ptr<DIDEderaziLoggerDelegate> logger_ GUARDED_BY(mutex_);
    std::weak_ptr<DIDEderaziReachabilityDelegate> reachabilityDelegate_ GUARDED_BY(mutex_);
    double timeout_ GUARDED_BY(mutex_) = 60;
    bool followsRedirects_ GUARDED_BY(mutex_) = true;
    std::uint64_t nextSession_ GUARDED_BY(mutex_) = 1;
    std::shared_ptr<NSURLSessionTask> latestTask_ GUARDED_BY(mutex_);
    // Each session's count and waiting handlers are used under the lock too.
    std::map<std::string, std::shared_ptr<BackgroundSession>> backgroundSessions_ GUARDED_BY(mutex_);
};
