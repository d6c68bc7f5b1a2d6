// Carrying the rows of a damaged store's kept files (APMKeptFiles) into the store: one routine,
// which the store's owner runs at every opening once its tables stand. Each kept file that waits,
// oldest first:
//   1. is given up on once kReadsBeforeGivingUp openings began to read it and neither carried it
//      nor ended through no fault of its own (a read that failed, or a kill or a hang during
//      one): named unread, and said once (34028);
//   2. waits when the disk has not room for its rows three times over (the working copy, the
//      store's log, the store's file);
//   3. has the opening's attempt recorded (APMCarriedRecord), before anything of it is read;
//   4. is read whole, which gives its identity: a file the store or the record holds carried is
//      only named carried (7); any other is read into the working copy (APMKeptFileReader);
//   5. joins the store by each table's rule and limits (APMKeptRowsMerge) in one transaction,
//      which writes the store's word that it was carried; the working copy goes, and the log is
//      emptied, its room given back;
//   6. is recorded carried beside the store;
//   7. is named carried (or removed, when too large a copy to keep), the older carried copies
//      removed.
// A kill or a power cut at any step leaves the next opening to go on: before the commit none of
// the file's rows is in the store, after it the store's word stands, and a store set aside hands
// its word to the record first. A file that cannot be carried now waits, and a line (34026) says
// why; a failed carry gives its room back at once; the store stays open and takes rows all the
// same. A line (34025) counts what was carried, and what the tables' limits left out.
//
// The steps run apart: 1 to 3 on the store's queue (nextRead), 4 anywhere, with no connection of
// the store's (read), 5 to 7 on the store's queue again (merge); carryKeptFiles runs them in turn,
// the reads on a queue apart. A cancelled salvage reads no further: the file being read, and
// those after it, wait for the next opening, no attempt counted.
#pragma once

#include "analytics/core/APMCarriedRecord.h"
#include "analytics/core/APMKeptFileReader.h"
#include "analytics/core/APMKeptFiles.h"
#include "analytics/core/APMKeptRowsMerge.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class APMSqliteStore;
class DispatchCancellation;

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
        // Of them, those given up on that could not be named so: their rows are never carried.
        int givenUp = 0;
    };

    // What the read of one kept file needs, as the store's queue found it: values alone.
    struct Job {
        std::string file;
        // Its key in the record (APMCarriedRecord::keyOf).
        std::string key;
        std::string workingPath;
        // The store's tables, as its connection declares them.
        APMKeptFileReader::StoreTables storeTables;
        // The identities the store's word and the record hold carried.
        std::set<std::string> carried;
        // The salvage's: the read stops once it is cancelled.
        std::shared_ptr<DispatchCancellation> cancellation;
    };
    // What the read found.
    struct Read {
        APMKeptFileReader::Failure failure = APMKeptFileReader::Failure::None;
        // Its identity is one carried already: there is nothing to merge.
        bool carriedAlready = false;
        APMCarriedRecord::Identity identity;
        APMKeptFileReader::Outcome outcome;
        NSErrorPtr error;
    };

    // One opening's salvage of the store at `storePath`, which reads no further once
    // `cancellation` is cancelled; without one, only the process's end cancels it
    // (DispatchQueue::cancelWorkInProgress).
    explicit APMSalvage(const std::string& storePath, std::shared_ptr<DispatchCancellation> cancellation = nullptr);

    // Steps 1 to 3, on the store's queue: the next kept file to read, deciding on the way what
    // gives up and what waits; nothing once none is left.
    std::optional<Job> nextRead(APMSqliteStore& store);
    // Step 4, anywhere: no connection of the store's is used.
    static Read read(const Job& job);
    // Steps 5 to 7, on the store's queue, each table by `rules` or the default.
    void merge(APMSqliteStore& store, const Job& job, const Read& read, const APMKeptRowsRules& rules);
    // After the last: the line (34025); with nothing waiting, the record and the store's word go.
    Carried finish(APMSqliteStore& store);

    // Every step, in turn, for every kept file of `store` that waits: each read on a queue apart,
    // the caller waiting for it blocked (DispatchQueue::syncApart), so that a settle of the manual
    // clock does not wait for it while the work queued behind the caller does.
    static Carried carryKeptFiles(APMSqliteStore& store, const APMKeptRowsRules& rules = {},
                                  std::shared_ptr<DispatchCancellation> cancellation = nullptr);

private:
    // Named unread for good, said once (34028, with `why` when the read refused it), or recorded given
    // up on when it cannot be named.
    void giveUp(const std::string& file, const std::string& key, const NSErrorPtr& why = nullptr);
    // Step 7; whether the file no longer waits.
    bool nameCarried(const std::string& file);

    APMKeptFiles kept_;
    APMCarriedRecord record_;
    const std::shared_ptr<DispatchCancellation> cancellation_;
    // Listed at the first step.
    std::optional<std::vector<std::string>> waiting_;
    std::size_t next_ = 0;
    Carried totals_;
};
