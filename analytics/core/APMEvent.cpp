// Events: creation checks and the conversions to and from their message.
#include "analytics/core/APMEvent.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMEventParameters.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBWire.h"

#include <optional>

namespace {

// A time whose milliseconds an int64 holds, as the event's message carries them: finite, and
// within about 292 million years of 1970.
bool isTimeTheWireHolds(double seconds) {
    const double millis = seconds * 1000.0;
    return millis >= -0x1p63 && millis < 0x1p63;
}

// A time in the milliseconds the message carries. A created event's time always fits; a
// previous time read back from a stored row is not checked there, so it is held to the range
// here rather than cast beyond it.
std::int64_t wireMillis(double seconds) {
    const double millis = seconds * 1000.0;
    if (isTimeTheWireHolds(seconds)) return static_cast<std::int64_t>(millis);
    if (millis > 0) return INT64_MAX;
    return millis < 0 ? INT64_MIN : 0;
}

// One parameter message per entry; an array becomes nested item messages only at the top.
Value::Array paramProtosFromParameters(const Value::Dictionary& parameters, const std::string& eventName,
                                       bool nested) {
    Value::Array protos;
    for (const auto& [name, object] : parameters) {
        auto value = object.objectAs<APMValue>();
        if (!value) {
            APMMeasurementMonitor()->logWithLevel(2, 16005, "Invalid event param value. Event name, param name",
                                                  Value(eventName), Value(name));
            continue;
        }
        auto param = APMPBEventParam::make();
        APMPBMessageSetString(param, APMPBEventParam::kName, name);
        if (value->isDouble()) {
            APMPBMessageSetDouble(param, APMPBEventParam::kDoubleValue, value->doubleValue());
        } else if (value->isInt64()) {
            APMPBMessageSetInt64(param, APMPBEventParam::kIntValue, value->int64Value());
        } else if (value->isString()) {
            APMPBMessageSetString(param, APMPBEventParam::kStringValue, *value->stringValue());
        } else if (value->isArray()) {
            if (nested) {
                APMMeasurementMonitor()->logWithLevel(2, 16007,
                                                      "Nested params cannot have more than 1 level. Event name, "
                                                      "param name",
                                                      Value(eventName), Value(name));
                continue;
            }
            Value::Array items;
            for (const Value& item : *value->arrayValue()) {
                auto itemParam = APMPBEventParam::make();
                APMPBMessageSetArray(itemParam, APMPBEventParam::kParamValue,
                                     paramProtosFromParameters(item.dictionary(), eventName, true));
                items.push_back(Value(itemParam));
            }
            APMPBMessageSetArray(param, APMPBEventParam::kParamValue, items);
        }
        protos.push_back(Value(param));
    }
    return protos;
}

// The same parameters as paramProtosFromParameters makes, written as their wire bytes
// (field numbers of EventParam: name 1, string 2, int 3, double 5, items 6).
void appendParams(NSData& out, std::uint32_t field, const Value::Dictionary& parameters, const std::string& eventName,
                  bool nested) {
    for (const auto& [name, object] : parameters) {
        const APMValue* value = object.isObject() ? dynamic_cast<const APMValue*>(object.object().get()) : nullptr;
        if (!value) {
            APMMeasurementMonitor()->logWithLevel(2, 16005, "Invalid event param value. Event name, param name",
                                                  Value(eventName), Value(name));
            continue;
        }
        if (value->isArray() && nested) {
            APMMeasurementMonitor()->logWithLevel(2, 16007,
                                                  "Nested params cannot have more than 1 level. Event name, param name",
                                                  Value(eventName), Value(name));
            continue;
        }
        const std::size_t param = APMPBWire::openField(out, field);
        APMPBWire::appendBytesField(out, 1, name);
        if (value->isDouble()) {
            APMPBWire::appendDoubleField(out, 5, value->doubleValue());
        } else if (value->isInt64()) {
            APMPBWire::appendInt64Field(out, 3, value->int64Value());
        } else if (value->isString()) {
            APMPBWire::appendBytesField(out, 2, *value->stringValue());
        } else if (value->isArray()) {
            for (const Value& item : *value->arrayValue()) {
                const std::size_t itemParam = APMPBWire::openField(out, 6);
                appendParams(out, 6, item.dictionary(), eventName, true);
                APMPBWire::closeField(out, itemParam);
            }
        }
        APMPBWire::closeField(out, param);
    }
}

}  // namespace

APMEvent::APMEvent(std::string origin, std::string name, double timestamp, double previousTimestamp,
                   Value::Dictionary parameters)
    : origin_(std::move(origin)),
      name_(std::move(name)),
      timestamp_(timestamp),
      previousTimestamp_(previousTimestamp),
      parameters_(std::move(parameters)) {}

bool APMEvent::isValidTimestamp(double seconds) {
    const double millis = seconds * 1000.0;
    return millis >= 1 && millis < 0x1p63;
}

std::shared_ptr<APMEvent> APMEvent::initWithOrigin(const std::string& origin, bool isPublic, const std::string& name,
                                                   double timestamp, double previousTimestamp,
                                                   const Value::Dictionary& parameters, Time time) {
    std::int64_t failure = 0;
    if (!APMDataTypeValidator::isValidForwardedEventOrigin(Value(origin), &failure)) {
        if (failure != APMDataTypeValidator::kNotForwardedOrigin) return nullptr;
        if (!APMDataTypeValidator::isValidInternalEventOrigin(Value(origin), nullptr)) return nullptr;
    }
    // A valid public name is a valid internal one (the same length, stricter characters).
    const Value nameValue(name);
    if (isPublic ? !APMDataTypeValidator::isValidPublicEventName(nameValue, nullptr)
                 : !APMDataTypeValidator::isValidInternalEventName(nameValue, nullptr)) {
        return nullptr;
    }
    if (time == Time::Logged ? !isValidTimestamp(timestamp) : !isTimeTheWireHolds(timestamp)) {
        APMMeasurementMonitor()->logWithLevel(3, 16008, "Event not created. Timestamp out of range. Event name, timestamp",
                                              nameValue, Value(timestamp));
        return nullptr;
    }
    if (previousTimestamp > timestamp) {
        APMMeasurementMonitor()->logWithLevel(5, 16002,
                                              "Event created with previous timestamp after current timestamp");
    }
    Value::Dictionary sanitized = APMSanitizeEventParameters(parameters, name, isPublic, false);
    sanitized.set("_o", Value(APMValue::initWithString(Value(origin))));
    auto event = std::make_shared<APMEvent>(origin, name, timestamp, previousTimestamp, std::move(sanitized));
    if (event->shouldValidateParams() && !APMCheckValueAndCurrency(event->parameters_)) event->parameters_.erase("_c");
    return event;
}

std::shared_ptr<APMEvent> APMEvent::initWithEventProto(const std::shared_ptr<APMPBEvent>& proto, Time time) {
    if (!proto) return nullptr;
    const std::string name = APMPBMessageGetString(proto, APMPBEvent::kName).value_or("");
    const double timestamp = static_cast<double>(APMPBMessageGetInt64(proto, APMPBEvent::kTimestampMillis)) / 1000.0;
    const double previous =
        static_cast<double>(APMPBMessageGetInt64(proto, APMPBEvent::kPreviousTimestampMillis)) / 1000.0;
    std::string origin;
    Value::Dictionary parameters;
    for (const Value& item : APMPBMessageGetArray<APMPBEventParam>(proto, APMPBEvent::kParams).value_or(Value::Array{})) {
        auto param = item.objectAs<APMPBEventParam>();
        auto paramName = APMPBMessageGetString(param, APMPBEventParam::kName);
        if (!paramName) {
            APMMeasurementMonitor()->logWithLevel(2, 15000, "Ignoring parameter. Parameter name is nil. Event name",
                                                  Value(name));
            continue;
        }
        if (*paramName == "_o") {
            auto text = APMPBMessageHasField(param, APMPBEventParam::kStringValue)
                            ? APMPBMessageGetString(param, APMPBEventParam::kStringValue)
                            : std::nullopt;
            if (!text) {
                APMMeasurementMonitor()->logWithLevel(
                    2, 15001, "Cannot create an event from event proto. Origin parameter is not a string. Event name",
                    Value(name));
                return nullptr;
            }
            origin = *text;
        } else if (APMPBMessageHasField(param, APMPBEventParam::kStringValue)) {
            parameters.set(*paramName, Value(APMValue::initWithString(
                                           Value(APMPBMessageGetString(param, APMPBEventParam::kStringValue)
                                                     .value_or("")))));
        } else if (APMPBMessageHasField(param, APMPBEventParam::kIntValue)) {
            parameters.set(*paramName,
                           Value(APMValue::initWithInt64(APMPBMessageGetInt64(param, APMPBEventParam::kIntValue))));
        } else if (APMPBMessageHasField(param, APMPBEventParam::kDoubleValue)) {
            parameters.set(*paramName, Value(APMValue::initWithDouble(
                                           APMPBMessageGetDouble(param, APMPBEventParam::kDoubleValue))));
        } else {
            APMMeasurementMonitor()->logWithLevel(5, 15002,
                                                  "Unknown event parameter type from converting an event proto into "
                                                  "APMEvent instance. Event param name",
                                                  Value(*paramName));
        }
    }
    return initWithOrigin(origin, false, name, timestamp, previous, parameters, time);
}

// A copy's time passed its rule when the original was made; only a carried event's can be one
// the logged rule refuses.
std::shared_ptr<APMEvent> APMEvent::copy() const {
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp_, parameters_, Time::Carried);
}

std::shared_ptr<APMEvent> APMEvent::copyWithParameters(const Value::Dictionary& parameters) const {
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp_, parameters, Time::Carried);
}

std::shared_ptr<APMEvent> APMEvent::copyWithPreviousTimestamp(double previousTimestamp) const {
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp, parameters_, Time::Carried);
}

bool APMEvent::isInt64One(const char* parameter) const {
    auto value = parameters_.get(parameter).objectAs<APMValue>();
    return value && value->isInt64() && value->int64Value() == 1;
}

void APMEvent::setInt64One(const char* parameter, bool on) {
    if (on) parameters_.set(parameter, Value(APMValue::initWithInt64(1)));
    else parameters_.erase(parameter);
}

bool APMEvent::isConversion() const { return isInt64One("_c"); }

void APMEvent::setConversion(bool conversion) {
    if (conversion) {
        if (!APMCheckValueAndCurrency(parameters_)) return;
        setInt64One("_c", true);
        auto error = parameters_.get("_err").objectAs<APMValue>();
        if (error && error->isInt64() && error->int64Value() == 10) parameters_.erase("_err");
        return;
    }
    if (!parameters_.contains("_c")) return;
    parameters_.erase("_c");
    APMSetErrorCodeIfAbsent(parameters_, 10);
}

bool APMEvent::isRealtime() const {
    auto value = parameters_.get("_r").objectAs<APMValue>();
    if (!value) return false;
    if (!value->isInt64()) {
        APMMeasurementMonitor()->logWithLevel(2, 16006, "Realtime parameter must be an int64. Event name",
                                              Value(name_));
        return false;
    }
    return value->int64Value() == 1;
}

void APMEvent::setRealtime(bool realtime) { setInt64One("_r", realtime); }

bool APMEvent::isDebug() const { return isInt64One("_dbg"); }

void APMEvent::setDebug(bool debug) { setInt64One("_dbg", debug); }

bool APMEvent::shouldValidateParams() const {
    return isConversion() || name_ == "ad_impression" || name_ == "_ai";
}

void APMEvent::applyParameters(const Value::Dictionary& defaultParameters) {
    if (defaultParameters.empty()) return;
    Value::Dictionary merged = APMSanitizeEventParameters(defaultParameters, std::nullopt, true, false);
    if (merged.empty()) return;
    for (const auto& [name, value] : parameters_) merged.set(name, value);
    parameters_ = std::move(merged);
}

bool APMEvent::addScreenParameters(const Value::Dictionary& screenParameters) {
    if (screenParameters.empty() || APMHasScreenParameters(parameters_)) return false;
    const Value& instance = screenParameters.get("_si");
    std::shared_ptr<APMValue> instanceValue;
    if (auto value = instance.objectAs<APMValue>(); value && value->isInt64()) {
        instanceValue = value;
    } else if (instance.isNumber()) {
        instanceValue = APMValue::initWithInt64(instance.longLongValue());
    } else {
        return false;
    }
    // A screen text arrives plain or as a string value; either must be a valid screen text.
    auto screenText = [](const Value& object) -> std::optional<std::string> {
        if (auto value = object.objectAs<APMValue>()) {
            if (const std::string* text = value->stringValue()) return *text;
            return std::nullopt;
        }
        if (object.isString()) return object.string();
        return std::nullopt;
    };
    std::optional<std::string> screenClass;
    if (const Value* object = screenParameters.find("_sc")) {
        screenClass = screenText(*object);
        if (!screenClass || !APMDataTypeValidator::isValidScreenParameterValue(Value(*screenClass), nullptr)) {
            APMMeasurementMonitor()->logWithLevel(3, 16003, "Received invalid screen class", *object);
            return false;
        }
    }
    std::optional<std::string> screenName;
    if (const Value* object = screenParameters.find("_sn")) {
        screenName = screenText(*object);
        if (!screenName || !APMDataTypeValidator::isValidScreenParameterValue(Value(*screenName), nullptr)) {
            APMMeasurementMonitor()->logWithLevel(3, 16004, "Received invalid screen name", *object);
            return false;
        }
    }
    parameters_.set("_si", Value(instanceValue));
    if (screenClass) parameters_.set("_sc", Value(APMValue::initWithString(Value(*screenClass))));
    if (screenName) parameters_.set("_sn", Value(APMValue::initWithString(Value(*screenName))));
    return true;
}

std::shared_ptr<APMPBEvent> APMEvent::protoEvent() const {
    auto message = APMPBEvent::make();
    APMPBMessageSetString(message, APMPBEvent::kName, name_);
    if (previousTimestamp_ > 2.220446049250313e-16) {
        APMPBMessageSetInt64(message, APMPBEvent::kPreviousTimestampMillis,
                             wireMillis(previousTimestamp_));
    }
    APMPBMessageSetInt64(message, APMPBEvent::kTimestampMillis, wireMillis(timestamp_));
    APMPBMessageSetArray(message, APMPBEvent::kParams, paramProtosFromParameters(parameters_, name_, false));
    return message;
}

NSData APMEvent::encodedProtoEvent(bool withName) const {
    // Event fields in tag order: params 1, name 2, timestamp 3, previous timestamp 4.
    NSData out;
    out.reserve(64 + 32 * parameters_.size());
    appendParams(out, 1, parameters_, name_, false);
    APMAppendEventNameAndTimes(out, withName ? &name_ : nullptr, timestamp_, previousTimestamp_);
    return out;
}

void APMAppendEventNameAndTimes(NSData& out, const std::string* name, double timestamp, double previousTimestamp) {
    if (name) APMPBWire::appendBytesField(out, 2, *name);
    APMPBWire::appendInt64Field(out, 3, wireMillis(timestamp));
    if (previousTimestamp > 2.220446049250313e-16) {
        APMPBWire::appendInt64Field(out, 4, wireMillis(previousTimestamp));
    }
}

bool APMIsErrorEvent(const APMEvent& event) {
    if (event.name().empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 18004, "Cannot check the event name. Name is empty");
        return false;
    }
    return event.name() == "_err";
}

bool APMIsSubscriptionEvent(const APMEvent& event) {
    if (event.name() == "_assc" || event.name() == "_assr") return true;
    if (event.name() != "_iap") return false;
    auto subscription = event.parameters().get("subscription").objectAs<APMValue>();
    return subscription && subscription->isInt64() && subscription->int64Value() == 1;
}

std::int64_t APMCountArrayParameterItems(const APMEvent& event) {
    std::int64_t count = 0;
    for (const auto& [name, object] : event.parameters()) {
        auto value = object.objectAs<APMValue>();
        if (value && value->isArray()) count += static_cast<std::int64_t>(value->arrayValue()->size());
    }
    return count;
}
