// An array value: elements (holes marking missing ones) and named properties besides them.
// Lengths are bounded: a longer array fails with error 11 instead of exhausting memory.
#pragma once

#include "analytics/script/APMPObject.h"
#include "analytics/script/APMPPropertyMap.h"

#include <span>
#include <string>
#include <vector>

class APMPRuntime;
class APMPScope;
class APMPTextBuilder;

class APMPArrayValue final : public APMPObject {
public:
    static constexpr std::size_t kMaxLength = std::size_t{1} << 20;

    explicit APMPArrayValue(APMPHeap& heap);
    APMPArrayValue(APMPHeap& heap, std::vector<APMPRuntimeValue> elements);

    std::size_t count() const { return elements_.size(); }
    // Holes included.
    const std::vector<APMPRuntimeValue>& elements() const { return elements_; }
    // The elements with holes as undefined.
    std::vector<APMPRuntimeValue> allElements() const;
    // Present: within the count and not a hole.
    bool isPresent(std::size_t index) const { return index < elements_.size() && !elements_[index].isHole(); }
    // Undefined for a hole or beyond the end.
    APMPRuntimeValue elementAt(std::size_t index) const;

    // Room for `count` more elements, held against the run's live limit before the array grows
    // (error 18 past it); growth past kMaxLength is left to the change, which refuses it.
    [[nodiscard]] bool makeRoom(std::size_t count, APMPRuntime& runtime, NSErrorPtr& error);
    // Error 11 past kMaxLength. A longer length appends holes, a shorter one drops elements.
    [[nodiscard]] bool setLength(double length, NSErrorPtr& error);
    void setElement(std::size_t index, APMPRuntimeValue value);
    [[nodiscard]] bool appendElements(std::span<const APMPRuntimeValue> values, NSErrorPtr& error);
    [[nodiscard]] bool prependElements(std::span<const APMPRuntimeValue> values, NSErrorPtr& error);
    APMPRuntimeValue removeFirstElement();
    APMPRuntimeValue removeLastElement();
    void reverse();
    // The removed elements (holes kept); `values` go in at `start`. Bounds are clamped.
    [[nodiscard]] std::vector<APMPRuntimeValue> spliceFrom(std::size_t start, std::size_t deleteCount,
                                                           std::span<const APMPRuntimeValue> values,
                                                           NSErrorPtr& error);
    void replaceElements(std::vector<APMPRuntimeValue> elements);

    // Property access with the key value itself: "length", array indices, else named properties.
    APMPRuntimeValue valueForProperty(const APMPRuntimeValue& key, APMPRuntime& runtime, NSErrorPtr& error);
    APMPRuntimeValue setValueForProperty(APMPRuntimeValue value, const APMPRuntimeValue& key, APMPRuntime& runtime,
                                         NSErrorPtr& error);
    void removeValueForProperty(const APMPRuntimeValue& key, APMPRuntime& runtime, NSErrorPtr& error);
    bool hasProperty(const APMPRuntimeValue& key, APMPRuntime& runtime, NSErrorPtr& error);
    // Named properties first, then the indices of the elements that are not holes.
    std::vector<std::u16string> allPropertyNames() const;
    const APMPPropertyMap& properties() const { return properties_; }

    // Appends the elements joined with the separator; holes, undefined and null as empty text;
    // nested arrays met again (a cycle) as empty text.
    [[nodiscard]] bool appendText(APMPTextBuilder& text, std::u16string_view separator, NSErrorPtr& error);

    // An own function-valued property, else the array methods.
    APMPRuntimeValue applyWithName(const std::u16string& name, std::span<const APMPRuntimeValue> arguments,
                                   APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error);

private:
    void trace(APMPTracer& tracer) const override;
    void clearReferences() override;
    void syncAccount();
    bool withinLimit(std::size_t length, NSErrorPtr& error) const;
    // The elements a new length adds or drops, charged (and those added held) before the change.
    [[nodiscard]] bool chargeLengthChange(double length, APMPRuntime& runtime, NSErrorPtr& error);

    std::vector<APMPRuntimeValue> elements_;
    APMPPropertyMap properties_;
    std::size_t accountedBytes_ = 0;
};

// Whether a key names an array element: a number, or a string reading as one, that is finite,
// non-negative and whole.
bool APMPIsArrayIndex(const APMPRuntimeValue& key, APMPRuntime& runtime, double& index);
