// The salvage routine, top to bottom.
#include "analytics/core/APMSalvage.h"

#include "analytics/core/APMCarriedRecord.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMKeptFileReader.h"
#include "analytics/core/APMKeptFiles.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMSqliteStore.h"
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

bool storeSaysCarried(sqlite3* db, const std::string& identity) {
    return stepWith(db, std::string("SELECT 1 FROM ") + APMCarriedRecord::kStoreTable + " WHERE identity = ?1",
                    identity) == SQLITE_ROW;
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

// The working copy's rows into the store, with the store's word that `identity` was carried, in
// one transaction; the log's room given back whatever happens.
bool merge(APMSqliteStore& store, const std::string& working, const std::string& identity,
           const APMKeptRowsRules& rules, NSErrorPtr* error) {
    sqlite3* db = store.sqliteHandle();
    if (stepWith(db, "ATTACH ?1 AS kept", SQLiteFileIOURI(working, true)) != SQLITE_DONE) {
        setError(error, storeError(db, "attach the rows read"));
        return false;
    }
    int failure = SQLITE_OK;
    bool merged = store.beginTransaction();
    merged = merged && APMKeptRowsMerge::merge(db, rules, failure) &&
             stepWith(db, std::string("INSERT INTO ") + APMCarriedRecord::kStoreTable + " VALUES (?1)", identity) ==
                 SQLITE_DONE;
    if (!merged) setError(error, storeError(db, "carry the rows read"));
    merged = merged && store.endTransaction();
    if (!merged) {
        if (error && !*error) setError(error, storeError(db, "commit the rows read"));
        if (sqlite3_get_autocommit(db) == 0) (void)store.rollbackTransaction();
    }
    (void)exec(db, "DETACH kept");
    // The log held as much again as was carried, or all a failed carry wrote.
    (void)exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    return merged;
}

// Whether the carried file took its carried name; when not, it waits for the next opening to.
bool nameCarried(const APMKeptFiles& kept, const std::string& file) {
    const int err = kept.nameCarried(file);
    if (err != 0) APMKeptFiles::sayWaiting(fileErrorForErrno(err, file, true));
    return err == 0;
}

// One kept file, the numbered steps of APMSalvage.h; whether it no longer waits.
bool carryOne(APMSqliteStore& store, const APMKeptFiles& kept, APMCarriedRecord& record,
              const APMKeptRowsRules& rules, const std::string& file, APMSalvage::Carried& totals) {
    const auto monitor = APMMeasurementMonitor();
    const auto identity = APMCarriedRecord::identityOf(file);
    if (!identity) return true;
    sqlite3* db = store.sqliteHandle();
    // 1.
    if (storeSaysCarried(db, *identity) || record.has(APMCarriedRecord::Fact::Carried, *identity)) {
        if (!record.has(APMCarriedRecord::Fact::Carried, *identity)) {
            (void)record.note(APMCarriedRecord::Fact::Carried, *identity);
        }
        return nameCarried(kept, file);
    }
    // 2.
    if (record.has(APMCarriedRecord::Fact::GaveUp, *identity)) return false;
    if (record.count(APMCarriedRecord::Fact::FailedToRead, *identity) >= APMSalvage::kReadsBeforeGivingUp) {
        std::string unread;
        const bool named = kept.nameUnread(file, unread) == 0;
        if (!named) (void)record.note(APMCarriedRecord::Fact::GaveUp, *identity);
        monitor->logWithLevel(1, 34028,
                              "Gave up reading a kept database file that failed to read at every opening; it stays "
                              "as it is. File",
                              Value(named ? unread : file));
        return named;
    }
    // 3.
    const auto io = FileIO::current();
    std::uint64_t free = 0;
    const std::uint64_t needed = roomFor(*io, file);
    if (io->freeBytes(NSString::stringByDeletingLastPathComponent(file), free) == 0 && free < needed) {
        APMKeptFiles::sayWaiting(apm_errorWithCode(
            APMErrorStorage,
            NSString::format("Not enough room to carry %@: %llu bytes free, %llu needed", file,
                             static_cast<unsigned long long>(free), static_cast<unsigned long long>(needed)),
            "carry kept database,no room"));
        return false;
    }
    // 4.
    APMKeptFileReader::Outcome outcome;
    bool readFailed = false;
    NSErrorPtr error;
    const auto failure = APMKeptFileReader::read(file, kept.carryingPath(), APMKeptFileReader::storeTablesOf(db), outcome,
                                                 readFailed, &error);
    if (failure != APMKeptFileReader::Failure::None) {
        if (failure == APMKeptFileReader::Failure::KeptFile) {
            (void)record.note(APMCarriedRecord::Fact::FailedToRead, *identity);
            if (readFailed) (void)record.note(APMCarriedRecord::Fact::ReadFailed, *identity);
        }
        APMKeptFiles::sayWaiting(error);
        return false;
    }
    // 5.
    const bool merged = merge(store, kept.carryingPath(), *identity, rules, &error);
    (void)APMKeptFiles::removeWithCompanions(kept.carryingPath());
    if (!merged) {
        APMKeptFiles::sayWaiting(error);
        return false;
    }
    // 6. The store's word stands if this fails.
    (void)record.note(APMCarriedRecord::Fact::Carried, *identity);
    ++totals.files;
    totals.rows += outcome.rows;
    totals.unreadable += outcome.unreadable;
    if (!outcome.detail.empty()) {
        totals.detail += (totals.detail.empty() ? "" : "; ") + NSString::lastPathComponent(file) + ": " + outcome.detail;
    }
    // 7.
    return nameCarried(kept, file);
}

}  // namespace

APMSalvage::Carried APMSalvage::carryKeptFiles(APMSqliteStore& store, const APMKeptRowsRules& rules) {
    const APMKeptFiles kept(store.databasePath());
    APMCarriedRecord record(kept.recordPath());
    Carried totals;
    sqlite3* db = store.sqliteHandle();
    if (!db) return totals;
    // A working copy a kill left.
    (void)APMKeptFiles::removeWithCompanions(kept.carryingPath());
    const auto waiting = kept.waiting();
    const std::string forgetStoreWord = std::string("DROP TABLE IF EXISTS ") + APMCarriedRecord::kStoreTable;
    if (waiting.empty()) {
        // What a kill after the last naming left.
        record.remove();
        if (stepWith(db, "SELECT 1 FROM sqlite_schema WHERE name = ?1", APMCarriedRecord::kStoreTable) == SQLITE_ROW) {
            (void)exec(db, forgetStoreWord);
        }
        return totals;
    }
    if (!exec(db, std::string("CREATE TABLE IF NOT EXISTS ") + APMCarriedRecord::kStoreTable +
                      " (identity TEXT PRIMARY KEY)")) {
        APMKeptFiles::sayWaiting(storeError(db, "record the kept files carried"));
        totals.waiting = static_cast<int>(waiting.size());
        return totals;
    }
    for (const std::string& file : waiting) {
        if (!carryOne(store, kept, record, rules, file, totals)) ++totals.waiting;
    }
    if (totals.files > 0) {
        APMMeasurementMonitor()->logWithLevel(4, 34025,
                                              "Carried the rows that still read from the kept database into the new "
                                              "one. Carried, unreadable, tables",
                                              Value(static_cast<long long>(totals.rows)),
                                              Value(static_cast<long long>(totals.unreadable)), Value(totals.detail));
    }
    if (totals.waiting == 0) {
        record.remove();
        (void)exec(db, forgetStoreWord);
    }
    return totals;
}
