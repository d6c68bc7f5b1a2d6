// A "return" carrying its value out of statement lists. (Break and continue carry nothing and
// are held inline by the runtime value.)
#pragma once

#include "analytics/script/APMPObject.h"
#include "analytics/script/APMPRuntimeValue.h"

class APMPControlValue final : public APMPObject {
public:
    APMPControlValue(APMPHeap& heap, APMPRuntimeValue data) : APMPObject(Type::Return, heap), data_(std::move(data)) {
        account(static_cast<std::ptrdiff_t>(sizeof(*this) - sizeof(APMPObject)));
    }

    const APMPRuntimeValue& data() const { return data_; }

private:
    void trace(APMPTracer& tracer) const override {
        if (APMPObject* object = data_.object()) tracer.visit(object);
    }
    void clearReferences() override { data_ = APMPRuntimeValue(); }

    APMPRuntimeValue data_;
};
