// What a load answered, whatever the protocol: URL, MIME type and expected length.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <string>

class NSURL;

class NSURLResponse : public NSObject {
public:
    static constexpr std::int64_t NSURLResponseUnknownLength = -1;

    static std::shared_ptr<NSURLResponse> initWithURL(std::shared_ptr<NSURL> url, const std::string& MIMEType,
                                                      std::int64_t expectedContentLength);

    // The URL that answered (after redirects).
    const std::shared_ptr<NSURL>& URL() const { return url_; }
    // Lower case, without parameters; "" when the server named none.
    const std::string& MIMEType() const { return mimeType_; }
    // The body length the server announced; NSURLResponseUnknownLength (-1) when it did not.
    std::int64_t expectedContentLength() const { return expectedContentLength_; }

protected:
    NSURLResponse() = default;

    std::shared_ptr<NSURL> url_;
    std::string mimeType_;
    std::int64_t expectedContentLength_ = NSURLResponseUnknownLength;
};
