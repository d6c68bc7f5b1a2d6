// Joins a parameter dictionary onto a URL and splits a URL's query into a dictionary.
#pragma once

#include "platform/foundation/Value.h"

#include <optional>
#include <string>

class URLParser {
public:
    // `url` unchanged without parameters; otherwise "<url><? or &><key>=<value>&...", keys as
    // they are, strings strictly percent-encoded, numbers as text, data and objects left out.
    static std::string constructURL(const std::string& url, const std::optional<Value::Dictionary>& params);
    // The pairs after the first "?" (else the first "#"), each split at its first "=" with the
    // value percent-decoded; a part without "=" gives its key an empty value. None when the text
    // has neither separator.
    [[nodiscard]] static std::optional<Value::Dictionary> parseURL(const std::string& text);
    // UTF-8 percent-encoding that leaves only letters, digits and "-._~" as they are.
    static std::string percentEncode(const std::string& text);
};
