// Carrying the rows of a damaged store's kept files (APMKeptFiles) into the store: one routine,
// which the store's owner runs at every opening once its tables stand. Each kept file that waits,
// oldest first:
//   1. is only named carried when the record (APMCarriedRecord: the store's word, or the file
//      beside it) says its rows were carried;
//   2. is given up on after kReadsBeforeGivingUp openings that failed to read it: named unread,
//      and said once (34028);
//   3. waits when the disk has not room for its rows three times over (the working copy, the
//      store's log, the store's file);
//   4. is read into the working copy (APMKeptFileReader);
//   5. joins the store by each table's rule (APMKeptRowsMerge) in one transaction, which writes
//      the store's word that it was carried;
//   6. is recorded carried beside the store, the log emptied, the working copy removed;
//   7. is named carried, the older carried copies removed.
// A kill or a power cut at any step leaves the next opening to go on: before the commit none of
// the file's rows is in the store, after it the store's word stands. A file that cannot be carried
// now waits, and a line (34026) says why; a failed carry gives its room back at once; the store
// stays open and takes rows all the same. A line (34025) counts what was carried.
#pragma once

#include "analytics/core/APMKeptRowsMerge.h"

#include <cstdint>
#include <string>

class APMSqliteStore;

class APMSalvage {
public:
    static constexpr int kReadsBeforeGivingUp = 3;

    // What an opening carried, as its line (34025) says it.
    struct Carried {
        int files = 0;
        std::int64_t rows = 0;
        // Rows read but fitting no table of the store.
        std::int64_t unreadable = 0;
        std::string detail;
        // The kept files still waiting after it.
        int waiting = 0;
    };

    // Carries every kept file of `store` that waits, each table by `rules` or the default; with
    // none waiting, the record goes.
    static Carried carryKeptFiles(APMSqliteStore& store, const APMKeptRowsRules& rules = {});
};
