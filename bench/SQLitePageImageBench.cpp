// Reading a database's rows from its leaf pages, by the file format, against SQLite reading the
// same file, so that the reader's cost is seen to follow the bytes of the file and its log:
// - every row of a 200 MB file and of a 4 MB one, of an ordinary size, against SQLite's SELECT of
//   every row; both make the same values of every column;
// - a 1.6 KB file whose log's commit frame names page 10^9, or 2^32-1, under a header no longer
//   current (so that the frame's count is the one taken), against SQLite's SELECT of every row;
// - files of 512-byte pages, of 1 MB and of 10 MB, whose cells all name one long overflow chain,
//   against SQLite's quick_check, which reads every page of the trees and of each chain once,
//   meeting the shared pages again, as the reader does.
// Printed on wall time (the ratio lines) and on the process's CPU time (the lines after).
#include "platform/foundation/Sandbox.h"
#include "platform/sqlite/SQLitePageImage.h"

#include "bench/support/CPUTime.h"
#include "bench/support/QueueShapedDatabase.h"
#include "bench/support/TemporaryHomeMain.h"
#include "tests/fixtures/CraftedPages.h"
#include "tests/fixtures/SqliteRows.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

struct CPUTimes {
    double project = 0;
    double anchor = 0;
    long long rounds = 0;
    std::string unit;
    double unitsPerRound = 1;
};
std::map<std::string, CPUTimes> cpuTimes;

const std::vector<SQLitePageImage::TableShape> kQueueShape = {
    {"t", {"TEXT", "INTEGER", "INTEGER", "BLOB", "INTEGER", "REAL"}}};
const std::vector<SQLitePageImage::TableShape> kCraftedShape = {{"t", {"INTEGER", "BLOB"}}};

// Every row the reader gives for `shapes` in the file at `path`.
std::int64_t readerRows(const std::string& path, const std::vector<SQLitePageImage::TableShape>& shapes) {
    int err = 0;
    auto image = SQLitePageImage::open(path, err);
    std::int64_t rows = 0;
    if (!image || image->plan(shapes) != 0) return -1;
    for (const auto& shape : shapes) {
        const int walked = image->forEachRow(shape.name, [&](std::int64_t rowid, const Value::Array& values) {
            benchmark::DoNotOptimize(rowid);
            benchmark::DoNotOptimize(values.data());
            ++rows;
            return true;
        });
        if (walked != 0) return -1;
    }
    return rows;
}

// Every row of t as SQLite reads it, through a connection that leaves the log as it found it
// (no checkpoint on close, and the log's index made again on each open).
std::int64_t sqliteRowsOfT(const std::string& path, bench::SideTimer& timer) {
    timer.pause();
    std::filesystem::remove(path + "-shm");
    timer.resume();
    sqlite3* db = nullptr;
    sqlite3_stmt* select = nullptr;
    std::int64_t rows = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT rowid, * FROM t", -1, &select, nullptr) == SQLITE_OK) {
        rows = 0;
        Value::Array values;
        while (sqlite3_step(select) == SQLITE_ROW) {
            const int columns = sqlite3_column_count(select);
            values.clear();
            for (int i = 1; i < columns; ++i) values.push_back(sqliteValue(select, i));
            const std::int64_t rowid = sqlite3_column_int64(select, 0);
            benchmark::DoNotOptimize(rowid);
            benchmark::DoNotOptimize(values.data());
            ++rows;
        }
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return rows;
}

// SQLite's quick_check of the whole file, every problem it finds: the pages it met a second time.
std::int64_t sqliteQuickCheck(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_stmt* check = nullptr;
    std::int64_t again = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "PRAGMA quick_check(100000000)", -1, &check, nullptr) == SQLITE_OK) {
        again = 0;
        while (sqlite3_step(check) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
            for (const char* at = text; at && (at = std::strstr(at, "2nd reference")) != nullptr; ++at) ++again;
        }
    }
    sqlite3_finalize(check);
    sqlite3_close(db);
    return again;
}

// The reader against `anchor` on the file at `path`, alternating, with both sides' CPU time kept
// under `name`. `wantRows` is the rows the reader must give, `anchorWants` what the anchor must.
template <class Anchor>
void paired(benchmark::State& state, const std::string& name, const std::string& unit, double units,
          const std::string& path, const std::vector<SQLitePageImage::TableShape>& shapes, std::int64_t wantRows,
          std::int64_t anchorWants, Anchor&& anchor) {
    CPUTimes cpu;
    cpu.unit = unit;
    cpu.unitsPerRound = units;
    std::int64_t projectGot = 0;
    std::int64_t anchorGot = 0;
    auto project = [&] {
        const double start = bench::processCPUSeconds();
        projectGot = readerRows(path, shapes);
        cpu.project += bench::processCPUSeconds() - start;
    };
    auto anchorSide = [&](bench::SideTimer& timer) {
        const double start = bench::processCPUSeconds();
        anchorGot = anchor(timer);
        cpu.anchor += bench::processCPUSeconds() - start;
    };
    bench::alternate(state, name, unit, units, project, anchorSide);
    if (projectGot != wantRows) {
        state.SkipWithError(("the reader gave " + std::to_string(projectGot) + " rows").c_str());
        return;
    }
    if (anchorGot != anchorWants) {
        state.SkipWithError(("SQLite gave " + std::to_string(anchorGot)).c_str());
        return;
    }
    cpu.rounds = static_cast<long long>(state.iterations());
    cpuTimes[name] = cpu;
}

// A file of about `bytes` of the queue's shape, made once; its rows.
struct QueueFile {
    std::string path;
    std::int64_t rows = 0;
};
const QueueFile& queueFile(std::int64_t bytes) {
    static std::map<std::int64_t, QueueFile> files;
    auto [at, made] = files.try_emplace(bytes);
    if (made) {
        at->second.path = Sandbox::tmp() + "/queue-" + std::to_string(bytes) + ".sqlite";
        at->second.rows = fillQueueShapedTable(at->second.path, "t", bytes);
    }
    return at->second;
}

void everyRow(benchmark::State& state, std::int64_t bytes, const std::string& name) {
    const QueueFile& file = queueFile(bytes);
    if (file.rows == 0) {
        state.SkipWithError("the database could not be made");
        return;
    }
    paired(state, name, "row", static_cast<double>(file.rows), file.path, kQueueShape, file.rows, file.rows,
           [&](bench::SideTimer& timer) { return sqliteRowsOfT(file.path, timer); });
}

void BM_EveryRowOf200MB(benchmark::State& state) {
    everyRow(state, 200ll << 20, "every row of a 200 MB file from its leaf pages");
}
BENCHMARK(BM_EveryRowOf200MB)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();

void BM_EveryRowOf4MB(benchmark::State& state) {
    everyRow(state, 4ll << 20, "every row of a 4 MB file from its leaf pages");
}
BENCHMARK(BM_EveryRowOf4MB)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// A two-page file of t's rows under a header no longer current, and a log whose one commit
// frame holds a leaf of other rows as page `page` of a database of `page` pages.
void logFarPastTheFile(benchmark::State& state) {
    const auto page = static_cast<std::uint32_t>(state.range(0));
    const std::vector<crafted::Row> inFile = {{1, 10, "one"}, {2, 20, "two"}};
    const std::vector<crafted::Row> inLog = {{7, 70, "seven"}, {8, 80, "eight"}};
    std::string file = crafted::firstPage(512, 2, 2) + crafted::leafOf(512, inFile);
    crafted::put4(file, 92, 0);
    const std::string path = Sandbox::tmp() + "/far-" + std::to_string(page) + ".sqlite";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
    std::ofstream(path + "-wal", std::ios::binary | std::ios::trunc)
        << crafted::logOfOneCommit(512, page, page, crafted::leafOf(512, inLog));
    // The frame's page is within the count at 10^9, and the reader gives its rows by shape as well.
    const std::int64_t readerWants = page == 1000000000 ? 4 : 2;
    paired(state, "a log whose commit frame names page " + std::to_string(page), "file", 1, path, kCraftedShape,
           readerWants, 2, [&](bench::SideTimer& timer) { return sqliteRowsOfT(path, timer); });
}
BENCHMARK(logFarPastTheFile)
    ->Arg(1000000000)
    ->Arg(0xffffffff)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0)
    ->UseRealTime();

// Cells in `leaves` leaves of 512-byte pages all naming one chain of as many pages, under a tree
// SQLite reads.
void sharedChain(benchmark::State& state) {
    const auto leaves = static_cast<std::uint32_t>(state.range(0));
    const crafted::SharedChain made = crafted::sharedChainFile(leaves, leaves, true);
    const std::string path = Sandbox::tmp() + "/shared-" + std::to_string(leaves) + ".sqlite";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << made.file;
    const double megabytes = static_cast<double>(made.file.size()) / (1 << 20);
    char name[96];
    std::snprintf(name, sizeof name, "a %.1f MB file of cells sharing one overflow chain", megabytes);
    // quick_check names a page met a second time for each cell but the one whose chain it read first.
    paired(state, name, "MB", megabytes, path, kCraftedShape, static_cast<std::int64_t>(made.rows.size()),
           made.sharingCells - 1, [&](bench::SideTimer&) { return sqliteQuickCheck(path); });
}
BENCHMARK(sharedChain)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const int result = bench::runInTemporaryHome(argc, argv, {});
    for (const auto& [name, cpu] : cpuTimes) {
        if (cpu.rounds == 0 || cpu.anchor <= 0) continue;
        const double units = static_cast<double>(cpu.rounds) * cpu.unitsPerRound;
        std::printf("cpu ratio %s: time %.3fx anchor (project %.3f ms, anchor %.3f ms per %s; %lld rounds)\n",
                    name.c_str(), cpu.project / cpu.anchor, cpu.project * 1e3 / units, cpu.anchor * 1e3 / units,
                    cpu.unit.c_str(), cpu.rounds);
    }
    return result;
}
