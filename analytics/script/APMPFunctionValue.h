// A function value: a name, parameter names, body statements and the scope it was made in,
// which its calls extend. Native functions derive from it and replace the call. Functions
// carry properties of their own (a module's methods).
#pragma once

#include "analytics/script/APMPObject.h"
#include "analytics/script/APMPPropertyMap.h"
#include "analytics/script/APMPScope.h"

#include <span>
#include <string>
#include <vector>

class APMPRuntime;

class APMPFunctionValue : public APMPObject {
public:
    APMPFunctionValue(APMPHeap& heap, std::u16string functionName, std::vector<std::u16string> parameterNames,
                      std::vector<APMPRuntimeValue> statements, APMPRef<APMPScope> definingScope);
    // A native function: no parameters or statements, and an empty root scope of its own.
    APMPFunctionValue(APMPHeap& heap, std::u16string functionName);

    const std::u16string& functionName() const { return functionName_; }

    // Evaluates the arguments in the caller's scope, then calls.
    virtual APMPRuntimeValue invokeWithArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                                 APMPRuntime& runtime, NSErrorPtr& error);
    // A new scope under the defining one with the parameters declared (missing ones undefined,
    // extra ones ignored), the body run in it; a "return" gives its value.
    virtual APMPRuntimeValue invokeWithEvaluatedArguments(std::span<const APMPRuntimeValue> arguments,
                                                          APMPRuntime& runtime, NSErrorPtr& error);

    bool hasProperty(std::u16string_view name) const { return properties_.hasName(name); }
    APMPRuntimeValue valueForProperty(std::u16string_view name) const { return properties_.valueForName(name); }
    void setValueForProperty(APMPRuntimeValue value, std::u16string_view name);
    void removeValueForProperty(std::u16string_view name);
    std::vector<std::u16string> allPropertyNames() const { return properties_.allNames(); }

    // An own function-valued property of that name, else "hasOwnProperty", else "toString".
    APMPRuntimeValue applyWithName(const std::u16string& name, std::span<const APMPRuntimeValue> arguments,
                                   APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error);

protected:
    void trace(APMPTracer& tracer) const override;
    void clearReferences() override;

private:
    const std::u16string functionName_;
    std::vector<std::u16string> parameterNames_;
    std::vector<APMPRuntimeValue> statements_;
    APMPRef<APMPScope> definingScope_;
    APMPPropertyMap properties_;
};
