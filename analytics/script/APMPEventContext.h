// One handled event: the event as it came in, the working copy the rules edit, and the events
// the rules created. Reused from event to event.
#pragma once

#include "analytics/script/APMPEvent.h"

#include <memory>
#include <vector>

class APMPEventContext {
public:
    // Created events per handled event; the next one fails the run with the budget error.
    static constexpr std::size_t kMaxCreatedEvents = 100;

    // An input event named "" at time 0 without parameters.
    APMPEventContext();
    explicit APMPEventContext(const std::shared_ptr<APMPEvent>& event);

    const std::shared_ptr<APMPEvent>& inputEvent() const { return inputEvent_; }
    // The input, a copy of it as the output, and no created events.
    void setInputEvent(const std::shared_ptr<APMPEvent>& event);
    const std::shared_ptr<APMPEvent>& outputEvent() const { return outputEvent_; }
    void setOutputEvent(std::shared_ptr<APMPEvent> event) { outputEvent_ = std::move(event); }
    const std::vector<std::shared_ptr<APMPEvent>>& eventsToLog() const { return loggedEvents_; }
    void logEventWithName(const std::string& name, double timestamp, const Value::Dictionary& parameters);

private:
    std::shared_ptr<APMPEvent> inputEvent_;
    std::shared_ptr<APMPEvent> outputEvent_;
    std::vector<std::shared_ptr<APMPEvent>> loggedEvents_;
};
