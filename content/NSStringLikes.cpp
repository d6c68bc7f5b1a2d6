// Texts of the likes client.
#include "content/NSStringLikes.h"

#include "platform/foundation/NSString.h"
#include "platform/foundation/PercentEncoding.h"

namespace NSStringLikes {

std::string likesStringForLikesNumber(long number) {
    if (number <= 0) return "";
    if (number <= 999) return NSString::format(" %ld", number);
    long m = number;
    std::string suffix;
    if (number >= 1000000) {
        // Down to thousands of the largest unit, so that one more "k" below makes the text.
        for (long before = m; ; before = m) {
            m /= 1000;
            suffix += "k";
            if (before <= 999999999) break;
        }
    }
    const long decimal = (m / 100) % 10;
    const long whole = m / 1000;
    suffix += "k";
    return decimal != 0 ? NSString::format(" %ld.%ld%@", whole, decimal, suffix)
                        : NSString::format(" %ld%@", whole, suffix);
}

std::string percentEncode(const std::string& text) {
    static const URLAllowedCharacterSet allowed = URLAllowedCharacterSet::characterSetWithCharactersInString(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~");
    return stringByAddingPercentEncodingWithAllowedCharacters(text, allowed);
}

}  // namespace NSStringLikes
