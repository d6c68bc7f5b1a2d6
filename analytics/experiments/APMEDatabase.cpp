// The snapshot database: its tables, reads that fail whole, and activation.
#include "analytics/experiments/APMEDatabase.h"

#include "analytics/core/APMError.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/experiments/APMEExperiment.h"
#include "analytics/experiments/APMESnapshot.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBSnapshot.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"

namespace {

const APMSqliteStore::ColumnInfo& snapshotColumns() {
    static const APMSqliteStore::ColumnInfo columns = {{"sdk_name", "TEXT NOT NULL PRIMARY KEY"},
                                                       {"snapshotProto", "BLOB NOT NULL"},
                                                       {"timestamp", "REAL NOT NULL"},
                                                       {"manually_activated", "INTEGER"}};
    return columns;
}

}  // namespace

std::shared_ptr<APMEDatabase> APMEDatabase::initWithPath(const std::string& path) {
    if (path.empty()) {
        APMEManager::monitor()->logWithLevel(1, 810000, "Cannot initialize the database with invalid path");
        return nullptr;
    }
    auto database = std::make_shared<APMEDatabase>();
    if (!database->initializeDatabaseResourcesWithContext("Init", path)) return nullptr;
    return database;
}

bool APMEDatabase::initializeDatabaseResourcesWithContext(const std::string& context, const std::string& path) {
    auto monitor = APMEManager::monitor();
    NSErrorPtr openError;
    // Snapshots are fetched again: a damaged file is deleted, not kept aside for its rows.
    sqliteStore_ = APMSqliteStore::initWithDatabasePath(path, &openError, APMSqliteStore::DamagedFile::Deleted);
    if (!sqliteStore_) {
        monitor->logWithLevel(1, 810001, NSString::format("Failed to open database (%@)", context),
                              openError ? Value(openError) : Value());
        return false;
    }
    // Snapshots change a few times a day, so the log synced at every commit costs little; it is
    // taken as the measurement database takes it, and a file that cannot switch keeps its
    // rollback journal.
    NSErrorPtr walError;
    static_cast<void>(sqliteStore_->useWriteAheadLog(&walError));
    if (!ensureAllTables()) {
        monitor->logWithLevel(1, 810002, NSString::format("Failed to create or validate required database tables (%@)",
                                                          context));
        // Closed first, so that nothing writes into the unlinked file.
        sqliteStore_->closeDatabase();
        sqliteStore_.reset();
        NSErrorPtr deleteError;
        if (!APMDeleteFileAtPath(path, &deleteError) && deleteError) {
            monitor->logWithLevel(
                4, 810003,
                NSString::format("Failed to delete old database file after failed validation. Error (%@)", context),
                Value(deleteError));
        }
        return false;
    }
    return true;
}

bool APMEDatabase::ensureAllTables() {
    if (!sqliteStore_) return false;
    for (const char* table : {kPendingTable, kActivatedTable, kLaunchedTable}) {
        NSErrorPtr error;
        // Any failure counts, with an error or without: a table that did not pass is not there.
        if (!sqliteStore_->ensureTableWithName(table, snapshotColumns(), {}, &error)) {
            APMEManager::monitor()->logWithLevel(1, 810004, "Failed to ensure table. Table, error", Value(table),
                                                  error ? Value(error) : Value());
            return false;
        }
    }
    return true;
}

bool APMEDatabase::reset() {
    if (!sqliteStore_) return false;
    const std::string path = sqliteStore_->databasePath();
    if (!sqliteStore_->closeAndDeleteDatabase()) {
        APMEManager::monitor()->logWithLevel(4, 810005, "Failed to delete database data");
    }
    if (!initializeDatabaseResourcesWithContext("Reset", path)) {
        APMEManager::monitor()->logWithLevel(1, 810006, "Cannot re-initialize the database");
        return false;
    }
    return true;
}

bool APMEDatabase::checkOpen(NSErrorPtr* error) const {
    return APMCheckSuccess(sqliteStore_ != nullptr, error, APMErrorFailedPrecondition, "Database not open");
}

bool APMEDatabase::performTransaction(const std::function<bool()>& block) {
    NSErrorPtr error;
    if (!checkOpen(&error)) return false;
    if (sqliteStore_->performTransactionWithError(&error, block)) return true;
    APMEManager::monitor()->logWithLevel(
        1, 810007, NSString::format("Transaction failed. %@", error ? error->localizedDescription() : "rolled back"));
    return false;
}

// MARK: Reading

std::optional<std::vector<Value::Dictionary>> APMEDatabase::allDataTypesFromTableWithName(const std::string& tableName,
                                                                                          std::int64_t tableLimit,
                                                                                          NSErrorPtr* error) {
    if (!checkOpen(error)) return std::nullopt;
    return sqliteStore_->recordsForQuery(
        "SELECT rowid, * FROM " + tableName + " ORDER BY rowid LIMIT " + std::to_string(tableLimit), {}, error);
}

std::optional<APMESnapshots> APMEDatabase::snapshotsFromRows(const std::optional<std::vector<Value::Dictionary>>& rows,
                                                             NSErrorPtr* error) {
    if (!rows) return std::nullopt;
    APMESnapshots snapshots;
    snapshots.reserve(rows->size());
    for (const Value::Dictionary& row : *rows) {
        auto proto = APMPBSnapshot::initWithBuffer(row.get("snapshotProto").data());
        auto snapshot = APMESnapshot::initWithProtobuf(proto);
        if (!snapshot) {
            APMSetError(error, APMErrorFailedPrecondition, "Received an invalid snapshot from database");
            return std::nullopt;
        }
        snapshot->setTimestamp(row.get("timestamp").doubleValue());
        if (const Value& manually = row.get("manually_activated"); manually.isNumber()) {
            snapshot->setManuallyActivated(manually.boolValue());
        }
        snapshots.push_back(std::move(snapshot));
    }
    return snapshots;
}

std::optional<APMESnapshots> APMEDatabase::fetchAllSnapshots(const char* tableName, NSErrorPtr* error) {
    return snapshotsFromRows(allDataTypesFromTableWithName(tableName, kTableLimit, error), error);
}

std::optional<APMESnapshots> APMEDatabase::fetchAllActivatedSnapshots(NSErrorPtr* error) {
    return fetchAllSnapshots(kActivatedTable, error);
}

std::optional<APMESnapshots> APMEDatabase::fetchAllPendingSnapshots(NSErrorPtr* error) {
    return fetchAllSnapshots(kPendingTable, error);
}

std::optional<APMESnapshots> APMEDatabase::fetchAllLaunchedSnapshots(NSErrorPtr* error) {
    return fetchAllSnapshots(kLaunchedTable, error);
}

// MARK: Writing

bool APMEDatabase::upsertSnapshot(const std::shared_ptr<APMPBSnapshot>& snapshot, const std::string& tableName,
                                  double timestamp, std::optional<bool> manuallyActivated, NSErrorPtr* error) {
    if (!checkOpen(error)) return false;
    const std::optional<NSData> bytes = snapshot ? snapshot->protoBuffer() : std::nullopt;
    const std::optional<std::string> name =
        snapshot ? APMPBMessageGetString(snapshot, APMPBSnapshot::kSdkName) : std::nullopt;
    if (!APMCheckSuccess(bytes && name && !name->empty(), error, APMErrorInvalidArgument,
                         "Received a snapshot that cannot be stored")) {
        return false;
    }
    Value::Dictionary record{{"sdk_name", Value(*name)}, {"timestamp", Value(timestamp)}, {"snapshotProto", Value(*bytes)}};
    if (manuallyActivated) record.set("manually_activated", Value(static_cast<long long>(*manuallyActivated ? 1 : 0)));
    return sqliteStore_->upsertRecord(record, tableName, error);
}

bool APMEDatabase::upsertPendingExperimentSnapshots(const APMESnapshots& snapshots, NSErrorPtr* error) {
    for (const auto& snapshot : snapshots) {
        if (!APMCheckNotNil(snapshot, error, APMErrorInvalidArgument, "Received nil pending snapshot") ||
            !upsertSnapshot(snapshot->proto(), kPendingTable, snapshot->timestamp(), snapshot->manuallyActivated(),
                            error)) {
            return false;
        }
    }
    return true;
}

bool APMEDatabase::activateSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp,
                                    NSErrorPtr* error) {
    if (!APMCheckNotNil(snapshot, error, APMErrorInvalidArgument, "Received nil pending snapshot")) return false;
    std::shared_ptr<APMEExperiment> launched;
    std::vector<std::shared_ptr<APMEExperiment>> activated;
    for (const auto& experiment : snapshot->experiments()) {
        if (experiment->experimentID() == 0) launched = experiment;
        else activated.push_back(experiment);
    }
    if (launched) {
        auto part = APMESnapshot::initWithSDKName(snapshot->SDKName(), {launched});
        if (!part || !upsertSnapshot(part->proto(), kLaunchedTable, timestamp, std::nullopt, error)) return false;
    }
    if (!activated.empty()) {
        auto part = APMESnapshot::initWithSDKName(snapshot->SDKName(), activated);
        if (!part || !upsertSnapshot(part->proto(), kActivatedTable, timestamp, std::nullopt, error)) return false;
    }
    if (!checkOpen(error)) return false;
    // A pending row newer than this activation (a fetch stored in between) stays.
    return sqliteStore_
        ->deleteRecordsFromTableWithName(kPendingTable, "sdk_name = ? AND timestamp <= ?",
                                         {Value(snapshot->SDKName()), Value(timestamp)}, error)
        .has_value();
}

bool APMEDatabase::activatePendingSnapshotsAutomatically(NSErrorPtr* error) {
    if (!checkOpen(error)) return false;
    const auto rows = sqliteStore_->recordsForQuery(
        std::string("SELECT rowid,* FROM ") + kPendingTable + " WHERE NOT manually_activated = ? ORDER BY rowid LIMIT " +
            std::to_string(kTableLimit),
        {Value(1)}, error);
    if (!rows) return false;
    for (const Value::Dictionary& row : *rows) {
        auto snapshot = APMESnapshot::initWithProtobuf(APMPBSnapshot::initWithBuffer(row.get("snapshotProto").data()));
        if (!snapshot) {
            APMSetError(error, APMErrorFailedPrecondition, "Received an invalid snapshot from database");
            return false;
        }
        if (!activateSnapshot(snapshot, row.get("timestamp").doubleValue(), error) ||
            !sqliteStore_->deleteRecordFromTableWithName(kPendingTable, "sdk_name", row.get("sdk_name"), error)) {
            return false;
        }
    }
    return true;
}

bool APMEDatabase::deleteStaleActivatedSnapshots(NSErrorPtr* error) {
    if (!checkOpen(error)) return false;
    return sqliteStore_
        ->deleteRecordsFromTableWithName(kActivatedTable, "timestamp <= ?", {Value(Clock::now() - kStaleInterval)},
                                         error)
        .has_value();
}

bool APMEDatabase::deleteExperimentsOfSDKName(const std::string& SDKName, const std::string& tableName,
                                              NSErrorPtr* error) {
    if (!checkOpen(error)) return false;
    return sqliteStore_->deleteRecordFromTableWithName(tableName, "sdk_name", Value(SDKName), error);
}

bool APMEDatabase::deleteActivatedExperimentsOfSDKName(const std::string& SDKName, NSErrorPtr* error) {
    if (!APMCheckSuccess(!SDKName.empty(), error, APMErrorInvalidArgument, "Received empty SDK Name")) return false;
    return deleteExperimentsOfSDKName(SDKName, kActivatedTable, error);
}

bool APMEDatabase::deletePendingExperimentsOfSDKName(const std::string& SDKName, NSErrorPtr* error) {
    return deleteExperimentsOfSDKName(SDKName, kPendingTable, error);
}

bool APMEDatabase::deleteLaunchedExperimentSDKName(const std::string& SDKName, NSErrorPtr* error) {
    return deleteExperimentsOfSDKName(SDKName, kLaunchedTable, error);
}
