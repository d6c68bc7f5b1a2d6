// What the audience library's tests hand it in the engine's place: a database in the test
// home, a worker queue, limits to set, and an event sink that records what it is given.
#pragma once

#include "analytics/audience/APMAudienceContext.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMScheduler.h"
#include "tests/analytics/core/APMDatabaseTestSupport.h"

#include <mutex>
#include <string>
#include <vector>

// The monitor's health sample: where lines of the levels that are never printed (2 and 5) go.
// `clear` forgets what it holds.
inline std::string monitorSample(bool clear = false) {
    auto monitor = APMMeasurementMonitor();
    std::string sample = monitor->monitoringDataForDispatchWithSamplePeriod(-1, 0).value_or("");
    if (clear) monitor->clearMonitoringData();
    return sample;
}
inline bool sampled(const std::string& message) { return monitorSample().find(message) != std::string::npos; }

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

class TestAudienceContext final : public APMAudienceContext {
public:
    std::shared_ptr<APMDatabase> database() override { return database_; }
    std::shared_ptr<APMScheduler> scheduler() override { return scheduler_; }
    std::shared_ptr<APMEventSink> eventSink() override { return sink; }
    std::int32_t maxAudienceCount() override { return maxAudiences; }
    std::int32_t maxFiltersPerAudience() override { return maxFilters; }
    std::int32_t maxFilterResultCount() override { return maxResults; }
    std::int32_t maxParametersPerFilter() override { return maxParameters; }

    std::shared_ptr<APMDatabase> database_;
    std::shared_ptr<APMScheduler> scheduler_;
    std::shared_ptr<RecordingEventSink> sink = std::make_shared<RecordingEventSink>();
    std::int32_t maxAudiences = 50;
    std::int32_t maxFilters = 10;
    std::int32_t maxResults = 200;
    std::int32_t maxParameters = 25;
};
