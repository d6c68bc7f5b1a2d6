// Loaded into a process with LD_PRELOAD: every SQLite statement the process runs, with its bound
// values, appended to the file named by OSTREL_STATEMENT_TRACE as "<database file>\t<SQL>" lines
// (backslash, tab and newline escaped), in the order they start. The start-up benchmark records a
// launch with it for the plain program that replays the same statements.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

std::mutex gMutex;
std::FILE* gOut = nullptr;

void escapeInto(std::string& line, const char* text) {
    for (const char* c = text; *c; ++c) {
        if (*c == '\\') line += "\\\\";
        else if (*c == '\t') line += "\\t";
        else if (*c == '\n') line += "\\n";
        else line += *c;
    }
}

int traced(unsigned, void*, void* statement, void* text) {
    const char* sql = static_cast<const char*>(text);
    // Statements of triggers come as comments: their outer statement runs them again.
    if (!sql || (sql[0] == '-' && sql[1] == '-')) return 0;
    auto* stmt = static_cast<sqlite3_stmt*>(statement);
    const char* file = sqlite3_db_filename(sqlite3_db_handle(stmt), "main");
    char* expanded = sqlite3_expanded_sql(stmt);
    std::string line;
    escapeInto(line, file ? file : "");
    line += '\t';
    escapeInto(line, expanded ? expanded : sql);
    line += '\n';
    sqlite3_free(expanded);
    std::lock_guard lock(gMutex);
    std::fwrite(line.data(), 1, line.size(), gOut);
    std::fflush(gOut);
    return 0;
}

int onOpen(sqlite3* db, const char**, const sqlite3_api_routines*) {
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, traced, nullptr);
    return SQLITE_OK;
}

__attribute__((constructor)) void install() {
    const char* path = std::getenv("OSTREL_STATEMENT_TRACE");
    if (!path || !*path) return;
    gOut = std::fopen(path, "w");
    if (!gOut) return;
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(onOpen));
}

}  // namespace
