// The shared string-method evaluator over the string commands.
#include "analytics/script/APMPStringCommandEvaluator.h"

#include "analytics/script/APMPStringCommands.h"
#include "platform/foundation/ProcessShared.h"

namespace {
ProcessShared<APMPStringCommandEvaluator> gStringCommandEvaluator;
}  // namespace

std::shared_ptr<APMPStringCommandEvaluator> APMPStringCommandEvaluator::sharedInstance() {
    return gStringCommandEvaluator.get();
}

void APMPStringCommandEvaluator::resetSharedInstance() { (void)gStringCommandEvaluator.take(); }

bool APMPStringCommandEvaluator::hasSharedInstance() { return gStringCommandEvaluator.current() != nullptr; }

APMPRuntimeValue APMPStringCommandEvaluator::evaluateCommand(const std::u16string& name, const std::u16string& text,
                                                             std::span<const APMPRuntimeValue> arguments,
                                                             APMPScope& scope, APMPRuntime& runtime,
                                                             NSErrorPtr& error) const {
    return APMPStringCommands::evaluateCommand(name, text, arguments, scope, runtime, error);
}
