// Maps, functions and statements: their properties, calls and method dispatch.
#include "analytics/script/APMPCommandEvaluator.h"
#include "analytics/script/APMPControlValue.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPHeap.h"
#include "analytics/script/APMPMapValue.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStatementValue.h"

#include <algorithm>

namespace {
namespace objects {

using Value = APMPRuntimeValue;

// "hasOwnProperty" of maps and functions, then the base "toString"; `text` is what it prints.
Value ownPropertyOrToString(const std::u16string& name, const APMPPropertyMap& properties, std::u16string_view text,
                            std::span<const Value> arguments, APMPScope& scope, APMPRuntime& runtime,
                            NSErrorPtr& error) {
    if (name == u"hasOwnProperty") {
        const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
        if (error) return Value::undefined();
        if (values.size() != 1) {
            error = APMPError(APMPErrorArgumentCount);
            return Value::undefined();
        }
        const std::u16string property = values[0].stringValueOrError(runtime, error);
        if (error) return Value::undefined();
        return Value::boolean(properties.hasName(property));
    }
    if (name == u"toString") return runtime.string(std::u16string(text), error);
    error = APMPError(APMPErrorUnknownMethod);
    return Value::undefined();
}

// An own property called as a method: it must be a function.
Value callProperty(const Value& property, std::span<const Value> arguments, APMPScope& scope, APMPRuntime& runtime,
                   NSErrorPtr& error) {
    if (!property.isFunction()) {
        error = APMPError(APMPErrorUnknownMethod);
        return Value::undefined();
    }
    return property.as<APMPFunctionValue>()->invokeWithArguments(arguments, scope, runtime, error);
}

}  // namespace objects
}  // namespace

// MARK: Maps

APMPMapValue::APMPMapValue(APMPHeap& heap) : APMPObject(Type::Map, heap) {
    account(static_cast<std::ptrdiff_t>(sizeof(*this) - sizeof(APMPObject)));
}

void APMPMapValue::setValueForProperty(APMPRuntimeValue value, std::u16string_view name) {
    const std::size_t before = properties_.bytes();
    properties_.setValue(name, std::move(value));
    account(static_cast<std::ptrdiff_t>(properties_.bytes()) - static_cast<std::ptrdiff_t>(before));
}

void APMPMapValue::removeValueForProperty(std::u16string_view name) {
    const std::size_t before = properties_.bytes();
    properties_.removeValueForName(name);
    account(static_cast<std::ptrdiff_t>(properties_.bytes()) - static_cast<std::ptrdiff_t>(before));
}

APMPRuntimeValue APMPMapValue::applyWithName(const std::u16string& name, std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                  APMPRuntime& runtime, NSErrorPtr& error) {
    using namespace objects;
    if (const APMPRuntimeValue* property = properties_.find(name)) {
        const APMPRuntimeValue method = *property;
        return callProperty(method, arguments, scope, runtime, error);
    }
    return ownPropertyOrToString(name, properties_, u"[object Object]", arguments, scope, runtime, error);
}

void APMPMapValue::clearReferences() { properties_.clear(); }

// MARK: Functions

APMPFunctionValue::APMPFunctionValue(APMPHeap& heap, std::u16string functionName,
                                     std::vector<std::u16string> parameterNames, std::vector<APMPRuntimeValue> statements,
                                     APMPRef<APMPScope> definingScope)
    : APMPObject(Type::Function, heap),
      functionName_(std::move(functionName)),
      parameterNames_(std::move(parameterNames)),
      statements_(std::move(statements)),
      definingScope_(std::move(definingScope)) {
    std::size_t bytes = sizeof(*this) - sizeof(APMPObject) + APMPHeap::textBytes(functionName_) +
                        APMPHeap::bufferBytes(statements_) + APMPHeap::bufferBytes(parameterNames_);
    for (const auto& parameter : parameterNames_) bytes += APMPHeap::textBytes(parameter);
    account(static_cast<std::ptrdiff_t>(bytes));
}

APMPFunctionValue::APMPFunctionValue(APMPHeap& heap, std::u16string functionName)
    : APMPFunctionValue(heap, std::move(functionName), {}, {}, heap.make<APMPScope>(APMPRef<APMPScope>())) {}

APMPRuntimeValue APMPFunctionValue::invokeWithArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope, APMPRuntime& runtime,
                                             NSErrorPtr& error) {
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return APMPRuntimeValue::undefined();
    return invokeWithEvaluatedArguments(values, runtime, error);
}

APMPRuntimeValue APMPFunctionValue::invokeWithEvaluatedArguments(std::span<const APMPRuntimeValue> arguments, APMPRuntime& runtime,
                                                      NSErrorPtr& error) {
    const APMPRef<APMPFunctionValue> keep(this);
    if (!definingScope_) return APMPRuntimeValue::undefined();
    APMPRef<APMPScope> callScope = definingScope_->createChildScope();
    for (std::size_t i = 0; i < parameterNames_.size(); ++i) {
        callScope->addValue(parameterNames_[i], i < arguments.size() ? arguments[i] : APMPRuntimeValue::undefined());
    }
    APMPRuntimeValue result = runtime.executeStatementList(statements_, *callScope, error);
    if (error) return APMPRuntimeValue::undefined();
    if (result.isReturn()) return result.as<APMPControlValue>()->data();
    return result;
}

void APMPFunctionValue::setValueForProperty(APMPRuntimeValue value, std::u16string_view name) {
    const std::size_t before = properties_.bytes();
    properties_.setValue(name, std::move(value));
    account(static_cast<std::ptrdiff_t>(properties_.bytes()) - static_cast<std::ptrdiff_t>(before));
}

void APMPFunctionValue::removeValueForProperty(std::u16string_view name) {
    const std::size_t before = properties_.bytes();
    properties_.removeValueForName(name);
    account(static_cast<std::ptrdiff_t>(properties_.bytes()) - static_cast<std::ptrdiff_t>(before));
}

APMPRuntimeValue APMPFunctionValue::applyWithName(const std::u16string& name, std::span<const APMPRuntimeValue> arguments,
                                       APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) {
    using namespace objects;
    if (const APMPRuntimeValue* property = properties_.find(name)) {
        const APMPRuntimeValue method = *property;
        return callProperty(method, arguments, scope, runtime, error);
    }
    return ownPropertyOrToString(name, properties_, functionName_, arguments, scope, runtime, error);
}

void APMPFunctionValue::trace(APMPTracer& tracer) const {
    for (const APMPRuntimeValue& statement : statements_) {
        if (APMPObject* object = statement.object()) tracer.visit(object);
    }
    if (definingScope_) tracer.visit(definingScope_.get());
    properties_.trace(tracer);
}

void APMPFunctionValue::clearReferences() {
    std::vector<APMPRuntimeValue> statements = std::move(statements_);
    statements_.clear();
    definingScope_ = APMPRef<APMPScope>();
    properties_.clear();
}

// MARK: Statements

APMPStatementValue::APMPStatementValue(APMPHeap& heap, std::u16string functionName, std::vector<APMPRuntimeValue> arguments)
    : APMPObject(Type::Statement, heap), arguments_(std::move(arguments)), functionName_(std::move(functionName)) {
    const APMPCommandRegistrar& registrar = APMPCommandRegistrar::sharedInstance();
    opcode_ = registrar.opcodeForName(functionName_);
    evaluator_ = registrar.evaluatorForOpcode(opcode_);
    routineAfterArguments_ = evaluator_ ? evaluator_->routineAfterArguments(opcode_) : nullptr;
    literalArgumentsOnly_ = std::none_of(arguments_.begin(), arguments_.end(),
                                         [](const APMPRuntimeValue& argument) { return argument.isStatement(); });
    account(static_cast<std::ptrdiff_t>(sizeof(*this) - sizeof(APMPObject) + APMPHeap::textBytes(functionName_) +
                                        APMPHeap::bufferBytes(arguments_)));
}

void APMPStatementValue::trace(APMPTracer& tracer) const {
    for (const APMPRuntimeValue& argument : arguments_) {
        if (APMPObject* object = argument.object()) tracer.visit(object);
    }
}

void APMPStatementValue::clearReferences() {
    std::vector<APMPRuntimeValue> arguments = std::move(arguments_);
    arguments_.clear();
}
