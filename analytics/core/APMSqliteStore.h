// The generic wrapper over one SQLite database file: opening with an integrity check,
// cached statements, binding, exclusive transactions, table upkeep, rows and queries. It knows
// nothing of the tables built on it; a damaged file it sets aside (APMKeptFiles) for its owner to
// carry the rows of (APMSalvage), by the owner's tables. A store lives on one sequence (its
// owner's) and asserts it in debug and sanitizer builds.
#pragma once

#include "platform/dispatch/SequenceChecker.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class APMSqliteStore : public NSObject {
public:
    // [column name, type text]; a pair named "PRIMARY KEY" is a table constraint whose type
    // text is the parenthesised key list.
    using ColumnInfo = std::vector<std::pair<std::string, std::string>>;
    // Column name -> new type text.
    using ModifyColumnInfo = std::vector<std::pair<std::string, std::string>>;
    // Column name -> "ALTER TABLE ... ADD COLUMN ..." text.
    using AddOnColumns = std::vector<std::pair<std::string, std::string>>;
    // Told what changed on the connection, for answers kept in memory above it: the row `rowID`
    // written to `table` (`inserted` when added), or with no table anything at all (a rollback, a
    // statement run as text, a table emptied at once, the connection closed or opened); rowID is
    // 0 when no single row is meant.
    using ChangeObserver = std::function<void(const char* table, bool inserted, std::int64_t rowID)>;
    // Called with the number of rows kept so far and the next row; false stops the read.
    using RowFilter = std::function<bool(std::size_t keptCount, const Value::Dictionary& row)>;

    // What becomes of a damaged file: kept aside and its rows carried, or deleted, for a store whose
    // owner fetches its data again.
    enum class DamagedFile { Kept, Deleted };

    // Opens (creating the file and its folder) and checks the file. First, whatever is where the
    // file or its log, shared memory or journal belongs and is not a regular file of its own (a
    // folder, a pipe, a socket, a device, a link leading anywhere or nowhere) goes to the first
    // free name of "<place>.moved", "<place>.moved-2", ..., and a line says what went where: it
    // would keep the file from opening at every launch, or have it written outside its folder,
    // and nothing a person may own is deleted. The file is never opened through a link in its
    // own place; links to the folders above are followed. Before the file opens, a setting aside
    // a kill or a power cut cut short is finished (APMKeptFiles::resume). A file SQLite reports as
    // corrupt or not a database is replaced by an empty one (replaceUnusableFile); any other
    // failure (busy, locked, full, unreadable, a thing that cannot be moved) leaves the file alone
    // and gives no store. The store returned is bound to no sequence yet.
    [[nodiscard]] static std::shared_ptr<APMSqliteStore> initWithDatabasePath(
        const std::string& path, NSErrorPtr* error, DamagedFile damagedFile = DamagedFile::Kept);
    ~APMSqliteStore() override;

    // The next operation binds the store to its caller's sequence.
    void detachFromSequence() { sequenceChecker_.detach(); }

    sqlite3* sqliteHandle() const { return handle_; }
    const std::string& databasePath() const { return databasePath_; }

    [[nodiscard]] bool openAndValidateDatabase(NSErrorPtr* error);
    [[nodiscard]] bool validateDatabaseWithError(NSErrorPtr* error);
    // Write-ahead logging with the log synced at every commit: a committed transaction outlasts
    // a killed process and a power cut alike. False (the file keeps its rollback journal) when
    // SQLite refuses.
    [[nodiscard]] bool useWriteAheadLog(NSErrorPtr* error);
    void closeDatabase();
    void setChangeObserver(ChangeObserver observer) { changeObserver_ = std::move(observer); }
    // Closes, clears the immutable mark and removes the file, and the files kept aside beside it,
    // carried or not (a wipe takes their data too); a missing file counts as deleted.
    [[nodiscard]] bool closeAndDeleteDatabase();
    // What the file at `path` holds, as far as it can be read: its size and each table's rows.
    // For the line that reports a damaged file replaced.
    static std::string contentsOfFile(const std::string& path);
    void finalizeAndClearStatements();

    // Statements. Every statement obtained here goes back through cleanUpStatement (or is
    // finalized by executeSQLStatement).
    [[nodiscard]] sqlite3_stmt* prepareSQL(const std::string& sql, NSErrorPtr* error);
    // Kept prepared when it has values to bind or no WHERE clause, or when `fixedText` says its
    // text never varies (literals in its WHERE clause included).
    [[nodiscard]] sqlite3_stmt* statementForQuery(const std::string& query, const Value::Array& parameterValues,
                                                  NSErrorPtr* error, bool fixedText = false, bool copied = true);
    [[nodiscard]] sqlite3_stmt* statementForQuery(const std::string& query, NSErrorPtr* error);
    void cleanUpStatement(sqlite3_stmt* statement, const std::string& query);
    // Runs a statement that answers no rows to its end and cleans it up; a failure is the
    // operation's database error.
    [[nodiscard]] bool stepToDone(sqlite3_stmt* statement, const std::string& query, const std::string& operation,
                                  NSErrorPtr* error);
    // Strings, numbers (REAL when floating), data and null; anything else fails. Strings and data
    // are copied into SQLite unless the caller steps and resets the statement while `values` live.
    [[nodiscard]] bool bindValues(const Value::Array& values, sqlite3_stmt* statement, NSErrorPtr* error,
                                  bool copied = true);
    [[nodiscard]] bool executeSQL(const std::string& sql, NSErrorPtr* error);
    // Runs a statement that answers no rows through the statement cache: the number of rows it
    // changed, nothing on failure.
    [[nodiscard]] std::optional<std::int64_t> changesForStatement(const std::string& query,
                                                                  const Value::Array& parameterValues, NSErrorPtr* error);
    [[nodiscard]] bool executeSQLStatement(sqlite3_stmt* statement, NSErrorPtr* error);
    // The current row's value; null for SQL NULL, nothing for an unreadable column (a
    // zero-length blob included).
    [[nodiscard]] std::optional<Value> valueAtColumn(int column, sqlite3_stmt* statement);

    // BEGIN EXCLUSIVE; the block's true commits, false rolls back, an exception rolls back and
    // is raised again. A failed commit is rolled back too, so the connection leaves the transaction.
    [[nodiscard]] bool performTransactionWithError(NSErrorPtr* error, const std::function<bool()>& block);
    [[nodiscard]] bool beginTransaction();
    [[nodiscard]] bool endTransaction();
    [[nodiscard]] bool rollbackTransaction();

    // Errors.
    [[nodiscard]] std::optional<std::string> lastErrorMessage();
    [[nodiscard]] std::optional<std::string> errorDescriptionForDatabaseOperation(const std::string& operation);
    // "op,rc,A|NA,floor(log10(MiB free))|-1|(empty)".
    std::string monitorContextForDatabaseOperation(const std::string& operation);
    void setDatabaseError(NSErrorPtr* error, const std::string& operation);

    // Tables.
    [[nodiscard]] bool ensureTableWithName(const std::string& name, const ColumnInfo& elementaryColumnInfo,
                                           const ColumnInfo& addOnColumnInfo, NSErrorPtr* error);
    // Also migrates the table through "<name>_old" when a column's declared type differs;
    // the rebuilt table keeps its key constraint and its rows' rowids.
    [[nodiscard]] bool ensureTableWithName(const std::string& name, const ColumnInfo& elementaryColumnInfo,
                                           const ColumnInfo& addOnColumnInfo, const ModifyColumnInfo& modifyColumnInfo,
                                           NSErrorPtr* error);
    [[nodiscard]] bool ensureSchemaOfTableWithName(const std::string& name, const ColumnInfo& elementaryColumnInfo,
                                                   const ColumnInfo& addOnColumnInfo, NSErrorPtr* error);
    [[nodiscard]] bool ensureTableWithName(const std::string& name, const std::string& createSQL,
                                           const std::vector<std::string>& requiredColumnNames,
                                           const AddOnColumns& addOnColumns, NSErrorPtr* error);
    [[nodiscard]] std::optional<bool> validateTableWithName(const std::string& name,
                                                            const std::vector<std::string>& requiredColumnNames,
                                                            const AddOnColumns& addOnColumns, NSErrorPtr* error);
    [[nodiscard]] std::optional<bool> tableExists(const std::string& name, NSErrorPtr* error);
    [[nodiscard]] bool dropTableWithName(const std::string& name, NSErrorPtr* error);
    [[nodiscard]] bool renameTable(const std::string& oldName, const std::string& newName, NSErrorPtr* error);
    [[nodiscard]] bool copyContentsFromTable(const std::string& source, const std::string& destination,
                                             NSErrorPtr* error);
    [[nodiscard]] std::optional<std::vector<std::string>> columnsForTableWithName(const std::string& name,
                                                                                  NSErrorPtr* error);
    // Column name -> declared type, in table order.
    [[nodiscard]] std::optional<std::vector<std::pair<std::string, std::string>>> columnInfoForTableWithName(
        const std::string& name, NSErrorPtr* error);

    // Rows.
    [[nodiscard]] std::optional<std::int64_t> rowCountForTableWithName(const std::string& name, NSErrorPtr* error);
    [[nodiscard]] std::optional<std::int64_t> rowCountForTableWithName(const std::string& name,
                                                                       const std::string& columnName,
                                                                       const Value& columnValue, NSErrorPtr* error);
    // Through a statement prepared once per table and column list.
    [[nodiscard]] bool upsertRecord(const Value::Dictionary& record, const std::string& tableName, NSErrorPtr* error);
    [[nodiscard]] bool updateRecord(const Value::Dictionary& record, const std::string& tableName,
                                    const std::string& columnName, const Value& columnValue, NSErrorPtr* error);
    [[nodiscard]] bool updateAllRecordsInTableWithName(const std::string& tableName, const std::string& columnName,
                                                       const Value& columnValue, NSErrorPtr* error);
    [[nodiscard]] bool increaseColumn(const std::string& column, std::int64_t value, const std::string& table,
                                      const std::string& condition, const Value::Array& parameterValues,
                                      NSErrorPtr* error);
    [[nodiscard]] bool deleteRecordFromTableWithName(const std::string& tableName, const std::string& columnName,
                                                     const Value& columnValue, NSErrorPtr* error);
    // The number of rows deleted.
    [[nodiscard]] std::optional<std::int64_t> deleteRecordsFromTableWithName(const std::string& tableName,
                                                                             const std::string& condition,
                                                                             const Value::Array& parameterValues,
                                                                             NSErrorPtr* error);
    [[nodiscard]] bool deleteAllRecordsFromTableWithName(const std::string& tableName, NSErrorPtr* error);
    // A statement of its own, bound; executeSQLStatement runs and finalizes it.
    [[nodiscard]] sqlite3_stmt* upsertStatementForRecord(const Value::Dictionary& record, const std::string& tableName,
                                                         NSErrorPtr* error);
    [[nodiscard]] sqlite3_stmt* updateStatementForRecord(const Value::Dictionary& record, const std::string& tableName,
                                                         const std::string& columnName, const Value& columnValue,
                                                         NSErrorPtr* error);

    // Queries: rows as dictionaries keyed by result column name, in SQLite's order.
    [[nodiscard]] std::optional<std::vector<Value::Dictionary>> recordsForQuery(const std::string& query,
                                                                                const Value::Array& parameterValues,
                                                                                NSErrorPtr* error,
                                                                                const RowFilter& filter);
    [[nodiscard]] std::optional<std::vector<Value::Dictionary>> recordsForQuery(const std::string& query,
                                                                                const Value::Array& parameterValues,
                                                                                NSErrorPtr* error);
    // The first column of the first row: a number, or nothing for NULL (no error) or failure.
    [[nodiscard]] std::optional<Value> numberForQuery(const std::string& query, const Value::Array& parameterValues,
                                                      NSErrorPtr* error, bool fixedText = false);

    // The one classifier of failures: whether SQLite's extended code says the file's own bytes are
    // at fault (damaged, not a database, of a format it cannot read), as opposed to the moment (a
    // full or failing disk, a busy or locked file, memory, an interrupt), which keeps everything.
    static bool isDamageCode(int code);

    // Whether the last failed open met a file SQLite calls damaged (corrupt, not a database,
    // or an integrity check other than "ok").
    bool lastOpenFailureWasCorruption() const { return lastOpenFailureWasCorruption_; }

    // Damaged or unusable files.

    // After the owner's `failure` on the open file (its tables could not be made or checked):
    // when the connection's last failure was the file's own doing (SQLite found it damaged or not
    // a database, refused a statement on what it holds, or a table was of another shape), the
    // file is replaced as replaceUnusableFile does. Otherwise (a full or failing disk, a busy or
    // locked file, memory, permission), keepFileForNextOpening: false with the failure.
    [[nodiscard]] bool replaceFileIfAtFault(const NSErrorPtr& failure, NSErrorPtr* error);
    // Copies what the write-ahead log holds into the file and empties the log: the room a large
    // write took goes back to the disk, which SQLite's own checkpoints never give. False with the
    // error when it cannot (the file cannot grow, a statement still reads): the log stays whole.
    [[nodiscard]] bool emptyLog(NSErrorPtr* error);
    // Closes and says (34026) that the files stay as they are for the next opening, and why.
    void keepFileForNextOpening(const NSErrorPtr& failure);
    // Closes, sets the file aside with its log, shared memory and journal under the next
    // uncarried name (APMKeptFiles::setAside), and opens an empty file in its place; a line (34023)
    // says where the old one went and what it held. The kept files the old one says it carried
    // (APMCarriedRecord::kStoreTable, as far as it reads) are noted beside it before it moves. A
    // file that replaces one whose kept file still waits holds rows of its own, and is kept aside
    // too: both are carried. A store made with DamagedFile::Deleted deletes the file instead, and
    // the line says so. False with the
    // error when the file cannot be moved or deleted (it stays where it was), what it carried
    // cannot be noted, or the empty one cannot be made: the store is closed then.
    [[nodiscard]] bool replaceUnusableFile(const NSErrorPtr& reason, NSErrorPtr* error);

    explicit APMSqliteStore(std::string path);

private:
    // The identities the store's file at `path` says it carried, as far as they read.
    static std::vector<std::string> carriedWordOf(const std::string& path);
    // The moving aside initWithDatabasePath begins with; false with the error when something
    // cannot be moved.
    static bool makeRoomForDatabase(const std::string& path, NSErrorPtr* error);
    // Notes the connection's failure for lastFailureWasTheFiles.
    void noteFailure(int code) { lastFailure_ = code; }
    bool lastFailureWasTheFiles() const;
    // "INSERT OR REPLACE INTO <table> (<columns>) VALUES (?, ...);" and the values in column order.
    std::optional<std::string> upsertQueryForRecord(const Value::Dictionary& record, const std::string& tableName,
                                                    Value::Array& values, NSErrorPtr* error);
    // "UPDATE <table> SET <column>=?,... WHERE <key>=?" and the values in that order.
    std::optional<std::string> updateQueryForRecord(const Value::Dictionary& record, const std::string& tableName,
                                                    const std::string& columnName, const Value& columnValue,
                                                    Value::Array& values, NSErrorPtr* error);
    // Runs a statement without values through the statement cache; true when it completed.
    bool runCachedStatement(const std::string& sql);
    // closeDatabase without the sequence check, for the destructor (the last owner may be anywhere).
    void closeHandle();
    void notifyChange(const char* table, bool inserted, std::int64_t rowID = 0) {
        if (changeObserver_) changeObserver_(table, inserted, rowID);
    }

    sqlite3* handle_ = nullptr;
    ChangeObserver changeObserver_;
    std::string databasePath_;
    // Kept statements by text, with whether the text has values to bind.
    struct CachedStatement {
        sqlite3_stmt* statement = nullptr;
        bool hasParameters = false;
    };
    std::unordered_map<std::string, CachedStatement> statementCache_;
    bool lastOpenFailureWasCorruption_ = false;
    // SQLite's extended code of the last failure since the open, or kShapeRefused for a table
    // of another shape.
    static constexpr int kShapeRefused = -1;
    int lastFailure_ = 0;
    DamagedFile damagedFile_ = DamagedFile::Kept;
    SequenceChecker sequenceChecker_{"APMSqliteStore"};
};
