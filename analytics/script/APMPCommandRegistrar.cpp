// The registrar (one, made at first use and read-only after), the evaluators' shared parts and
// the function evaluator for names that are no opcode.
#include "analytics/script/APMPCommandEvaluator.h"

#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStatementValue.h"

APMPRuntimeValue APMPCommandEvaluator::evaluateCommand(int opcode, std::span<const APMPRuntimeValue> arguments,
                                                       APMPScope& scope, APMPRuntime& runtime,
                                                       NSErrorPtr& error) const {
    const APMPCommandRoutine run = routine(opcode);
    return run ? run(arguments, scope, runtime, error) : APMPRuntimeValue::undefined();
}

APMPRuntimeValue APMPCommandEvaluator::evaluateCommand(const std::u16string&, const std::u16string&,
                                                       std::span<const APMPRuntimeValue>, APMPScope&, APMPRuntime&,
                                                       NSErrorPtr& error) const {
    error = APMPError(APMPErrorUnknownMethod);
    return APMPRuntimeValue::undefined();
}

APMPRuntimeValue APMPCommandEvaluator::evaluateCommand(const std::u16string&, APMPArrayValue&,
                                                       std::span<const APMPRuntimeValue>, APMPScope&, APMPRuntime&,
                                                       NSErrorPtr& error) const {
    error = APMPError(APMPErrorUnknownMethod);
    return APMPRuntimeValue::undefined();
}

std::vector<int> APMPCommandEvaluator::allSupportedCommands() const {
    std::vector<int> opcodes;
    for (int opcode = 0; opcode < kOpcodeCount; ++opcode) {
        if (routines_[static_cast<std::size_t>(opcode)]) opcodes.push_back(opcode);
    }
    return opcodes;
}

APMPRuntimeValue APMPEvaluatingCommandEvaluator::evaluateCommand(int opcode,
                                                                 std::span<const APMPRuntimeValue> arguments,
                                                                 APMPScope& scope, APMPRuntime& runtime,
                                                                 NSErrorPtr& error) const {
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return APMPRuntimeValue::undefined();
    return APMPCommandEvaluator::evaluateCommand(opcode, values, scope, runtime, error);
}

APMPCommandRegistrar::APMPCommandRegistrar() {
    static const APMPBitwiseCommandEvaluator bitwise;
    static const APMPComparisonCommandEvaluator comparison;
    static const APMPControlCommandEvaluator control;
    static const APMPLogicalCommandEvaluator logical;
    static const APMPLoopCommandEvaluator loop;
    static const APMPMathCommandEvaluator math;
    static const APMPVariableCommandEvaluator variable;
    for (const APMPCommandEvaluator* evaluator :
         {static_cast<const APMPCommandEvaluator*>(&bitwise), static_cast<const APMPCommandEvaluator*>(&comparison),
          static_cast<const APMPCommandEvaluator*>(&control), static_cast<const APMPCommandEvaluator*>(&logical),
          static_cast<const APMPCommandEvaluator*>(&loop), static_cast<const APMPCommandEvaluator*>(&math),
          static_cast<const APMPCommandEvaluator*>(&variable)}) {
        registerEvaluator(*evaluator);
    }
}

const APMPCommandRegistrar& APMPCommandRegistrar::sharedInstance() {
    static const APMPCommandRegistrar registrar;
    return registrar;
}

void APMPCommandRegistrar::registerEvaluator(const APMPCommandEvaluator& evaluator) {
    for (int opcode : evaluator.allSupportedCommands()) evaluators_[static_cast<std::size_t>(opcode)] = &evaluator;
}

int APMPCommandRegistrar::opcodeForName(std::u16string_view name) const {
    if (name.empty() || name.size() > 2) return -1;
    int opcode = 0;
    for (char16_t c : name) {
        if (c < u'0' || c > u'9') return -1;
        opcode = opcode * 10 + (c - u'0');
    }
    // "07" is a name, not the opcode "7".
    if (name.size() == 2 && name[0] == u'0') return -1;
    if (opcode >= APMPCommandEvaluator::kOpcodeCount || !evaluators_[static_cast<std::size_t>(opcode)]) return -1;
    return opcode;
}

APMPRuntimeValue APMPCommandRegistrar::evaluateStatement(const APMPStatementValue& statement, APMPScope& scope,
                                                         APMPRuntime& runtime, NSErrorPtr& error) {
    if (const APMPCommandEvaluator* evaluator = statement.evaluator()) {
        return evaluator->evaluateCommand(statement.opcode(), statement.arguments(), scope, runtime, error);
    }
    // The function evaluator: a variable of that name holding a function, else undefined.
    runtime.chargeName(statement.functionName().size());
    const APMPRuntimeValue callee = scope.valueForName(statement.functionName());
    if (!callee.isFunction()) return APMPRuntimeValue::undefined();
    return callee.as<APMPFunctionValue>()->invokeWithArguments(statement.arguments(), scope, runtime, error);
}
