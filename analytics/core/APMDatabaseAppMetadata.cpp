// The single app metadata row: bundle index and times, and the daily counters kept in it.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMAppMetadata.h"
#include "analytics/core/APMDailyCounts.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "platform/foundation/Clock.h"

#include <cmath>

namespace {

std::shared_ptr<NSObject> appMetadataFromRow(const APMDatabase::Row& row, NSErrorPtr* error) {
    if (!APMCheckSuccess(!row.empty(), error, APMErrorStorage, "Received empty dictionary for getting app metadata")) {
        return nullptr;
    }
    const Value& start = row.get("last_bundle_start_timestamp");
    return APMAppMetadata::initWithLastBundleIndex(static_cast<std::int32_t>(row.get("last_bundle_index").longLongValue()),
                                                   start.isNull() ? 0.0 : start.doubleValue(),
                                                   row.get("last_bundle_end_timestamp").doubleValue());
}

APMDatabase::Row appMetadataRow(const APMAppMetadata& metadata) {
    return {{"rowid", Value("1")},
            {"last_bundle_index", Value(static_cast<long long>(metadata.lastBundleIndex()))},
            {"last_bundle_start_timestamp", Value(metadata.lastBundleStartTimestamp())},
            {"last_bundle_end_timestamp", Value(metadata.lastBundleEndTimestamp())}};
}

}  // namespace

bool APMDatabase::initializeAppMetadata() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return performTransaction([this] {
        NSErrorPtr error;
        if (queryAppMetadata(&error)) return true;
        if (error) {
            APMMeasurementMonitor()->logWithLevel(1, 12005, "Failed to query app metadata");
            return false;
        }
        if (!upsertDataType(appMetadataRow(APMAppMetadata(0, 0.0, 0.0)), "app_metadata", "rowid", Value("1"), 1,
                            &error)) {
            APMMeasurementMonitor()->logWithLevel(1, 12006, "Unable to update the app metadata. Error", Value(error));
            return false;
        }
        return true;
    });
}

std::shared_ptr<APMAppMetadata> APMDatabase::queryAppMetadata(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto objects = dataTypesFromTableWithName("app_metadata", "rowid", Value("1"), error, appMetadataFromRow);
    if (!objects || objects->empty()) return nullptr;
    return std::static_pointer_cast<APMAppMetadata>(objects->front());
}

bool APMDatabase::updateAppMetadata(const std::shared_ptr<APMAppMetadata>& appMetadata, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(appMetadata != nullptr, error, APMErrorStorage,
                         "Received empty app metadata for getting dictionary representation")) {
        return false;
    }
    return updateDataType(appMetadataRow(*appMetadata), "app_metadata", "rowid", Value("1"), error);
}

std::int32_t APMDatabase::currentDay() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    const double offset = persistedConfig_ ? static_cast<double>(static_cast<std::int32_t>(persistedConfig_->midnightOffset()))
                                           : 0.0;
    return static_cast<std::int32_t>(std::floor((Clock::now() - offset) / 86400.0));
}

std::shared_ptr<APMDailyCounts> APMDatabase::dailyCounts(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    const std::int32_t day = currentDay();
    if (writtenDailyCounts_ && sqliteStore_) {
        const APMDailyCounts& kept = *writtenDailyCounts_;
        return APMDailyCounts::initWithDay(kept.day(), kept.conversionsCount(), kept.allEventsCount(),
                                           kept.publicEventsCount(), kept.errorEventsCount(), kept.realtimeCount());
    }
    auto objects = dataTypesFromTableWithName(
        "app_metadata", "rowid", Value("1"), error,
        [day](const Row& row, NSErrorPtr* rowError) -> std::shared_ptr<NSObject> {
            if (!APMCheckSuccess(!row.empty(), rowError, APMErrorStorage,
                                 "Received empty dictionary for getting daily counts")) {
                return nullptr;
            }
            auto count = [&](const char* column) {
                const Value& value = row.get(column);
                return value.isNumber() ? static_cast<std::int32_t>(value.longLongValue()) : 0;
            };
            const Value& storedDay = row.get("day");
            return APMDailyCounts::initWithDay(storedDay.isNumber() ? static_cast<std::int32_t>(storedDay.longLongValue())
                                                                    : day,
                                               count("daily_conversions_count"), count("daily_events_count"),
                                               count("daily_public_events_count"), count("daily_error_events_count"),
                                               count("daily_real_time_conversion_events_count"));
        });
    if (!objects || objects->empty()) return nullptr;
    return std::static_pointer_cast<APMDailyCounts>(objects->front());
}

bool APMDatabase::updateDailyCounts(const std::shared_ptr<APMDailyCounts>& dailyCounts, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(dailyCounts != nullptr, error, APMErrorStorage,
                         "Received empty daily counts for getting dictionary representation")) {
        return false;
    }
    if (!requireStore(error)) return false;
    // Written after every event: one kept statement, which also tells whether the row was there
    // (instead of counting it first).
    static const std::string kUpdate =
        "UPDATE app_metadata SET day=?,daily_conversions_count=?,daily_events_count=?,daily_public_events_count=?,"
        "daily_error_events_count=?,daily_real_time_conversion_events_count=? WHERE rowid=?";
    const std::optional<std::int64_t> changed = sqliteStore_->changesForStatement(
        kUpdate,
        {Value(dailyCounts->day()), Value(dailyCounts->conversionsCount()), Value(dailyCounts->allEventsCount()),
         Value(dailyCounts->publicEventsCount()), Value(dailyCounts->errorEventsCount()),
         Value(dailyCounts->realtimeCount()), Value("1")},
        error);
    const bool updated =
        changed && APMCheckSuccess(*changed > 0, error, APMErrorFailedPrecondition, "Failed to update record. Item doesn't exist");
    if (updated) {
        writtenDailyCounts_ = APMDailyCounts::initWithDay(dailyCounts->day(), dailyCounts->conversionsCount(),
                                                          dailyCounts->allEventsCount(), dailyCounts->publicEventsCount(),
                                                          dailyCounts->errorEventsCount(), dailyCounts->realtimeCount());
    }
    return updated;
}
