// A SQLite file filled with rows of an event queue's shape (a name, a timestamp, a fingerprint, a
// blob of 200-1,200 random bytes, a flag that is null a third of the time, a real), the same rows
// on every call, for the benchmarks that read such a file back.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// "CREATE TABLE <table>(...)" of that shape.
inline std::string queueShapedTableSQL(const std::string& table) {
    return "CREATE TABLE " + table +
           "(name TEXT NOT NULL, timestamp INTEGER NOT NULL, metadata_fingerprint INTEGER NOT NULL, "
           "data BLOB NOT NULL, is_realtime INTEGER, score REAL)";
}

// Makes `table` in the file at `path` and fills it in one transaction until its values hold about
// `bytes`; the rows written, 0 when the file cannot be written.
inline std::int64_t fillQueueShapedTable(const std::string& path, const std::string& table, std::int64_t bytes) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, queueShapedTableSQL(table).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return 0;
    }
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, ("INSERT INTO " + table + " VALUES(?, ?, ?, ?, ?, ?)").c_str(), -1, &insert, nullptr);
    std::mt19937_64 random(7);
    std::vector<std::uint8_t> data(1200);
    std::int64_t written = 0;
    std::int64_t rows = 0;
    for (std::int64_t n = 0; written < bytes; ++n) {
        const std::size_t size = 200 + random() % 1000;
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(random());
        const std::string name = "event_" + std::to_string(n % 37);
        sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 2, 1700000000000 + n * 17);
        sqlite3_bind_int64(insert, 3, static_cast<std::int64_t>(random()));
        sqlite3_bind_blob(insert, 4, data.data(), static_cast<int>(size), SQLITE_STATIC);
        if (n % 3 == 0) sqlite3_bind_null(insert, 5);
        else sqlite3_bind_int64(insert, 5, n % 2);
        sqlite3_bind_double(insert, 6, static_cast<double>(n) / 7.0);
        sqlite3_step(insert);
        sqlite3_reset(insert);
        written += static_cast<std::int64_t>(size) + 60;
        rows = n + 1;
    }
    sqlite3_finalize(insert);
    const bool committed = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return committed ? rows : 0;
}
