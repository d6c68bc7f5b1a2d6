#include "analytics/script/APMPTextBuilder.h"

#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPStringValue.h"

#include <algorithm>

bool APMPTextBuilder::room(std::size_t units, NSErrorPtr& error) {
    const std::size_t old = text_.capacity();
    if (units <= old) return true;
    // Doubling, as appending one by one would, within the longest string.
    const std::size_t capacity = std::min(APMPStringValue::kMaxLength, std::max(units, 2 * old));
    // Both buffers are there while the text moves from one to the other.
    if (!held_.resize(2 * (old + capacity), error)) return false;
    text_.reserve(capacity);
    return held_.resize(2 * text_.capacity(), error);
}

bool APMPTextBuilder::reserve(std::size_t units, NSErrorPtr& error) {
    if (units > APMPStringValue::kMaxLength) {
        error = APMPError(APMPErrorArgumentKind);
        return false;
    }
    return room(units, error);
}

bool APMPTextBuilder::append(std::u16string_view text, NSErrorPtr& error) {
    if (text.size() > APMPStringValue::kMaxLength - text_.size()) {
        error = APMPError(APMPErrorArgumentKind);
        return false;
    }
    if (!runtime_.chargeWork(text.size(), error) || !room(text_.size() + text.size(), error)) return false;
    text_.append(text);
    return true;
}

APMPRuntimeValue APMPTextBuilder::make() {
    std::u16string text = take();
    // A string keeps its buffer for life: one mostly empty is given back first.
    if (text.capacity() - text.size() > text.size() / 4) text.shrink_to_fit();
    return runtime_.string(std::move(text));
}

std::u16string APMPTextBuilder::take() {
    std::u16string text = std::move(text_);
    text_ = std::u16string();
    NSErrorPtr none;
    static_cast<void>(held_.resize(0, none));
    return text;
}

bool APMPValueText::read(const APMPRuntimeValue& value, NSErrorPtr& error) {
    if (value.isString()) {
        value_ = value;
        view_ = value.text();
        return true;
    }
    if (!value.appendText(converted_, error)) return false;
    view_ = converted_.text();
    return true;
}

APMPRuntimeValue APMPValueText::value() {
    if (value_.isString()) return value_;
    view_ = {};
    return converted_.make();
}
