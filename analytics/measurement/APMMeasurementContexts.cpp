// What the engine hands the components below it: uploading and bundling, and the libraries of
// audiences, reporters, event-editing programs and experiments. One object answers them all; it
// holds the engine weakly and answers empty (or the defaults) once the engine is gone.
#include "analytics/measurement/APMMeasurement.h"

#include "analytics/audience/APMAudienceContext.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/experiments/APMExperimentContext.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/APMUploader.h"
#include "analytics/reporters/APMReporterContext.h"
#include "analytics/script/APMScriptContext.h"

namespace {

// The front's road for what the libraries make, the write pipeline for what the conditional
// user properties carry; everything is dropped once the engine is gone.
class EngineEventSink final : public APMEventSink {
public:
    EngineEventSink(std::weak_ptr<APMMeasurement> engine, std::shared_ptr<APMEventSink> front)
        : engine_(std::move(engine)), front_(std::move(front)) {}

    bool isEnabled() override {
        auto engine = engine_.lock();
        return engine && engine->isEnabled();
    }
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                    const Value::Dictionary& parameters) override {
        if (reachable()) front_->logInternalEventWithOrigin(origin, name, parameters);
    }
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                    const Value::Dictionary& parameters) override {
        if (reachable()) front_->logInternalEventWithOrigin(origin, name, timestamp, parameters);
    }
    void setInternalUserProperty(const Value& value, const std::string& name, const std::string& origin) override {
        if (reachable()) front_->setInternalUserProperty(value, name, origin);
    }
    void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) override {
        if (auto engine = engine_.lock()) engine->writeEventOnWorkerQueue(event);
    }

private:
    bool reachable() { return front_ && !engine_.expired(); }

    std::weak_ptr<APMMeasurement> engine_;
    std::shared_ptr<APMEventSink> front_;
};

}  // namespace

class APMMeasurement::Context final : public APMUploaderContext,
                                      public APMAudienceContext,
                                      public APMReporterContext,
                                      public APMScriptContext,
                                      public APMExperimentContext {
public:
    Context(std::weak_ptr<APMMeasurement> engine, std::shared_ptr<APMEventSink> front)
        : engine_(engine), eventSink_(std::make_shared<EngineEventSink>(engine, std::move(front))) {}

    // MARK: Shared by all

    std::shared_ptr<APMDatabase> database() override { return with([](APMMeasurement& e) { return e.database(); }); }
    std::shared_ptr<APMScheduler> scheduler() override { return with([](APMMeasurement& e) { return e.scheduler(); }); }
    std::shared_ptr<APMPersistedConfig> persistedConfig() override {
        return with([](APMMeasurement& e) { return e.persistedConfig(); });
    }
    std::shared_ptr<APMEventSink> eventSink() override { return eventSink_; }

    // MARK: Uploading and bundling

    std::shared_ptr<APMRemoteConfig> remoteConfig() override { return APMMeasurement::remoteConfig(); }
    std::shared_ptr<APMIdentity> identity() override { return with([](APMMeasurement& e) { return e.identity(); }); }
    std::shared_ptr<APMMonitor> monitor() override { return APMMeasurement::monitor(); }
    std::shared_ptr<APMAudience> audience() override { return with([](APMMeasurement& e) { return e.audience(); }); }
    std::shared_ptr<APMPBMeasurementBundle> currentRawEventMetadata() override {
        return with([](APMMeasurement& e) { return e.currentRawEventMetadataOnWorkerQueue(); });
    }
    bool setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute) override {
        auto engine = engine_.lock();
        return engine && engine->setUserPropertyInDatabaseOnWorkerQueue(userAttribute);
    }
    // None once the application terminates: what is not sent by then waits for the next launch.
    std::shared_ptr<DIDEderazi> network() override {
        return with([](APMMeasurement& e) { return e.isTerminating() ? nullptr : e.network(); });
    }
    std::shared_ptr<APMAlarm> alarm() override { return with([](APMMeasurement& e) { return e.alarm(); }); }
    bool isTerminating() override {
        auto engine = engine_.lock();
        return engine && engine->isTerminating();
    }
    bool isNetworkRequestPending() override {
        auto engine = engine_.lock();
        return engine && engine->isNetworkRequestPending();
    }
    void setNetworkRequestPending(bool pending) override {
        if (auto engine = engine_.lock()) engine->setIsNetworkRequestPending(pending);
    }
    bool hasBackgroundTask() override {
        auto engine = engine_.lock();
        return engine && engine->hasBackgroundTask();
    }
    void terminateBackgroundTask() override {
        if (auto engine = engine_.lock()) engine->terminateBackgroundTask();
    }
    bool retrievePostponedPSMRequest() override {
        auto engine = engine_.lock();
        return engine && engine->retrievePostponedPSMRequest();
    }

    // MARK: Audiences

    std::int32_t maxAudienceCount() override { return remoteConfig()->maxAudienceCount(); }
    std::int32_t maxFiltersPerAudience() override { return remoteConfig()->maxFiltersPerAudience(); }
    std::int32_t maxFilterResultCount() override { return remoteConfig()->maxFilterResultCount(); }
    std::int32_t maxParametersPerFilter() override { return remoteConfig()->maxParametersPerFilter(); }

    // MARK: Reporters

    double sessionDefaultTimeoutInterval() override { return remoteConfig()->sessionDefaultTimeoutInterval(); }
    double sessionEventUserEngagementInterval() override {
        return remoteConfig()->sessionEventUserEngagementInterval();
    }
    bool efficientEngagementReportingEnabled() override { return remoteConfig()->efficientEngagementReportingEnabled(); }
    bool redundantEngagementRemovalEnabled() override { return remoteConfig()->redundantEngagementRemovalEnabled(); }
    bool appBackgroundedEventEnabled() override { return remoteConfig()->appBackgroundedEventEnabled(); }
    bool appInBackgroundParameterEnabled() override { return remoteConfig()->appInBackgroundParameterEnabled(); }
    std::int32_t maxTrackedCurrencies() override { return remoteConfig()->maxTrackedCurrencies(); }

    // MARK: Event-editing programs

    std::optional<std::string> remoteConfigValueForKey(const std::string& key) override {
        return remoteConfig()->cachedStringValueForKey(key);
    }
    std::optional<std::string> appVersion() override {
        auto identity = identityOrShared();
        if (!identity || identity->appVersion().empty()) return std::nullopt;
        return identity->appVersion();
    }

    // MARK: Experiments

    std::string diversionKey() override {
        auto identity = identityOrShared();
        return identity ? identity->diversionKey() : std::string();
    }
    bool isFromAppStore() override {
        auto identity = identityOrShared();
        return identity && identity->isFromAppStore();
    }
    std::string measurementHost() override { return APMRemoteConfig::measurementHost(); }

private:
    template <class Read>
    auto with(Read read) -> decltype(read(std::declval<APMMeasurement&>())) {
        auto engine = engine_.lock();
        if (!engine) return {};
        return read(*engine);
    }
    // The engine's identity once it made its components, else the process's.
    std::shared_ptr<APMIdentity> identityOrShared() {
        auto identity = this->identity();
        return identity ? identity : APMIdentity::sharedInstance();
    }

    std::weak_ptr<APMMeasurement> engine_;
    std::shared_ptr<EngineEventSink> eventSink_;
};

std::shared_ptr<APMMeasurement::Context> APMMeasurement::makeContext(const std::shared_ptr<APMMeasurement>& engine) {
    return std::make_shared<Context>(engine, engine->front_.eventSink);
}

std::shared_ptr<APMUploaderContext> APMMeasurement::uploaderContext() const { return context_; }
std::shared_ptr<APMEventSink> APMMeasurement::eventSink() const { return context_->eventSink(); }

std::shared_ptr<APMAudienceContext> APMMeasurement::audienceContext() const { return context_; }
std::shared_ptr<APMReporterContext> APMMeasurement::reporterContext() const { return context_; }
std::shared_ptr<APMScriptContext> APMMeasurement::scriptContext() const { return context_; }
std::shared_ptr<APMExperimentContext> APMMeasurement::experimentContext() const { return context_; }
