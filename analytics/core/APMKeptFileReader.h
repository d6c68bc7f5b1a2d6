// A kept file read by SQLite's recovery extension into a working copy that holds, under the store's
// own table names and columns, the kept rows that fit each table, each under its kept rowid.
//
// The extension reads the file through a view of its pages (APMKeptPages) whose schema is the
// store's own declarations at the kept roots: the kept file's schema never runs, and only rows of
// the store's tables, by the store's declarations, are carried, a record's fields in the store's
// order of columns (a column the store added comes last, and an older record lacks it). It walks
// each of those tables from its root, and puts what it finds on pages no tree reaches in its
// lost-and-found table. The rest is ours:
// - a row fits a table of the store when it holds no more values than the table has columns, a
//   value in each NOT NULL column, and in each column a type its declared type keeps; a row the
//   walk gave a table that does not fit it is unreadable, as is one whose long value's chain of
//   pages is not its own;
// - a page two trees reach belongs to the tree whose divider keys hold its rowids and which lost
//   no page of the same stretch that sits nearer its neighbours (a tree's own root is its own);
//   the other table is read again without it, for the extension gave it the foreign rows and
//   dropped its own of the same rowids;
// - a row of a page no tree reaches goes to the table it fits; where several fit, to the one whose
//   root is its tree's top page (the kept schema's roots, or the roots in the schema's own records
//   found on such pages, or a fresh file's), else the one whose index holds it, else the ones that
//   lack its rowid, else to each; one whose rowid a table has already is the same row.
// Every read of the file counts against a budget of its pages (Budget): when the pages no tree
// reaches cost more than it allows, the file is read again without them and they are left behind,
// counted; when its trees alone would cost more than half of it, it is not carried
// (Failure::TooCostly).
#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class DispatchCancellation;
struct sqlite3;

class APMKeptFileReader {
public:
    struct Column {
        std::string name;
        std::string type;
        bool notNull = false;
    };
    struct Index {
        std::string name;
        // The table's columns the index keys, in its order.
        std::vector<std::size_t> columns;
    };
    struct Table {
        std::string name;
        std::vector<Column> columns;
        // The INTEGER PRIMARY KEY column: a record holds null for it, its rowid standing in.
        std::optional<std::size_t> rowidKey;
        std::int64_t freshRoot = 0;
        std::vector<Index> indexes;
    };
    // The store's tables (but its own record of carried files), as its connection declares them.
    struct StoreTables {
        std::vector<Table> tables;
        // SQLite's code and message when they did not read.
        int failure = 0;
        std::string message;
    };
    // Read on the store's connection, before a read and apart from it.
    static StoreTables storeTablesOf(sqlite3* store);

    struct Outcome {
        std::int64_t rows = 0;
        // Rows read but fitting no table of the store, or whose values do not read.
        std::int64_t unreadable = 0;
        // Rows of pages no tree reaches that were not read: they would cost more than the budget.
        std::int64_t leftBehind = 0;
        // Per table that holds rows: "<table>: <n> carried", how many came from pages no tree
        // reaches, whether its tree strayed; how many rows fit several tables alike; how many were
        // left behind.
        std::string detail;
    };
    enum class Failure {
        None,
        // The kept file cannot be read now (opened, or a read failed): not its damage.
        KeptFile,
        // The working copy cannot be written (a full disk).
        WorkingCopy,
        // Even the kept file's own trees cost more reads than its pages allow: it is not carried,
        // and would cost as much again at every opening.
        TooCostly,
        // The read was cancelled: nothing is known of the file.
        Cancelled,
    };

    // The reads of a kept file's pages a read may make: `perPage` for each page of the file, and
    // `beyond` more; the same again for a read without the pages no tree reaches. The store
    // tables' trees may take half of it: a file whose trees would take more (trees reaching the
    // same pages, each read once a tree) is too costly before any is walked. A legitimate file
    // takes 3 to 5 reads a page of 100 pages and more (its trees 2, and one for each overflow page
    // of theirs), a smaller one up to 8 (the extension's first steps are the same for any size).
    struct Budget {
        std::int64_t perPage;
        std::int64_t beyond;
    };
    static constexpr Budget kBudget{10, 2000};

    // Reads `keptPath` (read-only) into a new file at `workingPath`, for `tables`. `readFailed` when
    // a read of the kept file failed (Failure::KeptFile). Once `cancellation` is cancelled, the
    // next read of the file fails and the read ends (Failure::Cancelled).
    [[nodiscard]] static Failure read(const std::string& keptPath, const std::string& workingPath,
                                      const StoreTables& tables, Outcome& outcome, bool& readFailed, NSErrorPtr* error,
                                      Budget budget = kBudget, const DispatchCancellation* cancellation = nullptr);
};
