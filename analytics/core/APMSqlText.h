// Names in SQL text that come from a file's schema, and text read back from a statement.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

// An identifier in double quotes, its own quotes doubled.
inline std::string APMQuotedIdentifier(const std::string& identifier) {
    std::string text = "\"";
    for (const char c : identifier) text += c == '"' ? std::string("\"\"") : std::string(1, c);
    return text + "\"";
}

// The column's text, "" for null.
inline std::string APMColumnText(sqlite3_stmt* statement, int column) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return value ? value : "";
}

// The first column of each row `sql` answers, appended to `rows`; false when it fails.
inline bool APMColumnRows(sqlite3* db, const std::string& sql, std::vector<std::string>& rows) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) rows.push_back(APMColumnText(statement, 0));
    }
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE;
}
