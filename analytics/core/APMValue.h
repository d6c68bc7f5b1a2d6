// The typed value of the measurement side: exactly one of double, int64, string or array,
// with no conversion across kinds.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>

class APMValue : public NSObject {
public:
    enum Kind : std::int64_t { kDouble = 0, kInt64 = 1, kString = 2, kArray = 3 };

    // Strings, numbers (floating ones as doubles, integers and booleans as int64), arrays when
    // allowed, or an APMValue object itself; anything else is nil and logged.
    static std::shared_ptr<APMValue> valueFromObject(const Value& object);
    static std::shared_ptr<APMValue> valueFromObject(const Value& object, bool allowArray);
    static std::shared_ptr<APMValue> initWithDouble(double value);
    static std::shared_ptr<APMValue> initWithInt64(std::int64_t value);
    static std::shared_ptr<APMValue> initWithString(const Value& string);
    // Holds a copy of the items (dictionaries of name -> APMValue for array parameters).
    static std::shared_ptr<APMValue> initWithArray(const Value& array);
    static std::shared_ptr<APMValue> initWithValueType(std::int64_t valueType, const Value& value);

    const Value& value() const { return value_; }
    std::int64_t valueType() const { return valueType_; }
    bool isDouble() const { return valueType_ == kDouble; }
    bool isInt64() const { return valueType_ == kInt64; }
    bool isString() const { return valueType_ == kString; }
    bool isArray() const { return valueType_ == kArray; }
    double doubleValue() const;
    std::int64_t int64Value() const;
    // Empty unless a string value.
    const std::string* stringValue() const;
    const Value::Array* arrayValue() const;

    std::shared_ptr<APMValue> copy() const;
    std::string description() const override;
    // Equal only to an object of exactly this class, of the same kind, holding an equal object;
    // an object of a subclass is equal to nothing.
    bool isEqual(const NSObject* other) const override;
    std::size_t hash() const override;

    APMValue(std::int64_t valueType, Value value);

private:
    Value value_;
    std::int64_t valueType_ = kDouble;
};

using APMValuePtr = std::shared_ptr<APMValue>;
