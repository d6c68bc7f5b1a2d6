// What the analytics reads from the store receipt by byte patterns (not a DER parser): the
// version under which the application was first obtained.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// 255 in a pattern matches any byte and captures it.
inline constexpr std::uint8_t APMReceiptAnyByte = 255;

// The bytes after the pattern at `offset`, as many as its last captured byte says (a short
// DER length); nothing when the pattern does not match there or the bytes end too soon.
std::optional<NSData> APMReceiptDataMatchingPattern(const std::vector<std::uint8_t>& pattern, const NSData& bytes,
                                                    std::int64_t offset);
// The original application version the receipt's bytes hold (the text after the first match of
// the attribute's pattern, less the string's tag and length); nothing, with a logged sentence,
// when there is none.
std::optional<std::string> APMReceiptOriginalVersion(const NSData& receipt);
// The receipt's original application version equals the main bundle's "CFBundleVersion"; YES
// on a simulator or with a test-store receipt, NO without a readable receipt.
bool APMIsVersionSameAsOriginalVersion();
