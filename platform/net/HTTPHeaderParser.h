// Reading the pieces of an answer's header block that come from the server as text: the status
// line, field lines, Content-Length and Content-Range. Plain scanners with bounded numbers: any
// bytes at all give a result or none, in time linear in their length.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Numbers longer than this many digits are refused rather than read: every length and offset
// of a real answer fits, and no sum of two of them can overflow.
inline constexpr std::size_t kHTTPMaxNumberDigits = 18;

struct HTTPStatusLine {
    std::string version;  // "HTTP/1.1", "HTTP/2"
    long statusCode = 0;  // 100...999; 0 when the line holds no three-digit status
};

// A line that starts with "HTTP/"; none for any other line.
std::optional<HTTPStatusLine> parseHTTPStatusLine(std::string_view line);
// "Name: value" with the blanks around both taken off; none for a line without a colon or
// with an empty name.
std::optional<std::pair<std::string, std::string>> parseHTTPHeaderField(std::string_view line);
// Digits only, blanks around them allowed; none otherwise.
std::optional<std::int64_t> parseHTTPContentLength(std::string_view value);

struct HTTPContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = 0;
};
// "bytes <first>-<last>/<total>" at the start of the value, "bytes" in any case; what follows
// is not looked at. None for anything else, an unknown total ("*") among them.
std::optional<HTTPContentRange> parseHTTPContentRange(std::string_view value);
