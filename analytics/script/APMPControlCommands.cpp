// Comparison (equality and ordering) and control (method calls, blocks, statement lists, break,
// continue, return, if, switch, the conditional expression, sequences, functions).
#include "analytics/script/APMPCommandEvaluator.h"

#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPControlValue.h"
#include "analytics/script/APMPArgumentCount.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStringValue.h"
#include "analytics/script/APMPTextBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
namespace control {

using Value = APMPRuntimeValue;
using Arguments = std::span<const Value>;

// The units the two have alike from the start: equal blocks are passed at the speed of memory,
// then the first unequal one unit by unit.
std::size_t commonPrefix(std::u16string_view a, std::u16string_view b) {
    constexpr std::size_t kBlock = 256;
    const std::size_t common = std::min(a.size(), b.size());
    std::size_t same = 0;
    while (same + kBlock <= common && std::memcmp(a.data() + same, b.data() + same, kBlock * sizeof(char16_t)) == 0) {
        same += kBlock;
    }
    const std::size_t end = std::min(common, same + kBlock);
    while (same < end && a[same] == b[same]) ++same;
    return same;
}

// Categories of loose equality: undefined and null, numbers and booleans, strings, the rest.
int category(const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Undefined: case Value::Kind::Null: case Value::Kind::Hole: return 0;
        case Value::Kind::Number: case Value::Kind::Boolean: return 1;
        case Value::Kind::String: return 2;
        default: return 3;
    }
}

bool looselyEqual(const Value& first, const Value& second, APMPRuntime& runtime, NSErrorPtr& error) {
    const bool ordered = category(first) <= category(second);
    const Value& x = ordered ? first : second;
    const Value& y = ordered ? second : first;
    switch (category(x)) {
        case 2: {
            if (y.isString()) return APMPStrictlyEqual(x, y, runtime, error);
            APMPValueText b(runtime);
            if (!b.read(y, error)) return false;
            return APMPEqualText(x.text(), b.view(), runtime, error);
        }
        case 1: {
            const double a = x.doubleValueOrError(runtime, error);
            if (error) return false;
            const double b = y.doubleValueOrError(runtime, error);
            if (error) return false;
            return a == b;
        }
        case 3:
            return x.object() == y.object();
        default:
            return category(y) == 0;
    }
}

Value compareWith(int opcode, const Value& a, const Value& b, APMPRuntime& runtime, NSErrorPtr& error) {
    bool result = false;
    switch (opcode) {
        case 12: result = looselyEqual(a, b, runtime, error); break;
        case 29: result = !looselyEqual(a, b, runtime, error); break;
        case 20: result = APMPStrictlyEqual(a, b, runtime, error); break;
        case 21: result = !APMPStrictlyEqual(a, b, runtime, error); break;
        case 23: result = APMPCompareValues(a, b, runtime, error) == -1; break;
        case 24: result = APMPCompareValues(a, b, runtime, error) <= 0; break;
        case 18: result = APMPCompareValues(b, a, runtime, error) == -1; break;
        case 19: result = APMPCompareValues(b, a, runtime, error) <= 0; break;
        default: return Value::undefined();
    }
    if (error) return Value::undefined();
    return Value::boolean(result);
}

// The marker routine of the comparison opcodes; their work is done by the evaluator.
Value comparison(Arguments, APMPScope&, APMPRuntime&, NSErrorPtr&) { return Value::undefined(); }

// MARK: Control

// The elements of an array, copied: as statements to run, or as arguments, which running them
// may change.
bool copyElements(const Value& array, std::vector<Value>& out, APMPRuntime& runtime, NSErrorPtr& error) {
    const auto* elements = array.as<APMPArrayValue>();
    if (!runtime.chargeWork(std::uint64_t{elements->count()} * APMPRuntime::kElementUnits, error)) return false;
    out = elements->allElements();
    return true;
}

// An array's elements run as a statement list in `scope`.
Value runList(const Value& list, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    std::vector<Value> statements;
    if (!copyElements(list, statements, runtime, error)) return Value::undefined();
    return runtime.executeStatementList(statements, scope, error);
}

Value methodCall(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountBetween(arguments, 3, 3, error)) return Value::undefined();
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return Value::undefined();
    if (!values[1].isString() || !values[2].isArray()) {
        error = APMPError(APMPErrorArgumentKind);
        return Value::undefined();
    }
    // The name is looked up among the receiver's properties.
    runtime.chargeName(values[1].text().size());
    std::vector<Value> methodArguments;
    if (!copyElements(values[2], methodArguments, runtime, error)) return Value::undefined();
    return values[0].applyWithName(values[1].text(), methodArguments, scope, runtime, error);
}

Value block(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    APMPRef<APMPScope> child = scope.createChildScope();
    return runtime.executeStatementList(arguments, *child, error);
}

Value breakStatement(Arguments arguments, APMPScope&, APMPRuntime&, NSErrorPtr& error) {
    if (!APMPArgumentCountBetween(arguments, 0, 0, error)) return Value::undefined();
    return Value::breakValue();
}

Value continueStatement(Arguments arguments, APMPScope&, APMPRuntime&, NSErrorPtr& error) {
    if (!APMPArgumentCountBetween(arguments, 0, 0, error)) return Value::undefined();
    return Value::continueValue();
}

Value runStatements(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountBetween(arguments, 1, 1, error)) return Value::undefined();
    const Value list = runtime.evaluateStatement(arguments[0], scope, error);
    if (error) return Value::undefined();
    if (!list.isArray()) {
        error = APMPError(APMPErrorArgumentKind);
        return Value::undefined();
    }
    return runList(list, scope, runtime, error);
}

Value statementList(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    if (arguments.size() > APMPArrayValue::kMaxLength) {
        error = APMPError(APMPErrorInvalidArrayLength);
        return Value::undefined();
    }
    if (!runtime.chargeWork(std::uint64_t{arguments.size()} * APMPRuntime::kElementUnits, error)) return Value::undefined();
    return Value(runtime.heap().make<APMPArrayValue>(std::vector<Value>(arguments.begin(), arguments.end())));
}

Value sequence(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (arguments.empty()) {
        error = APMPError(APMPErrorArgumentCount);
        return Value::undefined();
    }
    Value last;
    for (const Value& argument : arguments) {
        last = runtime.evaluateStatement(argument, scope, error);
        if (error) return Value::undefined();
        if (last.isControl()) {
            error = APMPError(APMPErrorArgumentKind);
            return Value::undefined();
        }
    }
    return last;
}

Value ifElse(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountBetween(arguments, 1, 3, error)) return Value::undefined();
    const Value condition = runtime.evaluateStatement(arguments[0], scope, error);
    if (error) return Value::undefined();
    const bool truth = condition.booleanValueOrError(error);
    if (error) return Value::undefined();
    const std::size_t chosen = truth ? 1 : 2;
    if (chosen >= arguments.size()) return Value::undefined();
    const Value result = runtime.evaluateStatement(arguments[chosen], scope, error);
    if (error) return Value::undefined();
    if (result.isArray()) return runList(result, scope, runtime, error);
    return result;
}

Value conditional(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountBetween(arguments, 3, 3, error)) return Value::undefined();
    const Value condition = runtime.evaluateStatement(arguments[0], scope, error);
    if (error) return Value::undefined();
    const bool truth = condition.booleanValueOrError(error);
    if (error) return Value::undefined();
    Value result = runtime.evaluateStatement(arguments[truth ? 1 : 2], scope, error);
    if (error) return Value::undefined();
    return result;
}

Value returnStatement(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountBetween(arguments, 0, 1, error)) return Value::undefined();
    Value data;
    if (!arguments.empty()) {
        data = runtime.evaluateStatement(arguments[0], scope, error);
        if (error) return Value::undefined();
    }
    return Value(runtime.heap().make<APMPControlValue>(std::move(data)));
}

Value switchStatement(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountBetween(arguments, 3, 3, error)) return Value::undefined();
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return Value::undefined();
    if (!values[1].isArray() || !values[2].isArray()) {
        error = APMPError(APMPErrorArgumentCount);
        return Value::undefined();
    }
    std::vector<Value> cases, bodies;
    if (!copyElements(values[1], cases, runtime, error) || !copyElements(values[2], bodies, runtime, error)) {
        return Value::undefined();
    }
    // 1 go on, 0 a break ended it, -1 a control value to yield, -2 an error.
    Value yielded;
    auto runBody = [&](const Value& body) {
        Value result = runtime.evaluateStatement(body, scope, error);
        if (error) return -2;
        if (result.kind() == Value::Kind::Break) return 0;
        if (result.isControl()) {
            yielded = std::move(result);
            return -1;
        }
        return 1;
    };
    bool matched = false;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (!matched) {
            const Value candidate = runtime.evaluateStatement(cases[i], scope, error);
            if (error) return Value::undefined();
            matched = APMPStrictlyEqual(candidate, values[0], runtime, error);
            if (error) return Value::undefined();
        }
        if (!matched || i >= bodies.size()) continue;
        switch (runBody(bodies[i])) {
            case -2: return Value::undefined();
            case -1: return yielded;
            case 0: return Value::undefined();
            default: break;
        }
    }
    if (bodies.size() == cases.size() + 1) {
        switch (runBody(bodies.back())) {
            case -2: return Value::undefined();
            case -1: return yielded;
            default: break;
        }
    }
    return Value::undefined();
}

Value makeFunction(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (arguments.size() < 2) {
        error = APMPError(APMPErrorArgumentCount);
        return Value::undefined();
    }
    std::u16string name = arguments[0].stringValueOrError(runtime, error);
    if (error) return Value::undefined();
    const Value parameters = runtime.evaluateStatement(arguments[1], scope, error);
    if (error) return Value::undefined();
    if (!parameters.isArray()) {
        error = APMPError(APMPErrorArgumentKind);
        return Value::undefined();
    }
    std::vector<Value> parameterValues;
    if (!copyElements(parameters, parameterValues, runtime, error) ||
        !runtime.chargeWork(std::uint64_t{arguments.size()} * APMPRuntime::kElementUnits, error)) {
        return Value::undefined();
    }
    std::vector<std::u16string> names;
    for (const Value& parameter : parameterValues) {
        names.push_back(parameter.stringValueOrError(runtime, error));
        if (error) return Value::undefined();
    }
    std::vector<Value> body(arguments.begin() + 2, arguments.end());
    return Value(runtime.heap().make<APMPFunctionValue>(std::move(name), std::move(names), std::move(body),
                                                        APMPRef<APMPScope>(&scope)));
}

Value declareFunction(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    Value function = makeFunction(arguments, scope, runtime, error);
    if (error) return Value::undefined();
    scope.setValue(function.as<APMPFunctionValue>()->functionName(), function);
    return function;
}

}  // namespace control
}  // namespace

bool APMPStrictlyEqual(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMPRuntime& runtime, NSErrorPtr& error) {
    using namespace control;
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case APMPRuntimeValue::Kind::Number: return a.number() == b.number();
        case APMPRuntimeValue::Kind::Boolean: return a.booleanFlag() == b.booleanFlag();
        // One string is equal to itself without a look at its text.
        case APMPRuntimeValue::Kind::String: return a.object() == b.object() || APMPEqualText(a.text(), b.text(), runtime, error);
        default: return a.isSameValue(b);
    }
}

bool APMPEqualText(std::u16string_view a, std::u16string_view b, APMPRuntime& runtime, NSErrorPtr& error) {
    using namespace control;
    // Texts of two lengths differ without a unit compared.
    if (a.size() != b.size()) return false;
    const std::size_t same = commonPrefix(a, b);
    // The units compared: those alike, and the one that differs.
    if (!runtime.chargeWork(std::min(a.size(), same + 1), error)) return false;
    return same == a.size();
}

int APMPCompareText(std::u16string_view a, std::u16string_view b, APMPRuntime& runtime, NSErrorPtr& error) {
    using namespace control;
    const std::size_t common = std::min(a.size(), b.size());
    const std::size_t same = commonPrefix(a, b);
    if (!runtime.chargeWork(std::min(common, same + 1), error)) return 0;
    if (same < common) return a[same] < b[same] ? -1 : 1;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

int APMPCompareValues(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMPRuntime& runtime, NSErrorPtr& error) {
    using namespace control;
    if (a.isString() && b.isString()) {
        if (a.object() == b.object()) return 0;
        return APMPCompareText(a.text(), b.text(), runtime, error);
    }
    if (a.isStringLike() && b.isStringLike()) {
        APMPValueText left(runtime), right(runtime);
        if (!left.read(a, error) || !right.read(b, error)) return 0;
        return APMPCompareText(left.view(), right.view(), runtime, error);
    }
    const double left = a.doubleValueOrError(runtime, error);
    if (error) return 0;
    const double right = b.doubleValueOrError(runtime, error);
    if (error) return 0;
    if (left == right) return 0;
    return left < right ? -1 : 1;
}

APMPComparisonCommandEvaluator::APMPComparisonCommandEvaluator() {
    using namespace control;
    for (int opcode : {12, 29, 20, 21, 23, 24, 18, 19}) add(opcode, comparison);
}

APMPRuntimeValue APMPComparisonCommandEvaluator::evaluateCommand(int opcode, std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                                                 APMPRuntime& runtime, NSErrorPtr& error) const {
    using namespace control;
    if (!APMPArgumentCountBetween(arguments, 2, 2, error)) return APMPRuntimeValue::undefined();
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return APMPRuntimeValue::undefined();
    return compareWith(opcode, values[0], values[1], runtime, error);
}

APMPControlCommandEvaluator::APMPControlCommandEvaluator() {
    using namespace control;
    add(2, methodCall);
    add(53, block);
    add(4, breakStatement);
    add(6, continueStatement);
    add(5, runStatements);
    add(9, runStatements);
    add(46, statementList);
    add(13, sequence);
    add(22, ifElse);
    add(39, conditional);
    add(36, returnStatement);
    add(38, switchStatement);
    add(51, makeFunction);
    add(50, declareFunction);
}
