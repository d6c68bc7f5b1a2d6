// The evaluators of statements by opcode, and the registrar that finds a statement's evaluator.
// Each evaluator holds its opcodes' routines; most evaluate all arguments first, the control,
// logical and loop evaluators hand them on unevaluated. Names that are no opcode call the
// function a variable of that name holds. The evaluators of the methods called on strings and
// on arrays answer by method name instead, and the runtime holds them as evaluators too.
#pragma once

#include "analytics/script/APMPRuntimeValue.h"

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class APMPArrayValue;
class APMPRuntime;
class APMPScope;
class APMPStatementValue;

using APMPCommandRoutine = APMPRuntimeValue (*)(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                               APMPRuntime& runtime, NSErrorPtr& error);

class APMPCommandEvaluator {
public:
    static constexpr int kOpcodeCount = 67;

    virtual ~APMPCommandEvaluator() = default;
    // Unevaluated arguments; an opcode without a routine gives undefined.
    virtual APMPRuntimeValue evaluateCommand(int opcode, std::span<const APMPRuntimeValue> arguments,
                                             APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) const;
    // A method called on a string's text, or on an array, with its unevaluated arguments: error 17
    // (an unknown method), with no argument evaluated, where the evaluator has no such methods.
    virtual APMPRuntimeValue evaluateCommand(const std::u16string& name, const std::u16string& text,
                                             std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                             APMPRuntime& runtime, NSErrorPtr& error) const;
    virtual APMPRuntimeValue evaluateCommand(const std::u16string& name, APMPArrayValue& array,
                                             std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                             APMPRuntime& runtime, NSErrorPtr& error) const;
    std::vector<int> allSupportedCommands() const;
    // The routine to run on the evaluated arguments where this evaluator evaluates them all
    // first; none where it hands them on unevaluated.
    virtual APMPCommandRoutine routineAfterArguments(int) const { return nullptr; }

protected:
    APMPCommandRoutine routine(int opcode) const { return routines_[static_cast<std::size_t>(opcode)]; }
    void add(int opcode, APMPCommandRoutine routine) { routines_[static_cast<std::size_t>(opcode)] = routine; }

private:
    std::array<APMPCommandRoutine, kOpcodeCount> routines_{};
};

// Evaluates every argument first, left to right, then runs the routine.
class APMPEvaluatingCommandEvaluator : public APMPCommandEvaluator {
public:
    APMPRuntimeValue evaluateCommand(int opcode, std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                     APMPRuntime& runtime, NSErrorPtr& error) const override;
    APMPCommandRoutine routineAfterArguments(int opcode) const override { return routine(opcode); }
};

// "0" add or concatenate, "37", "26", "10", "25", "27", and the pass-throughs "32" to "35".
class APMPMathCommandEvaluator final : public APMPEvaluatingCommandEvaluator {
public:
    APMPMathCommandEvaluator();
};

// "1" and, "30" or (short-circuit, yielding an operand), "28" not.
class APMPLogicalCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPLogicalCommandEvaluator();
};

// "56" to "62" on 32-bit patterns.
class APMPBitwiseCommandEvaluator final : public APMPEvaluatingCommandEvaluator {
public:
    APMPBitwiseCommandEvaluator();
};

// "12", "29", "20", "21", "23", "24", "18", "19": exactly two arguments, both evaluated.
class APMPComparisonCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPComparisonCommandEvaluator();
    APMPRuntimeValue evaluateCommand(int opcode, std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                     APMPRuntime& runtime, NSErrorPtr& error) const override;
};

// Method calls, blocks, statement lists, break, continue, return, if, switch, the
// conditional expression, sequences and functions.
class APMPControlCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPControlCommandEvaluator();
};

// Declarations, assignment, reads, properties, literals, typeof, undefined and null.
class APMPVariableCommandEvaluator final : public APMPEvaluatingCommandEvaluator {
public:
    APMPVariableCommandEvaluator();
};

// Iteration over keys and values, the condition loop and the counted loop.
class APMPLoopCommandEvaluator final : public APMPCommandEvaluator {
public:
    APMPLoopCommandEvaluator();
};

class APMPCommandRegistrar {
public:
    static const APMPCommandRegistrar& sharedInstance();

    // The opcode a function name is ("0" to "66" where an evaluator has it), else -1.
    int opcodeForName(std::u16string_view name) const;
    // The evaluator of an opcode, none for -1.
    const APMPCommandEvaluator* evaluatorForOpcode(int opcode) const {
        return opcode < 0 ? nullptr : evaluators_[static_cast<std::size_t>(opcode)];
    }
    // Runs a statement through the evaluator it was made with, or calls the function its name holds.
    static APMPRuntimeValue evaluateStatement(const APMPStatementValue& statement, APMPScope& scope,
                                              APMPRuntime& runtime, NSErrorPtr& error);

private:
    APMPCommandRegistrar();
    void registerEvaluator(const APMPCommandEvaluator& evaluator);

    std::array<const APMPCommandEvaluator*, APMPCommandEvaluator::kOpcodeCount> evaluators_{};
};

// Comparison rules the loops, the switch and the array methods share. Texts are compared unit
// by unit, each comparison charged by the units it compares; one that spends the budget fails
// with error 18.
// "20": same kind, numbers and booleans by value (NaN equal to nothing), strings by text,
// everything else by identity.
bool APMPStrictlyEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMPRuntime& runtime, NSErrorPtr& error);
// -1, 0 or 1: text order when both are strings, arrays, maps or functions, else number order
// (1 when either is NaN). Fails with a conversion's error.
int APMPCompareValues(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMPRuntime& runtime, NSErrorPtr& error);
// Text order by UTF-16 units.
int APMPCompareText(std::u16string_view a, std::u16string_view b, APMPRuntime& runtime, NSErrorPtr& error);
bool APMPEqualText(std::u16string_view a, std::u16string_view b, APMPRuntime& runtime, NSErrorPtr& error);
