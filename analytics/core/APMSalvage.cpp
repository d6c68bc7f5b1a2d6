// The salvage routine, top to bottom.
#include "analytics/core/APMSalvage.h"

#include "analytics/core/APMError.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMSqlText.h"
#include "analytics/core/APMSqliteStore.h"
#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSString.h"
#include "platform/sqlite/SQLiteVFS.h"

#include <sqlite3.h>

#include <cstdint>

namespace {

NSErrorPtr storeError(sqlite3* db, const std::string& operation) {
    const int code = sqlite3_extended_errcode(db);
    return apm_errorWithCode(APMErrorStorage,
                             NSString::format("Failed to %@ with sqlite code %d and error message \"%@\"", operation,
                                              code, std::string(sqlite3_errmsg(db))),
                             operation + "," + std::to_string(code & 0xff));
}

bool exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Steps `sql` with `text` bound to ?1: SQLITE_ROW, SQLITE_DONE or the failure.
int stepWith(sqlite3* db, const std::string& sql, const std::string& text) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(statement, 1, text.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(statement);
    }
    sqlite3_finalize(statement);
    return rc;
}

// The bytes a kept file's rows may take on the disk at once, three times over: the working copy,
// the store's log, the store's file; and a margin for the store's own rows meanwhile.
std::uint64_t roomFor(FileIO& io, const std::string& kept) {
    std::uint64_t bytes = 0;
    for (const char* suffix : {"", "-wal"}) {
        struct stat info {};
        if (io.status(kept + suffix, false, info) == 0) bytes += static_cast<std::uint64_t>(info.st_size);
    }
    return 3 * bytes + (1u << 20);
}

// A failure of the disk, the moment or memory rather than of what the kept file holds.
bool isTheMoment(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_NOMEM || primary == SQLITE_BUSY ||
           primary == SQLITE_LOCKED || primary == SQLITE_CANTOPEN;
}

// The working copy's rows into the store, with the store's word that `identity` was carried, in
// one transaction; then the working copy goes, and the log gives back its room whatever happened.
// `failure` is SQLite's code when it fails.
bool mergeInto(APMSqliteStore& store, const std::string& working, const std::string& identity,
               const APMKeptRowsRules& rules, std::map<std::string, std::int64_t>& leftOut, int& failure,
               NSErrorPtr* error) {
    sqlite3* db = store.sqliteHandle();
    failure = SQLITE_OK;
    if (stepWith(db, "ATTACH ?1 AS kept", SQLiteFileIOURI(working, true)) != SQLITE_DONE) {
        failure = sqlite3_extended_errcode(db);
        setError(error, storeError(db, "attach the rows read"));
        return false;
    }
    bool merged = store.beginTransaction();
    merged = merged && APMKeptRowsMerge::merge(db, rules, leftOut, failure) &&
             stepWith(db, std::string("INSERT INTO ") + APMCarriedRecord::kStoreTable + " VALUES (?1)", identity) ==
                 SQLITE_DONE;
    if (!merged) {
        if (failure == SQLITE_OK) failure = sqlite3_extended_errcode(db);
        setError(error, storeError(db, "carry the rows read"));
    }
    merged = merged && store.endTransaction();
    if (!merged) {
        if (failure == SQLITE_OK) failure = sqlite3_extended_errcode(db);
        if (error && !*error) setError(error, storeError(db, "commit the rows read"));
        if (sqlite3_get_autocommit(db) == 0) (void)store.rollbackTransaction();
        leftOut.clear();
    }
    (void)exec(db, "DETACH kept");
    // The working copy goes before the log is emptied: the store's file grows by what the log
    // holds, which needs the room the copy takes.
    (void)APMKeptFiles::removeWithCompanions(working);
    // The log held as much again as was carried, or all a failed carry wrote; if it cannot give
    // its room back now, the next opening empties it before anything else.
    (void)store.emptyLog(nullptr);
    return merged;
}

}  // namespace

APMSalvage::APMSalvage(const std::string& storePath, std::shared_ptr<DispatchCancellation> cancellation)
    : kept_(storePath),
      record_(kept_.recordPath()),
      cancellation_(cancellation ? std::move(cancellation) : DispatchCancellation::make()) {}

std::optional<APMSalvage::Job> APMSalvage::nextRead(APMSqliteStore& store) {
    sqlite3* db = store.sqliteHandle();
    if (!waiting_) {
        waiting_.emplace();
        if (!db) return std::nullopt;
        // A working copy a kill left.
        (void)APMKeptFiles::removeWithCompanions(kept_.carryingPath());
        *waiting_ = kept_.waiting();
        if (!waiting_->empty() && !exec(db, std::string("CREATE TABLE IF NOT EXISTS ") + APMCarriedRecord::kStoreTable +
                                                " (identity TEXT PRIMARY KEY)")) {
            APMKeptFiles::sayWaiting(storeError(db, "record the kept files carried"));
            totals_.waiting = static_cast<int>(waiting_->size());
            waiting_->clear();
        }
    }
    const auto io = FileIO::current();
    while (next_ < waiting_->size()) {
        const std::string& file = (*waiting_)[next_++];
        const auto key = APMCarriedRecord::keyOf(file);
        if (!key) continue;
        // 1.
        if (record_.gaveUp(*key)) {
            ++totals_.waiting;
            ++totals_.givenUp;
            continue;
        }
        if (record_.attempts(*key) >= kReadsBeforeGivingUp) {
            giveUp(file, *key);
            continue;
        }
        // Cancelled: it waits unread, no attempt counted.
        if (cancellation_->isCancelled()) {
            ++totals_.waiting;
            continue;
        }
        // 2.
        std::uint64_t free = 0;
        const std::uint64_t needed = roomFor(*io, file);
        if (io->freeBytes(NSString::stringByDeletingLastPathComponent(file), free) == 0 && free < needed) {
            APMKeptFiles::sayWaiting(apm_errorWithCode(
                APMErrorStorage,
                NSString::format("Not enough room to carry %@: %llu bytes free, %llu needed", file,
                                 static_cast<unsigned long long>(free), static_cast<unsigned long long>(needed)),
                "carry kept database,no room"));
            ++totals_.waiting;
            continue;
        }
        Job job{file, *key, kept_.carryingPath(), {}, record_.carried(), cancellation_};
        job.storeTables = APMKeptFileReader::storeTablesOf(db);
        std::vector<std::string> word;
        if (job.storeTables.failure != SQLITE_OK ||
            !APMColumnRows(db, std::string("SELECT identity FROM ") + APMCarriedRecord::kStoreTable, word)) {
            APMKeptFiles::sayWaiting(storeError(db, "read the tables to carry into"));
            ++totals_.waiting;
            continue;
        }
        job.carried.insert(word.begin(), word.end());
        // 3. Before the read: a read that ends the process counts all the same.
        if (const int err = record_.note(APMCarriedRecord::Fact::Reading, *key)) {
            APMKeptFiles::sayWaiting(fileErrorForErrno(err, kept_.recordPath(), true));
            ++totals_.waiting;
            continue;
        }
        return job;
    }
    return std::nullopt;
}

APMSalvage::Read APMSalvage::read(const Job& job) {
    Read read;
    // 4.
    if (const int err = APMCarriedRecord::identityOf(job.file, read.identity)) {
        read.failure = APMKeptFileReader::Failure::KeptFile;
        read.error = fileErrorForErrno(err, job.file, false);
        return read;
    }
    if (APMCarriedRecord::isCarried(read.identity, job.carried)) {
        read.carriedAlready = true;
        return read;
    }
    bool readFailed = false;
    read.failure = APMKeptFileReader::read(job.file, job.workingPath, job.storeTables, read.outcome, readFailed, &read.error,
                                           APMKeptFileReader::kBudget, job.cancellation.get());
    return read;
}

void APMSalvage::merge(APMSqliteStore& store, const Job& job, const Read& read, const APMKeptRowsRules& rules) {
    using Failure = APMKeptFileReader::Failure;
    if (read.carriedAlready) {
        // 6. Read whole, and its rows stand in the store.
        (void)record_.note(APMCarriedRecord::Fact::Carried, job.key, read.identity.text);
        if (!nameCarried(job.file)) ++totals_.waiting;
        return;
    }
    if (read.failure == Failure::KeptFile || read.failure == Failure::WorkingCopy || read.failure == Failure::Cancelled) {
        // The file's own failure keeps the attempt counted; the disk's under the working copy, or
        // a cancelled read, does not.
        if (read.failure != Failure::KeptFile) (void)record_.note(APMCarriedRecord::Fact::Spared, job.key);
        APMKeptFiles::sayWaiting(read.error);
        ++totals_.waiting;
        return;
    }
    if (read.failure != Failure::None) {
        // Not to be read at all (too costly): set aside for good.
        giveUp(job.file, job.key, read.error);
        return;
    }
    // 5.
    std::map<std::string, std::int64_t> leftOut;
    int failure = SQLITE_OK;
    NSErrorPtr error;
    if (!mergeInto(store, job.workingPath, read.identity.text, rules, leftOut, failure, &error)) {
        if (isTheMoment(failure)) (void)record_.note(APMCarriedRecord::Fact::Spared, job.key);
        APMKeptFiles::sayWaiting(error);
        ++totals_.waiting;
        return;
    }
    // 6. The store's word stands if this fails.
    (void)record_.note(APMCarriedRecord::Fact::Carried, job.key, read.identity.text);
    ++totals_.files;
    std::string detail = read.outcome.detail;
    std::int64_t left = 0;
    for (const auto& [table, rows] : leftOut) {
        detail += (detail.empty() ? "" : "; ") + table + ": " + std::to_string(rows) + " left out past its limit";
        left += rows;
    }
    totals_.rows += read.outcome.rows - left;
    totals_.unreadable += read.outcome.unreadable;
    if (!detail.empty()) {
        totals_.detail += (totals_.detail.empty() ? "" : "; ") + NSString::lastPathComponent(job.file) + ": " + detail;
    }
    // 7.
    if (!nameCarried(job.file)) ++totals_.waiting;
}

APMSalvage::Carried APMSalvage::finish(APMSqliteStore& store) {
    if (totals_.files > 0) {
        APMMeasurementMonitor()->logWithLevel(4, 34025,
                                              "Carried the rows that still read from the kept database into the new "
                                              "one. Carried, unreadable, tables",
                                              Value(static_cast<long long>(totals_.rows)),
                                              Value(static_cast<long long>(totals_.unreadable)), Value(totals_.detail));
    }
    sqlite3* db = store.sqliteHandle();
    if (totals_.waiting == 0 && db) {
        // Also what a kill after the last naming left.
        record_.remove();
        if (stepWith(db, "SELECT 1 FROM sqlite_schema WHERE name = ?1", APMCarriedRecord::kStoreTable) == SQLITE_ROW) {
            (void)exec(db, std::string("DROP TABLE ") + APMCarriedRecord::kStoreTable);
        }
    }
    return totals_;
}

APMSalvage::Carried APMSalvage::carryKeptFiles(APMSqliteStore& store, const APMKeptRowsRules& rules,
                                              std::shared_ptr<DispatchCancellation> cancellation) {
    APMSalvage salvage(store.databasePath(), std::move(cancellation));
    std::shared_ptr<DispatchQueue> apart;
    while (const auto job = salvage.nextRead(store)) {
        if (!apart) apart = DispatchQueue::createApart("APMSalvage");
        Read found;
        apart->syncApart([&found, &job] { found = read(*job); }, job->cancellation);
        salvage.merge(store, *job, found, rules);
    }
    return salvage.finish(store);
}

void APMSalvage::giveUp(const std::string& file, const std::string& key, const NSErrorPtr& why) {
    std::string unread;
    const bool named = kept_.nameUnread(file, unread) == 0;
    if (!named) {
        (void)record_.note(APMCarriedRecord::Fact::GaveUp, key);
        ++totals_.waiting;
        ++totals_.givenUp;
    }
    if (why) {
        APMMeasurementMonitor()->logWithLevel(1, 34028,
                                              "Gave up reading a kept database file that would cost more to read than "
                                              "its size allows; it stays as it is. File, error",
                                              Value(named ? unread : file), Value(why));
        return;
    }
    APMMeasurementMonitor()->logWithLevel(1, 34028,
                                          "Gave up reading a kept database file that failed to read at every opening; "
                                          "it stays as it is. File",
                                          Value(named ? unread : file));
}

bool APMSalvage::nameCarried(const std::string& file) {
    const int err = kept_.nameCarried(file);
    if (err != 0) APMKeptFiles::sayWaiting(fileErrorForErrno(err, file, true));
    return err == 0;
}
