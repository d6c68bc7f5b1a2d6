// URLs: the string is kept as given; its parts come from libcurl's parser.
#include "platform/net/NSURL.h"

#include "platform/foundation/PercentEncoding.h"

#include <curl/curl.h>

#include <cstdlib>
#include <functional>
#include <string_view>

namespace {

bool legalURLText(std::string_view s) {
    for (unsigned char c : s) {
        if (c <= 0x20 || c >= 0x7f) return false;
        if (std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos) return false;
    }
    return true;
}

std::string part(CURLU* url, CURLUPart which, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, flags) != CURLUE_OK || !text) return {};
    std::string out = text;
    curl_free(text);
    return out;
}

}  // namespace

std::shared_ptr<NSURL> NSURL::URLWithString(const std::string& string) {
    if (string.empty() || !legalURLText(string)) return nullptr;
    CURLU* parsed = curl_url();
    if (!parsed) return nullptr;
    std::shared_ptr<NSURL> url;
    if (curl_url_set(parsed, CURLUPART_URL, string.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        url = std::make_shared<NSURL>();
        url->string_ = string;
        url->scheme_ = part(parsed, CURLUPART_SCHEME);
        url->host_ = part(parsed, CURLUPART_HOST);
        const std::string port = part(parsed, CURLUPART_PORT);
        if (!port.empty()) url->port_ = std::atoi(port.c_str());
        url->path_ = part(parsed, CURLUPART_PATH, CURLU_URLDECODE);
        url->query_ = part(parsed, CURLUPART_QUERY);
        url->fragment_ = part(parsed, CURLUPART_FRAGMENT);
    }
    curl_url_cleanup(parsed);
    return url;
}

std::shared_ptr<NSURL> NSURL::fileURLWithPath(const std::string& path) {
    return URLWithString("file://" +
                         stringByAddingPercentEncodingWithAllowedCharacters(path, URLAllowedCharacterSet::URLPathAllowed()));
}

bool NSURL::isEqual(const NSObject* other) const {
    auto* url = dynamic_cast<const NSURL*>(other);
    return url && url->string_ == string_;
}

std::size_t NSURL::hash() const { return std::hash<std::string>{}(string_); }
