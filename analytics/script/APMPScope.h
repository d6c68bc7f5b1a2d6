// A scope of names: its own property map and the scope it is nested in. Names are looked up
// outwards; a write goes to the nearest scope that holds the name, else to this one.
#pragma once

#include "analytics/script/APMPObject.h"
#include "analytics/script/APMPPropertyMap.h"

class APMPScope final : public APMPObject {
public:
    APMPScope(APMPHeap& heap, APMPRef<APMPScope> parent);

    APMPScope* parentScope() const { return parent_.get(); }
    APMPRef<APMPScope> createChildScope();

    bool hasName(std::u16string_view name) const;
    // Undefined when no scope holds the name. `hint` as for APMPPropertyMap::find.
    APMPRuntimeValue valueForName(std::u16string_view name, std::size_t* hint = nullptr) const;
    void addValue(std::u16string_view name, APMPRuntimeValue value);
    void addImmutableValue(std::u16string_view name, APMPRuntimeValue value);
    void setValue(std::u16string_view name, APMPRuntimeValue value);
    // setValue for a name some scope holds; false (nothing written) when none does.
    bool assignValue(std::u16string_view name, const APMPRuntimeValue& value, std::size_t* hint = nullptr);
    void makeImmutable() { contents_.makeImmutable(); }

private:
    void trace(APMPTracer& tracer) const override;
    void clearReferences() override;
    template <class Change>
    void change(Change&& apply);

    APMPRef<APMPScope> parent_;
    APMPPropertyMap contents_;
};
