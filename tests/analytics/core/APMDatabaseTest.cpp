// The measurement database: schema and upgrades of old files, reset, generic rows, app
// metadata and daily counts, raw events and the upload queue.
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMKeptFiles.h"

#include "APMDatabaseTestSupport.h"
#include "LogCapture.h"
#include "analytics/core/APMAppMetadata.h"
#include "analytics/core/APMDailyCounts.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMRawEventData.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/proto/APMPBEvent.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/services/NSDataVULGzip.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/QuotaFileIO.h"
#include "tests/fixtures/SqliteRows.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <thread>
#include <tuple>

namespace {

using APMDatabaseTest = APMDatabaseTestBase;

const std::vector<std::string> kTables = {
    "app_metadata", "raw_events_metadata", "raw_events",           "events",        "user_attributes",
    "queue",        "event_filters",       "property_filters",     "audience_filter_values",
    "purchase_transactions", "subscriptions", "conditional_properties", "main_event_params"};

// The store's file and its companions set aside as an opening ended before its carry leaves them.
void keepAsideUncarried(const std::string& path) {
    for (const char* companion : {"", "-wal", "-shm"}) {
        if (std::filesystem::exists(path + companion)) std::filesystem::rename(path + companion, path + ".uncarried" + companion);
    }
}

// MARK: Schema, upgrades and reset

TEST_F(APMDatabaseTest, FreshFileHasEveryTableAndTheMetadataRow) {
    for (const auto& table : kTables) EXPECT_EQ(store().tableExists(table, nullptr), std::optional<bool>(true)) << table;
    auto info = store().columnInfoForTableWithName("raw_events", nullptr);
    ASSERT_TRUE(info);
    EXPECT_EQ((*info)[1], (std::pair<std::string, std::string>("timestamp", "REAL")));
    EXPECT_EQ(store().rowCountForTableWithName("app_metadata", nullptr), std::optional<std::int64_t>(1));
    EXPECT_TRUE(NSFileManager::defaultManager()->isExcludedFromBackup(path()));
    // A write-ahead log synced at every commit, also after a reset.
    for (int pass = 0; pass < 2; ++pass) {
        std::string mode;
        sqlite3_exec(store().sqliteHandle(), "PRAGMA journal_mode; PRAGMA synchronous",
                     [](void* out, int, char** values, char**) {
                         *static_cast<std::string*>(out) += std::string(values[0] ? values[0] : "") + " ";
                         return 0;
                     },
                     &mode, nullptr);
        EXPECT_EQ(mode, "wal 2 ");  // synchronous FULL
        ASSERT_TRUE(database_->reset(nullptr));
    }
    NSErrorPtr error;
    EXPECT_EQ(APMDatabase::initWithDatabaseName("", config_, &error), nullptr);
    EXPECT_EQ(error->localizedDescription(), "Received empty database name in init");
}

TEST_F(APMDatabaseTest, OldFileGainsAddOnColumnsAndMigratesRawEventTimes) {
    database_.reset();
    const std::string oldName = "old-shape.sql";
    const std::string oldPath = APMApplicationSupportPath(oldName);
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(oldPath.c_str(), &handle), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(handle,
                           "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, "
                           "metadata_fingerprint INTEGER NOT NULL, data BLOB NOT NULL);"
                           "INSERT INTO raw_events VALUES ('a', 100, 1, x'00');"
                           "INSERT INTO raw_events VALUES ('b', 200, 1, x'00');"
                           "DELETE FROM raw_events WHERE name = 'a';"
                           "INSERT INTO raw_events VALUES ('c', 300, 1, x'00');"
                           "CREATE TABLE queue (data BLOB NOT NULL, bundle_end_timestamp REAL NOT NULL);"
                           "INSERT INTO queue VALUES (x'01', 5.0);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(handle);

    database_ = APMDatabase::initWithDatabaseName(oldName, config_, nullptr);
    ASSERT_NE(database_, nullptr);
    auto rows = store().recordsForQuery("SELECT rowid, name, timestamp, is_realtime FROM raw_events ORDER BY rowid", {},
                                        nullptr);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[0].get("name").string(), "b");
    EXPECT_EQ((*rows)[0].get("rowid").longLongValue(), 2);
    EXPECT_EQ((*rows)[1].get("rowid").longLongValue(), 3);
    EXPECT_TRUE((*rows)[0].get("timestamp").isFloatType());
    EXPECT_TRUE((*rows)[0].get("is_realtime").isNull());
    auto queueColumns = store().columnsForTableWithName("queue", nullptr);
    EXPECT_EQ(*queueColumns, (std::vector<std::string>{"data", "bundle_end_timestamp", "is_realtime", "retry_count"}));
    EXPECT_EQ(store().tableExists("raw_events_old", nullptr), std::optional<bool>(false));

    database_.reset();
    database_ = APMDatabase::initWithDatabaseName(oldName, config_, nullptr);
    ASSERT_NE(database_, nullptr);
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(2));
}

TEST_F(APMDatabaseTest, ResetEmptiesEveryTableButTheMetadataRow) {
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
    ASSERT_TRUE(database_->insertBundle(bundle(kNow), false, nullptr));
    ASSERT_TRUE(database_->reset(nullptr));
    for (const auto& table : kTables) {
        EXPECT_EQ(store().rowCountForTableWithName(table, nullptr),
                  std::optional<std::int64_t>(table == "app_metadata" ? 1 : 0))
            << table;
    }
}

// A file whose tables are of another shape is no measurement database: it is kept aside, never
// deleted, and a fresh one takes its place with the rows that still fit.
TEST_F(APMDatabaseTest, UnusableSchemaIsKeptAsideAndAFreshFileTakesItsPlace) {
    const std::string badPath = APMApplicationSupportPath("bad-shape.sql");
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(badPath.c_str(), &handle), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(handle,
                           "CREATE TABLE events (name TEXT NOT NULL, surprise INTEGER NOT NULL);"
                           "INSERT INTO events VALUES ('_e', 1);"
                           "CREATE TABLE purchase_transactions (fingerprint TEXT NOT NULL PRIMARY KEY);"
                           "INSERT INTO purchase_transactions VALUES ('p-1');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(handle);
    LogCapture capture;
    NSErrorPtr error;
    EXPECT_TRUE(database_->initializeDatabaseResourcesWithContext("Reset", badPath, &error));
    EXPECT_TRUE(capture.contains("[I-ACS012047]"));
    EXPECT_TRUE(capture.contains("[I-ACS012002] Failed to create or validate required database tables (Reset)"));
    EXPECT_EQ(sqliteRows(badPath + ".carried", "SELECT surprise FROM events"),
              (std::vector<std::vector<std::string>>{{"1"}}));
    // The fingerprint fits the new table; the counter row lacks what the new one needs.
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p-1", nullptr), std::optional<bool>(false));
    EXPECT_EQ(store().rowCountForTableWithName("events", nullptr), std::optional<std::int64_t>(0));
    const auto lines = capture.matching("[I-ACS034025]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("events: 0 carried, 1 unreadable"), std::string::npos) << lines[0];
    EXPECT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, &error));
}

// A full disk, a failing disk or a busy file while the tables are made says nothing of the file:
// it stays as it is, with its rows, nothing is written, and the next opening finds it all.
TEST_F(APMDatabaseTest, AFullOrFailingDiskOrABusyFileKeepsTheFileForTheNextOpening) {
    ASSERT_TRUE(database_->insertBundle(bundle(kNow), false, nullptr));
    ASSERT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p-1", nullptr), std::optional<bool>(true));
    database_.reset();
    // The busy file: another connection in the middle of writing.
    sqlite3* writer = nullptr;
    const struct {
        const char* what;
        std::function<void(FaultInjection&)> fail;
        std::function<void()> end;
    } cases[] = {
        {"a full disk", [&](FaultInjection& io) { io->noSpace(path() + "*"); }, [] {}},
        {"an I/O error", [&](FaultInjection& io) { io->ioError(FaultyFileIO::Operation::Write, path() + "*"); }, [] {}},
        {"a busy file",
         [&](FaultInjection&) {
             ASSERT_EQ(sqlite3_open(path().c_str(), &writer), SQLITE_OK);
             ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
         },
         [&] {
             sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
             sqlite3_close(writer);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // An older file: one table still to be made.
        sqlite3* older = nullptr;
        ASSERT_EQ(sqlite3_open(path().c_str(), &older), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(older, "DROP TABLE subscriptions", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(older);
        LogCapture capture;
        {
            FaultInjection faults;
            c.fail(faults);
            NSErrorPtr error;
            EXPECT_EQ(APMDatabase::initWithDatabaseName(name_, config_, &error), nullptr);
            ASSERT_NE(error, nullptr);
            c.end();
        }
        EXPECT_EQ(sqliteRows(path(), "SELECT count(*) FROM queue"), (std::vector<std::vector<std::string>>{{"1"}}));
        EXPECT_FALSE(std::filesystem::exists(path() + ".carried"));
        EXPECT_TRUE(capture.matching("[I-ACS034023]").empty());
        const auto lines = capture.matching("[I-ACS034026] Kept the database file as it is for the next opening");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(c.what == std::string("a busy file") ? "locked" : "disk"), std::string::npos)
            << lines[0];

        database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
        ASSERT_NE(database_, nullptr);
        EXPECT_EQ(store().tableExists("subscriptions", nullptr), std::optional<bool>(true));
        EXPECT_EQ(database_->isQueuedBundleTableEmpty(nullptr), std::optional<bool>(false));
        EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p-1", nullptr), std::optional<bool>(false));
        database_.reset();
    }

    // A damaged file whose replacement meets a full disk stays kept aside, uncarried: the next
    // opening carries what reads.
    ASSERT_EQ(overwriteLeafHeader(path(), "queue", 0), 1);
    LogCapture capture;
    {
        FaultInjection faults;
        faults->noSpace(path() + "*");
        EXPECT_EQ(APMDatabase::initWithDatabaseName(name_, config_, nullptr), nullptr);
    }
    EXPECT_EQ(capture.matching("[I-ACS034026]").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(path() + ".carried"));
    database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    ASSERT_NE(database_, nullptr);
    EXPECT_TRUE(std::filesystem::exists(path() + ".carried"));
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p-1", nullptr), std::optional<bool>(false));
    const auto lines = capture.matching("[I-ACS034025]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("purchase_transactions: 1 carried"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find("queue"), std::string::npos) << lines[0];
}

// On a nearly full disk a damaged file's launch keeps its own writes while the kept file waits for
// room: the log that making the fresh file's tables wrote (a few hundred kilobytes) gives its room
// back before anything else is written.
TEST_F(APMDatabaseTest, ADamagedFileOnANearlyFullDiskKeepsTheLaunchsOwnWrites) {
    ASSERT_TRUE(database_->insertBundle(bundle(kNow), false, nullptr));
    database_.reset();
    ASSERT_EQ(overwriteLeafHeader(path(), "queue", 0), 1);
    LogCapture capture;
    {
        ScopedFileIO disk(std::make_shared<QuotaFileIO>(NSString::stringByDeletingLastPathComponent(path()), 450u << 10));
        database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
        ASSERT_NE(database_, nullptr);
        EXPECT_LT(std::filesystem::file_size(path() + "-wal"), 64u << 10);
        for (int i = 0; i < 50; ++i) ASSERT_TRUE(database_->insertBundle(bundle(kNow + i, 4000), false, nullptr)) << i;
        database_.reset();
    }
    const auto waited = capture.matching("[I-ACS034026]");
    ASSERT_EQ(waited.size(), 1u);
    EXPECT_NE(waited[0].find("Not enough room"), std::string::npos) << waited[0];
    EXPECT_EQ(sqliteRows(path(), "SELECT count(*) FROM queue"), (std::vector<std::vector<std::string>>{{"50"}}));
    EXPECT_TRUE(std::filesystem::exists(path() + ".uncarried"));
}

// One page of the upload queue whose header was overwritten loses the bundles on it and nothing
// else: the file is kept aside, every row that still reads of every table goes into the fresh
// file, and a line says how many went and how many did not.
TEST_F(APMDatabaseTest, ADamagedPageLosesOnlyItsRowsAndTheRestIsCarriedIntoAFreshFile) {
    constexpr int kBundles = 300;
    for (int i = 0; i < kBundles; ++i) {
        ASSERT_TRUE(database_->insertBundle(bundle(kNow + i), false, nullptr));
    }
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata(), nullptr));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow + i), fingerprint(metadata()), false, nullptr));
    }
    ASSERT_TRUE(database_->updateUserAttribute(
        APMUserAttribute::initWithOrigin("app", "medium", APMValue::valueFromObject(Value("oil")), kNow), nullptr));
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates::initWithName("purchase", 120, 3, 4, kNow), nullptr));
    ASSERT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p-1", nullptr), std::optional<bool>(true));
    auto counts = database_->dailyCounts(nullptr);
    counts->incrementCountsForCurrentDay(database_->currentDay(), true, true, 5);
    ASSERT_TRUE(database_->updateDailyCounts(counts, nullptr));
    database_.reset();
    const int lost = overwriteLeafHeader(path(), "queue", 1);
    ASSERT_GT(lost, 0);
    const auto damagedSize = std::filesystem::file_size(path());

    LogCapture capture;
    NSErrorPtr error;
    database_ = APMDatabase::initWithDatabaseName(name_, config_, &error);
    ASSERT_NE(database_, nullptr) << (error ? error->localizedDescription() : "");
    // The damaged file is kept as it was, beside the new one.
    EXPECT_EQ(capture.matching("[I-ACS034023]").size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(path() + ".carried"), damagedSize);
    // The bundles of the other pages read back; every other table is whole.
    auto bundles = database_->queryBundlesWithCountLimit(1000, std::numeric_limits<std::int64_t>::max(), nullptr);
    ASSERT_TRUE(bundles);
    EXPECT_EQ(bundles->size(), static_cast<std::size_t>(kBundles - lost));
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(3));
    EXPECT_NE(database_->queryRawEventsMetadataWithFingerprint(fingerprint(metadata()), nullptr), nullptr);
    EXPECT_NE(database_->userAttributeWithName("medium", nullptr), nullptr);
    ASSERT_NE(database_->eventAggregatesWithName("purchase", nullptr), nullptr);
    EXPECT_EQ(database_->eventAggregatesWithName("purchase", nullptr)->lifetimeCount(), 120);
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p-1", nullptr), std::optional<bool>(false));
    EXPECT_EQ(database_->dailyCounts(nullptr)->publicEventsCount(), 5);
    const auto lines = capture.matching("[I-ACS034025]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("queue: " + std::to_string(kBundles - lost) + " carried"), std::string::npos) << lines[0];

    // A wipe of the measurement data takes the kept copy with it.
    ASSERT_TRUE(database_->reset(nullptr));
    EXPECT_FALSE(std::filesystem::exists(path() + ".carried"));
    EXPECT_TRUE(std::filesystem::exists(path()));
}

// A kept file that cannot be carried now (a failing disk under it) keeps nothing from being
// logged: the database opens and takes events at once, and the next opening carries the kept
// rows beside them.
TEST_F(APMDatabaseTest, AKeptFileThatCannotBeCarriedNowWaitsWhileEventsAreLogged) {
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(database_->insertBundle(bundle(kNow + i), false, nullptr));
    database_.reset();
    keepAsideUncarried(path());
    LogCapture capture;
    {
        FaultInjection faults;
        faults->ioError(FaultyFileIO::Operation::Read, path() + ".uncarried*");
        NSErrorPtr error;
        database_ = APMDatabase::initWithDatabaseName(name_, config_, &error);
        ASSERT_NE(database_, nullptr) << (error ? error->localizedDescription() : "");
        EXPECT_GT(faults->injected(), 0);
        ASSERT_TRUE(database_->insertBundle(bundle(kNow + 100), false, nullptr));
        database_.reset();
    }
    EXPECT_EQ(capture.matching("[I-ACS034026]").size(), 1u);
    EXPECT_TRUE(capture.matching("[I-ACS012001]").empty());
    database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    ASSERT_NE(database_, nullptr);
    const auto bundles = database_->queryBundlesWithCountLimit(1000, std::numeric_limits<std::int64_t>::max(), nullptr);
    ASSERT_TRUE(bundles);
    EXPECT_EQ(bundles->size(), 6u);
    EXPECT_FALSE(std::filesystem::exists(path() + ".uncarried"));
    EXPECT_TRUE(std::filesystem::exists(path() + ".carried"));
}

// Purchases and subscriptions are tables of one shape (a text column each): with the schema's
// page lost, at any page size, or with the purchases' own root lost, each keeps its own rows, so
// that no purchase is reported twice.
TEST_F(APMDatabaseTest, TablesOfOneShapeKeepTheirRowsWhenTheSchemaPageOrARootIsLost) {
    const auto fingerprint = [](int i) { return "purchase-" + std::string(56, 'f') + "-" + std::to_string(i); };
    for (const int pageSize : {512, 4096, 65536}) {
        for (const bool rootOnly : {false, true}) {
            // A root of its own (an interior page) only where the rows take more than a page.
            if (rootOnly && pageSize == 65536) continue;
            SCOPED_TRACE("page size " + std::to_string(pageSize) + (rootOnly ? ", root" : ", page 1"));
            database_.reset();
            APMKeptFiles(path()).removeAll();
            std::filesystem::remove(path());
            {
                sqlite3* db = nullptr;
                ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
                EXPECT_EQ(sqlite3_exec(db, ("PRAGMA page_size=" + std::to_string(pageSize) + "; VACUUM").c_str(),
                                       nullptr, nullptr, nullptr),
                          SQLITE_OK);
                sqlite3_close(db);
            }
            database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
            ASSERT_NE(database_, nullptr);
            for (int i = 0; i < 120; ++i) {
                ASSERT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint(fingerprint(i), nullptr),
                          std::optional<bool>(true));
            }
            for (int i = 0; i < 80; ++i) {
                ASSERT_EQ(database_->insertIfNotDuplicateSubscriptionID("subscription-" + std::to_string(i), nullptr),
                          std::optional<bool>(true));
            }
            database_.reset();
            ASSERT_EQ(pageSizeOf(path()), pageSize);
            const long page =
                rootOnly ? std::stol(sqliteRows(path(), "SELECT rootpage FROM sqlite_master WHERE name = "
                                                        "'purchase_transactions'").at(0).at(0))
                         : 1;
            if (rootOnly) {
                ASSERT_EQ(sqliteRows(path(), "SELECT count(*) > 1 FROM dbstat WHERE name = 'purchase_transactions'"),
                          (std::vector<std::vector<std::string>>{{"1"}}));
            }
            ASSERT_TRUE(overwritePage(path(), page, pageSize));

            LogCapture capture;
            database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
            ASSERT_NE(database_, nullptr);
            EXPECT_EQ(capture.matching("[I-ACS034023]").size(), 1u);
            EXPECT_EQ(sqliteRows(path(), "SELECT count(*), sum(fingerprint LIKE 'purchase-%') FROM purchase_transactions"),
                      (std::vector<std::vector<std::string>>{{"120", "120"}}));
            EXPECT_EQ(sqliteRows(path(), "SELECT count(*), sum(subscription_id LIKE 'subscription-%') FROM subscriptions"),
                      (std::vector<std::vector<std::string>>{{"80", "80"}}));
            EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint(fingerprint(77), nullptr),
                      std::optional<bool>(false));
            EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID("subscription-5", nullptr), std::optional<bool>(false));
            const auto lines = capture.matching("[I-ACS034025]");
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_NE(lines[0].find("purchase_transactions: 120 carried"), std::string::npos) << lines[0];
            EXPECT_EQ(lines[0].find("unplaced"), std::string::npos) << lines[0];
        }
    }
}

// A kept file that waited an opening while the store took events joins it by each table's rule:
// one metadata row whose bundle count goes on from the kept one's, an event's counts and the
// lifetime value added together, the earliest first-open time, the later session number (a copy
// of the settings'), a fingerprint already present the same row, and the kept raw events before
// the store's own.
TEST_F(APMDatabaseTest, AKeptFileThatWaitedJoinsTheStoreByEachTablesRule) {
    const auto write = [&](int bundles, int purchases, double value, long long firstOpen, long long session,
                           const char* event, int events, double when) {
        auto metadataRow = database_->queryAppMetadata(nullptr);
        ASSERT_NE(metadataRow, nullptr);
        for (int i = 0; i < bundles; ++i) metadataRow->incrementLastBundleIndex();
        metadataRow->setLastBundleEndTimestamp(when);
        ASSERT_TRUE(database_->updateAppMetadata(metadataRow, nullptr));
        ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates::initWithName("_iap", purchases, 1, 0, when), nullptr));
        for (const auto& [name, number] : {std::pair<const char*, Value>("_ltv_USD", Value(value)),
                                           std::pair<const char*, Value>("_fot", Value(firstOpen)),
                                           std::pair<const char*, Value>("_sno", Value(session))}) {
            ASSERT_TRUE(database_->updateUserAttribute(
                APMUserAttribute::initWithOrigin("auto", name, APMValue::valueFromObject(number), when), nullptr));
        }
        ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata(), nullptr));
        for (int i = 0; i < events; ++i) {
            ASSERT_TRUE(database_->insertRawEvent(this->event(event, when + i), fingerprint(metadata()), false, nullptr));
        }
        database_.reset();
    };
    write(57, 120, 138.6, 1000, 1, "_iap", 2, kNow - 100);
    // It waits one opening.
    keepAsideUncarried(path());
    {
        FaultInjection faults;
        faults->ioError(FaultyFileIO::Operation::Read, path() + ".uncarried*");
        database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
        ASSERT_NE(database_, nullptr);
        write(3, 20, 20.8, 5000, 2, "_e", 1, kNow);
    }
    ASSERT_TRUE(std::filesystem::exists(path() + ".uncarried"));
    database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    ASSERT_NE(database_, nullptr);
    EXPECT_EQ(sqliteRows(path(), "SELECT rowid, last_bundle_index, last_bundle_end_timestamp FROM app_metadata"),
              (std::vector<std::vector<std::string>>{{"1", "60", std::to_string(static_cast<long long>(kNow)) + ".0"}}));
    const auto purchases = database_->eventAggregatesWithName("_iap", nullptr);
    ASSERT_NE(purchases, nullptr);
    EXPECT_EQ(purchases->lifetimeCount(), 140);
    EXPECT_EQ(purchases->currentBundleCount(), 2);
    const auto lifetime = database_->userAttributeWithName("_ltv_USD", nullptr);
    ASSERT_NE(lifetime, nullptr);
    EXPECT_NEAR(lifetime->value()->doubleValue(), 159.4, 1e-9);
    EXPECT_EQ(sqliteRows(path(), "SELECT value FROM user_attributes WHERE name IN ('_fot', '_sno') ORDER BY name"),
              (std::vector<std::vector<std::string>>{{"1000"}, {"2"}}));
    EXPECT_EQ(sqliteRows(path(), "SELECT count(*) FROM raw_events_metadata"), (std::vector<std::vector<std::string>>{{"1"}}));
    EXPECT_EQ(sqliteRows(path(), "SELECT group_concat(name) FROM (SELECT name FROM raw_events ORDER BY rowid)"),
              (std::vector<std::vector<std::string>>{{"_iap,_iap,_e"}}));
}

// The tables that refuse a new name past their limit keep within it when a kept file joins them,
// and the lifetime values within the currencies tracked: the store's own rows first, then the kept
// ones in their order; the line says what was left out.
TEST_F(APMDatabaseTest, AKeptFileJoinsTheStoreWithinTheTablesLimits) {
    const auto attribute = [](const std::string& name) {
        return APMUserAttribute::initWithOrigin("auto", name, APMValue::valueFromObject(Value(1)), kNow);
    };
    for (const char* name : {"u1", "_ltv_EUR", "shared", "u2", "_ltv_GBP", "u3", "_ltv_JPY"}) {
        ASSERT_TRUE(database_->updateUserAttribute(attribute(name), nullptr));
    }
    for (const char* name : {"e1", "e2", "e3", "e4"}) {
        ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates::initWithName(name, 1, 1, 0, kNow), nullptr));
    }
    database_.reset();
    keepAsideUncarried(path());
    {
        FaultInjection faults;
        faults->ioError(FaultyFileIO::Operation::Read, path() + ".uncarried*");
        database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
        ASSERT_NE(database_, nullptr);
        // The store's own: two currencies of four, room for four more names and two more events.
        const std::string own = "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 998) ";
        ASSERT_TRUE(store().executeSQL(own + "INSERT INTO user_attributes (name, set_timestamp, value) SELECT 'own' || n, "
                                             "0, n FROM c WHERE n < 994 UNION ALL VALUES ('_ltv_USD', 0, 1), ('_ltv_CAD', "
                                             "0, 1), ('shared', 0, 1)",
                                       nullptr));
        ASSERT_TRUE(store().executeSQL(own + "INSERT INTO events (name, lifetime_count, current_bundle_count, "
                                             "last_fire_timestamp) SELECT 'own' || n, 1, 1, 0 FROM c",
                                       nullptr));
        database_.reset();
    }
    LogCapture capture;
    database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    ASSERT_NE(database_, nullptr);
    EXPECT_EQ(sqliteRows(path(), "SELECT group_concat(name) FROM (SELECT name FROM user_attributes WHERE name NOT LIKE "
                                 "'own%' ORDER BY rowid)"),
              (std::vector<std::vector<std::string>>{{"_ltv_USD,_ltv_CAD,shared,u1,_ltv_EUR,u2,_ltv_GBP"}}));
    EXPECT_EQ(sqliteRows(path(), "SELECT count(*), sum(name IN ('e1', 'e2')) FROM events"),
              (std::vector<std::vector<std::string>>{{"1000", "2"}}));
    const auto lines = capture.matching("[I-ACS034025]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("events: 2 left out past its limit; user_attributes: 2 left out past its limit"),
              std::string::npos)
        << lines[0];
    EXPECT_FALSE(database_->updateUserAttribute(attribute("u4"), nullptr));
}

// The first page lost in a file whose roots a fresh file does not share (a table made first), or
// with only its cells gone: every row goes to the table its values fit, never where the engine
// could not read it back, and the purchases stay in their list.
TEST_F(APMDatabaseTest, AFirstPageLostPutsEveryRowInTheTableItFits) {
    for (const bool renumbered : {true, false}) {
        SCOPED_TRACE(renumbered ? "page 1 overwritten, roots renumbered" : "page 1's cells gone");
        database_.reset();
        APMKeptFiles(path()).removeAll();
        std::filesystem::remove(path());
        if (renumbered) {
            ASSERT_EQ(sqliteRows(path(), "CREATE TABLE made_first (x)").size(), 0u);
        }
        database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
        ASSERT_NE(database_, nullptr);
        ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata(), nullptr));
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow + i), fingerprint(metadata()), false, nullptr));
        }
        ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates::initWithName("_iap", 7, 7, 0, kNow), nullptr));
        for (int i = 0; i < 30; ++i) {
            ASSERT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p-" + std::to_string(i), nullptr),
                      std::optional<bool>(true));
        }
        database_.reset();
        const long pageSize = pageSizeOf(path());
        if (renumbered) {
            ASSERT_TRUE(overwritePage(path(), 1, pageSize));
        } else {
            // The schema's b-tree header says no cells, and their bytes are gone.
            ASSERT_TRUE(overwriteBytes(path(), 103, std::string(2, '\0')));
            ASSERT_TRUE(overwriteBytes(path(), 108, std::string(static_cast<std::size_t>(pageSize - 108), '\0')));
        }
        database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
        ASSERT_NE(database_, nullptr);
        EXPECT_EQ(sqliteRows(path(), "SELECT count(*), sum(name = '_e') FROM raw_events"),
                  (std::vector<std::vector<std::string>>{{"20", "20"}}));
        EXPECT_EQ(sqliteRows(path(), "SELECT name, lifetime_count, typeof(last_fire_timestamp) FROM events"),
                  (std::vector<std::vector<std::string>>{{"_iap", "7", "real"}}));
        EXPECT_EQ(sqliteRows(path(), "SELECT count(*) FROM purchase_transactions WHERE fingerprint LIKE 'p-%'"),
                  (std::vector<std::vector<std::string>>{{"30"}}));
        EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p-7", nullptr), std::optional<bool>(false));
        // The engine goes on counting.
        ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates::initWithName("_iap", 8, 8, 0, kNow), nullptr));
    }
}

// One counters row the engine cannot read (a negative count) never stops later events of its
// name: it is dropped, said, and the counting starts again.
TEST_F(APMDatabaseTest, AnUnreadableCountersRowIsDroppedAndCountingGoesOn) {
    ASSERT_TRUE(store().executeSQL("INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
                                   "VALUES ('_iap', -5, 0, 0)",
                                   nullptr));
    LogCapture capture;
    NSErrorPtr error;
    EXPECT_EQ(database_->hasEventAggregatesWithName("_iap", &error), std::optional<bool>(false));
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(capture.matching("[I-ACS012057]").size(), 1u);
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates::initWithName("_iap", 1, 1, 0, kNow), nullptr));
    ASSERT_NE(database_->eventAggregatesWithName("_iap", nullptr), nullptr);
    EXPECT_EQ(database_->eventAggregatesWithName("_iap", nullptr)->lifetimeCount(), 1);
}

TEST_F(APMDatabaseTest, AFolderThatCannotBeMadeFailsTheOpeningThroughTheMonitor) {
    const std::string root = Sandbox::tmp() + "/unmakeable";
    std::filesystem::remove_all(root);
    ASSERT_TRUE(std::filesystem::create_directories(root + "/read-only"));
    std::ofstream(root + "/plain-file") << "a file, not a folder";
    // No one, root included, makes a folder under a regular file.
    std::vector<std::string> paths = {root + "/plain-file/Vizudi/Measurement/m.sql"};
    ASSERT_EQ(chmod((root + "/read-only").c_str(), 0555), 0);
    struct RestoreMode {
        std::string path;
        ~RestoreMode() { chmod(path.c_str(), 0755); }
    } restore{root + "/read-only"};
    // A read-only folder stops only a process without the privilege to ignore its mode (not root).
    if (access((root + "/read-only").c_str(), W_OK) != 0) {
        paths.push_back(root + "/read-only/Vizudi/Measurement/m.sql");  // the folder cannot be made
        paths.push_back(root + "/read-only/m.sql");                     // the file cannot be made
    }
    for (const auto& databasePath : paths) {
        SCOPED_TRACE(databasePath);
        LogCapture capture;
        auto database = std::make_shared<APMDatabase>();
        NSErrorPtr error;
        EXPECT_FALSE(database->initializeDatabaseResourcesWithContext("Init", databasePath, &error));
        ASSERT_NE(error, nullptr);
        const auto lines = capture.matching("[I-ACS012001] Failed to open database file (Init). Error");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(error->localizedDescription()), std::string::npos) << lines[0];
        EXPECT_FALSE(std::filesystem::exists(databasePath));
        // Closed, not half-open: every later call fails plainly.
        EXPECT_FALSE(database->insertRawEvent(event("_e", kNow), 1, false, &error));
        EXPECT_EQ(error->localizedDescription(), "Database not open");
    }
}

// What is no file in the file's place (a folder of a person's, a pipe, a link to a folder) goes
// aside under a name of its own, never over another, and a fresh database takes its place.
TEST_F(APMDatabaseTest, WhatIsNoFileInTheFilesPlaceIsMovedAsideAndAFreshDatabaseMade) {
    database_.reset();
    std::filesystem::remove(path());
    const std::string elsewhere = Sandbox::tmp() + "/somewhere-else";
    std::filesystem::create_directories(elsewhere);
    const struct {
        const char* what;
        std::function<void()> make;
        std::string aside;
    } cases[] = {
        {"a folder with a file in it",
         [&] {
             std::filesystem::create_directories(path());
             std::ofstream(path() + "/notes.txt") << "kept";
         },
         path() + ".moved"},
        // The first name is taken by the folder before: the next free one, nothing replaced.
        {"another folder", [&] { std::filesystem::create_directories(path()); }, path() + ".moved-2"},
        {"a pipe", [&] { ASSERT_EQ(mkfifo(path().c_str(), 0600), 0); }, path() + ".moved-3"},
        {"a link to a folder", [&] { std::filesystem::create_directory_symlink(elsewhere, path()); }, path() + ".moved-4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        LogCapture capture;
        NSErrorPtr error;
        auto database = APMDatabase::initWithDatabaseName(name_, config_, &error);
        ASSERT_NE(database, nullptr) << (error ? error->localizedDescription() : "");
        ASSERT_TRUE(database->insertRawEvent(event("_e", kNow), 1, false, nullptr));
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path())));
        const auto lines = capture.matching("[I-ACS034024]");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(path()), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(c.aside), std::string::npos) << lines[0];
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(c.aside)));
        EXPECT_TRUE(capture.matching("[I-ACS012001]").empty());
        database.reset();
        std::filesystem::remove(path());
        for (const char* suffix : {"-wal", "-shm", "-journal"}) std::filesystem::remove(path() + suffix);
    }
    // Nothing was lost on the way: the first folder's file, the link's folder.
    std::ifstream notes(path() + ".moved/notes.txt");
    std::string kept;
    notes >> kept;
    EXPECT_EQ(kept, "kept");
    EXPECT_TRUE(std::filesystem::is_directory(elsewhere));
    EXPECT_TRUE(std::filesystem::is_symlink(path() + ".moved-4"));

    // A regular file stays where it is, with its rows.
    database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    ASSERT_NE(database_, nullptr);
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
    database_.reset();
    {
        LogCapture capture;
        database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
        ASSERT_NE(database_, nullptr);
        EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(1));
        EXPECT_TRUE(capture.matching("[I-ACS034024]").empty());
        EXPECT_FALSE(std::filesystem::exists(path() + ".moved-5"));
        database_.reset();
    }
    // A link to one is no file of its own, wherever it leads (here, still in the home): it goes
    // aside too, never written through, and the file it leads to keeps its rows.
    const std::string real = elsewhere + "/real.sql";
    std::filesystem::rename(path(), real);
    for (const char* suffix : {"-wal", "-shm"}) std::filesystem::remove(path() + suffix);
    std::filesystem::create_symlink(real, path());
    const auto realSize = std::filesystem::file_size(real);
    LogCapture capture;
    database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    ASSERT_NE(database_, nullptr);
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(0));
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
    EXPECT_EQ(capture.matching("[I-ACS034024]").size(), 1u);
    EXPECT_EQ(std::filesystem::read_symlink(path() + ".moved-5"), real);
    EXPECT_EQ(std::filesystem::file_size(real), realSize);
    for (const char* suffix : {"-wal", "-shm", "-journal"}) EXPECT_FALSE(std::filesystem::exists(real + suffix));
}

// A link where SQLite keeps the file's log, shared memory or journal, leading to a person's file
// or nowhere, would have the log written over what it leads to, or keep measurement off at every
// launch: it goes aside as anything else does, and nothing it leads to is written.
TEST_F(APMDatabaseTest, ALinkWhereTheLogOrSharedMemoryBelongsGoesAsideAndWhatItLeadsToIsUntouched) {
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
    database_.reset();
    for (const char* suffix : {"-wal", "-shm", "-journal"}) std::filesystem::remove(path() + suffix);
    const std::string elsewhere = Sandbox::tmp() + "/elsewhere";
    std::filesystem::create_directories(elsewhere);
    const std::string text(74000, 'n');
    std::ofstream(elsewhere + "/notes.txt") << text;
    std::filesystem::create_symlink(elsewhere + "/notes.txt", path() + "-wal");
    std::filesystem::create_symlink(elsewhere + "/missing-shm", path() + "-shm");
    std::filesystem::create_symlink(elsewhere + "/missing-journal", path() + "-journal");

    LogCapture capture;
    NSErrorPtr error;
    database_ = APMDatabase::initWithDatabaseName(name_, config_, &error);
    ASSERT_NE(database_, nullptr) << (error ? error->localizedDescription() : "");
    for (int n = 0; n < 50; ++n) ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow + n), 1, false, nullptr));
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(51));
    database_.reset();

    EXPECT_EQ(capture.matching("[I-ACS034024]").size(), 3u);
    EXPECT_TRUE(capture.matching("[I-ACS012001]").empty());
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        EXPECT_TRUE(std::filesystem::is_symlink(path() + suffix + ".moved")) << suffix;
        EXPECT_FALSE(std::filesystem::is_symlink(path() + suffix)) << suffix;
    }
    std::ifstream notes(elsewhere + "/notes.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(notes), std::istreambuf_iterator<char>()), text);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere), std::filesystem::directory_iterator()), 1);
}

// A link that leads nowhere where the file or its log belongs is not followed (the file would
// be made wherever it leads): it goes aside, and the file is made in its own folder.
TEST_F(APMDatabaseTest, ALinkThatLeadsNowhereWhereTheFileBelongsGoesAsideAndTheFileIsMadeInItsFolder) {
    database_.reset();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path() + suffix);
    const std::string elsewhere = Sandbox::tmp() + "/elsewhere";
    std::filesystem::create_directories(elsewhere);
    std::filesystem::create_symlink(elsewhere + "/missing.sql", path());
    std::filesystem::create_symlink(elsewhere + "/missing.sql-wal", path() + "-wal");

    LogCapture capture;
    NSErrorPtr error;
    database_ = APMDatabase::initWithDatabaseName(name_, config_, &error);
    ASSERT_NE(database_, nullptr) << (error ? error->localizedDescription() : "");
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path())));
    EXPECT_EQ(capture.matching("[I-ACS034024]").size(), 2u);
    for (const char* suffix : {"", "-wal"}) EXPECT_TRUE(std::filesystem::is_symlink(path() + suffix + ".moved")) << suffix;
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
}

// Where SQLite keeps the file's log and journal, a pipe or a folder would stop every open just
// as one in the file's own place does: they go aside too, and measurement starts.
TEST_F(APMDatabaseTest, WhatIsNoFileWhereTheLogOrJournalBelongsIsMovedAsideToo) {
    database_.reset();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path() + suffix);
    ASSERT_EQ(mkfifo((path() + "-wal").c_str(), 0600), 0);
    std::filesystem::create_directories(path() + "-shm");
    ASSERT_EQ(mkfifo((path() + "-journal").c_str(), 0600), 0);
    LogCapture capture;
    NSErrorPtr error;
    database_ = APMDatabase::initWithDatabaseName(name_, config_, &error);
    ASSERT_NE(database_, nullptr) << (error ? error->localizedDescription() : "");
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
    EXPECT_EQ(capture.matching("[I-ACS034024]").size(), 3u);
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(path() + suffix + ".moved"))) << suffix;
    }
}

// However many names earlier launches used, the next free one takes what is in the way.
TEST_F(APMDatabaseTest, WhatIsInTheWayIsMovedAsideHoweverManyNamesAreTaken) {
    database_.reset();
    std::filesystem::remove(path());
    std::ofstream(path() + ".moved") << "taken 1";
    for (int n = 2; n <= 1001; ++n) std::ofstream(path() + ".moved-" + std::to_string(n)) << "taken " << n;
    std::filesystem::create_directories(path());
    std::ofstream(path() + "/notes.txt") << "kept";

    LogCapture capture;
    NSErrorPtr error;
    database_ = APMDatabase::initWithDatabaseName(name_, config_, &error);
    ASSERT_NE(database_, nullptr) << (error ? error->localizedDescription() : "");
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
    const std::string aside = path() + ".moved-1002";
    const auto lines = capture.matching("[I-ACS034024]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(path() + ", "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(aside), std::string::npos) << lines[0];
    // Nothing is deleted or replaced: every name keeps what it held.
    std::ifstream notes(aside + "/notes.txt");
    std::string kept;
    notes >> kept;
    EXPECT_EQ(kept, "kept");
    for (int n = 1; n <= 1001; ++n) {
        std::ifstream taken(path() + ".moved" + (n == 1 ? std::string() : "-" + std::to_string(n)));
        std::string word;
        int number = 0;
        taken >> word >> number;
        ASSERT_EQ(number, n);
    }
}

// The folder is made on first use through the file manager: a full or read-only disk stops the
// opening with the file system's own sentence through the monitor, until the disk recovers.
TEST_F(APMDatabaseTest, AFullOrReadOnlyDiskStopsTheFirstOpeningUntilItRecovers) {
    database_.reset();
    const std::string folder = NSString::stringByDeletingLastPathComponent(path());
    std::filesystem::remove_all(NSString::stringByDeletingLastPathComponent(folder));
    const struct {
        const char* fault;
        std::function<void(FaultInjection&)> inject;
        const char* says;
    } cases[] = {
        {"no space",
         [](FaultInjection& io) { io->inject(FaultyFileIO::Operation::MakeFolder, "*/Vizudi", ENOSPC); },
         "The file \u201cMeasurement\u201d couldn\u2019t be saved because there is no space left on the volume."},
        {"read only", [](FaultInjection& io) { io->readOnly("*/Vizudi*"); },
         "The file \u201cMeasurement\u201d couldn\u2019t be saved because the volume is read only."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        LogCapture capture;
        FaultInjection injection;
        c.inject(injection);
        NSErrorPtr error;
        EXPECT_EQ(APMDatabase::initWithDatabaseName(name_, config_, &error), nullptr);
        EXPECT_GT(injection->injected(), 0);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->localizedDescription(), c.says);
        const auto lines = capture.matching("[I-ACS012001] Failed to open database file (Init). Error");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(c.says), std::string::npos) << lines[0];
        EXPECT_FALSE(std::filesystem::exists(folder));
    }

    database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    ASSERT_NE(database_, nullptr);
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(1));
}

// The engine's raw events through a disk that fails under them: each refused event is reported,
// none is stored in part, and the events stored before it are all there after a reopen.
TEST_F(APMDatabaseTest, AnEventThatMeetsAFullOrFailingDiskIsRefusedAndTheStoredOnesStay) {
    database_.reset();
    for (const int err : {ENOSPC, EIO}) {
        SCOPED_TRACE(err);
        {
            FaultInjection io;
            database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
            ASSERT_NE(database_, nullptr);
            const auto before = store().rowCountForTableWithName("raw_events", nullptr);
            ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
            io->inject(FaultyFileIO::Operation::Write, path() + "-wal", err);
            NSErrorPtr error;
            EXPECT_FALSE(database_->insertRawEvent(event("refused", kNow), 1, false, &error));
            EXPECT_NE(error, nullptr);
            EXPECT_GT(io->injected(), 0);
            io->clear();
            EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), before.value_or(-1) + 1);
            database_.reset();
        }
        database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
        ASSERT_NE(database_, nullptr);
        EXPECT_EQ(store().rowCountForTableWithName("raw_events", "name", Value("refused"), nullptr),
                  std::optional<std::int64_t>(0));
        database_.reset();
    }
    database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(2));
}

// MARK: Generic rows

TEST_F(APMDatabaseTest, UpsertRespectsTableLimitExceptForExistingKeys) {
    ASSERT_TRUE(database_->performTransaction([&] {
        for (int i = 0; i < 1000; ++i) {
            auto aggregates = APMEventAggregates::initWithName("e" + std::to_string(i), 1, 1, 1, kNow);
            if (!database_->updateEventAggregates(aggregates, nullptr)) return false;
        }
        return true;
    }));
    NSErrorPtr error;
    EXPECT_FALSE(database_->updateEventAggregates(APMEventAggregates::initWithName("new", 1, 1, 1, kNow), &error));
    EXPECT_EQ(error->code(), APMErrorFailedPrecondition);
    EXPECT_EQ(error->localizedDescription(), "Failed to insert data type. Table is full");
    EXPECT_TRUE(database_->updateEventAggregates(APMEventAggregates::initWithName("e5", 9, 9, 9, kNow), nullptr));
    EXPECT_EQ(database_->eventAggregatesWithName("e5", nullptr)->lifetimeCount(), 9);

    auto none = database_->dataTypesFromTableWithName("events", "name", Value("absent"), &error,
                                                      [](const APMDatabase::Row&, NSErrorPtr*) {
                                                          return std::make_shared<NSObject>();
                                                      });
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_FALSE(database_->updateDataType({{"name", Value("x")}}, "events", "name", Value("absent"), &error));
    EXPECT_EQ(error->localizedDescription(), "Failed to update record. Item doesn't exist");
}

// MARK: App metadata and daily counts

TEST_F(APMDatabaseTest, AppMetadataAndDailyCountsStartEmptyAndRoundTrip) {
    auto metadata = database_->queryAppMetadata(nullptr);
    ASSERT_NE(metadata, nullptr);
    EXPECT_EQ(metadata->lastBundleIndex(), 0);
    EXPECT_EQ(metadata->lastBundleStartTimestamp(), 0.0);
    const auto expectedDay =
        static_cast<std::int32_t>(std::floor((kNow - static_cast<std::int32_t>(config_->midnightOffset())) / 86400));
    auto counts = database_->dailyCounts(nullptr);
    ASSERT_NE(counts, nullptr);
    EXPECT_EQ(counts->day(), expectedDay);
    EXPECT_EQ(counts->allEventsCount(), 0);

    metadata->incrementLastBundleIndex();
    metadata->setLastBundleStartTimestamp(10.5);
    metadata->setLastBundleEndTimestamp(20.5);
    ASSERT_TRUE(database_->updateAppMetadata(metadata, nullptr));
    counts->incrementCountsForCurrentDay(expectedDay, true, true, 3);
    ASSERT_TRUE(database_->updateDailyCounts(counts, nullptr));
    auto stored = database_->queryAppMetadata(nullptr);
    EXPECT_EQ(stored->lastBundleIndex(), 1);
    EXPECT_EQ(stored->lastBundleEndTimestamp(), 20.5);
    auto storedCounts = database_->dailyCounts(nullptr);
    EXPECT_EQ(storedCounts->publicEventsCount(), 3);
    EXPECT_EQ(storedCounts->conversionsCount(), 1);
    // The counts read back are a copy, and follow a write to the row that went another way.
    storedCounts->incrementCountsForCurrentDay(expectedDay, true, false, 1);
    EXPECT_EQ(database_->dailyCounts(nullptr)->publicEventsCount(), 3);
    ASSERT_TRUE(store().updateRecord({{"daily_public_events_count", Value(7)}}, "app_metadata", "rowid", Value(1), nullptr));
    EXPECT_EQ(database_->dailyCounts(nullptr)->publicEventsCount(), 7);
    // A rolled-back write leaves the stored counts.
    EXPECT_FALSE(database_->performTransaction([&] { return database_->updateDailyCounts(storedCounts, nullptr) && false; }));
    EXPECT_EQ(database_->dailyCounts(nullptr)->publicEventsCount(), 7);
    NSErrorPtr error;
    EXPECT_FALSE(database_->updateDailyCounts(nullptr, &error));
    EXPECT_EQ(error->code(), APMErrorStorage);
}

// The counts are written by a kept UPDATE whose change count stands in for the check that the
// row is there: without the row the write fails, and no counts are kept from it.
TEST_F(APMDatabaseTest, DailyCountsAreNotWrittenWithoutTheirRow) {
    auto counts = database_->dailyCounts(nullptr);
    ASSERT_NE(counts, nullptr);
    counts->incrementCountsForCurrentDay(counts->day(), true, false, 2);
    ASSERT_TRUE(database_->updateDailyCounts(counts, nullptr));
    ASSERT_TRUE(store().deleteRecordFromTableWithName("app_metadata", "rowid", Value(1), nullptr));
    NSErrorPtr error;
    EXPECT_FALSE(database_->updateDailyCounts(counts, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), APMErrorFailedPrecondition);
    EXPECT_EQ(error->localizedDescription(), "Failed to update record. Item doesn't exist");
    EXPECT_EQ(database_->dailyCounts(nullptr), nullptr);
}

// The storage limit's check keeps the lowest and highest raw-event rowid and folds in the rows
// inserted; rows that a rollback takes back, or that are written with a rowid of their own,
// must show in it.
TEST_F(APMDatabaseTest, TheRawEventRowidSpanFollowsRollbacksAndRowsWrittenElsewhere) {
    APMDatabase::setLimitsProvider([] { return APMDatabaseLimits{3, 2419200, 86400}; });
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow + i), 7, false, nullptr));
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), std::optional<std::int64_t>(0));
    EXPECT_FALSE(database_->performTransaction([&] {
        for (int i = 0; i < 5; ++i) {
            if (!database_->insertRawEvent(event("_e", kNow + 10 + i), 7, false, nullptr)) return false;
        }
        return database_->deleteRawEventsOverAbsoluteLimit(nullptr) == std::optional<std::int64_t>(5) && false;
    }));
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), std::optional<std::int64_t>(0));
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(2));
    // A row far beyond the others: three rows, two kept, the oldest goes.
    ASSERT_TRUE(store().upsertRecord({{"rowid", Value(1000)}, {"name", Value("_e")}, {"timestamp", Value(kNow + 50)},
                                      {"metadata_fingerprint", Value(7)}, {"data", Value(NSData{1})}},
                                     "raw_events", nullptr));
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), std::optional<std::int64_t>(1));
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(2));
}

TEST(APMDailyCountsTest, DayChangesRestartCounters) {
    auto counts = APMDailyCounts::initWithDay(5, 2, 9, 4, 1, 1);
    counts->incrementCountsForCurrentDay(6, true, true, 3);
    EXPECT_EQ(counts->conversionsCount(), 1);
    EXPECT_EQ(counts->allEventsCount(), 3);
    EXPECT_EQ(counts->publicEventsCount(), 3);
    EXPECT_EQ(counts->errorEventsCount(), 0);
    counts->incrementRealtimeCountsForCurrentDay(7);
    EXPECT_EQ(counts->realtimeCount(), 1);
    EXPECT_EQ(counts->allEventsCount(), 0);
    counts->incrementErrorEventsCountForCurrentDay(7);
    EXPECT_EQ(counts->allEventsCount(), 1);
    EXPECT_EQ(counts->errorEventsCount(), 1);
    counts->decrementAllEventsCount();
    counts->decrementAllEventsCount();
    EXPECT_EQ(counts->allEventsCount(), 0);

    auto metadata = APMAppMetadata::initWithLastBundleIndex(std::numeric_limits<std::int32_t>::max(), 0, 0);
    metadata->incrementLastBundleIndex();
    EXPECT_EQ(metadata->lastBundleIndex(), 0);
    EXPECT_EQ(APMAppMetadata::initWithLastBundleIndex(-1, 0, 0), nullptr);
}

// MARK: Raw events

TEST_F(APMDatabaseTest, RawEventsShareMetadataAndReadBackWhole) {
    auto bundleMetadata = metadata();
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(bundleMetadata, nullptr));
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata(), nullptr));
    EXPECT_EQ(store().rowCountForTableWithName("raw_events_metadata", nullptr), std::optional<std::int64_t>(1));
    const std::int64_t fp = fingerprint(bundleMetadata);
    auto stored = database_->queryRawEventsMetadataWithFingerprint(fp, nullptr);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(APMPBMessageGetString(stored, APMPBMeasurementBundle::kPlatform), "ios");

    Value::Dictionary item1 = {{"item_id", Value(APMValue::initWithString("a"))}};
    Value::Dictionary item2 = {{"item_id", Value(APMValue::initWithString("b"))},
                               {"price", Value(APMValue::initWithDouble(2.5))}};
    auto source = APMEvent::initWithOrigin(
        "auto", false, "purchase", kNow, kNow - 5,
        {{"count", Value(APMValue::initWithInt64(3))},
         {"items", Value(APMValue::initWithArray(Value(Value::Array{Value(item1), Value(item2)})))}});
    ASSERT_TRUE(database_->insertRawEvent(source, fp, true, nullptr));
    EXPECT_EQ(database_->containsRealtimeRawEventsWithError(nullptr), std::optional<bool>(true));
    EXPECT_EQ(database_->isRawEventsTableEmpty(nullptr), std::optional<bool>(false));
    EXPECT_EQ(database_->queryLatestRawEventTime(nullptr), std::optional<double>(kNow));

    auto records = database_->rawEventsWithMetadataFingerprint(fp, nullptr, nullptr);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 1u);
    auto read = (*records)[0]->rawEvent();
    EXPECT_EQ(read->name(), "purchase");
    EXPECT_EQ(read->origin(), "auto");
    EXPECT_EQ(read->timestamp(), kNow);
    EXPECT_DOUBLE_EQ(read->previousTimestamp(), kNow - 5);
    EXPECT_EQ(read->parameters().get("count").objectAs<APMValue>()->int64Value(), 3);
    auto items = read->parameters().get("items").objectAs<APMValue>();
    ASSERT_TRUE(items && items->isArray());
    ASSERT_EQ(items->arrayValue()->size(), 2u);
    EXPECT_EQ(*(*items->arrayValue())[1].dictionary().get("item_id").objectAs<APMValue>()->stringValue(), "b");
    EXPECT_EQ((*items->arrayValue())[1].dictionary().get("price").objectAs<APMValue>()->doubleValue(), 2.5);

    // The stored blob carries no name and the origin as "_o".
    auto row = store().recordsForQuery("SELECT data FROM raw_events", {}, nullptr);
    auto blob = APMPBEvent::initWithBuffer((*row)[0].get("data").data());
    EXPECT_FALSE(APMPBMessageHasField(blob, APMPBEvent::kName));
    EXPECT_EQ(database_->nextMetadataFingerprintToProcess(nullptr), std::optional<std::int64_t>(fp));
    EXPECT_EQ(database_->containsRawEventWithMetadataFingerprint(fp, nullptr), std::optional<bool>(true));

    // Metadata known to be stored is stored again once its row went.
    ASSERT_TRUE(database_->deleteRawEventMetadataWithMetadataFingerprint(fp, nullptr));
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata(), nullptr));
    EXPECT_NE(database_->queryRawEventsMetadataWithFingerprint(fp, nullptr), nullptr);
}

TEST_F(APMDatabaseTest, RawEventReadsAreBoundedOrderedAndFiltered) {
    NSErrorPtr error;
    EXPECT_FALSE(database_->nextMetadataFingerprintToProcess(&error));
    EXPECT_EQ(error, nullptr);
    ASSERT_TRUE(database_->performTransaction([&] {
        for (int i = 0; i < 1005; ++i) {
            if (!database_->insertRawEvent(event("_e", kNow + i), 7, false, nullptr)) return false;
        }
        return true;
    }));
    auto records = database_->rawEventsWithMetadataFingerprint(7, nullptr, nullptr);
    ASSERT_EQ(records->size(), 1000u);
    EXPECT_EQ(records->front()->rawEvent()->timestamp(), kNow);
    EXPECT_LT(records->front()->rowID(), records->back()->rowID());
    auto filtered = database_->rawEventsWithMetadataFingerprint(
        7, nullptr, [](std::size_t kept, const Value::Dictionary&) { return kept < 10; });
    EXPECT_EQ(filtered->size(), 10u);
    ASSERT_TRUE(database_->deleteRawEventsWithMaxRowID(filtered->back()->rowID(), nullptr));
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(995));

    APMDatabase::setLimitsProvider([] { return APMDatabaseLimits{5, 2419200, 86400}; });
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), std::optional<std::int64_t>(991));
    auto kept = database_->rawEventsWithMetadataFingerprint(7, nullptr, nullptr);
    EXPECT_EQ(kept->front()->rawEvent()->timestamp(), kNow + 1001);
    APMDatabase::setLimitsProvider([] { return APMDatabaseLimits{1, 2419200, 86400}; });
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), std::optional<std::int64_t>(4));
    EXPECT_EQ(database_->isRawEventsTableEmpty(nullptr), std::optional<bool>(true));
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), std::optional<std::int64_t>(0));

    // Rows whose rowids span more than the limit but whose count is within it stay too.
    APMDatabase::setLimitsProvider([] { return APMDatabaseLimits{4, 2419200, 86400}; });
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow + i), 7, false, nullptr));
    ASSERT_TRUE(store().deleteRecordsFromTableWithName("raw_events", "timestamp > ? AND timestamp < ?",
                                                       {Value(kNow), Value(kNow + 4)}, nullptr));
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), std::optional<std::int64_t>(0));
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(3));
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow + 9), 7, false, nullptr));
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), std::optional<std::int64_t>(1));
    EXPECT_EQ(database_->rawEventsWithMetadataFingerprint(7, nullptr, nullptr)->front()->rawEvent()->timestamp(),
              kNow + 4);
}

// The answers the upload schedule asks after every event are kept in memory: every way the rows
// change (an insert, a rolled-back one, a delete, an emptied table, a reset) must show in them.
TEST_F(APMDatabaseTest, UploadScheduleAnswersFollowEveryChange) {
    auto facts = [&] {
        return std::make_tuple(database_->isRawEventsTableEmpty(nullptr), database_->queryLatestRawEventTime(nullptr),
                               database_->containsRealtimeRawEventsWithError(nullptr),
                               database_->isQueuedBundleTableEmpty(nullptr), database_->queryLatestBundleTime(nullptr),
                               database_->containsRealtimeBundlesWithError(nullptr));
    };
    using Facts = decltype(facts());
    const std::optional<double> none;
    EXPECT_EQ(facts(), Facts(true, none, false, true, none, false));
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow), 1, false, nullptr));
    EXPECT_EQ(facts(), Facts(false, kNow, false, true, none, false));
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow - 50), 1, true, nullptr));
    EXPECT_EQ(facts(), Facts(false, kNow, true, true, none, false));
    EXPECT_FALSE(database_->performTransaction([&] {
        return database_->insertRawEvent(event("_e", kNow + 50), 1, true, nullptr) &&
               database_->insertBundle(bundle(kNow + 9), true, nullptr) && false;
    }));
    EXPECT_EQ(facts(), Facts(false, kNow, true, true, none, false));
    ASSERT_TRUE(database_->insertBundle(bundle(kNow + 9), true, nullptr));
    EXPECT_EQ(facts(), Facts(false, kNow, true, false, kNow + 9, true));
    ASSERT_TRUE(store().deleteRecordsFromTableWithName("raw_events", "is_realtime = 1", {}, nullptr));
    EXPECT_EQ(facts(), Facts(false, kNow, false, false, kNow + 9, true));
    ASSERT_TRUE(store().deleteAllRecordsFromTableWithName("queue", nullptr));
    EXPECT_EQ(facts(), Facts(false, kNow, false, true, none, false));
    ASSERT_TRUE(database_->reset(nullptr));
    EXPECT_EQ(facts(), Facts(true, none, false, true, none, false));
}

TEST_F(APMDatabaseTest, StaleRawEventsGoWithTheirUnusedMetadata) {
    auto oldMetadata = metadata("old");
    auto newMetadata = metadata("new");
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(oldMetadata, nullptr));
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(newMetadata, nullptr));
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow - 100000), fingerprint(oldMetadata), false, nullptr));
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow + 100000), fingerprint(oldMetadata), false, nullptr));
    ASSERT_TRUE(database_->insertRawEvent(event("_e", kNow - 10), fingerprint(newMetadata), false, nullptr));
    NSErrorPtr error;
    EXPECT_FALSE(database_->deleteStaleRawEventsDataOlderThanMaxAge(-1, &error));
    EXPECT_EQ(error->localizedDescription(), "Cannot delete stale raw events given negative time period");
    ASSERT_TRUE(database_->deleteStaleRawEventsDataOlderThanMaxAge(1000, nullptr));
    EXPECT_EQ(store().rowCountForTableWithName("raw_events", nullptr), std::optional<std::int64_t>(1));
    EXPECT_FALSE(database_->queryRawEventsMetadataWithFingerprint(fingerprint(oldMetadata), nullptr));
    EXPECT_TRUE(database_->queryRawEventsMetadataWithFingerprint(fingerprint(newMetadata), nullptr));
}

TEST_F(APMDatabaseTest, UnreadableRawEventRowsAreReported) {
    ASSERT_TRUE(store().upsertRecord({{"name", Value("_e")},
                                      {"timestamp", Value(kNow)},
                                      {"metadata_fingerprint", Value(3)},
                                      {"data", Value(NSData{0xFF, 0xFF, 0xFF})}},
                                     "raw_events", nullptr));
    NSErrorPtr error;
    EXPECT_FALSE(database_->rawEventsWithMetadataFingerprint(3, &error, nullptr));
    EXPECT_EQ(error->localizedDescription(), "Failed to parse event from data");
    EXPECT_FALSE(database_->rawEventDataFromDictionary({{"rowid", Value(1)}}, &error));
    EXPECT_EQ(error->localizedDescription(), "Unable to find event data in the database dictionary");
    EXPECT_FALSE(database_->insertRawEvent(nullptr, 1, false, &error));
    EXPECT_EQ(error->localizedDescription(), "Received empty event for inserting in the database");
}

// MARK: Upload queue

TEST_F(APMDatabaseTest, BatchChoiceFollowsCountAndSizeLimits) {
    NSErrorPtr error;
    EXPECT_EQ(database_->isQueuedBundleTableEmpty(nullptr), std::optional<bool>(true));
    // The third would fit after the first, but the walk ends at the second.
    for (std::size_t size : {60u, 50u, 20u}) {
        auto message = bundle(kNow, size);
        ASSERT_EQ(message->protoBuffer()->size(), size);
        ASSERT_TRUE(database_->insertBundle(message, size == 20, &error));
    }
    auto chosen = database_->queryBundlesWithCountLimit(10, 100, nullptr);
    ASSERT_TRUE(chosen);
    ASSERT_EQ(chosen->size(), 1u);
    EXPECT_EQ(chosen->front().first->protoBuffer()->size(), 60u);
    EXPECT_EQ(database_->queryBundlesWithCountLimit(10, 110, nullptr)->size(), 2u);
    EXPECT_EQ(database_->queryBundlesWithCountLimit(10, 20, nullptr)->size(), 1u);  // the first, alone
    EXPECT_TRUE(database_->queryBundlesWithCountLimit(0, 1000, nullptr)->empty());
    EXPECT_EQ(database_->queryBundlesWithCountLimit(2, 1000, nullptr)->size(), 2u);
    EXPECT_EQ(database_->containsRealtimeBundlesWithError(nullptr), std::optional<bool>(true));
    EXPECT_EQ(database_->queryLatestBundleTime(nullptr), std::optional<double>(kNow));

    // An undecodable row is skipped, not fatal.
    ASSERT_TRUE(store().upsertRecord({{"data", Value(NSData{1, 2, 3})}, {"bundle_end_timestamp", Value(kNow)}}, "queue",
                                     nullptr));
    EXPECT_EQ(database_->queryBundlesWithCountLimit(10, 1000, nullptr)->size(), 3u);

    const Value::Array ids = {Value(static_cast<long long>(chosen->front().second))};
    EXPECT_EQ(database_->queryBundlesWithRowIDs(ids, nullptr)->size(), 1u);
    EXPECT_FALSE(database_->deleteBundlesWithRowIDs({}, &error));
    EXPECT_EQ(error->code(), APMErrorStorage);
    EXPECT_EQ(error->localizedDescription(), "Received empty row IDs to process");
    EXPECT_FALSE(database_->deleteBundlesWithRowIDs({Value("1")}, &error));
    EXPECT_EQ(error->localizedDescription(), "Received invalid type for row ID to process");
    ASSERT_TRUE(database_->deleteBundlesWithRowIDs(ids, nullptr));
    EXPECT_EQ(store().rowCountForTableWithName("queue", nullptr), std::optional<std::int64_t>(3));
}

TEST_F(APMDatabaseTest, InsertChecksBundleAndStoresItCompressed) {
    NSErrorPtr error;
    EXPECT_FALSE(database_->insertBundle(APMPBMeasurementBundle::make(), false, &error));
    EXPECT_EQ(error->localizedDescription(), "Failed to insert nil bundle");
    auto noApp = bundle(kNow);
    APMPBMessageClearField(noApp, APMPBMeasurementBundle::kAppId);
    EXPECT_FALSE(database_->insertBundle(noApp, false, &error));
    EXPECT_EQ(error->localizedDescription(), "Failed to insert bundle without App ID");
    EXPECT_FALSE(database_->insertBundle(bundle(0), false, &error));
    EXPECT_EQ(error->localizedDescription(), "Failed to insert bundle without valid timestamp");

    ASSERT_TRUE(database_->insertBundle(bundle(kNow, 200), false, nullptr));
    auto rows = store().recordsForQuery("SELECT data, retry_count FROM queue", {}, nullptr);
    const NSData inflated = NSDataVULGzip::vul_dataByInflatingGzippedData((*rows)[0].get("data").data());
    EXPECT_EQ(inflated.size(), 200u);
    EXPECT_EQ((*rows)[0].get("retry_count").longLongValue(), 0);
}

TEST_F(APMDatabaseTest, OldBundlesAreStoredWithWarningAndPurgedOncePerInterval) {
    LogCapture capture;
    // The first insert purges (nothing yet) and stamps the time.
    ASSERT_TRUE(database_->insertBundle(bundle(kNow - 40 * 86400.0), false, nullptr));
    EXPECT_TRUE(capture.contains("[I-ACS012016] Storing bundle outside of the max uploading time span"));
    EXPECT_EQ(config_->lastDeleteStaleBundlesTimestamp(), kNow);
    EXPECT_EQ(database_->maybeDeleteStaleData(nullptr), std::optional<bool>(false));
    EXPECT_EQ(store().rowCountForTableWithName("queue", nullptr), std::optional<std::int64_t>(1));
    Clock::advance(86401);
    ASSERT_TRUE(database_->insertBundle(bundle(Clock::now()), false, nullptr));
    EXPECT_EQ(store().rowCountForTableWithName("queue", nullptr), std::optional<std::int64_t>(1));
    EXPECT_EQ(config_->lastDeleteStaleBundlesTimestamp(), Clock::now());
    NSErrorPtr error;
    EXPECT_FALSE(database_->deleteStaleBundlesOlderThanMaxAge(-1, &error));
    EXPECT_EQ(error->localizedDescription(), "Cannot delete stale bundles after negative time period");
}

TEST_F(APMDatabaseTest, RetryCountersCountOnlyTheGivenBundlesAndStopAtTheCap) {
    ASSERT_TRUE(database_->insertBundle(bundle(kNow), false, nullptr));
    auto queued = database_->queryBundlesWithCountLimit(1, 1000, nullptr)->front();
    EXPECT_FALSE(APMPBMessageHasField(queued.first, APMPBMeasurementBundle::kRetryCount));
    const Value::Array first = {Value(static_cast<long long>(queued.second))};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs(first, nullptr));
    queued = database_->queryBundlesWithCountLimit(1, 1000, nullptr)->front();
    EXPECT_EQ(APMPBMessageGetInt32(queued.first, APMPBMeasurementBundle::kRetryCount), 3);

    // A row at the cap stays there and is reported; a row from before the column counts from 0.
    const NSData stored = NSDataVULGzip::vul_dataByGzippingData(*bundle(kNow)->protoBuffer());
    ASSERT_TRUE(store().upsertRecord({{"data", Value(stored)},
                                      {"bundle_end_timestamp", Value(kNow)},
                                      {"retry_count", Value(2147483647)}},
                                     "queue", nullptr));
    ASSERT_TRUE(store().upsertRecord({{"data", Value(stored)},
                                      {"bundle_end_timestamp", Value(kNow)}},
                                     "queue", nullptr));
    const Value::Array capped = {Value(static_cast<long long>(queued.second + 1))};
    const Value::Array legacy = {Value(static_cast<long long>(queued.second + 2))};
    LogCapture capture;
    ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs(legacy, nullptr));
    EXPECT_FALSE(capture.contains("[I-ACS012054]"));
    ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs(capped, nullptr));
    EXPECT_TRUE(capture.contains("[I-ACS012054]"));
    auto counts = store().recordsForQuery("SELECT retry_count FROM queue ORDER BY rowid", {}, nullptr);
    EXPECT_EQ((*counts)[0].get("retry_count").longLongValue(), 3);
    EXPECT_EQ((*counts)[1].get("retry_count").longLongValue(), 2147483647);
    EXPECT_EQ((*counts)[2].get("retry_count").longLongValue(), 1);
    NSErrorPtr error;
    EXPECT_FALSE(database_->incrementRetryCounterForBundlesWithIDs({}, &error));
    EXPECT_EQ(error->localizedDescription(), "Failed to increment retry counter");
}

#if !defined(NDEBUG) || defined(OSTREL_SEQUENCE_CHECKS)
using APMDatabaseDeathTest = APMDatabaseTestBase;

TEST_F(APMDatabaseDeathTest, LivesOnOneSequenceUntilHandedOn) {
    ASSERT_TRUE(database_->isRawEventsTableEmpty(nullptr));  // binds it to this thread
    EXPECT_DEATH(std::thread([&] { (void)database_->isRawEventsTableEmpty(nullptr); }).join(),
                 "APMDatabase::isRawEventsTableEmpty called from a thread outside any serial queue");
    // Handed to a worker queue, the database and its store work there and nowhere else.
    database_->detachFromSequence();
    auto worker = DispatchQueue::create("test.measurement.worker");
    bool inserted = false;
    worker->sync([&] { inserted = database_->insertRawEvent(event("_e", kNow), 1, false, nullptr); });
    EXPECT_TRUE(inserted);
    EXPECT_DEATH((void)database_->isRawEventsTableEmpty(nullptr), "APMDatabase::isRawEventsTableEmpty called from");
    EXPECT_DEATH((void)store().rowCountForTableWithName("raw_events", nullptr),
                 "APMSqliteStore::rowCountForTableWithName called from");
}
#endif

}  // namespace
