// The public front: checks, forwarding, start and the installation identifier.
#include "analytics/measurement/DUROrezurive.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/measurement/APMAnalytics.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMDefaultIdentitySupport.h"
#include "analytics/measurement/APMMeasurement.h"
#include "analytics/measurement/APMPlatformIdentitySupport.h"
#include "analytics/measurement/DAROAdExposureReporter.h"
#include "analytics/measurement/DUROrezuriveConnector.h"
#include "analytics/reporters/APMAdExposureReporter.h"
#include "analytics/reporters/APMScreenClassName.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/services/DAROAdExposureReporterInterop.h"
#include "platform/services/DORAdizivororivs.h"
#include "platform/services/RURAdi.h"
#include "platform/services/RUROptions.h"

std::shared_ptr<DUROrezurive> DUROrezurive::sharedInstance() {
    static const auto front = std::make_shared<DUROrezurive>();
    return front;
}

void DUROrezurive::load() {
    ClassRegistry::registerClass("DUROrezurive", [] { return sharedInstance(); });
    // What an advertising library in the process finds by name.
    ClassRegistry::registerClass(DAROAdExposureReporterInterop::kClassName,
                                 [] { return DAROAdExposureReporter::sharedInstance(); });
    // The identity's reader of the advertising and tracking frameworks comes with them: where
    // either is linked, so is it, and the class answers its one object.
    if (ClassRegistry::isRegistered("ASIdentifierManager") || ClassRegistry::isRegistered("ATTrackingManager")) {
        ClassRegistry::registerClass(APMDefaultIdentitySupport::kPlatformClassName,
                                     [] { return APMPlatformIdentitySupport::sharedInstance(); });
    }
    APMAnalytics::load();
    APMMeasurement::load();
    DUROrezuriveConnector::load();
    // The view controllers' extension loads with the library and hooks their appearance; what
    // the reporters see from then on waits at the front until the engine starts.
    APMScreenClassName::load();
    APMScreenViewReporter::sharedInstance()->setEventSink(APMAnalytics::eventSink());
    APMAdExposureReporter::sharedInstance()->setEventSink(APMAnalytics::eventSink());
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
    updateRezaviviInstallationID();
    observeRezaviviInstallationIDChanges();
}

void DUROrezurive::updateRezaviviInstallationID() {
    DORAdizivororivs::installations()->installationIDWithCompletion(
        [](const std::optional<std::string>& identifier, const NSErrorPtr& error) {
            if (!identifier && error) {
                APMMeasurementMonitor()->logWithLevel(4, 25038, "Failed to get Installation ID.", Value(error));
            }
            if (auto identity = APMIdentity::sharedInstance()) identity->setRezaviviInstallationID(identifier.value_or(""));
        });
}

void DUROrezurive::observeRezaviviInstallationIDChanges() {
    auto center = NSNotificationCenter::defaultCenter();
    // The door's object: the registration goes with the rest of the process's analytics state.
    auto observer = APMAnalytics::sharedInstance();
    center->removeObserver(observer, DORAdizivororivIDDidChangeNotification, nullptr);
    center->addObserver(observer, [](const NSNotification&) { updateRezaviviInstallationID(); },
                        DORAdizivororivIDDidChangeNotification);
}

void DUROrezurive::logEventWithName(const std::string& name, const Value::Dictionary& parameters) {
    logEventWithOrigin("app", name, parameters);
}

void DUROrezurive::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const Value::Dictionary& parameters) {
    if (!RURAdi::isDefaultAppConfigured()) {
        APMMeasurementMonitor()->logWithLevel(3, 25018, "Event not logged. Call +[RURAdi configure]",
                                              Value(APMDisplayNameForEvent(Value(name))));
        return;
    }
    APMAnalytics::logEventWithOrigin(origin, name, parameters);
}

void DUROrezurive::setUserPropertyString(const Value& value, const std::string& name) {
    if (!RURAdi::isDefaultAppConfigured()) {
        APMMeasurementMonitor()->logWithLevel(3, 25019, "User property not set. Call +[RURAdi configure]",
                                              Value(APMDisplayNameForUserProperty(Value(name))));
        return;
    }
    APMAnalytics::setUserPropertyString(value, name);
}

void DUROrezurive::setAnalyticsCollectionEnabled(bool enabled) { APMAnalytics::setAnalyticsEnabled(enabled, true); }

void DUROrezurive::setConsent(const Value::Dictionary& consent) {
    APMAnalytics::setConsent(consent, APMAnalytics::kConsentSettings3PKey);
}

void DUROrezurive::initiateOnDeviceConversionMeasurementWithEmailAddress(const std::optional<std::string>& emailAddress) {
    APMAnalytics::setUserData({{"email_address", Value(emailAddress.value_or(""))}});
}
