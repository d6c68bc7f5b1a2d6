// The methods a program calls on a string value, in UTF-16 units.
#pragma once

#include "analytics/script/APMPRuntimeValue.h"

#include <span>
#include <string>

class APMPStringCommands {
public:
    // An unknown method is error 17 with no argument evaluated; otherwise the arguments are
    // evaluated in the caller's scope and the method runs on `text`.
    static APMPRuntimeValue evaluateCommand(const std::u16string& name, const std::u16string& text,
                                            std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                            APMPRuntime& runtime, NSErrorPtr& error);
};
