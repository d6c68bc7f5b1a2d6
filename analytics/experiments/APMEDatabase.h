// The experiment snapshots of every SDK in a SQLite file of their own: fetched and not yet
// applied (pending), applied (activated: the experiments other than 0) and the launched
// experiment (0) of each SDK, one row per SDK in each table. Used on the task manager's queue
// only; multi-step changes run inside performTransaction.
#pragma once

#include "analytics/core/APMSqliteStore.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class APMESnapshot;
class APMPBSnapshot;

using APMESnapshots = std::vector<std::shared_ptr<APMESnapshot>>;

class APMEDatabase : public NSObject {
public:
    static constexpr const char* kFileName = "vizudi_experimentation_database.sql";
    static constexpr const char* kPendingTable = "pending_snapshot_table";
    static constexpr const char* kActivatedTable = "activated_snapshot_table";
    static constexpr const char* kLaunchedTable = "launched_snapshot_table";
    // Rows read from one table at most.
    static constexpr std::int64_t kTableLimit = 100000;
    // Activated snapshots at least this old are deleted at start-up.
    static constexpr double kStaleInterval = 259200;

    // Opens the file (its folder made as needed) with its three tables. Nil for an empty path
    // (810000), a file that cannot be opened (810001) or whose tables cannot be made, in which
    // case the file is deleted so that the next opening starts afresh (810002).
    [[nodiscard]] static std::shared_ptr<APMEDatabase> initWithPath(const std::string& path);

    [[nodiscard]] bool initializeDatabaseResourcesWithContext(const std::string& context, const std::string& path);
    [[nodiscard]] bool ensureAllTables();
    // Deletes the file and opens it anew.
    [[nodiscard]] bool reset();
    // One exclusive transaction; the block's false rolls back (810007 when it did not commit).
    [[nodiscard]] bool performTransaction(const std::function<bool()>& block);

    // Every row in rowid order (at most kTableLimit); nothing when a read fails or one row does
    // not decode.
    [[nodiscard]] std::optional<APMESnapshots> fetchAllActivatedSnapshots(NSErrorPtr* error);
    [[nodiscard]] std::optional<APMESnapshots> fetchAllPendingSnapshots(NSErrorPtr* error);
    [[nodiscard]] std::optional<APMESnapshots> fetchAllLaunchedSnapshots(NSErrorPtr* error);

    // Experiment 0 becomes the SDK's launched row and the others its activated row, both at
    // time `timestamp`; a part the snapshot lacks leaves that table's row as it was. Then the
    // SDK's pending row goes unless it is newer than `timestamp`.
    [[nodiscard]] bool activateSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp,
                                        NSErrorPtr* error);
    [[nodiscard]] bool deleteActivatedExperimentsOfSDKName(const std::string& SDKName, NSErrorPtr* error);
    [[nodiscard]] bool deletePendingExperimentsOfSDKName(const std::string& SDKName, NSErrorPtr* error);
    [[nodiscard]] bool deleteLaunchedExperimentSDKName(const std::string& SDKName, NSErrorPtr* error);
    // Activated rows kStaleInterval or more in the past.
    [[nodiscard]] bool deleteStaleActivatedSnapshots(NSErrorPtr* error);
    // Stops at the first failure.
    [[nodiscard]] bool upsertPendingExperimentSnapshots(const APMESnapshots& snapshots, NSErrorPtr* error);
    // Activates every pending row not marked manually activated, at its own time, and deletes it.
    [[nodiscard]] bool activatePendingSnapshotsAutomatically(NSErrorPtr* error);
    [[nodiscard]] bool upsertSnapshot(const std::shared_ptr<APMPBSnapshot>& snapshot, const std::string& tableName,
                                      double timestamp, std::optional<bool> manuallyActivated, NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<Value::Dictionary>> allDataTypesFromTableWithName(
        const std::string& tableName, std::int64_t tableLimit, NSErrorPtr* error);
    [[nodiscard]] bool deleteExperimentsOfSDKName(const std::string& SDKName, const std::string& tableName,
                                                  NSErrorPtr* error);

    const std::shared_ptr<APMSqliteStore>& sqliteStore() const { return sqliteStore_; }

private:
    std::optional<APMESnapshots> snapshotsFromRows(const std::optional<std::vector<Value::Dictionary>>& rows,
                                                   NSErrorPtr* error);
    std::optional<APMESnapshots> fetchAllSnapshots(const char* tableName, NSErrorPtr* error);
    bool checkOpen(NSErrorPtr* error) const;

    std::shared_ptr<APMSqliteStore> sqliteStore_;
};
