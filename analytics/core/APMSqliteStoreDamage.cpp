// A damaged or unusable file of the SQLite store: kept aside under a name of its own, replaced by
// an empty file, and every row that still reads carried into the new one, in steps that a kill or
// a power cut at any point leaves for the next opening to finish.
#include "analytics/core/APMError.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMSqliteStore.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/sqlite/SQLiteVFS.h"

#include <sqlite3.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdint>
#include <limits>
#include <set>
#include <vector>

namespace {

// Where SQLite keeps what belongs to a file besides the file: they move with it.
constexpr const char* kCompanions[] = {"", "-wal", "-shm", "-journal"};

std::string quoted(const std::string& identifier) {
    std::string text = "\"";
    for (const char c : identifier) text += c == '"' ? std::string("\"\"") : std::string(1, c);
    return text + "\"";
}

// The names a kept file goes by: first while its rows are not all carried, then once they are.
constexpr const char* kUncarried = ".uncarried";
constexpr const char* kCarried = ".damaged";

bool exists(FileIO& io, const std::string& path) {
    struct stat info {};
    return io.status(path, false, info) == 0;
}

// 0 or the errno of the sync: a rename or a removal outlasts a power cut only once its folder is
// synced.
int syncFolderOf(FileIO& io, const std::string& path) {
    int folder = -1;
    if (const int err = io.open(NSString::stringByDeletingLastPathComponent(path), O_RDONLY | O_DIRECTORY, 0, folder))
        return err;
    const int err = io.sync(folder);
    (void)io.close(folder);
    return err;
}

// Moves the file at `from` with its companions to `to`, never over anything: the companions
// first and the file last, so that the file never stands anywhere without its log (SQLite drops a
// log it finds beside no file), and a moving cut short is told by a companion gone ahead. What
// has moved already is passed over, so the same call finishes a moving cut short. 0, or the errno
// of the rename that failed.
int moveWithCompanions(FileIO& io, const std::string& from, const std::string& to) {
    for (const char* suffix : kCompanions) {
        if (*suffix == '\0' || !exists(io, from + suffix)) continue;
        if (const int err = io.rename(from + suffix, to + suffix, false)) return err;
    }
    return exists(io, from) ? io.rename(from, to, false) : 0;
}

// Removes the files of the folder of `path` whose names begin with the name of `path` and
// `suffix`: companions first, each file last, so that a removal cut short never leaves a
// companion alone, which would read as a moving cut short. 0 or the first errno, every removal
// tried.
int removeKept(FileIO& io, const std::string& path, const std::string& suffix) {
    const std::string folder = NSString::stringByDeletingLastPathComponent(path);
    const std::string prefix = NSString::lastPathComponent(path) + suffix;
    std::vector<std::string> names;
    if (io.listFolder(folder, names) != 0) return 0;
    const auto isCompanion = [](const std::string& name) {
        for (const char* companion : kCompanions) {
            const std::size_t length = std::strlen(companion);
            if (length > 0 && name.size() > length && name.compare(name.size() - length, length, companion) == 0)
                return true;
        }
        return false;
    };
    std::vector<std::string> kept;
    for (const std::string& name : names) {
        if (name.rfind(prefix, 0) == 0) kept.push_back(name);
    }
    std::stable_partition(kept.begin(), kept.end(), isCompanion);
    int first = 0;
    for (const std::string& name : kept) {
        const std::string file = folder + "/" + name;
        if (const int err = io.remove(file)) {
            APMMeasurementMonitor()->logWithLevel(1, 34019, "Failed to delete database. Error",
                                                  Value(fileErrorForErrno(err, file, true)));
            if (first == 0) first = err;
        }
    }
    return first;
}

// Removes the file at `path` and its companions, the companions first. 0 or the first errno.
int removeWithCompanions(FileIO& io, const std::string& path) {
    int first = 0;
    for (const char* suffix : {"-wal", "-shm", "-journal", ""}) {
        const std::string file = path + suffix;
        if (!exists(io, file)) continue;
        if (const int err = io.remove(file); err != 0 && err != ENOENT && first == 0) first = err;
    }
    return first;
}

// A table of the kept file as its schema tells; no columns when the file has no such table.
struct OldTable {
    std::vector<std::string> columns;
    bool rowidIsKey = false;  // an INTEGER PRIMARY KEY column: rowids say nothing of counts
};

std::optional<OldTable> oldTable(sqlite3* old, const std::string& table) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(old, ("PRAGMA table_info(" + quoted(table) + ")").c_str(), -1, &statement, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    OldTable info;
    int keys = 0;
    bool integerKey = false;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
        if (name) info.columns.emplace_back(name);
        if (sqlite3_column_int(statement, 5) > 0) {
            ++keys;
            integerKey = type && NSString::uppercaseString(type) == "INTEGER";
        }
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) return std::nullopt;
    info.rowidIsKey = keys == 1 && integerKey;
    return info;
}

// Whether reading `select` from rowid `from` on gets a row or the end rather than a failure.
bool readsFrom(sqlite3_stmt* select, std::int64_t from) {
    sqlite3_reset(select);
    sqlite3_bind_int64(select, 1, from);
    const int rc = sqlite3_step(select);
    sqlite3_reset(select);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

// The smallest rowid above `failed` from which reading `select` works again: past a damaged page
// (a seek from within the rowids it held lands on it again), or past one row whose long value
// does not read. The distance is doubled until a rowid reads and then halved back, so that the
// rows on the next page are not skipped. Nothing when no rowid after it reads.
std::optional<std::int64_t> resumeAfter(sqlite3_stmt* select, std::int64_t failed) {
    // Unsigned: the distances may pass what a signed rowid holds.
    const auto room = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) -
                      static_cast<std::uint64_t>(failed);
    std::uint64_t bad = static_cast<std::uint64_t>(failed);
    std::optional<std::uint64_t> good;
    for (std::uint64_t step = 1; step != 0 && step <= room; step <<= 1) {
        const std::uint64_t candidate = static_cast<std::uint64_t>(failed) + step;
        if (readsFrom(select, static_cast<std::int64_t>(candidate))) {
            good = candidate;
            break;
        }
        bad = candidate;
    }
    if (!good) return std::nullopt;
    while (*good - bad > 1) {
        const std::uint64_t middle = bad + (*good - bad) / 2;
        if (readsFrom(select, static_cast<std::int64_t>(middle))) good = middle;
        else bad = middle;
    }
    return static_cast<std::int64_t>(*good);
}

// A table of the kept file read in rowid order, stepping past what no longer reads, counting the
// rows that went with it where the rowids tell.
class RowWalk {
public:
    RowWalk(sqlite3_stmt* select, bool rowidIsKey) : select_(select), rowidIsKey_(rowidIsKey) {}

    // The next row that reads, its values in the statement's columns; false at the end.
    bool next() {
        for (;;) {
            if (rebind_) {
                sqlite3_reset(select_);
                sqlite3_bind_int64(select_, 1, from_);
                rebind_ = false;
            }
            const int rc = sqlite3_step(select_);
            if (rc == SQLITE_ROW) {
                const std::int64_t rowID = sqlite3_column_int64(select_, 0);
                if (last_ && rowID <= *last_) continue;
                countSkipped(rowID);
                last_ = rowID;
                return true;
            }
            if (rc == SQLITE_DONE) {
                if (skipping_) countSkipped(from_);
                return false;
            }
            // Before any row, from 0: the tables hand out rowids from 1.
            constexpr std::int64_t kLastRowID = std::numeric_limits<std::int64_t>::max();
            const auto resume = last_ == kLastRowID
                                    ? std::nullopt
                                    : resumeAfter(select_, last_ ? *last_ + 1 : std::max<std::int64_t>(from_, 0));
            if (!resume) {
                unknown_.push_back(last_ ? "the rows after rowid " + std::to_string(*last_) : "every row");
                return false;
            }
            from_ = *resume;
            rebind_ = true;
            skipping_ = true;
        }
    }
    std::int64_t skipped() const { return skipped_; }
    // The stretches whose rows cannot be counted.
    const std::vector<std::string>& unknown() const { return unknown_; }

private:
    // The rowids between the last row read and `upTo` went with the page that did not read, where
    // the table hands them out in turn.
    void countSkipped(std::int64_t upTo) {
        if (!skipping_) return;
        skipping_ = false;
        if (rowidIsKey_ || !last_) unknown_.push_back("the rows before rowid " + std::to_string(upTo));
        else skipped_ += upTo - *last_ - 1;
    }

    sqlite3_stmt* select_;
    bool rowidIsKey_;
    std::int64_t from_ = std::numeric_limits<std::int64_t>::min();
    bool rebind_ = true;
    bool skipping_ = false;
    std::optional<std::int64_t> last_;
    std::int64_t skipped_ = 0;
    std::vector<std::string> unknown_;
};

bool refusedByTheRow(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH || primary == SQLITE_TOOBIG;
}

}  // namespace

void APMSqliteStore::deleteKeptFiles(const std::string& path) {
    const auto io = FileIO::current();
    (void)removeKept(*io, path, kUncarried);
    (void)removeKept(*io, path, kCarried);
}

void APMSqliteStore::resumeSalvage() {
    const auto io = FileIO::current();
    const std::string uncarried = databasePath_ + kUncarried;
    const std::string carried = databasePath_ + kCarried;
    const auto goneAhead = [&](const std::string& to) {
        for (const char* suffix : kCompanions) {
            if (*suffix != '\0' && exists(*io, to + suffix)) return true;
        }
        return false;
    };
    // Only a file found damaged is ever moved: a moving cut short is finished, never undone.
    const auto finish = [&](const std::string& from, const std::string& to) {
        int err = moveWithCompanions(*io, from, to);
        if (err == 0) err = syncFolderOf(*io, to);
        if (err != 0) {
            APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                                  Value(fileErrorForErrno(err, from, true)));
        }
    };
    if (!exists(*io, uncarried)) {
        // Setting aside cut short: the file is still here, some of its companions went ahead.
        bool clash = false;
        for (const char* suffix : kCompanions) {
            clash = clash || (*suffix != '\0' && exists(*io, uncarried + suffix) && exists(*io, databasePath_ + suffix));
        }
        if (goneAhead(uncarried) && !clash && exists(*io, databasePath_)) finish(databasePath_, uncarried);
    } else if (!exists(*io, carried) && goneAhead(carried)) {
        // Naming carried cut short: it began only once the rows were on the disk and the older
        // copies gone.
        finish(uncarried, carried);
    }
    if (exists(*io, uncarried)) keptFile_ = uncarried;
}

bool APMSqliteStore::lastFailureWasTheFiles() const {
    if (lastFailure_ == kShapeRefused || isDamageCode(lastFailure_)) return true;
    switch (lastFailure_ & 0xff) {
    // A statement the file's schema refuses (a table or index of that name already there as
    // something else, a column the table cannot take) or its rows refuse in a migration.
    case SQLITE_ERROR:
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
        return true;
    default:
        // Full, I/O, busy, locked, cannot open, read-only, memory, interrupted, or no failure
        // SQLite could name.
        return false;
    }
}

std::string APMSqliteStore::contentsOfFile(const std::string& path) {
    NSErrorPtr attributesError;
    const auto attributes = NSFileManager::defaultManager()->attributesOfItemAtPath(path, &attributesError);
    std::string text = path + ": " + std::to_string(attributes ? attributes->get(NSFileSize).longLongValue() : 0) +
                       " bytes";
    sqlite3* handle = nullptr;
    if (sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, SQLiteFileIOVFSName()) !=
        SQLITE_OK) {
        sqlite3_close(handle);
        return text + ", not readable as a database";
    }
    // Each table's rows as far as they can still be counted; a damaged page spoils only its table.
    std::vector<std::string> tables;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", -1, &statement,
                           nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            if (const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) tables.emplace_back(name);
        }
    }
    sqlite3_finalize(statement);
    if (tables.empty()) text += ", no table readable";
    for (const std::string& table : tables) {
        statement = nullptr;
        text += ", " + table + ": ";
        if (sqlite3_prepare_v2(handle, ("SELECT count(*) FROM " + quoted(table)).c_str(), -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            text += std::to_string(sqlite3_column_int64(statement, 0)) + " rows";
        } else {
            text += "unreadable";
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(handle);
    return text;
}

bool APMSqliteStore::replaceFileIfAtFault(const NSErrorPtr& failure, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    // With a kept file still to carry, the file at fault is the one the carry writes into, which
    // goes: the kept file holds every row of it.
    if (lastFailureWasTheFiles()) return replaceUnusableFile(failure, error);
    keepFileForNextOpening(failure);
    setError(error, failure);
    return false;
}

void APMSqliteStore::keepFileForNextOpening(const NSErrorPtr& failure) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    closeDatabase();
    keptFile_.reset();
    APMMeasurementMonitor()->logWithLevel(1, 34026, "Kept the database file as it is for the next opening. Error",
                                          failure ? Value(failure) : Value());
}

bool APMSqliteStore::replaceUnusableFile(const NSErrorPtr& reason, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    closeDatabase();
    // Read before the file goes: the account of what it held, whatever is carried later.
    const std::string contents = contentsOfFile(databasePath_);
    const auto io = FileIO::current();
    std::optional<std::string> keptAt;
    if (damagedFile_ == DamagedFile::Kept && !keptFile_) {
        std::string aside = databasePath_ + kUncarried;
        // Over nothing: the undo below moves back whatever is under the name.
        int err = 0;
        for (const char* suffix : kCompanions) {
            if (err == 0 && exists(*io, aside + suffix)) err = EEXIST;
        }
        if (err == 0) {
            err = moveWithCompanions(*io, databasePath_, aside);
            // Undone when it cannot be finished, so that the file stays as it was.
            if (err != 0) (void)moveWithCompanions(*io, aside, databasePath_);
            else err = syncFolderOf(*io, databasePath_);
        }
        if (err != 0) {
            const NSErrorPtr moveError = fileErrorForErrno(err, databasePath_, true);
            APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                                  Value(moveError));
            setError(error, moveError);
            return false;
        }
        keptAt = aside;
        keptFile_ = aside;
    } else if (const int err = removeWithCompanions(*io, databasePath_)) {
        // Nothing is lost by the removal: the owner fetches the data again, or the kept file still
        // holds every row carried into this one.
        const NSErrorPtr removeError = fileErrorForErrno(err, databasePath_, true);
        APMMeasurementMonitor()->logWithLevel(1, 34019, "Failed to delete database. Error", Value(removeError));
        setError(error, removeError);
        return false;
    }
    APMMeasurementMonitor()->logWithLevel(1, 34023,
                                          "Replaced an unreadable database with an empty one, kept aside. Kept as, "
                                          "held, error",
                                          keptAt ? Value(*keptAt) : Value(), Value(contents),
                                          reason ? Value(reason) : Value());
    if (!openAndValidateDatabase(error)) {
        closeDatabase();
        keptFile_.reset();
        return false;
    }
    return true;
}

std::optional<APMSqliteStore::CarriedRows> APMSqliteStore::carryRowsFromKeptFile(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    CarriedRows rows;
    if (!keptFile_) return rows;
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition, "Database not open")) return std::nullopt;
    const std::string kept = *keptFile_;
    const auto keep = [&](const NSErrorPtr& failure) {
        keepFileForNextOpening(failure);
        setError(error, failure);
        return std::nullopt;
    };
    // Read and written by the file layer of the store's own file, never through a link; the kept
    // file's log is read as SQLite reads any log.
    sqlite3* old = nullptr;
    int rc = sqlite3_open_v2(kept.c_str(), &old, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, SQLiteFileIOVFSName());
    if (rc == SQLITE_OK) rc = sqlite3_exec(old, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const int code = old ? sqlite3_extended_errcode(old) : rc;
        const std::string message = old ? sqlite3_errmsg(old) : sqlite3_errstr(rc);
        sqlite3_close(old);
        old = nullptr;
        // A file whose list of tables does not read (not a database, a damaged first page) is read
        // by its pages; one that cannot be read now (a failing disk, memory) waits for the next
        // opening.
        if (!isDamageCode(code)) {
            NSErrorPtr readError;
            APMSetError(&readError, APMErrorStorage,
                        "Failed to read the kept database file " + kept + " (sqlite code " + std::to_string(code) +
                            "): " + message);
            return keep(readError);
        }
        rows.detail = "no table readable";
    }
    std::vector<std::string> tables;
    NSErrorPtr listError;
    sqlite3_stmt* statement = prepareSQL("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
                                         "'sqlite%' ORDER BY name",
                                         &listError);
    if (!statement) {
        sqlite3_close(old);
        return keep(listError);
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        if (const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) tables.emplace_back(name);
    }
    sqlite3_finalize(statement);

    for (const std::string& table : tables) {
        NSErrorPtr writeError;
        NSErrorPtr transactionError;
        // A transaction a table: a carry cut short keeps what it committed.
        if (!performTransactionWithError(&transactionError,
                                         [&] { return carryTable(old, kept, table, rows, &writeError); })) {
            sqlite3_close(old);
            return keep(writeError ? writeError : transactionError);
        }
    }
    sqlite3_close(old);
    APMMeasurementMonitor()->logWithLevel(4, 34025,
                                          "Carried the rows that still read from the kept database into the new "
                                          "one. Carried, unreadable, tables",
                                          Value(static_cast<long long>(rows.carried)),
                                          Value(static_cast<long long>(rows.unreadable)), Value(rows.detail));
    NSErrorPtr nameError;
    if (!nameKeptFileCarried(&nameError)) return keep(nameError);
    keptFile_.reset();
    return rows;
}

bool APMSqliteStore::nameKeptFileCarried(NSErrorPtr* error) {
    // Every commit was synced; the checkpoint puts the rows into the file itself, synced too, and
    // empties the log, which the carry filled with as much again as it carried.
    static const std::string kCheckpoint = "PRAGMA wal_checkpoint(TRUNCATE)";
    sqlite3_stmt* statement = prepareSQL(kCheckpoint, error);
    if (!statement) return false;
    const int rc = sqlite3_step(statement);
    const bool checkpointed = rc == SQLITE_ROW && sqlite3_column_int(statement, 0) == 0;
    if (!checkpointed) setDatabaseError(error, "checkpoint");
    sqlite3_finalize(statement);
    if (!checkpointed) return false;
    const auto io = FileIO::current();
    const std::string carried = databasePath_ + kCarried;
    // The older copies go only now that the newest one's rows are safe; then the newest takes the
    // name, and the folder is synced before anything deletes a carried row, so that no cut brings
    // the uncarried name back and has the rows carried and delivered twice.
    if (const int err = removeKept(*io, databasePath_, kCarried)) {
        setError(error, fileErrorForErrno(err, carried, true));
        return false;
    }
    int err = moveWithCompanions(*io, *keptFile_, carried);
    if (err == 0) err = syncFolderOf(*io, carried);
    if (err != 0) {
        const NSErrorPtr moveError = fileErrorForErrno(err, *keptFile_, true);
        APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                              Value(moveError));
        setError(error, moveError);
        return false;
    }
    return true;
}

bool APMSqliteStore::carryTable(sqlite3* old, const std::string& keptPath, const std::string& table,
                                CarriedRows& rows, NSErrorPtr* error) {
    (void)keptPath;
    if (!old) return true;
    const auto info = oldTable(old, table);
    // A table the old file does not have holds nothing to carry.
    if (info && info->columns.empty()) return true;
    const auto columns = columnsForTableWithName(table, error);
    if (!columns) return false;
    std::vector<std::string> shared;
    if (info) {
        const std::set<std::string> present(info->columns.begin(), info->columns.end());
        for (const std::string& column : *columns) {
            if (present.count(column)) shared.push_back(quoted(column));
        }
    }
    const std::string names = NSString::componentsJoinedByString(shared, ", ");
    const auto say = [&rows](const std::string& line) { rows.detail += (rows.detail.empty() ? "" : "; ") + line; };
    sqlite3_stmt* select = nullptr;
    if (!info || shared.empty() ||
        sqlite3_prepare_v2(old,
                           ("SELECT rowid, " + names + " FROM " + quoted(table) + " WHERE rowid >= ?1 ORDER BY rowid")
                               .c_str(),
                           -1, &select, nullptr) != SQLITE_OK) {
        sqlite3_finalize(select);
        say(table + ": unreadable");
        return true;
    }
    std::string placeholders = "?";
    for (std::size_t i = 0; i < shared.size(); ++i) placeholders += ", ?";
    sqlite3_stmt* insert =
        prepareSQL("INSERT INTO " + quoted(table) + " (rowid, " + names + ") VALUES (" + placeholders + ")", error);
    if (!insert) {
        sqlite3_finalize(select);
        return false;
    }
    std::int64_t carried = 0;
    std::int64_t refused = 0;
    bool written = true;
    RowWalk walk(select, info->rowidIsKey);
    while (written && walk.next()) {
        for (int column = 0; column <= static_cast<int>(shared.size()); ++column) {
            sqlite3_bind_value(insert, column + 1, sqlite3_column_value(select, column));
        }
        if (sqlite3_step(insert) == SQLITE_DONE) {
            ++carried;
        } else if (refusedByTheRow(sqlite3_extended_errcode(handle_))) {
            ++refused;
        } else {
            setDatabaseError(error, "execute statement");
            written = false;
        }
        sqlite3_reset(insert);
        sqlite3_clear_bindings(insert);
    }
    sqlite3_finalize(select);
    sqlite3_finalize(insert);
    if (!written) return false;
    const std::int64_t unreadable = refused + walk.skipped();
    rows.carried += carried;
    rows.unreadable += unreadable;
    // Tables that held nothing go unsaid.
    if (carried == 0 && unreadable == 0 && walk.unknown().empty()) return true;
    std::string line = table + ": " + std::to_string(carried) + " carried, " + std::to_string(unreadable) + " unreadable";
    for (const std::string& stretch : walk.unknown()) line += ", uncounted: " + stretch;
    say(line);
    return true;
}
