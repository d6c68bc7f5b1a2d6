// A kept file read into a working copy: nothing of the kept schema runs, a long value arrives only
// whole and its own, and no file costs more reads than its pages allow, the rows its trees reach
// carried when those no tree reaches cost too much; a cancelled read stops at once.
#include "analytics/core/APMKeptFileReader.h"

#include "platform/dispatch/DispatchCancellation.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/CraftedPages.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

// Cancels a read as the `nth` read of the kept file from the disk begins (never for 0), and
// counts those reads.
class CancellingFileIO : public FaultyFileIO {
public:
    CancellingFileIO(std::string path, int nth)
        : path_(std::move(path)), nth_(nth), cancellation_(DispatchCancellation::make()) {}

    int open(const std::string& path, int flags, mode_t mode, int& fd) override {
        const int err = FaultyFileIO::open(path, flags, mode, fd);
        std::lock_guard lock(mutex_);
        if (err == 0 && path == path_) fds_.insert(fd);
        return err;
    }
    int readAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        {
            std::lock_guard lock(mutex_);
            if (fds_.count(fd) && ++reads_ == nth_) cancellation_->cancel();
        }
        return FaultyFileIO::readAt(fd, offset, buffer, size, got);
    }
    int close(int fd) override {
        {
            std::lock_guard lock(mutex_);
            fds_.erase(fd);
        }
        return FaultyFileIO::close(fd);
    }
    const DispatchCancellation* cancellation() const { return cancellation_.get(); }
    int reads() {
        std::lock_guard lock(mutex_);
        return reads_;
    }

private:
    const std::string path_;
    const int nth_;
    const std::shared_ptr<DispatchCancellation> cancellation_;
    std::mutex mutex_;
    std::set<int> fds_;
    int reads_ = 0;
};

class APMKeptFileReaderTest : public testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        folder_ = Sandbox::tmp() + "/kept-reader-" + std::to_string(++counter);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string kept() const { return folder_ + "/kept.sql"; }
    std::string working() const { return folder_ + "/working.sql"; }

    static void exec(const std::string& path, const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    // The tables of a store made by `sql`.
    static APMKeptFileReader::StoreTables storeOf(const std::string& sql) {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        auto tables = APMKeptFileReader::storeTablesOf(db);
        sqlite3_close(db);
        return tables;
    }
    APMKeptFileReader::Failure read(const std::string& storeSQL, APMKeptFileReader::Outcome& outcome,
                                    APMKeptFileReader::Budget budget = APMKeptFileReader::kBudget) {
        bool readFailed = false;
        return APMKeptFileReader::read(kept(), working(), storeOf(storeSQL), outcome, readFailed, nullptr, budget);
    }
    void write(const std::string& bytes) {
        std::ofstream(kept(), std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    std::string folder_;
};

// Triggers, a view and a virtual table named like store tables, and a schema record holding more
// than one statement: none of them runs, in the working copy or anywhere. Only the rows of the
// store's tables are carried, by the store's declarations; the one that does not fit them is
// counted, and its deletion fires nothing. The file was one of a log, its log gone.
TEST_F(APMKeptFileReaderTest, NothingOfTheKeptSchemaRunsAndOnlyItsTablesRowsAreCarried) {
    exec(kept(), "PRAGMA page_size=1024; PRAGMA journal_mode=WAL; CREATE TABLE t (n INTEGER NOT NULL, body TEXT); CREATE TABLE log (x);"
                 "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 200) "
                 "INSERT INTO t SELECT i, 'row ' || i FROM c; INSERT INTO t VALUES ('not a number', 'unfit');"
                 "CREATE TRIGGER grow AFTER DELETE ON t BEGIN INSERT INTO t SELECT n + 100000, 'made up' FROM t; END;"
                 "CREATE TRIGGER note AFTER INSERT ON t BEGIN INSERT INTO log VALUES (new.n); END;"
                 "CREATE VIEW v AS WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 1000000) "
                 "SELECT i AS n, 'made up' AS body FROM c;"
                 "CREATE VIRTUAL TABLE w USING fts3(body); INSERT INTO w VALUES ('made up');"
                 "PRAGMA writable_schema = ON;"
                 "UPDATE sqlite_schema SET sql = 'CREATE TABLE t (n INTEGER NOT NULL, body TEXT); INSERT INTO t "
                 "VALUES (-1, ''made up''); CREATE TABLE log2 (x)' WHERE name = 't';");
    const std::string keptState = "SELECT type, name, sql, (SELECT count(*) FROM t), (SELECT count(*) FROM log) FROM "
                                  "sqlite_schema ORDER BY rowid";
    const Rows before = sqliteRows(kept(), keptState);
    // What that read of its own left beside it.
    fs::remove(kept() + "-wal");
    fs::remove(kept() + "-shm");
    APMKeptFileReader::Outcome outcome;
    ASSERT_EQ(read("CREATE TABLE t (n INTEGER NOT NULL, body TEXT); CREATE TABLE v (n INTEGER, body TEXT);"
                   "CREATE TABLE w (body TEXT)",
                   outcome),
              APMKeptFileReader::Failure::None);
    EXPECT_EQ(outcome.rows, 200);
    EXPECT_EQ(outcome.unreadable, 1);
    EXPECT_EQ(outcome.detail, "t: 200 carried, 1 unreadable");
    EXPECT_EQ(sqliteRows(working(), "SELECT count(*), min(n), max(n), sum(body = 'row ' || n) FROM t"),
              (Rows{{"200", "1", "200", "200"}}));
    EXPECT_EQ(sqliteRows(working(), "SELECT (SELECT count(*) FROM v), (SELECT count(*) FROM w)"), (Rows{{"0", "0"}}));
    EXPECT_EQ(sqliteRows(working(), "SELECT type, name FROM sqlite_schema WHERE type <> 'table' OR name NOT IN ('t', 'v', "
                                    "'w', 'lost_and_found')"),
              Rows{});
    // Nor did anything write to the kept file, nor beside it: a file of a log whose log is gone
    // is read without making one.
    EXPECT_FALSE(fs::exists(kept() + "-wal"));
    EXPECT_FALSE(fs::exists(kept() + "-shm"));
    EXPECT_EQ(sqliteRows(kept(), keptState), before);
}

// Long values in chains of overflow pages: one whose chain runs on into another row's pages, and
// that other row, share a page and are unreadable both; one whose chain ends early is unreadable;
// the rest arrive whole. The same on a leaf no tree reaches.
TEST_F(APMKeptFileReaderTest, ALongValueIsCarriedOnlyWholeAndByAChainOfItsOwn) {
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "on a leaf no tree reaches" : "in its tree");
        fs::remove(kept());
        exec(kept(), "PRAGMA page_size=1024; CREATE TABLE big (n INTEGER, body BLOB);"
                     "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 5) "
                     "INSERT INTO big SELECT i, randomblob(10000) FROM c; INSERT INTO big VALUES (6, 'short');");
        const Rows whole = sqliteRows(kept(), "SELECT n, hex(body) FROM big WHERE n IN (1, 5, 6) ORDER BY n");
        // Each long value's chain pages in order, by its row (the table's one leaf holds the rows
        // in rowid order).
        std::map<int, std::vector<long>> chains;
        for (const auto& row : sqliteRows(kept(), "SELECT pageno, path FROM dbstat WHERE name = 'big' AND pagetype = "
                                                  "'overflow' ORDER BY path")) {
            chains[std::stoi(row[1].substr(1, 3), nullptr, 16) + 1].push_back(std::stol(row[0]));
        }
        ASSERT_EQ(chains.size(), 5u);
        ASSERT_GE(chains[2].size(), 9u);
        const auto link = [&](long page, long next) {
            const std::string bytes = {static_cast<char>(next >> 24), static_cast<char>(next >> 16),
                                       static_cast<char>(next >> 8), static_cast<char>(next)};
            ASSERT_TRUE(overwriteBytes(kept(), (page - 1) * 1024, bytes));
        };
        // Row 2's third page goes on to row 3's fifth; row 4's fourth page ends its chain.
        link(chains[2][2], chains[3][4]);
        link(chains[4][3], 0);
        // Its root named past the file's end: its one leaf is reached by no tree.
        if (lost) exec(kept(), "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET rootpage = 100000 WHERE name = 'big'");
        APMKeptFileReader::Outcome outcome;
        ASSERT_EQ(read("CREATE TABLE big (n INTEGER, body BLOB)", outcome), APMKeptFileReader::Failure::None);
        EXPECT_EQ(outcome.unreadable, 3);
        EXPECT_EQ(sqliteRows(working(), "SELECT n, hex(body) FROM big ORDER BY n"), whole);
        EXPECT_NE(outcome.detail.find(lost ? "big: 3 carried, 3 from pages no tree reaches" : "big: 3 carried, 3 unreadable"),
                  std::string::npos)
            << outcome.detail;
    }
}

// A cell that claims a value longer than the whole file (two gigabytes on a page of 512 bytes),
// its first overflow page a real one: unreadable, read no further than the page, and the row
// beside it carried.
TEST_F(APMKeptFileReaderTest, AValueLongerThanTheFileIsUnreadableAndItsNeighbourCarried) {
    const crafted::Row neighbour{1, 7, "beside it"};
    std::string huge = crafted::record(crafted::Row{2, 8, std::string(40, 'x')});
    huge = crafted::chainedCell(2, 0x7ffffff0, huge, 2);
    write(crafted::firstPage(512, 2, 2) +
          crafted::btreePage(512, 13, {crafted::cell(neighbour.rowid, crafted::record(neighbour)), huge}));
    APMKeptFileReader::Outcome outcome;
    ASSERT_EQ(read("CREATE TABLE t (a INTEGER, b BLOB)", outcome), APMKeptFileReader::Failure::None);
    EXPECT_EQ(outcome.unreadable, 1);
    EXPECT_EQ(sqliteRows(working(), "SELECT rowid, a, CAST(b AS TEXT) FROM t"), (Rows{{"1", "7", "beside it"}}));
}

// Cells that all name one chain as their own: none holds a value, and the rows between them are
// carried, from the tree and from pages no tree reaches alike, at a cost of their pages.
TEST_F(APMKeptFileReaderTest, CellsSharingOneChainAreUnreadableAndTheRowsBetweenThemCarried) {
    for (const bool tree : {true, false}) {
        SCOPED_TRACE(tree ? "in the tree" : "on pages no tree reaches");
        const auto made = crafted::sharedChainFile(40, 300, tree);
        write(made.file);
        APMKeptFileReader::Outcome outcome;
        ASSERT_EQ(read("CREATE TABLE t (a INTEGER, b BLOB)", outcome), APMKeptFileReader::Failure::None);
        EXPECT_EQ(outcome.rows, static_cast<std::int64_t>(made.rows.size()));
        EXPECT_EQ(outcome.unreadable, made.sharingCells);
        EXPECT_EQ(outcome.leftBehind, 0);
        const Rows carried = sqliteRows(working(), "SELECT rowid, a, CAST(b AS TEXT) FROM t ORDER BY rowid");
        ASSERT_EQ(carried.size(), made.rows.size());
        for (std::size_t i = 0; i < carried.size(); ++i) {
            EXPECT_EQ(carried[i], (std::vector<std::string>{std::to_string(made.rows[i].rowid), std::to_string(made.rows[i].a),
                                                            made.rows[i].b}));
        }
    }
}

// A budget the pages no tree reaches would overrun: the file is read again without them, the
// rows its trees reach carried, those left behind counted. One its trees overrun is too costly,
// and leaves no working copy.
TEST_F(APMKeptFileReaderTest, ReadsPastTheBudgetLeaveTheLostRowsBehindOrTheWholeFile) {
    exec(kept(), "PRAGMA page_size=1024; CREATE TABLE a (n INTEGER, body TEXT);"
                 "CREATE TABLE b (n INTEGER, body TEXT, score REAL NOT NULL);"
                 "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 2000) "
                 "INSERT INTO b SELECT i, printf('%.200c', 'b'), i / 2.0 FROM c;"
                 "INSERT INTO a SELECT n, 'a ' || n FROM b WHERE n <= 30;");
    const std::string store = "CREATE TABLE a (n INTEGER, body TEXT); CREATE TABLE b (n INTEGER, body TEXT, score REAL NOT NULL)";
    const std::string intact = folder_ + "/intact.sql";
    fs::copy_file(kept(), intact);
    const long root = std::stol(sqliteRows(kept(), "SELECT rootpage FROM sqlite_schema WHERE name = 'b'")[0][0]);
    ASSERT_TRUE(overwriteBytes(kept(), (root - 1) * 1024, "\xa5"));

    APMKeptFileReader::Outcome outcome;
    ASSERT_EQ(read(store, outcome), APMKeptFileReader::Failure::None);
    EXPECT_EQ(outcome.rows, 2030);
    EXPECT_EQ(outcome.leftBehind, 0);

    ASSERT_EQ(read(store, outcome, {3, 0}), APMKeptFileReader::Failure::None);
    EXPECT_EQ(outcome.rows, 30);
    EXPECT_EQ(outcome.leftBehind, 2000);
    EXPECT_EQ(outcome.detail, "a: 30 carried; 2000 rows of pages no tree reaches left behind, their reading past the "
                              "file's budget");
    EXPECT_EQ(sqliteRows(working(), "SELECT count(*), sum(body = 'a ' || n) FROM a UNION ALL SELECT count(*), 0 FROM b"),
              (Rows{{"30", "30"}, {"0", "0"}}));

    fs::rename(intact, kept());
    ASSERT_EQ(read(store, outcome), APMKeptFileReader::Failure::None);
    EXPECT_EQ(outcome.rows, 2030);
    EXPECT_EQ(read(store, outcome, {1, 0}), APMKeptFileReader::Failure::TooCostly);
    EXPECT_FALSE(fs::exists(working()));
}

// A read cancelled at any point ends at its next page, as Cancelled: no fault of the file nor of
// its cost, so not read again without the pages no tree reaches, and no working copy is left.
TEST_F(APMKeptFileReaderTest, ACancelledReadEndsAtItsNextPageSayingNothingOfTheFile) {
    exec(kept(), "PRAGMA page_size=1024; CREATE TABLE a (n INTEGER, body TEXT);"
                 "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 2000) "
                 "INSERT INTO a SELECT i, printf('%.200c', 'a') FROM c;");
    // Its root lost: the rows are on pages no tree reaches.
    const long root = std::stol(sqliteRows(kept(), "SELECT rootpage FROM sqlite_schema WHERE name = 'a'")[0][0]);
    ASSERT_TRUE(overwriteBytes(kept(), (root - 1) * 1024, "\xa5"));
    const auto readCancelledAt = [&](int nth, int& reads) {
        const auto io = std::make_shared<CancellingFileIO>(kept(), nth);
        ScopedFileIO scope(io);
        APMKeptFileReader::Outcome outcome;
        bool readFailed = true;
        const auto failure =
            APMKeptFileReader::read(kept(), working(), storeOf("CREATE TABLE a (n INTEGER, body TEXT)"), outcome,
                                    readFailed, nullptr, APMKeptFileReader::kBudget, io->cancellation());
        EXPECT_FALSE(readFailed);
        reads = io->reads();
        return failure;
    };
    int whole = 0;
    ASSERT_EQ(readCancelledAt(0, whole), APMKeptFileReader::Failure::None);
    ASSERT_GT(whole, 100);
    for (const int nth : {whole / 4, whole / 2, whole - 1}) {
        SCOPED_TRACE("cancelled at read " + std::to_string(nth) + " of " + std::to_string(whole));
        int reads = 0;
        EXPECT_EQ(readCancelledAt(nth, reads), APMKeptFileReader::Failure::Cancelled);
        EXPECT_LE(reads, nth + 1);
        EXPECT_FALSE(fs::exists(working()));
    }
}

}  // namespace
