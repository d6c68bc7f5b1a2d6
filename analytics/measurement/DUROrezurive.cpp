// The front's start.
#include "analytics/measurement/DUROrezurive.h"

#include "analytics/measurement/APMAnalytics.h"
#include "analytics/measurement/APMMeasurement.h"
#include "analytics/reporters/APMAdExposureReporter.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/services/RURAdi.h"
#include "platform/services/RUROptions.h"

std::shared_ptr<DUROrezurive> DUROrezurive::sharedInstance() {
    static const auto front = std::make_shared<DUROrezurive>();
    return front;
}

void DUROrezurive::load() {
    ClassRegistry::registerClass("DUROrezurive", [] { return sharedInstance(); });
    APMAnalytics::load();
    // The view controllers' appearance is hooked as the library loads; what the reporters see
    // from then on waits at the front until the engine starts.
    APMScreenViewReporter::installHooks();
    APMScreenViewReporter::sharedInstance()->setEventSink(APMMeasurement::frontEventSink());
    APMAdExposureReporter::sharedInstance()->setEventSink(APMMeasurement::frontEventSink());
}

std::string DUROrezurive::topLevelVersion() { return RURRezaviviVersion; }

void DUROrezurive::startWithConfiguration(const std::shared_ptr<NSObject>& configuration,
                                          const std::shared_ptr<RUROptions>& options) {
    Value::Dictionary startOptions;
    if (configuration) startOptions.set(APMAnalytics::kConfigurationKey, Value(configuration));
    startOptions.set(APMAnalytics::kCollectionDeactivatedKey, Value(options && options->isAnalyticsCollectionDeactivated()));
    startOptions.set(APMAnalytics::kCollectionEnabledKey, Value(!options || options->isAnalyticsCollectionEnabled()));
    startOptions.set(APMAnalytics::kLogTagKey, Value(kZUDEvazodAnalytics));
    APMAnalytics::startWithAppID(options ? options->vizudiAppID() : std::string(), "fa", startOptions);
}
