// Percent-encoding with the URL component sets and decoding that refuses malformed input.
#include "platform/foundation/PercentEncoding.h"

#include "platform/foundation/NSString.h"

namespace {

constexpr std::string_view kAlphanumerics = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

URLAllowedCharacterSet URLAllowedCharacterSet::characterSetWithCharactersInString(std::string_view characters) {
    URLAllowedCharacterSet set;
    for (char c : characters)
        if (static_cast<unsigned char>(c) < 128) set.ascii_.set(static_cast<unsigned char>(c));
    return set;
}

URLAllowedCharacterSet URLAllowedCharacterSet::URLQueryAllowed() {
    return characterSetWithCharactersInString(std::string(kAlphanumerics) + "-._~!$&'()*+,;=:@/?");
}

URLAllowedCharacterSet URLAllowedCharacterSet::URLFragmentAllowed() {
    return characterSetWithCharactersInString(std::string(kAlphanumerics) + "-._~!$&'()*+,;=:@/?");
}

URLAllowedCharacterSet URLAllowedCharacterSet::URLPathAllowed() {
    return characterSetWithCharactersInString(std::string(kAlphanumerics) + "-._~!$&'()*+,=:@/");
}

URLAllowedCharacterSet URLAllowedCharacterSet::URLHostAllowed() {
    return characterSetWithCharactersInString(std::string(kAlphanumerics) + "-._~!$&'()*+,;=:[]");
}

URLAllowedCharacterSet URLAllowedCharacterSet::URLUserAllowed() {
    return characterSetWithCharactersInString(std::string(kAlphanumerics) + "-._~!$&'()*+,;=");
}

URLAllowedCharacterSet URLAllowedCharacterSet::URLPasswordAllowed() {
    return characterSetWithCharactersInString(std::string(kAlphanumerics) + "-._~!$&'()*+,;=");
}

URLAllowedCharacterSet URLAllowedCharacterSet::invertedSet() const {
    URLAllowedCharacterSet set;
    set.ascii_ = ~ascii_;
    set.nonASCII_ = !nonASCII_;
    return set;
}

URLAllowedCharacterSet URLAllowedCharacterSet::unionWith(const URLAllowedCharacterSet& other) const {
    URLAllowedCharacterSet set;
    set.ascii_ = ascii_ | other.ascii_;
    set.nonASCII_ = nonASCII_ || other.nonASCII_;
    return set;
}

URLAllowedCharacterSet URLAllowedCharacterSet::removingCharactersInString(std::string_view characters) const {
    URLAllowedCharacterSet set = *this;
    for (char c : characters)
        if (static_cast<unsigned char>(c) < 128) set.ascii_.reset(static_cast<unsigned char>(c));
    return set;
}

std::string stringByAddingPercentEncodingWithAllowedCharacters(std::string_view s,
                                                               const URLAllowedCharacterSet& allowed) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    const auto escape = [&](unsigned char byte) {
        out += '%';
        out += digits[byte >> 4];
        out += digits[byte & 15];
    };
    // Walk whole characters, so a character beyond ASCII is kept or escaped as a unit.
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 128) {
            if (allowed.containsASCII(c)) out += static_cast<char>(c);
            else escape(c);
            ++i;
            continue;
        }
        std::size_t length = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        if (i + length > s.size() || !NSString::isValidUTF8(s.substr(i, length))) length = 1;
        const bool keep = allowed.allowsNonASCII() && NSString::isValidUTF8(s.substr(i, length));
        for (std::size_t k = 0; k < length; ++k) {
            if (keep) out += s[i + k];
            else escape(static_cast<unsigned char>(s[i + k]));
        }
        i += length;
    }
    return out;
}

std::optional<std::string> stringByRemovingPercentEncoding(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (s.size() - i < 3) return std::nullopt;
        const int high = hexValue(s[i + 1]), low = hexValue(s[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!NSString::isValidUTF8(out)) return std::nullopt;
    return out;
}
