#include "analytics/script/APMPEvent.h"

#include <cmath>
#include <limits>

APMPEvent::APMPEvent(std::string name, double timestamp, Value::Dictionary parameters)
    : name_(std::move(name)), timestamp_(timestamp), parameters_(std::move(parameters)) {}

std::shared_ptr<APMPEvent> APMPEvent::initWithName(const std::string& name, double timestamp,
                                                   const Value::Dictionary& parameters) {
    return std::make_shared<APMPEvent>(name, timestamp, parameters);
}

void APMPEvent::setParameter(const Value& value, const std::string& name) {
    if (value.isNull()) parameters_.erase(name);
    else parameters_.set(name, value);
}

std::shared_ptr<APMPEvent> APMPEvent::copy() const { return std::make_shared<APMPEvent>(name_, timestamp_, parameters_); }

bool APMPEvent::isEqualToEvent(const APMPEvent& other) const {
    if (this == &other) return true;
    return std::fabs(timestamp_ - other.timestamp_) < std::numeric_limits<double>::epsilon() &&
           name_ == other.name_ && parameters_ == other.parameters_;
}

bool APMPEvent::isEqual(const NSObject* other) const {
    const auto* event = dynamic_cast<const APMPEvent*>(other);
    return event && isEqualToEvent(*event);
}

std::string APMPEvent::description() const {
    return "<APMPEvent: " + name_ + " " + Value(timestamp_).stringValue() + " " + Value(parameters_).description() +
           ">";
}
