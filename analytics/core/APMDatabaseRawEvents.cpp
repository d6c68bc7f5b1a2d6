// Raw events waiting to be bundled and the shared bundle metadata they point to.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMRawEventData.h"
#include "analytics/core/APMValue.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"

namespace {

constexpr std::int64_t kRawEventsReadLimit = 1000;

// The stored times APMEvent::isValidTimestamp refuses: no number, or milliseconds below 1 or
// beyond an int64. SQLite multiplies doubles as C++ does, so the two agree on every value. The
// two ranges around the valid times (text and blobs sort above every number) let the index of
// the times find them without visiting the rows of valid events.
constexpr const char* kWithoutValidTimestamp =
    "(timestamp < 0.002 OR timestamp > 9.2e15) AND NOT (typeof(timestamp) IN ('integer', 'real') AND "
    "timestamp * 1000.0 >= 1 AND timestamp * 1000.0 < 9223372036854775808.0)";

// One parameter message to name -> APMValue. Nested items (array elements and their
// fields) may be nameless; such an item simply contributes nothing.
std::optional<Value::Dictionary> decodeEventParam(const std::shared_ptr<APMPBEventParam>& param, bool nested,
                                                  NSErrorPtr* error) {
    if (!APMCheckSuccess(param != nullptr, error, APMErrorInvalidArgument, "Failed to parse empty event params data")) {
        return std::nullopt;
    }
    auto name = APMPBMessageGetString(param, APMPBEventParam::kName);
    if (!nested &&
        !APMCheckSuccess(name.has_value(), error, APMErrorInvalidArgument, "Event parameter name is empty")) {
        return std::nullopt;
    }
    std::shared_ptr<APMValue> value;
    if (APMPBMessageHasField(param, APMPBEventParam::kStringValue)) {
        value = APMValue::initWithString(Value(APMPBMessageGetString(param, APMPBEventParam::kStringValue).value_or("")));
    } else if (APMPBMessageHasField(param, APMPBEventParam::kIntValue)) {
        value = APMValue::initWithInt64(APMPBMessageGetInt64(param, APMPBEventParam::kIntValue));
    } else if (APMPBMessageHasField(param, APMPBEventParam::kDoubleValue)) {
        value = APMValue::initWithDouble(APMPBMessageGetDouble(param, APMPBEventParam::kDoubleValue));
    }
    if (value) {
        Value::Dictionary result;
        if (name) result.set(*name, Value(value));
        return result;
    }
    auto items = APMPBMessageGetArray<APMPBEventParam>(param, APMPBEventParam::kParamValue).value_or(Value::Array{});
    if (!APMCheckSuccess(!items.empty(), error, APMErrorFailedPrecondition,
                         "Failed to parse invalid event params data")) {
        return std::nullopt;
    }
    if (!nested) {
        Value::Array list;
        for (const Value& item : items) {
            auto decoded = decodeEventParam(item.objectAs<APMPBEventParam>(), true, nullptr);
            if (decoded && !decoded->empty()) list.push_back(Value(std::move(*decoded)));
        }
        Value::Dictionary result;
        if (auto array = APMValue::initWithArray(Value(std::move(list)))) result.set(*name, Value(array));
        return result;
    }
    Value::Dictionary result;
    for (const Value& item : items) {
        auto itemParam = item.objectAs<APMPBEventParam>();
        auto itemName = APMPBMessageGetString(itemParam, APMPBEventParam::kName);
        auto decoded = decodeEventParam(itemParam, true, nullptr);
        if (!decoded || decoded->empty() || !itemName) continue;
        const auto& first = *decoded->begin();
        if (first.first == *itemName) result.set(first.first, first.second);
    }
    return result;
}

}  // namespace

bool APMDatabase::insertIfNotExistsRawEventMetadata(const std::shared_ptr<APMPBMeasurementBundle>& metadata,
                                                    NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    const NSData bytes = metadata ? metadata->protoBuffer().value_or(NSData{}) : NSData{};
    return insertIfNotExistsRawEventMetadata(bytes, bytes.empty() ? 0 : apm_64LSBMD5(bytes), error);
}

bool APMDatabase::insertIfNotExistsRawEventMetadata(const NSData& bytes, std::int64_t fingerprint, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!bytes.empty(), error, APMErrorStorage,
                         "Received empty measurement bundle metadata for getting dictionary representation")) {
        return false;
    }
    if (storedMetadataFingerprint_ == fingerprint && sqliteStore_) return true;
    if (queryRawEventsMetadataWithFingerprint(fingerprint, nullptr)) {
        storedMetadataFingerprint_ = fingerprint;
        return true;
    }
    const Row row = {{"metadata_fingerprint", Value(static_cast<long long>(fingerprint))}, {"metadata", Value(bytes)}};
    return upsertDataType(row, "raw_events_metadata", "metadata_fingerprint", Value(static_cast<long long>(fingerprint)),
                          kRawEventsMetadataLimit, error);
}

std::shared_ptr<APMPBMeasurementBundle> APMDatabase::queryRawEventsMetadataWithFingerprint(std::int64_t fingerprint,
                                                                                           NSErrorPtr* error,
                                                                                           bool* unreadable) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (unreadable) *unreadable = false;
    auto objects = dataTypesFromTableWithName(
        "raw_events_metadata", "metadata_fingerprint", Value(static_cast<long long>(fingerprint)), error,
        [unreadable](const Row& row, NSErrorPtr* rowError) -> std::shared_ptr<NSObject> {
            // The row was read: what it holds is all there is.
            if (!APMCheckSuccess(!row.empty(), rowError, APMErrorStorage,
                                 "Received empty dictionary for getting measurement bundle")) {
                if (unreadable) *unreadable = true;
                return nullptr;
            }
            const Value& metadata = row.get("metadata");
            if (!APMCheckSuccess(metadata.isData() && !metadata.data().empty(), rowError, APMErrorStorage,
                                 "Event metadata should not be empty for getting measurement bundle")) {
                if (unreadable) *unreadable = true;
                return nullptr;
            }
            auto bundle = APMPBMeasurementBundle::initWithBuffer(metadata.data());
            if (!bundle && unreadable) *unreadable = true;
            return bundle;
        });
    if (!objects || objects->empty()) return nullptr;
    return std::static_pointer_cast<APMPBMeasurementBundle>(objects->front());
}

bool APMDatabase::deleteRawEventMetadataWithMetadataFingerprint(std::int64_t fingerprint, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_
        ->deleteRecordsFromTableWithName("raw_events_metadata", "metadata_fingerprint == ?",
                                         {Value(static_cast<long long>(fingerprint))}, error)
        .has_value();
}

std::optional<bool> APMDatabase::isRawEventsTableEmpty(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return keptBoolean(uploadFacts_.rawEventsEmpty, "SELECT NOT EXISTS (SELECT 1 FROM raw_events LIMIT 1)", error);
}

bool APMDatabase::insertRawEvent(const std::shared_ptr<APMEvent>& event, std::int64_t metadataFingerprint,
                                 bool isRealtime, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(event != nullptr, error, APMErrorInvalidArgument,
                         "Received empty event for inserting in the database")) {
        return false;
    }
    // Such a row could never be bundled.
    if (!APMCheckSuccess(APMEvent::isValidTimestamp(event->timestamp()), error, APMErrorInvalidArgument,
                         "Received event without a valid timestamp for inserting in the database")) {
        return false;
    }
    if (!requireStore(error)) return false;
    // The stored message leaves the name out: the row has its own column.
    NSData data = event->encodedProtoEvent(false);
    static const std::string kInsert =
        "INSERT OR REPLACE INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
        "VALUES (?, ?, ?, ?, ?);";
    insertingRawEvent_ = {event->timestamp(), isRealtime};
    const bool inserted = sqliteStore_
                              ->changesForStatement(kInsert,
                                                    {Value(event->name()), Value(event->timestamp()),
                                                     Value(static_cast<long long>(metadataFingerprint)),
                                                     Value(std::move(data)), Value(isRealtime ? 1 : 0)},
                                                    error)
                              .has_value();
    insertingRawEvent_.reset();
    if (!inserted) tableChanged(nullptr, false, 0);
    return inserted;
}

std::optional<double> APMDatabase::queryLatestRawEventTime(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return keptDouble(uploadFacts_.latestRawEventTime, "SELECT MAX(timestamp) FROM raw_events", error);
}

std::optional<std::vector<APMDatabase::Row>> APMDatabase::rawEventRowsWithMetadataFingerprint(
    std::int64_t fingerprint, NSErrorPtr* error, const APMSqliteStore::RowFilter& eventFilter) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    const APMSqliteStore::RowFilter keepAll = [](std::size_t, const Row&) { return true; };
    return sqliteStore_->recordsForQuery(
        "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?",
        {Value(static_cast<long long>(fingerprint)), Value(static_cast<long long>(kRawEventsReadLimit))}, error,
        eventFilter ? eventFilter : keepAll);
}

std::optional<std::vector<std::shared_ptr<APMRawEventData>>> APMDatabase::rawEventsWithMetadataFingerprint(
    std::int64_t fingerprint, NSErrorPtr* error, const APMSqliteStore::RowFilter& eventFilter) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto rows = rawEventRowsWithMetadataFingerprint(fingerprint, error, eventFilter);
    if (!rows) return std::nullopt;
    std::vector<std::shared_ptr<APMRawEventData>> records;
    NSErrorPtr rowError;
    for (const auto& row : *rows) {
        if (auto record = rawEventDataFromDictionary(row, &rowError)) records.push_back(std::move(record));
    }
    if (!rows->empty() && records.empty()) {
        setError(error, rowError);
        return std::nullopt;
    }
    return records;
}

std::optional<bool> APMDatabase::containsRawEventWithMetadataFingerprint(std::int64_t fingerprint, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return booleanForQuery("SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)",
                           {Value(static_cast<long long>(fingerprint))}, error);
}

bool APMDatabase::deleteRawEventsWithMaxRowID(std::int64_t rowID, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_
        ->deleteRecordsFromTableWithName("raw_events", "rowid <= ?", {Value(static_cast<long long>(rowID))}, error)
        .has_value();
}

std::optional<std::int64_t> APMDatabase::deleteRawEventsWithoutValidTimestamp(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    auto deleted = sqliteStore_->deleteRecordsFromTableWithName("raw_events", kWithoutValidTimestamp, {}, error);
    if (!deleted || *deleted == 0) return deleted;
    if (!deleteUnusedRawEventsMetadata(error)) return std::nullopt;
    return deleted;
}

std::optional<std::int64_t> APMDatabase::nextMetadataFingerprintToProcess(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery("SELECT metadata_fingerprint, MIN(rowid) FROM raw_events", {}, error);
    if (!rows) return std::nullopt;
    if (!APMCheckSuccess(rows->size() == 1, error, APMErrorFailedPrecondition,
                         "Only one event metadata should be processed")) {
        return std::nullopt;
    }
    const Value& fingerprint = rows->front().get("metadata_fingerprint");
    if (fingerprint.isNull()) return std::nullopt;
    return fingerprint.longLongValue();
}

std::shared_ptr<APMRawEventData> APMDatabase::rawEventDataFromDictionary(const Row& row, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!row.empty(), error, APMErrorInvalidArgument,
                         "Received empty dictionary for getting raw event data")) {
        return nullptr;
    }
    const Value& rowID = row.get("rowid");
    const Value& data = row.get("data");
    const Value& fingerprint = row.get("metadata_fingerprint");
    if (!APMCheckSuccess(!rowID.isNull(), error, APMErrorInvalidArgument,
                         "Unable to find row ID in the database dictionary")) {
        return nullptr;
    }
    if (!APMCheckSuccess(!data.isNull(), error, APMErrorInvalidArgument,
                         "Unable to find event data in the database dictionary")) {
        return nullptr;
    }
    if (!APMCheckSuccess(!fingerprint.isNull(), error, APMErrorInvalidArgument,
                         "Unable to find event metadata in the database dictionary")) {
        return nullptr;
    }
    auto proto = data.isData() ? APMPBEvent::initWithBuffer(data.data()) : nullptr;
    if (!APMCheckSuccess(proto != nullptr, error, APMErrorStorage, "Failed to parse event from data")) return nullptr;
    const std::string name = row.get("name").stringValue();
    const double timestamp = row.get("timestamp").doubleValue();
    const double previous =
        static_cast<double>(APMPBMessageGetInt64(proto, APMPBEvent::kPreviousTimestampMillis)) / 1000.0;
    std::optional<std::string> origin;
    Value::Dictionary parameters;
    for (const Value& item : APMPBMessageGetArray<APMPBEventParam>(proto, APMPBEvent::kParams).value_or(Value::Array{})) {
        auto param = item.objectAs<APMPBEventParam>();
        auto paramName = APMPBMessageGetString(param, APMPBEventParam::kName);
        if (paramName && *paramName == "_o") {
            origin = APMPBMessageHasField(param, APMPBEventParam::kStringValue)
                         ? APMPBMessageGetString(param, APMPBEventParam::kStringValue)
                         : std::nullopt;
            if (!APMCheckSuccess(origin.has_value(), error, APMErrorFailedPrecondition,
                                 "Cannot create an event from database. Origin parameter is not a string")) {
                return nullptr;
            }
            continue;
        }
        auto decoded = decodeEventParam(param, false, error);
        if (!APMCheckSuccess(decoded && paramName && decoded->contains(*paramName), error, APMErrorFailedPrecondition,
                             "Failed to parse event params data")) {
            return nullptr;
        }
        parameters.set(*paramName, decoded->get(*paramName));
    }
    if (!APMCheckSuccess(origin && !origin->empty(), error, APMErrorFailedPrecondition,
                         "Cannot create an event from database. Missing origin parameter")) {
        return nullptr;
    }
    auto event = APMEvent::initWithOrigin(*origin, false, name, timestamp, previous, parameters);
    auto record = APMRawEventData::initWithRawEvent(event, rowID.longLongValue(), fingerprint.longLongValue());
    if (!APMCheckSuccess(record != nullptr, error, APMErrorFailedPrecondition,
                         "Failed to initialize raw event data from dictionary")) {
        return nullptr;
    }
    return record;
}

std::optional<bool> APMDatabase::containsRealtimeRawEventsWithError(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    // The literal lets the partial index serve it; asked after every event, so kept prepared.
    return keptBoolean(uploadFacts_.realtimeRawEvents, "SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1 LIMIT 1)",
                       error, true);
}
