// One request to the content server: a data task of the shared session with a method, whose
// body and error go to a completion closure on the session's queue (not the main thread).
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class NSURL;
class NSURLSession;
class NSURLSessionDataTask;

enum OERequestMethod : std::uint64_t {
    OERequestMethodGet = 0,
    OERequestMethodPost = 1,
    OERequestMethodDelete = 2,
};

class OERequest : public NSObject {
public:
    // The server's replies are short JSON texts: a longer one fails as it arrives, with
    // NSURLErrorDataLengthExceedsMaximum.
    static constexpr std::uint64_t kMaximumReplyLength = 1024 * 1024;

    // The body is empty when the error is set. The HTTP status (0 without an answer) is handed
    // on, not judged: what counts as a failure is the client's business.
    using Completion = std::function<void(const NSData& body, long statusCode, const NSErrorPtr& error)>;

    // Empty when the text is no URL.
    static std::shared_ptr<OERequest> initWithString(const std::string& string,
                                                     std::uint64_t method = OERequestMethodGet);
    static std::shared_ptr<OERequest> initWithURL(std::shared_ptr<NSURL> url, std::uint64_t method);

    const std::shared_ptr<NSURL>& url() const { return url_; }
    std::uint64_t method() const { return method_; }
    const std::shared_ptr<NSURLSession>& session() const { return session_; }
    // The task of the last start; empty before.
    std::shared_ptr<NSURLSessionDataTask> task() const;

    // Sends the request without a body; `completion` must be set.
    void startWithCompletion(Completion completion);
    // The task's completion still runs, with the cancellation error.
    void cancel();
    // "DELETE" for 2, "POST" for 1, "GET" for anything else.
    std::string methodName() const;

private:
    std::shared_ptr<NSURL> url_;
    std::uint64_t method_ = OERequestMethodGet;
    std::shared_ptr<NSURLSession> session_;
    mutable Mutex mutex_;
    std::shared_ptr<NSURLSessionDataTask> task_ GUARDED_BY(mutex_);
};
