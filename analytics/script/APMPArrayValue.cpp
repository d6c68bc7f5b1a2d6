// Array values: elements with holes, named properties, the length and index rules, joining.
#include "analytics/script/APMPArrayValue.h"

#include "analytics/script/APMPCommandEvaluator.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPHeap.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStringValue.h"
#include "analytics/script/APMPTextBuilder.h"

#include <algorithm>
#include <cmath>

bool APMPIsArrayIndex(const APMPRuntimeValue& key, APMPRuntime& runtime, double& index) {
    if (!key.isNumber() && !key.isString()) return false;
    NSErrorPtr error;
    const double number = key.doubleValueOrError(runtime, error);
    if (error || !std::isfinite(number) || number < 0 || number != std::trunc(number)) return false;
    index = number;
    return true;
}

APMPArrayValue::APMPArrayValue(APMPHeap& heap) : APMPObject(Type::Array, heap) {
    account(static_cast<std::ptrdiff_t>(sizeof(*this) - sizeof(APMPObject)));
}

APMPArrayValue::APMPArrayValue(APMPHeap& heap, std::vector<APMPRuntimeValue> elements) : APMPArrayValue(heap) {
    elements_ = std::move(elements);
    syncAccount();
}

void APMPArrayValue::syncAccount() {
    // The list's whole buffer: room taken for elements to come is memory held too.
    const std::size_t bytes = APMPHeap::bufferBytes(elements_) + properties_.bytes();
    account(static_cast<std::ptrdiff_t>(bytes) - static_cast<std::ptrdiff_t>(accountedBytes_));
    accountedBytes_ = bytes;
}

bool APMPArrayValue::makeRoom(std::size_t count, APMPRuntime& runtime, NSErrorPtr& error) {
    const std::size_t needed = elements_.size() + count;
    if (needed <= elements_.capacity() || needed > kMaxLength) return true;
    // Doubling, as it would grow one by one, within the longest array.
    const std::size_t capacity = std::min(kMaxLength, std::max(needed, 2 * elements_.capacity()));
    if (!runtime.reserveMemory(APMPHeap::allocationBytes(capacity * sizeof(APMPRuntimeValue)), error)) return false;
    elements_.reserve(capacity);
    syncAccount();
    return true;
}

bool APMPArrayValue::chargeLengthChange(double length, APMPRuntime& runtime, NSErrorPtr& error) {
    // Past the bound, setLength refuses it without work.
    if (length > static_cast<double>(kMaxLength)) return true;
    const double change = std::fabs(length - static_cast<double>(elements_.size()));
    if (!runtime.chargeWork(static_cast<std::uint64_t>(change) * APMPRuntime::kElementUnits, error)) return false;
    return length <= static_cast<double>(elements_.size()) ||
           makeRoom(static_cast<std::size_t>(length) - elements_.size(), runtime, error);
}

bool APMPArrayValue::withinLimit(std::size_t length, NSErrorPtr& error) const {
    if (length <= kMaxLength) return true;
    error = APMPError(APMPErrorInvalidArrayLength);
    return false;
}

std::vector<APMPRuntimeValue> APMPArrayValue::allElements() const {
    std::vector<APMPRuntimeValue> values = elements_;
    for (APMPRuntimeValue& value : values) {
        if (value.isHole()) value = APMPRuntimeValue::undefined();
    }
    return values;
}

APMPRuntimeValue APMPArrayValue::elementAt(std::size_t index) const {
    return isPresent(index) ? elements_[index] : APMPRuntimeValue::undefined();
}

bool APMPArrayValue::setLength(double length, NSErrorPtr& error) {
    if (length > static_cast<double>(kMaxLength)) return withinLimit(kMaxLength + 1, error);
    const auto count = static_cast<std::size_t>(length);
    // Dropped elements are released after the vector is consistent again.
    std::vector<APMPRuntimeValue> dropped;
    if (count < elements_.size()) {
        dropped.assign(std::make_move_iterator(elements_.begin() + static_cast<std::ptrdiff_t>(count)),
                       std::make_move_iterator(elements_.end()));
    }
    elements_.resize(count, APMPRuntimeValue::hole());
    // A list cut to a small part of its room gives the rest back.
    if (elements_.size() < elements_.capacity() / 4) elements_.shrink_to_fit();
    syncAccount();
    return true;
}

void APMPArrayValue::setElement(std::size_t index, APMPRuntimeValue value) {
    APMPRuntimeValue old = std::move(elements_[index]);
    elements_[index] = std::move(value);
}

bool APMPArrayValue::appendElements(std::span<const APMPRuntimeValue> values, NSErrorPtr& error) {
    if (!withinLimit(elements_.size() + values.size(), error)) return false;
    elements_.insert(elements_.end(), values.begin(), values.end());
    syncAccount();
    return true;
}

bool APMPArrayValue::prependElements(std::span<const APMPRuntimeValue> values, NSErrorPtr& error) {
    if (!withinLimit(elements_.size() + values.size(), error)) return false;
    elements_.insert(elements_.begin(), values.begin(), values.end());
    syncAccount();
    return true;
}

APMPRuntimeValue APMPArrayValue::removeFirstElement() {
    if (elements_.empty()) return APMPRuntimeValue::undefined();
    APMPRuntimeValue first = std::move(elements_.front());
    elements_.erase(elements_.begin());
    syncAccount();
    return first.isHole() ? APMPRuntimeValue::undefined() : first;
}

APMPRuntimeValue APMPArrayValue::removeLastElement() {
    if (elements_.empty()) return APMPRuntimeValue::undefined();
    APMPRuntimeValue last = std::move(elements_.back());
    elements_.pop_back();
    syncAccount();
    return last.isHole() ? APMPRuntimeValue::undefined() : last;
}

void APMPArrayValue::reverse() { std::reverse(elements_.begin(), elements_.end()); }

std::vector<APMPRuntimeValue> APMPArrayValue::spliceFrom(std::size_t start, std::size_t deleteCount,
                                              std::span<const APMPRuntimeValue> values, NSErrorPtr& error) {
    start = std::min(start, elements_.size());
    deleteCount = std::min(deleteCount, elements_.size() - start);
    if (!withinLimit(elements_.size() - deleteCount + values.size(), error)) return {};
    const auto first = elements_.begin() + static_cast<std::ptrdiff_t>(start);
    std::vector<APMPRuntimeValue> removed(std::make_move_iterator(first),
                               std::make_move_iterator(first + static_cast<std::ptrdiff_t>(deleteCount)));
    elements_.erase(first, first + static_cast<std::ptrdiff_t>(deleteCount));
    elements_.insert(elements_.begin() + static_cast<std::ptrdiff_t>(start), values.begin(), values.end());
    syncAccount();
    return removed;
}

void APMPArrayValue::replaceElements(std::vector<APMPRuntimeValue> elements) {
    std::vector<APMPRuntimeValue> old = std::move(elements_);
    elements_ = std::move(elements);
    syncAccount();
}

// A key is read as its text first, but for a number that indexes an element, which needs none.
APMPRuntimeValue APMPArrayValue::valueForProperty(const APMPRuntimeValue& key, APMPRuntime& runtime, NSErrorPtr& error) {
    double index = 0;
    APMPValueText name(runtime);
    if (!(key.isNumber() && APMPIsArrayIndex(key, runtime, index))) {
        if (!name.read(key, error)) return APMPRuntimeValue::undefined();
        if (name.view() == u"length") return APMPRuntimeValue::number(static_cast<double>(elements_.size()));
        if (!APMPIsArrayIndex(key, runtime, index)) {
            runtime.chargeName(name.view().size());
            return properties_.valueForName(name.view());
        }
    }
    return index < static_cast<double>(elements_.size()) ? elementAt(static_cast<std::size_t>(index))
                                                          : APMPRuntimeValue::undefined();
}

APMPRuntimeValue APMPArrayValue::setValueForProperty(APMPRuntimeValue value, const APMPRuntimeValue& key, APMPRuntime& runtime, NSErrorPtr& error) {
    double index = 0;
    APMPValueText name(runtime);
    if (!(key.isNumber() && APMPIsArrayIndex(key, runtime, index))) {
        if (!name.read(key, error)) return APMPRuntimeValue::undefined();
        if (name.view() == u"length") {
            double length = 0;
            if (!APMPIsArrayIndex(value, runtime, length)) {
                error = APMPError(APMPErrorInvalidArrayLength);
                return APMPRuntimeValue::undefined();
            }
            if (!chargeLengthChange(length, runtime, error) || !setLength(length, error)) return APMPRuntimeValue::undefined();
            return value;
        }
        if (!APMPIsArrayIndex(key, runtime, index)) {
            runtime.chargeName(name.view().size());
            properties_.setValue(name.view(), value);
            syncAccount();
            return value;
        }
    }
    if (index >= static_cast<double>(elements_.size()) &&
        (!chargeLengthChange(index + 1, runtime, error) || !setLength(index + 1, error))) {
        return APMPRuntimeValue::undefined();
    }
    setElement(static_cast<std::size_t>(index), value);
    return value;
}

void APMPArrayValue::removeValueForProperty(const APMPRuntimeValue& key, APMPRuntime& runtime, NSErrorPtr& error) {
    double index = 0;
    APMPValueText name(runtime);
    if (!(key.isNumber() && APMPIsArrayIndex(key, runtime, index))) {
        if (!name.read(key, error)) return;
        if (!APMPIsArrayIndex(key, runtime, index)) {
            properties_.removeValueForName(name.view());
            syncAccount();
            return;
        }
    }
    if (index < static_cast<double>(elements_.size())) setElement(static_cast<std::size_t>(index), APMPRuntimeValue::hole());
}

bool APMPArrayValue::hasProperty(const APMPRuntimeValue& key, APMPRuntime& runtime, NSErrorPtr& error) {
    double index = 0;
    APMPValueText name(runtime);
    if (!(key.isNumber() && APMPIsArrayIndex(key, runtime, index))) {
        if (!name.read(key, error)) return false;
        if (!APMPIsArrayIndex(key, runtime, index)) return properties_.hasName(name.view());
    }
    return index < static_cast<double>(elements_.size()) && isPresent(static_cast<std::size_t>(index));
}

std::vector<std::u16string> APMPArrayValue::allPropertyNames() const {
    std::vector<std::u16string> names = properties_.allNames();
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (!elements_[i].isHole()) names.push_back(APMPWiden(std::to_string(i)));
    }
    return names;
}

bool APMPArrayValue::appendText(APMPTextBuilder& text, std::u16string_view separator, NSErrorPtr& error) {
    APMPRuntime& runtime = text.runtime();
    const APMPRuntime::Nesting nesting(runtime, this);
    // Met again inside itself: empty, so a cycle prints once.
    if (nesting.repeated()) return true;
    if (nesting.tooDeep()) {
        error = APMPError(APMPErrorArgumentKind);
        return false;
    }
    if (!runtime.chargeWork(std::uint64_t{elements_.size()} * APMPRuntime::kElementUnits, error)) return false;
    // Elements are read one by one: converting one never changes the array.
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (i > 0 && !text.append(separator, error)) return false;
        const APMPRuntimeValue element = elements_[i];
        if (element.isHole() || element.isUndefinedOrNull()) continue;
        if (!element.appendText(text, error)) return false;
    }
    return true;
}

APMPRuntimeValue APMPArrayValue::applyWithName(const std::u16string& name, std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                    APMPRuntime& runtime, NSErrorPtr& error) {
    if (const APMPRuntimeValue* property = properties_.find(name)) {
        if (!property->isFunction()) {
            error = APMPError(APMPErrorUnknownMethod);
            return APMPRuntimeValue::undefined();
        }
        const APMPRuntimeValue function = *property;
        return function.as<APMPFunctionValue>()->invokeWithArguments(arguments, scope, runtime, error);
    }
    return runtime.arrayEvaluator().evaluateCommand(name, *this, arguments, scope, runtime, error);
}

void APMPArrayValue::trace(APMPTracer& tracer) const {
    for (const APMPRuntimeValue& element : elements_) {
        if (APMPObject* object = element.object()) tracer.visit(object);
    }
    properties_.trace(tracer);
}

void APMPArrayValue::clearReferences() {
    std::vector<APMPRuntimeValue> dropped = std::move(elements_);
    elements_.clear();
    properties_.clear();
}
