// Rows read from a database's leaf pages by the file format: an intact table reads exactly as
// SQLite reads it; every row on an intact leaf comes out when a root, an interior page, a leaf
// header or page 1 is damaged, the leaves no tree reaches going to the table whose shape they fit;
// free pages never yield their old rows; the log's committed frames count and nothing after them
// or after a broken checksum, and a frame far past the file only within the page count; loops end;
// an overflow chain is one cell's; a failing read gives its errno.
#include "platform/sqlite/SQLitePageImage.h"

#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/CraftedPages.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/SqliteRows.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using Rows = std::map<std::int64_t, Value::Array>;
using Shapes = std::vector<SQLitePageImage::TableShape>;

const SQLitePageImage::TableShape kEvents{"events", {"TEXT", "INTEGER", "BLOB"}};
const SQLitePageImage::TableShape kSettings{"settings", {"INTEGER", "REAL"}};

// A connection of the test's own, through SQLite's default layer.
class Db {
public:
    explicit Db(const std::string& path) { EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK); }
    ~Db() { sqlite3_close(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    void exec(const std::string& sql) {
        char* message = nullptr;
        EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
            << sql << ": " << (message ? message : "");
        sqlite3_free(message);
    }
    std::int64_t number(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        std::int64_t value = -1;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            value = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        return value;
    }
    // Every row of `table` as SQLite reads it, by rowid; none when it does not read whole.
    Rows rows(const std::string& table) {
        Rows rows;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, ("SELECT rowid, * FROM " + table).c_str(), -1, &statement, nullptr) != SQLITE_OK)
            return {};
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            Value::Array& values = rows[sqlite3_column_int64(statement, 0)];
            for (int i = 1; i < sqlite3_column_count(statement); ++i) values.push_back(sqliteValue(statement, i));
        }
        sqlite3_finalize(statement);
        return rc == SQLITE_DONE ? rows : Rows{};
    }

private:
    sqlite3* db_ = nullptr;
};

struct ImageRead {
    int err = -1;
    std::map<std::string, Rows> tables;
    SQLitePageImage::Counts counts;
};

ImageRead readImage(const std::string& path, const Shapes& shapes) {
    ImageRead read;
    auto image = SQLitePageImage::open(path, read.err);
    if (!image) return read;
    if ((read.err = image->plan(shapes)) != 0) return read;
    for (const auto& shape : shapes) {
        Rows& rows = read.tables[shape.name];
        read.err = image->forEachRow(shape.name, [&](std::int64_t rowid, const Value::Array& values) {
            EXPECT_TRUE(rows.emplace(rowid, values).second) << "rowid " << rowid << " twice";
            return true;
        });
        if (read.err != 0) return read;
    }
    read.counts = image->counts();
    return read;
}

// Equal values of equal types (Value's own equality takes 1 for 1.0).
bool same(const Value::Array& a, const Value::Array& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].type() != b[i].type() || a[i] != b[i]) return false;
    return true;
}

void expectRows(const Rows& got, const Rows& want) {
    EXPECT_EQ(got.size(), want.size());
    for (const auto& [rowid, values] : want) {
        const auto found = got.find(rowid);
        if (found == got.end()) {
            ADD_FAILURE() << "rowid " << rowid << " missing";
            return;
        }
        if (!same(found->second, values)) {
            ADD_FAILURE() << "rowid " << rowid << ": " << Value(found->second).description() << " instead of "
                          << Value(values).description();
            return;
        }
    }
}

std::string bigEndian32(std::uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

bool flipByte(const std::string& path, long offset) {
    char byte = 0;
    std::ifstream file(path, std::ios::binary);
    return file.seekg(offset) && file.get(byte) && overwriteBytes(path, offset, std::string(1, static_cast<char>(~byte)));
}

class SQLitePageImageTest : public testing::Test {
protected:
    std::string path_ = Sandbox::tmp() + "/rows.sqlite";

    // `events` of `count` rows (many leaves under an interior root) and a few `settings`.
    void eventsAndSettings(Db& db, int count) {
        db.exec("CREATE TABLE events(name TEXT NOT NULL, ts INTEGER NOT NULL, data BLOB NOT NULL)");
        db.exec("CREATE TABLE settings(k INTEGER, v REAL)");
        db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) +
                ") INSERT INTO events SELECT 'event-' || i, 1700000000000 + i, randomblob(20 + i % 40) FROM n");
        db.exec("INSERT INTO settings VALUES(1, 0.5), (2, 1.5), (3, NULL)");
    }
    long rootOf(const std::string& table) {
        const auto root = sqliteRows(path_, "select rootpage from sqlite_master where name = '" + table + "'");
        return root.size() == 1 ? std::stol(root[0][0]) : 0;
    }
    static void copyLog(const std::string& from, const std::string& to) {
        for (const char* suffix : {"", "-wal"}) {
            std::filesystem::remove(to + suffix);
            std::filesystem::copy_file(from + suffix, to + suffix);
        }
    }
};

TEST_F(SQLitePageImageTest, IntactTableReadsAsSQLiteReadsIt) {
    Rows want;
    {
        Db db(path_);
        db.exec("CREATE TABLE t(v, label INTEGER)");
        db.exec("INSERT INTO t VALUES (0, 1), (1, 2), (-1, 3), (127, 4), (-128, 5), (128, 6), (32767, 7), (-32768, 8), "
                "(8388607, 9), (-8388608, 10), (2147483647, 11), (-2147483648, 12), (140737488355327, 13), "
                "(-140737488355328, 14), (9223372036854775807, 15), (-9223372036854775808, 16), (1099511627776, 17)");
        db.exec("INSERT INTO t VALUES (3.25, 20), (-1e300, 21), (0.1, 22), (NULL, 23), (NULL, NULL)");
        db.exec("INSERT INTO t VALUES ('', 30), ('h\xc3\xa9llo \xe2\x98\x83', 31), (x'', 32), (x'00ff', 33), "
                "(zeroblob(10), 34)");
        // On overflow chains: a text over a few pages, a blob over many.
        db.exec("INSERT INTO t VALUES (printf('%.20000c', 'x'), 40), (randomblob(100000), 41), "
                "(printf('%.4062c', 'y'), 42)");
        // Rows written before a column was added hold fewer values.
        db.exec("ALTER TABLE t ADD COLUMN extra TEXT DEFAULT 'd'");
        db.exec("INSERT INTO t VALUES (5, 50, 'e')");
        want = db.rows("t");
        // An INTEGER PRIMARY KEY's value is the rowid; the record holds null in its place.
        db.exec("CREATE TABLE keyed(id INTEGER PRIMARY KEY, body TEXT)");
        db.exec("INSERT INTO keyed VALUES (7, 'seven'), (-3, 'minus three')");
    }
    ASSERT_EQ(want.size(), 31u);
    for (auto& [rowid, values] : want)
        if (rowid <= 30) values.pop_back();

    const auto read = readImage(path_, {{"t", {"", "INTEGER", "TEXT"}}, {"keyed", {"INTEGER", "TEXT"}}});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("t"), want);
    expectRows(read.tables.at("keyed"), {{-3, {Value(), "minus three"}}, {7, {Value(), "seven"}}});
    EXPECT_EQ(read.counts.undecodableCells, 0);
    EXPECT_EQ(read.counts.unassignedOrphanRows, 0);
    EXPECT_TRUE(read.counts.freeListWhole);
}

// Rows a caller does not want are passed over before their records are read: a record that
// does not decode is not counted when its row is not wanted.
TEST_F(SQLitePageImageTest, RowsNotWantedArePassedOverUndecodedAndUncounted) {
    Rows events;
    {
        Db db(path_);
        eventsAndSettings(db, 300);
        events = db.rows("events");
    }
    // The first cell's record header claims more than the whole payload.
    const auto leaf = sqliteRows(path_, "select pageno from dbstat where name = 'events' and pagetype = 'leaf' "
                                        "order by path limit 1");
    ASSERT_EQ(leaf.size(), 1u);
    const long pageAt = (std::stol(leaf[0][0]) - 1) * pageSizeOf(path_);
    unsigned char pointer[2] = {};
    {
        std::ifstream file(path_, std::ios::binary);
        file.seekg(pageAt + 8);
        ASSERT_TRUE(file.read(reinterpret_cast<char*>(pointer), 2));
    }
    // Payload size and rowid take one byte each in these short rows.
    ASSERT_TRUE(overwriteBytes(path_, pageAt + ((pointer[0] << 8) | pointer[1]) + 2, std::string(1, '\x7f')));

    int err = 0;
    auto image = SQLitePageImage::open(path_, err);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->plan({kEvents, kSettings}), 0);
    Rows even;
    ASSERT_EQ(image->forEachRow(
                  "events", [](std::int64_t rowid) { return rowid % 2 == 0; },
                  [&](std::int64_t rowid, const Value::Array& values) {
                      even.emplace(rowid, values);
                      return true;
                  }),
              0);
    EXPECT_EQ(image->counts().undecodableCells, 0);
    Rows want;
    for (const auto& [rowid, values] : events) {
        if (rowid % 2 == 0) want.emplace(rowid, values);
    }
    expectRows(even, want);
    ASSERT_EQ(image->forEachRow("events", [](std::int64_t, const Value::Array&) { return true; }), 0);
    EXPECT_EQ(image->counts().undecodableCells, 1);
}

TEST_F(SQLitePageImageTest, EveryRowOnAnIntactLeafComesOutWhateverAboveItIsDamaged) {
    Rows events, settings;
    {
        Db db(path_);
        eventsAndSettings(db, 3000);
        events = db.rows("events");
        settings = db.rows("settings");
    }
    const std::string both = Sandbox::tmp() + "/both.sqlite";
    std::filesystem::copy_file(path_, both);
    const int lost = overwriteLeafHeader(both, "events", 5);
    ASSERT_GT(lost, 0);
    // One byte of the root: SQLite reads none of the rows, all of which are on intact leaves.
    const long rootType = (rootOf("events") - 1) * pageSizeOf(path_);
    ASSERT_TRUE(overwriteBytes(path_, rootType, std::string(1, '\0')));
    EXPECT_TRUE(Db(path_).rows("events").empty());
    auto read = readImage(path_, {kEvents, kSettings});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), events);
    expectRows(read.tables.at("settings"), settings);
    EXPECT_EQ(read.counts.unassignedOrphanRows, 0);

    // A leaf's header as well: its rows alone are lost.
    ASSERT_TRUE(overwriteBytes(both, rootType, std::string(1, '\0')));
    read = readImage(both, {kEvents, kSettings});
    ASSERT_EQ(read.err, 0);
    EXPECT_EQ(read.tables.at("events").size(), events.size() - static_cast<std::size_t>(lost));
    for (const auto& [rowid, values] : read.tables.at("events")) EXPECT_TRUE(same(values, events.at(rowid)));
}

TEST_F(SQLitePageImageTest, LeavesUnderADamagedInteriorPageGoToTheirTable) {
    Rows events;
    {
        Db db(path_);
        // Small pages for a tree of three levels.
        db.exec("PRAGMA page_size=1024");
        eventsAndSettings(db, 2500);
        events = db.rows("events");
    }
    const auto interior = sqliteRows(
        path_, "select pageno from dbstat where name = 'events' and pagetype = 'internal' and path != '/' limit 1");
    ASSERT_EQ(interior.size(), 1u);
    ASSERT_TRUE(overwritePage(path_, std::stol(interior[0][0]), 1024));
    EXPECT_TRUE(Db(path_).rows("events").empty());
    const auto read = readImage(path_, {kEvents, kSettings});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), events);
    EXPECT_EQ(read.tables.at("settings").size(), 3u);
}

TEST_F(SQLitePageImageTest, WithPageOneDamagedLeavesGoByShapeAndNoneWhereShapesTie) {
    Rows events, settings;
    {
        Db db(path_);
        eventsAndSettings(db, 1000);
        db.exec("CREATE TABLE twin_a(x INTEGER, y TEXT)");
        db.exec("CREATE TABLE twin_b(x INTEGER, y TEXT)");
        db.exec("INSERT INTO twin_a VALUES (1, 'a'), (2, 'b')");
        db.exec("INSERT INTO twin_b VALUES (3, 'c')");
        events = db.rows("events");
        settings = db.rows("settings");
    }
    ASSERT_TRUE(overwritePage(path_, 1, pageSizeOf(path_)));
    auto read = readImage(path_, {kEvents, kSettings, {"twin_a", {"INTEGER", "TEXT"}}, {"twin_b", {"INT", "TEXT"}}});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), events);
    expectRows(read.tables.at("settings"), settings);
    EXPECT_TRUE(read.tables.at("twin_a").empty());
    EXPECT_TRUE(read.tables.at("twin_b").empty());
    EXPECT_EQ(read.counts.unassignedOrphanRows, 3);
    EXPECT_FALSE(read.counts.freeListWhole);

    // Rows that fit no table given (an integer where text belongs) go to none.
    read = readImage(path_, {kEvents});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), events);
    EXPECT_EQ(read.counts.unassignedOrphanRows, 6);
}

// Points the `cell`-th child of `table`'s root (an interior page) at `page`.
bool pointRootChildAt(const std::string& path, long root, int cell, long page) {
    const long pageSize = pageSizeOf(path);
    unsigned char pointer[2];
    std::ifstream file(path, std::ios::binary);
    if (!file.seekg((root - 1) * pageSize + 12 + 2 * cell).read(reinterpret_cast<char*>(pointer), 2)) return false;
    return overwriteBytes(path, (root - 1) * pageSize + ((pointer[0] << 8) | pointer[1]),
                          bigEndian32(static_cast<std::uint32_t>(page)));
}

// The leaf pages of `table`, in rowid order.
std::vector<long> leavesOf(const std::string& path, const std::string& table) {
    std::vector<long> leaves;
    for (const auto& row : sqliteRows(path, "select pageno from dbstat where name = '" + table +
                                                "' and pagetype = 'leaf' order by path"))
        leaves.push_back(std::stol(row[0]));
    return leaves;
}

// A child pointer of one table's root led to another table's first leaf, whose rowids are within
// the range it gives and whose records fit both tables: the leaf stays with the table it fits
// better, the leaf the pointer lost is found, and the tree that strays says so.
TEST_F(SQLitePageImageTest, ALeafTwoTreesReachGoesToTheTableItFitsBetter) {
    Rows narrow, wide;
    {
        Db db(path_);
        // The wide table is walked first (made first), its first leaf holds many short rows, the
        // narrow one's few long ones.
        db.exec("CREATE TABLE wide(name TEXT, ts INTEGER, fp INTEGER, data BLOB, rt INTEGER)");
        db.exec("CREATE TABLE narrow(data BLOB NOT NULL, ts REAL NOT NULL)");
        db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                "INSERT INTO wide SELECT 'e' || i, i, i * 7, x'01', 0 FROM n");
        db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100) "
                "INSERT INTO narrow SELECT randomblob(900), i + 0.5 FROM n");
        narrow = db.rows("narrow");
        wide = db.rows("wide");
    }
    const Shapes shapes{{"wide", {"TEXT", "INTEGER", "INTEGER", "BLOB", "INTEGER"}},
                        {"narrow", {"BLOB", "REAL"}}};
    ASSERT_TRUE(pointRootChildAt(path_, rootOf("wide"), 0, leavesOf(path_, "narrow").at(0)));
    int err = 0;
    auto image = SQLitePageImage::open(path_, err);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->plan(shapes), 0);
    EXPECT_TRUE(image->findings("wide").strays);
    EXPECT_TRUE(image->findings("wide").unreachedLeaves);
    EXPECT_FALSE(image->findings("narrow").strays);
    EXPECT_FALSE(image->findings("narrow").unreachedLeaves);
    const auto read = readImage(path_, shapes);
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("wide"), wide);
    expectRows(read.tables.at("narrow"), narrow);
    EXPECT_EQ(read.counts.unassignedOrphanRows, 0);

    // Two tables of one shape: which tree strays cannot be told, so both have the leaf, and the
    // leaf the pointer lost is counted unplaced.
    Rows a, b;
    {
        std::filesystem::remove(path_);
        Db db(path_);
        db.exec("CREATE TABLE a(fingerprint TEXT)");
        db.exec("CREATE TABLE b(subscription_id TEXT)");
        db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
                "INSERT INTO a SELECT printf('%.60c', 'a') || i FROM n");
        db.exec("INSERT INTO b SELECT printf('%.60c', 'b') || rowid FROM a");
        a = db.rows("a");
        b = db.rows("b");
    }
    const auto lost = sqliteRows(path_, "select ncell from dbstat where name = 'a' and pagetype = 'leaf' "
                                        "order by path limit 1 offset 1");
    ASSERT_EQ(lost.size(), 1u);
    ASSERT_TRUE(pointRootChildAt(path_, rootOf("a"), 1, leavesOf(path_, "b").at(1)));
    const auto alike = readImage(path_, {{"a", {"TEXT"}}, {"b", {"TEXT"}}});
    ASSERT_EQ(alike.err, 0);
    expectRows(alike.tables.at("b"), b);
    std::size_t own = 0;
    for (const auto& [rowid, values] : alike.tables.at("a")) own += same(values, a.at(rowid)) ? 1 : 0;
    EXPECT_EQ(own, a.size() - std::stoul(lost[0][0]));
    EXPECT_EQ(alike.counts.unassignedOrphanRows, std::stol(lost[0][0]));
    ASSERT_EQ(alike.counts.unplaced.size(), 1u);
    EXPECT_EQ(alike.counts.unplaced[0].tables, (std::vector<std::string>{"a", "b"}));

    // Where each has an index of its key, the index tells: each table has its own rows alone.
    {
        std::filesystem::remove(path_);
        Db db(path_);
        db.exec("CREATE TABLE a(fingerprint TEXT NOT NULL PRIMARY KEY)");
        db.exec("CREATE TABLE b(subscription_id TEXT NOT NULL PRIMARY KEY)");
        db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
                "INSERT INTO a SELECT printf('%.60c', 'a') || i FROM n");
        db.exec("INSERT INTO b SELECT printf('%.60c', 'b') || rowid FROM a");
        a = db.rows("a");
        b = db.rows("b");
    }
    ASSERT_TRUE(pointRootChildAt(path_, rootOf("a"), 1, leavesOf(path_, "b").at(1)));
    const auto indexed = readImage(path_, {{"a", {"TEXT"}}, {"b", {"TEXT"}}});
    ASSERT_EQ(indexed.err, 0);
    expectRows(indexed.tables.at("a"), a);
    expectRows(indexed.tables.at("b"), b);
    EXPECT_EQ(indexed.counts.unassignedOrphanRows, 0);
}

// Two tables of one shape: the leaves a damaged root cut off go to the one whose tree lost
// pages; with page 1 damaged the schema's other leaves name the roots, else the roots of a file
// made the same way do, and without either the rows are counted unplaced, by table.
TEST_F(SQLitePageImageTest, TablesOfOneShapeAreToldApartWhereverTheFileTells) {
    const auto make = [&](int pageSize, bool longSchema, Rows& a, Rows& b) {
        std::filesystem::remove(path_);
        Db db(path_);
        db.exec("PRAGMA page_size=" + std::to_string(pageSize));
        db.exec("CREATE TABLE a(fingerprint TEXT NOT NULL PRIMARY KEY)");
        db.exec("CREATE TABLE b(subscription_id TEXT NOT NULL PRIMARY KEY)");
        // Enough statements that the schema spans pages.
        for (int i = 0; longSchema && i < 12; ++i)
            db.exec("CREATE TABLE filler_" + std::to_string(i) + "(a_column_with_a_long_name TEXT, another_one INTEGER)");
        db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                "INSERT INTO a SELECT 'transaction-fingerprint-' || i FROM n");
        db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                "INSERT INTO b SELECT 'subscription-' || i FROM n");
        a = db.rows("a");
        b = db.rows("b");
    };
    Rows a, b;
    make(1024, false, a, b);
    Shapes shapes{{"a", {"TEXT"}, static_cast<std::uint32_t>(rootOf("a"))},
                  {"b", {"TEXT"}, static_cast<std::uint32_t>(rootOf("b"))}};
    const std::string whole = Sandbox::tmp() + "/whole.sqlite";
    std::filesystem::copy_file(path_, whole, std::filesystem::copy_options::overwrite_existing);

    ASSERT_TRUE(overwritePage(path_, rootOf("a"), 1024));
    auto read = readImage(path_, shapes);
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("a"), a);
    expectRows(read.tables.at("b"), b);
    EXPECT_EQ(read.counts.unassignedOrphanRows, 0);

    std::filesystem::copy_file(whole, path_, std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(overwritePage(path_, 1, 1024));
    read = readImage(path_, shapes);
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("a"), a);
    expectRows(read.tables.at("b"), b);
    // The like file's root of a table is taken only on a page of a table's tree.
    read = readImage(path_, {{"a", {"TEXT"}, 1}, {"b", {"TEXT"}, 1}});
    ASSERT_EQ(read.err, 0);
    EXPECT_TRUE(read.tables.at("a").empty());
    EXPECT_TRUE(read.tables.at("b").empty());
    EXPECT_EQ(read.counts.unassignedOrphanRows, 700);
    ASSERT_EQ(read.counts.unplaced.size(), 1u);
    EXPECT_EQ(read.counts.unplaced[0].tables, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(read.counts.unplaced[0].rows, 700);

    make(512, true, a, b);
    ASSERT_GT(std::stol(sqliteRows(path_, "select count(*) from dbstat where name = 'sqlite_schema'").at(0).at(0)), 2);
    ASSERT_TRUE(overwritePage(path_, 1, 512));
    read = readImage(path_, {{"a", {"TEXT"}}, {"b", {"TEXT"}}});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("a"), a);
    expectRows(read.tables.at("b"), b);
}

TEST_F(SQLitePageImageTest, ADamagedHeaderFallsBackToTheDefaultPageSize) {
    Rows events;
    {
        Db db(path_);
        eventsAndSettings(db, 500);
        events = db.rows("events");
    }
    ASSERT_TRUE(overwriteBytes(path_, 0, std::string(100, '\xa5')));
    const auto read = readImage(path_, {kEvents, kSettings});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), events);
    EXPECT_FALSE(read.counts.freeListWhole);
}

TEST_F(SQLitePageImageTest, FreePagesNeverYieldTheirRows) {
    Rows events;
    {
        Db db(path_);
        // Freed pages keep their old rows then, as a disk may.
        db.exec("PRAGMA secure_delete=OFF");
        eventsAndSettings(db, 3000);
        db.exec("DELETE FROM events WHERE rowid BETWEEN 300 AND 2700");
        ASSERT_GT(db.number("PRAGMA freelist_count"), 10);
        events = db.rows("events");
    }
    {
        std::ifstream file(path_, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ASSERT_NE(bytes.find("event-1500"), std::string::npos) << "the deleted rows are no longer in the file";
    }
    auto read = readImage(path_, {kEvents, kSettings});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), events);
    EXPECT_TRUE(read.counts.freeListWhole);

    // With the tree gone, the free leaves are still told apart from the leaves it lost.
    ASSERT_TRUE(overwritePage(path_, rootOf("events"), pageSizeOf(path_)));
    read = readImage(path_, {kEvents, kSettings});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), events);

    // A free list that comes back on itself ends.
    std::ifstream file(path_, std::ios::binary);
    unsigned char header[36];
    ASSERT_TRUE(file.read(reinterpret_cast<char*>(header), sizeof header));
    const std::uint32_t first = (std::uint32_t{header[32]} << 24) | (header[33] << 16) | (header[34] << 8) | header[35];
    ASSERT_GT(first, 1u);
    ASSERT_TRUE(overwriteBytes(path_, (first - 1) * pageSizeOf(path_), bigEndian32(first)));
    read = readImage(path_, {kEvents, kSettings});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), events);
    EXPECT_FALSE(read.counts.freeListWhole);
}

TEST_F(SQLitePageImageTest, LoopsEndAndStrayPointersMisleadNothing) {
    Rows events, settings;
    {
        Db db(path_);
        eventsAndSettings(db, 2000);
        db.exec("INSERT INTO events VALUES ('long', 1, randomblob(30000))");
        events = db.rows("events");
        settings = db.rows("settings");
    }
    const long pageSize = pageSizeOf(path_);
    const long root = rootOf("events");
    const auto chain = sqliteRows(path_, "select pageno from dbstat where name = 'events' and pagetype = 'overflow' "
                                         "order by path limit 1");
    ASSERT_EQ(chain.size(), 1u);
    // The root's right-most child is the root itself: the leaf it pointed to is still found.
    ASSERT_TRUE(overwriteBytes(path_, (root - 1) * pageSize + 8, bigEndian32(static_cast<std::uint32_t>(root))));
    // Its first child is the other table's leaf, whose rowids are within the range: that leaf stays
    // its table's, and the one it replaced is still found.
    unsigned char firstCell[2];
    std::ifstream file(path_, std::ios::binary);
    ASSERT_TRUE(file.seekg((root - 1) * pageSize + 12).read(reinterpret_cast<char*>(firstCell), 2));
    ASSERT_TRUE(overwriteBytes(path_, (root - 1) * pageSize + ((firstCell[0] << 8) | firstCell[1]),
                               bigEndian32(static_cast<std::uint32_t>(rootOf("settings")))));
    // The long value's chain leads back to its own first page: that row alone does not decode.
    const long overflow = std::stol(chain[0][0]);
    ASSERT_TRUE(overwriteBytes(path_, (overflow - 1) * pageSize, bigEndian32(static_cast<std::uint32_t>(overflow))));
    const auto read = readImage(path_, {kEvents, kSettings});
    ASSERT_EQ(read.err, 0);
    events.erase(std::prev(events.end()));
    expectRows(read.tables.at("events"), events);
    expectRows(read.tables.at("settings"), settings);
    EXPECT_EQ(read.counts.undecodableCells, 1);
}

TEST_F(SQLitePageImageTest, CommittedLogFramesCountAndNothingAfterTheLastCommitOrABrokenChecksum) {
    const std::string copy = Sandbox::tmp() + "/copy.sqlite";
    Db db(path_);
    db.exec("PRAGMA journal_mode=WAL");
    db.exec("PRAGMA wal_autocheckpoint=0");
    eventsAndSettings(db, 400);
    db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    const Rows before = db.rows("events");

    // Committed in the log only: the file alone still holds the rows before.
    db.exec("UPDATE events SET name = 'renamed-' || rowid WHERE rowid % 3 = 0");
    db.exec("INSERT INTO events VALUES ('late', 5, x'01')");
    const Rows committed = db.rows("events");
    const auto logSize = std::filesystem::file_size(path_ + "-wal");
    copyLog(path_, copy);
    auto read = readImage(copy, {kEvents});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), committed);
    std::filesystem::remove(copy + "-wal");
    read = readImage(copy, {kEvents});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), before);

    // A second commit whose first frame is damaged: the log ends before it.
    db.exec("DELETE FROM events WHERE rowid > 100");
    const auto deletedSize = std::filesystem::file_size(path_ + "-wal");
    copyLog(path_, copy);
    ASSERT_TRUE(flipByte(copy + "-wal", static_cast<long>(logSize) + 24 + 300));
    read = readImage(copy, {kEvents});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), committed);

    // Frames a transaction spilled before committing count for nothing.
    const Rows deleted = db.rows("events");
    db.exec("PRAGMA cache_size=8");
    db.exec("BEGIN");
    db.exec("DELETE FROM events");
    db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
            "INSERT INTO events SELECT 'spilled', i, randomblob(2000) FROM n");
    const auto spilledSize = std::filesystem::file_size(path_ + "-wal");
    copyLog(path_, copy);
    db.exec("ROLLBACK");
    ASSERT_GT(spilledSize, deletedSize) << "the transaction did not spill into the log";
    read = readImage(copy, {kEvents});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("events"), deleted);
}

// Rows of the crafted table t, as the reader gives them.
Rows rowsOf(const std::vector<crafted::Row>& rows) {
    Rows out;
    for (const crafted::Row& row : rows)
        out[row.rowid] = {Value(static_cast<long long>(row.a)), Value(NSData(row.b.begin(), row.b.end()))};
    return out;
}

// A commit frame naming a page far past the file: the header's page count holds while it is
// current (and with no header, the pages held are scanned, not the count), and the frame's page is read only as far as the count reaches it, never past page
// 2^32-2. Pages between the file's end and that page are zeros and hold nothing, not even the
// rest of a payload.
TEST_F(SQLitePageImageTest, ALogFrameFarPastTheFileAddsOnlyThePageItHolds) {
    const std::vector<crafted::Row> inFile = {{1, 10, "one"}, {2, 20, "two"}};
    const std::vector<crafted::Row> inLog = {{7, 70, "seven"}, {8, 80, "eight"}};
    // And a row going on at page 3, a page of zeros.
    const std::string chained = crafted::chainedRecord(90, 1);
    std::vector<std::string> logCells = {crafted::chainedCell(9, chained.size(), chained, 3)};
    for (const crafted::Row& row : inLog) logCells.push_back(crafted::cell(row.rowid, crafted::record(row)));
    const std::string logLeaf = crafted::btreePage(512, 13, logCells);
    const Shapes shapes = {{"t", {"INTEGER", "BLOB"}}};
    const std::string file = crafted::firstPage(512, 2, 2) + crafted::leafOf(512, inFile);
    std::string stale = file;
    crafted::put4(stale, 92, 0);  // version-valid-for no longer the change counter
    // And the first page lost: its leaves are looked for among every page held, no more.
    std::string lost = file;
    lost.replace(0, 16, 16, '\xa5');
    Rows both = rowsOf(inFile);
    both.merge(rowsOf(inLog));
    struct Case {
        std::uint32_t page;
        const std::string& header;
        Rows want;
        std::int64_t undecodable;
    };
    for (const Case& c : {Case{1000000000, file, rowsOf(inFile), 0}, Case{1000000000, stale, both, 1},
                          Case{0xffffffff, file, rowsOf(inFile), 0}, Case{0xffffffff, stale, rowsOf(inFile), 0},
                          Case{1000000000, lost, both, 1}, Case{0xffffffff, lost, rowsOf(inFile), 0}}) {
        SCOPED_TRACE(testing::Message() << "page " << c.page
                                        << (&c.header == &stale ? ", stale header" : &c.header == &lost ? ", lost header" : ""));
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << c.header;
        std::ofstream(path_ + "-wal", std::ios::binary | std::ios::trunc)
            << crafted::logOfOneCommit(512, c.page, c.page, logLeaf);
        const auto read = readImage(path_, shapes);
        ASSERT_EQ(read.err, 0);
        expectRows(read.tables.at("t"), c.want);
        EXPECT_EQ(read.counts.undecodableCells, c.undecodable);
        EXPECT_EQ(read.counts.unassignedOrphanRows, 0);
        // A lost header loses the free list with it.
        EXPECT_EQ(read.counts.freeListWhole, &c.header != &lost);
    }
}

// Cells that all name one overflow chain: the first cell read keeps it, reading again as often as
// it is read (the plan judges these leaves no tree reaches by their cells, then the rows are
// read), and every other cell naming it does not decode.
TEST_F(SQLitePageImageTest, AnOverflowChainIsTheFirstCellsAloneThatNamesIt) {
    const crafted::SharedChain made = crafted::sharedChainFile(4, 16, false);
    ASSERT_GT(made.sharingCells, 10);
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << made.file;
    const auto read = readImage(path_, {{"t", {"INTEGER", "BLOB"}}});
    ASSERT_EQ(read.err, 0);
    expectRows(read.tables.at("t"), rowsOf(made.rows));
    EXPECT_EQ(read.counts.undecodableCells, made.sharingCells - 1);
    EXPECT_EQ(read.counts.unassignedOrphanRows, 0);
}

TEST_F(SQLitePageImageTest, AFailingReadGivesItsErrno) {
    {
        Db db(path_);
        eventsAndSettings(db, 200);
    }
    int err = 0;
    EXPECT_EQ(SQLitePageImage::open(Sandbox::tmp() + "/none.sqlite", err), nullptr);
    EXPECT_EQ(err, ENOENT);
    {
        FaultInjection faults;
        faults->ioError(FaultyFileIO::Operation::Read, "*/rows.sqlite");
        EXPECT_EQ(SQLitePageImage::open(path_, err), nullptr);
        EXPECT_EQ(err, EIO);
    }
    {
        // A log that is there but cannot be opened is not taken for no log.
        std::ofstream(path_ + "-wal") << "";
        FaultInjection faults;
        faults->inject(FaultyFileIO::Operation::Open, "*/rows.sqlite-wal", EACCES);
        EXPECT_EQ(SQLitePageImage::open(path_, err), nullptr);
        EXPECT_EQ(err, EACCES);
        std::filesystem::remove(path_ + "-wal");
    }
    FaultInjection faults;
    auto image = SQLitePageImage::open(path_, err);
    ASSERT_NE(image, nullptr);
    faults->ioError(FaultyFileIO::Operation::Read, "*/rows.sqlite");
    EXPECT_EQ(image->plan({kEvents}), EIO);
    faults->clear();
    ASSERT_EQ(image->plan({kEvents}), 0);
    faults->ioError(FaultyFileIO::Operation::Read, "*/rows.sqlite");
    EXPECT_EQ(image->forEachRow("events", [](std::int64_t, const Value::Array&) { return true; }), EIO);
}

}  // namespace
