// One connection to a content database in Documents (copied there from the bundle on first
// use) with its single current statement; rows come back as dictionaries of strings.
#include "content/SQLiteEngine.h"

#include "content/ContentLog.h"
#include "config/FileSystem.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"

#include <sqlite3.h>

namespace {

// Concurrent connections on one file (a reader while a favourite is written) wait for each
// other instead of failing at once.
constexpr int kBusyTimeoutMs = 5000;

std::string fileNameOf(const std::string& path) { return NSString::lastPathComponent(path); }

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

std::vector<std::string> columnNames(sqlite3_stmt* stmt) {
    std::vector<std::string> names;
    const int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(stmt, i);
        names.emplace_back(name ? name : "");
    }
    return names;
}

// The keys of a statement's rows, laid out once; each row starts as a copy and has its values
// filled in, which is cheaper than growing a dictionary column by column.
Value::Dictionary rowPrototype(const std::vector<std::string>& names) {
    Value::Dictionary prototype;
    for (const auto& name : names) prototype.set(name, Value());
    return prototype;
}

Value::Dictionary rowOf(sqlite3_stmt* stmt, const std::vector<std::string>& names, const Value::Dictionary& prototype) {
    Value::Dictionary row = prototype;
    for (std::size_t i = 0; i < names.size(); ++i) {
        // A later column of the same name overwrites the earlier one's value.
        *row.find(names[i]) = Value(columnText(stmt, static_cast<int>(i)));
    }
    return row;
}

Value::Dictionary rowOf(sqlite3_stmt* stmt) {
    const auto names = columnNames(stmt);
    return rowOf(stmt, names, rowPrototype(names));
}

}  // namespace

SQLiteEngine::SQLiteEngine(std::string path) : path_(std::move(path)) {}

SQLiteEngine::~SQLiteEngine() {
    finalizeLocked();
    if (db_) sqlite3_close_v2(db_);
}

std::shared_ptr<SQLiteEngine> SQLiteEngine::init(const std::string& fileName, const FileSystem& fileSystem) {
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
    static std::mutex copyMutex;
    std::lock_guard copyGuard(copyMutex);
    if (!manager->fileExistsAtPath(*target)) {
        const std::string bundled = NSBundle::mainBundle()->pathForResource(fileName, "");
        if (bundled.empty()) {
            ContentLog::log(NSString::format("The content database %@ is neither in Documents nor in the bundle.", fileName));
            return nullptr;
        }
        // Copy beside the target and rename, so an interrupted copy never leaves a partial database
        // that would be used, unrefreshed, from then on.
        const std::string partial = *target + ".copying";
        manager->removeItemAtPath(partial);
        NSErrorPtr error;
        if (!manager->copyItemAtPath(bundled, partial, &error) || !manager->moveItemAtPath(partial, *target, &error)) {
            manager->removeItemAtPath(partial);
            ContentLog::log(NSString::format("The content database %@ could not be copied from the bundle: %@.", fileName,
                                             error ? error->localizedDescription() : std::string("unknown error")));
            return nullptr;
        }
        FileSystem::setNoBackupAttribute(*target);
    }
    std::shared_ptr<SQLiteEngine> engine(new SQLiteEngine(*target));
    if (!engine->open(false)) return nullptr;
    return engine;
}

std::shared_ptr<SQLiteEngine> SQLiteEngine::initWithPath(const std::string& path, bool create) {
    std::shared_ptr<SQLiteEngine> engine(new SQLiteEngine(path));
    if (!engine->open(create)) return nullptr;
    return engine;
}

bool SQLiteEngine::open(bool create) {
    // Content databases open without the create flag: one that vanished must not come back empty.
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX;
    int rc = sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        ContentLog::log(NSString::format("The content database %@ could not be opened: %@.", fileNameOf(path_),
                                         std::string(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc))));
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // Catalogue lists sort wide rows (every column of a picture and its author); sorting them in
    // memory rather than in temporary files keeps a whole-catalogue list several times faster.
    sqlite3_exec(db_, "pragma temp_store = memory", nullptr, nullptr, nullptr);
    return true;
}

void SQLiteEngine::finalizeLocked() {
    if (dbps_) {
        sqlite3_finalize(dbps_);
        dbps_ = nullptr;
    }
}

void SQLiteEngine::logFailure(const std::string& what, const std::string& sql) const {
    // The statement's first words say which query failed without echoing whole statements.
    std::string head = sql.substr(0, 60);
    if (sql.size() > 60) head += "...";
    ContentLog::log(NSString::format("The content database %@ %@ (%@): %@.", fileNameOf(path_), what, head,
                                     std::string(db_ ? sqlite3_errmsg(db_) : "not open")));
}

bool SQLiteEngine::prepareRequest(const std::string& sql, const Value::Array& parameters) {
    std::lock_guard guard(mutex_);
    finalizeLocked();
    if (!db_) return false;
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) {
        logFailure("could not prepare a statement", sql);
        if (stmt) sqlite3_finalize(stmt);
        return false;
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (!stmt || !bindOne(stmt, parameters[i], static_cast<int>(i) + 1)) {
            logFailure("could not bind a value", sql);
            if (stmt) sqlite3_finalize(stmt);
            return false;
        }
    }
    dbps_ = stmt;
    return true;
}

bool SQLiteEngine::execRequest(const std::string& sql, const Value::Array& parameters) {
    std::lock_guard guard(mutex_);
    endRequest();
    if (!prepareRequest(sql, parameters)) return false;
    const int rc = step();
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

int SQLiteEngine::step() {
    std::lock_guard guard(mutex_);
    if (!dbps_) return SQLITE_ERROR;
    const int rc = sqlite3_step(dbps_);
    // A primary-key clash is an expected answer (a favourite added twice), not a fault.
    if (rc != SQLITE_ROW && rc != SQLITE_DONE && (rc & 0xff) != SQLITE_CONSTRAINT) {
        logFailure("could not step a statement", sqlite3_sql(dbps_) ? sqlite3_sql(dbps_) : "");
    }
    return rc;
}

bool SQLiteEngine::nextRow() { return step() == SQLITE_ROW; }

void SQLiteEngine::endRequest() {
    std::lock_guard guard(mutex_);
    finalizeLocked();
}

std::int32_t SQLiteEngine::getInt(int column) const {
    std::lock_guard guard(mutex_);
    return dbps_ ? sqlite3_column_int(dbps_, column) : 0;
}

std::int64_t SQLiteEngine::getInt64(int column) const {
    std::lock_guard guard(mutex_);
    return dbps_ ? sqlite3_column_int64(dbps_, column) : 0;
}

std::optional<std::string> SQLiteEngine::getString(int column) const {
    std::lock_guard guard(mutex_);
    if (!dbps_) return std::nullopt;
    return columnText(dbps_, column);
}

double SQLiteEngine::getDouble(int column) const {
    std::lock_guard guard(mutex_);
    return dbps_ ? sqlite3_column_double(dbps_, column) : 0.0;
}

Value::Dictionary SQLiteEngine::dataFromRow() const {
    std::lock_guard guard(mutex_);
    if (!dbps_) return {};
    return rowOf(dbps_);
}

std::int64_t SQLiteEngine::maxIdxForTable(const std::string& table, const std::string& column) {
    const auto quotedTable = OESQLIdentifier::quoted(table);
    const auto quotedColumn = OESQLIdentifier::quoted(column);
    if (!quotedTable || !quotedColumn) {
        ContentLog::log(NSString::format("The table or column name \"%@\".\"%@\" is not a plain identifier.", table, column));
        return 0;
    }
    std::lock_guard guard(mutex_);
    if (!prepareRequest(NSString::format("select max(%@) from %@", *quotedColumn, *quotedTable))) return 0;
    return nextRow() ? getInt64(0) : 0;
}

bool SQLiteEngine::bindString(const std::string& value, int index) { return bindValue(Value(value), index); }

bool SQLiteEngine::bindValue(const Value& value, int index) {
    std::lock_guard guard(mutex_);
    if (!dbps_) return false;
    return bindOne(dbps_, value, index);
}

std::vector<Value::Dictionary> SQLiteEngine::rowsForRequest(const std::string& sql, const Value::Array& parameters) {
    std::lock_guard guard(mutex_);
    std::vector<Value::Dictionary> rows;
    // A private statement: the current one of a caller's loop stays untouched.
    if (!db_) return rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK || !stmt) {
        logFailure("could not prepare a statement", sql);
        if (stmt) sqlite3_finalize(stmt);
        return rows;
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (!bindOne(stmt, parameters[i], static_cast<int>(i) + 1)) {
            logFailure("could not bind a value", sql);
            sqlite3_finalize(stmt);
            return rows;
        }
    }
    const auto names = columnNames(stmt);
    const auto prototype = rowPrototype(names);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) rows.push_back(rowOf(stmt, names, prototype));
    if (rc != SQLITE_DONE) logFailure("could not read all rows", sql);
    sqlite3_finalize(stmt);
    return rows;
}

bool SQLiteEngine::runInTransaction(const std::vector<std::string>& statements) {
    std::lock_guard guard(mutex_);
    if (!execRequest("BEGIN IMMEDIATE")) {
        endRequest();
        return false;
    }
    for (const auto& sql : statements) {
        if (!execRequest(sql)) {
            endRequest();
            execRequest("ROLLBACK");
            endRequest();
            return false;
        }
    }
    const bool committed = execRequest("COMMIT");
    endRequest();
    if (!committed) {
        execRequest("ROLLBACK");
        endRequest();
    }
    return committed;
}

bool SQLiteEngine::tableExists(const std::string& table) {
    return !rowsForRequest("select 1 from sqlite_master where type in ('table', 'view') and name = ? collate nocase",
                           {Value(table)})
                .empty();
}

std::set<std::string> SQLiteEngine::columnsOfTable(const std::string& table) {
    std::lock_guard guard(mutex_);
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

std::string SQLiteEngine::lastErrorMessage() const {
    std::lock_guard guard(mutex_);
    return db_ ? std::string(sqlite3_errmsg(db_)) : std::string("not open");
}
