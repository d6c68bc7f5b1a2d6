// Names and properties: declarations, assignment, reads, property get and set, array and map
// literals, typeof, undefined and null. All arguments are evaluated first.
#include "analytics/script/APMPCommandEvaluator.h"

#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPArgumentCount.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPMapValue.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStringValue.h"
#include "analytics/script/APMPTextBuilder.h"

#include <cmath>

namespace {
namespace variables {

using Value = APMPRuntimeValue;
using Arguments = std::span<const Value>;

bool even(Arguments arguments, NSErrorPtr& error) {
    if (arguments.size() % 2 == 0) return true;
    error = APMPError(APMPErrorArgumentCount);
    return false;
}

// A name argument must be a string value.
const APMPStringValue* nameValue(const Value& value, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!value.isString()) {
        error = APMPError(APMPErrorArgumentKind);
        return nullptr;
    }
    runtime.chargeName(value.text().size());
    return value.as<APMPStringValue>();
}

const std::u16string* name(const Value& value, APMPRuntime& runtime, NSErrorPtr& error) {
    const APMPStringValue* string = nameValue(value, runtime, error);
    return string ? &string->text() : nullptr;
}

// A key's string conversion names a property: read where it stands when it is a string, and
// charged by the units a lookup hashes and compares.
bool propertyName(const Value& key, APMPRuntime& runtime, APMPValueText& out, NSErrorPtr& error) {
    if (!out.read(key, error)) return false;
    runtime.chargeName(out.view().size());
    return true;
}

Value declare(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    for (const Value& argument : arguments) {
        const std::u16string* declared = name(argument, runtime, error);
        if (!declared) return Value::undefined();
        scope.addValue(*declared, Value::undefined());
    }
    return Value::undefined();
}

Value declareConstants(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!even(arguments, error)) return Value::undefined();
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        const std::u16string* declared = name(arguments[i], runtime, error);
        if (!declared) return Value::undefined();
        scope.addImmutableValue(*declared, arguments[i + 1]);
    }
    return Value::undefined();
}

Value assign(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 2, error)) return Value::undefined();
    const APMPStringValue* assigned = nameValue(arguments[0], runtime, error);
    if (!assigned) return Value::undefined();
    if (!scope.assignValue(assigned->text(), arguments[1], assigned->nameHint())) {
        error = APMPError(APMPErrorUndeclaredAssignment);
        return Value::undefined();
    }
    return arguments[1];
}

Value readVariable(Arguments arguments, APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 1, error)) return Value::undefined();
    const APMPStringValue* variable = nameValue(arguments[0], runtime, error);
    if (!variable) return Value::undefined();
    return scope.valueForName(variable->text(), variable->nameHint());
}

Value getProperty(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 2, error)) return Value::undefined();
    const Value& object = arguments[0];
    const Value& key = arguments[1];
    switch (object.kind()) {
        case Value::Kind::Array:
            return object.as<APMPArrayValue>()->valueForProperty(key, runtime, error);
        case Value::Kind::Map:
        case Value::Kind::Function: {
            APMPValueText property(runtime);
            if (!propertyName(key, runtime, property, error)) return Value::undefined();
            return object.isMap() ? object.as<APMPMapValue>()->valueForProperty(property.view())
                                  : object.as<APMPFunctionValue>()->valueForProperty(property.view());
        }
        case Value::Kind::String: {
            const std::u16string& text = object.text();
            if (key.isString() && key.text() == u"length") return Value::number(static_cast<double>(text.size()));
            if (!key.isNumber() && !key.isString()) return Value::undefined();
            const double index = key.doubleValueOrError(runtime, error);
            if (error) return Value::undefined();
            if (!std::isfinite(index) || index < 0 || index != std::trunc(index) ||
                index >= static_cast<double>(text.size())) {
                return Value::undefined();
            }
            return runtime.string(std::u16string(1, text[static_cast<std::size_t>(index)]));
        }
        default:
            return Value::undefined();
    }
}

Value setProperty(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 3, error)) return Value::undefined();
    const Value& object = arguments[0];
    const Value& key = arguments[1];
    const Value& value = arguments[2];
    switch (object.kind()) {
        case Value::Kind::Undefined:
        case Value::Kind::Null:
        case Value::Kind::Hole:
            error = APMPError(APMPErrorPropertyOfNothing);
            return Value::undefined();
        case Value::Kind::Array:
            object.as<APMPArrayValue>()->setValueForProperty(value, key, runtime, error);
            if (error) return Value::undefined();
            return value;
        case Value::Kind::Map:
        case Value::Kind::Function: {
            APMPValueText property(runtime);
            if (!propertyName(key, runtime, property, error)) return Value::undefined();
            if (object.isMap()) object.as<APMPMapValue>()->setValueForProperty(value, property.view());
            else object.as<APMPFunctionValue>()->setValueForProperty(value, property.view());
            return value;
        }
        default:
            return value;
    }
}

Value arrayLiteral(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    if (arguments.size() > APMPArrayValue::kMaxLength) {
        error = APMPError(APMPErrorInvalidArrayLength);
        return Value::undefined();
    }
    runtime.chargeWork(std::uint64_t{arguments.size()} * APMPRuntime::kElementUnits);
    return Value(runtime.heap().make<APMPArrayValue>(std::vector<Value>(arguments.begin(), arguments.end())));
}

Value mapLiteral(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!even(arguments, error)) return Value::undefined();
    auto map = runtime.heap().make<APMPMapValue>();
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        APMPValueText property(runtime);
        if (!propertyName(arguments[i], runtime, property, error)) return Value::undefined();
        map->setValueForProperty(arguments[i + 1], property.view());
    }
    return Value(map);
}

Value typeOf(Arguments arguments, APMPScope&, APMPRuntime& runtime, NSErrorPtr& error) {
    if (!APMPArgumentCountIs(arguments, 1, error)) return Value::undefined();
    return runtime.string(std::u16string(arguments[0].typeOf()));
}

Value undefinedValue(Arguments, APMPScope&, APMPRuntime&, NSErrorPtr&) { return Value::undefined(); }

Value nullValue(Arguments, APMPScope&, APMPRuntime&, NSErrorPtr&) { return Value::null(); }

}  // namespace variables
}  // namespace

APMPVariableCommandEvaluator::APMPVariableCommandEvaluator() {
    using namespace variables;
    add(41, declare);
    add(52, declareConstants);
    add(3, assign);
    add(15, readVariable);
    add(16, getProperty);
    add(17, getProperty);
    add(43, setProperty);
    add(7, arrayLiteral);
    add(8, mapLiteral);
    add(40, typeOf);
    add(44, undefinedValue);
    add(45, nullValue);
}
