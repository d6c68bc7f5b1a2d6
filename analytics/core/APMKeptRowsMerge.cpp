// The default rules, and running each table's.
#include "analytics/core/APMKeptRowsMerge.h"

#include "analytics/core/APMCarriedRecord.h"
#include "analytics/core/APMSqlText.h"

#include <sqlite3.h>

#include <optional>

namespace {

// The store's columns of `table` that the working copy has too, quoted and joined.
bool sharedColumns(sqlite3* store, const std::string& table, std::string& columns) {
    std::vector<std::string> names;
    if (!APMColumnRows(store,
                       "SELECT m.name FROM pragma_table_info(" + APMQuotedIdentifier(table) +
                           ", 'main') AS m WHERE m.name IN (SELECT name FROM pragma_table_info(" +
                           APMQuotedIdentifier(table) + ", 'kept')) ORDER BY m.cid",
                       names)) {
        return false;
    }
    columns.clear();
    for (const std::string& name : names) columns += (columns.empty() ? "" : ", ") + APMQuotedIdentifier(name);
    return true;
}

// Whether a row of `table` is known by a key: a primary key or a unique index.
bool hasKey(sqlite3* store, const std::string& table, bool& keyed) {
    std::vector<std::string> keys;
    if (!APMColumnRows(store,
                       "SELECT 1 FROM pragma_table_info(" + APMQuotedIdentifier(table) +
                           ", 'main') WHERE pk > 0 UNION ALL SELECT 1 FROM pragma_index_list(" +
                           APMQuotedIdentifier(table) + ", 'main') WHERE \"unique\"",
                       keys)) {
        return false;
    }
    keyed = !keys.empty();
    return true;
}

std::vector<std::string> defaultRule(const std::string& table, const std::string& columns, bool keyed) {
    const std::string mine = "main." + APMQuotedIdentifier(table);
    const std::string kept = "kept." + APMQuotedIdentifier(table);
    if (keyed) return {"INSERT OR IGNORE INTO " + mine + " (" + columns + ") SELECT " + columns + " FROM " + kept + " ORDER BY rowid"};
    return {"CREATE TEMP TABLE salvage_own AS SELECT " + columns + " FROM " + mine + " ORDER BY rowid",
            "DELETE FROM " + mine,
            "INSERT INTO " + mine + " (rowid, " + columns + ") SELECT rowid, " + columns + " FROM " + kept + " ORDER BY rowid",
            "INSERT INTO " + mine + " (" + columns + ") SELECT " + columns + " FROM temp.salvage_own ORDER BY rowid",
            "DROP TABLE temp.salvage_own"};
}

// Deletes the kept rows of `table` past `limit`: of the kept keys the store lacks, those after
// the first that still fit; how many rows went, or nothing when it fails.
std::optional<std::int64_t> applyLimit(sqlite3* store, const std::string& table, const APMKeptRowsLimit& limit) {
    const std::string key = APMQuotedIdentifier(limit.key);
    const std::string where = "(" + (limit.where.empty() ? std::string("1") : limit.where) + ")";
    const std::string mine = "main." + APMQuotedIdentifier(table);
    const std::string kept = "kept." + APMQuotedIdentifier(table);
    const std::string fresh = where + " AND " + key + " NOT IN (SELECT " + key + " FROM " + mine + ")";
    const std::string sql = "DELETE FROM " + kept + " WHERE " + fresh + " AND " + key + " NOT IN (SELECT " + key +
                            " FROM " + kept + " WHERE " + fresh + " GROUP BY " + key + " ORDER BY min(rowid) LIMIT " +
                            "max(0, " + std::to_string(limit.rows) + " - (SELECT count(*) FROM " + mine + " WHERE " +
                            where + ")))";
    if (sqlite3_exec(store, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return std::nullopt;
    return sqlite3_changes64(store);
}

}  // namespace

bool APMKeptRowsMerge::merge(sqlite3* store, const APMKeptRowsRules& rules,
                             std::map<std::string, std::int64_t>& leftOut, int& failure) {
    const auto failed = [&] {
        failure = sqlite3_extended_errcode(store);
        if (failure == SQLITE_OK) failure = SQLITE_ERROR;
        return false;
    };
    std::vector<std::string> tables;
    if (!APMColumnRows(store,
                       std::string("SELECT name FROM main.sqlite_schema WHERE type = 'table' AND name NOT LIKE "
                                   "'sqlite%' AND name <> '") +
                           APMCarriedRecord::kStoreTable +
                           "' AND name IN (SELECT name FROM kept.sqlite_schema WHERE type = 'table') ORDER BY name",
                       tables)) {
        return failed();
    }
    for (const std::string& table : tables) {
        if (const auto limits = rules.limits.find(table); limits != rules.limits.end()) {
            for (const APMKeptRowsLimit& limit : limits->second) {
                const auto deleted = applyLimit(store, table, limit);
                if (!deleted) return failed();
                if (*deleted > 0) leftOut[table] += *deleted;
            }
        }
        std::vector<std::string> statements;
        if (const auto rule = rules.statements.find(table); rule != rules.statements.end()) {
            statements = rule->second;
        } else {
            std::string columns;
            bool keyed = false;
            if (!sharedColumns(store, table, columns) || !hasKey(store, table, keyed)) return failed();
            if (columns.empty()) continue;
            statements = defaultRule(table, columns, keyed);
        }
        for (const std::string& sql : statements) {
            if (sqlite3_exec(store, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return failed();
        }
    }
    return true;
}
