// Reading every row of a 200 MB database from its leaf pages, by the file format, against SQLite
// reading the same rows (SELECT * FROM t) on the same file; both make the same values of every
// column. Printed on wall time (the ratio line) and on the process's CPU time (the line after).
#include "platform/foundation/Sandbox.h"
#include "platform/sqlite/SQLitePageImage.h"

#include "bench/support/TemporaryHomeMain.h"
#include "tests/fixtures/SqliteRows.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <random>
#include <string>

namespace {

constexpr std::int64_t kFileBytes = 200ll << 20;
const char* const kCreate =
    "CREATE TABLE t(name TEXT NOT NULL, timestamp INTEGER NOT NULL, metadata_fingerprint INTEGER NOT NULL, "
    "data BLOB NOT NULL, is_realtime INTEGER, score REAL)";

std::string databasePath() { return Sandbox::tmp() + "/pages.sqlite"; }

// The file, filled once with rows of an event queue's shape until it holds kFileBytes; the rows.
std::int64_t makeDatabase() {
    static std::int64_t rows = -1;
    if (rows >= 0) return rows;
    sqlite3* db = nullptr;
    if (sqlite3_open(databasePath().c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows = 0;
    }
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
    std::mt19937_64 random(7);
    std::vector<std::uint8_t> data(1200);
    std::int64_t written = 0;
    for (std::int64_t n = 0; written < kFileBytes; ++n) {
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
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rows;
}

double processCPUSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct CPUTimes {
    double project = 0;
    double anchor = 0;
    long long rounds = 0;
};
CPUTimes cpuTimes;

void BM_EveryRowFromLeafPages(benchmark::State& state) {
    const std::int64_t rows = makeDatabase();
    if (rows == 0) {
        state.SkipWithError("the database could not be made");
        return;
    }
    CPUTimes cpu;
    std::int64_t projectRows = 0;
    std::int64_t anchorRows = 0;
    auto project = [&] {
        const double start = processCPUSeconds();
        int err = 0;
        auto image = SQLitePageImage::open(databasePath(), err);
        projectRows = 0;
        if (image && image->plan({{"t", {"TEXT", "INTEGER", "INTEGER", "BLOB", "INTEGER", "REAL"}}}) == 0) {
            (void)image->forEachRow("t", [&](std::int64_t rowid, const Value::Array& values) {
                benchmark::DoNotOptimize(rowid);
                benchmark::DoNotOptimize(values.data());
                ++projectRows;
                return true;
            });
        }
        cpu.project += processCPUSeconds() - start;
    };
    auto anchor = [&] {
        const double start = processCPUSeconds();
        sqlite3* db = nullptr;
        sqlite3_stmt* select = nullptr;
        anchorRows = 0;
        if (sqlite3_open_v2(databasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "SELECT rowid, * FROM t", -1, &select, nullptr) == SQLITE_OK) {
            Value::Array values;
            while (sqlite3_step(select) == SQLITE_ROW) {
                const int columns = sqlite3_column_count(select);
                values.clear();
                for (int i = 1; i < columns; ++i) values.push_back(sqliteValue(select, i));
                const std::int64_t rowid = sqlite3_column_int64(select, 0);
                benchmark::DoNotOptimize(rowid);
                benchmark::DoNotOptimize(values.data());
                ++anchorRows;
            }
        }
        sqlite3_finalize(select);
        sqlite3_close(db);
        cpu.anchor += processCPUSeconds() - start;
    };
    bench::alternate(state, "every row of a 200 MB file from its leaf pages", "row", static_cast<double>(rows),
                     project, anchor);
    if (projectRows != rows || anchorRows != rows) state.SkipWithError("a side did not read every row");
    cpu.rounds = static_cast<long long>(state.iterations());
    cpuTimes = cpu;
}
BENCHMARK(BM_EveryRowFromLeafPages)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const int result = bench::runInTemporaryHome(argc, argv, {});
    if (cpuTimes.rounds > 0 && cpuTimes.anchor > 0) {
        std::printf("cpu ratio every row of a 200 MB file from its leaf pages: time %.3fx anchor (project %.1f ms, "
                    "anchor %.1f ms per file; %lld rounds)\n",
                    cpuTimes.project / cpuTimes.anchor, cpuTimes.project * 1e3 / static_cast<double>(cpuTimes.rounds),
                    cpuTimes.anchor * 1e3 / static_cast<double>(cpuTimes.rounds), cpuTimes.rounds);
    }
    return result;
}
