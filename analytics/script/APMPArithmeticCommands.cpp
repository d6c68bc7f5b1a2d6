// The operators: arithmetic and concatenation, short-circuit logic, and 32-bit bitwise work.
#include "analytics/script/APMPCommandEvaluator.h"

#include "analytics/script/APMPArgumentCount.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStringValue.h"
#include "analytics/script/APMPTextBuilder.h"

#include <cmath>

namespace {
namespace arithmetic {

using Value = APMPRuntimeValue;
using Arguments = std::span<const Value>;

// Both operands as numbers, the first completely before the second.
bool numbers(Arguments arguments, APMPRuntime& runtime, double& a, double& b, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 2, error)) return false;
    a = arguments[0].doubleValueOrError(runtime, error);
    if (error) return false;
    b = arguments[1].doubleValueOrError(runtime, error);
    return !error;
}

template <class Operation>
Value binary(Arguments arguments, APMPRuntime& runtime, NSErrorPtr& error, Operation operation) {
    double a = 0, b = 0;
    if (!numbers(arguments, runtime, a, b, error)) return Value::undefined();
    return Value::number(operation(a, b));
}

Value addOrConcatenate(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 2, error)) return Value::undefined();
    if (!arguments[0].isStringLike() && !arguments[1].isStringLike()) {
        return binary(arguments, runtime, error, [](double a, double b) { return a + b; });
    }
    // The operands' texts, the first completely before the second, built once: two strings'
    // in room taken for both at once.
    APMPTextBuilder text(runtime);
    if (arguments[0].isString() && arguments[1].isString() &&
        !text.reserve(arguments[0].text().size() + arguments[1].text().size(), error)) {
        return Value::undefined();
    }
    if (!arguments[0].appendText(text, error) || !arguments[1].appendText(text, error)) return Value::undefined();
    return text.make();
}

Value subtract(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return binary(arguments, runtime, error, [](double a, double b) { return a - b; });
}

Value multiply(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return binary(arguments, runtime, error, [](double a, double b) { return a * b; });
}

Value divide(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return binary(arguments, runtime, error, [](double a, double b) { return a / b; });
}

Value remainder(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return binary(arguments, runtime, error, [](double a, double b) { return std::fmod(a, b); });
}

Value negate(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 1, error)) return Value::undefined();
    const double a = arguments[0].doubleValueOrError(runtime, error);
    if (error) return Value::undefined();
    return Value::number(-a);
}

Value firstOfTwo(Arguments arguments, APMPScope&, APMPRuntime&, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 2, error)) return Value::undefined();
    return arguments[0];
}

Value identity(Arguments arguments, APMPScope&, APMPRuntime&, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 1, error)) return Value::undefined();
    return arguments[0];
}

// "1" and "30": the second operand is evaluated only when the first does not decide.
template <bool whenTrue>
Value shortCircuit(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 2, error)) return Value::undefined();
    Value first = runtime.evaluateStatement(arguments[0], scope, error);
    if (error) return Value::undefined();
    const bool truth = first.booleanValueOrError(error);
    if (error) return Value::undefined();
    if (truth == whenTrue) return first;
    Value second = runtime.evaluateStatement(arguments[1], scope, error);
    if (error) return Value::undefined();
    return second;
}

Value logicalNot(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 1, error)) return Value::undefined();
    const Value operand = runtime.evaluateStatement(arguments[0], scope, error);
    if (error) return Value::undefined();
    const bool truth = operand.booleanValueOrError(error);
    if (error) return Value::undefined();
    return Value::boolean(!truth);
}

bool pattern(const Value& value, APMPRuntime& runtime, std::uint32_t& bits, NSErrorPtr& error) {
    const double number = value.doubleValueOrError(runtime, error);
    if (error) return false;
    bits = APMPToUint32(number);
    return true;
}

Value signedResult(std::uint32_t bits) { return Value::number(static_cast<double>(static_cast<std::int32_t>(bits))); }

template <class Operation>
Value bitwise(Arguments arguments, APMPRuntime& runtime, NSErrorPtr& error, Operation operation) {
    std::uint32_t a = 0, b = 0;
    if (!APMPArgumentCountIs(arguments, 2, error) || !pattern(arguments[0], runtime, a, error) ||
        !pattern(arguments[1], runtime, b, error)) {
        return Value::undefined();
    }
    return operation(a, b);
}

Value bitAnd(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return bitwise(arguments, runtime, error, [](std::uint32_t a, std::uint32_t b) { return signedResult(a & b); });
}

Value bitOr(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return bitwise(arguments, runtime, error, [](std::uint32_t a, std::uint32_t b) { return signedResult(a | b); });
}

Value bitXor(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return bitwise(arguments, runtime, error, [](std::uint32_t a, std::uint32_t b) { return signedResult(a ^ b); });
}

Value shiftLeft(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return bitwise(arguments, runtime, error,
                   [](std::uint32_t a, std::uint32_t b) { return signedResult(a << (b % 32)); });
}

Value shiftRight(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return bitwise(arguments, runtime, error, [](std::uint32_t a, std::uint32_t b) {
        return Value::number(static_cast<double>(static_cast<std::int32_t>(a) >> (b % 32)));
    });
}

Value unsignedShiftRight(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    return bitwise(arguments, runtime, error,
                   [](std::uint32_t a, std::uint32_t b) { return Value::number(static_cast<double>(a >> (b % 32))); });
}

Value bitNot(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    std::uint32_t a = 0;
    if (!APMPArgumentCountIs(arguments, 1, error) || !pattern(arguments[0], runtime, a, error)) return Value::undefined();
    return signedResult(~a);
}

}  // namespace arithmetic
}  // namespace

APMPMathCommandEvaluator::APMPMathCommandEvaluator() {
    using namespace arithmetic;
    add(0, addOrConcatenate);
    add(37, subtract);
    add(26, multiply);
    add(10, divide);
    add(25, remainder);
    add(27, negate);
    add(32, firstOfTwo);
    add(33, firstOfTwo);
    add(34, identity);
    add(35, identity);
}

APMPLogicalCommandEvaluator::APMPLogicalCommandEvaluator() {
    using namespace arithmetic;
    add(1, shortCircuit<false>);
    add(30, shortCircuit<true>);
    add(28, logicalNot);
}

APMPBitwiseCommandEvaluator::APMPBitwiseCommandEvaluator() {
    using namespace arithmetic;
    add(56, bitAnd);
    add(57, shiftLeft);
    add(58, bitNot);
    add(59, bitOr);
    add(60, shiftRight);
    add(61, unsignedShiftRight);
    add(62, bitXor);
}
