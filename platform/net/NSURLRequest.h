// What to load: URL, method, header fields, body, idle time-out and cache policy.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class NSURL;
class NSMutableURLRequest;
class URLTransfer;

// There is no URL cache here: every policy loads from the origin. The policy is kept for
// callers that read it back.
enum NSURLRequestCachePolicy : unsigned long {
    NSURLRequestUseProtocolCachePolicy = 0,
    NSURLRequestReloadIgnoringLocalCacheData = 1,
    NSURLRequestReturnCacheDataElseLoad = 2,
    NSURLRequestReturnCacheDataDontLoad = 3,
};

class NSURLRequest : public NSObject {
public:
    using HeaderFields = std::vector<std::pair<std::string, std::string>>;
    static constexpr double defaultTimeoutInterval = 60;

    static std::shared_ptr<NSURLRequest> requestWithURL(std::shared_ptr<NSURL> url);
    static std::shared_ptr<NSURLRequest> requestWithURL(std::shared_ptr<NSURL> url, NSURLRequestCachePolicy cachePolicy,
                                                        double timeoutInterval);

    const std::shared_ptr<NSURL>& URL() const { return url_; }
    // "GET" unless set.
    const std::string& HTTPMethod() const { return method_; }
    // Case-insensitive; empty when the field is not set.
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
    Value::Dictionary allHTTPHeaderFields() const;
    // In the order they were first set, with the names as first set.
    const HeaderFields& headerFields() const { return headers_; }
    const NSData& HTTPBody() const { return body_; }
    // Seconds without any progress after which the load fails with NSURLErrorTimedOut.
    double timeoutInterval() const { return timeout_; }
    // Whether the time-out was chosen for this request rather than left at the default.
    bool hasExplicitTimeoutInterval() const { return timeoutSet_; }
    NSURLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
    // Our own addition: the most body bytes the load takes, 0 for no bound. An answer that
    // declares or sends more fails with NSURLErrorDataLengthExceedsMaximum before anything
    // past the bound is handed on.
    std::uint64_t maximumBodyLength() const { return maximumBodyLength_; }

    std::shared_ptr<NSMutableURLRequest> mutableCopy() const;

protected:
    // Whether the load follows a redirect, which only the loader reads (see NSMutableURLRequest).
    friend class URLTransfer;

    NSURLRequest() = default;
    void copyFrom(const NSURLRequest& other);

    std::shared_ptr<NSURL> url_;
    std::string method_ = "GET";
    HeaderFields headers_;
    NSData body_;
    double timeout_ = defaultTimeoutInterval;
    bool timeoutSet_ = false;
    NSURLRequestCachePolicy cachePolicy_ = NSURLRequestUseProtocolCachePolicy;
    std::uint64_t maximumBodyLength_ = 0;
    bool followsRedirects_ = true;
};
