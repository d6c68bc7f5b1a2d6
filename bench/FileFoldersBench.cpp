// Making the measurement database's folders in a fresh home, as a first launch does: through the
// file layer, which syncs each new folder's parent, against the floor of the same folders made
// with a bare mkdir each and nothing synced. On the disk of the temporary folder ($TMPDIR).
#include "platform/foundation/FileIO.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Below the home, as the measurement engine's first opening finds it.
const std::vector<std::string> kFolders = {"Library", "Library/Application Support",
                                           "Library/Application Support/Vizudi",
                                           "Library/Application Support/Vizudi/Measurement"};

// A folder of this run on the temporary folder's disk, removed when the benchmark ends.
class Scratch {
public:
    Scratch() {
        const char* tmpdir = std::getenv("TMPDIR");
        std::string pattern = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/folders-bench.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    // A new, empty home; made outside the timing.
    std::string nextHome() {
        const std::string home = path_ + "/home" + std::to_string(++homes_);
        fs::create_directory(home);
        return home;
    }

private:
    std::string path_;
    int homes_ = 0;
};

void BM_MeasurementFolders_FileLayer(benchmark::State& state) {
    Scratch scratch;
    const auto io = FileIO::current();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string home = scratch.nextHome();
        state.ResumeTiming();
        if (io->makeFolders(home + "/" + kFolders.back()) != 0) state.SkipWithError("makeFolders failed");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kFolders.size()));
}
BENCHMARK(BM_MeasurementFolders_FileLayer)->Unit(benchmark::kMicrosecond);

void BM_MeasurementFolders_BareFloor(benchmark::State& state) {
    Scratch scratch;
    const auto io = FileIO::posix();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string home = scratch.nextHome();
        state.ResumeTiming();
        for (const std::string& folder : kFolders)
            if (io->makeFolder(home + "/" + folder, 0755) != 0) state.SkipWithError("mkdir failed");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kFolders.size()));
}
BENCHMARK(BM_MeasurementFolders_BareFloor)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
