// The pages of a SQLite database as SQLite would read them (the file, with its write-ahead log's
// committed frames laid over it), read by the file format itself rather than through SQLite, so
// that the rows on table leaves still read when the trees above them no longer do.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Used from one thread at a time.
class SQLitePageImage {
public:
    // Reads `path` and, when there, `path`-wal: the log's committed frames (valid salts and
    // checksum chain, up to its last commit frame) are laid over the file's pages. Never writes
    // either file. Null with an errno in `err` on a failure of the moment (I/O error, no memory,
    // permission; through FileIO); a file whose bytes are damaged opens and yields what still reads.
    // With `readFailureIsDamage`, a read that fails with EIO (a bad sector) gives zeros, which read
    // as damaged bytes: for a file whose failing reads last.
    [[nodiscard]] static std::unique_ptr<SQLitePageImage> open(const std::string& path, int& err,
                                                               bool readFailureIsDamage = false);
    ~SQLitePageImage();
    SQLitePageImage(const SQLitePageImage&) = delete;
    SQLitePageImage& operator=(const SQLitePageImage&) = delete;

    // A destination table: its name and its columns' declared types in order, the type alone as
    // PRAGMA table_info gives it (SQLite's affinity rules read it).
    struct TableShape {
        std::string name;
        std::vector<std::string> declaredTypes;
        // Where a file made the same way as this one, by the same statements in the same order,
        // has the table's root page; 0 when not known. Taken only for a table the schema of this
        // file does not name because its own tree does not read.
        std::uint32_t rootInALikeFile = 0;
    };
    // Decides which table leaves each of `tables` owns: those its tree reaches from the root page
    // the file's schema names for it (as far as the schema reads; where page 1's tree does not
    // read, the schema's leaves no tree reaches, then the shapes' roots in a like file, each on a
    // table page no tree took), and the table leaves that no tree of the file reaches and no
    // free-list page holds, each given whole to the one table of `tables` whose shape its records
    // fit best (no more fields than columns, each value's storage class allowed by its column's
    // affinity); where tables tie on shape, to the one of them whose own tree lost pages, else to
    // the one whose index holds its rows (first value and rowid), else to none. Leaves of a table
    // not given may fit one that is, so give every table of the file. A tree's leaf whose records
    // do not fit its table, or whose rowids fall outside the range its parent gives, is taken for
    // a stray pointer's and left to the shapes; a leaf two tables' trees reach goes to the one
    // its records fit better, where they fit alike to the one whose index holds its rows, else to
    // both. Where neither the header nor a log tells the page size, the plan first takes the size
    // at which the file's pages read as b-tree pages. Replaces an earlier plan and the counts. 0,
    // or the errno of a read that failed.
    [[nodiscard]] int plan(const std::vector<TableShape>& tables);

    // What the plan found of one table's tree.
    struct TreeFindings {
        // Its tree leads to pages that are not its own (another table's leaf, a page twice, a leaf
        // whose rowids or records do not belong where it stands): a walk through it, as SQLite
        // makes one, gives rows that are not the table's without any error.
        bool strays = false;
        // Leaves no tree reaches were given to it: rows a walk through its tree never meets.
        bool unreachedLeaves = false;
    };
    // Nothing found for a table the plan was not given.
    TreeFindings findings(const std::string& table) const;
    // Each row of `table` that decodes on the pages the plan gave it, tree leaves in rowid order
    // first: its rowid and its values by column position as the record holds them: null,
    // integer, double, text as a string of its bytes (a UTF-8 database's, SQLite's default), blob
    // as data. An INTEGER PRIMARY KEY column holds null, its value being the rowid; a record
    // written before an ADD COLUMN has fewer values than the table has columns. `row` returning
    // false stops the walk. 0 (nothing for a table the plan was not given), EINVAL before any
    // plan, or the errno of a read that failed.
    [[nodiscard]] int forEachRow(const std::string& table,
                                 const std::function<bool(std::int64_t rowid, const Value::Array& values)>& row);
    // The same, passing over undecoded (and uncounted) each row whose rowid `wanted` refuses: a
    // caller that has most rows already pays only for the rest.
    [[nodiscard]] int forEachRow(const std::string& table, const std::function<bool(std::int64_t rowid)>& wanted,
                                 const std::function<bool(std::int64_t rowid, const Value::Array& values)>& row);

    struct Counts {
        // Cells that did not decode on the pages forEachRow read (each call adds its own); among
        // them a cell whose overflow chain meets a page another cell's chain took first.
        std::int64_t undecodableCells = 0;
        // Rows on table leaves no tree reaches that the plan gave to no table.
        std::int64_t unassignedOrphanRows = 0;
        // Of those, the rows of leaves that fit several tables alike, by the tables (in name order).
        struct Unplaced {
            std::vector<std::string> tables;
            std::int64_t rows = 0;
        };
        std::vector<Unplaced> unplaced;
        // Rows forEachRow gave from leaves no tree reaches, each counted as it is handed over
        // (each call adds its own).
        std::int64_t rowsFromUnreachedLeaves = 0;
        // False when the plan could not read the free list to its end (a damaged header or
        // list): pages it holds may then be among the leaves given by shape, with rows deleted
        // long ago.
        bool freeListWhole = true;
    };
    const Counts& counts() const;

private:
    class Image;
    explicit SQLitePageImage(std::unique_ptr<Image> image);
    std::unique_ptr<Image> image_;
};
