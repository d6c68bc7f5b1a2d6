// What the automatic reporters (screen views, sessions and engagement, ad exposure, purchases
// and lifetime value, search-ads attribution) need of the engine, which implements it and
// hands it in.
#pragma once

#include <cstdint>
#include <memory>

class APMDatabase;
class APMEventSink;
class APMPersistedConfig;
class APMScheduler;

class APMReporterContext {
public:
    virtual ~APMReporterContext() = default;

    // Whether the engine collects, and the road of the reports: events and user properties
    // through the front.
    virtual std::shared_ptr<APMEventSink> eventSink() = 0;
    // The measurement database (lifetime value totals); empty until the engine made it.
    virtual std::shared_ptr<APMDatabase> database() = 0;
    // The engine's worker queue (the search-ads alarm runs on it).
    virtual std::shared_ptr<APMScheduler> scheduler() = 0;
    // The persisted settings: session number and activity time, the search-ads marks.
    virtual std::shared_ptr<APMPersistedConfig> persistedConfig() = 0;

    // Settings of the measurement configuration in force (seconds for intervals).
    virtual double sessionDefaultTimeoutInterval() = 0;
    virtual double sessionEventUserEngagementInterval() = 0;
    virtual bool efficientEngagementReportingEnabled() = 0;
    virtual bool redundantEngagementRemovalEnabled() = 0;
    virtual bool appBackgroundedEventEnabled() = 0;
    virtual bool appInBackgroundParameterEnabled() = 0;
    virtual std::int32_t maxTrackedCurrencies() = 0;
};
