// The measurement database's file, schema, generic row operations, app metadata and daily counts.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMAppMetadata.h"
#include "analytics/core/APMDailyCounts.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

using ColumnInfo = APMSqliteStore::ColumnInfo;

struct TableSchema {
    const char* name;
    ColumnInfo elementary;
    ColumnInfo addOn;
    APMSqliteStore::ModifyColumnInfo modify;
};

const std::vector<TableSchema>& measurementSchema() {
    static const std::vector<TableSchema> schema = {
        {"app_metadata",
         {{"last_bundle_index", "INTEGER NOT NULL"}, {"last_bundle_end_timestamp", "REAL NOT NULL"}},
         {{"last_bundle_start_timestamp", "REAL"},
          {"day", "INTEGER"},
          {"daily_conversions_count", "INTEGER"},
          {"daily_events_count", "INTEGER"},
          {"daily_public_events_count", "INTEGER"},
          {"daily_error_events_count", "INTEGER"},
          {"remote_config_data", "BLOB"},
          {"remote_config_timestamp", "REAL"},
          {"daily_real_time_conversion_events_count", "INTEGER"}},
         {}},
        {"raw_events_metadata",
         {{"metadata_fingerprint", "INTEGER NOT NULL PRIMARY KEY"}, {"metadata", "BLOB NOT NULL"}},
         {},
         {}},
        {"raw_events",
         {{"name", "TEXT NOT NULL"},
          {"timestamp", "INTEGER NOT NULL"},
          {"metadata_fingerprint", "INTEGER NOT NULL"},
          {"data", "BLOB NOT NULL"}},
         {{"is_realtime", "INTEGER"}},
         {{"timestamp", "REAL NOT NULL"}}},
        {"events",
         {{"name", "TEXT NOT NULL PRIMARY KEY"},
          {"lifetime_count", "INTEGER NOT NULL"},
          {"current_bundle_count", "INTEGER NOT NULL"},
          {"last_fire_timestamp", "REAL NOT NULL"}},
         {{"last_bundled_timestamp", "REAL"},
          {"last_sampled_complex_event_id", "INTEGER"},
          {"last_sampling_rate", "INTEGER"},
          {"last_exempt_from_sampling", "INTEGER"},
          {"last_bundled_day", "INTEGER"},
          {"current_session_count", "INTEGER"}},
         {}},
        {"user_attributes",
         {{"name", "TEXT NOT NULL PRIMARY KEY"}, {"set_timestamp", "REAL NOT NULL"}, {"value", "BLOB NOT NULL"}},
         {{"origin", "TEXT"}},
         {}},
        {"queue",
         {{"data", "BLOB NOT NULL"}, {"bundle_end_timestamp", "REAL NOT NULL"}},
         {{"is_realtime", "INTEGER"}, {"retry_count", "INTEGER"}},
         {}},
        {"event_filters",
         {{"audience_id", "INTEGER NOT NULL"},
          {"filter_id", "INTEGER NOT NULL"},
          {"event_name", "TEXT NOT NULL"},
          {"data", "BLOB NOT NULL"},
          {"PRIMARY KEY", "(audience_id, filter_id)"}},
         {{"session_scoped", "INTEGER"}},
         {}},
        {"property_filters",
         {{"audience_id", "INTEGER NOT NULL"},
          {"filter_id", "INTEGER NOT NULL"},
          {"property_name", "TEXT NOT NULL"},
          {"data", "BLOB NOT NULL"},
          {"PRIMARY KEY", "(audience_id, filter_id)"}},
         {{"session_scoped", "INTEGER"}},
         {}},
        {"audience_filter_values",
         {{"audience_id", "INTEGER NOT NULL PRIMARY KEY"}, {"current_results", "BLOB"}, {"previous_results", "BLOB"}},
         {},
         {}},
        {"purchase_transactions", {{"fingerprint", "TEXT NOT NULL PRIMARY KEY"}}, {}, {}},
        {"subscriptions", {{"subscription_id", "TEXT NOT NULL PRIMARY KEY"}}, {}, {}},
        {"conditional_properties",
         {{"name", "TEXT NOT NULL PRIMARY KEY"},
          {"origin", "TEXT NOT NULL"},
          {"value", "BLOB NOT NULL"},
          {"creation_timestamp", "REAL NOT NULL"},
          {"active", "INTEGER NOT NULL"},
          {"trigger_timeout", "REAL NOT NULL"},
          {"triggered_timestamp", "REAL NOT NULL"},
          {"time_to_live", "REAL NOT NULL"},
          {"trigger_event_name", "TEXT"},
          {"timed_out_event", "BLOB"},
          {"triggered_event", "BLOB"},
          {"expired_event", "BLOB"}},
         {},
         {}},
        {"main_event_params",
         {{"event_id", "INTEGER NOT NULL PRIMARY KEY"},
          {"children_to_process", "INTEGER NOT NULL"},
          {"main_event", "BLOB NOT NULL"}},
         {},
         {}},
    };
    return schema;
}

std::mutex& limitsMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<APMDatabaseLimits()>& limitsProvider() {
    static std::function<APMDatabaseLimits()> provider;
    return provider;
}

std::shared_ptr<NSObject> appMetadataFromRow(const APMDatabase::Row& row, NSErrorPtr* error) {
    if (!APMCheckSuccess(!row.empty(), error, 3, "Received empty dictionary for getting app metadata")) return nullptr;
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

// MARK: Limits

void APMDatabase::setLimitsProvider(std::function<APMDatabaseLimits()> provider) {
    std::lock_guard<std::mutex> lock(limitsMutex());
    limitsProvider() = std::move(provider);
}

APMDatabaseLimits APMDatabase::limits() {
    APMDatabaseLimits limits;
    {
        std::lock_guard<std::mutex> lock(limitsMutex());
        if (limitsProvider()) limits = limitsProvider()();
    }
    limits.maxEventsStored = std::clamp<std::int32_t>(limits.maxEventsStored, 0, 1000000);
    limits.maxQueueTime = std::clamp(limits.maxQueueTime, 604800.0, 7862400.0);
    limits.databaseDeleteStaleBundlesInterval = std::clamp(limits.databaseDeleteStaleBundlesInterval, 3600.0, 604800.0);
    return limits;
}

// MARK: Opening

std::shared_ptr<APMDatabase> APMDatabase::initWithDatabaseName(const std::string& name,
                                                               std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                               NSErrorPtr* error) {
    if (!APMCheckSuccess(!name.empty(), error, 1, "Received empty database name in init")) return nullptr;
    auto database = std::make_shared<APMDatabase>();
    if (!database->initializeDatabaseResourcesWithContext("Init", APMApplicationSupportPath(name), error)) {
        return nullptr;
    }
    database->persistedConfig_ = std::move(persistedConfig);
    return database;
}

bool APMDatabase::initializeDatabaseResourcesWithContext(const std::string& context, const std::string& databasePath,
                                                         NSErrorPtr* error) {
    auto store = APMSqliteStore::initWithDatabasePath(databasePath, error);
    if (!store) return false;
    sqliteStore_ = store;
    auto monitor = APMMeasurementMonitor();
    if (!ensureAllTables()) {
        const std::string message =
            NSString::format("Failed to create or validate required database tables (%@)", context);
        monitor->logWithLevel(1, 12002, message);
        // Closed first, so that nothing keeps writing into the unlinked file.
        sqliteStore_->closeDatabase();
        NSErrorPtr deleteError;
        if (!APMDeleteFileAtPath(databasePath, &deleteError) && deleteError) {
            monitor->logWithLevel(
                4, 12003, NSString::format("Failed to delete old database file after failed validation. Error (%@)",
                                           context),
                Value(deleteError));
        }
        APMSetError(error, 2, message);
        return false;
    }
    if (!initializeAppMetadata()) {
        const std::string message = NSString::format("Failed to initialize App Metadata table (%@)", context);
        monitor->logWithLevel(1, 12004, message);
        APMSetError(error, 2, message);
        return false;
    }
    return true;
}

bool APMDatabase::ensureAllTables() {
    if (!sqliteStore_) return false;
    for (const auto& table : measurementSchema()) {
        NSErrorPtr error;
        if (!sqliteStore_->ensureTableWithName(table.name, table.elementary, table.addOn, table.modify, &error)) {
            // Any failure counts: a table that did not pass is not there to be used.
            APMMeasurementMonitor()->logWithLevel(1, 12047, "Failed to ensure table. Table, error", Value(table.name),
                                                  error ? Value(error) : Value());
            return false;
        }
    }
    return true;
}

bool APMDatabase::reset(NSErrorPtr* error) {
    if (!requireStore(error)) return false;
    const std::string path = sqliteStore_->databasePath();
    if (!APMCheckSuccess(sqliteStore_->closeAndDeleteDatabase(), error, 2, "Failed to delete database data")) {
        return false;
    }
    return initializeDatabaseResourcesWithContext("Reset", path, error);
}

bool APMDatabase::performTransaction(const std::function<bool()>& block) {
    NSErrorPtr error;
    if (!requireStore(&error)) return false;
    const bool succeeded = sqliteStore_->performTransactionWithError(&error, block);
    if (!succeeded) {
        APMMeasurementMonitor()->logWithLevel(
            1, 12056, NSString::format("Transaction failed. %@", error ? error->localizedDescription() : std::string()));
    }
    return succeeded;
}

bool APMDatabase::requireStore(NSErrorPtr* error) const {
    return APMCheckSuccess(sqliteStore_ != nullptr, error, 2, "Database not open");
}

// MARK: Generic rows

std::optional<std::vector<std::shared_ptr<NSObject>>> APMDatabase::allDataTypesFromTableWithName(
    const std::string& table, std::int64_t tableLimit, NSErrorPtr* error, const CreateDataTypeBlock& block) {
    if (!APMCheckSuccess(static_cast<bool>(block), error, 1, "Received nil block to get all data types")) {
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
    if (!APMCheckSuccess(!table.empty(), error, 1, "Received empty table name to create data type from table")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(!columnName.empty(), error, 1, "Received empty column name to create data type from table")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(!columnValue.isNull(), error, 1, "Received nil column value to create data type from table")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(static_cast<bool>(block), error, 2, "Received nil block to create data type from table")) {
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
        APMSetError(error, 2, "Failed to initialize data types from dictionaries");
        return std::nullopt;
    }
    return objects;
}

bool APMDatabase::insertDataType(const Row& record, const std::string& table, NSErrorPtr* error) {
    if (!APMCheckSuccess(!table.empty(), error, 1, "Received empty table name for inserting")) return false;
    if (!APMCheckSuccess(!record.empty(), error, 2, "Failed to insert empty record")) return false;
    if (!requireStore(error)) return false;
    return sqliteStore_->upsertRecord(record, table, error);
}

bool APMDatabase::upsertDataType(const Row& record, const std::string& table, const std::string& columnName,
                                 const Value& columnValue, std::int64_t tableLimit, NSErrorPtr* error) {
    if (!APMCheckSuccess(!record.empty(), error, 1, "Received empty data type to upsert")) return false;
    if (!APMCheckSuccess(!table.empty(), error, 1, "Received empty table name for checking upsert")) return false;
    if (!requireStore(error)) return false;
    auto keyCount = sqliteStore_->rowCountForTableWithName(table, columnName, columnValue, error);
    if (!keyCount) return false;
    auto tableCount = sqliteStore_->rowCountForTableWithName(table, error);
    if (!tableCount) return false;
    if (!APMCheckSuccess(*keyCount > 0 || *tableCount < tableLimit, error, 2,
                         "Failed to insert data type. Table is full")) {
        return false;
    }
    return sqliteStore_->upsertRecord(record, table, error);
}

bool APMDatabase::updateDataType(const Row& record, const std::string& table, const std::string& columnName,
                                 const Value& columnValue, NSErrorPtr* error) {
    if (!APMCheckSuccess(!record.empty(), error, 1, "Received empty data type to update")) return false;
    if (!APMCheckSuccess(!table.empty(), error, 1, "Received empty table name for updating")) return false;
    if (!requireStore(error)) return false;
    auto keyCount = sqliteStore_->rowCountForTableWithName(table, columnName, columnValue, error);
    if (!keyCount) return false;
    if (!APMCheckSuccess(*keyCount > 0, error, 2, "Failed to update record. Item doesn't exist")) return false;
    return sqliteStore_->updateRecord(record, table, columnName, columnValue, error);
}

// MARK: App metadata and daily counts

bool APMDatabase::initializeAppMetadata() {
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
    auto objects = dataTypesFromTableWithName("app_metadata", "rowid", Value("1"), error, appMetadataFromRow);
    if (!objects || objects->empty()) return nullptr;
    return std::static_pointer_cast<APMAppMetadata>(objects->front());
}

bool APMDatabase::updateAppMetadata(const std::shared_ptr<APMAppMetadata>& appMetadata, NSErrorPtr* error) {
    if (!APMCheckSuccess(appMetadata != nullptr, error, 3,
                         "Received empty app metadata for getting dictionary representation")) {
        return false;
    }
    return updateDataType(appMetadataRow(*appMetadata), "app_metadata", "rowid", Value("1"), error);
}

std::int32_t APMDatabase::currentDay() {
    const double offset = persistedConfig_ ? static_cast<double>(static_cast<std::int32_t>(persistedConfig_->midnightOffset()))
                                           : 0.0;
    return static_cast<std::int32_t>(std::floor((Clock::now() - offset) / 86400.0));
}

std::shared_ptr<APMDailyCounts> APMDatabase::dailyCounts(NSErrorPtr* error) {
    const std::int32_t day = currentDay();
    auto objects = dataTypesFromTableWithName(
        "app_metadata", "rowid", Value("1"), error, [day](const Row& row, NSErrorPtr* rowError) -> std::shared_ptr<NSObject> {
            if (!APMCheckSuccess(!row.empty(), rowError, 3, "Received empty dictionary for getting daily counts")) {
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
    if (!APMCheckSuccess(dailyCounts != nullptr, error, 3,
                         "Received empty daily counts for getting dictionary representation")) {
        return false;
    }
    const Row row = {{"day", Value(dailyCounts->day())},
                     {"daily_conversions_count", Value(dailyCounts->conversionsCount())},
                     {"daily_events_count", Value(dailyCounts->allEventsCount())},
                     {"daily_public_events_count", Value(dailyCounts->publicEventsCount())},
                     {"daily_error_events_count", Value(dailyCounts->errorEventsCount())},
                     {"daily_real_time_conversion_events_count", Value(dailyCounts->realtimeCount())}};
    return updateDataType(row, "app_metadata", "rowid", Value("1"), error);
}

// MARK: Shared query helpers

std::optional<bool> APMDatabase::booleanForQuery(const std::string& query, const Value::Array& values,
                                                 NSErrorPtr* error) {
    if (!requireStore(error)) return std::nullopt;
    auto number = sqliteStore_->numberForQuery(query, values, error);
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
