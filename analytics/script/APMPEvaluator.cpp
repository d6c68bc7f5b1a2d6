// The evaluation of statements, as the runtime does it.
#include "analytics/script/APMPEvaluator.h"

#include "analytics/script/APMPRuntime.h"

APMPRuntimeValue APMPEvaluator::evaluateStatement(const APMPRuntimeValue& statement, APMPScope& scope,
                                                  APMPRuntime& runtime, NSErrorPtr& error) {
    return runtime.evaluateStatement(statement, scope, error);
}

APMPRuntimeValue APMPEvaluator::executeStatements(std::span<const APMPRuntimeValue> statements, APMPScope& scope,
                                                  APMPRuntime& runtime, NSErrorPtr& error) {
    return runtime.executeStatementList(statements, scope, error);
}
