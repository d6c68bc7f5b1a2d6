// Base64 text to and from bytes, with the platform's line-length and decoding options.
#pragma once

#include "platform/foundation/Value.h"

#include <optional>
#include <string>
#include <string_view>

enum NSDataBase64EncodingOptions : unsigned {
    NSDataBase64Encoding64CharacterLineLength = 1,
    NSDataBase64Encoding76CharacterLineLength = 2,
    NSDataBase64EncodingEndLineWithCarriageReturn = 16,
    NSDataBase64EncodingEndLineWithLineFeed = 32,
};

enum NSDataBase64DecodingOptions : unsigned {
    NSDataBase64DecodingIgnoreUnknownCharacters = 1,
};

// Lines are broken only when a line-length option is given, with CR LF unless one end is chosen.
std::string base64EncodedString(const NSData& data, unsigned options = 0);
// Nothing for malformed text: a character outside the alphabet (unless ignored by the option),
// a length that is not a whole number of quartets, or padding anywhere but at the end.
[[nodiscard]] std::optional<NSData> dataFromBase64String(std::string_view text, unsigned options = 0);
