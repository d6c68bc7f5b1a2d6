// A statement: an opcode (or the name of a function to call) and its arguments, not yet
// evaluated. The opcode's evaluator is found once, when the statement is made.
#pragma once

#include "analytics/script/APMPCommandEvaluator.h"
#include "analytics/script/APMPObject.h"
#include "analytics/script/APMPRuntimeValue.h"

#include <string>
#include <vector>

class APMPStatementValue final : public APMPObject {
public:
    APMPStatementValue(APMPHeap& heap, std::u16string functionName, std::vector<APMPRuntimeValue> arguments);

    const std::u16string& functionName() const { return functionName_; }
    const std::vector<APMPRuntimeValue>& arguments() const { return arguments_; }
    // The opcode's number when the name is one, else -1 (a call by name).
    int opcode() const { return opcode_; }
    // The opcode's evaluator, or none for a call by name.
    const APMPCommandEvaluator* evaluator() const { return evaluator_; }
    // The evaluator's routine where it evaluates every argument first, else none.
    APMPCommandRoutine routineAfterArguments() const { return routineAfterArguments_; }
    // No argument is a statement: each evaluates to itself.
    bool hasLiteralArgumentsOnly() const { return literalArgumentsOnly_; }

private:
    void trace(APMPTracer& tracer) const override;
    void clearReferences() override;

    // What running a statement reads comes first, next to the object's count: a program's
    // statements are walked for every event, and the fewer cache lines each takes the better.
    APMPCommandRoutine routineAfterArguments_ = nullptr;
    std::vector<APMPRuntimeValue> arguments_;
    bool literalArgumentsOnly_ = false;
    int opcode_ = -1;
    const APMPCommandEvaluator* evaluator_ = nullptr;
    const std::u16string functionName_;
};
