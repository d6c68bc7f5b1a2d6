// User properties and their upload message.
#include "analytics/core/APMUserAttribute.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBUserAttribute.h"

APMUserAttribute::APMUserAttribute(std::string origin, std::string name, std::shared_ptr<APMValue> value,
                                   double lastSetTimestamp)
    : origin_(std::move(origin)), name_(std::move(name)), value_(std::move(value)), lastSetTimestamp_(lastSetTimestamp) {}

std::shared_ptr<APMUserAttribute> APMUserAttribute::initWithOrigin(const std::string& origin, const std::string& name,
                                                                   const std::shared_ptr<APMValue>& value,
                                                                   double lastSetTimestamp) {
    if (!APMDataTypeValidator::isValidInternalUserAttributeName(Value(name), nullptr)) return nullptr;
    if (!APMDataTypeValidator::isValidInternalUserAttributeValue(value ? Value(value) : Value(), name, nullptr)) {
        return nullptr;
    }
    return std::make_shared<APMUserAttribute>(origin, name, value, lastSetTimestamp);
}

bool APMUserAttribute::isPublic() const { return !name_.empty() && name_[0] != '_'; }

std::shared_ptr<APMPBUserAttribute> APMUserAttribute::protoUserAttribute() const {
    auto message = APMPBUserAttribute::make();
    APMPBMessageSetString(message, APMPBUserAttribute::kName, name_);
    if (value_) {
        if (value_->isDouble()) {
            APMPBMessageSetDouble(message, APMPBUserAttribute::kDoubleValue, value_->doubleValue());
        } else if (value_->isInt64()) {
            APMPBMessageSetInt64(message, APMPBUserAttribute::kIntValue, value_->int64Value());
        } else if (const std::string* text = value_->stringValue()) {
            APMPBMessageSetString(message, APMPBUserAttribute::kStringValue, *text);
        }
    }
    APMPBMessageSetInt64(message, APMPBUserAttribute::kSetTimestampMillis,
                         static_cast<std::int64_t>(lastSetTimestamp_ * 1000.0));
    return message;
}
