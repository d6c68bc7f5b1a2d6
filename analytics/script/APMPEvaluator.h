// Statements evaluated one at a time or as a list, in a scope of the runtime given. The
// runtime is an argument: it holds the instruction budget, the depth bound and the heap every
// evaluation draws on, kept out of the programs' reach rather than in a scope they could write.
#pragma once

#include "analytics/script/APMPRuntimeValue.h"

#include <span>

class APMPEvaluator {
public:
    APMPEvaluator() = delete;

    // Counts one instruction, then runs a statement through the evaluator of its opcode (or
    // calls the function its name holds); any other value is itself.
    static APMPRuntimeValue evaluateStatement(const APMPRuntimeValue& statement, APMPScope& scope,
                                              APMPRuntime& runtime, NSErrorPtr& error);
    // Each in order in `scope`, which the list does not replace: an error gives undefined, a
    // control value ends the list and is given, otherwise the last value.
    static APMPRuntimeValue executeStatements(std::span<const APMPRuntimeValue> statements, APMPScope& scope,
                                              APMPRuntime& runtime, NSErrorPtr& error);
};
