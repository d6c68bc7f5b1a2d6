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
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string_view>
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

// The names a kept file goes by: while its rows are not all carried, once they are, and the name
// an earlier version gave its copies whether it had carried them or not (carried once more).
constexpr const char* kUncarried = ".uncarried";
constexpr const char* kCarried = ".carried";
constexpr const char* kEarlier = ".damaged";

// The store's record of the kept rows it carried: per kept file (by name) and table, stretches
// of kept rowids, written in the transaction that carries them; a row with the table '' says
// that a read of the kept file failed. Never carried itself.
constexpr const char* kRecord = "salvage_carried";

enum class KeptKind { Uncarried, Carried, Earlier };

// A name in the store's folder that belongs to a kept file: "<file><kind>", "-<n>" after it for
// n >= 2, then a companion's suffix or none.
struct KeptName {
    KeptKind kind = KeptKind::Uncarried;
    std::uint64_t number = 1;
    std::string companion;
};

std::string keptPath(const std::string& path, KeptKind kind, std::uint64_t number) {
    const char* suffix = kind == KeptKind::Uncarried ? kUncarried : kind == KeptKind::Carried ? kCarried : kEarlier;
    return path + suffix + (number == 1 ? std::string() : "-" + std::to_string(number));
}

std::optional<KeptName> parseKeptName(const std::string& file, const std::string& name) {
    if (name.size() <= file.size() || name.compare(0, file.size(), file) != 0) return std::nullopt;
    std::string_view rest(name);
    rest.remove_prefix(file.size());
    KeptName kept;
    bool known = false;
    for (const auto& [kind, suffix] : {std::pair{KeptKind::Uncarried, kUncarried}, std::pair{KeptKind::Carried, kCarried},
                                       std::pair{KeptKind::Earlier, kEarlier}}) {
        if (rest.substr(0, std::strlen(suffix)) != suffix) continue;
        rest.remove_prefix(std::strlen(suffix));
        kept.kind = kind;
        known = true;
        break;
    }
    if (!known) return std::nullopt;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (rest.size() > 1 && rest[0] == '-' && digit(rest[1]) && rest[1] != '0') {
        std::uint64_t number = 0;
        std::size_t i = 1;
        // Past 18 digits a name is nobody's kept file.
        for (; i < rest.size() && digit(rest[i]); ++i) {
            if (i > 18) return std::nullopt;
            number = number * 10 + static_cast<std::uint64_t>(rest[i] - '0');
        }
        if (number < 2) return std::nullopt;
        kept.number = number;
        rest.remove_prefix(i);
    }
    if (rest.empty()) return kept;
    for (const char* companion : kCompanions) {
        if (*companion != '\0' && rest == companion) {
            kept.companion = companion;
            return kept;
        }
    }
    return std::nullopt;
}

// The kept names in the folder of `path`, with their paths.
std::vector<std::pair<std::string, KeptName>> listKept(FileIO& io, const std::string& path) {
    const std::string folder = NSString::stringByDeletingLastPathComponent(path);
    const std::string file = NSString::lastPathComponent(path);
    std::vector<std::string> names;
    std::vector<std::pair<std::string, KeptName>> kept;
    if (io.listFolder(folder, names) != 0) return kept;
    for (const std::string& name : names) {
        if (auto parsed = parseKeptName(file, name)) kept.emplace_back(folder + "/" + name, std::move(*parsed));
    }
    return kept;
}

bool exists(FileIO& io, const std::string& path) {
    struct stat info {};
    return io.status(path, false, info) == 0;
}

bool isRegularFile(FileIO& io, const std::string& path) {
    struct stat info {};
    return io.status(path, false, info) == 0 && S_ISREG(info.st_mode);
}

// Whether nothing stands at `path` nor where its companions go.
bool isFree(FileIO& io, const std::string& path) {
    for (const char* suffix : kCompanions) {
        if (exists(io, path + suffix)) return false;
    }
    return true;
}

// The first name of `kind` above those taken, or the bare one when it is free: a newer copy
// always has the higher number.
std::string freeKeptPath(FileIO& io, const std::string& path, KeptKind kind) {
    std::uint64_t highest = 0;
    for (const auto& [place, kept] : listKept(io, path)) {
        if (kept.kind == kind) highest = std::max(highest, kept.number);
    }
    const std::string bare = keptPath(path, kind, 1);
    if (highest == 0 && isFree(io, bare)) return bare;
    for (std::uint64_t number = std::max<std::uint64_t>(highest + 1, 2);; ++number) {
        if (isFree(io, keptPath(path, kind, number))) return keptPath(path, kind, number);
    }
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

// Removes the regular files among the kept names of `path` that `which` takes: companions
// first, each file last, so that a removal cut short never leaves a companion alone, which would
// read as a moving cut short. Anything else at a kept name was moved aside as it was found, or
// could not be: it is nobody's copy to delete. 0 or the first errno, every removal tried.
int removeKept(FileIO& io, const std::string& path, const std::function<bool(const KeptName&)>& which) {
    auto kept = listKept(io, path);
    std::erase_if(kept, [&](const auto& entry) { return !which(entry.second) || !isRegularFile(io, entry.first); });
    std::stable_partition(kept.begin(), kept.end(), [](const auto& entry) { return !entry.second.companion.empty(); });
    int first = 0;
    for (const auto& [file, name] : kept) {
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

// Whether a read that failed with `code` is the file's damage: always for SQLite's damage codes,
// and for a failing read (a bad sector) when `readFailureIsDamage`.
bool damagedRead(int code, bool readFailureIsDamage) {
    return APMSqliteStore::isDamageCode(code) || (readFailureIsDamage && code == SQLITE_IOERR_READ);
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
// fails for a reason other than damage (its code in `failure`; damagedRead tells).
std::optional<std::int64_t> resumeAfter(sqlite3_stmt* select, std::int64_t failed, int& failure,
                                        bool readFailureIsDamage) {
    const auto reads = [&](std::uint64_t rowID) {
        const int rc = readFrom(select, static_cast<std::int64_t>(rowID));
        if (rc != SQLITE_OK && !damagedRead(rc, readFailureIsDamage)) failure = rc;
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
    // `readFailureIsDamage`: as damagedRead takes it.
    RowWalk(sqlite3_stmt* select, bool rowidIsKey, std::int64_t maxResumes, bool readFailureIsDamage)
        : select_(select), rowidIsKey_(rowidIsKey), maxResumes_(maxResumes), readFailureIsDamage_(readFailureIsDamage) {}

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
            if (!damagedRead(code, readFailureIsDamage_)) {
                failure_ = code;
                return false;
            }
            metDamage_ = true;
            // Before any row, from 0: the tables hand out rowids from 1.
            constexpr std::int64_t kLastRowID = std::numeric_limits<std::int64_t>::max();
            const auto resume = last_ == kLastRowID || ++resumes_ > maxResumes_
                                    ? std::nullopt
                                    : resumeAfter(select_, last_ ? *last_ + 1 : std::max<std::int64_t>(from_, 0),
                                                  failure_, readFailureIsDamage_);
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
    bool readFailureIsDamage_;
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

// Rows of one kept file into one table of the store with their rowids, in transactions of about
// kCarriedBytesPerCommit each, each recording in kRecord the kept rowids it carried. A kept row
// an earlier carry recorded is passed over; one whose rowid a row of the store's own took (the
// store took events while the kept file waited) is held back and written under a new rowid as
// the transaction commits, above the kept rows before it: written at once, it would take the
// rowid of the next kept row, and that one the next, to the end of the table.
class RowWriter {
public:
    enum class Outcome { Carried, Present, Refused, Failed };

    // `columns`: quoted names; a row may give values for the first of them only.
    RowWriter(APMSqliteStore& store, const std::string& keptPath, std::string table, std::vector<std::string> columns)
        : store_(store), kept_(NSString::lastPathComponent(keptPath)), table_(std::move(table)),
          columns_(std::move(columns)), inserts_(columns_.size() + 1), moves_(columns_.size() + 1),
          captures_(columns_.size() + 1) {}
    ~RowWriter() {
        for (sqlite3_stmt* insert : inserts_) sqlite3_finalize(insert);
        for (sqlite3_stmt* move : moves_) sqlite3_finalize(move);
        for (sqlite3_stmt* capture : captures_) sqlite3_finalize(capture);
        sqlite3_finalize(lookup_);
        sqlite3_finalize(record_);
        dropHeldBack();
    }
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    // `bind(insert)` binds the values of the first `count` columns from parameter 2 on and
    // answers their bytes. On Failed the connection's error tells why; abandon() then.
    template <typename Bind>
    Outcome write(std::int64_t rowID, std::size_t count, Bind&& bind) {
        if (!loaded_ && !load()) return Outcome::Failed;
        if (within(rowID) || heldBackIDs_.count(rowID)) return Outcome::Present;
        sqlite3_stmt* insert = statementFor(count);
        if (!insert) return Outcome::Failed;
        if (!inTransaction_) {
            if (!store_.beginTransaction()) return Outcome::Failed;
            inTransaction_ = true;
        }
        sqlite3_bind_int64(insert, 1, rowID);
        bytes_ += bind(insert);
        const Outcome outcome = step(insert);
        if (outcome == Outcome::Refused) {
            // Asked only when the row is refused: a row new to the table, the common one, costs
            // no lookup.
            const auto taken = hasRow(rowID);
            if (!taken) return Outcome::Failed;
            if (*taken) {
                if (!holdBack(rowID, count, bind)) return Outcome::Failed;
                if (bytes_ >= kCarriedBytesPerCommit && !commit()) return Outcome::Failed;
                return Outcome::Carried;
            }
        }
        if (outcome == Outcome::Failed) return outcome;
        note(rowID);
        if (bytes_ >= kCarriedBytesPerCommit && !commit()) return Outcome::Failed;
        return outcome;
    }
    bool commit() {
        if (!inTransaction_) return true;
        if (!writeHeldBack() || !writeRecord()) return false;
        inTransaction_ = false;
        bytes_ = 0;
        return store_.endTransaction();
    }
    // Rolls back what the transaction under way wrote.
    void abandon() {
        for (sqlite3_stmt* statements : inserts_) {
            if (statements) sqlite3_reset(statements);
        }
        for (sqlite3_stmt* move : moves_) {
            if (move) sqlite3_reset(move);
        }
        if (record_) sqlite3_reset(record_);
        if (sqlite3_get_autocommit(store_.sqliteHandle()) == 0) (void)store_.rollbackTransaction();
        inTransaction_ = false;
        unrecorded_.clear();
        dropHeldBack();
    }

private:
    // Carried (or refused: the row is done with either way) on SQLITE_DONE or a refusal by the
    // row; the statement reset either way.
    Outcome step(sqlite3_stmt* statement) {
        Outcome outcome = Outcome::Failed;
        if (sqlite3_step(statement) == SQLITE_DONE) outcome = Outcome::Carried;
        else if (refusedByTheRow(sqlite3_extended_errcode(store_.sqliteHandle()))) outcome = Outcome::Refused;
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        return outcome;
    }
    // Keeps a copy of the row's values: `bind` binds them to a statement that answers them.
    template <typename Bind>
    bool holdBack(std::int64_t rowID, std::size_t count, Bind&& bind) {
        sqlite3_stmt*& capture = captures_[count];
        if (!capture) {
            std::string values = "?1";
            for (std::size_t i = 0; i < count; ++i) values += ", ?" + std::to_string(i + 2);
            capture = store_.prepareSQL("SELECT " + values, nullptr);
            if (!capture) return false;
        }
        bytes_ += bind(capture);
        const bool read = sqlite3_step(capture) == SQLITE_ROW;
        HeldBack row{rowID, {}};
        for (std::size_t i = 0; read && i < count; ++i) {
            row.values.push_back(sqlite3_value_dup(sqlite3_column_value(capture, static_cast<int>(i) + 1)));
        }
        sqlite3_reset(capture);
        sqlite3_clear_bindings(capture);
        const bool copied = read && std::find(row.values.begin(), row.values.end(), nullptr) == row.values.end();
        heldBack_.push_back(std::move(row));
        heldBackIDs_.insert(rowID);
        return copied;
    }
    // The rows held back, under new rowids, into the transaction under way.
    bool writeHeldBack() {
        for (const HeldBack& row : heldBack_) {
            sqlite3_stmt* move = moveStatementFor(row.values.size());
            if (!move) return false;
            for (std::size_t i = 0; i < row.values.size(); ++i) {
                sqlite3_bind_value(move, static_cast<int>(i) + 2, row.values[i]);
            }
            if (step(move) == Outcome::Failed) return false;
            note(row.rowID);
        }
        dropHeldBack();
        return true;
    }
    void dropHeldBack() {
        for (HeldBack& row : heldBack_) {
            for (sqlite3_value* value : row.values) sqlite3_value_free(value);
        }
        heldBack_.clear();
        heldBackIDs_.clear();
    }
    // The stretches an earlier carry of this kept file recorded for the table.
    bool load() {
        sqlite3_stmt* select = store_.prepareSQL(
            std::string("SELECT first, last FROM ") + kRecord + " WHERE kept = ?1 AND tbl = ?2", nullptr);
        if (!select) return false;
        sqlite3_bind_text(select, 1, kept_.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(select, 2, table_.c_str(), -1, SQLITE_STATIC);
        int rc;
        while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
            done_[sqlite3_column_int64(select, 0)] = sqlite3_column_int64(select, 1);
        }
        sqlite3_finalize(select);
        loaded_ = rc == SQLITE_DONE;
        return loaded_;
    }
    bool within(std::int64_t rowID) const {
        auto after = done_.upper_bound(rowID);
        return after != done_.begin() && rowID <= (--after)->second;
    }
    // Kept rows come mostly in rowid order: the stretches stay few.
    void note(std::int64_t rowID) {
        constexpr std::int64_t kLast = std::numeric_limits<std::int64_t>::max();
        if (!unrecorded_.empty() && unrecorded_.back().second != kLast && unrecorded_.back().second + 1 == rowID) {
            unrecorded_.back().second = rowID;
        } else {
            unrecorded_.emplace_back(rowID, rowID);
        }
        auto after = done_.upper_bound(rowID);
        if (after != done_.begin()) {
            const auto before = std::prev(after);
            if (before->second != kLast && before->second + 1 == rowID) {
                before->second = rowID;
                if (after != done_.end() && rowID != kLast && after->first == rowID + 1) {
                    before->second = after->second;
                    done_.erase(after);
                }
                return;
            }
        }
        if (after != done_.end() && rowID != kLast && after->first == rowID + 1) {
            const std::int64_t last = after->second;
            done_.erase(after);
            done_[rowID] = last;
            return;
        }
        done_[rowID] = rowID;
    }
    // The stretches carried in the transaction under way, into it.
    bool writeRecord() {
        if (unrecorded_.empty()) return true;
        if (!record_) {
            record_ = store_.prepareSQL(
                std::string("INSERT INTO ") + kRecord + " (kept, tbl, first, last) VALUES (?1, ?2, ?3, ?4)", nullptr);
            if (!record_) return false;
        }
        for (const auto& [first, last] : unrecorded_) {
            sqlite3_bind_text(record_, 1, kept_.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(record_, 2, table_.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_int64(record_, 3, first);
            sqlite3_bind_int64(record_, 4, last);
            const int rc = sqlite3_step(record_);
            sqlite3_reset(record_);
            if (rc != SQLITE_DONE) return false;
        }
        unrecorded_.clear();
        return true;
    }
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
    // The same insert under a new rowid: the column that is the rowid, if given, takes null too.
    sqlite3_stmt* moveStatementFor(std::size_t count) {
        if (moves_[count]) return moves_[count];
        if (!keyColumn_) {
            int failure = SQLITE_OK;
            const auto mine = tableColumns(store_.sqliteHandle(), table_, failure);
            if (!mine) return nullptr;
            keyColumn_ = mine->rowidKey ? quoted(mine->names[*mine->rowidKey]) : std::string();
        }
        std::string names = "rowid";
        std::string values = "NULL";
        for (std::size_t i = 0; i < count; ++i) {
            names += ", " + columns_[i];
            values += columns_[i] == *keyColumn_ ? ", NULL" : ", ?" + std::to_string(i + 2);
        }
        return moves_[count] =
                   store_.prepareSQL("INSERT INTO " + quoted(table_) + " (" + names + ") VALUES (" + values + ")", nullptr);
    }

    APMSqliteStore& store_;
    const std::string kept_;
    std::string table_;
    std::vector<std::string> columns_;
    // By the number of columns given.
    std::vector<sqlite3_stmt*> inserts_;
    std::vector<sqlite3_stmt*> moves_;
    std::vector<sqlite3_stmt*> captures_;
    sqlite3_stmt* lookup_ = nullptr;
    sqlite3_stmt* record_ = nullptr;
    // The quoted name of the store's column that is the rowid, "" when none; once asked.
    std::optional<std::string> keyColumn_;
    bool loaded_ = false;
    // The kept rowids carried, by earlier carries and this one: first -> last of each stretch.
    std::map<std::int64_t, std::int64_t> done_;
    // Those of the transaction under way, not yet in kRecord.
    std::vector<std::pair<std::int64_t, std::int64_t>> unrecorded_;
    // Kept rows whose rowid the store's own rows took, with copies of their values, until the
    // transaction commits.
    struct HeldBack {
        std::int64_t rowID;
        std::vector<sqlite3_value*> values;
    };
    std::vector<HeldBack> heldBack_;
    std::set<std::int64_t> heldBackIDs_;
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

namespace {

// The line (34026) that files stay as they are for the next opening, and why.
void sayKeptForTheNextOpening(const NSErrorPtr& failure) {
    APMMeasurementMonitor()->logWithLevel(1, 34026, "Kept the database file as it is for the next opening. Error",
                                          failure ? Value(failure) : Value());
}

// The name a kept file goes by in kRecord.
std::string recordName(const std::string& keptPath) { return NSString::lastPathComponent(keptPath); }

// Steps `sql` once on the store with `kept` bound to ?1: SQLITE_ROW, SQLITE_DONE or the failure.
int stepWithKept(APMSqliteStore& store, const std::string& sql, const std::string& kept) {
    sqlite3_stmt* statement = store.prepareSQL(sql, nullptr);
    if (!statement) return SQLITE_ERROR;
    sqlite3_bind_text(statement, 1, kept.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    return rc;
}

}  // namespace

void APMSqliteStore::deleteKeptFiles(const std::string& path) {
    const auto io = FileIO::current();
    (void)removeKept(*io, path, [](const KeptName&) { return true; });
}

void APMSqliteStore::resumeSalvage() {
    const auto io = FileIO::current();
    keptFiles_.clear();
    // What stands at a kept name and is no regular file goes aside as at the store's own place,
    // never followed: it would stop every carry, or have one read or write elsewhere.
    for (const auto& [place, kept] : listKept(*io, databasePath_)) {
        if (const int err = moveAsideWhatIsNoFile(place)) {
            APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                                  Value(fileErrorForErrno(err, place, true)));
        }
    }
    std::set<std::uint64_t> uncarried;
    for (const auto& [place, kept] : listKept(*io, databasePath_)) {
        if (kept.kind == KeptKind::Uncarried) uncarried.insert(kept.number);
    }
    // Setting aside cut short: the file is still here, some of its companions went ahead to the
    // name it was taking, where no file stands yet. Only a file found damaged is ever moved: the
    // moving is finished, never undone. A companion alone at any other name proves nothing, and
    // no file moves on its evidence: whatever stands at a kept name is carried as it is.
    for (const std::uint64_t number : uncarried) {
        const std::string aside = keptPath(databasePath_, KeptKind::Uncarried, number);
        if (exists(*io, aside) || !isRegularFile(*io, databasePath_)) continue;
        bool goneAhead = false;
        bool clash = false;
        for (const char* suffix : kCompanions) {
            if (*suffix == '\0' || !exists(*io, aside + suffix)) continue;
            goneAhead = true;
            clash = clash || exists(*io, databasePath_ + suffix);
        }
        if (!goneAhead || clash) continue;
        int err = moveWithCompanions(*io, databasePath_, aside);
        if (err == 0) err = io->syncFolderOf(aside);
        if (err != 0) {
            APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                                  Value(fileErrorForErrno(err, databasePath_, true)));
        }
        // The file moves to one name at a time.
        break;
    }
    // Oldest first: an earlier version's copy, then this version's by number.
    const std::string earlier = keptPath(databasePath_, KeptKind::Earlier, 1);
    if (isRegularFile(*io, earlier)) keptFiles_.push_back(earlier);
    for (const std::uint64_t number : uncarried) {
        const std::string kept = keptPath(databasePath_, KeptKind::Uncarried, number);
        if (isRegularFile(*io, kept)) keptFiles_.push_back(kept);
    }
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
    if (lastFailureWasTheFiles()) return replaceUnusableFile(failure, error);
    keepFileForNextOpening(failure);
    setError(error, failure);
    return false;
}

void APMSqliteStore::keepFileForNextOpening(const NSErrorPtr& failure) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    closeDatabase();
    keptFiles_.clear();
    sayKeptForTheNextOpening(failure);
}

bool APMSqliteStore::replaceUnusableFile(const NSErrorPtr& reason, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    closeDatabase();
    // Read before the file goes: the account of what it held, whatever is carried later.
    const std::string contents = contentsOfFile(databasePath_);
    const auto io = FileIO::current();
    if (damagedFile_ == DamagedFile::Kept) {
        // Kept aside even while an earlier kept file waits: the store took rows of its own since.
        const std::string aside = freeKeptPath(*io, databasePath_, KeptKind::Uncarried);
        int err = moveWithCompanions(*io, databasePath_, aside);
        // Undone when it cannot be finished, so that the file stays as it was.
        if (err != 0) (void)moveWithCompanions(*io, aside, databasePath_);
        else err = io->syncFolderOf(databasePath_);
        if (err != 0) {
            const NSErrorPtr moveError = fileErrorForErrno(err, databasePath_, true);
            APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                                  Value(moveError));
            setError(error, moveError);
            return false;
        }
        keptFiles_.push_back(aside);
        APMMeasurementMonitor()->logWithLevel(1, 34023,
                                              "Replaced an unreadable database with an empty one, kept aside. Kept "
                                              "as, held, error",
                                              Value(aside), Value(contents), reason ? Value(reason) : Value());
    } else {
        // Nothing is lost by the removal: the owner fetches the data again.
        if (const int err = removeWithCompanions(*io, databasePath_)) {
            const NSErrorPtr removeError = fileErrorForErrno(err, databasePath_, true);
            APMMeasurementMonitor()->logWithLevel(1, 34019, "Failed to delete database. Error", Value(removeError));
            setError(error, removeError);
            return false;
        }
        APMMeasurementMonitor()->logWithLevel(1, 34023,
                                              "Deleted an unreadable database and put an empty one in its place. "
                                              "Held, error",
                                              Value(contents), reason ? Value(reason) : Value());
    }
    if (!openAndValidateDatabase(error)) {
        closeDatabase();
        keptFiles_.clear();
        return false;
    }
    return true;
}

std::optional<APMSqliteStore::CarriedRows> APMSqliteStore::carryRowsFromKeptFile(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    CarriedRows rows;
    if (keptFiles_.empty()) return rows;
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition, "Database not open")) return std::nullopt;
    NSErrorPtr recordError;
    if (!executeSQL(std::string("CREATE TABLE IF NOT EXISTS ") + kRecord +
                        " (kept TEXT NOT NULL, tbl TEXT NOT NULL, first INTEGER NOT NULL, last INTEGER NOT NULL)",
                    &recordError)) {
        sayKeptForTheNextOpening(recordError);
        setError(error, recordError);
        return std::nullopt;
    }
    // What is recorded of a kept file no longer there was left by a naming that a kill cut short
    // before the record went; the name may be given to another file later.
    std::set<std::string> keptNames;
    for (const std::string& kept : keptFiles_) keptNames.insert(recordName(kept));
    std::set<std::string> recorded;
    if (sqlite3_stmt* statement = prepareSQL(std::string("SELECT DISTINCT kept FROM ") + kRecord, nullptr)) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            if (const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) recorded.insert(name);
        }
        sqlite3_finalize(statement);
    }
    for (const std::string& name : recorded) {
        if (!keptNames.count(name)) (void)stepWithKept(*this, std::string("DELETE FROM ") + kRecord + " WHERE kept = ?1", name);
    }

    std::vector<std::string> waiting;
    NSErrorPtr firstFailure;
    bool anyCarried = false;
    for (const std::string& kept : keptFiles_) {
        NSErrorPtr failure;
        bool readFailed = false;
        if (carryKeptFile(kept, rows, readFailed, &failure)) {
            anyCarried = true;
            continue;
        }
        // The next carry of this file takes a read that fails again for a damaged page: a bad
        // sector would otherwise keep its rows from ever being carried.
        if (readFailed) {
            (void)stepWithKept(*this, std::string("INSERT INTO ") + kRecord + " VALUES (?1, '', 0, 0)", recordName(kept));
        }
        sayKeptForTheNextOpening(failure);
        waiting.push_back(kept);
        if (!firstFailure) firstFailure = failure;
    }
    keptFiles_ = waiting;
    readFailureIsDamage_ = false;
    if (anyCarried) {
        APMMeasurementMonitor()->logWithLevel(4, 34025,
                                              "Carried the rows that still read from the kept database into the new "
                                              "one. Carried, unreadable, tables",
                                              Value(static_cast<long long>(rows.carried)),
                                              Value(static_cast<long long>(rows.unreadable)), Value(rows.detail));
    }
    // A record left by a kill after its file was named goes too.
    if (waiting.empty()) (void)executeSQL(std::string("DROP TABLE IF EXISTS ") + kRecord, nullptr);
    if (firstFailure) {
        setError(error, firstFailure);
        return std::nullopt;
    }
    return rows;
}

bool APMSqliteStore::carryKeptFile(const std::string& kept, CarriedRows& rows, bool& readFailed, NSErrorPtr* error) {
    readFailed = false;
    readFailureIsDamage_ =
        stepWithKept(*this, std::string("SELECT 1 FROM ") + kRecord + " WHERE kept = ?1 AND tbl = ''", recordName(kept)) ==
        SQLITE_ROW;
    CarriedRows own;
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
        if (!damagedRead(code, readFailureIsDamage_)) {
            readFailed = true;
            APMSetError(error, APMErrorStorage,
                        "Failed to read the kept database file " + kept + " (sqlite code " + std::to_string(code) +
                            "): " + message);
            return false;
        }
        own.detail = "no table readable";
    }
    // This store's tables: the kept file was made by the same code.
    std::vector<std::string> tables;
    sqlite3_stmt* statement = prepareSQL(std::string("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT "
                                                     "LIKE 'sqlite%' AND name <> '") +
                                             kRecord + "' ORDER BY name",
                                         error);
    if (!statement) {
        sqlite3_close(old);
        return false;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        if (const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) tables.emplace_back(name);
    }
    sqlite3_finalize(statement);

    // Each table in transactions of its own of about 16 MB, so that the log stays small; a carry
    // cut short keeps what it committed, and the record of it.
    for (const std::string& table : tables) {
        // A failure of this store's notes its code; a read of the kept file's does not.
        noteFailure(0);
        if (!carryTable(old, kept, table, own, error)) {
            readFailed = lastFailure_ == 0;
            keptPages_.reset();
            sqlite3_close(old);
            return false;
        }
    }
    keptPages_.reset();
    sqlite3_close(old);
    if (!nameKeptFileCarried(kept, error)) return false;
    rows.carried += own.carried;
    rows.unreadable += own.unreadable;
    if (!own.detail.empty()) rows.detail += (rows.detail.empty() ? "" : "; ") + own.detail;
    return true;
}

bool APMSqliteStore::nameKeptFileCarried(const std::string& kept, NSErrorPtr* error) {
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
    // The older copies go first, where they can: one that stays keeps neither the store from its
    // use nor this file from a name, which is then the next free one. An earlier version's copy
    // is carried before it goes; only the names no version carries go with the older copies.
    (void)removeKept(*io, databasePath_, [](const KeptName& name) {
        return name.kind == KeptKind::Carried || (name.kind == KeptKind::Earlier && name.number >= 2);
    });
    // The folder is synced before the record goes and anything deletes a carried row, so that no
    // cut brings the kept name back without the record, and has rows carried and delivered twice.
    const std::string carried = freeKeptPath(*io, databasePath_, KeptKind::Carried);
    int err = moveWithCompanions(*io, kept, carried);
    if (err == 0) err = io->syncFolderOf(carried);
    if (err != 0) {
        const NSErrorPtr moveError = fileErrorForErrno(err, kept, true);
        APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                              Value(moveError));
        setError(error, moveError);
        return false;
    }
    (void)stepWithKept(*this, std::string("DELETE FROM ") + kRecord + " WHERE kept = ?1", recordName(kept));
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
    auto pages = SQLitePageImage::open(keptPath, err, readFailureIsDamage_);
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

    RowWriter writer(*this, keptPath, table, shared);
    const auto writeFailed = [&] {
        setDatabaseError(error, "execute statement");
        writer.abandon();
        sqlite3_finalize(select);
        return false;
    };
    std::int64_t carried = 0;
    std::int64_t refused = 0;
    RowWalk walk(select, source.rowidKey.has_value(), pageCount, readFailureIsDamage_);
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
