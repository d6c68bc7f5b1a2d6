#include "analytics/script/APMPEventContext.h"

APMPEventContext::APMPEventContext() : APMPEventContext(APMPEvent::initWithName("", 0, {})) {}

APMPEventContext::APMPEventContext(const std::shared_ptr<APMPEvent>& event) { setInputEvent(event); }

void APMPEventContext::setInputEvent(const std::shared_ptr<APMPEvent>& event) {
    inputEvent_ = event;
    outputEvent_ = event->copy();
    loggedEvents_.clear();
}

void APMPEventContext::logEventWithName(const std::string& name, double timestamp, const Value::Dictionary& parameters) {
    loggedEvents_.push_back(APMPEvent::initWithName(name, timestamp, parameters));
}
