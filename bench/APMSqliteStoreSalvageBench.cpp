// The salvage of a 100 MB store kept aside as damaged: every row that still reads carried into
// the new file, with one damaged leaf (the common case: the tree leads to the rest) and with a
// damaged root (every row read from its leaf page). Against SQLite copying the same rows of the
// undamaged file (INSERT ... SELECT through ATTACH) on the same disk. And a crafted 10 MB file of
// 1.3 million pointers to one page that is no b-tree page, against SQLite's quick check of it.
// The carry is timed alone: copying the file into place and the opening's integrity check are
// not. Printed on wall time (the ratio line) and on the process's CPU time, with the rows carried
// and the log the carry left.
#include "analytics/core/APMSalvage.h"
#include "analytics/core/APMSqliteStore.h"
#include "platform/foundation/Sandbox.h"

#include "bench/support/CPUTime.h"
#include "bench/support/QueueShapedDatabase.h"
#include "bench/support/TemporaryHomeMain.h"
#include "tests/fixtures/DamagedPages.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>

namespace {

constexpr std::int64_t kFileBytes = 100ll << 20;
const std::string kCreate = queueShapedTableSQL("queue");

std::string folder() { return Sandbox::tmp() + "/salvage"; }
std::string wholePath() { return folder() + "/whole.sql"; }
std::string storePath() { return folder() + "/store/measurement.sql"; }

// The undamaged file, filled once with rows of an event queue's shape until it holds
// kFileBytes; the rows.
std::int64_t makeWholeFile() {
    static const std::int64_t rows = [] {
        std::filesystem::create_directories(folder());
        return fillQueueShapedTable(wholePath(), "queue", kFileBytes);
    }();
    return rows;
}

enum class Damage { MiddleLeaf, Root, Pointers };

// The queue's root leads to 510 interior pages, and they to 2,048 more, each of whose 510 cells
// points at one page that holds no b-tree page: 10 MB, 1.3 million pointers to one rejected page.
bool craftPointers(const std::string& path) {
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    const bool made = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                      sqlite3_exec(db, ("PRAGMA page_size=4096; " + kCreate).c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    const auto root = sqliteRows(path, "SELECT rootpage FROM sqlite_master WHERE name = 'queue'");
    if (!made || root.size() != 1 || root[0][0] != "2") return false;
    constexpr std::uint32_t kPage = 4096;
    constexpr std::uint32_t kCells = (kPage - 12) / 8;
    constexpr std::uint32_t kFirstLevel = 3;
    constexpr std::uint32_t kSecondLevel = kFirstLevel + kCells;
    constexpr std::uint32_t kRejected = kSecondLevel + 2048;
    const auto interior = [&](std::uint32_t number, const std::function<std::uint32_t(std::uint32_t)>& child) {
        std::string page(kPage, '\0');
        const auto put = [&page](std::size_t at, std::uint32_t value, int bytes) {
            for (int i = bytes - 1; i >= 0; --i, value >>= 8) page[at + static_cast<std::size_t>(i)] = static_cast<char>(value & 0xff);
        };
        page[0] = 0x05;
        put(3, kCells, 2);
        put(5, kPage - kCells * 6, 2);
        put(8, child(kCells), 4);
        for (std::uint32_t i = 0; i < kCells; ++i) {
            const std::uint32_t cell = kPage - (i + 1) * 6;
            put(12 + 2 * i, cell, 2);
            put(cell, child(i), 4);
            // The key, a two-byte varint.
            page[cell + 4] = static_cast<char>(0x80 | ((i + 1) >> 7));
            page[cell + 5] = static_cast<char>((i + 1) & 0x7f);
        }
        return overwriteBytes(path, static_cast<long>(number - 1) * kPage, page);
    };
    bool written = interior(2, [](std::uint32_t i) { return kFirstLevel + i % kCells; });
    for (std::uint32_t page = kFirstLevel; written && page < kSecondLevel; ++page) {
        written = interior(page, [page](std::uint32_t i) { return kSecondLevel + (page * kCells + i) % 2048; });
    }
    for (std::uint32_t page = kSecondLevel; written && page < kRejected; ++page) {
        written = interior(page, [](std::uint32_t) { return kRejected; });
    }
    // The last page, and the header's page count with its valid-for counter.
    std::string count(4, '\0');
    for (int i = 3, value = static_cast<int>(kRejected); i >= 0; --i, value >>= 8) count[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xff);
    std::string changes(4, '\0');
    std::ifstream(path, std::ios::binary).seekg(24).read(changes.data(), 4);
    return written && overwriteBytes(path, static_cast<long>(kRejected) * kPage - 1, std::string(1, '\0')) &&
           overwriteBytes(path, 28, count) && overwriteBytes(path, 92, changes);
}

// A copy of the whole file with its damage, made once per kind; empty when it cannot be made.
std::string damagedFile(Damage damage) {
    static std::map<Damage, std::string> made;
    if (const auto found = made.find(damage); found != made.end()) return found->second;
    const std::string path = folder() + (damage == Damage::Root       ? "/root.sql"
                                         : damage == Damage::Pointers ? "/pointers.sql"
                                                                      : "/leaf.sql");
    if (damage == Damage::Pointers) return made[damage] = craftPointers(path) ? path : std::string();
    std::filesystem::copy_file(wholePath(), path, std::filesystem::copy_options::overwrite_existing);
    bool damaged = false;
    if (damage == Damage::MiddleLeaf) {
        const auto leaves = sqliteRows(path, "SELECT count(*) FROM dbstat WHERE name = 'queue' AND pagetype = 'leaf'");
        damaged = leaves.size() == 1 && overwriteLeafHeader(path, "queue", std::stoi(leaves[0][0]) / 2) > 0;
    } else {
        const long pageSize = pageSizeOf(path);
        const auto root = sqliteRows(path, "SELECT rootpage FROM sqlite_master WHERE name = 'queue'");
        damaged = pageSize > 0 && root.size() == 1 &&
                  overwriteBytes(path, (std::stol(root[0][0]) - 1) * pageSize, "\xa5");
    }
    return made[damage] = damaged ? path : std::string();
}

struct Figures {
    double projectCPU = 0;
    double anchorCPU = 0;
    long long rounds = 0;
    std::int64_t carried = 0;
    std::int64_t rows = 0;
    std::uintmax_t logBytes = 0;
};
std::map<std::string, Figures> figures;

void removeStore() {
    std::error_code ignored;
    std::filesystem::remove_all(folder() + "/store", ignored);
    std::filesystem::create_directories(folder() + "/store");
}

void salvage(benchmark::State& state, Damage damage, const std::string& name) {
    const std::int64_t rows = damage == Damage::Pointers ? 0 : makeWholeFile();
    const std::string damaged = rows > 0 || damage == Damage::Pointers ? damagedFile(damage) : std::string();
    if (damaged.empty()) {
        state.SkipWithError("the damaged file could not be made");
        return;
    }
    Figures run;
    run.rows = rows;
    bool failed = false;
    auto project = [&](bench::SideTimer& timer) {
        timer.pause();
        removeStore();
        std::filesystem::copy_file(damaged, storePath());
        NSErrorPtr error;
        auto store = APMSqliteStore::initWithDatabasePath(storePath(), &error);
        if (!store || !std::filesystem::exists(storePath() + ".uncarried") || !store->useWriteAheadLog(nullptr) ||
            !store->executeSQL(kCreate, nullptr)) {
            failed = true;
            timer.resume();
            return;
        }
        timer.resume();
        const double start = bench::processCPUSeconds();
        const auto carried = APMSalvage::carryKeptFiles(*store);
        run.projectCPU += bench::processCPUSeconds() - start;
        timer.pause();
        if (carried.waiting != 0) failed = true;
        else run.carried = carried.rows;
        std::error_code ignored;
        run.logBytes = std::filesystem::file_size(storePath() + "-wal", ignored);
        if (ignored) run.logBytes = 0;
        store.reset();
        timer.resume();
    };
    auto anchor = [&](bench::SideTimer& timer) {
        timer.pause();
        removeStore();
        sqlite3* db = nullptr;
        const bool made = sqlite3_open(storePath().c_str(), &db) == SQLITE_OK &&
                          sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL", nullptr, nullptr,
                                       nullptr) == SQLITE_OK &&
                          sqlite3_exec(db, kCreate.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
                          sqlite3_exec(db, ("ATTACH '" + (damage == Damage::Pointers ? damaged : wholePath()) +
                                            "' AS whole").c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        timer.resume();
        const double start = bench::processCPUSeconds();
        // The crafted file's anchor is SQLite's own quick look at it.
        const std::string work = damage == Damage::Pointers ? "PRAGMA whole.quick_check"
                                                             : "INSERT INTO queue(rowid, name, timestamp, "
                                                               "metadata_fingerprint, data, is_realtime, score) SELECT "
                                                               "rowid, * FROM whole.queue";
        if (!made || sqlite3_exec(db, work.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) failed = true;
        run.anchorCPU += bench::processCPUSeconds() - start;
        timer.pause();
        sqlite3_close(db);
        timer.resume();
    };
    bench::alternate(state, name, rows > 0 ? "row" : "file", rows > 0 ? static_cast<double>(rows) : 1.0, project, anchor);
    if (failed) state.SkipWithError("a side failed");
    run.rounds = static_cast<long long>(state.iterations());
    state.counters["carried"] = static_cast<double>(run.carried);
    figures[name] = run;
}

void BM_SalvageWithOneDamagedLeaf(benchmark::State& state) {
    salvage(state, Damage::MiddleLeaf, "salvage of a 100 MB store with one damaged leaf");
}
void BM_SalvageWithADamagedRoot(benchmark::State& state) {
    salvage(state, Damage::Root, "salvage of a 100 MB store with a damaged root");
}
void BM_SalvageOfPointersToOneRejectedPage(benchmark::State& state) {
    salvage(state, Damage::Pointers, "salvage of a 10 MB file of 1.3 million pointers to one rejected page");
}
BENCHMARK(BM_SalvageWithOneDamagedLeaf)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_SalvageWithADamagedRoot)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_SalvageOfPointersToOneRejectedPage)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const int result = bench::runInTemporaryHome(argc, argv, {});
    for (const auto& [name, run] : figures) {
        if (run.rounds == 0 || run.anchorCPU <= 0) continue;
        std::printf("cpu ratio %s: time %.3fx anchor (project %.1f ms, anchor %.1f ms per store; %lld rounds); "
                    "%lld of %lld rows carried, log left %.1f MB\n",
                    name.c_str(), run.projectCPU / run.anchorCPU,
                    run.projectCPU * 1e3 / static_cast<double>(run.rounds),
                    run.anchorCPU * 1e3 / static_cast<double>(run.rounds), run.rounds,
                    static_cast<long long>(run.carried), static_cast<long long>(run.rows),
                    static_cast<double>(run.logBytes) / (1 << 20));
    }
    return result;
}
