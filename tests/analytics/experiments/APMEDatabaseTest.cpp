// The snapshot database on a real file: the three tables, activation's split between launched
// and activated rows, automatic activation and staleness at start-up, and damaged contents.
#include "ExperimentsTestSupport.h"
#include "platform/foundation/Sandbox.h"
#include "tests/analytics/core/LogCapture.h"
#include "tests/fixtures/Fifo.h"
#include "tests/fixtures/SpecialFiles.h"

#include <filesystem>
#include <fstream>
#include <functional>

namespace {

class APMEDatabaseTest : public ExperimentsTest {
protected:
    void SetUp() override {
        ExperimentsTest::SetUp();
        database = APMEDatabase::initWithPath(databasePath());
        ASSERT_NE(database, nullptr);
    }

    // The experiment ids stored in a table's row for the SDK, read back from the file; empty
    // when there is no such row.
    std::vector<std::int32_t> storedIDs(const char* table, const std::string& sdk = kTestSDK) {
        NSErrorPtr error;
        std::optional<APMESnapshots> snapshots;
        if (std::string(table) == APMEDatabase::kPendingTable) snapshots = database->fetchAllPendingSnapshots(&error);
        if (std::string(table) == APMEDatabase::kActivatedTable) snapshots = database->fetchAllActivatedSnapshots(&error);
        if (std::string(table) == APMEDatabase::kLaunchedTable) snapshots = database->fetchAllLaunchedSnapshots(&error);
        EXPECT_TRUE(snapshots.has_value()) << table;
        std::vector<std::int32_t> ids;
        for (const auto& item : snapshots.value_or(APMESnapshots{})) {
            if (item->SDKName() != sdk) continue;
            for (const auto& experiment : item->experiments()) ids.push_back(experiment->experimentID());
        }
        return ids;
    }

    std::shared_ptr<APMEDatabase> database;
};

TEST_F(APMEDatabaseTest, TheFileHoldsThreeTablesOfOneRowPerSDK) {
    for (const char* table : {APMEDatabase::kPendingTable, APMEDatabase::kActivatedTable, APMEDatabase::kLaunchedTable}) {
        const auto columns = rows(std::string("PRAGMA table_info(") + table + ")");
        ASSERT_EQ(columns.size(), 4u) << table;
        EXPECT_EQ(columns[0][1], "sdk_name");
        EXPECT_EQ(columns[0][5], "1");  // the primary key
        EXPECT_EQ(columns[1][1], "snapshotProto");
        EXPECT_EQ(columns[1][2], "BLOB");
        EXPECT_EQ(columns[2][1], "timestamp");
        EXPECT_EQ(columns[3][1], "manually_activated");
    }
    NSErrorPtr error;
    auto first = snapshot(kTestSDK, {{7, {flag("a", Value(1))}}});
    auto manual = snapshot("other_sdk", {{2, {flag("b", Value("x"))}}});
    manual->setManuallyActivated(true);
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({first, manual}, &error));
    // A later fetch replaces the SDK's row.
    Clock::advance(60);
    auto second = snapshot(kTestSDK, {{8, {flag("a", Value(2))}}});
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({second}, &error));
    EXPECT_EQ(rows("SELECT sdk_name, timestamp, manually_activated FROM pending_snapshot_table ORDER BY sdk_name"),
              (std::vector<std::vector<std::string>>{{"other_sdk", "1700000000.0", "1"},
                                                     {kTestSDK, "1700000060.0", "0"}}));
    auto pending = database->fetchAllPendingSnapshots(&error);
    ASSERT_TRUE(pending);
    ASSERT_EQ(pending->size(), 2u);
    for (const auto& item : *pending) {
        if (item->SDKName() == kTestSDK) {
            EXPECT_EQ(item->timestamp(), kNow + 60);
            EXPECT_FALSE(item->manuallyActivated());
            EXPECT_EQ(APMEFlagValue(item->flagByName("a")).longLongValue(), 2);
        } else {
            EXPECT_TRUE(item->manuallyActivated());
        }
    }
    EXPECT_TRUE(database->upsertPendingExperimentSnapshots({}, &error));
}

TEST_F(APMEDatabaseTest, ActivationSplitsLaunchedFromActivatedAndKeepsWhatTheSnapshotLacks) {
    NSErrorPtr error;
    auto fetched = snapshot(kTestSDK, {{0, {flag("l", Value(1))}}, {7, {flag("a", Value(7))}}, {9, {flag("b", Value(9))}}});
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({fetched}, &error));
    ASSERT_TRUE(database->activateSnapshot(fetched, kNow, &error));
    EXPECT_EQ(storedIDs(APMEDatabase::kLaunchedTable), std::vector<std::int32_t>{0});
    EXPECT_EQ(storedIDs(APMEDatabase::kActivatedTable), (std::vector<std::int32_t>{7, 9}));
    EXPECT_TRUE(storedIDs(APMEDatabase::kPendingTable).empty());
    EXPECT_EQ(rows("SELECT manually_activated, timestamp FROM activated_snapshot_table"),
              (std::vector<std::vector<std::string>>{{"NULL", "1700000000.0"}}));

    // Only a launched experiment: the activated row stays as it was.
    auto launchedOnly = snapshot(kTestSDK, {{0, {flag("l", Value(2))}}});
    ASSERT_TRUE(database->activateSnapshot(launchedOnly, kNow + 5, &error));
    EXPECT_EQ(storedIDs(APMEDatabase::kActivatedTable), (std::vector<std::int32_t>{7, 9}));
    auto launched = database->fetchAllLaunchedSnapshots(&error);
    ASSERT_TRUE(launched);
    EXPECT_EQ(APMEFlagValue(launched->at(0)->flagByName("l")).longLongValue(), 2);
    // Only activated experiments: the launched row stays.
    ASSERT_TRUE(database->activateSnapshot(snapshot(kTestSDK, {{3, {}}}), kNow + 6, &error));
    EXPECT_EQ(storedIDs(APMEDatabase::kActivatedTable), std::vector<std::int32_t>{3});
    EXPECT_EQ(storedIDs(APMEDatabase::kLaunchedTable), std::vector<std::int32_t>{0});

    // A pending row newer than the activation (a fetch stored meanwhile) survives it.
    Clock::advance(100);
    auto newer = snapshot(kTestSDK, {{11, {}}});
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({newer}, &error));
    ASSERT_TRUE(database->activateSnapshot(fetched, kNow + 50, &error));
    EXPECT_EQ(storedIDs(APMEDatabase::kPendingTable), std::vector<std::int32_t>{11});

    EXPECT_FALSE(database->activateSnapshot(nullptr, kNow, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), 1);
}

TEST_F(APMEDatabaseTest, StartUpActivatesAutomaticRowsAndDropsStaleActivatedOnes) {
    NSErrorPtr error;
    auto automatic = snapshot(kTestSDK, {{0, {flag("l", Value(1))}}, {4, {flag("a", Value(4))}}});
    automatic->setTimestamp(kNow - 30);
    auto manual = snapshot("manual_sdk", {{5, {}}});
    manual->setManuallyActivated(true);
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({automatic, manual}, &error));
    // Exactly three days old is stale; a second younger is not.
    ASSERT_TRUE(database->upsertSnapshot(snapshot("old_sdk", {{1, {}}})->proto(), APMEDatabase::kActivatedTable,
                                         kNow - APMEDatabase::kStaleInterval, std::nullopt, &error));
    ASSERT_TRUE(database->upsertSnapshot(snapshot("young_sdk", {{2, {}}})->proto(), APMEDatabase::kActivatedTable,
                                         kNow - APMEDatabase::kStaleInterval + 1, std::nullopt, &error));

    ASSERT_TRUE(database->performTransaction([&] {
        return database->deleteStaleActivatedSnapshots(&error) && database->activatePendingSnapshotsAutomatically(&error);
    }));
    EXPECT_TRUE(storedIDs(APMEDatabase::kActivatedTable, "old_sdk").empty());
    EXPECT_EQ(storedIDs(APMEDatabase::kActivatedTable, "young_sdk"), std::vector<std::int32_t>{2});
    EXPECT_EQ(storedIDs(APMEDatabase::kActivatedTable), std::vector<std::int32_t>{4});
    EXPECT_EQ(storedIDs(APMEDatabase::kLaunchedTable), std::vector<std::int32_t>{0});
    // Activated at the time of its own row; the manual row waits for its client.
    EXPECT_EQ(rows("SELECT timestamp FROM activated_snapshot_table WHERE sdk_name = 'zev_uzeviroreda'"),
              (std::vector<std::vector<std::string>>{{"1699999970.0"}}));
    EXPECT_TRUE(storedIDs(APMEDatabase::kPendingTable).empty());
    EXPECT_EQ(storedIDs(APMEDatabase::kPendingTable, "manual_sdk"), std::vector<std::int32_t>{5});

    ASSERT_TRUE(database->deleteActivatedExperimentsOfSDKName(kTestSDK, &error));
    EXPECT_TRUE(storedIDs(APMEDatabase::kActivatedTable).empty());
    EXPECT_FALSE(database->deleteActivatedExperimentsOfSDKName("", &error));
}

TEST_F(APMEDatabaseTest, OneUndecodableRowSpoilsTheWholeRead) {
    NSErrorPtr error;
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({snapshot(kTestSDK, {{1, {}}})}, &error));
    execute("INSERT INTO pending_snapshot_table VALUES ('broken', X'0a05ff', 1.0, 0)");
    EXPECT_FALSE(database->fetchAllPendingSnapshots(&error));
    // Automatic activation stops at it (code 2) and the transaction rolls back.
    EXPECT_FALSE(database->performTransaction([&] { return database->activatePendingSnapshotsAutomatically(&error); }));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), 2);
    EXPECT_EQ(rows("SELECT count(*) FROM pending_snapshot_table"), (std::vector<std::vector<std::string>>{{"2"}}));
    EXPECT_EQ(rows("SELECT count(*) FROM activated_snapshot_table"), (std::vector<std::vector<std::string>>{{"0"}}));
}

TEST_F(APMEDatabaseTest, AFileWhoseTablesCannotBeMadeIsDeletedAndTheNextOpeningStartsAfresh) {
    database.reset();
    std::filesystem::remove(databasePath());
    // A table of the right name with the wrong columns.
    execute("CREATE TABLE pending_snapshot_table (other TEXT)");
    EXPECT_EQ(APMEDatabase::initWithPath(databasePath()), nullptr);
    EXPECT_FALSE(std::filesystem::exists(databasePath()));
    database = APMEDatabase::initWithPath(databasePath());
    ASSERT_NE(database, nullptr);
    NSErrorPtr error;
    EXPECT_TRUE(database->upsertPendingExperimentSnapshots({snapshot(kTestSDK, {{1, {}}})}, &error));

    // Not a database at all.
    database.reset();
    {
        std::ofstream garbage(databasePath(), std::ios::trunc | std::ios::binary);
        garbage << std::string(4096, '\x5a');
    }
    database = APMEDatabase::initWithPath(databasePath());
    ASSERT_NE(database, nullptr);
    // Deleted, not kept aside: the snapshots are fetched again.
    for (const char* kept : {".uncarried", ".damaged"}) {
        EXPECT_FALSE(std::filesystem::exists(databasePath() + kept)) << kept;
    }
    auto pending = database->fetchAllPendingSnapshots(&error);
    ASSERT_TRUE(pending);
    EXPECT_TRUE(pending->empty());

    // A reset empties everything and leaves a usable file.
    ASSERT_TRUE(database->upsertPendingExperimentSnapshots({snapshot(kTestSDK, {{1, {}}})}, &error));
    ASSERT_TRUE(database->reset());
    EXPECT_TRUE(storedIDs(APMEDatabase::kPendingTable).empty());
    EXPECT_TRUE(database->upsertPendingExperimentSnapshots({snapshot(kTestSDK, {{2, {}}})}, &error));
    EXPECT_EQ(APMEDatabase::initWithPath(""), nullptr);
}

// Whatever is where the snapshot file or its log, shared memory or journal belongs and is no
// file of its own (a folder, a FIFO, a socket, a device, a link leading nowhere) would keep
// experiments off at every launch, or have the file made wherever the link leads: it goes aside
// as it does for the measurement database, and the file is made in its own folder.
TEST_F(APMEDatabaseTest, WhatIsNoFileWhereTheFileOrItsLogBelongsIsMovedAsideAndExperimentsWork) {
    database.reset();
    const std::string place = databasePath();
    const std::string elsewhere = Sandbox::tmp() + "/elsewhere";
    std::filesystem::create_directories(elsewhere);
    const auto clear = [&] {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove_all(place + suffix);
    };
    const auto opensAndKeepsASnapshot = [&](std::size_t movedLines) {
        LogCapture capture;
        database = APMEDatabase::initWithPath(place);
        EXPECT_TRUE(capture.matching("[I-ACS810001]").empty());
        ASSERT_NE(database, nullptr);
        NSErrorPtr error;
        ASSERT_TRUE(database->upsertPendingExperimentSnapshots({snapshot(kTestSDK, {{3, {}}})}, &error));
        EXPECT_EQ(storedIDs(APMEDatabase::kPendingTable), std::vector<std::int32_t>{3});
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(place)));
        EXPECT_EQ(capture.matching("[I-ACS034024]").size(), movedLines);
        database.reset();
    };
    const struct {
        const char* what;
        std::function<bool(const std::string&)> make;
    } things[] = {
        {"a folder", [](const std::string& at) { return std::filesystem::create_directories(at + "/inside"); }},
        {"a FIFO", [](const std::string& at) { return Fifo::make(at); }},
        {"a socket", [&](const std::string& at) { return SpecialFiles::socketAt(at, Sandbox::tmp()); }},
        {"a device", [](const std::string& at) { return SpecialFiles::deviceAt(at); }},
        {"a link that leads nowhere",
         [&](const std::string& at) { return ::symlink((elsewhere + "/missing").c_str(), at.c_str()) == 0; }},
    };
    int n = 0;
    for (const auto& thing : things) {
        SCOPED_TRACE(thing.what);
        clear();
        ASSERT_TRUE(thing.make(place));
        opensAndKeepsASnapshot(1);
        if (HasFatalFailure()) return;
        const std::string aside = place + ".moved" + (n++ == 0 ? std::string() : "-" + std::to_string(n));
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(aside))) << aside;
    }
    EXPECT_TRUE(std::filesystem::is_directory(place + ".moved/inside"));

    // Where SQLite keeps the log, the shared memory and the journal.
    clear();
    ASSERT_TRUE(Fifo::make(place + "-wal"));
    ASSERT_TRUE(SpecialFiles::socketAt(place + "-shm", Sandbox::tmp()));
    ASSERT_TRUE(::symlink((elsewhere + "/missing").c_str(), (place + "-journal").c_str()) == 0);
    opensAndKeepsASnapshot(3);
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(place + suffix + ".moved"))) << suffix;
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
}

}  // namespace
