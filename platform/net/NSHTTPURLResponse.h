// An HTTP answer: status code and header fields, looked up without regard to case.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/net/NSURLResponse.h"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

class NSHTTPURLResponse : public NSURLResponse {
public:
    using HeaderFields = std::vector<std::pair<std::string, std::string>>;

    // The MIME type comes from "Content-Type", the expected length from "Content-Length"
    // unless the body is chunked.
    static std::shared_ptr<NSHTTPURLResponse> initWithURL(std::shared_ptr<NSURL> url, long statusCode,
                                                          const std::string& HTTPVersion, HeaderFields headerFields);

    long statusCode() const { return statusCode_; }
    // "HTTP/1.1", "HTTP/2"...
    const std::string& HTTPVersion() const { return version_; }
    // Names as the server sent them; a repeated field's values joined with ", ".
    const Value::Dictionary& allHeaderFields() const { return fields_; }
    // Case-insensitive; empty when the server did not send the field.
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;

private:
    NSHTTPURLResponse() = default;

    long statusCode_ = 0;
    std::string version_;
    Value::Dictionary fields_;
};
