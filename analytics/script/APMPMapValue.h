// A map value: named properties in the order they were first set. Native objects (the event
// a callback receives) are maps with methods of their own.
#pragma once

#include "analytics/script/APMPObject.h"
#include "analytics/script/APMPPropertyMap.h"

#include <span>
#include <string>

class APMPRuntime;
class APMPScope;

class APMPMapValue : public APMPObject {
public:
    explicit APMPMapValue(APMPHeap& heap);

    bool hasProperty(std::u16string_view name) const { return properties_.hasName(name); }
    APMPRuntimeValue valueForProperty(std::u16string_view name) const { return properties_.valueForName(name); }
    void setValueForProperty(APMPRuntimeValue value, std::u16string_view name);
    void removeValueForProperty(std::u16string_view name);
    std::vector<std::u16string> allPropertyNames() const { return properties_.allNames(); }
    const APMPPropertyMap& properties() const { return properties_; }
    void makeImmutable() { properties_.makeImmutable(); }

    // An own function-valued property of that name, else "hasOwnProperty", else "toString".
    virtual APMPRuntimeValue applyWithName(const std::u16string& name, std::span<const APMPRuntimeValue> arguments,
                                           APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error);

protected:
    void trace(APMPTracer& tracer) const override { properties_.trace(tracer); }
    void clearReferences() override;

private:
    APMPPropertyMap properties_;
};
