// One built-in method's run, as the array and string methods see it: its evaluated arguments,
// where it runs, and the checks of their count and kinds that set the run's error.
#pragma once

#include "analytics/script/APMPArgumentCount.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPRuntime.h"

#include <cstddef>
#include <span>

struct APMPMethodCall {
    std::span<const APMPRuntimeValue> arguments;
    APMPScope& scope;
    APMPRuntime& runtime;
    NSErrorPtr& error;

    // A missing argument reads as undefined.
    const APMPRuntimeValue& argument(std::size_t index) const {
        static const APMPRuntimeValue missing;
        return index < arguments.size() ? arguments[index] : missing;
    }
    bool has(std::size_t index) const { return index < arguments.size(); }
    bool countAtMost(std::size_t most) { return countBetween(0, most); }
    bool countIs(std::size_t expected) { return countBetween(expected, expected); }
    bool countBetween(std::size_t least, std::size_t most) {
        return APMPArgumentCountBetween(arguments, least, most, error);
    }
    // The argument through ToInteger.
    bool integer(std::size_t index, double& out) {
        const double number = argument(index).doubleValueOrError(runtime, error);
        if (error) return false;
        out = APMPToInteger(number);
        return true;
    }
};
