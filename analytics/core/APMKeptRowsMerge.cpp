// The default rules, and running each table's.
#include "analytics/core/APMKeptRowsMerge.h"

#include "analytics/core/APMCarriedRecord.h"
#include "analytics/core/APMSqlText.h"

#include <sqlite3.h>

namespace {

// Each row of a one-column query; false when it fails.
bool rowsOf(sqlite3* db, const std::string& sql, std::vector<std::string>& rows) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) rows.push_back(APMColumnText(statement, 0));
    }
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE;
}

// The store's columns of `table` that the working copy has too, quoted and joined.
bool sharedColumns(sqlite3* store, const std::string& table, std::string& columns) {
    std::vector<std::string> names;
    if (!rowsOf(store,
                "SELECT m.name FROM pragma_table_info(" + APMQuotedIdentifier(table) + ", 'main') AS m WHERE m.name IN (SELECT "
                "name FROM pragma_table_info(" + APMQuotedIdentifier(table) + ", 'kept')) ORDER BY m.cid",
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
    if (!rowsOf(store,
                "SELECT 1 FROM pragma_table_info(" + APMQuotedIdentifier(table) + ", 'main') WHERE pk > 0 UNION ALL SELECT 1 FROM "
                "pragma_index_list(" + APMQuotedIdentifier(table) + ", 'main') WHERE \"unique\"",
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

}  // namespace

bool APMKeptRowsMerge::merge(sqlite3* store, const APMKeptRowsRules& rules, int& failure) {
    const auto failed = [&] {
        failure = sqlite3_extended_errcode(store);
        if (failure == SQLITE_OK) failure = SQLITE_ERROR;
        return false;
    };
    std::vector<std::string> tables;
    if (!rowsOf(store,
                std::string("SELECT name FROM main.sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite%' AND "
                            "name <> '") + APMCarriedRecord::kStoreTable +
                    "' AND name IN (SELECT name FROM kept.sqlite_schema WHERE type = 'table') ORDER BY name",
                tables)) {
        return failed();
    }
    for (const std::string& table : tables) {
        std::vector<std::string> statements;
        if (const auto rule = rules.find(table); rule != rules.end()) {
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
