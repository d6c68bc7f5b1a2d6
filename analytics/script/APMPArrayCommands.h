// The native methods of array values.
#pragma once

#include "analytics/script/APMPRuntimeValue.h"

#include <span>
#include <string>

class APMPArrayValue;

class APMPArrayCommands {
public:
    // An unknown method is error 17 with no argument evaluated; otherwise the arguments are
    // evaluated in the caller's scope and the method runs on `array`.
    static APMPRuntimeValue evaluateCommand(const std::u16string& name, APMPArrayValue& array,
                                            std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                            APMPRuntime& runtime, NSErrorPtr& error);
};
