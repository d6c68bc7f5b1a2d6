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
    };
    // Decides which table leaves each of `tables` owns: those its tree reaches from the root page
    // the file's schema names for it (as far as the schema reads), and the table leaves that no
    // tree of the file reaches and no free-list page holds, each given whole to the one table of
    // `tables` whose shape its records fit best (no more fields than columns, each value's storage
    // class allowed by its column's affinity); to none when two fit alike or none fits. Leaves
    // of a table not given may fit one that is, so give every table of the file. A tree's leaf
    // whose records do not fit its table is taken for a stray pointer's and left to the shapes.
    // Replaces an earlier plan and the counts. 0, or the errno of a read that failed.
    [[nodiscard]] int plan(const std::vector<TableShape>& tables);
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
