// Digests, query strings and UTF-32 helpers.
#include "analytics/core/APMDataUtil.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PercentEncoding.h"

#include <cstring>

NSData apm_MD5Data(const NSData& data) { return Digest::MD5(data); }

std::int64_t apm_64LeastSignificantBits(const NSData& data) {
    const std::size_t start = data.size() > 8 ? data.size() - 8 : 0;
    std::uint64_t value = 0;
    for (std::size_t i = start; i < data.size(); ++i) value = (value << 8) | data[i];
    return static_cast<std::int64_t>(value);
}

std::int64_t apm_64LSBMD5(const NSData& data) {
    // Every event's metadata is hashed twice, and mostly the same bytes as the last event's: a
    // comparison is far cheaper than the digest.
    thread_local NSData lastData;
    thread_local std::int64_t lastFingerprint = 0;
    thread_local bool known = false;
    if (known && data == lastData) return lastFingerprint;
    lastFingerprint = apm_64LeastSignificantBits(apm_MD5Data(data));
    lastData = data;
    known = true;
    return lastFingerprint;
}

std::optional<std::string> apm_MD5String(const std::string& text) {
    if (!NSString::isValidUTF8(text)) return std::nullopt;
    return Digest::hexString(Digest::MD5(std::string_view(text)));
}

std::optional<std::string> apm_stringByUnescapingFromURLArgument(const std::string& text) {
    std::string spaced = text;
    for (char& c : spaced) {
        if (c == '+') c = ' ';
    }
    return stringByRemovingPercentEncoding(spaced);
}

std::size_t apm_UTF32Length(const std::string& text) { return NSString::utf32Length(text); }

void apm_getUTF32Bytes(const std::string& text, void* buffer, std::size_t maxBytes) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t written = 0;
    for (char32_t c : NSString::toUTF32(text)) {
        if (written + 4 > maxBytes) break;
        const std::uint32_t v = static_cast<std::uint32_t>(c);
        out[written++] = static_cast<unsigned char>(v & 0xFF);
        out[written++] = static_cast<unsigned char>((v >> 8) & 0xFF);
        out[written++] = static_cast<unsigned char>((v >> 16) & 0xFF);
        out[written++] = static_cast<unsigned char>((v >> 24) & 0xFF);
    }
}

std::string apm_queryString(const Value::Dictionary& dictionary) {
    const auto allowed = URLAllowedCharacterSet::URLQueryAllowed();
    std::string out;
    for (const auto& [key, value] : dictionary) {
        if (!out.empty()) out += "&";
        out += stringByAddingPercentEncodingWithAllowedCharacters(key, allowed) + "=" +
               stringByAddingPercentEncodingWithAllowedCharacters(value.description(), allowed);
    }
    return out;
}

Value::Dictionary apm_dictionaryWithHttpArgumentsString(const std::string& text) {
    Value::Dictionary result;
    const auto parts = NSString::componentsSeparatedByString(text, "&");
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        const std::string& part = *it;
        if (part.empty()) continue;
        const std::size_t equals = part.find('=');
        std::string key;
        std::string value;
        if (equals == std::string::npos) {
            key = apm_stringByUnescapingFromURLArgument(part).value_or("");
        } else {
            key = apm_stringByUnescapingFromURLArgument(part.substr(0, equals)).value_or("");
            value = apm_stringByUnescapingFromURLArgument(part.substr(equals + 1)).value_or("");
        }
        result.set(key, value);
    }
    return result;
}
