// Table upkeep (create, add columns, validate, migrate), row writes and deletes, and the
// record and numeric queries of the SQLite store.
#include "analytics/core/APMError.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMSqliteStore.h"
#include "platform/foundation/NSString.h"

#include <sqlite3.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <set>
#include <string_view>
#include <utility>

namespace {

constexpr const char* kPrimaryKey = "PRIMARY KEY";

bool isAcceptedRecordValue(const Value& value) {
    return value.isNull() || value.isString() || value.isNumber() || value.isData();
}

std::string firstWord(const std::string& text) { return text.substr(0, text.find(' ')); }

// An INTEGER PRIMARY KEY column is the rowid itself.
bool aliasesRowID(const APMSqliteStore::ColumnInfo& columns) {
    for (const auto& [name, type] : columns) {
        if (name == kPrimaryKey) continue;
        const std::string upper = NSString::uppercaseString(type);
        if (firstWord(upper) == "INTEGER" && upper.find(kPrimaryKey) != std::string::npos) return true;
    }
    return false;
}

// The checks of an operation's arguments in order: the first that fails is the error.
bool argumentsHold(std::initializer_list<std::pair<bool, std::string_view>> checks, NSErrorPtr* error) {
    for (const auto& [holds, description] : checks) {
        if (!APMCheckSuccess(holds, error, APMErrorInvalidArgument, description)) return false;
    }
    return true;
}

}  // namespace

// MARK: Tables

bool APMSqliteStore::ensureTableWithName(const std::string& name, const ColumnInfo& elementaryColumnInfo,
                                         const ColumnInfo& addOnColumnInfo, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!name.empty(), "Received empty table name for ensure table"},
                        {!elementaryColumnInfo.empty(), "Received empty elementary column info for ensure table"}},
                       error)) {
        return false;
    }
    std::string createSQL = NSString::format("CREATE TABLE IF NOT EXISTS %@ ( ", name);
    std::vector<std::string> required;
    for (const auto& [column, type] : elementaryColumnInfo) {
        createSQL += NSString::format("%@ %@, ", column, type);
        if (column != kPrimaryKey) required.push_back(column);
    }
    createSQL.replace(createSQL.size() - 2, 2, ");");
    AddOnColumns addOns;
    for (const auto& [column, type] : addOnColumnInfo) {
        if (column.empty()) continue;
        addOns.emplace_back(column, NSString::format("ALTER TABLE %@ ADD COLUMN %@ %@", name, column, type));
    }
    return ensureTableWithName(name, createSQL, required, addOns, error);
}

bool APMSqliteStore::ensureTableWithName(const std::string& name, const std::string& createSQL,
                                         const std::vector<std::string>& requiredColumnNames,
                                         const AddOnColumns& addOnColumns, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!name.empty(), "Received empty table name for ensure table"},
                        {!requiredColumnNames.empty(), "Received no table columns for ensure table"},
                        {!createSQL.empty(), "Received empty create statement for ensure table"}},
                       error)) {
        return false;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Ensure table failed. Database not open.")) {
        return false;
    }
    auto exists = tableExists(name, error);
    if (!exists) return false;
    if (!*exists && !executeSQL(createSQL, error)) return false;
    return validateTableWithName(name, requiredColumnNames, addOnColumns, error).value_or(false);
}

bool APMSqliteStore::ensureTableWithName(const std::string& name, const ColumnInfo& elementaryColumnInfo,
                                         const ColumnInfo& addOnColumnInfo, const ModifyColumnInfo& modifyColumnInfo,
                                         NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!ensureTableWithName(name, elementaryColumnInfo, addOnColumnInfo, error)) return false;
    if (modifyColumnInfo.empty()) return true;
    auto modified = [&](const ColumnInfo& columns) {
        ColumnInfo out;
        for (const auto& [column, type] : columns) {
            auto change = std::find_if(modifyColumnInfo.begin(), modifyColumnInfo.end(),
                                       [&name = column](const auto& entry) { return entry.first == name; });
            out.emplace_back(column, change != modifyColumnInfo.end() ? change->second : type);
        }
        return out;
    };
    // The key constraint stays with the rebuilt table: without it a composite key would
    // accept duplicates through INSERT OR REPLACE.
    return ensureSchemaOfTableWithName(name, modified(elementaryColumnInfo), modified(addOnColumnInfo), error);
}

bool APMSqliteStore::ensureSchemaOfTableWithName(const std::string& name, const ColumnInfo& elementaryColumnInfo,
                                                 const ColumnInfo& addOnColumnInfo, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!name.empty(), "Received empty table name for ensure table schema"},
                        {!elementaryColumnInfo.empty(), "Received empty column info for ensure table schema"}},
                       error)) {
        return false;
    }
    auto present = columnInfoForTableWithName(name, nullptr);
    if (!APMCheckSuccess(present && !present->empty(), error, APMErrorFailedPrecondition,
                         "Table does not exist for ensure table schema")) {
        return false;
    }
    std::map<std::string, std::string> expected;
    for (const auto& [column, type] : elementaryColumnInfo) {
        if (column != kPrimaryKey) expected[column] = firstWord(type);
    }
    for (const auto& [column, type] : addOnColumnInfo) expected[column] = type;
    const std::map<std::string, std::string> actual(present->begin(), present->end());
    if (actual == expected) return true;

    const std::string oldName = name + "_old";
    NSErrorPtr stepError;
    NSErrorPtr transactionError;
    const bool migrated = performTransactionWithError(&transactionError, [&] {
        if (!renameTable(name, oldName, &stepError)) return false;
        if (!ensureTableWithName(name, elementaryColumnInfo, addOnColumnInfo, &stepError)) return false;
        auto newColumns = columnsForTableWithName(name, &stepError);
        if (!newColumns) return false;
        // Named columns and explicit rowids: the rows keep their insertion order, and a
        // tolerated extra column of the old table does not break the copy.
        std::vector<std::string> shared;
        for (const auto& column : *newColumns) {
            if (actual.count(column)) shared.push_back(column);
        }
        std::string columns = NSString::componentsJoinedByString(shared, ", ");
        if (!aliasesRowID(elementaryColumnInfo)) columns = shared.empty() ? "rowid" : "rowid, " + columns;
        if (!columns.empty() &&
            !executeSQL(NSString::format("INSERT INTO %@ (%@) SELECT %@ FROM %@", name, columns, columns, oldName),
                        &stepError)) {
            return false;
        }
        return dropTableWithName(oldName, &stepError);
    });
    if (!migrated) setError(error, transactionError ? transactionError : stepError);
    return migrated;
}

std::optional<bool> APMSqliteStore::validateTableWithName(const std::string& name,
                                                          const std::vector<std::string>& requiredColumnNames,
                                                          const AddOnColumns& addOnColumns, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!name.empty(), "Received empty table name for validate table"},
                        {!requiredColumnNames.empty(), "Received no table columns for validate table"}},
                       error)) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Validate table failed. Database not open.")) {
        return false;
    }
    auto columns = columnsForTableWithName(name, error);
    if (!columns || columns->empty()) return std::nullopt;
    const std::set<std::string> present(columns->begin(), columns->end());
    for (const auto& column : requiredColumnNames) {
        if (!present.count(column)) {
            noteFailure(kShapeRefused);
            APMSetError(error, APMErrorFailedPrecondition, "Table is missing required columns");
            return false;
        }
    }
    std::set<std::string> unknown = present;
    for (const auto& column : requiredColumnNames) unknown.erase(column);
    for (const auto& [column, alterSQL] : addOnColumns) {
        if (unknown.erase(column)) continue;
        if (present.count(column)) continue;
        if (!executeSQL(alterSQL, error)) return false;
    }
    if (unknown.empty()) return true;
    const std::string query = NSString::format("PRAGMA table_info(%@)", name);
    sqlite3_stmt* statement = statementForQuery(query, error);
    if (!statement) return false;
    bool refused = false;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* column = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        if (column && unknown.count(column) && sqlite3_column_int(statement, 3) != 0) {
            refused = true;
            break;
        }
    }
    cleanUpStatement(statement, query);
    if (refused) {
        noteFailure(kShapeRefused);
        APMSetError(error, APMErrorFailedPrecondition, "Table contains unknown non-optional columns");
        return false;
    }
    return true;
}

std::optional<bool> APMSqliteStore::tableExists(const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!name.empty(), error, APMErrorInvalidArgument, "Received empty table name for table exists")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Table exists failed. Database not open.")) {
        return std::nullopt;
    }
    sqlite3_stmt* statement = prepareSQL("SELECT name FROM sqlite_master WHERE type='table' AND name=?", error);
    if (!statement) return std::nullopt;
    if (!bindValues({Value(name)}, statement, error)) {
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    const int rc = sqlite3_step(statement);
    std::optional<bool> exists;
    if (rc == SQLITE_ROW) exists = true;
    else if (rc == SQLITE_DONE) exists = false;
    else setDatabaseError(error, "execute statement");
    sqlite3_finalize(statement);
    return exists;
}

bool APMSqliteStore::dropTableWithName(const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!name.empty(), error, APMErrorInvalidArgument, "Received empty table name for drop table")) {
        return false;
    }
    return executeSQL(NSString::format("DROP TABLE %@", name), error);
}

bool APMSqliteStore::renameTable(const std::string& oldName, const std::string& newName, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!oldName.empty(), "Received empty old name for rename table"},
                        {!newName.empty(), "Received empty new name for rename table"},
                        {oldName != newName, "Received duplicate name for rename table"}},
                       error)) {
        return false;
    }
    return executeSQL(NSString::format("ALTER TABLE %@ RENAME TO %@", oldName, newName), error);
}

bool APMSqliteStore::copyContentsFromTable(const std::string& source, const std::string& destination,
                                           NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!source.empty(), "Received empty source name for copy table"},
                        {!destination.empty(), "Received empty destination name for copy table"},
                        {source != destination, "Received duplicate name for copy table"}},
                       error)) {
        return false;
    }
    return executeSQL(NSString::format("INSERT INTO %@ SELECT * FROM %@", destination, source), error);
}

std::optional<std::vector<std::string>> APMSqliteStore::columnsForTableWithName(const std::string& name,
                                                                                NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!name.empty(), error, APMErrorInvalidArgument, "Received empty table name for get columns")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Get table columns failed. Database not open.")) {
        return std::nullopt;
    }
    auto info = columnInfoForTableWithName(name, error);
    if (!info) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& [column, type] : *info) {
        if (!column.empty()) names.push_back(column);
    }
    return names;
}

std::optional<std::vector<std::pair<std::string, std::string>>> APMSqliteStore::columnInfoForTableWithName(
    const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!name.empty(), error, APMErrorInvalidArgument, "Received empty table name for column info")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Get table column info failed. Database not open.")) {
        return std::nullopt;
    }
    const std::string query = NSString::format("PRAGMA table_info(%@)", name);
    sqlite3_stmt* statement = statementForQuery(query, error);
    if (!statement) return std::nullopt;
    std::vector<std::pair<std::string, std::string>> info;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto* column = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(statement, 2));
        info.emplace_back(column ? column : "", type ? type : "");
    }
    std::optional<std::vector<std::pair<std::string, std::string>>> result;
    if (rc == SQLITE_DONE) result = std::move(info);
    else setDatabaseError(error, "execute statement");
    cleanUpStatement(statement, query);
    return result;
}

// MARK: Rows

std::optional<std::int64_t> APMSqliteStore::rowCountForTableWithName(const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return rowCountForTableWithName(name, "", Value(), error);
}

std::optional<std::int64_t> APMSqliteStore::rowCountForTableWithName(const std::string& name,
                                                                     const std::string& columnName,
                                                                     const Value& columnValue, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!name.empty(), error, APMErrorInvalidArgument, "Received empty table name for row count")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Row count failed. Database not open.")) {
        return std::nullopt;
    }
    std::string query = NSString::format("SELECT count(1) FROM %@", name);
    Value::Array values;
    if (!columnName.empty() && !columnValue.isNull()) {
        query += NSString::format(" WHERE %@=?", columnName);
        values.push_back(columnValue);
    }
    auto count = numberForQuery(query, values, error);
    if (!count) return std::nullopt;
    return count->longLongValue();
}

bool APMSqliteStore::stepToDone(sqlite3_stmt* statement, const std::string& query, const std::string& operation,
                                NSErrorPtr* error) {
    const bool done = sqlite3_step(statement) == SQLITE_DONE;
    if (!done) setDatabaseError(error, operation);
    cleanUpStatement(statement, query);
    return done;
}

std::optional<std::string> APMSqliteStore::upsertQueryForRecord(const Value::Dictionary& record,
                                                                 const std::string& tableName, Value::Array& values,
                                                                 NSErrorPtr* error) {
    if (!argumentsHold({{!tableName.empty(), "Received empty table name for upsert"},
                        {!record.empty(), "Received empty record for upsert"}},
                       error)) {
        return std::nullopt;
    }
    std::string columns = "INSERT OR REPLACE INTO " + tableName + " (";
    std::string placeholders;
    values.clear();
    values.reserve(record.size());
    for (const auto& [column, value] : record) {
        if (!isAcceptedRecordValue(value)) {
            APMMeasurementMonitor()->logWithLevel(4, 34020, "Record has value of unexpected type");
            return std::nullopt;
        }
        columns += column;
        columns += ", ";
        placeholders += "?, ";
        values.push_back(value);
    }
    columns.replace(columns.size() - 2, 2, ") VALUES (");
    placeholders.replace(placeholders.size() - 2, 2, ");");
    return columns + placeholders;
}

sqlite3_stmt* APMSqliteStore::upsertStatementForRecord(const Value::Dictionary& record, const std::string& tableName,
                                                       NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    Value::Array values;
    const auto query = upsertQueryForRecord(record, tableName, values, error);
    if (!query) return nullptr;
    sqlite3_stmt* statement = prepareSQL(*query, error);
    if (!statement) return nullptr;
    if (!bindValues(values, statement, error)) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

bool APMSqliteStore::upsertRecord(const Value::Dictionary& record, const std::string& tableName, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!record.empty(), "Received empty record for upsert"},
                        {!tableName.empty(), "Received empty table name for upsert"}},
                       error)) {
        return false;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Upsert record failed. Database not open.")) {
        return false;
    }
    // The same columns give the same text: the statement is prepared once and kept.
    Value::Array values;
    const auto query = upsertQueryForRecord(record, tableName, values, error);
    if (!query) return false;
    sqlite3_stmt* statement = statementForQuery(*query, values, error);
    if (!statement) return false;
    return stepToDone(statement, *query, "execute statement", error);
}

std::optional<std::string> APMSqliteStore::updateQueryForRecord(const Value::Dictionary& record,
                                                                 const std::string& tableName,
                                                                 const std::string& columnName, const Value& columnValue,
                                                                 Value::Array& values, NSErrorPtr* error) {
    if (!argumentsHold({{!record.empty(), "Empty record for update"},
                        {!tableName.empty(), "Empty table name for update"},
                        {!columnName.empty(), "Empty column name for update"},
                        {!columnValue.isNull(), "Nil column value for update"}},
                       error)) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Update record failed. Database not open.")) {
        return std::nullopt;
    }
    std::string query = "UPDATE " + tableName + " SET ";
    values.clear();
    values.reserve(record.size() + 1);
    for (const auto& [column, value] : record) {
        if (!isAcceptedRecordValue(value)) {
            APMMeasurementMonitor()->logWithLevel(4, 34021, "Record has value of unexpected type (update)");
            APMSetError(error, APMErrorInvalidArgument,
                        "Failed to bind parameter of unexpected type to update statement");
            return std::nullopt;
        }
        query += column;
        query += "=?,";
        values.push_back(value);
    }
    query.back() = ' ';
    query += "WHERE " + columnName + "=?";
    values.push_back(columnValue);
    return query;
}

sqlite3_stmt* APMSqliteStore::updateStatementForRecord(const Value::Dictionary& record, const std::string& tableName,
                                                       const std::string& columnName, const Value& columnValue,
                                                       NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    Value::Array values;
    const auto query = updateQueryForRecord(record, tableName, columnName, columnValue, values, error);
    if (!query) return nullptr;
    sqlite3_stmt* statement = prepareSQL(*query, error);
    if (!statement) return nullptr;
    if (!bindValues(values, statement, error)) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

bool APMSqliteStore::updateRecord(const Value::Dictionary& record, const std::string& tableName,
                                  const std::string& columnName, const Value& columnValue, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    // The same columns give the same text: the statement is prepared once and kept.
    Value::Array values;
    const auto query = updateQueryForRecord(record, tableName, columnName, columnValue, values, error);
    if (!query) return false;
    sqlite3_stmt* statement = statementForQuery(*query, values, error);
    if (!statement) return false;
    return stepToDone(statement, *query, "execute statement", error);
}

bool APMSqliteStore::updateAllRecordsInTableWithName(const std::string& tableName, const std::string& columnName,
                                                     const Value& columnValue, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!tableName.empty(), "Empty table name for update"},
                        {!columnName.empty(), "Empty column name for update"},
                        {!columnValue.isNull(), "Nil column value for update"}},
                       error)) {
        return false;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Update record failed. Database not open.")) {
        return false;
    }
    const std::string query = NSString::format("UPDATE %@ SET %@=?", tableName, columnName);
    sqlite3_stmt* statement = statementForQuery(query, {columnValue}, error);
    if (!statement) return false;
    return stepToDone(statement, query, "update all records value", error);
}

bool APMSqliteStore::increaseColumn(const std::string& column, std::int64_t value, const std::string& table,
                                    const std::string& condition, const Value::Array& parameterValues,
                                    NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!table.empty(), "Empty table name for increase column"},
                        {!column.empty(), "Empty column name for increase column"},
                        {!condition.empty(), "Empty condition for increase column"}},
                       error)) {
        return false;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Increase column failed. Database not open.")) {
        return false;
    }
    auto info = columnInfoForTableWithName(table, nullptr);
    const std::pair<std::string, std::string>* declared = nullptr;
    if (info) {
        for (const auto& entry : *info) {
            if (entry.first == column) declared = &entry;
        }
    }
    if (!APMCheckSuccess(declared != nullptr, error, APMErrorInvalidArgument, "Invalid column or table name")) {
        return false;
    }
    // Read only once the column is known.
    if (!APMCheckSuccess(NSString::uppercaseString(declared->second) == "INTEGER", error, APMErrorInvalidArgument,
                         "Column type is not integer.")) {
        return false;
    }
    const std::string query = NSString::format("UPDATE %@ SET %@ = %@ + %lld WHERE %@", table, column, column,
                                               static_cast<long long>(value), condition);
    sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
    if (!statement) return false;
    return stepToDone(statement, query, "increase records value", error);
}

bool APMSqliteStore::deleteRecordFromTableWithName(const std::string& tableName, const std::string& columnName,
                                                   const Value& columnValue, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!tableName.empty(), "Received empty table name for delete record"},
                        {!columnName.empty(), "Received empty column for delete record"},
                        {!columnValue.isNull(), "Received nil value for delete record"}},
                       error)) {
        return false;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Delete record failed. Database not open.")) {
        return false;
    }
    sqlite3_stmt* statement = prepareSQL(NSString::format("DELETE FROM %@ WHERE %@=?", tableName, columnName), error);
    if (!statement) return false;
    if (!bindValues({columnValue}, statement, error)) {
        sqlite3_finalize(statement);
        return false;
    }
    const bool done = sqlite3_step(statement) == SQLITE_DONE;
    if (!done) setDatabaseError(error, "delete record");
    sqlite3_finalize(statement);
    return done;
}

std::optional<std::int64_t> APMSqliteStore::deleteRecordsFromTableWithName(const std::string& tableName,
                                                                           const std::string& condition,
                                                                           const Value::Array& parameterValues,
                                                                           NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!tableName.empty(), "Received empty table name for delete record"},
                        {!condition.empty(), "Received empty condition for delete record"}},
                       error)) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Delete records with condition failed. Database not open.")) {
        return std::nullopt;
    }
    const std::string query = NSString::format("DELETE FROM %@ WHERE %@", tableName, condition);
    sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
    if (!statement) return std::nullopt;
    std::optional<std::int64_t> deleted;
    if (sqlite3_step(statement) == SQLITE_DONE) deleted = sqlite3_changes(handle_);
    else setDatabaseError(error, "delete records with condition");
    cleanUpStatement(statement, query);
    return deleted;
}

bool APMSqliteStore::deleteAllRecordsFromTableWithName(const std::string& tableName, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!tableName.empty(), error, APMErrorInvalidArgument,
                         "Received empty table name for delete all records")) {
        return false;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Delete all records failed. Database not open.")) {
        return false;
    }
    const std::string query = NSString::format("DELETE FROM %@", tableName);
    sqlite3_stmt* statement = statementForQuery(query, error);
    if (!statement) return false;
    // SQLite empties the table at once, past the row hook.
    notifyChange(tableName.c_str(), false);
    return stepToDone(statement, query, "delete all records", error);
}

// MARK: Queries

std::optional<std::vector<Value::Dictionary>> APMSqliteStore::recordsForQuery(const std::string& query,
                                                                              const Value::Array& parameterValues,
                                                                              NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return recordsForQuery(query, parameterValues, error, [](std::size_t, const Value::Dictionary&) { return true; });
}

std::optional<std::vector<Value::Dictionary>> APMSqliteStore::recordsForQuery(const std::string& query,
                                                                              const Value::Array& parameterValues,
                                                                              NSErrorPtr* error,
                                                                              const RowFilter& filter) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!argumentsHold({{!query.empty(), "Received empty query for records for query"},
                        {static_cast<bool>(filter), "Received empty filter for selecting records"}},
                       error)) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Query records failed. Database not open.")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(NSString::hasPrefix(NSString::lowercaseString(query.substr(0, 6)), "select"), error,
                         APMErrorInvalidArgument, "Received invalid select query")) {
        return std::nullopt;
    }
    sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
    if (!statement) return std::nullopt;
    std::vector<Value::Dictionary> rows;
    std::size_t read = 0;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        ++read;
        Value::Dictionary row;
        const int columns = sqlite3_column_count(statement);
        for (int i = 0; i < columns; ++i) {
            const char* name = sqlite3_column_name(statement, i);
            if (!name) {
                APMMeasurementMonitor()->logWithLevel(4, 34003, "Failed to get column name");
                continue;
            }
            auto value = valueAtColumn(i, statement);
            if (!value) {
                APMMeasurementMonitor()->logWithLevel(4, 34004, "Value is nil for column", Value(name));
                continue;
            }
            row.set(name, std::move(*value));
        }
        if (!filter(rows.size(), row)) {
            rc = SQLITE_DONE;
            break;
        }
        rows.push_back(std::move(row));
    }
    // A step that fails part-way is a failed read, not a shorter result.
    std::optional<std::vector<Value::Dictionary>> result;
    if (rc == SQLITE_DONE) {
        if (read > 0 && rows.empty()) {
            APMMeasurementMonitor()->logWithLevel(4, 34005, "Database contains records that were all filtered out");
        }
        result = std::move(rows);
    } else {
        setDatabaseError(error, "execute statement");
    }
    cleanUpStatement(statement, query);
    return result;
}

std::optional<Value> APMSqliteStore::numberForQuery(const std::string& query, const Value::Array& parameterValues,
                                                    NSErrorPtr* error, bool fixedText) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!query.empty(), error, APMErrorInvalidArgument,
                         "Received empty query to get numeric result")) {
        return std::nullopt;
    }
    if (!APMCheckSuccess(handle_ != nullptr, error, APMErrorFailedPrecondition,
                         "Query numeric result failed. Database not open.")) {
        return std::nullopt;
    }
    sqlite3_stmt* statement = statementForQuery(query, parameterValues, error, fixedText);
    if (!statement) return std::nullopt;
    std::optional<Value> result;
    if (sqlite3_step(statement) != SQLITE_ROW) {
        setDatabaseError(error, "query numeric result");
    } else if (auto value = valueAtColumn(0, statement); value && !value->isNull()) {
        if (value->isNumber()) result = std::move(*value);
        else
            APMSetError(error, APMErrorInvalidArgument, "Found result that was not numeric");
    }
    cleanUpStatement(statement, query);
    return result;
}
