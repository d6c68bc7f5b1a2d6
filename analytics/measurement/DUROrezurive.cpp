// The front's start.
#include "analytics/measurement/DUROrezurive.h"

#include "analytics/measurement/APMAnalytics.h"
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
