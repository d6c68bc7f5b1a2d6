// A text a command builds outside the heap (a join, a concatenation, a replacement, a value's
// string conversion): its memory is held against the run's live limit before it grows and each
// unit copied into it is charged to the run's budget (error 18 past either), and it never grows
// longer than a string may be (error 10 past that).
#pragma once

#include "analytics/script/APMPRuntime.h"

#include <string>
#include <string_view>

class APMPTextBuilder {
public:
    explicit APMPTextBuilder(APMPRuntime& runtime) : runtime_(runtime), held_(runtime) {}
    APMPTextBuilder(const APMPTextBuilder&) = delete;
    APMPTextBuilder& operator=(const APMPTextBuilder&) = delete;

    // Room for `units` in all, taken at once.
    [[nodiscard]] bool reserve(std::size_t units, NSErrorPtr& error);
    [[nodiscard]] bool append(std::u16string_view text, NSErrorPtr& error);

    // Written in place only within the room reserved.
    std::u16string& text() { return text_; }
    const std::u16string& text() const { return text_; }
    std::size_t size() const { return text_.size(); }
    APMPRuntime& runtime() const { return runtime_; }

    // The text as a string value, which the heap counts from then on; the builder is empty after.
    APMPRuntimeValue make();
    // The text for a caller that reads it at once; no longer held, the builder empty after.
    std::u16string take();

private:
    // Capacity for `units`, held before it is taken.
    [[nodiscard]] bool room(std::size_t units, NSErrorPtr& error);

    APMPRuntime& runtime_;
    APMPRuntime::Held held_;
    std::u16string text_;
};

// A value's string conversion for a command to read: a string's own text where it stands (no
// copy), any other value's built and held while this lives.
class APMPValueText {
public:
    explicit APMPValueText(APMPRuntime& runtime) : converted_(runtime) {}

    [[nodiscard]] bool read(const APMPRuntimeValue& value, NSErrorPtr& error);
    std::u16string_view view() const { return view_; }
    // A string value of the text: the value itself when it was a string.
    APMPRuntimeValue value();

private:
    APMPRuntimeValue value_;
    APMPTextBuilder converted_;
    std::u16string_view view_;
};
