// The road of every event on the worker queue to a raw event row: the enabled check, the
// allowlist, subscription de-duplication, feature-rollout markers, the block list, conversion
// marks, the daily limits, real-time marks, the per-name aggregate row with its cardinality
// limit, the raw-event metadata and the stored-events limit, in one transaction per event.
#include "analytics/measurement/APMMeasurement.h"

#include "analytics/audience/APMConditionalUserPropertyController.h"
#include "analytics/core/APMDailyCounts.h"
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMKeychainWrapper.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMEnvironmentInfo.h"
#include "analytics/measurement/APMErrorEvent.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMMeasurementNames.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/APMUploader.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBUserAttribute.h"
#include "analytics/script/APMEventEditConversion.h"
#include "analytics/script/APMPEventEditing.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

constexpr std::int64_t kErrorEventNameLimitReached = 8;
constexpr std::int64_t kErrorEventBlocklisted = 11;
constexpr std::int64_t kErrorPublicEventLimitReached = 16;
// A flood over a daily limit is logged at the limit and then at every thousandth event.
constexpr std::int64_t kLimitLogInterval = 1000;

const std::string* stringParameter(const APMEvent& event, const char* name) {
    const Value& value = event.parameters().get(name);
    auto typed = value.isObject() ? value.objectAs<APMValue>() : nullptr;
    return typed ? typed->stringValue() : nullptr;
}

Value displayName(const APMEvent& event) { return Value(APMDisplayNameForEvent(Value(event.name()))); }

}  // namespace

void APMMeasurement::raiseThinnedLimit(std::int64_t overBy, std::int64_t level, std::int64_t code,
                                       const std::string& message, const Value& context1, const Value& context2) {
    if (overBy % kLimitLogInterval == 0) monitor()->logWithLevel(level, code, message, context1, context2);
}

// MARK: Before the block list

void APMMeasurement::handleEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("handleEventOnWorkerQueue");
    if (!isEnabled()) {
        monitor()->logWithLevel(7, 23049, "Analytics is disabled. Event not logged");
        return;
    }
    auto allowed = eventAfterSafelistingEvent(event);
    if (!allowed) return;
    processSessionFromEvent(allowed);
    if (!dedupeSubscriptionEvent(allowed)) return;
    std::vector<std::shared_ptr<APMEvent>> conditionalEvents;
    if (auto controller = conditionalUserPropertyController()) {
        auto triggered = controller->processEventOnWorkerQueue(allowed);
        if (triggered) {
            conditionalEvents = std::move(*triggered);
        } else {
            monitor()->logWithLevel(4, 23050, "Unable to process conditional user property. Event name, origin",
                                    displayName(*allowed), Value(allowed->origin()));
        }
    }
    if (shouldDropDuplicatedSessionStartWithRolloutEvent(allowed)) return;
    auto marked = appExceptionEventWithRezaviviFeatureRollouts(allowed);
    if (!marked) return;
    writeEventOnWorkerQueue(marked);
    writeSessionStartEventOnWorkerQueue(marked);
    for (const auto& conditional : conditionalEvents) writeEventOnWorkerQueue(conditional);
    uploader_->updateSchedule();
}

std::shared_ptr<APMEvent> APMMeasurement::eventAfterSafelistingEvent(const std::shared_ptr<APMEvent>& event) {
    if (safelistedEvents_.empty()) return event;
    if (std::find(safelistedEvents_.begin(), safelistedEvents_.end(), event->name()) == safelistedEvents_.end()) {
        monitor()->logWithLevel(3, 23174, "Event dropped. Reason: not in allowlist. Event name, origin",
                                displayName(*event), Value(event->origin()));
        return nullptr;
    }
    Value::Dictionary parameters = event->parameters();
    parameters.set("va_safelisted", Value(APMValue::initWithInt64(1)));
    return event->copyWithParameters(parameters);
}

bool APMMeasurement::dedupeSubscriptionEvent(const std::shared_ptr<APMEvent>& event) {
    if (!APMIsSubscriptionEvent(*event)) return true;
    const Value& identifier = event->parameters().get("_did");
    auto typed = identifier.isObject() ? identifier.objectAs<APMValue>() : nullptr;
    if (!typed || !typed->isInt64()) return true;
    auto log = monitor();
    auto database = this->database();
    const std::string* productID = stringParameter(*event, "product_id");
    const Value product = productID ? Value(*productID) : Value();
    NSErrorPtr error;
    const std::optional<bool> fresh = database->insertIfNotDuplicateSubscriptionID(std::to_string(typed->int64Value()), &error);
    if (!fresh) {
        if (error) log->logWithLevel(2, 23181, "Failed to save subscription ID. Product ID, error", product, Value(error));
        return true;
    }
    if (!*fresh) {
        log->logWithLevel(4, 23182, "Event dropped. Reason: Subscription purchase is a duplicate. Product ID", product);
        return false;
    }
    error.reset();
    const std::optional<std::int64_t> deleted = database->deleteSubscriptionsOverLimit(&error);
    if (!deleted) {
        log->logWithLevel(5, 23183, "Failed to delete older subscription records. Error", Value(error));
        return !error;
    }
    if (*deleted != 0) {
        log->logWithLevel(5, 23184, "Deleted older subscription records beyond limit", Value(static_cast<long long>(*deleted)));
    }
    return true;
}

bool APMMeasurement::shouldDropDuplicatedSessionStartWithRolloutEvent(const std::shared_ptr<APMEvent>& event) {
    if (event->name() != "_ssr") return false;
    const Value& rollouts = event->parameters().get("_ffr");
    auto typed = rollouts.isObject() ? rollouts.objectAs<APMValue>() : nullptr;
    const std::string* text = typed ? typed->stringValue() : nullptr;
    const std::optional<std::string> stored = persistedConfig_->rezaviviFeatureRollouts();
    const bool duplicate = stored ? (text && *text == *stored) : (!text || text->empty());
    if (duplicate) {
        monitor()->logWithLevel(8, 23191, "Feature rollouts value is a duplicate, dropping event");
        return true;
    }
    persistedConfig_->setRezaviviFeatureRollouts(text && !text->empty() ? std::optional<std::string>(*text) : std::nullopt);
    if (!rollouts.isNull() && !text) {
        monitor()->logWithLevel(2, 23190, "Unable to process rezavivi feature rollouts, value is not a string.");
    }
    return false;
}

std::shared_ptr<APMEvent> APMMeasurement::appExceptionEventWithRezaviviFeatureRollouts(
    const std::shared_ptr<APMEvent>& event) {
    if (event->name() != "_ae") return event;
    const std::optional<std::string> stored = persistedConfig_->rezaviviFeatureRollouts();
    if (!stored) return event;
    Value::Dictionary parameters = event->parameters();
    parameters.set("_ffr", Value(APMValue::initWithString(Value(*stored))));
    return event->copyWithParameters(parameters);
}

void APMMeasurement::writeSessionStartEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) {
    if (event->name() != "_s") return;
    const std::optional<std::string> stored = persistedConfig_->rezaviviFeatureRollouts();
    if (!stored) return;
    if (auto marker = APMEvent::initWithOrigin("auto", false, "_ssr", Clock::now(), 0,
                                               {{"_ffr", Value(APMValue::initWithString(Value(*stored)))}})) {
        writeEventOnWorkerQueue(marker);
    }
}

// MARK: Block list and the storing transaction

void APMMeasurement::writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("writeEventOnWorkerQueue");
    auto log = monitor();
    // The parameters' description costs more than the event: only when it is printed.
    if (log->isLoggableLevel(7)) {
        log->logWithLevel(7, 23051, "Logging event: origin, name, params", Value(event->origin()), displayName(*event),
                          Value(APMDescriptionForParameters(Value(event->parameters()))));
    }
    auto config = remoteConfig();
    if (config->isEventBlocklisted(event->name())) {
        log->logWithLevel(5, 23052, "Rejected event. Event name", displayName(*event));
        if (!config->blocklistInternal() && !config->blocklistPublic() && APMIsNotErrorEventName(event->name())) {
            APMLogErrorEventWithValue(*front_.eventSink, kErrorEventBlocklisted, Value(event->name()),
                                      kAPMMaxEventNameLength, Value(event->name()));
        }
        return;
    }
    if (!config->eesFeatureEnabled()) {
        writeFilteredEventOnWorkerQueue(event);
        return;
    }
    editAndWriteEventOnWorkerQueue(event, config->eventEditing());
}

void APMMeasurement::editAndWriteEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event,
                                                     const std::shared_ptr<APMPEventEditing>& editing) {
    if (!editing) {
        writeFilteredEventOnWorkerQueue(event);
        return;
    }
    NSErrorPtr error;
    static_cast<void>(editing->handleEvent(event->editEvent(), &error));
    if (error) {
        writeFilteredEventOnWorkerQueue(event);
        monitor()->logWithLevel(1, 23223, "Event editing failed. Event name", displayName(*event));
        return;
    }
    const APMPEventContext& context = editing->eventContext();
    std::shared_ptr<APMEvent> output = event;
    if (editing->hasEdits() && context.outputEvent()) {
        // An edit that leaves no valid event (an empty or malformed name) stores the event as it came.
        if (auto edited = APMEvent::eventFromEditEvent(*context.outputEvent())) output = std::move(edited);
    }
    writeFilteredEventOnWorkerQueue(output);
    for (const auto& created : context.eventsToLog()) {
        if (auto made = APMEventFromCreatedEvent(*created)) writeFilteredEventOnWorkerQueue(made);
    }
}

void APMMeasurement::writeFilteredEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("writeFilteredEventOnWorkerQueue");
    auto log = monitor();
    auto database = this->database();
    auto identity = this->identity();
    // Without its components (the start failed) measurement is off and said so once.
    if (!database || !identity) {
        log->logWithLevel(7, 23049, "Analytics is disabled. Event not logged");
        return;
    }
    identity->updateIdentifiers();
    if (APMIsDefaultConversionEventName(event->name())) event->setConversion(true);
    afterCommit_ = {};
    const bool committed = database->performTransaction([&] {
        if (!updateLifetimeValueWithEvent(event)) return false;
        const bool isPublic = APMIsPublicName(Value(event->name()));
        NSErrorPtr error;
        auto counts = database->dailyCounts(&error);
        if (!counts) {
            log->logWithLevel(1, 23054, "Data loss. Unable to query daily event counts. Error", Value(error));
            return false;
        }
        const bool process = shouldProcessEvent(event, *counts, isPublic);
        const bool realtime = isRealtimeEvent(event, *counts);
        error.reset();
        if (!database->updateDailyCounts(counts, &error)) {
            log->logWithLevel(1, 23061, "Data loss. Unable to update daily event counts. Name, error",
                              displayName(*event), Value(error));
            return false;
        }
        return !process || writeEvent(event, isPublic, realtime);
    });
    // What the stored event decided about the settings and the keychain holds only once it is
    // committed: a rolled-back first open leaves no trace there.
    const AfterCommit decided = afterCommit_;
    afterCommit_ = {};
    if (!committed) {
        if (event->name() == "_f") firstOpenWriteFailed_ = true;
        return;
    }
    if (decided.unmatchedFirstOpen) persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(true);
    if (decided.firstOpenConsentedTimestamp) logFirstOpenConsentedEvent(*decided.firstOpenConsentedTimestamp);
    if (decided.storedFirstOpen) {
        const std::string bundleIdentifier = NSBundle::mainBundle()->bundleIdentifier();
        const auto stored = APMKeychainWrapper::keychainValueWithIdentifier("_pfo", bundleIdentifier);
        long long count = stored ? std::strtoll(stored->c_str(), nullptr, 10) : 0;
        if (count < 0) count = 0;
        if (count < std::numeric_limits<long long>::max()) ++count;
        (void)APMKeychainWrapper::upsertKeychainValue(Value(std::to_string(count)), "_pfo", bundleIdentifier);
    }
}

bool APMMeasurement::shouldProcessEvent(const std::shared_ptr<APMEvent>& event, APMDailyCounts& dailyCounts,
                                        bool isPublicEvent) {
    auto config = remoteConfig();
    const std::int32_t day = database()->currentDay();
    if (dailyCounts.day() != day) dailyCounts.resetWithNewDay(day);
    const std::int64_t maxEvents = config->maxEventsPerDay();
    const bool allOver = dailyCounts.allEventsCount() >= maxEvents;
    const bool isError = APMIsErrorEvent(*event);
    bool refused = false;
    if (allOver) {
        raiseThinnedLimit(dailyCounts.allEventsCount() - maxEvents, 1, 23055, "Data loss. Too many events logged. Name, limit",
                          displayName(*event), Value(static_cast<long long>(maxEvents)));
        refused = true;
    } else if (isError) {
        const std::int64_t maxErrors = config->maxErrorEventsPerDay();
        if (dailyCounts.errorEventsCount() >= maxErrors) {
            raiseThinnedLimit(dailyCounts.errorEventsCount() - maxErrors, 1, 23056,
                              "Too many error events logged. Error code, limit", event->parameters().get("_err"),
                              Value(static_cast<long long>(maxErrors)));
            refused = true;
        }
    } else if (isPublicEvent) {
        const std::int64_t maxPublic = config->maxPublicEventsPerDay();
        if (dailyCounts.publicEventsCount() >= maxPublic) {
            raiseThinnedLimit(dailyCounts.publicEventsCount() - maxPublic, 1, 23057,
                              "Data loss. Too many public events logged. Name, limit", displayName(*event),
                              Value(static_cast<long long>(maxPublic)));
            APMLogErrorEvent(*front_.eventSink, kErrorPublicEventLimitReached);
            refused = true;
        }
    }
    if (isError) {
        dailyCounts.incrementErrorEventsCountForCurrentDay(day);
    } else {
        dailyCounts.incrementCountsForCurrentDay(day, isPublicEvent, false,
                                                 static_cast<std::int32_t>(1 + APMCountArrayParameterItems(*event)));
    }
    // A refused event does not use up the allowance of all events (its own kind's count stays).
    if (!allOver && refused) dailyCounts.decrementAllEventsCount();
    return !refused;
}

bool APMMeasurement::isRealtimeEvent(const std::shared_ptr<APMEvent>& event, APMDailyCounts& dailyCounts) {
    auto config = remoteConfig();
    const bool countsAgainstLimit = APMUploader::isRealtimeLimitedEvent(event->name(), monitor()->isDebugModeEnabled());
    const std::int64_t maxRealtime = config->maxRealtimeEventCountPerDay();
    const bool conversion = event->isConversion() || config->isEventCustomConversion(event->name());
    const bool urgent = conversion && (dailyCounts.realtimeCount() < maxRealtime || !countsAgainstLimit);
    if (event->isRealtime() && countsAgainstLimit && dailyCounts.realtimeCount() >= maxRealtime) {
        event->setRealtime(false);
        monitor()->logWithLevel(4, 23060, "Too many real-time events. Event is no longer real-time. Event name, parameters",
                                displayName(*event), Value(event->parameters()));
    }
    maybeAddDebugAndRealtimeParameters(event);
    return urgent || event->isRealtime();
}

void APMMeasurement::maybeAddDebugAndRealtimeParameters(const std::shared_ptr<APMEvent>& event) {
    auto log = monitor();
    if (!log->isDebugModeEnabled()) return;
    event->setRealtime(true);
    event->setDebug(true);
    log->logWithLevel(7, 23073, "Debug mode is enabled. Marking event as debug and real-time. Event name, parameters",
                      displayName(*event), Value(event->parameters()));
}

bool APMMeasurement::writeEvent(const std::shared_ptr<APMEvent>& event, bool isPublicEvent, bool isRealtime) {
    auto log = monitor();
    auto database = this->database();
    NSErrorPtr error;
    const std::optional<bool> aggregated = database->hasEventAggregatesWithName(event->name(), &error);
    if (!aggregated) {
        log->logWithLevel(1, 23063, "Cannot query event aggregates. Name, error", displayName(*event), Value(error));
        return false;
    }
    if (!*aggregated) {
        if (isPublicEvent) {
            const std::optional<std::int64_t> names = database->publicEventCount(&error);
            if (!names) {
                log->logWithLevel(1, 23064, "Cannot query event count. Error", Value(error));
                return false;
            }
            if (*names >= remoteConfig()->maxEventNameCardinality()) {
                log->logWithLevel(1, 23065, "Cannot set event. Reached limit on set events. Name", displayName(*event));
                APMLogErrorEvent(*front_.eventSink, kErrorEventNameLimitReached);
                return false;
            }
        }
        auto fresh = APMEventAggregates::initWithName(event->name(), 0, 0, 0, 0);
        if (!fresh || !database->updateEventAggregates(fresh, &error)) {
            log->logWithLevel(1, 23066, "Data loss. Cannot record event aggregates. Error", Value(error));
            return false;
        }
    }
    if (identity()->shouldSetLastAdvertisingIDResetUserProperty()) setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    error.reset();
    auto attributes = database->userAttributesIncludingInternal(true, &error);
    if (!attributes && error) {
        log->logWithLevel(1, 23067, "Data loss. Cannot query user properties. Error", Value(error));
        return false;
    }
    const auto metadata =
        rawEventMetadataWithUserAttributes(attributes.value_or(std::vector<std::shared_ptr<APMUserAttribute>>{}));
    if (metadata && metadata->hasResettableDeviceID) {
        if (persistedConfig_->unmatchedFirstOpenWithoutIDFA()) afterCommit_.firstOpenConsentedTimestamp = event->timestamp();
    } else if (event->name() == "_f") {
        afterCommit_.unmatchedFirstOpen = true;
    }
    if (!metadata || !database->insertIfNotExistsRawEventMetadata(metadata->bytes, metadata->fingerprint, &error)) {
        log->logWithLevel(1, 23068, "Data loss. Cannot record event metadata. Error", Value(error));
        return false;
    }
    const std::int64_t fingerprint = metadata->fingerprint;
    const std::optional<std::int64_t> deleted = database->deleteRawEventsOverAbsoluteLimit(&error);
    if (!deleted && error) {
        log->logWithLevel(1, 23069, "Data loss. Unable to check raw event storage limit. Error", Value(error));
        return false;
    }
    if (deleted.value_or(0) != 0) {
        log->logWithLevel(4, 23070, "Data loss. Too many events stored on disk. Deleted count",
                          Value(static_cast<long long>(*deleted)));
    }
    if (!database->insertRawEvent(event, fingerprint, isRealtime, &error)) {
        log->logWithLevel(1, 23071, "Data loss. Cannot record raw event. Error", Value(error));
        return false;
    }
    if (event->name() == "_f") afterCommit_.storedFirstOpen = true;
    if (log->isLoggableLevel(7)) {
        log->logWithLevel(7, 23072, "Event logged. Event name, event params", displayName(*event),
                          Value(APMDescriptionForParameters(Value(event->parameters()))));
    }
    return true;
}

std::optional<APMMeasurement::RawEventMetadata> APMMeasurement::rawEventMetadataWithUserAttributes(
    const std::vector<std::shared_ptr<APMUserAttribute>>& userAttributes) {
    // What the metadata is made from, read first: while all of it stays the same, so does the
    // metadata, and the message is neither built nor encoded again.
    auto identity = this->identity();
    auto environment = APMEnvironmentInfo::sharedInstance();
    APMIdentity::DeviceValues device = identity->deviceValues();
    std::optional<std::string> vendorID = identity->identifierForVendor(device);
    RawEventMetadataSource source{identity,
                                  identity->rezaviviInstallationID(),
                                  APMConsentSettingsUtil::consentSignals(),
                                  remoteConfig()->gateIDFAOnATTMASEnabled(),
                                  std::move(device),
                                  std::move(vendorID),
                                  environment->deviceModel(),
                                  environment->deviceOSVersion(),
                                  environment->timeZoneOffsetMinutes(),
                                  environment->userDefaultLanguage(),
                                  userAttributes};
    if (lastRawEventMetadata_ && lastRawEventMetadata_->first == source) return lastRawEventMetadata_->second;
    auto message = createRawEventMetadataWithUserAttributes(userAttributes);
    auto bytes = message ? message->protoBuffer() : std::nullopt;
    if (!bytes) {
        lastRawEventMetadata_.reset();
        return std::nullopt;
    }
    RawEventMetadata metadata{std::move(*bytes), 0,
                              APMPBMessageHasField(message, APMPBMeasurementBundle::kResettableDeviceId)};
    metadata.fingerprint = apm_64LSBMD5(metadata.bytes);
    lastRawEventMetadata_.emplace(std::move(source), metadata);
    return metadata;
}

std::shared_ptr<APMPBMeasurementBundle> APMMeasurement::createRawEventMetadataWithUserAttributes(
    const std::vector<std::shared_ptr<APMUserAttribute>>& userAttributes) {
    auto identity = this->identity();
    auto environment = APMEnvironmentInfo::sharedInstance();
    auto metadata = APMPBMeasurementBundle::make();
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kPlatform, "ios");
    APMPBMessageSetInt32(metadata, APMPBMeasurementBundle::kProtocolVersion, 1);
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kAppId, identity->appID());
    if (!identity->isFromAppStore()) APMPBMessageSetString(metadata, APMPBMeasurementBundle::kAppStore, "manual_install");
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kAppVersion, identity->appVersion());
    if (const auto vuv = identity->appIDFromVUV(); vuv && !vuv->empty()) {
        APMPBMessageSetString(metadata, APMPBMeasurementBundle::kVuvAppId, *vuv);
    } else if (const auto zeviv = identity->appIDFromZeViv(); zeviv && !zeviv->empty()) {
        APMPBMessageSetString(metadata, APMPBMeasurementBundle::kZevivAppId, *zeviv);
    }
    APMPBMessageSetInt64(metadata, APMPBMeasurementBundle::kLibraryVersion, APMIdentity::zevUzeviroredaLibraryVersion());
    if (const std::string installation = identity->rezaviviInstallationID(); !installation.empty()) {
        APMPBMessageSetString(metadata, APMPBMeasurementBundle::kRezaviviInstallationId, installation);
    }
    if (const auto major = identity->appVersionMajor()) {
        APMPBMessageSetInt32(metadata, APMPBMeasurementBundle::kAppVersionMajor, *major);
    }
    if (const auto minor = identity->appVersionMinor()) {
        APMPBMessageSetInt32(metadata, APMPBMeasurementBundle::kAppVersionMinor, *minor);
    }
    if (const auto release = identity->appVersionRelease()) {
        APMPBMessageSetInt32(metadata, APMPBMeasurementBundle::kAppVersionRelease, *release);
    }
    APMUploader::stampIdentity(metadata, APMConsentSettingsUtil::consentSignals(),
                               remoteConfig()->gateIDFAOnATTMASEnabled(), *identity);
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kDeviceModel, environment->deviceModel());
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kOsVersion, environment->deviceOSVersion());
    APMPBMessageSetInt32(metadata, APMPBMeasurementBundle::kTimezoneOffsetMinutes, environment->timeZoneOffsetMinutes());
    if (const auto language = environment->userDefaultLanguage()) {
        APMPBMessageSetString(metadata, APMPBMeasurementBundle::kUserDefaultLanguage, *language);
    }
    if (!userAttributes.empty()) {
        Value::Array protos;
        protos.reserve(userAttributes.size());
        for (const auto& attribute : userAttributes) {
            if (auto proto = attribute->protoUserAttribute()) protos.push_back(Value(proto));
        }
        APMPBMessageSetArray(metadata, APMPBMeasurementBundle::kUserAttributes, protos);
    }
    return metadata;
}

std::shared_ptr<APMPBMeasurementBundle> APMMeasurement::currentRawEventMetadataOnWorkerQueue() {
    auto database = this->database();
    if (!database) return nullptr;
    NSErrorPtr error;
    auto attributes = database->userAttributesIncludingInternal(true, &error);
    if (!attributes && error) return nullptr;
    return createRawEventMetadataWithUserAttributes(
        attributes.value_or(std::vector<std::shared_ptr<APMUserAttribute>>{}));
}

void APMMeasurement::logFirstOpenConsentedEvent(double timestamp) {
    persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(false);
    scheduleOnWorker("APMMeasurement:892", [timestamp](APMMeasurement& engine) {
        auto consented = APMEvent::initWithOrigin("auto", false, "_fx", timestamp, 0, {});
        if (!consented) return;
        consented->setRealtime(true);
        engine.writeEventOnWorkerQueue(consented);
    });
}
