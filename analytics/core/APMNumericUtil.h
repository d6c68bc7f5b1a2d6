// Numbers of the measurement side: strict decimal text and secure random identifiers.
#pragma once

#include "platform/foundation/NSDecimalNumber.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The whole text is a plain decimal number: an optional sign, digits with at most one point,
// no exponent, no blanks. Empty text is not.
bool APMIsDecimalNumberString(const std::string& text);
// The decimal number of the text (locale en_US), or nothing when the text is not a decimal
// number (26001), cannot be read (26002) or holds more precision than the type keeps (26003).
[[nodiscard]] std::shared_ptr<NSDecimalNumber> APMDecimalNumberFromString(const std::string& text);

class APMNumericUtil {
public:
    // Eight bytes of the secure generator as a signed integer; nothing (and 26004) when the
    // generator fails, never a partly filled value.
    [[nodiscard]] static std::optional<std::int64_t> randomInt64();
};
