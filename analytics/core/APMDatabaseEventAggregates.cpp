// Event aggregates: one counters row per event name in the events table.
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMMonitor.h"

namespace {

std::shared_ptr<NSObject> eventAggregatesFromRow(const APMDatabase::Row& row, NSErrorPtr*) {
    auto int32 = [&](const char* column, std::int32_t fallback) {
        const Value& value = row.get(column);
        return value.isNull() ? fallback : static_cast<std::int32_t>(value.longLongValue());
    };
    auto aggregates = APMEventAggregates::initWithName(
        row.get("name").stringValue(), int32("lifetime_count", 0), int32("current_bundle_count", 0),
        int32("current_session_count", 0), row.get("last_fire_timestamp").doubleValue());
    if (!aggregates) return nullptr;
    const Value& bundled = row.get("last_bundled_timestamp");
    aggregates->setLastBundledTimestamp(bundled.isNull() ? 0.0 : bundled.doubleValue());
    const Value& complexID = row.get("last_sampled_complex_event_id");
    aggregates->setLastSampledComplexEventID(complexID.isNull() ? std::nullopt
                                                                : std::optional<std::int64_t>(complexID.longLongValue()));
    aggregates->setLastSamplingRate(int32("last_sampling_rate", 1));
    aggregates->setLastExemptFromSampling(int32("last_exempt_from_sampling", 0) != 0);
    aggregates->setLastBundledDay(int32("last_bundled_day", 0));
    return aggregates;
}

}  // namespace

std::optional<std::int64_t> APMDatabase::publicEventCount(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    auto count = sqliteStore_->numberForQuery("SELECT count(1) FROM events WHERE name NOT LIKE '!_%' ESCAPE '!'", {},
                                              error);
    if (!count) return std::nullopt;
    return count->longLongValue();
}

std::optional<std::vector<std::shared_ptr<APMEventAggregates>>> APMDatabase::allEventAggregates(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto objects = allDataTypesFromTableWithName("events", kEventsLimit, error, eventAggregatesFromRow);
    if (!objects) return std::nullopt;
    std::vector<std::shared_ptr<APMEventAggregates>> aggregates;
    for (auto& object : *objects) aggregates.push_back(std::static_pointer_cast<APMEventAggregates>(object));
    return aggregates;
}

std::shared_ptr<APMEventAggregates> APMDatabase::eventAggregatesWithName(const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    bool unreadable = false;
    auto objects = dataTypesFromTableWithName("events", "name", Value(name), error,
                                              [&unreadable](const Row& row, NSErrorPtr* rowError) {
                                                  auto aggregates = eventAggregatesFromRow(row, rowError);
                                                  unreadable = unreadable || !aggregates;
                                                  return aggregates;
                                              });
    if (!objects && unreadable) {
        // A row that cannot be read (a negative count, an invalid name) would stop every later event of
        // its name: it goes, said, and the counting starts again.
        if (error) *error = nullptr;
        APMMeasurementMonitor()->logWithLevel(1, 12057, "Dropped an event aggregates row that could not be read. Name",
                                              Value(name));
        if (!requireStore(error) || !sqliteStore_->deleteRecordFromTableWithName("events", "name", Value(name), error)) {
            return nullptr;
        }
        storedEventNames_.erase(name);
        return nullptr;
    }
    if (!objects || objects->empty()) return nullptr;
    return std::static_pointer_cast<APMEventAggregates>(objects->front());
}

std::optional<bool> APMDatabase::hasEventAggregatesWithName(const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (sqliteStore_ && storedEventNames_.count(name)) return true;
    NSErrorPtr queryError;
    if (eventAggregatesWithName(name, &queryError)) {
        storedEventNames_.insert(name);
        return true;
    }
    if (!queryError) return false;
    if (error) *error = queryError;
    return std::nullopt;
}

bool APMDatabase::updateEventAggregates(const std::shared_ptr<APMEventAggregates>& eventAggregates, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(eventAggregates != nullptr, error, APMErrorStorage,
                         "Received empty event aggregates object for getting dictionary representation")) {
        return false;
    }
    if (!APMCheckSuccess(!eventAggregates->name().empty(), error, APMErrorInvalidArgument,
                         "Received event aggregates object with empty name for getting dictionary representation")) {
        return false;
    }
    Row row = {{"name", Value(eventAggregates->name())},
               {"lifetime_count", Value(eventAggregates->lifetimeCount())},
               {"current_bundle_count", Value(eventAggregates->currentBundleCount())},
               {"last_fire_timestamp", Value(eventAggregates->lastFireTimestamp())},
               {"last_bundled_timestamp", Value(eventAggregates->lastBundledTimestamp())},
               {"last_sampling_rate", Value(eventAggregates->lastSamplingRate())},
               {"last_exempt_from_sampling", Value(eventAggregates->lastExemptFromSampling() ? 1 : 0)},
               {"last_bundled_day", Value(eventAggregates->lastBundledDay())},
               {"current_session_count", Value(eventAggregates->currentSessionCount())}};
    if (auto complexID = eventAggregates->lastSampledComplexEventID()) {
        row.set("last_sampled_complex_event_id", Value(static_cast<long long>(*complexID)));
    }
    return upsertDataType(row, "events", "name", Value(eventAggregates->name()), kEventsLimit, error);
}

bool APMDatabase::clearCurrentSessionCounts(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_->updateAllRecordsInTableWithName("events", "current_session_count", Value(0), error);
}
