// The reading of a 100 MB store kept aside as damaged (APMKeptFileReader: the recovery extension
// through the view of its pages, then the placement of its rows), with one damaged leaf (the
// common case: the tree leads to the rest) and with a damaged root (every row read from its leaf
// page), against the recovery extension alone, lost-and-found on, on the same damaged file into a
// file of its own: what the reading adds to it. And a crafted 10 MB file of 1.3 million pointers
// to one page that is no b-tree page, against the same. The joining of the rows to the store is
// the salvage's own (APMSalvageBench) and timed by neither side; making the damaged files and
// removing what a round wrote are timed by neither. Printed on wall time (the ratio line) and on
// the process's CPU time, with the rows carried.
//
// A hostile 9.7 MB file of 512-byte pages whose 90,000 cells all name one 9,000-page overflow
// chain, on pages no tree reaches, has no anchor (the extension alone takes minutes over it): its
// reading is timed alone, in CPU time.
#include "analytics/core/APMKeptFileReader.h"
#include "platform/dispatch/DispatchCancellation.h"
#include "platform/foundation/Sandbox.h"

#include "bench/support/CPUTime.h"
#include "bench/support/QueueShapedDatabase.h"
#include "bench/support/TemporaryHomeMain.h"
#include "tests/fixtures/CraftedPages.h"
#include "tests/fixtures/DamagedPages.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sqlite3recover.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

namespace {

constexpr std::int64_t kFileBytes = 100ll << 20;
const std::string kCreate = queueShapedTableSQL("queue");

std::string folder() {
    const std::string made = Sandbox::tmp() + "/salvage";
    std::filesystem::create_directories(made);
    return made;
}
std::string wholePath() { return folder() + "/whole.sql"; }
std::string projectCopy() { return folder() + "/project-working.sql"; }
std::string anchorCopy() { return folder() + "/anchor-working.sql"; }

// The undamaged file, filled once with rows of an event queue's shape until it holds
// kFileBytes; the rows.
std::int64_t makeWholeFile() {
    static const std::int64_t rows = fillQueueShapedTable(wholePath(), "queue", kFileBytes);
    return rows;
}

enum class Damage { MiddleLeaf, Root, Pointers, SharedChain };

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

// 10,000 leaves of 512-byte pages, their 90,000 cells naming one 9,000-page chain, no tree
// reaching them: 9.7 MB.
bool craftSharedChain(const std::string& path) {
    const auto made = crafted::sharedChainFile(10000, 9000, false, false);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(made.file.data(), static_cast<std::streamsize>(made.file.size()));
    return made.sharingCells >= 90000 && std::filesystem::file_size(path) == made.file.size();
}

// A copy of the whole file with its damage, made once per kind; empty when it cannot be made.
std::string damagedFile(Damage damage) {
    static std::map<Damage, std::string> made;
    if (const auto found = made.find(damage); found != made.end()) return found->second;
    const std::string path = folder() + (damage == Damage::Root          ? "/root.sql"
                                         : damage == Damage::Pointers    ? "/pointers.sql"
                                         : damage == Damage::SharedChain ? "/shared-chain.sql"
                                                                         : "/leaf.sql");
    if (damage == Damage::Pointers) return made[damage] = craftPointers(path) ? path : std::string();
    if (damage == Damage::SharedChain) return made[damage] = craftSharedChain(path) ? path : std::string();
    if (makeWholeFile() == 0) return made[damage] = std::string();
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

// The tables of a store of the damaged file's shape.
const APMKeptFileReader::StoreTables& storeTables(Damage damage) {
    static std::map<bool, APMKeptFileReader::StoreTables> tables;
    const bool crafted = damage == Damage::SharedChain;
    if (const auto found = tables.find(crafted); found != tables.end()) return found->second;
    sqlite3* db = nullptr;
    (void)sqlite3_open(":memory:", &db);
    (void)sqlite3_exec(db, crafted ? "CREATE TABLE t (a INTEGER, b BLOB)" : kCreate.c_str(), nullptr, nullptr, nullptr);
    tables[crafted] = APMKeptFileReader::storeTablesOf(db);
    sqlite3_close(db);
    return tables[crafted];
}

void removeCopy(const std::string& path) {
    std::error_code ignored;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ignored);
}

struct Figures {
    double projectCPU = 0;
    double anchorCPU = 0;
    long long rounds = 0;
    std::int64_t carried = 0;
    std::int64_t unreadable = 0;
    std::int64_t rows = 0;
};
std::map<std::string, Figures> figures;

// Our reading of `damaged`, its CPU time added to `run`; false when it fails.
bool readKept(const std::string& damaged, Damage damage, Figures& run) {
    APMKeptFileReader::Outcome outcome;
    bool readFailed = false;
    const double start = bench::processCPUSeconds();
    // As the salvage reads: polling a cancellation at every page.
    const auto cancellation = DispatchCancellation::make();
    const auto failure = APMKeptFileReader::read(damaged, projectCopy(), storeTables(damage), outcome, readFailed, nullptr,
                                                 APMKeptFileReader::kBudget, cancellation.get());
    run.projectCPU += bench::processCPUSeconds() - start;
    run.carried = outcome.rows;
    run.unreadable = outcome.unreadable;
    return failure == APMKeptFileReader::Failure::None;
}

void salvage(benchmark::State& state, Damage damage, const std::string& name) {
    const std::string damaged = damagedFile(damage);
    if (damaged.empty()) {
        state.SkipWithError("the damaged file could not be made");
        return;
    }
    (void)storeTables(damage);
    Figures run;
    run.rows = damage == Damage::Pointers ? 0 : makeWholeFile();
    bool failed = false;
    auto project = [&](bench::SideTimer& timer) {
        timer.pause();
        removeCopy(projectCopy());
        timer.resume();
        failed = !readKept(damaged, damage, run) || failed;
    };
    auto anchor = [&](bench::SideTimer& timer) {
        timer.pause();
        removeCopy(anchorCopy());
        timer.resume();
        const double start = bench::processCPUSeconds();
        sqlite3* db = nullptr;
        bool recovered = sqlite3_open_v2(damaged.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK;
        sqlite3_recover* recover = recovered ? sqlite3_recover_init(db, "main", anchorCopy().c_str()) : nullptr;
        if (recover) {
            (void)sqlite3_recover_config(recover, SQLITE_RECOVER_LOST_AND_FOUND, const_cast<char*>("lost_and_found"));
            recovered = sqlite3_recover_run(recover) == SQLITE_OK;
        }
        recovered = sqlite3_recover_finish(recover) == SQLITE_OK && recovered;
        sqlite3_close(db);
        run.anchorCPU += bench::processCPUSeconds() - start;
        failed = !recovered || failed;
    };
    bench::alternate(state, name, "file", 1.0, project, anchor);
    if (failed) state.SkipWithError("a side failed");
    run.rounds = static_cast<long long>(state.iterations());
    state.counters["carried"] = static_cast<double>(run.carried);
    figures[name] = run;
}

void BM_SalvageWithOneDamagedLeaf(benchmark::State& state) {
    salvage(state, Damage::MiddleLeaf, "reading of a 100 MB store with one damaged leaf");
}
void BM_SalvageWithADamagedRoot(benchmark::State& state) {
    salvage(state, Damage::Root, "reading of a 100 MB store with a damaged root");
}
void BM_SalvageOfPointersToOneRejectedPage(benchmark::State& state) {
    salvage(state, Damage::Pointers, "reading of a 10 MB file of 1.3 million pointers to one rejected page");
}
void BM_SalvageOfCellsSharingOneChain(benchmark::State& state) {
    const std::string damaged = damagedFile(Damage::SharedChain);
    if (damaged.empty()) {
        state.SkipWithError("the damaged file could not be made");
        return;
    }
    (void)storeTables(Damage::SharedChain);
    Figures run;
    for (auto _ : state) {
        state.PauseTiming();
        removeCopy(projectCopy());
        state.ResumeTiming();
        if (!readKept(damaged, Damage::SharedChain, run)) state.SkipWithError("the reading failed");
    }
    run.rounds = static_cast<long long>(state.iterations());
    state.counters["carried"] = static_cast<double>(run.carried);
    figures["reading of a 9.7 MB file of 90,000 cells sharing one 9,000-page chain"] = run;
}
BENCHMARK(BM_SalvageWithOneDamagedLeaf)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_SalvageWithADamagedRoot)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_SalvageOfPointersToOneRejectedPage)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_SalvageOfCellsSharingOneChain)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const int result = bench::runInTemporaryHome(argc, argv, {});
    for (const auto& [name, run] : figures) {
        if (run.rounds == 0) continue;
        const double project = run.projectCPU * 1e3 / static_cast<double>(run.rounds);
        if (run.anchorCPU <= 0) {
            std::printf("cpu %s: %.1f ms per file (%lld rounds); %lld rows carried, %lld unreadable\n", name.c_str(),
                        project, run.rounds, static_cast<long long>(run.carried), static_cast<long long>(run.unreadable));
            continue;
        }
        std::printf("cpu ratio %s: time %.3fx anchor (project %.1f ms, anchor %.1f ms per file; %lld rounds); "
                    "%lld of %lld rows carried\n",
                    name.c_str(), run.projectCPU / run.anchorCPU, project,
                    run.anchorCPU * 1e3 / static_cast<double>(run.rounds), run.rounds,
                    static_cast<long long>(run.carried), static_cast<long long>(run.rows));
    }
    return result;
}
