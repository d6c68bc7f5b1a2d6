// Responses: header fields merged as HTTP allows, and the type and length read from them.
#include "platform/net/NSHTTPURLResponse.h"

#include "platform/foundation/NSString.h"
#include "platform/net/HTTPFieldName.h"
#include "platform/net/HTTPHeaderParser.h"

#include <cctype>

namespace {

std::string mimeTypeOf(std::string contentType) {
    const auto semicolon = contentType.find(';');
    if (semicolon != std::string::npos) contentType.resize(semicolon);
    while (!contentType.empty() && std::isspace(static_cast<unsigned char>(contentType.back()))) contentType.pop_back();
    return NSString::lowercaseString(contentType);
}

}  // namespace

std::shared_ptr<NSURLResponse> NSURLResponse::initWithURL(std::shared_ptr<NSURL> url, const std::string& MIMEType,
                                                          std::int64_t expectedContentLength) {
    std::shared_ptr<NSURLResponse> response(new NSURLResponse);
    response->url_ = std::move(url);
    response->mimeType_ = MIMEType;
    response->expectedContentLength_ = expectedContentLength;
    return response;
}

std::shared_ptr<NSHTTPURLResponse> NSHTTPURLResponse::initWithURL(std::shared_ptr<NSURL> url, long statusCode,
                                                                  const std::string& HTTPVersion,
                                                                  HeaderFields headerFields) {
    std::shared_ptr<NSHTTPURLResponse> response(new NSHTTPURLResponse);
    response->url_ = std::move(url);
    response->statusCode_ = statusCode;
    response->version_ = HTTPVersion;
    for (auto& [name, value] : headerFields) {
        std::string key = name;
        for (const auto& [existing, _] : response->fields_) {
            if (sameHTTPFieldName(existing, name)) key = existing;
        }
        Value* present = response->fields_.find(key);
        if (present) *present = present->string() + ", " + value;
        else response->fields_.set(key, value);
    }
    if (auto type = response->valueForHTTPHeaderField("Content-Type")) response->mimeType_ = mimeTypeOf(*type);
    const auto encoding = response->valueForHTTPHeaderField("Transfer-Encoding");
    const bool chunked = encoding && NSString::lowercaseString(*encoding).find("chunked") != std::string::npos;
    const auto length = response->valueForHTTPHeaderField("Content-Length");
    if (length && !chunked) {
        if (const auto parsed = parseHTTPContentLength(*length)) response->expectedContentLength_ = *parsed;
    }
    return response;
}

std::optional<std::string> NSHTTPURLResponse::valueForHTTPHeaderField(std::string_view field) const {
    for (const auto& [name, value] : fields_) {
        if (sameHTTPFieldName(name, field)) return value.string();
    }
    return std::nullopt;
}
