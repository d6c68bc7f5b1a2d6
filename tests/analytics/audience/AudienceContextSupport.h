// What the audience library's tests hand it in the engine's place: a database in the test
// home, a worker queue, limits to set, and an event sink that records what it is given.
#pragma once

#include "analytics/audience/APMAudienceContext.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMScheduler.h"
#include "tests/analytics/core/APMDatabaseTestSupport.h"
#include "tests/analytics/core/LogCapture.h"
#include "tests/analytics/core/RecordingEventSink.h"

#include <mutex>
#include <string>
#include <vector>


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
