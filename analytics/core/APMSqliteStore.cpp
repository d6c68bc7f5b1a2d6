// Opening, checking, statements, binding, transactions and errors of the SQLite store.
#include "analytics/core/APMSqliteStore.h"

#include "analytics/core/APMCarriedRecord.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMKeptFiles.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMSqlText.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/sqlite/SQLiteVFS.h"

#include <sqlite3.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
static_assert(kOpenFlags == 0x10006);
// Never through a link in the file's own place (one put there after the room was made is
// refused); links to the folders above are followed.
constexpr int kNoLink = SQLITE_OPEN_NOFOLLOW;

bool containsCaseInsensitive(const std::string& text, const std::string& word) {
    return NSString::rangeOfString(text, word, NSCaseInsensitiveSearch).location != NSNotFound;
}

}  // namespace

APMSqliteStore::APMSqliteStore(std::string path) : databasePath_(std::move(path)) {}

APMSqliteStore::~APMSqliteStore() {
    changeObserver_ = {};
    closeHandle();
}

std::shared_ptr<APMSqliteStore> APMSqliteStore::initWithDatabasePath(const std::string& path, NSErrorPtr* error,
                                                                     DamagedFile damagedFile) {
    if (!APMCheckSuccess(!path.empty(), error, APMErrorInvalidArgument, "Received empty database path on init")) {
        return nullptr;
    }
    if (!makeRoomForDatabase(path, error)) return nullptr;
    auto store = std::make_shared<APMSqliteStore>(path);
    store->damagedFile_ = damagedFile;
    // Before SQLite opens the file: a moving aside cut short may have taken its log away already.
    APMKeptFiles(path).resume();
    NSErrorPtr firstError;
    if (store->openAndValidateDatabase(&firstError)) {
        store->detachFromSequence();
        return store;
    }
    // Only a damaged file is worth its data: a busy, locked or full database keeps it and
    // the open fails, so that a later attempt finds everything still there.
    if (!store->lastOpenFailureWasCorruption()) {
        store->closeDatabase();
        setError(error, firstError);
        return nullptr;
    }
    if (!store->replaceUnusableFile(firstError, error)) return nullptr;
    store->detachFromSequence();
    return store;
}

bool APMSqliteStore::makeRoomForDatabase(const std::string& path, NSErrorPtr* error) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string place = path + suffix;
        if (const int err = APMKeptFiles::moveAsideWhatIsNoFile(place)) {
            setError(error, fileErrorForErrno(err, place, true));
            return false;
        }
    }
    return true;
}

bool APMSqliteStore::isDamageCode(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

bool APMSqliteStore::openAndValidateDatabase(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    lastOpenFailureWasCorruption_ = false;
    lastFailure_ = 0;
    auto fileManager = NSFileManager::defaultManager();
    if (fileManager->fileExistsAtPath(databasePath_)) {
        auto attributes = fileManager->attributesOfItemAtPath(databasePath_, error);
        if (!attributes) return false;
        if (attributes->get(NSFileImmutable).boolValue() &&
            !fileManager->setAttributes({{NSFileImmutable, Value(false)}}, databasePath_, error)) {
            return false;
        }
    } else {
        const std::string folder = NSString::stringByDeletingLastPathComponent(databasePath_);
        if (!folder.empty() && !fileManager->createDirectoryAtPath(folder, true, {}, error)) return false;
    }
    closeDatabase();
    const int rc = sqlite3_open_v2(databasePath_.c_str(), &handle_, kOpenFlags | kNoLink, SQLiteFileIOVFSName());
    notifyChange(nullptr, false);
    if (rc != SQLITE_OK) {
        lastOpenFailureWasCorruption_ = isDamageCode(rc);
        setDatabaseError(error, "initialize sqlite handle");
        closeDatabase();
        return false;
    }
    // Freed pages keep no rows: a salvage that cannot read the free list would take a freed table
    // leaf's old rows for live ones (delivered batches sent again), whatever SQLite was built with.
    if (sqlite3_exec(handle_, "PRAGMA secure_delete=ON", nullptr, nullptr, nullptr) != SQLITE_OK) {
        setDatabaseError(error, "set secure delete");
        closeDatabase();
        return false;
    }
    sqlite3_update_hook(
        handle_,
        [](void* store, int operation, const char*, const char* table, sqlite3_int64 rowID) {
            static_cast<APMSqliteStore*>(store)->notifyChange(table, operation == SQLITE_INSERT, rowID);
        },
        this);
    sqlite3_rollback_hook(
        handle_, [](void* store) { static_cast<APMSqliteStore*>(store)->notifyChange(nullptr, false); }, this);
    NSErrorPtr backupError;
    if (!APMExcludePathFromBackup(databasePath_, &backupError)) {
        APMMeasurementMonitor()->logWithLevel(4, 34017, "Failed to exclude database file from backup",
                                              Value(backupError));
    }
    if (!validateDatabaseWithError(error)) {
        closeDatabase();
        return false;
    }
    return true;
}

bool APMSqliteStore::validateDatabaseWithError(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Validate database failed. Database not open.")) {
        return false;
    }
    sqlite3_stmt* statement = prepareSQL("PRAGMA integrity_check", error);
    if (!statement) {
        lastOpenFailureWasCorruption_ = isDamageCode(sqlite3_extended_errcode(handle_));
        return false;
    }
    const int rc = sqlite3_step(statement);
    bool sound = false;
    if (rc == SQLITE_ROW && sqlite3_column_count(statement) == 1) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sound = text && std::string(text) == "ok";
    }
    if (!sound) {
        // A row with any other answer is the check's verdict on the file itself.
        lastOpenFailureWasCorruption_ = rc == SQLITE_ROW || isDamageCode(rc);
        setDatabaseError(error, "validate database");
    }
    sqlite3_finalize(statement);
    return sound;
}

bool APMSqliteStore::useWriteAheadLog(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition, "Database not open")) return false;
    // The pragma answers the mode in force, which stays the old one when WAL cannot be had.
    sqlite3_stmt* statement = prepareSQL("PRAGMA journal_mode=WAL", error);
    if (!statement) return false;
    const int rc = sqlite3_step(statement);
    const auto* mode = rc == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)) : nullptr;
    const bool wal = mode && NSString::lowercaseString(mode) == "wal";
    if (!wal) {
        if (rc == SQLITE_ROW) APMSetError(error, APMErrorStorage, "SQLite kept the journal mode " + std::string(mode ? mode : ""));
        else setDatabaseError(error, "set journal mode");
    }
    sqlite3_finalize(statement);
    return wal && executeSQL("PRAGMA synchronous=FULL", error);
}

void APMSqliteStore::finalizeAndClearStatements() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    for (auto& [query, cached] : statementCache_) sqlite3_finalize(cached.statement);
    statementCache_.clear();
}

void APMSqliteStore::closeDatabase() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    closeHandle();
}

void APMSqliteStore::closeHandle() {
    if (!handle_) return;
    notifyChange(nullptr, false);
    for (auto& [query, cached] : statementCache_) sqlite3_finalize(cached.statement);
    statementCache_.clear();
    const int rc = sqlite3_close(handle_);
    if (rc != SQLITE_OK) {
        APMMeasurementMonitor()->logWithLevel(1, 34018, "Failed to close database. Got error code", Value(rc));
        // The connection is forgotten all the same; let SQLite release it once it can.
        sqlite3_close_v2(handle_);
    }
    handle_ = nullptr;
}

bool APMSqliteStore::closeAndDeleteDatabase() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    closeDatabase();
    APMKeptFiles(databasePath_).removeAll();
    auto fileManager = NSFileManager::defaultManager();
    if (!fileManager->fileExistsAtPath(databasePath_)) return true;
    // Clearing the mark cannot fail on an existing file; if it did, the removal below says so.
    (void)fileManager->setAttributes({{NSFileImmutable, Value(false)}}, databasePath_, nullptr);
    NSErrorPtr removeError;
    if (!fileManager->removeItemAtPath(databasePath_, &removeError)) {
        APMMeasurementMonitor()->logWithLevel(1, 34019, "Failed to delete database. Error", Value(removeError));
        return false;
    }
    // The journal of an interrupted transaction belongs to the old file.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const std::string sidecar = databasePath_ + suffix;
        if (fileManager->fileExistsAtPath(sidecar) && !fileManager->removeItemAtPath(sidecar, &removeError))
            APMMeasurementMonitor()->logWithLevel(1, 34019, "Failed to delete database. Error", Value(removeError));
    }
    return true;
}

sqlite3_stmt* APMSqliteStore::prepareSQL(const std::string& sql, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!sql.empty(), error, APMErrorInvalidArgument, "Received empty SQL string to prepare")) {
        return nullptr;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Prepare SQL failed. Database not open.")) {
        return nullptr;
    }
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    int rc = SQLITE_ERROR;
    if (sqlite3_libversion_number() >= 3020000) {
        rc = sqlite3_prepare_v3(handle_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, &tail);
    }
    if (rc != SQLITE_OK) {
        statement = nullptr;
        tail = nullptr;
        rc = sqlite3_prepare_v2(handle_, sql.c_str(), -1, &statement, &tail);
    }
    if (rc != SQLITE_OK || !statement) {
        setDatabaseError(error, "prepare statement");
        if (statement) sqlite3_finalize(statement);
        return nullptr;
    }
    if (tail && *tail != '\0') {
        sqlite3_finalize(statement);
        APMSetError(error, APMErrorInvalidArgument, "Query contained more than one SQL statement.");
        return nullptr;
    }
    return statement;
}

sqlite3_stmt* APMSqliteStore::statementForQuery(const std::string& query, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return statementForQuery(query, Value::Array{}, error);
}

sqlite3_stmt* APMSqliteStore::statementForQuery(const std::string& query, const Value::Array& parameterValues,
                                                NSErrorPtr* error, bool fixedText, bool copied) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    sqlite3_stmt* statement = nullptr;
    bool cached = false;
    bool hasParameters = false;
    if (auto hit = statementCache_.find(query); hit != statementCache_.end()) {
        statement = hit->second.statement;
        hasParameters = hit->second.hasParameters;
        cached = true;
    } else if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                                "Statement for query failed. Database not open.")) {
        return nullptr;
    } else {
        hasParameters = query.find('?') != std::string::npos;
    }
    // Checked on cache hits too: a cached statement run without its values would run with NULLs.
    if (hasParameters &&
        !APMCheckSuccess(!parameterValues.empty(), error, APMErrorInvalidArgument, "Received empty parameters")) {
        return nullptr;
    }
    if (!statement) {
        statement = prepareSQL(query, error);
        if (!statement) return nullptr;
        if (hasParameters || fixedText || !containsCaseInsensitive(query, "WHERE")) {
            statementCache_[query] = CachedStatement{statement, hasParameters};
            cached = true;
        }
    }
    if (!parameterValues.empty() && !bindValues(parameterValues, statement, error, copied)) {
        if (cached) {
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
        } else {
            sqlite3_finalize(statement);
        }
        return nullptr;
    }
    return statement;
}

void APMSqliteStore::cleanUpStatement(sqlite3_stmt* statement, const std::string& query) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!statement) return;
    auto hit = statementCache_.find(query);
    if (hit == statementCache_.end()) {
        sqlite3_finalize(statement);
        return;
    }
    if (hit->second.statement != statement) {
        APMMeasurementMonitor()->logWithLevel(5, 34016, "Statement is not the same one in the cache");
        // Nobody else holds this one: finalizing it is the only way it is ever released.
        sqlite3_finalize(statement);
        return;
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
}

bool APMSqliteStore::bindValues(const Value::Array& values, sqlite3_stmt* statement, NSErrorPtr* error, bool copied) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(statement != nullptr, error, APMErrorInvalidArgument, "Failed to bind to NULL statement")) {
        return false;
    }
    sqlite3_clear_bindings(statement);
    const auto lifetime = copied ? SQLITE_TRANSIENT : SQLITE_STATIC;
    bool allBound = true;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Value& value = values[i];
        const int position = static_cast<int>(i + 1);
        int rc = SQLITE_MISMATCH;
        switch (value.type()) {
        case Value::Type::Data: {
            // Copied unless told otherwise: cached statements outlive the caller's buffers.
            const NSData& data = value.data();
            rc = data.empty() ? sqlite3_bind_zeroblob(statement, position, 0)
                              : sqlite3_bind_blob64(statement, position, data.data(), data.size(), lifetime);
            break;
        }
        case Value::Type::Double:
            rc = sqlite3_bind_double(statement, position, value.doubleValue());
            break;
        case Value::Type::Bool:
        case Value::Type::Integer:
        case Value::Type::Unsigned:
            rc = sqlite3_bind_int64(statement, position, static_cast<sqlite3_int64>(value.longLongValue()));
            break;
        case Value::Type::String:
            rc = sqlite3_bind_text64(statement, position, value.string().data(), value.string().size(), lifetime,
                                     SQLITE_UTF8);
            break;
        case Value::Type::Null:
            rc = sqlite3_bind_null(statement, position);
            break;
        default:
            break;
        }
        if (rc != SQLITE_OK) {
            setDatabaseError(error, "bind values");
            allBound = false;
        }
    }
    return allBound;
}

bool APMSqliteStore::executeSQL(const std::string& sql, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    sqlite3_stmt* statement = prepareSQL(sql, error);
    if (!statement) return false;
    return executeSQLStatement(statement, error);
}

bool APMSqliteStore::executeSQLStatement(sqlite3_stmt* statement, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!statement) return false;
    // Schema changes (a dropped or renamed table) reach no row hook.
    notifyChange(nullptr, false);
    const int rc = sqlite3_step(statement);
    const bool done = rc == SQLITE_DONE;
    if (!done) setDatabaseError(error, "execute statement");
    sqlite3_finalize(statement);
    return done;
}

std::optional<std::int64_t> APMSqliteStore::changesForStatement(const std::string& query,
                                                                const Value::Array& parameterValues, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    // Stepped and reset (its values unbound) before the values go: they need no copy.
    sqlite3_stmt* statement = statementForQuery(query, parameterValues, error, false, false);
    if (!statement) return std::nullopt;
    std::optional<std::int64_t> changed;
    if (sqlite3_step(statement) == SQLITE_DONE) changed = sqlite3_changes64(handle_);
    else setDatabaseError(error, "execute statement");
    cleanUpStatement(statement, query);
    return changed;
}

std::optional<Value> APMSqliteStore::valueAtColumn(int column, sqlite3_stmt* statement) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!statement) return std::nullopt;
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return Value(static_cast<long long>(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
        return Value(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        if (!text) return std::nullopt;
        return Value(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
    }
    case SQLITE_BLOB: {
        const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
        if (!bytes) return std::nullopt;
        const int length = sqlite3_column_bytes(statement, column);
        return Value(NSData(bytes, bytes + length));
    }
    case SQLITE_NULL:
        return Value();
    default:
        return std::nullopt;
    }
}

bool APMSqliteStore::runCachedStatement(const std::string& sql) {
    if (!handle_) return false;
    // Kept prepared: every event's transaction runs these, and parsing them each time costs more
    // than running them.
    sqlite3_stmt* statement = statementForQuery(sql, nullptr);
    if (!statement) return false;
    const bool done = sqlite3_step(statement) == SQLITE_DONE;
    if (!done) noteFailure(sqlite3_extended_errcode(handle_));
    cleanUpStatement(statement, sql);
    return done;
}

bool APMSqliteStore::beginTransaction() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    static const std::string kBegin = "BEGIN EXCLUSIVE TRANSACTION";
    return runCachedStatement(kBegin);
}

bool APMSqliteStore::endTransaction() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    static const std::string kEnd = "END TRANSACTION";
    return runCachedStatement(kEnd);
}

bool APMSqliteStore::rollbackTransaction() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    static const std::string kRollback = "ROLLBACK";
    return runCachedStatement(kRollback);
}

bool APMSqliteStore::performTransactionWithError(NSErrorPtr* error, const std::function<bool()>& block) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(static_cast<bool>(block), error, APMErrorInvalidArgument, "Received nil transaction block")) {
        return false;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition, "Database not open")) return false;
    if (!APMCheckSuccess(beginTransaction(), error, APMErrorStorage, "Failed to begin transaction")) return false;
    bool succeeded = false;
    try {
        succeeded = block();
    } catch (...) {
        if (!rollbackTransaction()) {
            APMMeasurementMonitor()->logWithLevel(1, 34009, "Failed to rollback transaction after exception");
        }
        throw;
    }
    if (succeeded) {
        if (endTransaction()) return true;
        APMSetError(error, APMErrorStorage, "Failed to end transaction");
        // Left open, the transaction would make every later BEGIN fail and lose the writes at close.
        if (sqlite3_get_autocommit(handle_) == 0 && !rollbackTransaction()) {
            APMMeasurementMonitor()->logWithLevel(1, 34011, "Failed to rollback transaction");
        }
        return false;
    }
    APMSetError(error, APMErrorStorage, "Transaction failed");
    if (!rollbackTransaction()) APMMeasurementMonitor()->logWithLevel(1, 34011, "Failed to rollback transaction");
    return false;
}

std::optional<std::string> APMSqliteStore::lastErrorMessage() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!handle_) {
        APMMeasurementMonitor()->logWithLevel(1, 34022, "Failed to get last error message. Database not open");
        return std::nullopt;
    }
    const char* message = sqlite3_errmsg(handle_);
    return std::string(message ? message : "");
}

std::optional<std::string> APMSqliteStore::errorDescriptionForDatabaseOperation(const std::string& operation) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!handle_) return std::nullopt;
    const char* message = sqlite3_errmsg(handle_);
    return NSString::format("Database operation \"%@\" failed with sqlite code %d and error message \"%@\"",
                            operation, sqlite3_errcode(handle_), std::string(message ? message : ""));
}

std::string APMSqliteStore::monitorContextForDatabaseOperation(const std::string& operation) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto fileManager = NSFileManager::defaultManager();
    const int code = handle_ ? sqlite3_errcode(handle_) : 0;
    const std::string writable = fileManager->isWritableFileAtPath(databasePath_) ? "A" : "NA";
    auto fileSystem = fileManager->attributesOfFileSystemForPath(databasePath_, nullptr);
    if (!fileSystem) {
        fileSystem = fileManager->attributesOfFileSystemForPath(
            NSString::stringByDeletingLastPathComponent(databasePath_), nullptr);
    }
    std::string space;
    if (fileSystem && fileSystem->contains(NSFileSystemFreeSize)) {
        const double freeBytes = fileSystem->get(NSFileSystemFreeSize).doubleValue();
        constexpr double kMiB = 1048576.0;
        space = freeBytes >= kMiB ? std::to_string(static_cast<long long>(std::floor(std::log10(freeBytes / kMiB))))
                                  : "-1";
    }
    return NSString::format("%@,%d,%@,%@", operation.empty() ? std::string("Unknown operation") : operation, code,
                            writable, space);
}

void APMSqliteStore::setDatabaseError(NSErrorPtr* error, const std::string& operation) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (handle_) noteFailure(sqlite3_extended_errcode(handle_));
    if (!error) return;
    *error = apm_errorWithCode(APMErrorStorage, errorDescriptionForDatabaseOperation(operation).value_or(""),
                               monitorContextForDatabaseOperation(operation));
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
        if (sqlite3_prepare_v2(handle, ("SELECT count(*) FROM " + APMQuotedIdentifier(table)).c_str(), -1, &statement, nullptr) ==
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

std::vector<std::string> APMSqliteStore::carriedWordOf(const std::string& path) {
    std::vector<std::string> identities;
    sqlite3* handle = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READONLY | kNoLink, SQLiteFileIOVFSName()) == SQLITE_OK &&
        sqlite3_prepare_v2(handle, (std::string("SELECT identity FROM ") + APMCarriedRecord::kStoreTable).c_str(), -1,
                           &statement, nullptr) == SQLITE_OK) {
        // As far as it reads: a damaged page ends the rows there.
        while (sqlite3_step(statement) == SQLITE_ROW) identities.push_back(APMColumnText(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(handle);
    return identities;
}

bool APMSqliteStore::emptyLog(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition, "Database not open")) return false;
    int logFrames = 0;
    int copied = 0;
    if (sqlite3_wal_checkpoint_v2(handle_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &copied) != SQLITE_OK) {
        setDatabaseError(error, "empty the log");
        return false;
    }
    return true;
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
    APMKeptFiles::sayWaiting(failure);
}

bool APMSqliteStore::replaceUnusableFile(const NSErrorPtr& reason, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    closeDatabase();
    // Read before the file goes: the account of what it held, whatever is carried later.
    const std::string contents = contentsOfFile(databasePath_);
    if (damagedFile_ == DamagedFile::Kept) {
        // What the file says it carried goes beside it first: set aside with it, those kept files
        // would be carried again, beside the file that holds their rows already.
        const APMKeptFiles kept(databasePath_);
        if (const int err = APMCarriedRecord(kept.recordPath()).noteCarried(carriedWordOf(databasePath_))) {
            setError(error, fileErrorForErrno(err, kept.recordPath(), true));
            return false;
        }
        // Kept aside even while an earlier kept file waits: the store took rows of its own since.
        std::string aside;
        if (const int err = kept.setAside(aside)) {
            setError(error, fileErrorForErrno(err, databasePath_, true));
            return false;
        }
        APMMeasurementMonitor()->logWithLevel(1, 34023,
                                              "Replaced an unreadable database with an empty one, kept aside. Kept "
                                              "as, held, error",
                                              Value(aside), Value(contents), reason ? Value(reason) : Value());
    } else {
        // Nothing is lost by the removal: the owner fetches the data again.
        if (const int err = APMKeptFiles::removeWithCompanions(databasePath_)) {
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
        return false;
    }
    return true;
}
