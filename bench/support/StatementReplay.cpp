// The plain program under a whole-process launch: the statements a launch ran (StatementTrace's
// lines), run again on the same database files, each connection opened at its first statement,
// every row stepped and every column read as text, and nothing else.
// Usage: StatementReplay TRACE [FROM TO]   (database paths starting with FROM start with TO instead)
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

namespace {

std::string unescape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: StatementReplay TRACE [FROM TO]\n");
        return 2;
    }
    const std::string from = argc == 4 ? argv[2] : "", to = argc == 4 ? argv[3] : "";
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    std::map<std::string, sqlite3*> connections;
    long statements = 0, failed = 0, rows = 0;
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        std::string file = unescape(line.substr(0, tab));
        if (!from.empty() && file.compare(0, from.size(), from) == 0) file = to + file.substr(from.size());
        const std::string sql = unescape(line.substr(tab + 1));
        sqlite3*& db = connections[file];
        if (!db && sqlite3_open_v2(file.empty() ? ":memory:" : file.c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "cannot open %s\n", file.c_str());
            return 1;
        }
        ++statements;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            ++failed;
            continue;
        }
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
            const int columns = sqlite3_column_count(stmt);
            for (int i = 0; i < columns; ++i) {
                (void)sqlite3_column_text(stmt, i);
                (void)sqlite3_column_bytes(stmt, i);
            }
            ++rows;
        }
        if (step != SQLITE_DONE) ++failed;
        sqlite3_finalize(stmt);
    }
    for (auto& [file, db] : connections) sqlite3_close(db);
    std::printf("%ld statements, %ld failed, %ld rows, %zu databases\n", statements, failed, rows, connections.size());
    return 0;
}
