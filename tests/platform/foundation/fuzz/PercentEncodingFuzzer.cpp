// libFuzzer target over percent-encoding: decoding never crashes and gives UTF-8; encoding
// anything with a set that escapes "%" decodes back to it and leaves only allowed characters.
#include "platform/foundation/NSString.h"
#include "platform/foundation/PercentEncoding.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto decoded = stringByRemovingPercentEncoding(text); decoded && !NSString::isValidUTF8(*decoded))
        std::abort();
    if (!NSString::isValidUTF8(text)) return 0;
    for (const auto& allowed :
         {URLAllowedCharacterSet::URLQueryAllowed(), URLAllowedCharacterSet::URLPathAllowed(),
          URLAllowedCharacterSet::URLHostAllowed(), URLAllowedCharacterSet::URLUserAllowed(),
          URLAllowedCharacterSet::URLQueryAllowed().invertedSet().removingCharactersInString("%")}) {
        const std::string encoded = stringByAddingPercentEncodingWithAllowedCharacters(text, allowed);
        // A "%" the set allows stays as it is, and then decoding reads it as an escape.
        if (allowed.containsASCII('%')) continue;
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            const auto byte = static_cast<unsigned char>(encoded[i]);
            if (byte == '%') {
                i += 2;  // an escape
                continue;
            }
            if (byte < 128 ? !allowed.containsASCII(byte) : !allowed.allowsNonASCII()) std::abort();
        }
        const auto back = stringByRemovingPercentEncoding(encoded);
        if (!back || *back != text) std::abort();
    }
    return 0;
}
