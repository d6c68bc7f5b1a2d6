// An event sink that records what the measurement side's own components hand it, in the
// engine's place.
#pragma once

#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventSink.h"
#include "platform/foundation/Clock.h"

#include <mutex>
#include <string>
#include <vector>

class RecordingEventSink final : public APMEventSink {
public:
    bool isEnabled() override { return enabled; }
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                    const Value::Dictionary& parameters) override {
        std::lock_guard lock(mutex);
        logged.push_back(APMEvent::initWithOrigin(origin, false, name, Clock::now(), 0, parameters));
    }
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                    const Value::Dictionary& parameters) override {
        std::lock_guard lock(mutex);
        logged.push_back(APMEvent::initWithOrigin(origin, false, name, timestamp, 0, parameters));
    }
    void setInternalUserProperty(const Value& value, const std::string& name, const std::string& origin) override {
        std::lock_guard lock(mutex);
        properties.push_back({name, value, origin});
    }
    void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) override {
        std::lock_guard lock(mutex);
        written.push_back(event);
    }

    struct Property {
        std::string name;
        Value value;
        std::string origin;
    };
    std::mutex mutex;
    bool enabled = true;
    std::vector<std::shared_ptr<APMEvent>> logged;
    std::vector<std::shared_ptr<APMEvent>> written;
    std::vector<Property> properties;
};

// The names of what a sink was handed, in order.
inline std::vector<std::string> loggedNames(RecordingEventSink& sink) {
    std::lock_guard lock(sink.mutex);
    std::vector<std::string> names;
    for (const auto& event : sink.logged) names.push_back(event->name());
    return names;
}
