// Keeping the database within bounds: the remote configuration's storage limits, the
// once-per-interval purge of stale raw events and bundles, and the raw-event count limit.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMError.h"
#include "analytics/core/APMPersistedConfig.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <algorithm>
#include <cmath>

namespace {

using LimitsProvider = std::function<APMDatabaseLimits()>;

struct LimitsHook {
    Mutex mutex;
    std::shared_ptr<const LimitsProvider> provider GUARDED_BY(mutex);
};

LimitsHook& limitsHook() {
    static LimitsHook hook;
    return hook;
}

}  // namespace

void APMDatabase::setLimitsProvider(std::function<APMDatabaseLimits()> provider) {
    auto installed = provider ? std::make_shared<const LimitsProvider>(std::move(provider)) : nullptr;
    auto& hook = limitsHook();
    MutexLock lock(hook.mutex);
    hook.provider = std::move(installed);
}

APMDatabaseLimits APMDatabase::limits() {
    std::shared_ptr<const LimitsProvider> provider;
    {
        auto& hook = limitsHook();
        MutexLock lock(hook.mutex);
        provider = hook.provider;
    }
    // Asked out of the lock: the provider reaches for the engine, whose start holds its own lock
    // while it installs a provider here.
    APMDatabaseLimits limits;
    if (provider) limits = (*provider)();
    limits.maxEventsStored = std::clamp<std::int32_t>(limits.maxEventsStored, 0, 1000000);
    limits.maxQueueTime = std::clamp(limits.maxQueueTime, 604800.0, 7862400.0);
    limits.databaseDeleteStaleBundlesInterval = std::clamp(limits.databaseDeleteStaleBundlesInterval, 3600.0, 604800.0);
    limits.maxTrackedCurrencies = std::clamp<std::int32_t>(limits.maxTrackedCurrencies, 1, 100);
    return limits;
}

std::optional<bool> APMDatabase::maybeDeleteStaleData(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    const double now = Clock::now();
    const double last = persistedConfig_ ? persistedConfig_->lastDeleteStaleBundlesTimestamp() : 0.0;
    const APMDatabaseLimits current = limits();
    if (std::fabs(now - last) <= current.databaseDeleteStaleBundlesInterval) return false;
    if (!deleteStaleRawEventsDataOlderThanMaxAge(current.maxQueueTime, error)) return std::nullopt;
    if (!deleteStaleBundlesOlderThanMaxAge(current.maxQueueTime, error)) return std::nullopt;
    if (persistedConfig_) persistedConfig_->setLastDeleteStaleBundlesTimestamp(now);
    return true;
}

bool APMDatabase::deleteStaleBundlesOlderThanMaxAge(double maxAge, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(maxAge >= 0, error, APMErrorInvalidArgument,
                         "Cannot delete stale bundles after negative time period")) {
        return false;
    }
    if (!requireStore(error)) return false;
    return sqliteStore_
        ->deleteRecordsFromTableWithName("queue", "abs(bundle_end_timestamp - cast(? as REAL)) > cast(? as REAL)",
                                         {Value(Clock::now()), Value(maxAge)}, error)
        .has_value();
}

bool APMDatabase::deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(maxAge >= 0, error, APMErrorInvalidArgument,
                         "Cannot delete stale raw events given negative time period")) {
        return false;
    }
    if (!requireStore(error)) return false;
    auto deleted = sqliteStore_->deleteRecordsFromTableWithName(
        "raw_events", "abs(timestamp - cast(? as REAL)) > cast(? as REAL)", {Value(Clock::now()), Value(maxAge)},
        error);
    if (!deleted) return false;
    if (*deleted == 0) return true;
    return deleteUnusedRawEventsMetadata(error);
}

bool APMDatabase::deleteUnusedRawEventsMetadata(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_
        ->deleteRecordsFromTableWithName(
            "raw_events_metadata",
            "metadata_fingerprint NOT IN (SELECT DISTINCT metadata_fingerprint FROM raw_events)", {}, error)
        .has_value();
}

std::optional<std::int64_t> APMDatabase::deleteRawEventsOverAbsoluteLimit(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    const std::int32_t keep = limits().maxEventsStored - 1;
    // The delete walks the table from its newest row; while the rowids of the oldest and the
    // newest row span no more rows than are kept, there is nothing beyond them to delete. Each
    // end on its own is one lookup; both in one aggregate would read the whole table.
    // Asked before every event, the two ends are kept and the inserted rows folded into them.
    if (!rawEventRowIDs_) {
        NSErrorPtr spanError;
        auto ends = sqliteStore_->recordsForQuery(
            "SELECT (SELECT min(rowid) FROM raw_events) AS first, (SELECT max(rowid) FROM raw_events) AS last", {},
            &spanError);
        if (!ends || ends->size() != 1) {
            setError(error, spanError);
            return std::nullopt;
        }
        const Value& first = ends->front().get("first");
        const Value& last = ends->front().get("last");
        rawEventRowIDs_.emplace();
        if (first.isNumber() && last.isNumber()) *rawEventRowIDs_ = std::pair(first.longLongValue(), last.longLongValue());
    }
    const auto& span = *rawEventRowIDs_;
    if (!span || span->second - span->first + 1 <= keep) return 0;  // empty, or within the limit
    return sqliteStore_->deleteRecordsFromTableWithName(
        "raw_events", "rowid IN (SELECT rowid FROM raw_events ORDER BY rowid DESC LIMIT -1 OFFSET ?)", {Value(keep)},
        error);
}
