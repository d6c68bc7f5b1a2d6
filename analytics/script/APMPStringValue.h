// A string value: immutable UTF-16 text, shared by every value that holds it.
#pragma once

#include "analytics/script/APMPHeap.h"

#include <string>

class APMPStringValue final : public APMPObject {
public:
    // Longest string a program may make, in UTF-16 units; longer results fail with error 10.
    static constexpr std::size_t kMaxLength = std::size_t{1} << 20;

    APMPStringValue(APMPHeap& heap, std::u16string text) : APMPObject(Type::String, heap), text_(std::move(text)) {
        account(static_cast<std::ptrdiff_t>(sizeof(*this) - sizeof(APMPObject) + APMPHeap::textBytes(text_)));
    }

    const std::u16string& text() const { return text_; }
    // Where a scope last held this text as a name: tried first when a statement looks the
    // name up again. Only ever a hint, checked before it is used.
    std::size_t* nameHint() const { return &nameHint_; }

private:
    void trace(APMPTracer&) const override {}
    void clearReferences() override {}

    const std::u16string text_;
    mutable std::size_t nameHint_ = 0;
};
