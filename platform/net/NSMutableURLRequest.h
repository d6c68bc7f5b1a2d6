// A request whose URL, method, header fields, body, time-out and cache policy can be set.
#pragma once

#include "platform/net/NSURLRequest.h"

class NSMutableURLRequest : public NSURLRequest {
public:
    static std::shared_ptr<NSMutableURLRequest> requestWithURL(std::shared_ptr<NSURL> url);
    static std::shared_ptr<NSMutableURLRequest> requestWithURL(std::shared_ptr<NSURL> url,
                                                               NSURLRequestCachePolicy cachePolicy,
                                                               double timeoutInterval);

    void setURL(std::shared_ptr<NSURL> url) { url_ = std::move(url); }
    void setHTTPMethod(const std::string& method) { method_ = method; }
    // Replaces the field, matched case-insensitively; no value removes it.
    void setValue(std::optional<std::string> value, const std::string& field);
    // Appends to the field, comma-separated, or sets it.
    void addValue(const std::string& value, const std::string& field);
    void setHTTPBody(NSData body) { body_ = std::move(body); }
    void setTimeoutInterval(double seconds);
    void setCachePolicy(NSURLRequestCachePolicy policy) { cachePolicy_ = policy; }
    void setMaximumBodyLength(std::uint64_t bytes) { maximumBodyLength_ = bytes; }
    // Our own addition: whether the load follows a redirect (yes unless set). One that does not
    // takes the redirect, its body included, for its answer.
    void setFollowsRedirects(bool follows) { followsRedirects_ = follows; }

private:
    friend class NSURLRequest;
    NSMutableURLRequest() = default;
};
