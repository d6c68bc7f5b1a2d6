// Requests: header fields are matched without regard to case, as HTTP wants.
#include "platform/net/NSURLRequest.h"

#include "platform/net/HTTPFieldName.h"
#include "platform/net/NSMutableURLRequest.h"

std::shared_ptr<NSURLRequest> NSURLRequest::requestWithURL(std::shared_ptr<NSURL> url) {
    return NSMutableURLRequest::requestWithURL(std::move(url));
}

std::shared_ptr<NSURLRequest> NSURLRequest::requestWithURL(std::shared_ptr<NSURL> url, NSURLRequestCachePolicy cachePolicy,
                                                           double timeoutInterval) {
    return NSMutableURLRequest::requestWithURL(std::move(url), cachePolicy, timeoutInterval);
}

std::optional<std::string> NSURLRequest::valueForHTTPHeaderField(std::string_view field) const {
    for (const auto& [name, value] : headers_) {
        if (sameHTTPFieldName(name, field)) return value;
    }
    return std::nullopt;
}

Value::Dictionary NSURLRequest::allHTTPHeaderFields() const {
    Value::Dictionary fields;
    for (const auto& [name, value] : headers_) fields.set(name, value);
    return fields;
}

void NSURLRequest::copyFrom(const NSURLRequest& other) {
    url_ = other.url_;
    method_ = other.method_;
    headers_ = other.headers_;
    body_ = other.body_;
    timeout_ = other.timeout_;
    timeoutSet_ = other.timeoutSet_;
    cachePolicy_ = other.cachePolicy_;
    maximumBodyLength_ = other.maximumBodyLength_;
    followsRedirects_ = other.followsRedirects_;
}

std::shared_ptr<NSMutableURLRequest> NSURLRequest::mutableCopy() const {
    std::shared_ptr<NSMutableURLRequest> copy(new NSMutableURLRequest);
    copy->copyFrom(*this);
    return copy;
}

std::shared_ptr<NSMutableURLRequest> NSMutableURLRequest::requestWithURL(std::shared_ptr<NSURL> url) {
    std::shared_ptr<NSMutableURLRequest> request(new NSMutableURLRequest);
    request->url_ = std::move(url);
    return request;
}

std::shared_ptr<NSMutableURLRequest> NSMutableURLRequest::requestWithURL(std::shared_ptr<NSURL> url,
                                                                         NSURLRequestCachePolicy cachePolicy,
                                                                         double timeoutInterval) {
    auto request = requestWithURL(std::move(url));
    request->cachePolicy_ = cachePolicy;
    request->setTimeoutInterval(timeoutInterval);
    return request;
}

void NSMutableURLRequest::setValue(std::optional<std::string> value, const std::string& field) {
    for (auto it = headers_.begin(); it != headers_.end(); ++it) {
        if (!sameHTTPFieldName(it->first, field)) continue;
        if (value) it->second = std::move(*value);
        else headers_.erase(it);
        return;
    }
    if (value) headers_.emplace_back(field, std::move(*value));
}

void NSMutableURLRequest::addValue(const std::string& value, const std::string& field) {
    for (auto& [name, existing] : headers_) {
        if (sameHTTPFieldName(name, field)) {
            existing += ", " + value;
            return;
        }
    }
    headers_.emplace_back(field, value);
}

void NSMutableURLRequest::setTimeoutInterval(double seconds) {
    timeout_ = seconds;
    timeoutSet_ = true;
}
