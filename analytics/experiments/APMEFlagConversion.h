// Flags from declared default values, and the values flags carry.
#pragma once

#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class APMPBFlag;

// A text value in field 2, a floating number in field 3, any other number (booleans
// included) in field 1 as a 64-bit integer. Nil for a value of another kind (850002).
[[nodiscard]] std::shared_ptr<APMPBFlag> APMEFlagWithNameAndValue(const std::string& name, const Value& value);
// The integer, else the double, else the text, else the boolean; null when the flag has none.
Value APMEFlagValue(const std::shared_ptr<APMPBFlag>& flag);
