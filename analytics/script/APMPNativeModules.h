// Native function values through which programs reach the host: "require", the platform module
// with its version, the configuration's key-value lookup and the object provider. Each has its
// name, no parameters or statements, an empty scope of its own, and replaces the call.
#pragma once

#include "analytics/script/APMPFunctionValue.h"
#include "platform/foundation/Value.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

// "require": exactly one argument naming a module; each module is made at most once per
// runtime (undefined for a name without creator included) and shared by every request.
class APMPRequire final : public APMPFunctionValue {
public:
    explicit APMPRequire(APMPHeap& heap);
    APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                         APMPRuntime& runtime, NSErrorPtr& error) override;

private:
    void trace(APMPTracer& tracer) const override;
    void clearReferences() override;

    std::map<std::string, APMPRuntimeValue> modules_;
};

// "internal.platform": calling it gives undefined; its "getVersion" gives the runtime's version.
class APMPRuntimePlatform final : public APMPFunctionValue {
public:
    explicit APMPRuntimePlatform(APMPHeap& heap);
    APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue>, APMPScope&, APMPRuntime&,
                                         NSErrorPtr&) override {
        return APMPRuntimeValue::undefined();
    }
};

class APMPFunctionGetVersion final : public APMPFunctionValue {
public:
    explicit APMPFunctionGetVersion(APMPHeap& heap) : APMPFunctionValue(heap, u"getVersion") {}
    APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue>, APMPScope&, APMPRuntime&,
                                         NSErrorPtr&) override;
};

// The text a key holds, or none.
using APMPGetValueBlock = std::function<std::optional<std::string>(const std::string& key)>;

// "internal.remoteConfig": a function value whose "getValue(key, default)" gives the held text
// as a string value, else the default unchanged.
class APMPKeyValueStore final : public APMPFunctionValue {
public:
    APMPKeyValueStore(APMPHeap& heap, std::u16string functionName, APMPGetValueBlock getValueBlock);
};

class APMPKeyValueStoreGetValue final : public APMPFunctionValue {
public:
    APMPKeyValueStoreGetValue(APMPHeap& heap, APMPGetValueBlock block);
    APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                         APMPRuntime& runtime, NSErrorPtr& error) override;

private:
    APMPGetValueBlock getValueBlock_;
};

// Builds its object anew on every call (arguments ignored) from a plain object.
class APMPObjectProvider final : public APMPFunctionValue {
public:
    APMPObjectProvider(APMPHeap& heap, std::u16string name, std::function<Value()> block);
    APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                         APMPRuntime& runtime, NSErrorPtr& error) override;

private:
    std::function<Value()> objectProviderBlock_;
};
