// Joins a parameter dictionary onto a URL and splits a URL's query into a dictionary.
#include "content/URLParser.h"

#include "content/NSStringLikes.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PercentEncoding.h"

std::string URLParser::percentEncode(const std::string& text) { return NSStringLikes::percentEncode(text); }

std::string URLParser::constructURL(const std::string& url, const std::optional<Value::Dictionary>& params) {
    if (!params) return url;
    const std::size_t fragment = url.find('#');
    const std::size_t query = url.find('?');
    const bool hasQuery = query != std::string::npos && (fragment == std::string::npos || query < fragment);
    std::vector<std::string> pairs;
    for (const auto& [key, value] : *params) {
        if (value.isData() || value.isObject()) continue;  // pictures and raw bytes do not go into a URL
        const std::string text = value.isString() ? percentEncode(value.string()) : value.stringValue();
        pairs.push_back(key + "=" + text);
    }
    return url + (hasQuery ? "&" : "?") + NSString::componentsJoinedByString(pairs, "&");
}

std::optional<Value::Dictionary> URLParser::parseURL(const std::string& text) {
    const std::string separator = text.find('?') != std::string::npos ? "?" : "#";
    const auto pieces = NSString::componentsSeparatedByString(text, separator);
    if (pieces.size() < 2) return std::nullopt;
    Value::Dictionary result;
    for (const auto& part : NSString::componentsSeparatedByString(pieces[1], "&")) {
        if (part.empty()) continue;
        const std::size_t equals = part.find('=');
        const std::string key = part.substr(0, equals);
        // Everything after the first "=" is the value: base64 and similar values keep their "=".
        const std::string raw = equals == std::string::npos ? std::string() : part.substr(equals + 1);
        result.set(key, Value(stringByRemovingPercentEncoding(raw).value_or(raw)));
    }
    return result;
}
