// The byte buffer's Base64 extension: lenient decoding and encoding with an optional line length.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>

namespace NSDataBase64 {

// Characters outside the alphabet are skipped and the first "=" ends the text; an absent
// string gives empty data. A lone character left over at the end carries no whole byte and
// is dropped.
NSData dataWithBase64EncodedString(const std::optional<std::string>& text);
NSData initWithBase64EncodedString(const std::optional<std::string>& text);
// Padded with "="; with a line length other than 0, "\n" follows every group with which the
// line reaches or passes that length.
std::string base64EncodingWithLineLength(const NSData& data, std::uint32_t lineLength);

}  // namespace NSDataBase64
