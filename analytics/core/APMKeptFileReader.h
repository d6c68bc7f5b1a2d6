// A kept file read by SQLite's recovery extension into a working copy that holds, under the store's
// own table names and columns, the kept rows that fit each table, each under its kept rowid.
//
// The extension walks every table the kept file's schema names from its root, and puts what it
// finds on pages no tree reaches in its lost-and-found table. The rest is ours:
// - a row fits a table of the store when it holds no more values than the table has columns, a
//   value in each NOT NULL column, and in each column a type its declared type keeps; a row the
//   walk gave a table that does not fit it is unreadable;
// - a page two trees reach belongs to the tree whose divider keys hold its rowids and which lost
//   no page of the same stretch that sits nearer its neighbours (a tree's own root is its own);
//   the other table is read again without it, for the extension gave it the foreign rows and
//   dropped its own of the same rowids;
// - a row of a page no tree reaches goes to the table it fits; where several fit, to the one whose
//   root is its tree's top page (the kept schema's roots, or the roots in the schema's own records
//   found on such pages, or a fresh file's), else the one whose index holds it, else the ones that
//   lack its rowid, else to each; one whose rowid a table has already is the same row.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <string>

struct sqlite3;

class APMKeptFileReader {
public:
    struct Outcome {
        std::int64_t rows = 0;
        // Rows read but fitting no table of the store.
        std::int64_t unreadable = 0;
        // Per table that holds rows: "<table>: <n> carried", how many came from pages no tree
        // reaches, whether its tree strayed; how many rows fit several tables alike.
        std::string detail;
    };
    enum class Failure {
        None,
        // The kept file cannot be read now (opened, or a read failed): not its damage.
        KeptFile,
        // The working copy cannot be written (a full disk).
        WorkingCopy,
    };

    // Reads `keptPath` (read-only; with `failedReadsAreDamage` a read that fails is a damaged page)
    // into a new file at `workingPath`. `store` gives the tables, their declared columns and a
    // fresh file's roots. `readFailed` when a read of the kept file failed.
    [[nodiscard]] static Failure read(const std::string& keptPath, bool failedReadsAreDamage,
                                      const std::string& workingPath, sqlite3* store, Outcome& outcome,
                                      bool& readFailed, NSErrorPtr* error);
};
