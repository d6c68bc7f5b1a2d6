// The upload queue: gzip-compressed bundles, the size-budgeted choice of one batch and the
// retry counters.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMError.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"
#include "platform/services/NSDataVULGzip.h"

#include <cmath>
#include <limits>

namespace {

constexpr std::int64_t kMaxRetryCount = std::numeric_limits<std::int32_t>::max();

// "rowid IN (?,?,...)" for the ids, which are bound in list order.
std::optional<std::string> rowIDCondition(const Value::Array& rowIDs, NSErrorPtr* error) {
    if (!APMCheckSuccess(!rowIDs.empty(), error, APMErrorStorage, "Received empty row IDs to process")) {
        return std::nullopt;
    }
    for (const Value& rowID : rowIDs) {
        if (!APMCheckSuccess(rowID.isNumber(), error, APMErrorStorage, "Received invalid type for row ID to process")) {
            return std::nullopt;
        }
    }
    std::string placeholders = "?";
    for (std::size_t i = 1; i < rowIDs.size(); ++i) placeholders += ",?";
    return "rowid IN (" + placeholders + ")";
}

}  // namespace

std::optional<bool> APMDatabase::isQueuedBundleTableEmpty(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return keptBoolean(uploadFacts_.queueEmpty, "SELECT NOT EXISTS (SELECT 1 FROM queue LIMIT 1)", error);
}

bool APMDatabase::insertBundle(const std::shared_ptr<APMPBMeasurementBundle>& bundle, bool isRealtime,
                               NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    const NSData bytes = bundle ? bundle->protoBuffer().value_or(NSData{}) : NSData{};
    if (!APMCheckSuccess(!bytes.empty(), error, APMErrorInvalidArgument, "Failed to insert nil bundle")) return false;
    const std::int64_t endMillis = APMPBMessageGetInt64(bundle, APMPBMeasurementBundle::kEndTimestampMillis);
    if (!isQueueableBundle(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kAppId).value_or(""), endMillis,
                           error)) {
        return false;
    }
    if (!maybeDeleteStaleData(error).has_value()) return false;
    auto monitor = APMMeasurementMonitor();
    const double endTime = static_cast<double>(endMillis) / 1000.0;
    if (std::fabs(Clock::now() - endTime) > limits().maxQueueTime) {
        monitor->logWithLevel(4, 12016, "Storing bundle outside of the max uploading time span");
    }
    // Written for every bundle and kept only until it is uploaded: speed before size.
    NSData compressed = NSDataVULGzip::vul_dataByGzippingData(bytes, nullptr, VULGzipEffort::Fastest);
    if (!APMCheckSuccess(!compressed.empty(), error, APMErrorFailedPrecondition, "Failed to compress bundle")) {
        return false;
    }
    monitor->logWithLevel(7, 12018, "Saving bundle. size (bytes)", Value(std::to_string(compressed.size())));
    const Row row = {{"bundle_end_timestamp", Value(endTime)},
                     {"data", Value(std::move(compressed))},
                     {"is_realtime", Value(isRealtime ? 1 : 0)},
                     {"retry_count", Value(APMPBMessageGetInt32(bundle, APMPBMeasurementBundle::kRetryCount))}};
    if (!requireStore(error)) return false;
    return sqliteStore_->upsertRecord(row, "queue", error);
}

bool APMDatabase::isQueueableBundle(const std::string& appID, std::int64_t endTimestampMillis, NSErrorPtr* error) {
    if (!APMCheckSuccess(!appID.empty(), error, APMErrorInvalidArgument, "Failed to insert bundle without App ID")) {
        return false;
    }
    return APMCheckSuccess(endTimestampMillis >= 1, error, APMErrorInvalidArgument,
                           "Failed to insert bundle without valid timestamp");
}

std::optional<APMDatabase::QueuedBundle> APMDatabase::queuedBundleFromRow(const Row& row, NSErrorPtr* error) {
    if (!APMCheckSuccess(!row.empty(), error, APMErrorStorage, "Cannot process empty rowData")) return std::nullopt;
    const Value& data = row.get("data");
    if (!APMCheckSuccess(data.isData() && !data.data().empty(), error, APMErrorStorage,
                         "Cannot decompress an empty bundle data")) {
        return std::nullopt;
    }
    NSErrorPtr inflateError;
    const NSData inflated = NSDataVULGzip::vul_dataByInflatingGzippedData(data.data(), &inflateError);
    if (inflated.empty()) {
        APMSetError(error, APMErrorFailedPrecondition,
                    inflateError ? inflateError->localizedDescription() : std::string());
        return std::nullopt;
    }
    // Its events go out as they were stored: they stay encoded unless someone reads them.
    auto bundle = APMPBMeasurementBundle::initWithBufferKeepingItemsEncoded(inflated);
    if (!APMCheckSuccess(bundle != nullptr, error, APMErrorFailedPrecondition,
                         "Unable to parse bundle from decompressed data")) {
        return std::nullopt;
    }
    const Value& retryCount = row.get("retry_count");
    if (!retryCount.isNull()) {
        const auto retries = static_cast<std::int32_t>(retryCount.longLongValue());
        if (retries >= 1) APMPBMessageSetInt32(bundle, APMPBMeasurementBundle::kRetryCount, retries);
    }
    const Value& rowID = row.get("rowid");
    if (rowID.isNull()) return std::nullopt;
    return QueuedBundle{bundle, rowID.longLongValue()};
}

std::optional<std::vector<APMDatabase::QueuedBundle>> APMDatabase::queryBundlesWithCountLimit(
    std::int64_t countLimit, std::int64_t sizeLimit, NSErrorPtr* error, std::vector<std::int64_t>* unreadableRowIDs) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery("SELECT rowid, data, retry_count FROM queue ORDER BY rowid ASC LIMIT ?",
                                              {Value(static_cast<long long>(countLimit))}, error);
    if (!rows) return std::nullopt;
    std::vector<QueuedBundle> chosen;
    std::int64_t total = 0;
    for (const auto& row : *rows) {
        auto queued = queuedBundleFromRow(row, nullptr);
        if (!queued) {
            if (unreadableRowIDs && !row.get("rowid").isNull()) unreadableRowIDs->push_back(row.get("rowid").longLongValue());
            continue;
        }
        // Measured as sent: the message encoded again, not the stored gzip bytes.
        const auto size = static_cast<std::int64_t>(queued->first->protoBuffer().value_or(NSData{}).size());
        if (!chosen.empty() && total + size > sizeLimit) break;
        total += size;
        chosen.push_back(std::move(*queued));
        if (total > sizeLimit) break;
    }
    return chosen;
}

std::optional<std::vector<APMDatabase::QueuedBundle>> APMDatabase::queryBundlesWithRowIDs(const Value::Array& rowIDs,
                                                                                          NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto condition = rowIDCondition(rowIDs, error);
    if (!condition) return std::nullopt;
    if (!requireStore(error)) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        NSString::format("SELECT rowid, data, retry_count FROM queue WHERE %@", *condition), rowIDs, error);
    if (!rows) return std::nullopt;
    std::vector<QueuedBundle> bundles;
    for (const auto& row : *rows) {
        if (auto queued = queuedBundleFromRow(row, nullptr)) bundles.push_back(std::move(*queued));
    }
    return bundles;
}

bool APMDatabase::deleteBundlesWithRowIDs(const Value::Array& rowIDs, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto condition = rowIDCondition(rowIDs, error);
    if (!condition) return false;
    if (!requireStore(error)) return false;
    return sqliteStore_->deleteRecordsFromTableWithName("queue", *condition, rowIDs, error).has_value();
}

bool APMDatabase::incrementRetryCounterForBundlesWithIDs(const Value::Array& rowIDs, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!rowIDs.empty(), error, APMErrorInvalidArgument, "Failed to increment retry counter")) {
        return false;
    }
    auto condition = rowIDCondition(rowIDs, error);
    if (!condition) return false;
    if (!requireStore(error)) return false;
    // Asked of the given bundles only, so that unrelated rows at the cap raise no warning.
    Value::Array capValues = {Value(kMaxRetryCount)};
    capValues.insert(capValues.end(), rowIDs.begin(), rowIDs.end());
    auto capped = booleanForQuery(
        NSString::format("SELECT EXISTS (SELECT 1 FROM queue WHERE retry_count = ? AND %@ LIMIT 1)", *condition),
        capValues, error);
    if (!capped) return false;
    if (*capped) {
        APMMeasurementMonitor()->logWithLevel(1, 12054,
                                              "The number of upload retries exceeds the limit. Will remain unchanged.");
    }
    // Rows queued before the column existed count from 0.
    sqlite3_stmt* statement = sqliteStore_->prepareSQL(
        NSString::format("UPDATE queue SET retry_count = 0 WHERE retry_count IS NULL AND %@", *condition), error);
    if (!statement) return false;
    if (!sqliteStore_->bindValues(rowIDs, statement, error)) {
        sqliteStore_->cleanUpStatement(statement, std::string());
        return false;
    }
    if (!sqliteStore_->executeSQLStatement(statement, error)) return false;
    Value::Array values = rowIDs;
    values.push_back(Value(kMaxRetryCount));
    return sqliteStore_->increaseColumn("retry_count", 1, "queue", *condition + " AND retry_count < ?", values, error);
}

std::optional<double> APMDatabase::queryLatestBundleTime(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return keptDouble(uploadFacts_.latestBundleTime, "SELECT MAX(bundle_end_timestamp) FROM queue", error);
}

std::optional<bool> APMDatabase::containsRealtimeBundlesWithError(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    // The literal lets the partial index serve it; asked after every event, so kept prepared.
    return keptBoolean(uploadFacts_.realtimeBundles, "SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1 LIMIT 1)",
                       error, true);
}
