// Bundling of raw events: one group, one transaction, one queued bundle.
#include "analytics/measurement/APMBundler.h"

#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/core/APMAEU.h"
#include "analytics/core/APMAppMetadata.h"
#include "analytics/core/APMDailyCounts.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMStoredEvent.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMEventSampler.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/APMUploader.h"
#include "analytics/proto/APMPBAudienceLeafFilterResult.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBUserAttribute.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

namespace {

// The group's raw events; bundling's steps change them in place.
using RawEvents = std::vector<std::shared_ptr<APMStoredEvent>>;

std::int64_t milliseconds(double seconds) { return static_cast<std::int64_t>(seconds * 1000); }

std::size_t varintLength(std::size_t value) {
    std::size_t length = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++length;
    }
    return length;
}

Value eventName(const std::string& name) { return Value(APMDisplayNameForEvent(Value(name))); }

// The engine's parts one call of bundleRawEvents works with, and its steps.
class BundlingPass {
public:
    explicit BundlingPass(APMBundlerContext& context)
        : context_(context),
          database_(context.database()),
          config_(context.remoteConfig()),
          monitor_(context.monitor()) {}

    bool ready() const { return database_ && config_ && monitor_; }
    APMDatabase& database() { return *database_; }

    // The transaction's body: true commits. `consumed` tells whether the oldest raw events left.
    bool run(bool& consumed);

private:
    // Raw events met at the head of the group that can never be bundled (the log says why).
    struct SetAside {
        // The oldest raw events up to this row go, as a consumed group does.
        std::optional<std::int64_t> throughRowID;
        // They are gone already.
        bool deleted = false;
    };
    // The group, or nothing (then `setAside` may say what went instead).
    std::optional<RawEvents> rawEventsWithMetadataFingerprint(std::int64_t fingerprint, SetAside& setAside);
    // Every raw event whose stored time makes no event, at once: a single scan of their times
    // finds them, however many an older store holds.
    bool setAsideRawEventsWithoutValidTime(const APMDatabase::Row& met);
    std::optional<RawEvents> processRawEvents(const RawEvents& rawEvents, std::int64_t fingerprint);
    static void internalEventFromPublicEvent(APMStoredEvent& raw);
    static void validatePurchaseEvent(APMStoredEvent& raw);
    bool checkConversion(APMStoredEvent& raw, APMDailyCounts& dailyCounts);
    bool checkRealtime(APMStoredEvent& raw, APMDailyCounts& dailyCounts);
    // The event's parameters for a log line of `level`, made only when the line is recorded.
    Value parametersForLog(APMStoredEvent& raw, std::int64_t level);
    void evaluationTimeFromRawEvents(const RawEvents& rawEvents, const std::shared_ptr<APMPBMeasurementBundle>& bundle);
    // The previous fire time of each event. `counted` sees each event with its name's aggregates
    // as they stand after it; false fails.
    std::optional<std::vector<double>> eventsAfterUpdatingEventAggregates(
        const RawEvents& events, const std::function<bool(APMStoredEvent&, const APMEventAggregates&)>& counted);
    // Audience evaluation of the bundle's events and user properties, its results set on it.
    bool evaluateAudiences(const RawEvents& rawEvents, const std::shared_ptr<APMPBMeasurementBundle>& bundle,
                           const RawEvents& events);
    bool updateAppMetadataForBundle(const std::shared_ptr<APMPBMeasurementBundle>& bundle, double start, double end);
    bool updateUserEngagement(std::int64_t engagement, const std::shared_ptr<APMPBMeasurementBundle>& bundle,
                              bool sessionScoped);
    void addBundleMetadataIntoBundle(const std::shared_ptr<APMPBMeasurementBundle>& bundle, double start, double end);
    // The metadata's app id, else the app's own.
    std::string appIDForBundle(const std::shared_ptr<APMPBMeasurementBundle>& bundle);
    bool consumeRawEvents(std::int64_t lastRowID, std::int64_t fingerprint);

    APMBundlerContext& context_;
    std::shared_ptr<APMDatabase> database_;
    std::shared_ptr<APMRemoteConfig> config_;
    std::shared_ptr<APMMonitor> monitor_;
};

bool BundlingPass::run(bool& consumed) {
    NSErrorPtr error;
    const std::optional<std::int64_t> fingerprint = database_->nextMetadataFingerprintToProcess(&error);
    if (!fingerprint) {
        if (!error) return true;  // nothing waits
        monitor_->logWithLevel(1, 23095, "Unable to fetch next event metadata. Error", Value(error));
        return false;
    }

    SetAside setAside;
    std::optional<RawEvents> rawEvents = rawEventsWithMetadataFingerprint(*fingerprint, setAside);
    // Dropped rather than left to hold back the rest.
    if (setAside.throughRowID) {
        consumed = consumeRawEvents(*setAside.throughRowID, *fingerprint);
        return consumed;
    }
    if (setAside.deleted) {
        consumed = true;
        return true;
    }
    if (!rawEvents) return false;
    if (rawEvents->empty()) return true;

    bool unreadable = false;
    std::shared_ptr<APMPBMeasurementBundle> bundle =
        database_->queryRawEventsMetadataWithFingerprint(*fingerprint, &error, &unreadable);
    if (!bundle) {
        if (error && !unreadable) {
            monitor_->logWithLevel(1, 23098, "Unable to fetch event metadata. Metadata fingerprint, error",
                                   Value(static_cast<long long>(*fingerprint)), Value(error));
            return false;
        }
        // Its device, app and user fields are gone (the row missing, or stored as bytes that never
        // read), yet the events are this app's own: they go with the fields it has now.
        bundle = context_.currentRawEventMetadata();
        if (!bundle) {
            monitor_->logWithLevel(4, 23302, "Dropping raw events without their metadata. Metadata fingerprint",
                                   Value(static_cast<long long>(*fingerprint)));
            consumed = consumeRawEvents(rawEvents->back()->rowID(), *fingerprint);
            return consumed;
        }
        monitor_->logWithLevel(4, 23308, "Bundling raw events without their metadata with the app's current one. Count",
                               Value(static_cast<long long>(rawEvents->size())));
    }

    // The span and app id the bundle will carry. A bundle the upload queue refuses would be
    // refused at every pass: its events go before anything counts them.
    double start = std::numeric_limits<double>::max();
    double end = std::numeric_limits<double>::min();
    for (const auto& raw : *rawEvents) {
        start = std::min(start, raw->timestamp());
        end = std::max(end, raw->timestamp());
    }
    NSErrorPtr refusal;
    if (!APMDatabase::isQueueableBundle(appIDForBundle(bundle), milliseconds(end), &refusal) ||
        !APMCheckSuccess(APMBundler::namesItsApp(bundle), &refusal, APMErrorInvalidArgument,
                         "Bundle without a Vizudi or ZeViv App ID")) {
        monitor_->logWithLevel(4, 23307, "Dropping raw events whose bundle the upload queue refuses. Count, error",
                               Value(static_cast<long long>(rawEvents->size())), Value(refusal));
        consumed = consumeRawEvents(rawEvents->back()->rowID(), *fingerprint);
        return consumed;
    }

    std::optional<RawEvents> events = processRawEvents(*rawEvents, *fingerprint);
    if (!events) return false;
    if (events->empty()) return true;

    evaluationTimeFromRawEvents(*rawEvents, bundle);
    if (!evaluateAudiences(*rawEvents, bundle, *events)) return false;

    const bool realtime =
        std::any_of(events->begin(), events->end(), [](const auto& event) { return event->isRealtime(); });
    if (config_->isEventSamplingEnabled() && !monitor_->isDebugModeEnabled()) {
        APMEventSampler::Events protos;
        for (const Value& item :
             APMPBMessageGetArray<APMPBEvent>(bundle, APMPBMeasurementBundle::kEvents).value_or(Value::Array{})) {
            if (auto proto = item.objectAs<APMPBEvent>()) protos.push_back(std::move(proto));
        }
        APMEventSampler sampler(*database_, *config_, *monitor_);
        std::optional<APMEventSampler::Events> sampled = sampler.sampleEvents(protos, &error);
        if (!sampled) return false;
        if (sampled->empty()) {
            monitor_->logWithLevel(5, 23159, "No events left after sampling. Dropping bundle");
            consumed = consumeRawEvents(rawEvents->back()->rowID(), *fingerprint);
            return consumed;
        }
        APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kEvents, Value::Array(sampled->begin(), sampled->end()));
    }

    if (!updateAppMetadataForBundle(bundle, start, end)) return false;

    addBundleMetadataIntoBundle(bundle, start, end);
    if (!database_->insertBundle(bundle, realtime, &error)) {
        if (error) monitor_->logWithLevel(1, 23115, "Unable to insert bundle. Error", Value(error));
        return false;
    }
    if (config_->isConsentSettingsEnabled()) monitor_->logWithLevel(8, 23221, APMConsentSettingsUtil::description());
    monitor_->logWithLevel(7, 23116, "Bundle added to the upload queue. BundleID, timestamp (ms)",
                           Value(APMPBMessageGetInt32(bundle, APMPBMeasurementBundle::kBundleIndex)),
                           Value(APMPBMessageGetInt64(bundle, APMPBMeasurementBundle::kEndTimestampMillis)));

    consumed = consumeRawEvents(rawEvents->back()->rowID(), *fingerprint);
    return consumed;
}

// The oldest rows of the fingerprint that share a clock hour, have consecutive row ids and stay
// within the event count and size limits. The first row is always taken, whatever its size, so
// no single event can hold back the queue.
std::optional<RawEvents> BundlingPass::rawEventsWithMetadataFingerprint(std::int64_t fingerprint,
                                                                       SetAside& setAside) {
    const std::int64_t maxEvents = config_->uploadMaxEventsPerBundle();
    const std::int64_t maxSize = config_->uploadMaxSizeLimitBytes();
    std::int64_t hour = 0;
    std::int64_t totalSize = 0;
    std::int64_t lastRowID = 0;
    std::optional<APMDatabase::Row> firstRow;
    bool firstUntimed = false;
    std::size_t taken = 0;
    // Decided on the stored columns: the database makes the events of the rows taken.
    auto filter = [&](std::size_t index, const APMDatabase::Row& row) {
        if (index > 0 && (firstUntimed || static_cast<std::int64_t>(index) >= maxEvents)) return false;
        const std::int64_t rowID = row.get("rowid").longLongValue();
        // A time that makes no event gives no bundle a valid span: such a row ends the group
        // before it, and alone in its own it is set aside.
        const Value& time = row.get("timestamp");
        if (!time.isNumber() || !APMEvent::isValidTimestamp(time.doubleValue())) {
            if (index > 0) return false;
            firstRow = row;
            firstUntimed = true;
            return true;
        }
        const auto rowHour = static_cast<std::int64_t>(std::trunc(std::floor(time.doubleValue()) / 3600.0));
        if (index == 0) {
            hour = rowHour;
            firstRow = row;
        } else if (rowHour != hour || rowID != lastRowID + 1) {
            return false;
        }
        // The stored message is the event's own without its name: add the name's field.
        const std::size_t nameLength = row.get("name").stringValue().size();
        const Value& data = row.get("data");
        const auto size = static_cast<std::int64_t>((data.isData() ? data.data().size() : 0) + 1 +
                                                    varintLength(nameLength) + nameLength);
        if (index > 0 && totalSize + size >= maxSize) return false;
        totalSize += size;
        lastRowID = rowID;
        ++taken;
        return true;
    };
    NSErrorPtr error;
    auto rows = database_->rawEventRowsWithMetadataFingerprint(fingerprint, &error, filter);
    if (rows && firstUntimed) {
        setAside.deleted = setAsideRawEventsWithoutValidTime(*firstRow);
        return std::nullopt;
    }
    RawEvents events;
    NSErrorPtr rowError;
    if (rows) {
        events.reserve(rows->size());
        for (const auto& row : *rows) {
            if (auto event = APMStoredEvent::fromRow(*database_, row, &rowError)) events.push_back(std::move(event));
        }
        if (!rows->empty() && events.empty()) error = rowError;
    }
    if (!rows || (!rows->empty() && events.empty())) {
        NSErrorPtr firstError;
        if (firstRow && !database_->rawEventDataFromDictionary(*firstRow, &firstError)) {
            monitor_->logWithLevel(4, 23096, "Failed to filter raw event. Error", Value(firstError));
            // A group none of whose rows reads goes whole, as its unreadable rows go with a group
            // that has others.
            if (rows) {
                setAside.throughRowID = lastRowID;
                monitor_->logWithLevel(4, 23304, "Dropping raw events that cannot be read. Count",
                                       Value(static_cast<long long>(taken)));
                return std::nullopt;
            }
            setAside.throughRowID = firstRow->get("rowid").longLongValue();
            monitor_->logWithLevel(4, 23301, "Dropping a raw event that cannot be read. RowID",
                                   Value(static_cast<long long>(*setAside.throughRowID)));
            return std::nullopt;
        }
        if (error) monitor_->logWithLevel(1, 23097, "Inconsistent state, raw event is expected. Error", Value(error));
        return std::nullopt;
    }
    // Rows that cannot be read go with the group.
    if (events.size() < taken) {
        monitor_->logWithLevel(4, 23304, "Dropping raw events that cannot be read. Count",
                               Value(static_cast<long long>(taken - events.size())));
    }
    return events;
}

bool BundlingPass::setAsideRawEventsWithoutValidTime(const APMDatabase::Row& met) {
    NSErrorPtr error;
    const std::optional<std::int64_t> deleted = database_->deleteRawEventsWithoutValidTimestamp(&error);
    if (!deleted) {
        monitor_->logWithLevel(1, 23119, "Unable to delete raw events. RowID, error", met.get("rowid"), Value(error));
        return false;
    }
    monitor_->logWithLevel(4, 23306, "Dropping raw events without a valid timestamp. Count, first RowID, its timestamp",
                           Value(static_cast<long long>(*deleted)), met.get("rowid"), met.get("timestamp"));
    return true;
}

std::optional<RawEvents> BundlingPass::processRawEvents(const RawEvents& rawEvents, std::int64_t fingerprint) {
    const bool blocklistInternalOnly = config_->blocklistInternal() && !config_->blocklistPublic();
    const bool removeRedundantEngagement = config_->redundantEngagementRemovalEnabled();
    const auto& reservedNames = APMAllowedReservedPublicEventNames();
    RawEvents kept;
    kept.reserve(rawEvents.size());
    for (const auto& raw : rawEvents) {
        const std::string& name = raw->name();
        const auto reserved = reservedNames.find(name);
        const bool mapped = reserved != reservedNames.end();
        if (!(mapped && blocklistInternalOnly)) {
            if (config_->isEventBlocklisted(name) || (mapped && config_->isEventBlocklisted(reserved->second))) {
                monitor_->logWithLevel(4, 23099, "Rejected event. Event name", eventName(name));
                continue;
            }
            if (removeRedundantEngagement && name == "_e" && raw->int64Parameter("_fr") == 1) continue;
        }
        kept.push_back(raw);
    }
    if (kept.empty()) {
        if (!consumeRawEvents(rawEvents.back()->rowID(), fingerprint)) return std::nullopt;
        monitor_->logWithLevel(4, 23100, "Rejected all events.");
        return RawEvents{};
    }

    NSErrorPtr error;
    std::shared_ptr<APMDailyCounts> dailyCounts = database_->dailyCounts(&error);
    if (!dailyCounts) {
        monitor_->logWithLevel(1, 23101, "Failed to query daily event counts. Error", Value(error));
        return std::nullopt;
    }
    bool countsChanged = false;
    for (const auto& raw : kept) {
        internalEventFromPublicEvent(*raw);
        countsChanged = checkConversion(*raw, *dailyCounts) || countsChanged;
        countsChanged = checkRealtime(*raw, *dailyCounts) || countsChanged;
        validatePurchaseEvent(*raw);
    }
    if (countsChanged && !database_->updateDailyCounts(dailyCounts, &error)) {
        monitor_->logWithLevel(2, 23106, "Failed to update daily event counts. Name, error",
                               eventName(kept.back()->name()), Value(error));
        return std::nullopt;
    }
    return kept;
}

void BundlingPass::internalEventFromPublicEvent(APMStoredEvent& raw) {
    const auto& reservedNames = APMAllowedReservedPublicEventNames();
    const auto reserved = reservedNames.find(raw.name());
    if (reserved != reservedNames.end()) raw.rename(reserved->second);
}

bool BundlingPass::checkConversion(APMStoredEvent& raw, APMDailyCounts& dailyCounts) {
    if (config_->isEventCustomConversion(raw.name())) {
        if (const auto& event = raw.event()) event->setConversion(true);
    }
    if (!APMIsPublicName(Value(raw.name())) || !raw.isConversion()) return false;
    const std::int32_t limit = config_->maxConversionsPerDay();
    if (dailyCounts.conversionsCount() >= limit) {
        raw.event()->setConversion(false);
        monitor_->logWithLevel(3, 23102, "Too many conversion events. Not logging event as conversion. Name, limit",
                               eventName(raw.name()), Value(limit));
        return false;
    }
    // One more conversion; the event itself was counted when it was written.
    dailyCounts.incrementCountsForCurrentDay(database_->currentDay(), false, true);
    dailyCounts.decrementAllEventsCount();
    return true;
}

bool BundlingPass::checkRealtime(APMStoredEvent& raw, APMDailyCounts& dailyCounts) {
    if (!raw.isRealtime() && !raw.isConversion()) return false;
    if (!APMUploader::isRealtimeLimitedEvent(raw.name(), monitor_->isDebugModeEnabled())) {
        raw.setRealtime(true);
        monitor_->logWithLevel(7, 23105,
                               "Event is not subject to real-time event count daily limit. Marking an event as "
                               "real-time. Event name, parameters",
                               eventName(raw.name()), parametersForLog(raw, 7));
        return false;
    }
    if (dailyCounts.realtimeCount() < config_->maxRealtimeEventCountPerDay()) {
        dailyCounts.incrementRealtimeCountsForCurrentDay(database_->currentDay());
        raw.setRealtime(true);
        monitor_->logWithLevel(7, 23103,
                               "Event is under real-time event count daily limit. Marking the event as real-time. "
                               "Event name, parameters",
                               eventName(raw.name()), parametersForLog(raw, 7));
        return true;
    }
    raw.setRealtime(false);
    monitor_->logWithLevel(4, 23104,
                           "Number of real-time events is over the real-time event count daily limit. Event is no "
                           "longer real-time. Event name, parameters",
                           eventName(raw.name()), parametersForLog(raw, 4));
    return false;
}

Value BundlingPass::parametersForLog(APMStoredEvent& raw, std::int64_t level) {
    if (!monitor_->wouldRecord(level)) return Value();
    const auto& event = raw.event();
    return event ? Value(APMDescriptionForParameters(Value(event->parameters()))) : Value();
}

void BundlingPass::validatePurchaseEvent(APMStoredEvent& raw) {
    if (raw.name() != "_iap") return;
    const auto& event = raw.event();
    if (!event) return;
    Value::Dictionary parameters = event->parameters();
    if (APMAEU::isASRS()) parameters.set("sandbox", Value(APMValue::initWithInt64(1)));
    parameters.set("validated", Value(APMValue::initWithInt64(1)));
    raw.setEvent(event->copyWithParameters(parameters));
}

void BundlingPass::evaluationTimeFromRawEvents(const RawEvents& rawEvents,
                                               const std::shared_ptr<APMPBMeasurementBundle>& bundle) {
    const bool sessionStart = std::any_of(rawEvents.begin(), rawEvents.end(),
                                          [](const auto& raw) { return raw->name() == "_s"; });
    NSErrorPtr error;
    if (sessionStart && !database_->clearCurrentSessionCounts(&error)) {
        monitor_->logWithLevel(1, 23185, "Failed to clear event session counts. Error", Value(error));
        return;
    }
    std::int64_t engagement = 0;
    for (const auto& raw : rawEvents) {
        const std::optional<std::int64_t> time = raw->int64Parameter("_et");
        if (time && !raw->hasParameter("_fr")) engagement += *time;
    }
    if (!updateUserEngagement(engagement, bundle, false)) return;
    if (sessionStart && !database_->deleteUserAttributeWithName("_se", &error)) {
        monitor_->logWithLevel(1, 23188, "Unable to delete session engagement property on session start. Error",
                               Value(error));
        return;
    }
    static_cast<void>(updateUserEngagement(engagement, bundle, true));
}

bool BundlingPass::updateUserEngagement(std::int64_t engagement, const std::shared_ptr<APMPBMeasurementBundle>& bundle,
                                        bool sessionScoped) {
    if (engagement < 0) {
        monitor_->logWithLevel(2, 23186, "User engagement time is negative.");
        return false;
    }
    if (engagement == 0) return true;
    const std::string name = sessionScoped ? "_se" : "_lte";
    NSErrorPtr error;
    auto stored = database_->userAttributeWithName(name, &error);
    if (!stored && error) {
        monitor_->logWithLevel(1, 23187, "Failed to query for user engagement user property. Name, error",
                               Value(APMDisplayNameForUserProperty(Value(name))), Value(error));
        return false;
    }
    std::int64_t total = engagement;
    if (stored && stored->value() && stored->value()->isInt64()) total += stored->value()->int64Value();
    const double now = Clock::now();
    auto property = APMUserAttribute::initWithOrigin("auto", name, APMValue::initWithInt64(total), now);
    if (!property || !context_.setUserPropertyInDatabaseOnWorkerQueue(property)) return false;

    Value::Array attributes =
        APMPBMessageGetArray<APMPBUserAttribute>(bundle, APMPBMeasurementBundle::kUserAttributes).value_or(Value::Array{});
    bool found = false;
    for (const Value& item : attributes) {
        auto attribute = item.objectAs<APMPBUserAttribute>();
        if (APMPBMessageGetString(attribute, APMPBUserAttribute::kName).value_or("") != name) continue;
        APMPBMessageSetInt64(attribute, APMPBUserAttribute::kIntValue, total);
        APMPBMessageSetInt64(attribute, APMPBUserAttribute::kSetTimestampMillis, milliseconds(now));
        found = true;
    }
    if (!found) {
        if (auto proto = property->protoUserAttribute()) attributes.push_back(Value(proto));
    }
    APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kUserAttributes, attributes);
    return true;
}

bool BundlingPass::evaluateAudiences(const RawEvents& rawEvents, const std::shared_ptr<APMPBMeasurementBundle>& bundle,
                                     const RawEvents& events) {
    auto audience = context_.audience();
    std::vector<std::shared_ptr<APMPBUserAttribute>> userProperties;
    for (const Value& item :
         APMPBMessageGetArray<APMPBUserAttribute>(bundle, APMPBMeasurementBundle::kUserAttributes).value_or(Value::Array{})) {
        if (auto property = item.objectAs<APMPBUserAttribute>()) userProperties.push_back(std::move(property));
    }
    double start = std::numeric_limits<double>::max();
    for (const auto& raw : rawEvents) start = std::min(start, raw->timestamp());
    const bool sessionStart = std::any_of(rawEvents.begin(), rawEvents.end(),
                                          [](const auto& raw) { return raw->name() == "_s"; });
    if (audience && sessionStart) {
        (void)audience->clearEvaluationResultsForSessionScopedFilters();
        for (const auto& property : userProperties) {
            if (!audience->evaluateFiltersForNanoUserProperty(property, nullptr, std::nullopt)) return false;
        }
    }
    // One cache for the whole bundle: the dynamic and sequence times its events set.
    auto cache = APMAudienceTimestampsCache::make();
    auto previousTimes = eventsAfterUpdatingEventAggregates(
        events, [&](APMStoredEvent& event, const APMEventAggregates& aggregates) {
            if (!audience) return true;
            // The event is made only when a filter of its name reads its parameters.
            bool made = true;
            const bool evaluated = audience->evaluateFiltersForEventName(
                event.name(),
                [&]() -> const Value::Dictionary& {
                    static const Value::Dictionary kNone;
                    const auto& decoded = event.event();
                    made = decoded != nullptr;
                    return made ? decoded->parameters() : kNone;
                },
                aggregates, event.timestamp(), cache.get());
            return evaluated && made;
        });
    if (!previousTimes) return false;
    // Written straight to their wire bytes: the bundle carries them as they are.
    std::vector<NSData> encoded;
    encoded.reserve(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        std::optional<NSData> bytes = events[i]->encodedWithPreviousTimestamp((*previousTimes)[i]);
        if (!bytes) return false;
        encoded.push_back(std::move(*bytes));
    }
    if (!APMPBMessageSetEncodedArray(bundle, APMPBMeasurementBundle::kEvents, encoded)) return false;
    if (!audience) return true;
    for (const auto& property : userProperties) {
        if (!audience->evaluateFiltersForNanoUserProperty(property, cache.get(), start)) return false;
    }
    auto results = audience->resultsForBundling();
    if (!results) return false;
    Value::Array entries;
    entries.reserve(results->size());
    for (const auto& result : *results) entries.push_back(Value(result));
    if (!entries.empty()) APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kAudienceEvaluationResults, entries);
    return true;
}

std::optional<std::vector<double>> BundlingPass::eventsAfterUpdatingEventAggregates(
    const RawEvents& events, const std::function<bool(APMStoredEvent&, const APMEventAggregates&)>& counted) {
    // Each name's row is read once and written once: the same rows and previous times as a read
    // and a write per event, without thousands of statements for a large bundle.
    std::map<std::string, std::shared_ptr<APMEventAggregates>> aggregatesByName;
    std::vector<double> previousTimes;
    previousTimes.reserve(events.size());
    for (const auto& event : events) {
        auto& aggregates = aggregatesByName[event->name()];
        if (!aggregates) {
            NSErrorPtr error;
            aggregates = database_->eventAggregatesWithName(event->name(), &error);
            if (!aggregates && error) {
                monitor_->logWithLevel(1, 23107, "Failed to query event aggregates. Name, error",
                                       eventName(event->name()), Value(error));
                return std::nullopt;
            }
            if (!aggregates) {
                aggregates = APMEventAggregates::initWithName(event->name(), 1, 1, 1, event->timestamp());
                if (!aggregates) {
                    monitor_->logWithLevel(1, 23108, "Failed to update event aggregates. Error", Value());
                    return std::nullopt;
                }
                if (!counted(*event, *aggregates)) return std::nullopt;
                previousTimes.push_back(event->previousTimestamp());
                continue;
            }
        }
        previousTimes.push_back(aggregates->lastFireTimestamp());
        aggregates->incrementCurrentBundleCount();
        aggregates->incrementLifetimeCount();
        aggregates->incrementCurrentSessionCount();
        aggregates->setLastFireTimestamp(event->timestamp());
        if (!counted(*event, *aggregates)) return std::nullopt;
    }
    for (const auto& [name, aggregates] : aggregatesByName) {
        NSErrorPtr error;
        if (!database_->updateEventAggregates(aggregates, &error)) {
            monitor_->logWithLevel(1, 23108, "Failed to update event aggregates. Error", Value(error));
            return std::nullopt;
        }
    }
    return previousTimes;
}

bool BundlingPass::updateAppMetadataForBundle(const std::shared_ptr<APMPBMeasurementBundle>& bundle, double start,
                                              double end) {
    NSErrorPtr error;
    std::shared_ptr<APMAppMetadata> metadata = database_->queryAppMetadata(&error);
    if (!metadata) {
        monitor_->logWithLevel(1, 23111, "Unable to fetch app metadata for bundling events. Error", Value(error));
        return false;
    }
    const double previousStart = metadata->lastBundleStartTimestamp();
    const double previousEnd = metadata->lastBundleEndTimestamp();
    if (previousEnd > 0) {
        APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kPreviousBundleEndTimestampMillis, milliseconds(previousEnd));
    }
    if (previousStart > 0 || previousEnd > 0) {
        APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kPreviousBundleStartTimestampMillis,
                             milliseconds(previousStart > 0 ? previousStart : previousEnd));
    }
    metadata->incrementLastBundleIndex();
    metadata->setLastBundleStartTimestamp(start);
    metadata->setLastBundleEndTimestamp(end);
    APMPBMessageSetInt32(bundle, APMPBMeasurementBundle::kBundleIndex, metadata->lastBundleIndex());
    if (!database_->updateAppMetadata(metadata, &error)) {
        monitor_->logWithLevel(1, 23112, "Unable to update the app metadata. Error", Value(error));
        return false;
    }
    return true;
}

void BundlingPass::addBundleMetadataIntoBundle(const std::shared_ptr<APMPBMeasurementBundle>& bundle, double start,
                                               double end) {
    auto persisted = context_.persistedConfig();
    const std::optional<std::string> monitoring = monitor_->monitoringDataForDispatchWithSamplePeriod(
        config_->monitoringSamplePeriod(), persisted ? persisted->lastMonitorDataSampledTimestamp() : 0);
    if (monitoring && !monitoring->empty()) {
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kMonitoringData, *monitoring);
        if (persisted) persisted->setLastMonitorDataSampledTimestamp(Clock::now());
    }
    const std::vector<std::int32_t> experimentIDs = config_->experimentIDs();
    if (!experimentIDs.empty()) {
        Value::Array ids;
        for (std::int32_t id : experimentIDs) ids.push_back(Value(static_cast<long long>(id)));
        APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kExperimentIds, ids);
    }
    const std::int64_t version = config_->version();
    if (version >= 0) APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kConfigVersion, version);
    if (APMPBMessageGetString(bundle, APMPBMeasurementBundle::kAppId).value_or("").empty()) {
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kAppId, appIDForBundle(bundle));
    }
    APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kStartTimestampMillis, milliseconds(start));
    APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kEndTimestampMillis, milliseconds(end));
}

std::string BundlingPass::appIDForBundle(const std::shared_ptr<APMPBMeasurementBundle>& bundle) {
    std::string appID = APMPBMessageGetString(bundle, APMPBMeasurementBundle::kAppId).value_or("");
    if (!appID.empty()) return appID;
    auto identity = context_.identity();
    if (identity) appID = identity->appID();
    return appID.empty() ? NSBundle::mainBundle()->bundleIdentifier() : appID;
}

bool BundlingPass::consumeRawEvents(std::int64_t lastRowID, std::int64_t fingerprint) {
    NSErrorPtr error;
    if (!database_->deleteRawEventsWithMaxRowID(lastRowID, &error)) {
        monitor_->logWithLevel(1, 23119, "Unable to delete raw events. RowID, error",
                               Value(static_cast<long long>(lastRowID)), Value(error));
        return false;
    }
    const std::optional<bool> stillUsed = database_->containsRawEventWithMetadataFingerprint(fingerprint, &error);
    if (!stillUsed) {
        monitor_->logWithLevel(1, 23120, "Unable to query existence of raw event. Metadata, error",
                               Value(static_cast<long long>(fingerprint)), Value(error));
        return false;
    }
    if (!*stillUsed && !database_->deleteRawEventMetadataWithMetadataFingerprint(fingerprint, &error)) {
        monitor_->logWithLevel(1, 23121, "Unable to delete raw event metadata. Metadata, error",
                               Value(static_cast<long long>(fingerprint)), Value(error));
        return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<APMBundler> APMBundler::initWithContext(std::weak_ptr<APMBundlerContext> context) {
    auto bundler = std::make_shared<APMBundler>();
    bundler->context_ = std::move(context);
    return bundler;
}

bool APMBundler::namesItsApp(const std::shared_ptr<APMPBMeasurementBundle>& bundle) {
    return !APMPBMessageGetString(bundle, APMPBMeasurementBundle::kVuvAppId).value_or("").empty() ||
           !APMPBMessageGetString(bundle, APMPBMeasurementBundle::kZevivAppId).value_or("").empty();
}

bool APMBundler::bundleRawEvents() {
    auto context = context_.lock();
    if (!context) return false;
    APMScheduler::checkOnBackgroundThreadWithMethodName("bundleRawEvents");
    BundlingPass pass(*context);
    if (!pass.ready()) return false;
    bool consumed = false;
    const bool committed = pass.database().performTransaction([&] { return pass.run(consumed); });
    return committed && consumed;
}
