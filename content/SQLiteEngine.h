// One connection to a content database in Documents (copied there from the bundle on first
// use) with its single current statement; rows come back as dictionaries of strings.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class FileSystem;
struct sqlite3;
struct sqlite3_stmt;

class SQLiteEngine : public NSObject {
public:
    // Opens Documents/<fileName>, copying the bundle resource of that name there first when
    // Documents has none. Empty when neither exists or the name is not a plain relative path.
    static std::shared_ptr<SQLiteEngine> init(const std::string& fileName, const FileSystem& fileSystem);
    // Opens a database file at a path as it is, creating it when asked (tools that build databases).
    static std::shared_ptr<SQLiteEngine> initWithPath(const std::string& path, bool create = false);
    ~SQLiteEngine() override;

    // Every operation below locks the engine for its own duration. A caller that runs a
    // statement over several calls (prepare, nextRow, get...) holds lock() across them, so
    // another thread can never step or replace the statement in between.
    std::unique_lock<std::recursive_mutex> lock() const { return std::unique_lock(mutex_); }

    // Finalizes the current statement and prepares `sql`, binding `parameters` (1-based, in
    // order: strings, integers, doubles, data, null) when given. False leaves no statement.
    bool prepareRequest(const std::string& sql, const Value::Array& parameters = {});
    // endRequest, prepareRequest, one step: true when the step gave a row or finished.
    bool execRequest(const std::string& sql, const Value::Array& parameters = {});
    // The SQLite result of one step; 1 (SQLITE_ERROR) without a statement.
    int step();
    bool nextRow();
    void endRequest();

    std::int32_t getInt(int column) const;
    std::int64_t getInt64(int column) const;
    // "" for NULL; nothing without a current statement.
    std::optional<std::string> getString(int column) const;
    double getDouble(int column) const;
    // Column name → text of the current row (NULL as ""); a later same-named column wins.
    Value::Dictionary dataFromRow() const;

    // "select max(column) from table"; 0 when no row or an identifier is not plain.
    std::int64_t maxIdxForTable(const std::string& table, const std::string& column);
    // Binds to the current statement (1-based); false without a statement or on a bad index.
    bool bindString(const std::string& value, int index);
    bool bindValue(const Value& value, int index);

    // The whole result of one query, prepared, stepped and ended under the lock.
    std::vector<Value::Dictionary> rowsForRequest(const std::string& sql, const Value::Array& parameters = {});
    // Runs the statements in one transaction; rolls back and answers false when one fails.
    bool runInTransaction(const std::vector<std::string>& statements);

    // Schema questions asked to build statements that do not name absent columns.
    bool tableExists(const std::string& table);
    std::set<std::string> columnsOfTable(const std::string& table);

    // The path of the open file, and SQLite's last error text.
    const std::string& path() const { return path_; }
    std::string lastErrorMessage() const;

private:
    explicit SQLiteEngine(std::string path);
    bool open(bool create);
    void finalizeLocked();
    void logFailure(const std::string& what, const std::string& sql) const;

    mutable std::recursive_mutex mutex_;
    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* dbps_ = nullptr;
    std::map<std::string, std::set<std::string>> columnCache_;
};
