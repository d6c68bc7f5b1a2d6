// The shared array-method evaluator over the array commands.
#include "analytics/script/APMPArrayCommandEvaluator.h"

#include "analytics/script/APMPArrayCommands.h"
#include "platform/foundation/ProcessShared.h"

namespace {
ProcessShared<APMPArrayCommandEvaluator> gArrayCommandEvaluator;
}  // namespace

std::shared_ptr<APMPArrayCommandEvaluator> APMPArrayCommandEvaluator::sharedInstance() {
    return gArrayCommandEvaluator.get();
}

void APMPArrayCommandEvaluator::resetSharedInstance() { (void)gArrayCommandEvaluator.take(); }

bool APMPArrayCommandEvaluator::hasSharedInstance() { return gArrayCommandEvaluator.current() != nullptr; }

APMPRuntimeValue APMPArrayCommandEvaluator::evaluateCommand(const std::u16string& name, APMPArrayValue& array,
                                                            std::span<const APMPRuntimeValue> arguments,
                                                            APMPScope& scope, APMPRuntime& runtime,
                                                            NSErrorPtr& error) const {
    return APMPArrayCommands::evaluateCommand(name, array, arguments, scope, runtime, error);
}
