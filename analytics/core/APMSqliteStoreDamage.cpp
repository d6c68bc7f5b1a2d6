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
#include "platform/sqlite/SQLitePageImage.h"
#include "platform/sqlite/SQLiteVFS.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdint>
#include <limits>
#include <set>
#include <vector>

namespace {

// The file and where SQLite keeps what belongs to it besides the file, which moves and goes with
// it: the file last, so that it never stands anywhere without its log (SQLite drops a log it
// finds beside no file).
constexpr const char* kCompanions[] = {"-wal", "-shm", "-journal", ""};

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

// Moves the file at `from` with its companions to `to`, never over anything, in kCompanions'
// order: a moving cut short is told by a companion gone ahead. What has moved already is passed
// over, so the same call finishes a moving cut short. 0, or the errno of the rename that failed.
int moveWithCompanions(FileIO& io, const std::string& from, const std::string& to) {
    for (const char* suffix : kCompanions) {
        if (!exists(io, from + suffix)) continue;
        if (const int err = io.rename(from + suffix, to + suffix, false)) return err;
    }
    return 0;
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

// Removes the file at `path` and its companions, in kCompanions' order. 0 or the first errno.
int removeWithCompanions(FileIO& io, const std::string& path) {
    int first = 0;
    for (const char* suffix : kCompanions) {
        const std::string file = path + suffix;
        if (!exists(io, file)) continue;
        if (const int err = io.remove(file); err != 0 && err != ENOENT && first == 0) first = err;
    }
    return first;
}

// A table's columns as a connection's schema tells; no columns when it has no such table.
struct TableColumns {
    std::vector<std::string> names;
    // Declared, as PRAGMA table_info gives them.
    std::vector<std::string> types;
    // The INTEGER PRIMARY KEY column: its value is the rowid, so rowids say nothing of counts,
    // and a record holds null for it.
    std::optional<std::size_t> rowidKey;
};

// Nothing, with the connection's extended code in `failure`, when the schema does not read.
std::optional<TableColumns> tableColumns(sqlite3* db, const std::string& table, int& failure) {
    failure = SQLITE_OK;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, ("PRAGMA table_info(" + quoted(table) + ")").c_str(), -1, &statement, nullptr) !=
        SQLITE_OK) {
        failure = sqlite3_extended_errcode(db);
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    TableColumns info;
    int keys = 0;
    std::size_t keyColumn = 0;
    bool integerKey = false;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
        if (sqlite3_column_int(statement, 5) > 0) {
            ++keys;
            keyColumn = info.names.size();
            integerKey = type && NSString::uppercaseString(type) == "INTEGER";
        }
        info.names.emplace_back(name ? name : "");
        info.types.emplace_back(type ? type : "");
    }
    if (rc != SQLITE_DONE) failure = sqlite3_extended_errcode(db);
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) return std::nullopt;
    if (keys == 1 && integerKey) info.rowidKey = keyColumn;
    return info;
}

// SQLITE_OK when reading `select` from rowid `from` on gets a row at or above it, or the end;
// else the failure's extended code. A row below `from` is a seek routed by a page that no longer
// orders its keys: damage.
int readFrom(sqlite3_stmt* select, std::int64_t from) {
    sqlite3_reset(select);
    sqlite3_bind_int64(select, 1, from);
    int rc = sqlite3_step(select);
    if (rc == SQLITE_ROW) rc = sqlite3_column_int64(select, 0) < from ? SQLITE_CORRUPT : SQLITE_OK;
    else if (rc == SQLITE_DONE) rc = SQLITE_OK;
    else rc = sqlite3_extended_errcode(sqlite3_db_handle(select));
    sqlite3_reset(select);
    return rc;
}

// The smallest rowid above `failed` from which reading `select` works again: past a damaged page
// (a seek from within the rowids it held lands on it again), or past one row whose long value
// does not read. The distance is doubled until a rowid reads and then halved back, so that the
// rows on the next page are not skipped. Nothing when no rowid after it reads, or when a read
// fails for a reason other than damage (its code in `failure`).
std::optional<std::int64_t> resumeAfter(sqlite3_stmt* select, std::int64_t failed, int& failure) {
    const auto reads = [&](std::uint64_t rowID) {
        const int rc = readFrom(select, static_cast<std::int64_t>(rowID));
        if (rc != SQLITE_OK && !APMSqliteStore::isDamageCode(rc)) failure = rc;
        return rc == SQLITE_OK;
    };
    // Unsigned: the distances may pass what a signed rowid holds.
    const auto room = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) -
                      static_cast<std::uint64_t>(failed);
    std::uint64_t bad = static_cast<std::uint64_t>(failed);
    std::optional<std::uint64_t> good;
    for (std::uint64_t step = 1; step != 0 && step <= room; step <<= 1) {
        const std::uint64_t candidate = static_cast<std::uint64_t>(failed) + step;
        if (reads(candidate)) {
            good = candidate;
            break;
        }
        if (failure != SQLITE_OK) return std::nullopt;
        bad = candidate;
    }
    if (!good) return std::nullopt;
    while (*good - bad > 1) {
        const std::uint64_t middle = bad + (*good - bad) / 2;
        if (reads(middle)) good = middle;
        else if (failure != SQLITE_OK) return std::nullopt;
        else bad = middle;
    }
    return static_cast<std::int64_t>(*good);
}

// A table of the kept file read in rowid order, stepping past what no longer reads, counting the
// rows that went with it where the rowids tell.
class RowWalk {
public:
    // At most `maxResumes` steps past damage (the file's pages): a walk whose steps keep coming
    // back to where it was still ends.
    RowWalk(sqlite3_stmt* select, bool rowidIsKey, std::int64_t maxResumes)
        : select_(select), rowidIsKey_(rowidIsKey), maxResumes_(maxResumes) {}

    // The next row that reads, its values in the statement's columns; false at the end, or on a
    // failure that is not damage (failure()).
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
                // A walk in rowid order that goes back was led astray: a pointer to a page not
                // where it belongs, or a seek routed by a page that no longer orders its keys.
                if (last_ && rowID <= *last_) {
                    metDamage_ = true;
                    continue;
                }
                countSkipped(rowID);
                last_ = rowID;
                if (!read_.empty() && read_.back().second == rowID - 1) read_.back().second = rowID;
                else read_.emplace_back(rowID, rowID);
                return true;
            }
            // Past damage to the end: how many rows followed the last one read is not known.
            if (rc == SQLITE_DONE) {
                if (skipping_) unknown_.push_back(rowsAfterTheLast());
                return false;
            }
            const int code = sqlite3_extended_errcode(sqlite3_db_handle(select_));
            if (!APMSqliteStore::isDamageCode(code)) {
                failure_ = code;
                return false;
            }
            metDamage_ = true;
            // Before any row, from 0: the tables hand out rowids from 1.
            constexpr std::int64_t kLastRowID = std::numeric_limits<std::int64_t>::max();
            const auto resume = last_ == kLastRowID || ++resumes_ > maxResumes_
                                    ? std::nullopt
                                    : resumeAfter(select_, last_ ? *last_ + 1 : std::max<std::int64_t>(from_, 0),
                                                  failure_);
            if (failure_ != SQLITE_OK) return false;
            if (!resume) {
                unknown_.push_back(rowsAfterTheLast());
                return false;
            }
            from_ = *resume;
            rebind_ = true;
            skipping_ = true;
        }
    }
    // SQLite's code of a failure other than damage that ended the walk; SQLITE_OK when none did.
    int failure() const { return failure_; }
    bool metDamage() const { return metDamage_; }
    std::int64_t skipped() const { return skipped_; }
    // A row carried from elsewhere: when its rowid lies in a stretch counted as skipped, one
    // fewer went with the damage.
    void found(std::int64_t rowID) {
        if (within(gaps_, rowID)) --skipped_;
    }
    // Whether the walk gave the row of `rowID`.
    bool gave(std::int64_t rowID) const { return within(read_, rowID); }
    // The stretches whose rows cannot be counted.
    const std::vector<std::string>& unknown() const { return unknown_; }

private:
    using Stretches = std::vector<std::pair<std::int64_t, std::int64_t>>;
    // Whether `rowID` lies in one of `stretches`, first and last rowid of each, in order.
    static bool within(const Stretches& stretches, std::int64_t rowID) {
        const auto after = std::upper_bound(stretches.begin(), stretches.end(), std::make_pair(rowID, rowID));
        if (after != stretches.end() && after->first == rowID) return true;
        return after != stretches.begin() && rowID <= (after - 1)->second;
    }
    std::string rowsAfterTheLast() const {
        return last_ ? "the rows after rowid " + std::to_string(*last_) : std::string("every row");
    }
    // The rowids between the last row read and `upTo` went with the page that did not read, where
    // the table hands them out in turn.
    void countSkipped(std::int64_t upTo) {
        if (!skipping_) return;
        skipping_ = false;
        if (rowidIsKey_ || !last_) {
            unknown_.push_back("the rows before rowid " + std::to_string(upTo));
        } else if (upTo - *last_ > 1) {
            skipped_ += upTo - *last_ - 1;
            gaps_.emplace_back(*last_ + 1, upTo - 1);
        }
    }

    sqlite3_stmt* select_;
    bool rowidIsKey_;
    std::int64_t maxResumes_;
    std::int64_t resumes_ = 0;
    std::int64_t from_ = std::numeric_limits<std::int64_t>::min();
    bool rebind_ = true;
    bool skipping_ = false;
    bool metDamage_ = false;
    int failure_ = SQLITE_OK;
    std::optional<std::int64_t> last_;
    std::int64_t skipped_ = 0;
    // The rowids counted as skipped, and those of the rows given: runs of rowids one after
    // another, short where the table hands them out in turn.
    Stretches gaps_;
    Stretches read_;
    std::vector<std::string> unknown_;
};

bool refusedByTheRow(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH || primary == SQLITE_TOOBIG;
}

// Carried values a transaction takes before it commits: the log the carry leaves stays small.
constexpr std::size_t kCarriedBytesPerCommit = 16u << 20;

// Rows into one table of the store with their rowids, in transactions of about
// kCarriedBytesPerCommit each. A rowid the table already has is left as it is.
class RowWriter {
public:
    enum class Outcome { Carried, Present, Refused, Failed };

    // `columns`: quoted names; a row may give values for the first of them only.
    RowWriter(APMSqliteStore& store, std::string table, std::vector<std::string> columns)
        : store_(store), table_(std::move(table)), columns_(std::move(columns)), inserts_(columns_.size() + 1) {}
    ~RowWriter() {
        for (sqlite3_stmt* insert : inserts_) sqlite3_finalize(insert);
        sqlite3_finalize(lookup_);
    }
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    // `bind(insert)` binds the values of the first `count` columns from parameter 2 on and
    // answers their bytes. On Failed the connection's error tells why; abandon() then.
    template <typename Bind>
    Outcome write(std::int64_t rowID, std::size_t count, Bind&& bind) {
        sqlite3_stmt* insert = statementFor(count);
        if (!insert) return Outcome::Failed;
        if (!inTransaction_) {
            if (!store_.beginTransaction()) return Outcome::Failed;
            inTransaction_ = true;
        }
        sqlite3_bind_int64(insert, 1, rowID);
        bytes_ += bind(insert);
        Outcome outcome = Outcome::Failed;
        if (sqlite3_step(insert) == SQLITE_DONE) {
            outcome = Outcome::Carried;
        } else if (refusedByTheRow(sqlite3_extended_errcode(store_.sqliteHandle()))) {
            // Asked only when the row is refused: a row new to the table, the common one, costs
            // no lookup.
            const auto present = hasRow(rowID);
            if (!present) return Outcome::Failed;
            outcome = *present ? Outcome::Present : Outcome::Refused;
        }
        if (outcome == Outcome::Failed) return outcome;
        sqlite3_reset(insert);
        sqlite3_clear_bindings(insert);
        if (bytes_ >= kCarriedBytesPerCommit && !commit()) return Outcome::Failed;
        return outcome;
    }
    bool commit() {
        if (!inTransaction_) return true;
        inTransaction_ = false;
        bytes_ = 0;
        return store_.endTransaction();
    }
    // Rolls back what the transaction under way wrote.
    void abandon() {
        for (sqlite3_stmt* insert : inserts_) {
            if (insert) sqlite3_reset(insert);
        }
        if (sqlite3_get_autocommit(store_.sqliteHandle()) == 0) (void)store_.rollbackTransaction();
        inTransaction_ = false;
    }

private:
    // Whether the table has a row of `rowID`; nothing when that does not read.
    std::optional<bool> hasRow(std::int64_t rowID) {
        if (!lookup_) {
            lookup_ = store_.prepareSQL("SELECT 1 FROM " + quoted(table_) + " WHERE rowid = ?1", nullptr);
            if (!lookup_) return std::nullopt;
        }
        sqlite3_bind_int64(lookup_, 1, rowID);
        const int rc = sqlite3_step(lookup_);
        sqlite3_reset(lookup_);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return std::nullopt;
        return rc == SQLITE_ROW;
    }
    sqlite3_stmt* statementFor(std::size_t count) {
        if (inserts_[count]) return inserts_[count];
        std::string names;
        std::string values = "?1";
        for (std::size_t i = 0; i < count; ++i) {
            names += ", " + columns_[i];
            values += ", ?" + std::to_string(i + 2);
        }
        return inserts_[count] =
                   store_.prepareSQL("INSERT INTO " + quoted(table_) + " (rowid" + names + ") VALUES (" + values + ")",
                                     nullptr);
    }

    APMSqliteStore& store_;
    std::string table_;
    std::vector<std::string> columns_;
    // By the number of columns given.
    std::vector<sqlite3_stmt*> inserts_;
    sqlite3_stmt* lookup_ = nullptr;
    bool inTransaction_ = false;
    std::size_t bytes_ = 0;
};

// Binds a value the page image read; its bytes.
std::size_t bindValue(sqlite3_stmt* statement, int parameter, const Value& value) {
    switch (value.type()) {
    case Value::Type::Null:
        sqlite3_bind_null(statement, parameter);
        return 0;
    case Value::Type::Double:
        sqlite3_bind_double(statement, parameter, value.doubleValue());
        return 8;
    case Value::Type::String:
        sqlite3_bind_text(statement, parameter, value.string().data(), static_cast<int>(value.string().size()),
                          SQLITE_STATIC);
        return value.string().size();
    case Value::Type::Data:
        // An empty vector may have no bytes to point at, which would bind null.
        if (value.data().empty()) sqlite3_bind_zeroblob(statement, parameter, 0);
        else sqlite3_bind_blob(statement, parameter, value.data().data(), static_cast<int>(value.data().size()), SQLITE_STATIC);
        return value.data().size();
    default:
        sqlite3_bind_int64(statement, parameter, value.longLongValue());
        return 8;
    }
}

// The error of a read of the kept file that failed for a reason other than its damage.
NSErrorPtr keptFileError(sqlite3* old, int code) {
    const char* message = old ? sqlite3_errmsg(old) : nullptr;
    return apm_errorWithCode(APMErrorStorage,
                             NSString::format("Reading the kept database failed with sqlite code %d and error "
                                              "message \"%@\"",
                                              code, std::string(message ? message : sqlite3_errstr(code))),
                             "read kept database," + std::to_string(code & 0xff));
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
        if (err == 0) err = io->syncFolderOf(to);
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
            else err = io->syncFolderOf(databasePath_);
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

    // Each table in transactions of its own of about 16 MB, so that the log stays small; a carry
    // cut short keeps what it committed.
    for (const std::string& table : tables) {
        NSErrorPtr failure;
        if (!carryTable(old, kept, table, rows, &failure)) {
            keptPages_.reset();
            sqlite3_close(old);
            return keep(failure);
        }
    }
    keptPages_.reset();
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
    if (err == 0) err = io->syncFolderOf(carried);
    if (err != 0) {
        const NSErrorPtr moveError = fileErrorForErrno(err, *keptFile_, true);
        APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                              Value(moveError));
        setError(error, moveError);
        return false;
    }
    return true;
}

SQLitePageImage* APMSqliteStore::keptPages(sqlite3* old, const std::string& keptPath, NSErrorPtr* error) {
    if (keptPages_) return keptPages_.get();
    // Every table of the file with its declared types, from the kept file's schema as far as it
    // reads, else from this store's own: the new file was made by the same code.
    const auto tableNames = [](sqlite3* db, std::vector<std::string>& names) {
        sqlite3_stmt* statement = nullptr;
        int rc = sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &statement, nullptr);
        if (rc == SQLITE_OK) {
            while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
                if (const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) {
                    names.emplace_back(name);
                }
            }
        }
        sqlite3_finalize(statement);
        return rc == SQLITE_DONE ? SQLITE_OK : sqlite3_extended_errcode(db);
    };
    sqlite3* schema = old ? old : handle_;
    std::vector<std::string> names;
    int rc = tableNames(schema, names);
    if (rc != SQLITE_OK && old && isDamageCode(rc)) {
        names.clear();
        rc = tableNames(schema = handle_, names);
    }
    if (rc != SQLITE_OK) {
        if (schema == handle_) setDatabaseError(error, "read table list");
        else setError(error, keptFileError(old, rc));
        return nullptr;
    }
    std::vector<SQLitePageImage::TableShape> shapes;
    for (const std::string& name : names) {
        int failure = SQLITE_OK;
        sqlite3* from = schema;
        auto columns = tableColumns(from, name, failure);
        if (!columns && from == old && isDamageCode(failure)) columns = tableColumns(from = handle_, name, failure);
        if (!columns) {
            if (from == handle_) setDatabaseError(error, "read table info");
            else setError(error, keptFileError(old, failure));
            return nullptr;
        }
        if (columns && !columns->types.empty()) shapes.push_back({name, std::move(columns->types)});
    }
    // Where this store's own file has each table's root: the kept file, made by the same code, has
    // it there too, which tells apart tables of one shape when the kept schema does not read.
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle_, "SELECT name, rootpage FROM sqlite_master WHERE type = 'table'", -1, &statement,
                           nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            const sqlite3_int64 root = sqlite3_column_int64(statement, 1);
            for (SQLitePageImage::TableShape& shape : shapes) {
                if (name && shape.name == name && root > 0 && root <= UINT32_MAX)
                    shape.rootInALikeFile = static_cast<std::uint32_t>(root);
            }
        }
    }
    sqlite3_finalize(statement);
    int err = 0;
    auto pages = SQLitePageImage::open(keptPath, err);
    if (pages) err = pages->plan(shapes);
    if (err != 0) {
        setError(error, fileErrorForErrno(err, keptPath, false));
        return nullptr;
    }
    keptPages_ = std::move(pages);
    return keptPages_.get();
}

bool APMSqliteStore::carryTable(sqlite3* old, const std::string& keptPath, const std::string& table, CarriedRows& rows,
                                NSErrorPtr* error) {
    int failure = SQLITE_OK;
    std::optional<TableColumns> kept;
    if (old) {
        kept = tableColumns(old, table, failure);
        if (!kept && !isDamageCode(failure)) {
            setError(error, keptFileError(old, failure));
            return false;
        }
        // A table the old file does not have holds nothing to carry.
        if (kept && kept->names.empty()) return true;
    }
    const auto mine = tableColumns(handle_, table, failure);
    if (!mine) {
        setDatabaseError(error, "read table info");
        return false;
    }
    // The kept table's columns by position (this store's when the kept schema does not read),
    // those this table has too in that order: a record written before a column was added holds
    // the first of them.
    const TableColumns& source = kept ? *kept : *mine;
    const std::set<std::string> present(mine->names.begin(), mine->names.end());
    std::vector<std::size_t> positions;
    std::vector<std::string> shared;
    for (std::size_t i = 0; i < source.names.size(); ++i) {
        if (!present.count(source.names[i])) continue;
        positions.push_back(i);
        shared.push_back(quoted(source.names[i]));
    }
    const auto say = [&rows](const std::string& line) { rows.detail += (rows.detail.empty() ? "" : "; ") + line; };
    if (shared.empty()) {
        if (old) say(table + ": unreadable");
        return true;
    }

    // The kept file's pages first: a tree that leads to pages not its own gives other tables' rows,
    // or rows deleted long ago, without any error, so its walk is not to be believed.
    SQLitePageImage* pages = keptPages(old, keptPath, error);
    if (!pages) return false;
    const SQLitePageImage::TreeFindings findings = pages->findings(table);

    sqlite3_stmt* select = nullptr;
    if (kept && !findings.strays && sqlite3_prepare_v2(old,
                                   ("SELECT rowid, " + NSString::componentsJoinedByString(shared, ", ") + " FROM " +
                                    quoted(table) + " WHERE rowid >= ?1 ORDER BY rowid")
                                       .c_str(),
                                   -1, &select, nullptr) != SQLITE_OK) {
        sqlite3_finalize(select);
        select = nullptr;
        failure = sqlite3_extended_errcode(old);
        if (!isDamageCode(failure)) {
            setError(error, keptFileError(old, failure));
            return false;
        }
    }
    // The file's pages bound the steps past damage; its size in the smallest pages when even the
    // page count does not read.
    std::int64_t pageCount = 0;
    sqlite3_stmt* pagesStatement = nullptr;
    if (select && sqlite3_prepare_v2(old, "PRAGMA page_count", -1, &pagesStatement, nullptr) == SQLITE_OK &&
        sqlite3_step(pagesStatement) == SQLITE_ROW) {
        pageCount = sqlite3_column_int64(pagesStatement, 0);
    }
    sqlite3_finalize(pagesStatement);
    struct stat info {};
    if (select && pageCount <= 0 && FileIO::current()->status(keptPath, false, info) == 0) {
        pageCount = static_cast<std::int64_t>(info.st_size) / 512 + 1;
    }

    RowWriter writer(*this, table, shared);
    const auto writeFailed = [&] {
        setDatabaseError(error, "execute statement");
        writer.abandon();
        sqlite3_finalize(select);
        return false;
    };
    std::int64_t carried = 0;
    std::int64_t refused = 0;
    RowWalk walk(select, source.rowidKey.has_value(), pageCount);
    while (select && walk.next()) {
        const std::int64_t rowID = sqlite3_column_int64(select, 0);
        const auto outcome = writer.write(rowID, shared.size(), [&](sqlite3_stmt* insert) {
            std::size_t bytes = 0;
            for (int column = 1; column <= static_cast<int>(shared.size()); ++column) {
                sqlite3_value* value = sqlite3_column_value(select, column);
                const int type = sqlite3_value_type(value);
                bytes += type == SQLITE_TEXT || type == SQLITE_BLOB ? static_cast<std::size_t>(sqlite3_value_bytes(value))
                                                                    : 8;
                sqlite3_bind_value(insert, column + 1, value);
            }
            return bytes;
        });
        // A row an earlier carry of this file left in place counts as carried.
        if (outcome == RowWriter::Outcome::Carried || outcome == RowWriter::Outcome::Present) {
            ++carried;
        } else if (outcome == RowWriter::Outcome::Refused) {
            ++refused;
        } else {
            return writeFailed();
        }
    }
    const bool walked = select != nullptr;
    sqlite3_finalize(select);
    select = nullptr;
    if (walk.failure() != SQLITE_OK) {
        writer.abandon();
        setError(error, keptFileError(old, walk.failure()));
        return false;
    }

    // Where the walk through the tree met damage, could not start or was not to be believed, or
    // leaves no tree reaches are the table's, the rows on the leaf pages that still read, whatever
    // the pages above them hold.
    std::int64_t fromPages = 0;
    std::int64_t undecodable = 0;
    std::int64_t fromUnreached = 0;
    if (!walked || walk.metDamage() || findings.unreachedLeaves) {
        const std::int64_t undecodableBefore = pages->counts().undecodableCells;
        // The image counts a row of a leaf no tree reaches just before handing it over.
        std::int64_t unreachedSeen = pages->counts().rowsFromUnreachedLeaves;
        bool written = true;
        // Rows the walk gave were carried or refused already.
        const auto notGiven = [&walk](std::int64_t rowID) { return !walk.gave(rowID); };
        const int err = pages->forEachRow(table, notGiven, [&](std::int64_t rowID, const Value::Array& values) {
            std::size_t count = 0;
            while (count < positions.size() && positions[count] < values.size()) ++count;
            const auto outcome = writer.write(rowID, count, [&](sqlite3_stmt* insert) {
                std::size_t bytes = 0;
                for (std::size_t i = 0; i < count; ++i) {
                    const Value& value = values[positions[i]];
                    const int parameter = static_cast<int>(i) + 2;
                    // The record holds null for the column that is the rowid.
                    if (value.isNull() && source.rowidKey == positions[i]) {
                        sqlite3_bind_int64(insert, parameter, rowID);
                        bytes += 8;
                    } else {
                        bytes += bindValue(insert, parameter, value);
                    }
                }
                return bytes;
            });
            const bool unreached = pages->counts().rowsFromUnreachedLeaves != unreachedSeen;
            unreachedSeen = pages->counts().rowsFromUnreachedLeaves;
            if (outcome == RowWriter::Outcome::Carried) {
                ++carried;
                ++fromPages;
                if (unreached) ++fromUnreached;
                walk.found(rowID);
            } else if (outcome == RowWriter::Outcome::Refused) {
                ++refused;
            } else if (outcome == RowWriter::Outcome::Failed) {
                written = false;
            }
            return written;
        });
        if (!written) return writeFailed();
        if (err != 0) {
            writer.abandon();
            setError(error, fileErrorForErrno(err, keptPath, false));
            return false;
        }
        undecodable = pages->counts().undecodableCells - undecodableBefore;
    }
    if (!writer.commit()) return writeFailed();

    // Without a walk the rows that do not decode are the only ones known lost (with one, the
    // rowids it skipped count them).
    const std::int64_t unreadable = refused + walk.skipped() + (walked ? 0 : undecodable);
    // Rows of leaves that fit this table and others alike, said once, by the first of them.
    std::string unplaced;
    for (const auto& alike : pages->counts().unplaced) {
        if (alike.tables.empty() || alike.tables.front() != table) continue;
        unplaced += ", unplaced: " + std::to_string(alike.rows) + " rows that fit " +
                    NSString::componentsJoinedByString(alike.tables, " and ") + " alike";
    }
    // Leaves given by shape while the free list does not read may be freed ones: rows deleted,
    // carried again rather than lost.
    std::string freed;
    if (!pages->counts().freeListWhole && fromUnreached > 0) {
        freed = ", " + std::to_string(fromUnreached) + " from leaves no tree reaches, perhaps freed";
    }
    rows.carried += carried;
    rows.unreadable += unreadable;
    if (!walked && carried == 0 && refused == 0 && unreadable == 0) {
        // Without the kept schema an empty table and a lost one look alike.
        if (old) say(table + ": unreadable" + unplaced);
        else if (!unplaced.empty()) say(table + ":" + unplaced.substr(1));
        return true;
    }
    // Tables that held nothing go unsaid.
    if (carried == 0 && unreadable == 0 && walk.unknown().empty() && unplaced.empty()) return true;
    std::string line = table + ": " + std::to_string(carried) + " carried, " + std::to_string(unreadable) + " unreadable";
    for (const std::string& stretch : walk.unknown()) line += ", uncounted: " + stretch;
    if (!walked) line += findings.strays ? ", uncounted: every row, its tree leading to pages not its own"
                                         : ", uncounted: every row";
    if (fromPages > 0) line += ", " + std::to_string(fromPages) + " from leaf pages";
    say(line + freed + unplaced);
    return true;
}
