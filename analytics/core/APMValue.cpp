// Typed measurement values and their conversion from loose objects.
#include "analytics/core/APMValue.h"

#include "analytics/core/APMMonitor.h"

#include <typeinfo>

APMValue::APMValue(std::int64_t valueType, Value value) : value_(std::move(value)), valueType_(valueType) {}

std::shared_ptr<APMValue> APMValue::valueFromObject(const Value& object) { return valueFromObject(object, false); }

std::shared_ptr<APMValue> APMValue::valueFromObject(const Value& object, bool allowArray) {
    if (object.isNull()) {
        APMMeasurementMonitor()->logWithLevel(0, 35000, "Cannot create Value type with nil value");
        return nullptr;
    }
    if (auto value = object.objectAs<APMValue>()) return value;
    if (object.isString()) return initWithString(object);
    if (object.isNumber()) {
        if (object.isFloatType()) return initWithDouble(object.doubleValue());
        return initWithInt64(object.longLongValue());
    }
    if (object.isArray() && allowArray) return initWithArray(object);
    APMMeasurementMonitor()->logWithLevel(0, 35001,
                                          "Cannot create Value type with unsupported value. The Value has to be "
                                          "NSNumber, NSString or NSArray (if supported). Value",
                                          object);
    return nullptr;
}

std::shared_ptr<APMValue> APMValue::initWithDouble(double value) {
    return std::make_shared<APMValue>(kDouble, Value(value));
}

std::shared_ptr<APMValue> APMValue::initWithInt64(std::int64_t value) {
    return std::make_shared<APMValue>(kInt64, Value(static_cast<long long>(value)));
}

std::shared_ptr<APMValue> APMValue::initWithString(const Value& string) {
    if (string.isNull()) {
        APMMeasurementMonitor()->logWithLevel(0, 35002, "Cannot create String value with nil");
        return nullptr;
    }
    if (!string.isString()) {
        APMMeasurementMonitor()->logWithLevel(0, 35003, "Cannot create String value with non-string value. Value",
                                              string);
        return nullptr;
    }
    return std::make_shared<APMValue>(kString, string);
}

std::shared_ptr<APMValue> APMValue::initWithArray(const Value& array) {
    if (array.isNull()) {
        APMMeasurementMonitor()->logWithLevel(0, 35004, "Cannot create Array value with nil");
        return nullptr;
    }
    if (!array.isArray()) {
        APMMeasurementMonitor()->logWithLevel(0, 35005, "Cannot create Array value with non-array value. Value",
                                              array);
        return nullptr;
    }
    return std::make_shared<APMValue>(kArray, array.deepCopy());
}

std::shared_ptr<APMValue> APMValue::initWithValueType(std::int64_t valueType, const Value& value) {
    return std::make_shared<APMValue>(valueType, value);
}

double APMValue::doubleValue() const { return isDouble() ? value_.doubleValue() : 0.0; }

std::int64_t APMValue::int64Value() const { return isInt64() ? value_.longLongValue() : 0; }

const std::string* APMValue::stringValue() const { return isString() ? &value_.string() : nullptr; }

const Value::Array* APMValue::arrayValue() const { return isArray() ? &value_.array() : nullptr; }

std::shared_ptr<APMValue> APMValue::copy() const { return std::make_shared<APMValue>(valueType_, value_); }

std::string APMValue::description() const { return value_.description(); }

bool APMValue::isEqual(const NSObject* other) const {
    // Only plain values compare: the public front's subclass is equal to nothing, itself included.
    if (!other || typeid(*this) != typeid(APMValue) || typeid(*other) != typeid(APMValue)) return false;
    const auto* value = static_cast<const APMValue*>(other);
    return value->valueType_ == valueType_ && value->value_ == value_;
}

std::size_t APMValue::hash() const { return value_.hash() ^ static_cast<std::size_t>(valueType_ * 31); }
