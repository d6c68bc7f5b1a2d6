// A user property that becomes active when its trigger event is logged within a time-out,
// lives for a time to live, and carries the events to log on trigger, time-out and expiry.
#pragma once

#include "analytics/core/APMEvent.h"
#include "analytics/core/APMValue.h"
#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>

class APMConditionalUserProperty : public NSObject {
public:
    static std::shared_ptr<APMConditionalUserProperty> make() { return std::make_shared<APMConditionalUserProperty>(); }

    // A new property with the twelve values; its value and events are copies.
    std::shared_ptr<APMConditionalUserProperty> copy() const {
        auto other = make();
        other->name_ = name_;
        other->origin_ = origin_;
        other->value_ = value_ ? value_->copy() : nullptr;
        other->triggerEventName_ = triggerEventName_;
        other->triggerTimeout_ = triggerTimeout_;
        other->timeToLive_ = timeToLive_;
        other->triggeredEvent_ = triggeredEvent_ ? triggeredEvent_->copy() : nullptr;
        other->timedOutEvent_ = timedOutEvent_ ? timedOutEvent_->copy() : nullptr;
        other->expiredEvent_ = expiredEvent_ ? expiredEvent_->copy() : nullptr;
        other->creationTimestamp_ = creationTimestamp_;
        other->active_ = active_;
        other->triggeredTimestamp_ = triggeredTimestamp_;
        return other;
    }

    const std::string& name() const { return name_; }
    void setName(const std::string& value) { name_ = value; }
    const std::string& origin() const { return origin_; }
    void setOrigin(const std::string& value) { origin_ = value; }
    const std::shared_ptr<APMValue>& value() const { return value_; }
    void setValue(std::shared_ptr<APMValue> value) { value_ = std::move(value); }
    const std::string& triggerEventName() const { return triggerEventName_; }
    void setTriggerEventName(const std::string& value) { triggerEventName_ = value; }
    double triggerTimeout() const { return triggerTimeout_; }
    void setTriggerTimeout(double value) { triggerTimeout_ = value; }
    double timeToLive() const { return timeToLive_; }
    void setTimeToLive(double value) { timeToLive_ = value; }
    const std::shared_ptr<APMEvent>& triggeredEvent() const { return triggeredEvent_; }
    void setTriggeredEvent(std::shared_ptr<APMEvent> event) { triggeredEvent_ = std::move(event); }
    const std::shared_ptr<APMEvent>& timedOutEvent() const { return timedOutEvent_; }
    void setTimedOutEvent(std::shared_ptr<APMEvent> event) { timedOutEvent_ = std::move(event); }
    const std::shared_ptr<APMEvent>& expiredEvent() const { return expiredEvent_; }
    void setExpiredEvent(std::shared_ptr<APMEvent> event) { expiredEvent_ = std::move(event); }
    double creationTimestamp() const { return creationTimestamp_; }
    void setCreationTimestamp(double value) { creationTimestamp_ = value; }
    bool isActive() const { return active_; }
    void setActive(bool value) { active_ = value; }
    double triggeredTimestamp() const { return triggeredTimestamp_; }
    void setTriggeredTimestamp(double value) { triggeredTimestamp_ = value; }

private:
    std::string name_;
    std::string origin_;
    std::shared_ptr<APMValue> value_;
    std::string triggerEventName_;
    double triggerTimeout_ = 0;
    double timeToLive_ = 0;
    std::shared_ptr<APMEvent> triggeredEvent_;
    std::shared_ptr<APMEvent> timedOutEvent_;
    std::shared_ptr<APMEvent> expiredEvent_;
    double creationTimestamp_ = 0;
    bool active_ = false;
    double triggeredTimestamp_ = 0;
};
