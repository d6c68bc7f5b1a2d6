// Names in SQL text that come from a file's schema, and text read back from a statement.
#pragma once

#include <sqlite3.h>

#include <string>

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
