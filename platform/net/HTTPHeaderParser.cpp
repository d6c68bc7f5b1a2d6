// Header scanners: each character is looked at once, and a number stops at its digit bound.
#include "platform/net/HTTPHeaderParser.h"

#include <strings.h>

namespace {

bool isHeaderBlank(char c) { return c == ' ' || c == '\t'; }
bool isHeaderDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view headerTrimmed(std::string_view s) {
    while (!s.empty() && isHeaderBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (isHeaderBlank(s.back()) || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// The number at the start of `s`, consumed; none without a digit or past the bound.
std::optional<std::int64_t> takeHeaderNumber(std::string_view& s) {
    std::size_t digits = 0;
    std::int64_t value = 0;
    while (digits < s.size() && isHeaderDigit(s[digits])) {
        if (++digits > kHTTPMaxNumberDigits) return std::nullopt;
        value = value * 10 + (s[digits - 1] - '0');
    }
    if (digits == 0) return std::nullopt;
    s.remove_prefix(digits);
    return value;
}

bool takeHeaderChar(std::string_view& s, char c) {
    if (s.empty() || s.front() != c) return false;
    s.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<HTTPStatusLine> parseHTTPStatusLine(std::string_view line) {
    if (line.substr(0, 5) != "HTTP/") return std::nullopt;
    line = headerTrimmed(line);
    HTTPStatusLine status;
    const auto space = line.find(' ');
    status.version = std::string(line.substr(0, space));
    if (space == std::string_view::npos) return status;
    std::string_view rest = line.substr(space + 1);
    while (!rest.empty() && isHeaderBlank(rest.front())) rest.remove_prefix(1);
    if (rest.size() >= 3 && rest[0] >= '1' && rest[0] <= '9' && isHeaderDigit(rest[1]) && isHeaderDigit(rest[2]) &&
        (rest.size() == 3 || isHeaderBlank(rest[3])))
        status.statusCode = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
    return status;
}

std::optional<std::pair<std::string, std::string>> parseHTTPHeaderField(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view name = headerTrimmed(line.substr(0, colon));
    if (name.empty()) return std::nullopt;
    return std::make_pair(std::string(name), std::string(headerTrimmed(line.substr(colon + 1))));
}

std::optional<std::int64_t> parseHTTPContentLength(std::string_view value) {
    value = headerTrimmed(value);
    const auto number = takeHeaderNumber(value);
    if (!number || !value.empty()) return std::nullopt;
    return number;
}

std::optional<HTTPContentRange> parseHTTPContentRange(std::string_view value) {
    if (value.size() < 6 || strncasecmp(value.data(), "bytes ", 6) != 0) return std::nullopt;
    value.remove_prefix(6);
    const auto first = takeHeaderNumber(value);
    if (!first || !takeHeaderChar(value, '-')) return std::nullopt;
    const auto last = takeHeaderNumber(value);
    if (!last || !takeHeaderChar(value, '/')) return std::nullopt;
    const auto total = takeHeaderNumber(value);
    if (!total) return std::nullopt;
    return HTTPContentRange{*first, *last, *total};
}
