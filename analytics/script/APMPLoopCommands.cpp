// Loops: over the keys or values of a collection in three binding forms, the condition loop and
// the counted loop whose iterations each get a copy of the loop variables. Every evaluation
// inside counts against the budget, so no loop runs for ever.
#include "analytics/script/APMPCommandEvaluator.h"

#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPArgumentCount.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPMapValue.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStringValue.h"

namespace {
namespace loops {

using Value = APMPRuntimeValue;
using Arguments = std::span<const Value>;

enum class Outcome { Next, Stop, Yield, Failed };

Outcome runBody(const Value& body, APMPScope& scope, APMPRuntime& runtime, Value& yielded, NSErrorPtr& error) {
    // Copied each time: running them may change the array.
    const auto* list = body.as<APMPArrayValue>();
    if (!runtime.chargeWork(std::uint64_t{list->count()} * APMPRuntime::kElementUnits, error)) return Outcome::Failed;
    const std::vector<Value> statements = list->allElements();
    Value result = runtime.executeStatementList(statements, scope, error);
    if (error) return Outcome::Failed;
    if (result.kind() == Value::Kind::Break) return Outcome::Stop;
    if (result.isReturn()) {
        yielded = std::move(result);
        return Outcome::Yield;
    }
    return Outcome::Next;
}

// Failed or yielded outcomes end the loop with what they carry; Stop and exhaustion with undefined.
Value finish(Outcome outcome, Value yielded) {
    return outcome == Outcome::Yield ? std::move(yielded) : Value::undefined();
}

bool condition(const Value& test, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    const Value result = runtime.evaluateStatement(test, scope, error);
    if (error) return false;
    const bool truth = result.booleanValueOrError(error);
    return !error && truth;
}

// A value for each text; what made the texts charged for the values too, before.
bool strings(std::vector<Value>& items, std::vector<std::u16string> texts, APMPRuntime& runtime, NSErrorPtr& error) {
    items.reserve(texts.size());
    for (std::u16string& text : texts) {
        if (!runtime.checkMemory(error)) return false;
        items.push_back(runtime.string(std::move(text)));
    }
    return true;
}

// `count` values to be made for as many items.
bool chargeValues(std::size_t count, APMPRuntime& runtime, NSErrorPtr& error) {
    return runtime.chargeWork(std::uint64_t{count} * APMPRuntime::kValueUnits, error);
}

// The items of a collection, taken once before the first iteration.
bool itemsOf(const Value& collection, bool keys, std::vector<Value>& items, APMPRuntime& runtime,
             NSErrorPtr& error) {
    switch (collection.kind()) {
        case Value::Kind::String: {
            const std::u16string& text = collection.text();
            if (!chargeValues(text.size(), runtime, error)) return false;
            std::vector<std::u16string> texts;
            texts.reserve(text.size());
            for (std::size_t i = 0; i < text.size(); ++i) {
                texts.push_back(keys ? APMPWiden(std::to_string(i)) : std::u16string(1, text[i]));
            }
            return strings(items, std::move(texts), runtime, error);
        }
        case Value::Kind::Array: {
            const auto* array = collection.as<APMPArrayValue>();
            if (!keys) {
                if (!runtime.chargeWork(std::uint64_t{array->count()} * APMPRuntime::kElementUnits, error)) return false;
                items = array->allElements();
                return true;
            }
            if (!chargeValues(array->properties().size() + array->count(), runtime, error)) return false;
            return strings(items, array->allPropertyNames(), runtime, error);
        }
        case Value::Kind::Map:
        case Value::Kind::Function: {
            if (!keys) break;
            std::vector<std::u16string> names = collection.isMap() ? collection.as<APMPMapValue>()->allPropertyNames()
                                                                   : collection.as<APMPFunctionValue>()->allPropertyNames();
            std::uint64_t units = 0;
            for (const auto& name : names) units += name.size();
            if (!runtime.chargeWork(units, error) || !chargeValues(names.size(), runtime, error)) return false;
            return strings(items, std::move(names), runtime, error);
        }
        default:
            if (keys) return true;
            break;
    }
    error = APMPError(APMPErrorNotIterable);
    return false;
}

enum class Binding { Current, ImmutableChild, MutableChild };

template <bool keys, Binding binding>
Value iterate(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 3, error)) return Value::undefined();
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return Value::undefined();
    const std::u16string name = values[0].stringValueOrError(runtime, error);
    if (error) return Value::undefined();
    std::vector<Value> items;
    if (!itemsOf(values[1], keys, items, runtime, error)) return Value::undefined();
    const Value& body = values[2];
    if (!body.isArray()) {
        error = APMPError(APMPErrorArgumentKind);
        return Value::undefined();
    }
    Value yielded;
    for (const Value& item : items) {
        // Binding the item; a child scope is a value made for it.
        const std::uint64_t units = binding == Binding::Current ? APMPRuntime::kElementUnits : APMPRuntime::kValueUnits;
        if (!runtime.chargeWork(units, error)) return Value::undefined();
        APMPRef<APMPScope> bodyScope(&scope);
        if constexpr (binding == Binding::Current) {
            scope.setValue(name, item);
        } else {
            bodyScope = scope.createChildScope();
            if constexpr (binding == Binding::ImmutableChild) bodyScope->addImmutableValue(name, item);
            else bodyScope->addValue(name, item);
        }
        const Outcome outcome = runBody(body, *bodyScope, runtime, yielded, error);
        if (outcome == Outcome::Failed) return Value::undefined();
        if (outcome != Outcome::Next) return finish(outcome, std::move(yielded));
    }
    return Value::undefined();
}

Value conditionLoop(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 4, error)) return Value::undefined();
    const Value runFirst = runtime.evaluateStatement(arguments[2], scope, error);
    if (error) return Value::undefined();
    const bool first = runFirst.booleanValueOrError(error);
    if (error) return Value::undefined();
    const Value body = runtime.evaluateStatement(arguments[3], scope, error);
    if (error) return Value::undefined();
    if (!body.isArray()) {
        error = APMPError(APMPErrorArgumentKind);
        return Value::undefined();
    }
    Value yielded;
    if (first) {
        const Outcome outcome = runBody(body, scope, runtime, yielded, error);
        if (outcome == Outcome::Failed) return Value::undefined();
        if (outcome != Outcome::Next) return finish(outcome, std::move(yielded));
    }
    for (;;) {
        const bool again = condition(arguments[0], scope, runtime, error);
        if (error) return Value::undefined();
        if (!again) return Value::undefined();
        const Outcome outcome = runBody(body, scope, runtime, yielded, error);
        if (outcome == Outcome::Failed) return Value::undefined();
        if (outcome != Outcome::Next) return finish(outcome, std::move(yielded));
        runtime.evaluateStatement(arguments[1], scope, error);
        if (error) return Value::undefined();
    }
}

// The visible values of the loop variables of `from`, declared afresh in `to`.
bool copyVariables(const std::vector<Value>& names, const APMPScope& from, APMPScope& to, APMPRuntime& runtime,
                   NSErrorPtr& error) {
    if (!runtime.chargeWork(std::uint64_t{names.size()} * APMPRuntime::kElementUnits, error)) return false;
    for (const Value& name : names) {
        const std::u16string variable = name.stringValueOrError(runtime, error);
        if (error) return false;
        to.addValue(variable, from.valueForName(variable));
    }
    return true;
}

Value countedLoop(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 4, error)) return Value::undefined();
    const Value names = runtime.evaluateStatement(arguments[0], scope, error);
    if (error) return Value::undefined();
    if (!names.isArray()) {
        error = APMPError(APMPErrorArgumentKind);
        return Value::undefined();
    }
    const Value body = runtime.evaluateStatement(arguments[3], scope, error);
    if (error) return Value::undefined();
    if (!body.isArray()) {
        error = APMPError(APMPErrorArgumentKind);
        return Value::undefined();
    }
    if (!runtime.chargeWork(std::uint64_t{names.as<APMPArrayValue>()->count()} * APMPRuntime::kElementUnits, error)) {
        return Value::undefined();
    }
    const std::vector<Value> variables = names.as<APMPArrayValue>()->allElements();
    APMPRef<APMPScope> iteration = scope.createChildScope();
    if (!copyVariables(variables, scope, *iteration, runtime, error)) return Value::undefined();
    Value yielded;
    for (;;) {
        const bool again = condition(arguments[1], *iteration, runtime, error);
        if (error) return Value::undefined();
        if (!again) return Value::undefined();
        const Outcome outcome = runBody(body, *iteration, runtime, yielded, error);
        if (outcome == Outcome::Failed) return Value::undefined();
        if (outcome != Outcome::Next) return finish(outcome, std::move(yielded));
        APMPRef<APMPScope> next = scope.createChildScope();
        if (!copyVariables(variables, *iteration, *next, runtime, error)) return Value::undefined();
        runtime.evaluateStatement(arguments[2], *next, error);
        if (error) return Value::undefined();
        iteration = std::move(next);
    }
}

}  // namespace loops
}  // namespace

APMPLoopCommandEvaluator::APMPLoopCommandEvaluator() {
    using namespace loops;
    add(47, iterate<true, Binding::Current>);
    add(54, iterate<true, Binding::ImmutableChild>);
    add(55, iterate<true, Binding::MutableChild>);
    add(64, iterate<false, Binding::Current>);
    add(65, iterate<false, Binding::ImmutableChild>);
    add(66, iterate<false, Binding::MutableChild>);
    add(42, conditionLoop);
    add(63, countedLoop);
}
