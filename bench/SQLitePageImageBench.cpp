// Reading every row of a 200 MB database from its leaf pages, by the file format, against SQLite
// reading the same rows (SELECT * FROM t) on the same file; both make the same values of every
// column. Printed on wall time (the ratio line) and on the process's CPU time (the line after).
#include "platform/foundation/Sandbox.h"
#include "platform/sqlite/SQLitePageImage.h"

#include "bench/support/CPUTime.h"
#include "bench/support/QueueShapedDatabase.h"
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

std::string databasePath() { return Sandbox::tmp() + "/pages.sqlite"; }

// The file, filled once with rows of an event queue's shape until it holds kFileBytes; the rows.
std::int64_t makeDatabase() {
    static const std::int64_t rows = fillQueueShapedTable(databasePath(), "t", kFileBytes);
    return rows;
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
        const double start = bench::processCPUSeconds();
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
        cpu.project += bench::processCPUSeconds() - start;
    };
    auto anchor = [&] {
        const double start = bench::processCPUSeconds();
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
        cpu.anchor += bench::processCPUSeconds() - start;
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
