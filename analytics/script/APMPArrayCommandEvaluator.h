// The process's evaluator of the native methods of array values.
#pragma once

#include "analytics/script/APMPCommandEvaluator.h"
#include "platform/foundation/NSObject.h"

#include <memory>
#include <span>
#include <string>

class APMPArrayValue;

class APMPArrayCommandEvaluator final : public NSObject, public APMPCommandEvaluator {
public:
    using APMPCommandEvaluator::evaluateCommand;

    // Made once, on first use.
    static std::shared_ptr<APMPArrayCommandEvaluator> sharedInstance();
    // Forgets it, as a new process would start (tests).
    static void resetSharedInstance();
    // Whether it is made, without making it.
    static bool hasSharedInstance();

    // An unknown method is error 17 with no argument evaluated; otherwise the arguments are
    // evaluated in the caller's scope and the method runs on `array`.
    APMPRuntimeValue evaluateCommand(const std::u16string& name, APMPArrayValue& array,
                                     std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                     APMPRuntime& runtime, NSErrorPtr& error) const override;
};
