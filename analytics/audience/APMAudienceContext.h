// What audience evaluation and conditional user properties need of the engine, which
// implements it and hands it in. Everything here runs on the engine's worker queue.
#pragma once

#include <cstdint>
#include <memory>

class APMDatabase;
class APMEventSink;
class APMScheduler;

class APMAudienceContext {
public:
    virtual ~APMAudienceContext() = default;

    // The measurement database, with the filter, result and conditional property tables;
    // empty until the engine made it.
    virtual std::shared_ptr<APMDatabase> database() = 0;
    // The engine's worker queue.
    virtual std::shared_ptr<APMScheduler> scheduler() = 0;
    // Whether the engine collects, and where the events of triggered, timed-out and expired
    // conditional properties are written.
    virtual std::shared_ptr<APMEventSink> eventSink() = 0;

    // Limits of the measurement configuration in force.
    virtual std::int32_t maxAudienceCount() = 0;
    virtual std::int32_t maxFiltersPerAudience() = 0;
    virtual std::int32_t maxFilterResultCount() = 0;
    virtual std::int32_t maxParametersPerFilter() = 0;
};
