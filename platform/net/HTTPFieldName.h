// HTTP header field names compare without regard to case.
#pragma once

#include <string_view>
#include <strings.h>

inline bool sameHTTPFieldName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}
