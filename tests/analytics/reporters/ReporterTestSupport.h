// What the reporters' tests hand them in the engine's place: a recording sink, settings in
// memory, the configuration's switches; and a key window on the manual clock where the shared
// screen-view reporter and ad exposure reporter start fresh and are forgotten afterwards.
#pragma once

#include "analytics/core/APMPersistedConfig.h"
#include "analytics/reporters/APMAdExposureReporter.h"
#include "analytics/reporters/APMReporterContext.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "platform/dispatch/NSRunLoop.h"
#include "tests/analytics/core/LogCapture.h"
#include "tests/analytics/core/MemoryConfigStore.h"
#include "tests/analytics/core/RecordingEventSink.h"
#include "tests/fixtures/KeyWindowTest.h"

class TestReporterContext final : public APMReporterContext {
public:
    std::shared_ptr<APMEventSink> eventSink() override { return sink; }
    std::shared_ptr<APMDatabase> database() override { return nullptr; }
    std::shared_ptr<APMScheduler> scheduler() override { return workerScheduler; }
    std::shared_ptr<APMPersistedConfig> persistedConfig() override { return persisted; }
    double sessionDefaultTimeoutInterval() override { return sessionTimeout; }
    double sessionEventUserEngagementInterval() override { return engagementInterval; }
    bool efficientEngagementReportingEnabled() override { return efficient; }
    bool redundantEngagementRemovalEnabled() override { return redundantRemoval; }
    bool appBackgroundedEventEnabled() override { return backgroundEvent; }
    bool appInBackgroundParameterEnabled() override { return false; }
    std::int32_t maxTrackedCurrencies() override { return 3; }

    std::shared_ptr<RecordingEventSink> sink = std::make_shared<RecordingEventSink>();
    // None unless a test gives the reporters a worker queue.
    std::shared_ptr<APMScheduler> workerScheduler;
    std::shared_ptr<APMPersistedConfig> persisted =
        APMPersistedConfig::initWithSuiteName("reporters", std::make_shared<MemoryConfigStore>());
    double sessionTimeout = 1800;
    double engagementInterval = 3600;
    bool efficient = false;
    bool redundantRemoval = false;
    bool backgroundEvent = false;
};

// The events of `name` a sink was handed.
inline std::vector<std::shared_ptr<APMEvent>> eventsNamed(RecordingEventSink& sink, const std::string& name) {
    std::lock_guard lock(sink.mutex);
    std::vector<std::shared_ptr<APMEvent>> found;
    for (const auto& event : sink.logged) {
        if (event->name() == name) found.push_back(event);
    }
    return found;
}

// An integer parameter of an event (APMValue or plain), or nothing.
std::optional<long long> intParameter(const APMEvent& event, const std::string& key);
std::optional<std::string> stringParameter(const APMEvent& event, const std::string& key);

class ReporterTest : public KeyWindowTest {
protected:
    void SetUp() override {
        KeyWindowTest::SetUp();
        APMScreenViewReporter::resetSharedInstance();
        APMAdExposureReporter::resetSharedInstance();
        reporter = APMScreenViewReporter::sharedInstance();
        reporter->setEventSink(context->sink);
        APMAdExposureReporter::sharedInstance()->setEventSink(context->sink);
    }
    void TearDown() override {
        settle();
        reporter.reset();
        sessions.reset();
        APMScreenViewReporter::resetSharedInstance();
        APMAdExposureReporter::resetSharedInstance();
        LogCapture::flush();
        KeyWindowTest::TearDown();
    }
    // With the engine's session reporter (reporting on).
    void withSessions() {
        sessions = APMSessionReporter::initWithContext(context);
        sessions->setReportingEnabled(true);
        reporter->setEngine(context, sessions);
    }
    // Work handed to the main queue and the reporters' queues has run.
    void settle() {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        if (auto current = APMScreenViewReporter::sharedInstance()) (void)current->screenParameters();
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    std::vector<std::string> names() {
        settle();
        return loggedNames(*context->sink);
    }
    void clearLogged() {
        settle();
        std::lock_guard lock(context->sink->mutex);
        context->sink->logged.clear();
        context->sink->properties.clear();
    }

    std::shared_ptr<TestReporterContext> context = std::make_shared<TestReporterContext>();
    std::shared_ptr<APMScreenViewReporter> reporter;
    std::shared_ptr<APMSessionReporter> sessions;
};
