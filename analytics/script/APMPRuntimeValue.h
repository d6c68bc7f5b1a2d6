// A value of the event-editing runtime: undefined, null, a boolean or a number held inline; a
// string, array, map, function, statement or return value held on the runtime's heap; break
// and continue; and the hole that marks a missing array element. Conversions, method calls,
// equality and the printing of numbers follow the runtime's rules.
#pragma once

#include "analytics/script/APMPObject.h"
#include "analytics/script/APMPStringValue.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class APMPRuntime;
class APMPScope;
class APMPTextBuilder;

class APMPRuntimeValue {
public:
    enum class Kind : std::uint8_t {
        Undefined,
        Null,
        Boolean,
        Number,
        // Only ever an array element; reads as undefined.
        Hole,
        Break,
        Continue,
        String,
        Array,
        Map,
        Function,
        Statement,
        Return,
    };

    APMPRuntimeValue() = default;
    // Holds a string, array, map, function, statement or return value.
    explicit APMPRuntimeValue(APMPObject* object);
    template <class T>
    explicit APMPRuntimeValue(const APMPRef<T>& object) : APMPRuntimeValue(static_cast<APMPObject*>(object.get())) {}
    APMPRuntimeValue(const APMPRuntimeValue& other) : kind_(other.kind_), payload_(other.payload_) { retain(); }
    APMPRuntimeValue(APMPRuntimeValue&& other) noexcept : kind_(other.kind_), payload_(other.payload_) {
        other.kind_ = Kind::Undefined;
    }
    APMPRuntimeValue& operator=(APMPRuntimeValue other) noexcept {
        std::swap(kind_, other.kind_);
        std::swap(payload_, other.payload_);
        return *this;
    }
    ~APMPRuntimeValue() { release(); }

    static APMPRuntimeValue undefined() { return APMPRuntimeValue(); }
    static APMPRuntimeValue null() { return APMPRuntimeValue(Kind::Null); }
    static APMPRuntimeValue boolean(bool value) {
        APMPRuntimeValue result(Kind::Boolean);
        result.payload_.flag = value;
        return result;
    }
    static APMPRuntimeValue number(double value) {
        APMPRuntimeValue result(Kind::Number);
        result.payload_.number = value;
        return result;
    }
    static APMPRuntimeValue hole() { return APMPRuntimeValue(Kind::Hole); }
    static APMPRuntimeValue breakValue() { return APMPRuntimeValue(Kind::Break); }
    static APMPRuntimeValue continueValue() { return APMPRuntimeValue(Kind::Continue); }

    Kind kind() const { return kind_; }
    bool isUndefined() const { return kind_ == Kind::Undefined; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool isUndefinedOrNull() const { return kind_ == Kind::Undefined || kind_ == Kind::Null; }
    bool isBoolean() const { return kind_ == Kind::Boolean; }
    bool isNumber() const { return kind_ == Kind::Number; }
    bool isHole() const { return kind_ == Kind::Hole; }
    bool isString() const { return kind_ == Kind::String; }
    bool isArray() const { return kind_ == Kind::Array; }
    bool isMap() const { return kind_ == Kind::Map; }
    bool isFunction() const { return kind_ == Kind::Function; }
    bool isStatement() const { return kind_ == Kind::Statement; }
    bool isReturn() const { return kind_ == Kind::Return; }
    // break, continue or return.
    bool isControl() const { return kind_ == Kind::Break || kind_ == Kind::Continue || kind_ == Kind::Return; }
    // Strings, arrays, maps and functions: what addition concatenates and ordering compares as text.
    bool isStringLike() const {
        return kind_ == Kind::String || kind_ == Kind::Array || kind_ == Kind::Map || kind_ == Kind::Function;
    }
    bool isObject() const { return kind_ >= Kind::String; }

    double number() const { return payload_.number; }
    bool booleanFlag() const { return payload_.flag; }
    APMPObject* object() const { return isObject() ? payload_.object : nullptr; }
    template <class T>
    T* as() const {
        return static_cast<T*>(payload_.object);
    }
    // The text of a string value (kind String only).
    const std::u16string& text() const { return as<APMPStringValue>()->text(); }

    // The conversions every value answers; each fails with its code where the kind has none.
    std::u16string stringValueOrError(APMPRuntime& runtime, NSErrorPtr& error) const;
    // The string conversion appended to a text being built (where it is charged and held).
    [[nodiscard]] bool appendText(APMPTextBuilder& text, NSErrorPtr& error) const;
    double doubleValueOrError(APMPRuntime& runtime, NSErrorPtr& error) const {
        return kind_ == Kind::Number ? payload_.number : convertedDouble(runtime, error);
    }
    bool booleanValueOrError(NSErrorPtr& error) const;
    // "boolean", "function", "number", "string", "undefined", else "object".
    std::u16string_view typeOf() const;

    // A method call with unevaluated arguments in the caller's scope.
    APMPRuntimeValue applyWithName(const std::u16string& name, std::span<const APMPRuntimeValue> arguments,
                                   APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) const;

    // Structural equality: numbers equal by value with NaN equal to NaN, arrays and maps by
    // their elements and properties, everything else by identity (functions also by a shared
    // non-empty name). Containers met again on the way (cycles) compare by identity.
    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const;
    // The same object, or the same inline value.
    bool isSameValue(const APMPRuntimeValue& other) const;

private:
    explicit APMPRuntimeValue(Kind kind) : kind_(kind) {}
    double convertedDouble(APMPRuntime& runtime, NSErrorPtr& error) const;
    void retain() const {
        if (isObject()) payload_.object->retain();
    }
    void release() const {
        if (isObject()) payload_.object->release();
    }

    Kind kind_ = Kind::Undefined;
    union Payload {
        double number;
        bool flag;
        APMPObject* object;
    } payload_{};
};

// ToInteger: truncation toward zero, NaN as 0, infinities kept.
double APMPToInteger(double value);
// ToUint32: NaN and infinities as 0, otherwise truncation toward zero modulo 2^32.
std::uint32_t APMPToUint32(double value);
// A double as a 64-bit integer without undefined behaviour: NaN as 0, out of range (infinities
// included) saturated to the nearest end.
std::int64_t APMPSaturatingInt64(double value);
// White space or a line break (what string trimming removes).
bool APMPIsBlank(char16_t unit);
// A string's number: blanks trimmed, "" as 0, "NaN", "Infinity", "-Infinity", otherwise the
// whole text read as a decimal number, else NaN.
double APMPNumberFromString(std::u16string_view text);
// "NaN", "Infinity", "-Infinity", "0" for both zeros; otherwise the shortest digits that read
// back as the same number, in decimal style when 1e-6 <= |x| < 1e21 and in scientific style
// ("1.5e+21", "1e-7") outside.
std::string APMPStringFromNumber(double value);
std::u16string APMPWiden(std::string_view ascii);
// UTF-16 to UTF-8 (an unpaired surrogate as U+FFFD) and back.
std::string APMPUTF8(std::u16string_view text);
std::u16string APMPUTF16(std::string_view text);
