// One connection to a content database in Documents (copied there from the bundle on first
// use) with its single current statement; rows come back as dictionaries of strings.
#include "content/SQLiteEngine.h"

#include "content/ContentLog.h"
#include "config/FileSystem.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/sqlite/SQLiteVFS.h"

#include <sqlite3.h>
#include <strings.h>

namespace {

std::string fileNameOf(const std::string& path) { return NSString::lastPathComponent(path); }

// Why each database file was last refused. Every screen and service opens a connection of its
// own, so a file that stays unusable would be told at each of them; a file that opens again is
// forgotten, so that a later refusal is told anew. A file whose pages a statement found damaged
// is refused from then on, for as long as the process runs: its header and schema open well,
// so only reading its rows tells.
struct Refusals {
    Mutex mutex;
    std::map<std::string, std::string> last GUARDED_BY(mutex);
    std::map<std::string, std::string> damaged GUARDED_BY(mutex);
};

Refusals& refusals() {
    static Refusals instance;
    return instance;
}

void tellRefusal(const std::string& path, const std::string& sentence) {
    auto& told = refusals();
    {
        MutexLock lock(told.mutex);
        auto& last = told.last[path];
        if (last == sentence) return;
        last = sentence;
    }
    ContentLog::log(sentence);
}

void forgetRefusal(const std::string& path) {
    auto& told = refusals();
    MutexLock lock(told.mutex);
    told.last.erase(path);
}

std::string refusalSentence(const std::string& path, const std::string& why) {
    return NSString::format("The content database %@ is not one the application can use (%@); it is left as it is.",
                            fileNameOf(path), why);
}

// Whether `rc` says that pages a statement read are not what their file's own structure says
// they are. A refused attach says so of the file being attached, which is attached nowhere: that
// is the attaching caller's to tell.
bool meansDamage(int rc, const std::string& sql) {
    const int primary = rc & 0xff;
    if (primary != SQLITE_CORRUPT && primary != SQLITE_NOTADB) return false;
    const auto start = sql.find_first_not_of(" \t\r\n");
    return start == std::string::npos || strncasecmp(sql.c_str() + start, "attach", 6) != 0;
}

// SQLite's words for the damage a statement met in the file at `path`, when one did.
std::optional<std::string> damageOf(const std::string& path) {
    auto& told = refusals();
    MutexLock lock(told.mutex);
    const auto it = told.damaged.find(path);
    if (it == told.damaged.end()) return std::nullopt;
    return it->second;
}

// Marks the file damaged and tells whoever shows its rows; its refusal sentence (with the first
// words found for its damage) is logged once.
std::string markDamaged(const std::string& path, const std::string& why) {
    std::string sentence;
    {
        auto& told = refusals();
        MutexLock lock(told.mutex);
        sentence = refusalSentence(path, told.damaged.try_emplace(path, why).first->second);
    }
    tellRefusal(path, sentence);
    NSNotificationCenter::defaultCenter()->postNotificationName(
        SQLiteEngine::kDamagedPagesMessage, nullptr, {{SQLiteEngine::kDamagedFilePathKey, Value(path)}});
    return sentence;
}

// Binds one value; false when SQLite refuses it.
bool bindOne(sqlite3_stmt* stmt, const Value& value, int index) {
    switch (value.type()) {
    case Value::Type::Null:
        return sqlite3_bind_null(stmt, index) == SQLITE_OK;
    case Value::Type::Bool:
    case Value::Type::Integer:
    case Value::Type::Unsigned:
        return sqlite3_bind_int64(stmt, index, value.longLongValue()) == SQLITE_OK;
    case Value::Type::Double:
        return sqlite3_bind_double(stmt, index, value.doubleValue()) == SQLITE_OK;
    case Value::Type::Data: {
        const NSData& data = value.data();
        return sqlite3_bind_blob(stmt, index, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT) ==
               SQLITE_OK;
    }
    default: {
        const std::string text = value.stringValue();
        return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) ==
               SQLITE_OK;
    }
    }
}

std::string columnText(sqlite3_stmt* stmt, int column) {
    const auto* text = sqlite3_column_text(stmt, column);
    if (!text) return std::string();
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
}

// The shape of a statement's rows: one key table that every row shares, and the place in it of
// each column's value (a later column of the same name takes the earlier one's place).
struct RowShape {
    Value::Dictionary::SharedKeys keys;
    std::vector<std::size_t> places;

    explicit RowShape(sqlite3_stmt* stmt) {
        const int count = sqlite3_column_count(stmt);
        std::vector<std::string> names;
        names.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(stmt, i);
            names.emplace_back(name ? name : "");
        }
        keys = Value::Dictionary::Keys::make(names);
        places.reserve(names.size());
        for (const auto& name : names) places.push_back(keys->position(name));
    }

    // The current row, each value read once straight into its place.
    Value::Dictionary row(sqlite3_stmt* stmt) const {
        std::vector<Value> values;
        if (places.size() == keys->size()) {
            // Every name once: column i is key i.
            values.reserve(places.size());
            for (std::size_t i = 0; i < places.size(); ++i) values.emplace_back(columnText(stmt, static_cast<int>(i)));
        } else {
            values.resize(keys->size());
            for (std::size_t i = 0; i < places.size(); ++i) values[places[i]] = Value(columnText(stmt, static_cast<int>(i)));
        }
        return Value::Dictionary(keys, std::move(values));
    }
};

}  // namespace

SQLiteEngine::SQLiteEngine(std::string path) : path_(std::move(path)) {}

SQLiteEngine::~SQLiteEngine() {
    finalizeStatement();
    if (db_) sqlite3_close_v2(db_);
}

std::shared_ptr<SQLiteEngine> SQLiteEngine::init(const std::string& fileName, const FileSystem& fileSystem,
                                                 const std::vector<ExpectedTable>& expected) {
    if (!FileSystem::isSafeRelativePath(fileName)) {
        ContentLog::log(NSString::format("The content database name \"%@\" is not a plain file name, so it is not opened.",
                                         fileName));
        return nullptr;
    }
    const auto target = fileSystem.safeDocumentsPathForFile(fileName, true);
    if (!target) {
        ContentLog::log(NSString::format("The Documents folder is not available for the content database %@.", fileName));
        return nullptr;
    }
    auto manager = NSFileManager::defaultManager();
    // Loaders made together on several threads must not copy the same file at once.
    static Mutex copyMutex;
    MutexLock copyGuard(copyMutex);
    if (!manager->fileExistsAtPath(*target)) {
        const std::string bundled = NSBundle::mainBundle()->pathForResource(fileName, "");
        if (bundled.empty()) {
            ContentLog::log(NSString::format("The content database %@ is neither in Documents nor in the bundle.", fileName));
            return nullptr;
        }
        // Copy beside the target and rename, so an interrupted copy never leaves a partial database
        // that would be used, unrefreshed, from then on.
        const std::string partial = *target + ".copying";
        // Usually there is none; one that will not go makes the copy below fail and say so.
        (void)manager->removeItemAtPath(partial);
        NSErrorPtr error;
        // The bytes, whatever the bundle's file is: a link copied as a link would send every
        // write into the bundle.
        if (!manager->copyContentsOfItemAtPath(bundled, partial, &error) ||
            !manager->moveItemAtPath(partial, *target, &error)) {
            // The failure to tell is the copy's; a leftover is removed before the next attempt.
            (void)manager->removeItemAtPath(partial);
            ContentLog::log(NSString::format("The content database %@ could not be copied from the bundle. %@", fileName,
                                             error ? error->localizedDescription() : std::string("Unknown error.")));
            return nullptr;
        }
        if (!FileSystem::setNoBackupAttribute(*target)) {
            ContentLog::log(NSString::format("The content database %@ could not be marked to stay out of backups.",
                                             fileName));
        }
    }
    if (const auto why = damageOf(*target)) {
        tellRefusal(*target, refusalSentence(*target, *why));
        return nullptr;
    }
    std::shared_ptr<SQLiteEngine> engine(new SQLiteEngine(*target));
    if (!engine->open(false) || !engine->holds(expected)) return nullptr;
    forgetRefusal(*target);
    return engine;
}

std::size_t SQLiteEngine::refusedFileCount() {
    auto& told = refusals();
    MutexLock lock(told.mutex);
    std::set<std::string> files;
    for (const auto& entry : told.last) files.insert(entry.first);
    for (const auto& entry : told.damaged) files.insert(entry.first);
    return files.size();
}

void SQLiteEngine::forgetRefusals() {
    auto& told = refusals();
    MutexLock lock(told.mutex);
    told.last.clear();
    told.damaged.clear();
}

bool SQLiteEngine::isDamaged() const { return damageOf(path_).has_value(); }

std::shared_ptr<SQLiteEngine> SQLiteEngine::initWithPath(const std::string& path, bool create) {
    std::shared_ptr<SQLiteEngine> engine(new SQLiteEngine(path));
    if (!engine->open(create)) return nullptr;
    forgetRefusal(path);
    return engine;
}

bool SQLiteEngine::open(bool create) {
    // Content databases open without the create flag: one that vanished must not come back empty.
    // A connection is used from one sequence at a time (asserted in checked builds), so SQLite
    // need not lock it on every call: a list reads each column of each row through two calls.
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path_.c_str(), &db_, flags, SQLiteFileIOVFSName());
    if (rc != SQLITE_OK) {
        tellRefusal(path_, NSString::format("The content database %@ could not be opened: %@.", fileNameOf(path_),
                                            std::string(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc))));
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
        return false;
    }
    // Concurrent connections on one file (a reader while a favourite is written) wait for each
    // other instead of failing at once.
    sqlite3_busy_timeout(db_, static_cast<int>(busyTimeout_.count()));
    // Catalogue lists sort wide rows (every column of a picture and its author); sorting them in
    // memory rather than in temporary files keeps a whole-catalogue list several times faster.
    // Without it they are only slower, so a refusal is noted and the database used all the same.
    if (sqlite3_exec(db_, "pragma temp_store = memory", nullptr, nullptr, nullptr) != SQLITE_OK) {
        ContentLog::log(NSString::format("The content database %@ sorts in temporary files: %@.", fileNameOf(path_),
                                         std::string(sqlite3_errmsg(db_))));
    }
    return true;
}

bool SQLiteEngine::holds(const std::vector<ExpectedTable>& expected) {
    for (const auto& table : expected) {
        const auto quotedTable = OESQLIdentifier::quoted(table.name);
        if (!quotedTable) continue;
        // Qualified, so that a missing column is not read as a string literal.
        std::string columns;
        for (const auto& column : table.columns) {
            const auto quoted = OESQLIdentifier::quoted(column);
            if (quoted) columns += (columns.empty() ? "" : ", ") + *quotedTable + "." + *quoted;
        }
        const std::string sql = "select " + (columns.empty() ? std::string("1") : columns) + " from " + *quotedTable;
        // Preparing reads the schema, as the first statement would, and runs nothing.
        sqlite3_stmt* stmt = nullptr;
        const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
        const std::string why = rc == SQLITE_OK ? std::string() : std::string(sqlite3_errmsg(db_));
        sqlite3_finalize(stmt);
        // A writer holding the file past the busy time-out says nothing about what it holds.
        if (rc == SQLITE_OK || (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) continue;
        tellRefusal(path_, refusalSentence(path_, why));
        return false;
    }
    return true;
}

void SQLiteEngine::setBusyTimeout(std::chrono::milliseconds timeout) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    busyTimeout_ = timeout;
    if (db_) sqlite3_busy_timeout(db_, static_cast<int>(timeout.count()));
}

void SQLiteEngine::finalizeStatement() {
    if (dbps_) {
        sqlite3_finalize(dbps_);
        dbps_ = nullptr;
    }
}

void SQLiteEngine::reportFailure(const std::string& what, const std::string& sql, int rc, NSErrorPtr* error) const {
    if (db_ && meansDamage(rc, sql)) {
        // Told once for the file, as its refusal at the next opening will be, not at every
        // statement that meets the damage.
        const std::string why = sqlite3_errmsg(db_);
        std::vector<std::string> damaged;
        if (!sqlite3_db_name(db_, 2)) {
            damaged.push_back(path_);
        } else {
            // With other files attached the damage may be any one's: the file marked is the one
            // whose pages do not read. Only a failure comes here, so reading them whole costs an
            // ordinary run nothing.
            for (int i = 0; const char* schema = sqlite3_db_name(db_, i); ++i) {
                if (i == 1) continue;  // "temp", no file of the user's
                int checked = SQLITE_OK;
                const std::string answer = quickCheck(schema, checked);
                const int primary = checked & 0xff;
                if ((checked == SQLITE_OK && answer != "ok") || primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
                    if (const std::string file = fileOf(schema); !file.empty()) damaged.push_back(file);
                }
            }
        }
        if (!damaged.empty()) {
            std::string sentence;
            for (const auto& file : damaged) {
                const std::string told = markDamaged(file, why);
                if (sentence.empty()) sentence = told;
            }
            setError(error, contentError(OEContentErrorDamaged, sentence));
            return;
        }
    }
    // The statement's first words say which query failed without echoing whole statements.
    std::string head = sql.substr(0, 60);
    if (sql.size() > 60) head += "...";
    const std::string sentence = NSString::format("The content database %@ %@ (%@): %@.", fileNameOf(path_), what,
                                                  head, std::string(db_ ? sqlite3_errmsg(db_) : "not open"));
    const int primary = rc & 0xff;
    OEContentErrorCode code = OEContentErrorStatement;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) code = OEContentErrorBusy;
    if (primary == SQLITE_CONSTRAINT) code = OEContentErrorConstraint;
    // A primary-key clash is an expected answer (a favourite added twice), not a fault.
    if (code != OEContentErrorConstraint) ContentLog::log(sentence);
    setError(error, contentError(code, sentence));
}

bool SQLiteEngine::prepareRequest(const std::string& sql, const Value::Array& parameters, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    finalizeStatement();
    if (!db_) {
        reportFailure("is not open", sql, SQLITE_MISUSE, error);
        return false;
    }
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK || !stmt) {
        reportFailure("could not prepare a statement", sql, rc == SQLITE_OK ? SQLITE_MISUSE : rc, error);
        if (stmt) sqlite3_finalize(stmt);
        return false;
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (!bindOne(stmt, parameters[i], static_cast<int>(i) + 1)) {
            reportFailure("could not bind a value", sql, SQLITE_RANGE, error);
            sqlite3_finalize(stmt);
            return false;
        }
    }
    dbps_ = stmt;
    return true;
}

bool SQLiteEngine::execRequest(const std::string& sql, const Value::Array& parameters, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    endRequest();
    if (!prepareRequest(sql, parameters, error)) return false;
    const int rc = step(error);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

int SQLiteEngine::step(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!dbps_) {
        setError(error, contentError(OEContentErrorStatement, "There is no statement to step."));
        return SQLITE_ERROR;
    }
    const int rc = sqlite3_step(dbps_);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        reportFailure("could not step a statement", sqlite3_sql(dbps_) ? sqlite3_sql(dbps_) : "", rc, error);
    }
    return rc;
}

bool SQLiteEngine::nextRow(NSErrorPtr* error) { return step(error) == SQLITE_ROW; }

void SQLiteEngine::endRequest() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    finalizeStatement();
}

int SQLiteEngine::columnCount() const {
    OSTREL_CHECK_SEQUENCE(sequence_);
    return dbps_ ? sqlite3_column_count(dbps_) : 0;
}

std::int32_t SQLiteEngine::getInt(int column) const {
    OSTREL_CHECK_SEQUENCE(sequence_);
    return dbps_ ? sqlite3_column_int(dbps_, column) : 0;
}

std::int64_t SQLiteEngine::getInt64(int column) const {
    OSTREL_CHECK_SEQUENCE(sequence_);
    return dbps_ ? sqlite3_column_int64(dbps_, column) : 0;
}

std::optional<std::string> SQLiteEngine::getString(int column) const {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!dbps_) return std::nullopt;
    return columnText(dbps_, column);
}

double SQLiteEngine::getDouble(int column) const {
    OSTREL_CHECK_SEQUENCE(sequence_);
    return dbps_ ? sqlite3_column_double(dbps_, column) : 0.0;
}

Value::Dictionary SQLiteEngine::dataFromRow() const {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!dbps_) return {};
    return RowShape(dbps_).row(dbps_);
}

std::int64_t SQLiteEngine::maxIdxForTable(const std::string& table, const std::string& column) {
    const auto quotedTable = OESQLIdentifier::quoted(table);
    const auto quotedColumn = OESQLIdentifier::quoted(column);
    if (!quotedTable || !quotedColumn) {
        ContentLog::log(NSString::format("The table or column name \"%@\".\"%@\" is not a plain identifier.", table, column));
        return 0;
    }
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!prepareRequest(NSString::format("select max(%@) from %@", *quotedColumn, *quotedTable))) return 0;
    const std::int64_t max = nextRow() ? getInt64(0) : 0;
    endRequest();
    return max;
}

bool SQLiteEngine::bindString(const std::string& value, int index) { return bindValue(Value(value), index); }

bool SQLiteEngine::bindValue(const Value& value, int index) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!dbps_) return false;
    return bindOne(dbps_, value, index);
}

std::vector<Value::Dictionary> SQLiteEngine::rowsForRequest(const std::string& sql, const Value::Array& parameters,
                                                            NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    std::vector<Value::Dictionary> rows;
    // A private statement: the current one of a caller's loop stays untouched.
    if (!db_) {
        reportFailure("is not open", sql, SQLITE_MISUSE, error);
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    const int prepared = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (prepared != SQLITE_OK || !stmt) {
        reportFailure("could not prepare a statement", sql, prepared == SQLITE_OK ? SQLITE_MISUSE : prepared, error);
        if (stmt) sqlite3_finalize(stmt);
        return rows;
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (!bindOne(stmt, parameters[i], static_cast<int>(i) + 1)) {
            reportFailure("could not bind a value", sql, SQLITE_RANGE, error);
            sqlite3_finalize(stmt);
            return rows;
        }
    }
    const RowShape shape(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) rows.push_back(shape.row(stmt));
    if (rc != SQLITE_DONE) reportFailure("could not read all rows", sql, rc, error);
    sqlite3_finalize(stmt);
    return rows;
}

bool SQLiteEngine::runInTransaction(const std::vector<std::string>& statements, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    const bool begun = execRequest("BEGIN IMMEDIATE", {}, error);
    endRequest();
    if (!begun) return false;
    bool done = true;
    for (const auto& sql : statements) {
        done = execRequest(sql, {}, error);
        endRequest();
        if (!done) break;
    }
    if (done) {
        done = execRequest("COMMIT", {}, error);
        endRequest();
    }
    if (!done) {
        // A refused commit leaves the transaction open; the first failure is the one reported.
        NSErrorPtr ignoredBecauseReported;
        if (!execRequest("ROLLBACK", {}, &ignoredBecauseReported) && !sqlite3_get_autocommit(db_)) {
            ContentLog::log(NSString::format("The content database %@ keeps a transaction open after a failure.",
                                             fileNameOf(path_)));
        }
        endRequest();
    }
    return done;
}

bool SQLiteEngine::isAttached(const std::string& schema) {
    for (const auto& row : rowsForRequest("pragma database_list")) {
        if (row.get("name").string() == schema) return true;
    }
    return false;
}

bool SQLiteEngine::attachDatabase(const std::string& path, const std::string& schema, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    finalizeStatement();
    const auto quoted = OESQLIdentifier::quoted(schema);
    if (!db_ || !quoted) {
        setError(error, contentError(OEContentErrorStatement,
                                     NSString::format("%@ cannot be attached as \"%@\".", fileNameOf(path), schema)));
        return false;
    }
    // The path is bound, never written into the statement: any character may be in it.
    const std::string sql = "attach database ? as " + *quoted;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc == SQLITE_OK) rc = bindOne(stmt, Value(path), 1) ? sqlite3_step(stmt) : SQLITE_RANGE;
    const std::string why = sqlite3_errmsg(db_);
    sqlite3_finalize(stmt);
    if (rc == SQLITE_DONE || rc == SQLITE_OK) return true;
    const int primary = rc & 0xff;
    setError(error, contentError(primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? OEContentErrorBusy
                                                                                    : OEContentErrorStatement,
                                 NSString::format("SQLite refused it: %@.", why)));
    return false;
}

bool SQLiteEngine::detachDatabase(const std::string& schema, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    const auto quoted = OESQLIdentifier::quoted(schema);
    if (!quoted) {
        setError(error, contentError(OEContentErrorStatement,
                                     NSString::format("\"%@\" is not a plain database name.", schema)));
        return false;
    }
    const std::string sql = "detach database " + *quoted;
    const bool detached = execRequest(sql);
    const std::string refusal = lastErrorMessage();
    endRequest();
    if (detached) return true;
    // Statements are finalized, so only an open transaction (a commit and its rollback both
    // refused) can still hold the database: end it and try once more, so that it does not stay
    // attached behind the caller's back.
    bool recovered = false;
    if (isAttached(schema) && db_ && !sqlite3_get_autocommit(db_)) {
        NSErrorPtr loggedAlready;
        const bool rolledBack = execRequest("ROLLBACK", {}, &loggedAlready);
        endRequest();
        recovered = rolledBack && execRequest(sql, {}, &loggedAlready);
        endRequest();
    }
    std::string outcome = "it is not attached";
    if (recovered) outcome = "after rolling back the open transaction it is detached";
    else if (isAttached(schema)) outcome = "it stays attached";
    const std::string sentence = NSString::format("The database %@ could not be detached from %@ (%@); %@.", schema,
                                                  fileNameOf(path_), refusal, outcome);
    ContentLog::log(sentence);
    setError(error, contentError(OEContentErrorDetach, sentence));
    return false;
}

bool SQLiteEngine::tableExists(const std::string& table) {
    return !rowsForRequest("select 1 from sqlite_master where type in ('table', 'view') and name = ? collate nocase",
                           {Value(table)})
                .empty();
}

std::set<std::string> SQLiteEngine::columnsOfTable(const std::string& table) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (auto it = columnCache_.find(table); it != columnCache_.end()) return it->second;
    std::set<std::string> columns;
    const auto quoted = OESQLIdentifier::quoted(table);
    if (!quoted) return columns;
    for (const auto& row : rowsForRequest(NSString::format("pragma table_info(%@)", *quoted))) {
        columns.insert(row.get("name").string());
    }
    // Only a table that exists is remembered; one made later is looked at again.
    if (!columns.empty()) columnCache_[table] = columns;
    return columns;
}

std::string SQLiteEngine::fileOf(const std::string& schema) const {
    if (schema == "main") return path_;
    const char* file = db_ ? sqlite3_db_filename(db_, schema.c_str()) : nullptr;
    return file ? std::string(file) : std::string();
}

std::string SQLiteEngine::quickCheck(const std::string& schema, int& rc) const {
    const auto quoted = OESQLIdentifier::quoted(schema);
    if (!quoted) {
        rc = SQLITE_MISUSE;
        return "not a plain database name";
    }
    // The first fault found is enough to tell; the check still reads every page of the file.
    const std::string sql = "pragma " + *quoted + ".quick_check(1)";
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    std::string answer;
    if (rc == SQLITE_OK && stmt) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            answer = columnText(stmt, 0);
            rc = SQLITE_OK;
        }
    }
    if (rc != SQLITE_OK) answer = sqlite3_errmsg(db_);
    sqlite3_finalize(stmt);
    return answer;
}

bool SQLiteEngine::readsEveryPage(const std::string& schema, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    const std::string sql = "pragma quick_check";
    if (!db_) {
        reportFailure("is not open", sql, SQLITE_MISUSE, error);
        return false;
    }
    const std::string file = fileOf(schema);
    if (file.empty()) {
        setError(error, contentError(OEContentErrorStatement,
                                     NSString::format("No database is attached as \"%@\" to %@.", schema,
                                                      fileNameOf(path_))));
        return false;
    }
    auto why = damageOf(file);
    if (!why) {
        int rc = SQLITE_OK;
        const std::string answer = quickCheck(schema, rc);
        if (rc == SQLITE_OK && answer == "ok") return true;
        const int primary = rc & 0xff;
        if (rc == SQLITE_OK) {
            // What the check lists is for its makers; the sentence says what SQLite says of a
            // statement meeting the same pages.
            why = sqlite3_errstr(SQLITE_CORRUPT);
        } else if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
            why = answer;
        } else {
            reportFailure("could not check its pages", sql, rc, error);
            return false;
        }
    }
    // Not marked: the screens go on reading what reads well, and say so when they meet the damage.
    const std::string sentence =
        NSString::format("The content database %@ has damaged pages (%@).", fileNameOf(file), *why);
    setError(error, contentError(OEContentErrorDamaged, sentence));
    return false;
}

std::string SQLiteEngine::lastErrorMessage() const {
    OSTREL_CHECK_SEQUENCE(sequence_);
    return db_ ? std::string(sqlite3_errmsg(db_)) : std::string("not open");
}
