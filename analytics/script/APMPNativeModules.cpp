#include "analytics/script/APMPNativeModules.h"

#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPHeap.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPRuntimeEntityConverter.h"
#include "analytics/script/APMPTextBuilder.h"

APMPRequire::APMPRequire(APMPHeap& heap) : APMPFunctionValue(heap, u"require") {}

APMPRuntimeValue APMPRequire::invokeWithArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                              APMPRuntime& runtime, NSErrorPtr& error) {
    if (arguments.size() != 1) {
        error = APMPError(APMPErrorArgumentCount);
        return APMPRuntimeValue::undefined();
    }
    const APMPRef<APMPRequire> keep(this);
    const APMPRuntimeValue argument = runtime.evaluateStatement(arguments[0], scope, error);
    if (error) return APMPRuntimeValue::undefined();
    APMPValueText name(runtime);
    if (!name.read(argument, error) || !runtime.chargeConversion(name.view(), error)) return APMPRuntimeValue::undefined();
    const std::string key = APMPUTF8(name.view());
    if (const auto cached = modules_.find(key); cached != modules_.end()) return cached->second;
    APMPRuntimeValue module = runtime.provider().moduleForName(key, runtime, error);
    if (error) return APMPRuntimeValue::undefined();
    modules_.emplace(key, module);
    return module;
}

void APMPRequire::trace(APMPTracer& tracer) const {
    APMPFunctionValue::trace(tracer);
    for (const auto& [name, module] : modules_) {
        if (APMPObject* object = module.object()) tracer.visit(object);
    }
}

void APMPRequire::clearReferences() {
    APMPFunctionValue::clearReferences();
    std::map<std::string, APMPRuntimeValue> modules = std::move(modules_);
    modules_.clear();
}

APMPRuntimePlatform::APMPRuntimePlatform(APMPHeap& heap) : APMPFunctionValue(heap, u"internal.platform") {
    setValueForProperty(APMPRuntimeValue(heap.make<APMPFunctionGetVersion>()), u"getVersion");
}

APMPRuntimeValue APMPFunctionGetVersion::invokeWithArguments(std::span<const APMPRuntimeValue>, APMPScope&, APMPRuntime&,
                                                         NSErrorPtr&) {
    return APMPRuntimeValue::number(static_cast<double>(APMPRuntime::runtimeVersion()));
}

APMPKeyValueStore::APMPKeyValueStore(APMPHeap& heap, std::u16string functionName, APMPGetValueBlock getValueBlock)
    : APMPFunctionValue(heap, std::move(functionName)) {
    setValueForProperty(APMPRuntimeValue(heap.make<APMPKeyValueStoreGetValue>(std::move(getValueBlock))), u"getValue");
}

APMPKeyValueStoreGetValue::APMPKeyValueStoreGetValue(APMPHeap& heap, APMPGetValueBlock block)
    : APMPFunctionValue(heap, u"getValue"), getValueBlock_(std::move(block)) {}

APMPRuntimeValue APMPKeyValueStoreGetValue::invokeWithArguments(std::span<const APMPRuntimeValue> arguments,
                                                            APMPScope& scope, APMPRuntime& runtime,
                                                            NSErrorPtr& error) {
    if (arguments.size() != 2) {
        error = APMPError(APMPErrorArgumentCount);
        return APMPRuntimeValue::undefined();
    }
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return APMPRuntimeValue::undefined();
    APMPValueText key(runtime);
    if (!key.read(values[0], error) || !runtime.chargeConversion(key.view(), error)) return APMPRuntimeValue::undefined();
    const std::optional<std::string> held = getValueBlock_ ? getValueBlock_(APMPUTF8(key.view())) : std::nullopt;
    if (!held) return values[1];
    return runtime.string(std::string_view(*held), error);
}

APMPObjectProvider::APMPObjectProvider(APMPHeap& heap, std::u16string name, std::function<Value()> block)
    : APMPFunctionValue(heap, std::move(name)), objectProviderBlock_(std::move(block)) {}

APMPRuntimeValue APMPObjectProvider::invokeWithArguments(std::span<const APMPRuntimeValue>, APMPScope&, APMPRuntime& runtime,
                                                     NSErrorPtr& error) {
    const Value object = objectProviderBlock_ ? objectProviderBlock_() : Value();
    return APMPRuntimeEntityConverter::runtimeValueFromNSObject(object, runtime, error);
}
