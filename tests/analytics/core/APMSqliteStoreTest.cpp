// The SQLite store on real files: opening and recovery, statements and their cache,
// binding, transactions, errors, table upkeep and migration, rows and queries.
#include "analytics/core/APMSqliteStore.h"

#include "LogCapture.h"
#include "analytics/core/APMSalvage.h"
#include "analytics/core/APMError.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/SqliteRows.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <regex>
#include <stdexcept>

namespace {

class APMSqliteStoreTest : public testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        folder_ = Sandbox::tmp() + "/store-" + std::to_string(++counter);
        path_ = folder_ + "/nested/test.sql";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::shared_ptr<APMSqliteStore> open(NSErrorPtr* error = nullptr) {
        return APMSqliteStore::initWithDatabasePath(path_, error);
    }
    // Opens the store on its damaged file, makes the table t in the new one and carries the kept
    // rows into it; the store is closed again.
    APMSalvage::Carried carryIntoT() {
        auto store = open();
        if (!store || !std::filesystem::exists(path_ + ".uncarried") ||
            !store->executeSQL("CREATE TABLE t (n INTEGER NOT NULL, body BLOB)", nullptr)) {
            ADD_FAILURE() << "no kept file to carry into t";
            return {};
        }
        const auto carried = APMSalvage::carryKeptFiles(*store);
        EXPECT_EQ(carried.waiting, 0);
        return carried;
    }

    // Statements alive on the connection: cached ones and leaked ones alike.
    static int liveStatements(APMSqliteStore& store) {
        int count = 0;
        for (sqlite3_stmt* s = sqlite3_next_stmt(store.sqliteHandle(), nullptr); s;
             s = sqlite3_next_stmt(store.sqliteHandle(), s)) {
            ++count;
        }
        return count;
    }

    static void writeBytes(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    std::string folder_;
    std::string path_;
};

APMSqliteStore::ColumnInfo pairs(std::initializer_list<std::pair<std::string, std::string>> list) { return list; }

// MARK: Opening and recovery

TEST_F(APMSqliteStoreTest, OpensCreatingFolderAndRefusesEmptyPath) {
    auto store = open();
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(std::filesystem::exists(path_));
    EXPECT_TRUE(NSFileManager::defaultManager()->isExcludedFromBackup(path_));
    NSErrorPtr error;
    EXPECT_EQ(APMSqliteStore::initWithDatabasePath("", &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), APMErrorInvalidArgument);
    EXPECT_EQ(error->localizedDescription(), "Received empty database path on init");
}

TEST_F(APMSqliteStoreTest, RandomBytesAndTruncatedFilesAreRecreatedEmpty) {
    std::mt19937 random(7);
    std::string garbage(8192, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    writeBytes(path_, garbage);
    auto store = open();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->tableExists("anything", nullptr), std::optional<bool>(false));
    EXPECT_TRUE(store->executeSQL("CREATE TABLE t (x BLOB)", nullptr));
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(store->upsertRecord({{"x", Value(NSData(2000, static_cast<std::uint8_t>(i)))}}, "t", nullptr));
    }
    store.reset();
    std::filesystem::resize_file(path_, std::filesystem::file_size(path_) / 3);
    store = open();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->tableExists("t", nullptr), std::optional<bool>(false));
}

TEST_F(APMSqliteStoreTest, AReplacedFileIsReportedWithWhatItHeld) {
    LogCapture capture;
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(store->executeSQL("CREATE TABLE kept (x INTEGER)", nullptr));
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(store->upsertRecord({{"x", Value(i)}}, "kept", nullptr));
        ASSERT_TRUE(store->executeSQL("CREATE TABLE t (x BLOB)", nullptr));
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE(store->upsertRecord({{"x", Value(NSData(100, static_cast<std::uint8_t>(i)))}}, "t", nullptr));
        }
    }
    // A sound file opens without a word.
    ASSERT_NE(open(), nullptr);
    EXPECT_TRUE(capture.matching("I-ACS034023").empty());

    // The page of one table overwritten: the tables that can still be counted are named with
    // their rows, the other as unreadable.
    const auto rootPage = sqliteRows(path_, "SELECT rootpage FROM sqlite_master WHERE name = 't'");
    const auto pageSize = sqliteRows(path_, "PRAGMA page_size");
    ASSERT_EQ(rootPage.size(), 1u);
    {
        std::fstream file(path_, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp((std::stoll(rootPage[0][0]) - 1) * std::stoll(pageSize[0][0]));
        file << std::string(std::stoll(pageSize[0][0]), '\xff');
    }
    const auto size = std::to_string(std::filesystem::file_size(path_));
    ASSERT_NE(open(), nullptr);
    auto lines = capture.matching("I-ACS034023");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(size + " bytes"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("kept: 3 rows"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(", t: unreadable"), std::string::npos) << lines[0];

    // Not a database at all: its size is all there is to tell. The empty file that replaced it
    // opens quietly after.
    capture.clear();
    writeBytes(path_, std::string(4096, 'x'));
    ASSERT_NE(open(), nullptr);
    ASSERT_NE(open(), nullptr);
    lines = capture.matching("I-ACS034023");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("4096 bytes, no table readable"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("kept aside"), std::string::npos) << lines[0];

    // A store whose owner fetches its data again says that it deleted the file.
    capture.clear();
    writeBytes(path_, std::string(4096, 'x'));
    ASSERT_NE(APMSqliteStore::initWithDatabasePath(path_, nullptr, APMSqliteStore::DamagedFile::Deleted), nullptr);
    lines = capture.matching("I-ACS034023");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Deleted an unreadable database"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find("kept aside"), std::string::npos) << lines[0];
}

// What still reads of a replaced file goes into the new one by the columns both tables have,
// rowids kept: a page whose header was overwritten loses its rows and no more, a long value whose
// chain of pages is broken its row, and a damaged last page its own. When the new file cannot take the rows (a full disk), the kept file stays
// uncarried, the store open, and the next opening carries it.
TEST_F(APMSqliteStoreTest, RowsThatStillReadAreCarriedPastDamagedPagesIntoTheNewFile) {
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(store->executeSQL("CREATE TABLE q (n INTEGER NOT NULL, body BLOB)", nullptr));
        ASSERT_TRUE(store->executeSQL("CREATE TABLE big (n INTEGER, body BLOB)", nullptr));
        ASSERT_TRUE(store->executeSQL("CREATE TABLE gone (x INTEGER)", nullptr));
        ASSERT_TRUE(store->performTransactionWithError(nullptr, [&] {
            bool written = store->upsertRecord({{"x", Value(1)}}, "gone", nullptr);
            for (int n = 1; n <= 200; ++n) {
                written = written && store->upsertRecord({{"n", Value(n)}, {"body", Value(NSData(500, n))}}, "q", nullptr);
            }
            // The first long value only fits a page of its own; the second has a chain of them.
            for (int n = 1; n <= 3; ++n) {
                const std::size_t size = n == 1 ? 10 : 10000;
                written = written && store->upsertRecord({{"n", Value(n)}, {"body", Value(NSData(size, n))}}, "big", nullptr);
            }
            return written;
        }));
    }
    const int leaves = std::stoi(sqliteRows(path_, "SELECT count(*) FROM dbstat WHERE name = 'q' AND pagetype = 'leaf'")
                                     .at(0)
                                     .at(0));
    const int atTheEnd = overwriteLeafHeader(path_, "q", leaves - 1);
    const int inTheMiddle = overwriteLeafHeader(path_, "q", 3);
    ASSERT_GT(atTheEnd, 0);
    ASSERT_GT(inTheMiddle, 0);
    ASSERT_TRUE(damageOverflowChain(path_, "big"));
    const auto makeTables = [](APMSqliteStore& store) {
        return store.executeSQL("CREATE TABLE IF NOT EXISTS q (n INTEGER NOT NULL, body BLOB, added TEXT)", nullptr) &&
               store.executeSQL("CREATE TABLE IF NOT EXISTS big (n INTEGER, body BLOB)", nullptr);
    };

    LogCapture capture;
    {
        FaultInjection io;
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(std::filesystem::exists(path_ + ".uncarried"));
        ASSERT_TRUE(makeTables(*store));
        io->noSpace(path_ + "*");
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 1);
        EXPECT_NE(store->sqliteHandle(), nullptr);
    }
    EXPECT_EQ(capture.matching("[I-ACS034026]").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".carried"));
    EXPECT_FALSE(std::filesystem::exists(path_ + ".carrying"));
    EXPECT_EQ(sqliteRows(path_ + ".uncarried", "SELECT count(*) FROM gone"),
              (std::vector<std::vector<std::string>>{{"1"}}));

    auto store = open();
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(makeTables(*store));
    const auto carried = APMSalvage::carryKeptFiles(*store);
    EXPECT_EQ(carried.waiting, 0);
    EXPECT_EQ(carried.rows, 200 - inTheMiddle - atTheEnd + 2);
    EXPECT_EQ(carried.unreadable, 1);
    // The rows keep their rowids; what went with the middle page runs one after another.
    const auto rows = store->recordsForQuery("SELECT rowid, n, added FROM q ORDER BY rowid", {}, nullptr);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), static_cast<std::size_t>(200 - inTheMiddle - atTheEnd));
    std::vector<long long> missing;
    for (long long n = 1, i = 0; n <= 200 - atTheEnd; ++n) {
        if (i < static_cast<long long>(rows->size()) && (*rows)[i].get("n").longLongValue() == n) {
            EXPECT_EQ((*rows)[i].get("rowid").longLongValue(), n);
            EXPECT_TRUE((*rows)[i++].get("added").isNull());
        } else {
            missing.push_back(n);
        }
    }
    ASSERT_EQ(missing.size(), static_cast<std::size_t>(inTheMiddle));
    EXPECT_EQ(missing.back() - missing.front() + 1, inTheMiddle);
    const auto lines = capture.matching("[I-ACS034025]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("q: " + std::to_string(200 - inTheMiddle - atTheEnd) + " carried"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find("big: 2 carried, 1 unreadable"), std::string::npos) << lines[0];
    EXPECT_EQ(sqliteRows(path_, "SELECT group_concat(n) FROM big"), (std::vector<std::vector<std::string>>{{"1,3"}}));
    EXPECT_EQ(lines[0].find("gone"), std::string::npos) << lines[0];
    EXPECT_TRUE(std::filesystem::exists(path_ + ".carried"));
    EXPECT_FALSE(std::filesystem::exists(path_ + ".uncarried"));
}

// A table of `rows` rows (n = rowid, a short body), written in one transaction.
void fillTable(APMSqliteStore& store, const std::string& table, int rows) {
    ASSERT_TRUE(store.executeSQL("CREATE TABLE " + table + " (n INTEGER NOT NULL, body BLOB)", nullptr));
    ASSERT_TRUE(store.performTransactionWithError(nullptr, [&] {
        bool written = true;
        for (int n = 1; n <= rows && written; ++n) {
            written = store.upsertRecord({{"n", Value(n)}, {"body", Value(NSData(60, static_cast<std::uint8_t>(n)))}},
                                         table, nullptr);
        }
        return written;
    }));
}

// The rows of `table` at `path` whose n is their rowid, or -1 when any other is there.
std::int64_t rowsInPlace(const std::string& path, const std::string& table) {
    const auto rows = sqliteRows(path, "SELECT count(*), total(n = rowid) FROM " + table);
    if (rows.size() != 1 || std::stod(rows[0][0]) != std::stod(rows[0][1])) return -1;
    return std::stoll(rows[0][0]);
}

// A divider of the root raised over the rowids of later leaves, and a damaged row in the leaf to
// its right: every other row is carried, each under its rowid, and the damaged one not.
TEST_F(APMSqliteStoreTest, ARootWhoseKeysGoBackLosesOnlyTheDamagedRow) {
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        fillTable(*store, "t", 3000);
    }
    const std::int64_t damaged = raiseDividerAndDamageRightLeaf(path_, "t", 20, 16000);
    ASSERT_GT(damaged, 0);
    const auto carried = carryIntoT();
    EXPECT_EQ(carried.rows, 2999);
    EXPECT_EQ(rowsInPlace(path_, "t"), 2999);
    EXPECT_EQ(sqliteRows(path_, "SELECT count(*) FROM t WHERE rowid = " + std::to_string(damaged)),
              (std::vector<std::vector<std::string>>{{"0"}}));
}

// The rows whose leaf pages still read are carried when what leads to them does not: under one
// damaged byte of a table's root (by the kept file's schema), and under a damaged first page (by
// the tables their rows fit), where a key column that is the rowid reads null from the page and
// the rowid stands for it. The kept rows come before the store's own; a key the store has
// already is the same row.
TEST_F(APMSqliteStoreTest, RowsUnderADamagedRootOrFirstPageAreCarriedFromTheirLeafPages) {
    const auto makeTables = [](APMSqliteStore& store) {
        return store.executeSQL("CREATE TABLE t (n INTEGER NOT NULL, body BLOB)", nullptr) &&
               store.executeSQL("CREATE TABLE k (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, score REAL)",
                                nullptr);
    };
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        fillTable(*store, "t", 3000);
        ASSERT_TRUE(store->executeSQL("CREATE TABLE k (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, score REAL)",
                                      nullptr));
        for (int id = 10; id <= 400; id += 10) {
            ASSERT_TRUE(store->upsertRecord(
                {{"id", Value(id)}, {"name", Value("name-" + std::to_string(id))}, {"score", Value(id / 4.0)}}, "k",
                nullptr));
        }
    }
    const long pageSize = pageSizeOf(path_);
    const long root = std::stol(sqliteRows(path_, "SELECT rootpage FROM sqlite_master WHERE name = 't'").at(0).at(0));
    const std::string whole = folder_ + "/whole.sql";
    std::filesystem::copy_file(path_, whole);

    ASSERT_TRUE(overwriteBytes(path_, (root - 1) * pageSize, "\xa5"));
    LogCapture capture;
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(makeTables(*store));
        ASSERT_TRUE(store->upsertRecord({{"n", Value(-7)}}, "t", nullptr));
        ASSERT_TRUE(store->upsertRecord({{"id", Value(1)}, {"name", Value("name-20")}}, "k", nullptr));
        const auto carried = APMSalvage::carryKeptFiles(*store);
        EXPECT_EQ(carried.waiting, 0);
        EXPECT_EQ(carried.rows, 3000 + 40);
    }
    // The kept rows before the store's own; a key the store has already is the same row.
    EXPECT_EQ(sqliteRows(path_, "SELECT rowid, n FROM t WHERE n < 0"),
              (std::vector<std::vector<std::string>>{{"3001", "-7"}}));
    EXPECT_EQ(rowsInPlace(path_, "t WHERE n > 0"), 3000);
    EXPECT_EQ(sqliteRows(path_, "SELECT count(*), sum(name = 'name-' || id) FROM k"),
              (std::vector<std::vector<std::string>>{{"40", "39"}}));
    auto lines = capture.matching("[I-ACS034025]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("k: 40 carried; t: 3000 carried, 3000 from pages no tree reaches"), std::string::npos)
        << lines[0];

    capture.clear();
    std::filesystem::remove_all(folder_ + "/nested");
    std::filesystem::create_directories(folder_ + "/nested");
    std::filesystem::copy_file(whole, path_);
    ASSERT_TRUE(overwritePage(path_, 1, pageSize));
    auto store = open();
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(makeTables(*store));
    const auto carried = APMSalvage::carryKeptFiles(*store);
    EXPECT_EQ(carried.waiting, 0);
    EXPECT_EQ(carried.rows, 3040);
    EXPECT_EQ(rowsInPlace(path_, "t"), 3000);
    EXPECT_EQ(sqliteRows(path_, "SELECT count(*), sum(name = 'name-' || id AND score = id / 4.0) FROM k"),
              (std::vector<std::vector<std::string>>{{"40", "40"}}));
    lines = capture.matching("[I-ACS034025]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("schema unreadable; k: 40 carried, 40 from pages no tree reaches"), std::string::npos)
        << lines[0];
}

// The first page lost in a file whose rows take one and a half to two pages each: its pages are
// read at their own size, every row carried with its whole value.
TEST_F(APMSqliteStoreTest, AFirstPageLostAmongRowsOfMorePagesThanOneIsReadAtItsPageSize) {
    const auto makeTable = [](APMSqliteStore& store) {
        return store.executeSQL("CREATE TABLE IF NOT EXISTS t (n INTEGER NOT NULL, body BLOB)", nullptr);
    };
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(makeTable(*store));
        ASSERT_TRUE(store->performTransactionWithError(nullptr, [&] {
            bool written = true;
            for (int n = 1; n <= 120 && written; ++n) {
                written = store->upsertRecord(
                    {{"n", Value(n)}, {"body", Value(NSData(6144 + 16 * n, static_cast<std::uint8_t>(n)))}}, "t", nullptr);
            }
            return written;
        }));
    }
    ASSERT_EQ(pageSizeOf(path_), 4096);
    ASSERT_TRUE(overwritePage(path_, 1, 4096));
    auto store = open();
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(makeTable(*store));
    EXPECT_EQ(APMSalvage::carryKeptFiles(*store).rows, 120);
    store.reset();
    EXPECT_EQ(sqliteRows(path_, "SELECT count(*), sum(length(body) = 6144 + 16 * n AND hex(substr(body, -1)) = "
                                "printf('%02X', n % 256)) FROM t WHERE n = rowid"),
              (std::vector<std::vector<std::string>>{{"120", "120"}}));
}

// A file written without secure deletion, whose freed leaves keep a dropped table's rows of the
// live table's shape and point into overflow chains since given to live rows: with the free list
// whole, no freed row comes back, and every live value arrives whole.
TEST_F(APMSqliteStoreTest, FreedLeavesOfAWholeFreeListGiveNoRowAndTakeNoLiveValue) {
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_EQ(sqlite3_exec(store->sqliteHandle(), "PRAGMA secure_delete=OFF", nullptr, nullptr, nullptr), SQLITE_OK);
        ASSERT_TRUE(store->executeSQL("CREATE TABLE gone (n INTEGER NOT NULL, body BLOB)", nullptr));
        ASSERT_TRUE(store->executeSQL("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 239) "
                                      "INSERT INTO gone SELECT -i, randomblob(5000) FROM c",
                                      nullptr));
        ASSERT_TRUE(store->executeSQL("DROP TABLE gone", nullptr));
        fillTable(*store, "t", 3000);
        ASSERT_TRUE(store->executeSQL("UPDATE t SET body = CAST(printf('%5000d', n) AS BLOB) WHERE n % 100 = 0", nullptr));
    }
    const int lost = overwriteLeafHeader(path_, "t", 3);
    ASSERT_GT(lost, 0);
    const auto carried = carryIntoT();
    EXPECT_EQ(carried.rows, 3000 - lost);
    EXPECT_EQ(rowsInPlace(path_, "t"), 3000 - lost);
    EXPECT_EQ(sqliteRows(path_, "SELECT count(*) FROM t WHERE n % 100 = 0 AND CAST(body AS TEXT) IS NOT printf('%5000d', n)"),
              (std::vector<std::vector<std::string>>{{"0"}}));
}

// A wrong child pointer in a root raises no error of SQLite's: the walk through that tree gives
// another table's rows, or one leaf's twice, and never meets the leaf it lost. Each table gets its
// own rows, every one, under its rowids, and no other's; the line names a table whose tree
// reached another's pages.
TEST_F(APMSqliteStoreTest, AWrongChildPointerCarriesNoForeignRowAndLosesNoLeaf) {
    const auto makeTables = [](APMSqliteStore& store) {
        return store.executeSQL("CREATE TABLE r (name TEXT NOT NULL, ts INTEGER NOT NULL, fp INTEGER NOT NULL, "
                                "data BLOB NOT NULL, rt INTEGER)",
                                nullptr) &&
               store.executeSQL("CREATE TABLE q (data BLOB NOT NULL, ts REAL NOT NULL, rt INTEGER, retries INTEGER)",
                                nullptr);
    };
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(makeTables(*store));
        ASSERT_TRUE(store->performTransactionWithError(nullptr, [&] {
            bool written = true;
            for (int n = 1; n <= 140 && written; ++n) {
                written = store->upsertRecord({{"name", Value("_e" + std::to_string(n))},
                                               {"ts", Value(1700000000000 + n)},
                                               {"fp", Value(n * 31)},
                                               {"data", Value(NSData(200, static_cast<std::uint8_t>(n)))}},
                                              "r", nullptr);
            }
            for (int n = 1; n <= 60 && written; ++n) {
                written = store->upsertRecord({{"data", Value(NSData(700, static_cast<std::uint8_t>(n)))},
                                               {"ts", Value(1700000000.5 + n)},
                                               {"rt", Value(0)},
                                               {"retries", Value(n % 3)}},
                                              "q", nullptr);
            }
            return written;
        }));
    }
    const std::string whole = folder_ + "/whole.sql";
    std::filesystem::copy_file(path_, whole);
    const auto contents = [](const std::string& path) {
        return std::make_pair(sqliteRows(path, "SELECT rowid, name, ts, fp, hex(data), rt FROM r ORDER BY rowid"),
                              sqliteRows(path, "SELECT rowid, hex(data), ts, rt, retries FROM q ORDER BY rowid"));
    };
    const auto want = contents(whole);
    ASSERT_EQ(want.first.size(), 140u);
    ASSERT_EQ(want.second.size(), 60u);
    const std::vector<long> rLeaves = leavesOf(whole, "r");
    const std::vector<long> qLeaves = leavesOf(whole, "q");
    ASSERT_GE(rLeaves.size(), 3u);
    ASSERT_GE(qLeaves.size(), 3u);
    struct Case {
        const char* table;
        long to;
        const char* strays;
    };
    const long qRoot = std::stol(sqliteRows(whole, "SELECT rootpage FROM sqlite_master WHERE name = 'q'").at(0).at(0));
    // The queue's root at a raw event leaf, the raw events' root at a queue leaf, the queue's
    // root at another queue leaf, and the raw events' root at the queue's, an interior page whose
    // keys SQLite follows without any error, met before the queue's own walk takes it.
    for (const Case& wrong : {Case{"q", rLeaves[1], "q"}, Case{"r", qLeaves[1], "r"}, Case{"q", qLeaves[2], nullptr},
                              Case{"r", qRoot, "r"}}) {
        SCOPED_TRACE(std::string(wrong.table) + " at page " + std::to_string(wrong.to));
        std::filesystem::remove_all(folder_ + "/nested");
        std::filesystem::create_directories(folder_ + "/nested");
        std::filesystem::copy_file(whole, path_);
        ASSERT_TRUE(pointRootChildAt(path_, wrong.table, 1, wrong.to));
        LogCapture capture;
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(makeTables(*store));
        const auto carried = APMSalvage::carryKeptFiles(*store);
        EXPECT_EQ(carried.waiting, 0);
        EXPECT_EQ(carried.rows, 200);
        EXPECT_EQ(carried.unreadable, 0);
        store.reset();
        EXPECT_EQ(contents(path_), want);
        if (wrong.strays) {
            const auto lines = capture.matching("[I-ACS034025]");
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_NE(lines[0].find(std::string(wrong.strays) + ": " + (*wrong.strays == 'q' ? "60" : "140") + " carried"),
                      std::string::npos)
                << lines[0];
            EXPECT_NE(lines[0].find("its tree reaching pages not its own"), std::string::npos) << lines[0];
        }
    }
}

// Tables one added column apart, whose older rows fit the narrower alike: a pointer of one's root
// at the other's leaf, of the same rowids or of others, gives neither table the other's rows nor
// loses any of its own. The page goes to the tree whose keys hold it and which lost no page there.
TEST_F(APMSqliteStoreTest, AStrayPointerBetweenTablesOneAddedColumnApartMixesAndLosesNothing) {
    const auto makeTables = [](APMSqliteStore& store) {
        return store.executeSQL("CREATE TABLE IF NOT EXISTS x (name TEXT NOT NULL, t REAL NOT NULL)", nullptr) &&
               store.executeSQL("CREATE TABLE IF NOT EXISTS y (name TEXT NOT NULL, t REAL NOT NULL)", nullptr);
    };
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(makeTables(*store));
        const auto fill = [&](const char* table, int first, int last, bool added) {
            for (int n = first; n <= last; ++n) {
                Value::Dictionary row{{"name", Value(std::string(table) + std::to_string(n) + std::string(200, 'v'))},
                                      {"t", Value(n + 0.5)}};
                if (added) row.set("c", Value(n));
                if (!store->upsertRecord(row, table, nullptr)) return false;
            }
            return true;
        };
        ASSERT_TRUE(store->performTransactionWithError(nullptr, [&] { return fill("x", 1, 140, false) && fill("y", 1, 74, false); }));
        ASSERT_TRUE(store->executeSQL("ALTER TABLE y ADD COLUMN c INTEGER", nullptr));
        ASSERT_TRUE(store->performTransactionWithError(nullptr, [&] { return fill("y", 75, 140, true); }));
    }
    const std::string whole = folder_ + "/whole.sql";
    std::filesystem::copy_file(path_, whole);
    const auto contents = [](const std::string& path) {
        return std::make_pair(sqliteRows(path, "SELECT rowid, name, t FROM x ORDER BY rowid"),
                              sqliteRows(path, "SELECT rowid, name, t, c FROM y ORDER BY rowid"));
    };
    const auto want = contents(whole);
    const auto xLeaves = leavesOf(whole, "x");
    const auto yLeaves = leavesOf(whole, "y");
    ASSERT_GE(xLeaves.size(), 4u);
    ASSERT_GE(yLeaves.size(), 4u);
    struct Case {
        const char* table;
        long to;
    };
    for (const Case& wrong : {Case{"x", yLeaves[1]}, Case{"x", yLeaves[3]}, Case{"y", xLeaves[1]}}) {
        SCOPED_TRACE(std::string(wrong.table) + " at page " + std::to_string(wrong.to));
        std::filesystem::remove_all(folder_ + "/nested");
        std::filesystem::create_directories(folder_ + "/nested");
        std::filesystem::copy_file(whole, path_);
        ASSERT_TRUE(pointRootChildAt(path_, wrong.table, 1, wrong.to));
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(makeTables(*store));
        ASSERT_TRUE(store->executeSQL("ALTER TABLE y ADD COLUMN c INTEGER", nullptr));
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).rows, 280);
        store.reset();
        EXPECT_EQ(contents(path_), want);
    }
}

// A log whose last commit names a billion pages, its first page no longer vouching for its own
// size, as SQLite believes it: every row of the file and its log is carried, in the time its bytes
// take (read for a billion pages, it would take hours).
TEST_F(APMSqliteStoreTest, ALogThatNamesABillionPagesIsReadForWhatItHolds) {
    std::filesystem::create_directories(folder_ + "/nested");
    const std::string written = folder_ + "/written.sql";
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(written.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; CREATE TABLE t (n INTEGER "
                                   "NOT NULL, body BLOB)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    for (int n = 1; n <= 50; ++n) {
        ASSERT_EQ(sqlite3_exec(writer, ("INSERT INTO t VALUES (" + std::to_string(n) + ", zeroblob(100))").c_str(), nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
    }
    // Copied as a kill leaves them: the rows in the log alone.
    std::filesystem::copy_file(written, path_ + ".uncarried");
    std::filesystem::copy_file(written + "-wal", path_ + ".uncarried-wal");
    sqlite3_close(writer);
    ASSERT_TRUE(claimPagesInLogCommit(path_ + ".uncarried", 1000000000));
    ASSERT_EQ(sqliteRows(path_ + ".uncarried", "PRAGMA page_count"), (std::vector<std::vector<std::string>>{{"1000000000"}}));
    auto store = open();
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(store->executeSQL("CREATE TABLE t (n INTEGER NOT NULL, body BLOB)", nullptr));
    EXPECT_EQ(APMSalvage::carryKeptFiles(*store).rows, 50);
    store.reset();
    EXPECT_EQ(rowsInPlace(path_, "t"), 50);
}

// Leaves that no tree reaches while the free list does not read may be freed ones: their rows
// are carried (a row sent again rather than one lost), each under its rowid. The store itself
// leaves no rows on the pages it frees.
TEST_F(APMSqliteStoreTest, RowsOfLeavesThatMayBeFreedAreCarriedAndCounted) {
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(store->executeSQL("CREATE TABLE gone (body TEXT)", nullptr));
        ASSERT_TRUE(store->executeSQL("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
                                      "INSERT INTO gone SELECT 'a row to be deleted, ' || i FROM n",
                                      nullptr));
        ASSERT_TRUE(store->executeSQL("DELETE FROM gone", nullptr));
    }
    {
        std::ifstream file(path_, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.find("a row to be deleted"), std::string::npos) << "a freed page kept its rows";
    }
    // A file whose freed leaves kept their rows, as one written without secure deletion does.
    std::filesystem::remove_all(folder_ + "/nested");
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_EQ(sqlite3_exec(store->sqliteHandle(), "PRAGMA secure_delete=OFF", nullptr, nullptr, nullptr), SQLITE_OK);
        fillTable(*store, "t", 3000);
        ASSERT_TRUE(store->executeSQL("DELETE FROM t WHERE rowid BETWEEN 1001 AND 2000", nullptr));
    }
    const long pageSize = pageSizeOf(path_);
    const long root = std::stol(sqliteRows(path_, "SELECT rootpage FROM sqlite_master WHERE name = 't'").at(0).at(0));
    // The header (and with it the free list) and the root.
    ASSERT_TRUE(overwriteBytes(path_, 0, std::string(100, '\xa5')));
    ASSERT_TRUE(overwriteBytes(path_, (root - 1) * pageSize, "\xa5"));
    LogCapture capture;
    const auto carried = carryIntoT();
    EXPECT_GT(carried.rows - 2000, 0);
    EXPECT_EQ(rowsInPlace(path_, "t"), carried.rows);
    const auto lines = capture.matching("[I-ACS034025]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("t: " + std::to_string(carried.rows) + " carried, " + std::to_string(carried.rows) +
                            " from pages no tree reaches"),
              std::string::npos)
        << lines[0];
}

// A read of the kept file that fails for a reason of the moment (a failing disk) is no damage:
// nothing is stepped past, the kept file waits for the next opening, which carries it, and the
// store stays open meanwhile.
TEST_F(APMSqliteStoreTest, AKeptFileThatFailsToReadIsKeptForTheNextOpening) {
    {
        auto store = open();
        ASSERT_NE(store, nullptr);
        fillTable(*store, "t", 3000);
    }
    const int lost = overwriteLeafHeader(path_, "t", 40);
    ASSERT_GT(lost, 0);
    LogCapture capture;
    {
        FaultInjection io;
        auto store = open();
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(store->executeSQL("CREATE TABLE t (n INTEGER NOT NULL, body BLOB)", nullptr));
        // For this opening: the next one reads it.
        io->inject(FaultyFileIO::Operation::Read, path_ + ".uncarried*", EIO);
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 1);
        EXPECT_GT(io->injected(), 0);
        EXPECT_NE(store->sqliteHandle(), nullptr);
    }
    const auto waited = capture.matching("[I-ACS034026]");
    ASSERT_EQ(waited.size(), 1u);
    EXPECT_NE(waited[0].find("couldn’t be read: Input/output error"), std::string::npos) << waited[0];
    EXPECT_TRUE(capture.matching("[I-ACS034025]").empty());
    EXPECT_FALSE(std::filesystem::exists(path_ + ".carried"));

    auto store = open();
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(store->executeSQL("CREATE TABLE IF NOT EXISTS t (n INTEGER NOT NULL, body BLOB)", nullptr));
    const auto carried = APMSalvage::carryKeptFiles(*store);
    EXPECT_EQ(carried.waiting, 0);
    EXPECT_EQ(carried.rows, 3000 - lost);
    EXPECT_EQ(rowsInPlace(path_, "t"), 3000 - lost);
}

TEST_F(APMSqliteStoreTest, LockedDatabaseFailsToOpenAndKeepsItsData) {
    {
        auto store = open();
        ASSERT_TRUE(store->executeSQL("CREATE TABLE kept (x INTEGER)", nullptr));
        ASSERT_TRUE(store->upsertRecord({{"x", Value(42)}}, "kept", nullptr));
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr), SQLITE_OK);
    NSErrorPtr error;
    EXPECT_EQ(open(&error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), APMErrorStorage);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    auto store = open();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->numberForQuery("SELECT x FROM kept", {}, nullptr).value_or(Value()).longLongValue(), 42);
}

TEST_F(APMSqliteStoreTest, ImmutableFileIsMadeMutableBeforeOpenAndDelete) {
    open();
    auto fileManager = NSFileManager::defaultManager();
    ASSERT_TRUE(fileManager->setAttributes({{NSFileImmutable, Value(true)}}, path_));
    auto store = open();
    ASSERT_NE(store, nullptr);
    EXPECT_FALSE(fileManager->attributesOfItemAtPath(path_)->get(NSFileImmutable).boolValue());
    ASSERT_TRUE(fileManager->setAttributes({{NSFileImmutable, Value(true)}}, path_));
    EXPECT_TRUE(store->closeAndDeleteDatabase());
    EXPECT_FALSE(fileManager->fileExistsAtPath(path_));
    EXPECT_EQ(store->sqliteHandle(), nullptr);
    EXPECT_TRUE(store->closeAndDeleteDatabase());
}

// MARK: Statements and binding

TEST_F(APMSqliteStoreTest, PreparationRefusesSecondStatementsAndClosedStores) {
    auto store = open();
    NSErrorPtr error;
    EXPECT_EQ(store->prepareSQL("SELECT 1; ", &error), nullptr);
    EXPECT_EQ(error->localizedDescription(), "Query contained more than one SQL statement.");
    EXPECT_EQ(store->prepareSQL("SELEC 1", &error), nullptr);
    EXPECT_EQ(error->code(), APMErrorStorage);
    EXPECT_NE(error->localizedDescription().find("prepare statement"), std::string::npos);
    store->closeDatabase();
    EXPECT_EQ(store->prepareSQL("SELECT 1", &error), nullptr);
    EXPECT_EQ(error->code(), APMErrorFailedPrecondition);
    EXPECT_EQ(error->localizedDescription(), "Prepare SQL failed. Database not open.");
    LogCapture capture;
    EXPECT_FALSE(store->lastErrorMessage());
    EXPECT_TRUE(capture.contains("[I-ACS034022]"));
}

TEST_F(APMSqliteStoreTest, CacheKeepsParameterisedAndUnconditionalQueriesOnly) {
    auto store = open();
    ASSERT_TRUE(store->executeSQL("CREATE TABLE t (x INTEGER)", nullptr));
    const int base = liveStatements(*store);
    const std::string withParameter = "SELECT count(1) FROM t WHERE x = ?";
    sqlite3_stmt* first = store->statementForQuery(withParameter, {Value(1)}, nullptr);
    store->cleanUpStatement(first, withParameter);
    sqlite3_stmt* second = store->statementForQuery(withParameter, {Value(2)}, nullptr);
    EXPECT_EQ(first, second);
    store->cleanUpStatement(second, withParameter);
    EXPECT_EQ(liveStatements(*store), base + 1);

    const std::string literal = "SELECT count(1) FROM t WHERE x = 3";
    store->cleanUpStatement(store->statementForQuery(literal, nullptr), literal);
    EXPECT_EQ(liveStatements(*store), base + 1);
    const std::string unconditional = "SELECT count(1) FROM t";
    store->cleanUpStatement(store->statementForQuery(unconditional, nullptr), unconditional);
    EXPECT_EQ(liveStatements(*store), base + 2);

    // Parameters are checked on cache hits too, where a run without them would bind NULLs.
    NSErrorPtr error;
    EXPECT_EQ(store->statementForQuery(withParameter, {}, &error), nullptr);
    EXPECT_EQ(error->localizedDescription(), "Received empty parameters");
    EXPECT_FALSE(store->numberForQuery(withParameter, {}, nullptr));
}

TEST_F(APMSqliteStoreTest, BindsByTypeAndCopiesBlobs) {
    auto store = open();
    ASSERT_TRUE(store->executeSQL("CREATE TABLE t (v)", nullptr));
    const std::string insert = "INSERT INTO t (v) VALUES (?)";
    for (const Value& value : {Value(1.5), Value(2), Value(), Value("text")}) {
        sqlite3_stmt* statement = store->statementForQuery(insert, {value}, nullptr);
        ASSERT_NE(statement, nullptr);
        ASSERT_EQ(sqlite3_step(statement), SQLITE_DONE);
        store->cleanUpStatement(statement, insert);
    }
    {
        // The buffer is gone before the statement runs.
        auto buffer = std::make_unique<NSData>(NSData{1, 2, 3});
        sqlite3_stmt* statement = store->statementForQuery(insert, {Value(*buffer)}, nullptr);
        buffer.reset();
        std::vector<NSData> churn(64, NSData(3, 0xEE));
        ASSERT_EQ(sqlite3_step(statement), SQLITE_DONE);
        store->cleanUpStatement(statement, insert);
    }
    auto rows = store->recordsForQuery("SELECT typeof(v) AS kind, v FROM t ORDER BY rowid", {}, nullptr);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 5u);
    EXPECT_EQ((*rows)[0].get("kind").string(), "real");
    EXPECT_EQ((*rows)[1].get("kind").string(), "integer");
    EXPECT_EQ((*rows)[2].get("kind").string(), "null");
    EXPECT_TRUE((*rows)[2].get("v").isNull());
    EXPECT_EQ((*rows)[3].get("kind").string(), "text");
    EXPECT_EQ((*rows)[4].get("v").data(), (NSData{1, 2, 3}));

    NSErrorPtr error;
    EXPECT_EQ(store->statementForQuery(insert, {Value(NSDate{1.0})}, &error), nullptr);
    EXPECT_EQ(error->code(), APMErrorStorage);
    EXPECT_FALSE(store->bindValues({Value(1)}, nullptr, &error));
    EXPECT_EQ(error->localizedDescription(), "Failed to bind to NULL statement");
}

// MARK: Transactions and errors

TEST_F(APMSqliteStoreTest, TransactionsCommitRollBackAndRethrow) {
    auto store = open();
    ASSERT_TRUE(store->executeSQL("CREATE TABLE t (x INTEGER)", nullptr));
    EXPECT_TRUE(store->performTransactionWithError(nullptr, [&] {
        return store->upsertRecord({{"x", Value(1)}}, "t", nullptr);
    }));
    NSErrorPtr error;
    EXPECT_FALSE(store->performTransactionWithError(&error, [&] {
        EXPECT_TRUE(store->upsertRecord({{"x", Value(2)}}, "t", nullptr));
        return false;
    }));
    EXPECT_EQ(error->code(), APMErrorStorage);
    EXPECT_EQ(error->localizedDescription(), "Transaction failed");
    EXPECT_THROW(
        (void)store->performTransactionWithError(nullptr,
                                                 [&]() -> bool {
                                                     EXPECT_TRUE(store->upsertRecord({{"x", Value(3)}}, "t", nullptr));
                                                     throw std::runtime_error("boom");
                                                 }),
        std::runtime_error);
    EXPECT_EQ(store->rowCountForTableWithName("t", nullptr), std::optional<std::int64_t>(1));

    // Transactions do not nest.
    EXPECT_TRUE(store->performTransactionWithError(nullptr, [&] {
        NSErrorPtr inner;
        EXPECT_FALSE(store->performTransactionWithError(&inner, [] { return true; }));
        EXPECT_EQ(inner->localizedDescription(), "Failed to begin transaction");
        return true;
    }));
}

TEST_F(APMSqliteStoreTest, FailedCommitRollsBackSoLaterTransactionsWork) {
    auto store = open();
    ASSERT_TRUE(store->executeSQL("PRAGMA foreign_keys = ON", nullptr));
    ASSERT_TRUE(store->executeSQL("CREATE TABLE parent (id INTEGER PRIMARY KEY)", nullptr));
    ASSERT_TRUE(store->executeSQL(
        "CREATE TABLE child (pid INTEGER REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED)", nullptr));
    NSErrorPtr error;
    // The dangling reference is only noticed at commit time.
    EXPECT_FALSE(store->performTransactionWithError(&error, [&] {
        return store->upsertRecord({{"pid", Value(99)}}, "child", nullptr);
    }));
    EXPECT_EQ(error->localizedDescription(), "Failed to end transaction");
    EXPECT_EQ(sqlite3_get_autocommit(store->sqliteHandle()), 1);
    EXPECT_EQ(store->rowCountForTableWithName("child", nullptr), std::optional<std::int64_t>(0));
    EXPECT_TRUE(store->performTransactionWithError(nullptr, [&] {
        return store->upsertRecord({{"id", Value(1)}}, "parent", nullptr);
    }));
}

// The store's files go through the file system in use, in write-ahead logging as the engine
// runs it: a transaction whose log cannot be written fails and says so, nothing of it stays,
// and every row committed before it is there after a reopen.
TEST_F(APMSqliteStoreTest, ATransactionThatMeetsAFullOrFailingDiskFailsAndEarlierRowsStay) {
    for (const int err : {ENOSPC, EIO}) {
        SCOPED_TRACE(err);
        std::filesystem::remove_all(folder_);
        {
            FaultInjection io;
            auto store = open();
            ASSERT_NE(store, nullptr);
            ASSERT_TRUE(store->useWriteAheadLog(nullptr));
            ASSERT_TRUE(store->executeSQL("CREATE TABLE t (x INTEGER, body BLOB)", nullptr));
            EXPECT_TRUE(std::filesystem::exists(path_ + "-shm"));
            for (int x = 1; x <= 2; ++x) {
                ASSERT_TRUE(store->performTransactionWithError(nullptr, [&] {
                    return store->upsertRecord({{"x", Value(x)}, {"body", Value(NSData(6000, 'b'))}}, "t", nullptr);
                }));
            }
            io->inject(FaultyFileIO::Operation::Write, path_ + "-wal", err);
            NSErrorPtr error;
            EXPECT_FALSE(store->performTransactionWithError(&error, [&] {
                return store->upsertRecord({{"x", Value(3)}, {"body", Value(NSData(6000, 'b'))}}, "t", nullptr);
            }));
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(error->code(), APMErrorStorage);
            EXPECT_GT(io->injected(), 0);
            EXPECT_EQ(sqlite3_get_autocommit(store->sqliteHandle()), 1);
            // Once the disk is back, the store writes again.
            io->clear();
            EXPECT_EQ(store->rowCountForTableWithName("t", nullptr), std::optional<std::int64_t>(2));
            ASSERT_TRUE(store->performTransactionWithError(nullptr, [&] {
                return store->upsertRecord({{"x", Value(4)}}, "t", nullptr);
            }));
        }
        auto reopened = open();
        ASSERT_NE(reopened, nullptr);
        EXPECT_EQ(reopened->rowCountForTableWithName("t", nullptr), std::optional<std::int64_t>(3));
        EXPECT_EQ(reopened->rowCountForTableWithName("t", "x", Value(3), nullptr), std::optional<std::int64_t>(0));
    }
}

TEST_F(APMSqliteStoreTest, DatabaseErrorsCarryDescriptionAndMonitorContext) {
    auto store = open();
    NSErrorPtr error;
    EXPECT_FALSE(store->executeSQL("INSERT INTO missing VALUES (1)", &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), APMErrorStorage);
    EXPECT_EQ(error->localizedDescription(),
              "Database operation \"prepare statement\" failed with sqlite code 1 and error message \"no such table: "
              "missing\"");
    const std::string context = error->userInfo().get(APMMonitorContextKey).string();
    EXPECT_TRUE(std::regex_match(context, std::regex("prepare statement,1,A,(-1|[0-9]+)"))) << context;
    EXPECT_TRUE(std::regex_match(store->monitorContextForDatabaseOperation(""),
                                 std::regex("Unknown operation,[0-9]+,A,(-1|[0-9]+)")));
}

// MARK: Tables

TEST_F(APMSqliteStoreTest, EnsureCreatesAddsColumnsAndValidates) {
    auto store = open();
    const auto elementary = pairs({{"a", "INTEGER NOT NULL"}, {"b", "TEXT NOT NULL"}, {"PRIMARY KEY", "(a, b)"}});
    ASSERT_TRUE(store->ensureTableWithName("t", elementary, pairs({{"c", "REAL"}}), nullptr));
    EXPECT_EQ(store->columnsForTableWithName("t", nullptr), (std::vector<std::string>{"a", "b", "c"}));
    ASSERT_TRUE(store->ensureTableWithName("t", elementary, pairs({{"c", "REAL"}, {"d", "BLOB"}}), nullptr));
    EXPECT_EQ(store->columnsForTableWithName("t", nullptr), (std::vector<std::string>{"a", "b", "c", "d"}));

    ASSERT_TRUE(store->executeSQL("ALTER TABLE t ADD COLUMN extra TEXT", nullptr));
    EXPECT_TRUE(store->ensureTableWithName("t", elementary, {}, nullptr));
    ASSERT_TRUE(store->executeSQL("CREATE TABLE strict (a INTEGER NOT NULL, x TEXT NOT NULL DEFAULT '')", nullptr));
    NSErrorPtr error;
    EXPECT_FALSE(store->ensureTableWithName("strict", pairs({{"a", "INTEGER NOT NULL"}}), {}, &error));
    EXPECT_EQ(error->localizedDescription(), "Table contains unknown non-optional columns");
    EXPECT_FALSE(store->ensureTableWithName("strict", pairs({{"z", "INTEGER"}}), {}, &error));
    EXPECT_EQ(error->localizedDescription(), "Table is missing required columns");
    EXPECT_FALSE(store->ensureTableWithName("", elementary, {}, &error));
    EXPECT_EQ(error->localizedDescription(), "Received empty table name for ensure table");
}

TEST_F(APMSqliteStoreTest, MigrationChangesTypeKeepingRowsOrderAndKey) {
    auto store = open();
    const auto elementary = pairs({{"a", "INTEGER NOT NULL"}, {"b", "INTEGER NOT NULL"}, {"PRIMARY KEY", "(a, b)"}});
    ASSERT_TRUE(store->ensureTableWithName("t", elementary, pairs({{"n", "TEXT"}}), nullptr));
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(store->upsertRecord({{"a", Value(i)}, {"b", Value(i)}, {"n", Value("x")}}, "t", nullptr));
    }
    ASSERT_TRUE(store->deleteRecordsFromTableWithName("t", "a = 1", {}, nullptr));
    const auto before = store->recordsForQuery("SELECT rowid, * FROM t ORDER BY rowid", {}, nullptr);

    ASSERT_TRUE(store->ensureTableWithName("t", elementary, pairs({{"n", "TEXT"}}), {{"b", "REAL NOT NULL"}}, nullptr));
    auto info = store->columnInfoForTableWithName("t", nullptr);
    ASSERT_TRUE(info);
    EXPECT_EQ((*info)[1], (std::pair<std::string, std::string>("b", "REAL")));
    EXPECT_EQ(store->tableExists("t_old", nullptr), std::optional<bool>(false));
    const auto after = store->recordsForQuery("SELECT rowid, * FROM t ORDER BY rowid", {}, nullptr);
    ASSERT_TRUE(before && after);
    ASSERT_EQ(after->size(), before->size());
    for (std::size_t i = 0; i < after->size(); ++i) {
        EXPECT_EQ((*after)[i].get("rowid"), (*before)[i].get("rowid"));
        EXPECT_EQ((*after)[i].get("a"), (*before)[i].get("a"));
    }
    // The composite key survives: a second row with the same key replaces the first.
    ASSERT_TRUE(store->upsertRecord({{"a", Value(2)}, {"b", Value(2.0)}, {"n", Value("y")}}, "t", nullptr));
    EXPECT_EQ(store->rowCountForTableWithName("t", nullptr), std::optional<std::int64_t>(4));

    // A second run finds the types equal and leaves the table alone.
    const auto rowidBefore = store->numberForQuery("SELECT max(rowid) FROM t", {}, nullptr)->longLongValue();
    ASSERT_TRUE(store->ensureTableWithName("t", elementary, pairs({{"n", "TEXT"}}), {{"b", "REAL NOT NULL"}}, nullptr));
    EXPECT_EQ(store->numberForQuery("SELECT max(rowid) FROM t", {}, nullptr)->longLongValue(), rowidBefore);
}

TEST_F(APMSqliteStoreTest, RenameCopyDropAndTheirChecks) {
    auto store = open();
    ASSERT_TRUE(store->executeSQL("CREATE TABLE a (x)", nullptr));
    ASSERT_TRUE(store->executeSQL("CREATE TABLE b (x)", nullptr));
    ASSERT_TRUE(store->upsertRecord({{"x", Value(1)}}, "a", nullptr));
    EXPECT_TRUE(store->copyContentsFromTable("a", "b", nullptr));
    EXPECT_EQ(store->rowCountForTableWithName("b", nullptr), std::optional<std::int64_t>(1));
    NSErrorPtr error;
    EXPECT_FALSE(store->renameTable("a", "a", &error));
    EXPECT_EQ(error->localizedDescription(), "Received duplicate name for rename table");
    EXPECT_FALSE(store->copyContentsFromTable("a", "a", &error));
    EXPECT_EQ(error->localizedDescription(), "Received duplicate name for copy table");
    const std::pair<std::function<bool()>, const char*> emptyNames[] = {
        {[&] { return store->renameTable("", "a", &error); }, "Received empty old name for rename table"},
        {[&] { return store->renameTable("a", "", &error); }, "Received empty new name for rename table"},
        {[&] { return store->copyContentsFromTable("", "a", &error); }, "Received empty source name for copy table"},
        {[&] { return store->copyContentsFromTable("a", "", &error); }, "Received empty destination name for copy table"}};
    for (const auto& [call, message] : emptyNames) {
        error = nullptr;
        EXPECT_FALSE(call()) << message;
        ASSERT_TRUE(error) << message;
        EXPECT_EQ(error->localizedDescription(), message);
    }
    EXPECT_TRUE(store->renameTable("a", "c", nullptr));
    EXPECT_TRUE(store->dropTableWithName("c", nullptr));
    EXPECT_EQ(store->tableExists("c", nullptr), std::optional<bool>(false));
    EXPECT_FALSE(store->dropTableWithName("c", &error));
    EXPECT_NE(error->localizedDescription().find("no such table: c"), std::string::npos);
}

// MARK: Rows and queries

TEST_F(APMSqliteStoreTest, UpsertUpdateIncreaseAndDelete) {
    auto store = open();
    ASSERT_TRUE(store->executeSQL("CREATE TABLE t (k TEXT PRIMARY KEY, n integer, r REAL)", nullptr));
    EXPECT_TRUE(store->upsertRecord({{"k", Value("a")}, {"n", Value(1)}, {"r", Value(0.5)}}, "t", nullptr));
    EXPECT_TRUE(store->upsertRecord({{"k", Value("a")}, {"n", Value(2)}, {"r", Value(0.5)}}, "t", nullptr));
    EXPECT_EQ(store->rowCountForTableWithName("t", nullptr), std::optional<std::int64_t>(1));
    EXPECT_TRUE(store->updateRecord({{"r", Value(1.5)}}, "t", "k", Value("a"), nullptr));
    EXPECT_TRUE(store->increaseColumn("n", 40, "t", "k = ?", {Value("a")}, nullptr));
    EXPECT_EQ(store->numberForQuery("SELECT n FROM t", {}, nullptr)->longLongValue(), 42);
    NSErrorPtr error;
    EXPECT_FALSE(store->increaseColumn("r", 1, "t", "k = ?", {Value("a")}, &error));
    EXPECT_EQ(error->localizedDescription(), "Column type is not integer.");
    EXPECT_FALSE(store->increaseColumn("nope", 1, "t", "k = ?", {Value("a")}, &error));
    EXPECT_EQ(error->localizedDescription(), "Invalid column or table name");

    LogCapture capture;
    error.reset();
    EXPECT_FALSE(store->upsertRecord({{"k", Value(NSDate{0.0})}}, "t", &error));
    EXPECT_EQ(error, nullptr);
    EXPECT_TRUE(capture.contains("[I-ACS034020]"));
    EXPECT_FALSE(store->updateRecord({{"k", Value(NSDate{0.0})}}, "t", "k", Value("a"), &error));
    EXPECT_EQ(error->localizedDescription(), "Failed to bind parameter of unexpected type to update statement");

    EXPECT_TRUE(store->upsertRecord({{"k", Value("b")}, {"n", Value(7)}}, "t", nullptr));
    EXPECT_TRUE(store->updateAllRecordsInTableWithName("t", "n", Value(0), nullptr));
    EXPECT_EQ(store->deleteRecordsFromTableWithName("t", "n = ?", {Value(0)}, nullptr), std::optional<std::int64_t>(2));
    EXPECT_TRUE(store->upsertRecord({{"k", Value("c")}}, "t", nullptr));
    EXPECT_TRUE(store->deleteRecordFromTableWithName("t", "k", Value("c"), nullptr));
    EXPECT_EQ(store->rowCountForTableWithName("t", nullptr), std::optional<std::int64_t>(0));
}

TEST_F(APMSqliteStoreTest, RecordQueriesFilterAndRefuseNonSelects) {
    auto store = open();
    ASSERT_TRUE(store->executeSQL("CREATE TABLE t (x INTEGER, b BLOB)", nullptr));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(store->upsertRecord({{"x", Value(i)}, {"b", Value(NSData{})}}, "t", nullptr));
    int seen = 0;
    LogCapture capture;
    auto rows = store->recordsForQuery("SELECT x, b FROM t ORDER BY x", {}, nullptr,
                                       [&](std::size_t kept, const Value::Dictionary&) {
                                           ++seen;
                                           return kept < 2;
                                       });
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->size(), 2u);
    EXPECT_EQ(seen, 3);
    // A zero-length blob reads as a missing key.
    EXPECT_FALSE((*rows)[0].contains("b"));
    EXPECT_TRUE(capture.contains("[I-ACS034004]"));
    EXPECT_TRUE(store->recordsForQuery("SELECT x FROM t", {}, nullptr, [](std::size_t, const Value::Dictionary&) {
        return false;
    }));
    EXPECT_TRUE(capture.contains("[I-ACS034005]"));

    NSErrorPtr error;
    EXPECT_FALSE(store->recordsForQuery(" SELECT x FROM t", {}, &error));
    EXPECT_EQ(error->localizedDescription(), "Received invalid select query");
    EXPECT_FALSE(store->recordsForQuery("DELETE FROM t", {}, &error));
    EXPECT_TRUE(store->recordsForQuery("select x FROM t", {}, nullptr));

    error.reset();
    EXPECT_FALSE(store->numberForQuery("SELECT NULL", {}, &error));
    EXPECT_EQ(error, nullptr);
    EXPECT_FALSE(store->numberForQuery("SELECT 'text'", {}, &error));
    EXPECT_EQ(error->localizedDescription(), "Found result that was not numeric");
    EXPECT_EQ(store->numberForQuery("SELECT 2.5", {}, nullptr)->doubleValue(), 2.5);
}

}  // namespace
