// Loading programs, registering rules, and handling events through their callbacks; the event
// object callbacks receive, the event logger and the registering function.
#include "analytics/script/APMPEventEditing.h"

#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBOgtActivities.h"
#include "analytics/proto/APMPBOgtActivity.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/proto/APMPBRuntimeEntity.h"
#include "analytics/script/APMPArgumentCount.h"
#include "analytics/script/APMPArrayCommandEvaluator.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPMapValue.h"
#include "analytics/script/APMPRuntimeEntityConverter.h"
#include "analytics/script/APMPStringCommandEvaluator.h"
#include "analytics/script/APMPTextBuilder.h"

namespace {
namespace editing {

using RuntimeValue = APMPRuntimeValue;
using Arguments = std::span<const RuntimeValue>;

// What an exception that escapes a run (memory exhausted after all, a container past its size)
// ends the run with: it has spent a bound, and nothing is thrown past the runtime.
NSErrorPtr thrownError() { return APMPError(APMPErrorBudgetSpent); }

std::vector<std::shared_ptr<APMPBRuntimeEntity>> entities(const std::optional<Value::Array>& items) {
    std::vector<std::shared_ptr<APMPBRuntimeEntity>> out;
    if (!items) return out;
    for (const Value& item : *items) out.push_back(item.objectAs<APMPBRuntimeEntity>());
    return out;
}

// The event a callback receives: the context's output event behind six methods, over the
// methods of any map.
class APMPEventNativeFunctions final : public APMPMapValue {
public:
    APMPEventNativeFunctions(APMPHeap& heap, std::shared_ptr<APMPEventContext> context)
        : APMPMapValue(heap), eventContext_(std::move(context)) {}

    RuntimeValue applyWithName(const std::u16string& name, Arguments arguments, APMPScope& scope,
                               APMPRuntime& runtime, NSErrorPtr& error) override {
        using Method = RuntimeValue (APMPEventNativeFunctions::*)(std::span<const RuntimeValue>, APMPRuntime&,
                                                                  NSErrorPtr&);
        static const std::map<std::u16string, std::pair<std::size_t, Method>> handlers = {
            {u"getEventName", {0, &APMPEventNativeFunctions::getEventName}},
            {u"getParamValue", {1, &APMPEventNativeFunctions::getParamValue}},
            {u"getParams", {0, &APMPEventNativeFunctions::getParams}},
            {u"getTimestamp", {0, &APMPEventNativeFunctions::getTimestamp}},
            {u"setEventName", {1, &APMPEventNativeFunctions::setEventName}},
            {u"setParamValue", {2, &APMPEventNativeFunctions::setParamValue}},
        };
        const auto handler = handlers.find(name);
        if (handler == handlers.end()) return APMPMapValue::applyWithName(name, arguments, scope, runtime, error);
        if (!APMPArgumentCountIs(arguments, handler->second.first, error)) return RuntimeValue::undefined();
        const APMPRef<APMPMapValue> keep(this);
        // Evaluated again: the method call's array already holds values.
        const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
        if (error) return RuntimeValue::undefined();
        return (this->*handler->second.second)(values, runtime, error);
    }

private:
    APMPEvent& event() const { return *eventContext_->outputEvent(); }

    RuntimeValue getEventName(Arguments, APMPRuntime& runtime, NSErrorPtr& error) {
        return runtime.string(std::string_view(event().name()), error);
    }
    RuntimeValue getParamValue(Arguments values, APMPRuntime& runtime, NSErrorPtr& error) {
        APMPValueText name(runtime);
        if (!name.read(values[0], error) || !runtime.chargeConversion(name.view(), error)) return RuntimeValue::undefined();
        const std::string key = APMPUTF8(name.view());
        if (!event().hasParameterName(key)) return RuntimeValue::null();
        return APMPRuntimeEntityConverter::runtimeValueFromNSObject(event().parameterForName(key), runtime, error);
    }
    RuntimeValue getParams(Arguments, APMPRuntime& runtime, NSErrorPtr& error) {
        return APMPRuntimeEntityConverter::runtimeValueFromNSObject(Value(event().parameters()), runtime, error);
    }
    RuntimeValue getTimestamp(Arguments, APMPRuntime&, NSErrorPtr&) {
        return RuntimeValue::number(event().timestamp());
    }
    RuntimeValue setEventName(Arguments values, APMPRuntime& runtime, NSErrorPtr& error) {
        if (values[0].isUndefinedOrNull()) {
            error = APMPError(APMPErrorArgumentKind);
            return RuntimeValue::undefined();
        }
        APMPValueText name(runtime);
        std::string plain;
        if (!name.read(values[0], error) || !APMPRuntimeEntityConverter::plainTextFromText(name.view(), runtime, plain, error)) {
            return RuntimeValue::undefined();
        }
        event().setName(std::move(plain));
        return name.value();
    }
    RuntimeValue setParamValue(Arguments values, APMPRuntime& runtime, NSErrorPtr& error) {
        APMPValueText text(runtime);
        std::string name;
        if (!text.read(values[0], error) || !APMPRuntimeEntityConverter::plainTextFromText(text.view(), runtime, name, error)) {
            return RuntimeValue::undefined();
        }
        const Value object = APMPRuntimeEntityConverter::objectFromRuntimeValue(values[1], runtime, error);
        if (error) return RuntimeValue::undefined();
        event().setParameter(object, name);
        return values[1];
    }

    std::shared_ptr<APMPEventContext> eventContext_;
};

// "internal.eventLogger": (name, timestamp, parameters map) adds a created event.
class APMPEventLogger final : public APMPFunctionValue {
public:
    APMPEventLogger(APMPHeap& heap, std::shared_ptr<APMPEventContext> context)
        : APMPFunctionValue(heap, u"internal.eventLogger"), eventContext_(std::move(context)) {}

    RuntimeValue invokeWithArguments(Arguments arguments, APMPScope& scope, APMPRuntime& runtime,
                                     NSErrorPtr& error) override {
        if (!APMPArgumentCountIs(arguments, 3, error)) return RuntimeValue::undefined();
        const APMPRef<APMPFunctionValue> keep(this);
        const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
        if (error) return RuntimeValue::undefined();
        APMPValueText text(runtime);
        std::string name;
        if (!text.read(values[0], error) || !APMPRuntimeEntityConverter::plainTextFromText(text.view(), runtime, name, error)) {
            return RuntimeValue::undefined();
        }
        const double number = values[1].doubleValueOrError(runtime, error);
        if (error) return RuntimeValue::undefined();
        if (!values[2].isMap()) {
            error = APMPError(APMPErrorArgumentKind);
            return RuntimeValue::undefined();
        }
        const Value::Dictionary parameters =
            APMPRuntimeEntityConverter::dictionaryFromMapValue(*values[2].as<APMPMapValue>(), runtime, error);
        if (error) return RuntimeValue::undefined();
        if (eventContext_->eventsToLog().size() >= APMPEventContext::kMaxCreatedEvents) {
            error = APMPError(APMPErrorBudgetSpent);
            return RuntimeValue::undefined();
        }
        const auto timestamp = static_cast<double>(APMPSaturatingInt64(APMPToInteger(number)));
        eventContext_->logEventWithName(name, timestamp, parameters);
        return RuntimeValue::undefined();
    }

private:
    std::shared_ptr<APMPEventContext> eventContext_;
};

// "internal.registerCallback": (any value, callback, {type, priority}).
class APMPRegisterCallbackNativeFunctionValue final : public APMPFunctionValue {
public:
    APMPRegisterCallbackNativeFunctionValue(APMPHeap& heap, std::weak_ptr<APMPEditingCallbackHandler> handler)
        : APMPFunctionValue(heap, u"internal.registerCallback"), callbackHandler_(std::move(handler)) {}

    RuntimeValue invokeWithArguments(Arguments arguments, APMPScope& scope, APMPRuntime& runtime,
                                     NSErrorPtr& error) override {
        if (!APMPArgumentCountIs(arguments, 3, error)) return RuntimeValue::undefined();
        const APMPRef<APMPFunctionValue> keep(this);
        const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
        if (error) return RuntimeValue::undefined();
        if (!values[1].isFunction() || !values[2].isMap()) {
            error = APMPError(APMPErrorArgumentKind);
            return RuntimeValue::undefined();
        }
        const auto* options = values[2].as<APMPMapValue>();
        if (!options->hasProperty(u"type")) {
            error = APMPEditingError(APMPEditingErrorMissingType);
            return RuntimeValue::undefined();
        }
        APMPValueText type(runtime);
        if (!type.read(options->valueForProperty(u"type"), error) || !runtime.chargeConversion(type.view(), error)) {
            return RuntimeValue::undefined();
        }
        std::int64_t priority = 1000;
        if (options->hasProperty(u"priority")) {
            const double number = options->valueForProperty(u"priority").doubleValueOrError(runtime, error);
            if (error) return RuntimeValue::undefined();
            priority = APMPToUint32(number);
        }
        if (auto handler = callbackHandler_.lock()) {
            static_cast<void>(handler->registerWithPriority(priority, values[1], APMPUTF8(type.view()), error));
        }
        return RuntimeValue::undefined();
    }

private:
    std::weak_ptr<APMPEditingCallbackHandler> callbackHandler_;
};

// A callback's result code: a number through ToUint32 read as a signed 32-bit integer, else -1.
std::int32_t resultCode(const RuntimeValue& result) {
    if (!result.isNumber()) return -1;
    return static_cast<std::int32_t>(APMPToUint32(result.number()));
}

}  // namespace editing
}  // namespace

APMPEventEditing::APMPEventEditing(std::unique_ptr<APMPRuntime> runtime)
    : runtime_(std::move(runtime)),
      eventContext_(std::make_shared<APMPEventContext>()),
      callbackHandler_(std::make_shared<APMPEditingCallbackHandler>()) {
    using namespace editing;
    std::weak_ptr<APMPEditingCallbackHandler> handler = callbackHandler_;
    runtime_->setModuleCreator("internal.registerCallback", [handler](APMPRuntime& runtime) {
        return APMPRuntimeValue(runtime.heap().make<APMPRegisterCallbackNativeFunctionValue>(handler));
    });
    std::weak_ptr<APMPEventContext> context = eventContext_;
    runtime_->setModuleCreator("internal.eventLogger", [context](APMPRuntime& runtime) -> std::optional<APMPRuntimeValue> {
        auto held = context.lock();
        if (!held) return std::nullopt;
        return APMPRuntimeValue(runtime.heap().make<APMPEventLogger>(std::move(held)));
    });
}

APMPEventEditing::~APMPEventEditing() = default;

std::unique_ptr<APMPEventEditing> APMPEventEditing::make(std::shared_ptr<MemoryRelief> relief) {
    return initWithRuntime(APMPRuntime::make(APMPStringCommandEvaluator::sharedInstance(),
                                             APMPArrayCommandEvaluator::sharedInstance(), std::move(relief)));
}

std::unique_ptr<APMPEventEditing> APMPEventEditing::initWithRuntime(std::unique_ptr<APMPRuntime> runtime) {
    if (!runtime) return nullptr;
    return std::unique_ptr<APMPEventEditing>(new APMPEventEditing(std::move(runtime)));
}

void APMPEventEditing::setModuleCreator(const std::string& name, APMPModuleCreator creator) {
    runtime_->setModuleCreator(name, std::move(creator));
}

bool APMPEventEditing::loadProgram(const std::shared_ptr<APMPBProgram>& program, NSErrorPtr* error) {
    using namespace editing;
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    NSErrorPtr failure;
    try {
        const APMPRuntimeValue last = runtime_->executeStatements(
            entities(APMPBMessageGetArray<APMPBRuntimeEntity>(program, APMPBProgram::kInstructions)), failure);
        if (!failure && last.isControl()) failure = APMPEditingError(APMPEditingErrorControlAtTopLevel);
        if (!failure) {
            const auto activities = APMPBMessageGetMessage<APMPBOgtActivities>(program, APMPBProgram::kActivities);
            const auto list = activities
                                  ? APMPBMessageGetArray<APMPBOgtActivity>(activities, APMPBOgtActivities::kActivities)
                                  : std::nullopt;
            for (const Value& item : list.value_or(Value::Array{})) {
                if (!loadActivityData(item.objectAs<APMPBOgtActivity>(), failure)) break;
            }
        }
    } catch (...) {
        failure = thrownError();
    }
    endRun();
    // Loaded wherever the configuration is parsed, the editor then goes to the queue that
    // handles events.
    sequenceChecker_.detach();
    if (!failure) return true;
    setError(error, failure);
    return false;
}

void APMPEventEditing::endRun() {
    try {
        runtime_->endRun();
    } catch (...) {
        // Memory exhausted while the run's cycles were walked: they go with a later collection.
    }
}

bool APMPEventEditing::loadActivityData(const std::shared_ptr<APMPBOgtActivity>& activity, NSErrorPtr& error) {
    using namespace editing;
    const std::string name = APMPBMessageGetString(activity, APMPBOgtActivity::kName).value_or("");
    for (const auto& entity : entities(APMPBMessageGetArray<APMPBRuntimeEntity>(activity, APMPBOgtActivity::kData))) {
        const APMPRuntimeValue rule = runtime_->executeStatements({entity}, error);
        if (error) return false;
        if (!rule.isMap()) {
            error = APMPEditingError(APMPEditingErrorActivityNotMap);
            return false;
        }
        if (!registerRuleWithName(name, rule, error)) return false;
    }
    return true;
}

bool APMPEventEditing::registerRuleWithName(const std::string& name, const APMPRuntimeValue& rule, NSErrorPtr& error) {
    using namespace editing;
    APMPRef<APMPScope> scope = runtime_->getRunScope();
    const APMPRuntimeValue function = scope->valueForName(APMPUTF16(name));
    if (!function.isFunction()) {
        error = APMPEditingError(APMPEditingErrorActivityNotFunction);
        return false;
    }
    const std::vector<APMPRuntimeValue> arguments{rule};
    function.as<APMPFunctionValue>()->invokeWithArguments(arguments, *scope, *runtime_, error);
    return !error;
}

bool APMPEventEditing::handleEvent(const std::shared_ptr<APMPEvent>& event, NSErrorPtr* error) {
    using namespace editing;
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    NSErrorPtr failure;
    bool edited = false;
    try {
        eventContext_->setInputEvent(event);
        runtime_->resetInstructionCount();
        APMPRef<APMPScope> scope = runtime_->getRunScope();
        if (triggerCallbacks(*scope, failure)) edited = hasEdits() || hasCreatedEvents();
    } catch (...) {
        // Outside the callbacks (which restore the event they were given themselves): the event
        // stays as it came.
        failure = thrownError();
        try {
            eventContext_->setInputEvent(event);
        } catch (...) {
            eventContext_->setOutputEvent(event);
        }
    }
    endRun();
    if (failure) {
        setError(error, failure);
        return false;
    }
    return edited;
}

bool APMPEventEditing::hasEdits() const {
    return !eventContext_->outputEvent()->isEqualToEvent(*eventContext_->inputEvent());
}

bool APMPEventEditing::triggerCallbacks(APMPScope& scope, NSErrorPtr& error) {
    using namespace editing;
    const APMPRuntimeValue eventObject(runtime_->heap().make<APMPEventNativeFunctions>(eventContext_));
    const std::vector<APMPRuntimeValue> arguments{eventObject};
    auto invoke = [&](const APMPRuntimeValue& callback) {
        try {
            const APMPRuntimeValue result =
                callback.as<APMPFunctionValue>()->invokeWithArguments(arguments, scope, *runtime_, error);
            return error ? 2 : resultCode(result);
        } catch (...) {
            error = thrownError();
            return 2;
        }
    };
    // Copies: a callback may register more callbacks while the lists are walked.
    const auto edits = callbackHandler_->editCallbacks();
    for (const auto& [priority, callback] : edits) {
        std::shared_ptr<APMPEvent> kept = eventContext_->outputEvent()->copy();
        const std::int32_t code = invoke(callback);
        if (error) {
            eventContext_->setOutputEvent(std::move(kept));
            return false;
        }
        if (code == 2 || code == -1) eventContext_->setOutputEvent(std::move(kept));
    }
    const auto creates = callbackHandler_->createCallbacks();
    for (const auto& [priority, callback] : creates) {
        invoke(callback);
        if (error) return false;
    }
    return true;
}
