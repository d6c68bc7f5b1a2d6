// The check every command and built-in makes of how many arguments it was given: a wrong count
// sets the runtime's argument-count error.
#pragma once

#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPRuntimeValue.h"

#include <cstddef>
#include <span>

// Sets the error; false. Kept out of line: the check itself stays small enough to inline.
[[gnu::noinline, gnu::cold]] inline bool APMPArgumentCountWrong(NSErrorPtr& error) {
    error = APMPError(APMPErrorArgumentCount);
    return false;
}

inline bool APMPArgumentCountBetween(std::span<const APMPRuntimeValue> arguments, std::size_t least,
                                     std::size_t most, NSErrorPtr& error) {
    if (arguments.size() >= least && arguments.size() <= most) return true;
    return APMPArgumentCountWrong(error);
}

inline bool APMPArgumentCountIs(std::span<const APMPRuntimeValue> arguments, std::size_t expected, NSErrorPtr& error) {
    return APMPArgumentCountBetween(arguments, expected, expected, error);
}
