// Digests and text helpers of the measurement side: MD5 and its 64-bit fold, URL query
// strings both ways, and UTF-32 lengths for character-count limits.
#pragma once

#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The 16-byte MD5 digest.
NSData apm_MD5Data(const NSData& data);
// The last eight bytes as a big-endian integer; shorter data is read whole; empty gives 0.
std::int64_t apm_64LeastSignificantBits(const NSData& data);
// Digest bytes 8..15 of the MD5, big-endian.
std::int64_t apm_64LSBMD5(const NSData& data);

// 32 lower-case hex digits of the MD5 of the UTF-8 bytes; nothing for invalid UTF-8.
[[nodiscard]] std::optional<std::string> apm_MD5String(const std::string& text);
// "+" becomes a blank, then percent escapes are decoded; nothing when they are malformed.
[[nodiscard]] std::optional<std::string> apm_stringByUnescapingFromURLArgument(const std::string& text);
// Code points (a character outside the basic plane counts once).
std::size_t apm_UTF32Length(const std::string& text);
// Little-endian UTF-32 of the text into `buffer`, whole characters only, at most `maxBytes`.
void apm_getUTF32Bytes(const std::string& text, void* buffer, std::size_t maxBytes);

// "key=value" pairs joined by "&", each side the "%@" text percent-encoded with the URL-query
// allowed set, in the dictionary's order.
std::string apm_queryString(const Value::Dictionary& dictionary);
// Parts split at "&"; the first occurrence of a key wins; a part without "=" maps to "".
Value::Dictionary apm_dictionaryWithHttpArgumentsString(const std::string& text);
