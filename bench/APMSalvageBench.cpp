// The salvage of a measurement database of about 100 MB whose one page of the upload queue lost
// its header: the opening that keeps the damaged file aside and carries every row that still reads
// into a new one. Wall time, the opening thread's CPU time, and the database folder's size on the
// disk: its peak during the opening (sampled every millisecond), once the opening returns with the
// store in use, and once the store is closed.
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMPersistedConfig.h"
#include "platform/foundation/NSString.h"

#include "bench/support/MemoryConfigStore.h"
#include "bench/support/TemporaryHomeMain.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* kName = "bench-salvage.sql";
constexpr int kBundles = 25000;
constexpr int kBundleBytes = 4000;

std::shared_ptr<APMDatabase> openDatabase() {
    auto config = APMPersistedConfig::initWithSuiteName("bench", std::make_shared<MemoryConfigStore>());
    return APMDatabase::initWithDatabaseName(kName, config, nullptr);
}

// Bytes the folder's files take on the disk.
std::uint64_t folderBytes(const std::string& folder) {
    std::uint64_t total = 0;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) == 0) total += static_cast<std::uint64_t>(info.st_blocks) * 512;
    }
    return total;
}

double threadCPUSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The measurement database with the queue filled by plain SQLite in one transaction, and the
// header of one leaf page in the middle of the file overwritten, as a torn write leaves it. False
// when it cannot be made.
bool makeDamagedDatabase(const std::string& path) {
    if (!openDatabase()) return false;
    sqlite3* handle = nullptr;
    if (sqlite3_open(path.c_str(), &handle) != SQLITE_OK) return false;
    const std::string fill = "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < " +
                             std::to_string(kBundles) + ") INSERT INTO queue (data, bundle_end_timestamp) SELECT "
                             "randomblob(" + std::to_string(kBundleBytes) + "), 1700000000 + n FROM c";
    const bool filled = sqlite3_exec(handle, fill.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
                        sqlite3_exec(handle, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr) == SQLITE_OK;
    int pageSize = 0;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle, "PRAGMA page_size", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        pageSize = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
    sqlite3_close(handle);
    if (!filled || pageSize <= 0) return false;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    const auto pages = static_cast<std::int64_t>(fs::file_size(path) / static_cast<std::uint64_t>(pageSize));
    for (std::int64_t page = pages / 2; page < pages; ++page) {
        char kind = 0;
        file.seekg(page * pageSize);
        if (!file.read(&kind, 1)) return false;
        // A leaf of a table's rows.
        if (kind != 0x0d) continue;
        file.seekp(page * pageSize);
        const std::string torn(8, '\xa5');
        return static_cast<bool>(file.write(torn.data(), static_cast<std::streamsize>(torn.size())).flush());
    }
    return false;
}

void BM_SalvageOfA100MBStoreWithOneDamagedPage(benchmark::State& state) {
    const std::string path = APMApplicationSupportPath(kName);
    const std::string folder = NSString::stringByDeletingLastPathComponent(path);
    const std::string damaged = fs::path(folder).parent_path().string() + "/bench-salvage-damaged";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::remove_all(damaged, ignored);
    if (!makeDamagedDatabase(path)) {
        state.SkipWithError("the damaged database could not be made");
        return;
    }
    fs::create_directories(damaged);
    for (const auto& entry : fs::directory_iterator(folder)) fs::copy(entry.path(), damaged + "/" + entry.path().filename().string());
    const double damagedMB = static_cast<double>(folderBytes(damaged)) / 1e6;
    double cpu = 0, peak = 0, open = 0, closed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder, ignored);
        fs::copy(damaged, folder);
        std::atomic<bool> done{false};
        std::atomic<std::uint64_t> highest{folderBytes(folder)};
        std::thread sampler([&] {
            while (!done.load()) {
                highest = std::max(highest.load(), folderBytes(folder));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        state.ResumeTiming();
        const double start = threadCPUSeconds();
        auto database = openDatabase();
        cpu += threadCPUSeconds() - start;
        state.PauseTiming();
        done = true;
        sampler.join();
        if (!database) {
            state.SkipWithError("the opening failed");
            break;
        }
        peak += static_cast<double>(std::max(highest.load(), folderBytes(folder))) / 1e6;
        open += static_cast<double>(folderBytes(folder)) / 1e6;
        database.reset();
        closed += static_cast<double>(folderBytes(folder)) / 1e6;
        state.ResumeTiming();
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["damaged_MB"] = damagedMB;
    state.counters["cpu_ms"] = cpu * 1e3 / runs;
    state.counters["peak_MB"] = peak / runs;
    state.counters["in_use_MB"] = open / runs;
    state.counters["closed_MB"] = closed / runs;
    fs::remove_all(damaged, ignored);
}
BENCHMARK(BM_SalvageOfA100MBStoreWithOneDamagedPage)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runInTemporaryHome(argc, argv, {});
}
