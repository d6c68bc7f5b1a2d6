// Generic row operations of the typed tables, the one-number queries, and the column
// encodings several tables share (attribute values, event blobs).
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMError.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMValue.h"
#include "analytics/proto/APMPBEvent.h"
#include "platform/foundation/NSString.h"

std::optional<std::vector<std::shared_ptr<NSObject>>> APMDatabase::allDataTypesFromTableWithName(
    const std::string& table, std::int64_t tableLimit, NSErrorPtr* error, const CreateDataTypeBlock& block) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(static_cast<bool>(block), error, APMErrorInvalidArgument,
                         "Received nil block to get all data types")) {
        return std::nullopt;
    }
    if (!requireStore(error)) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        NSString::format("SELECT rowid, * FROM %@ ORDER BY rowid LIMIT %ld", table, static_cast<long>(tableLimit)), {},
        error);
    if (!rows) return std::nullopt;
    std::vector<std::shared_ptr<NSObject>> objects;
    for (const auto& row : *rows) {
        if (auto object = block(row, error)) objects.push_back(std::move(object));
    }
    return objects;
}

std::optional<std::vector<std::shared_ptr<NSObject>>> APMDatabase::dataTypesFromTableWithName(
    const std::string& table, const std::string& columnName, const Value& columnValue, NSErrorPtr* error,
    const CreateDataTypeBlock& block) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!table.empty(), error, APMErrorInvalidArgument,
                         "Received empty table name to create data type from table")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(!columnName.empty(), error, APMErrorInvalidArgument,
                         "Received empty column name to create data type from table")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(!columnValue.isNull(), error, APMErrorInvalidArgument,
                         "Received nil column value to create data type from table")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(static_cast<bool>(block), error, APMErrorFailedPrecondition,
                         "Received nil block to create data type from table")) {
        return std::nullopt;
    }
    if (!requireStore(error)) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(NSString::format("SELECT rowid, * FROM %@ WHERE %@ = ?", table, columnName),
                                              {columnValue}, error);
    if (!rows) return std::nullopt;
    std::vector<std::shared_ptr<NSObject>> objects;
    for (const auto& row : *rows) {
        if (auto object = block(row, error)) objects.push_back(std::move(object));
    }
    if (!rows->empty() && objects.empty()) {
        APMSetError(error, APMErrorFailedPrecondition, "Failed to initialize data types from dictionaries");
        return std::nullopt;
    }
    return objects;
}

bool APMDatabase::insertDataType(const Row& record, const std::string& table, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!table.empty(), error, APMErrorInvalidArgument, "Received empty table name for inserting")) {
        return false;
    }
    if (!APMCheckSuccess(!record.empty(), error, APMErrorFailedPrecondition, "Failed to insert empty record")) {
        return false;
    }
    if (!requireStore(error)) return false;
    return sqliteStore_->upsertRecord(record, table, error);
}

bool APMDatabase::upsertDataType(const Row& record, const std::string& table, const std::string& columnName,
                                 const Value& columnValue, std::int64_t tableLimit, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!record.empty(), error, APMErrorInvalidArgument, "Received empty data type to upsert")) {
        return false;
    }
    if (!APMCheckSuccess(!table.empty(), error, APMErrorInvalidArgument,
                         "Received empty table name for checking upsert")) {
        return false;
    }
    if (!requireStore(error)) return false;
    auto keyCount = sqliteStore_->rowCountForTableWithName(table, columnName, columnValue, error);
    if (!keyCount) return false;
    auto tableCount = sqliteStore_->rowCountForTableWithName(table, error);
    if (!tableCount) return false;
    if (!APMCheckSuccess(*keyCount > 0 || *tableCount < tableLimit, error, APMErrorFailedPrecondition,
                         "Failed to insert data type. Table is full")) {
        return false;
    }
    return sqliteStore_->upsertRecord(record, table, error);
}

bool APMDatabase::updateDataType(const Row& record, const std::string& table, const std::string& columnName,
                                 const Value& columnValue, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!record.empty(), error, APMErrorInvalidArgument, "Received empty data type to update")) {
        return false;
    }
    if (!APMCheckSuccess(!table.empty(), error, APMErrorInvalidArgument, "Received empty table name for updating")) {
        return false;
    }
    if (!requireStore(error)) return false;
    auto keyCount = sqliteStore_->rowCountForTableWithName(table, columnName, columnValue, error);
    if (!keyCount) return false;
    if (!APMCheckSuccess(*keyCount > 0, error, APMErrorFailedPrecondition,
                         "Failed to update record. Item doesn't exist")) {
        return false;
    }
    return sqliteStore_->updateRecord(record, table, columnName, columnValue, error);
}

std::optional<bool> APMDatabase::booleanForQuery(const std::string& query, const Value::Array& values,
                                                 NSErrorPtr* error, bool fixedText) {
    if (!requireStore(error)) return std::nullopt;
    auto number = sqliteStore_->numberForQuery(query, values, error, fixedText);
    if (!number) return std::nullopt;
    return number->boolValue();
}

std::optional<double> APMDatabase::doubleForQuery(const std::string& query, const Value::Array& values,
                                                  NSErrorPtr* error) {
    if (!requireStore(error)) return std::nullopt;
    auto number = sqliteStore_->numberForQuery(query, values, error);
    if (!number) return std::nullopt;
    return number->doubleValue();
}

Value APMDatabase::valueColumnFromValue(const std::shared_ptr<APMValue>& value) {
    if (!value) return Value();
    if (const std::string* text = value->stringValue()) return Value(*text);
    if (value->isDouble()) return Value(value->doubleValue());
    return Value(static_cast<long long>(value->int64Value()));
}

std::shared_ptr<APMEvent> APMDatabase::eventFromBlob(const Value& blob, NSErrorPtr* error, bool carried) {
    if (!APMCheckSuccess(blob.isData(), error, APMErrorFailedPrecondition,
                         "Failed to convert data to an event. Data must be a NSData instance")) {
        return nullptr;
    }
    auto proto = APMPBEvent::initWithBuffer(blob.data());
    if (!APMCheckSuccess(proto != nullptr, error, APMErrorFailedPrecondition, "Failed to parse event from data")) {
        return nullptr;
    }
    auto event = APMEvent::initWithEventProto(proto, carried ? APMEvent::Time::Carried : APMEvent::Time::Logged);
    if (!APMCheckSuccess(event != nullptr, error, APMErrorFailedPrecondition,
                         "Failed to initialize event from proto data")) {
        return nullptr;
    }
    return event;
}

std::optional<NSData> APMDatabase::blobFromEvent(const std::shared_ptr<APMEvent>& event) {
    if (!event) return std::nullopt;
    auto proto = event->protoEvent();
    return proto ? proto->protoBuffer() : std::nullopt;
}
