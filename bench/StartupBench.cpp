// Start-up to the first screen on the demo bundle, in-process under the simulator's headless
// window: a first launch (an empty home: databases copied from the bundle, the viewed pictures
// marked), a second launch (the same home again), and the floor under both, a plain program
// running the three queries of that screen; the second launch and its floor also on the demo
// bundle with a 50 MB subcategory name.
#include "app/AppDelegate.h"
#include "demo/generator/DemoGenerator.h"
#include "platform/foundation/Sandbox.h"
#include "simulator/SimSession.h"
#include "tests/fixtures/DemoLaunch.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

void require(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "Setting up the start-up benchmark failed: %s\n", what.c_str());
    std::exit(1);
}

// Everything the benchmark writes lives under one folder, removed at exit: the demo bundle, the
// same bundle with a 50 MB name given to the subcategory with the most pictures, and the homes.
struct Scratch {
    std::string root = Sandbox::makeTemporaryHome();
    std::string bundle = root + "/bundle";
    std::string hugeNameBundle = root + "/huge-name-bundle";

    Scratch() {
        std::string error;
        require(DemoGenerator::writeBundle(bundle, DemoGenerator::Options{}, &error), error);
        std::error_code copyError;
        fs::copy(bundle, hugeNameBundle, fs::copy_options::recursive, copyError);
        require(!copyError, copyError.message());
        sqlite3* db = nullptr;
        const std::string path = hugeNameBundle + "/" + DemoGenerator::kImagesDatabase;
        require(sqlite3_open(path.c_str(), &db) == SQLITE_OK, path);
        sqlite3_stmt* stmt = nullptr;
        require(sqlite3_prepare_v2(db,
                                   "update subCat set name = ? where \"index\" = (select subCat from images group by "
                                   "subCat order by count(*) desc limit 1)",
                                   -1, &stmt, nullptr) == SQLITE_OK,
                sqlite3_errmsg(db));
        const std::string name(50u << 20, 'n');
        sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        require(sqlite3_step(stmt) == SQLITE_DONE, sqlite3_errmsg(db));
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        AppDelegate::registerClass();
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

const Scratch& scratch() {
    static const Scratch made;
    return made;
}

void useBundle(bool hugeName) { DemoLaunch::useBundle(hugeName ? scratch().hugeNameBundle : scratch().bundle); }

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

std::string newHome(int number) {
    const std::string home = scratch().root + "/home" + std::to_string(number);
    std::error_code ignored;
    fs::remove_all(home, ignored);
    Sandbox::setHome(home);
    return home;
}

// One launch up to the first screen laid out and displayed; the time taken, in seconds.
double launchOnce() {
    DemoLaunch::forgetProcess();
    SimSession session(/*pad=*/false);
    const auto start = now();
    if (!session.launch(AppDelegate::registeredName())) {
        std::fprintf(stderr, "The application did not launch.\n");
        std::exit(1);
    }
    return now() - start;
}

void BM_FirstLaunch(benchmark::State& state) {
    useBundle(false);
    int homes = 0;
    for (auto _ : state) {
        newHome(homes++);
        state.SetIterationTime(launchOnce());
    }
}
BENCHMARK(BM_FirstLaunch)->UseManualTime()->Unit(benchmark::kMillisecond);

// With the argument 1, on the bundle with the 50 MB subcategory name (here and below).
void BM_SecondLaunch(benchmark::State& state) {
    const bool hugeName = state.range(0) != 0;
    useBundle(hugeName);
    newHome(hugeName ? -3 : -1);
    launchOnce();
    for (auto _ : state) state.SetIterationTime(launchOnce());
}
BENCHMARK(BM_SecondLaunch)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The floor: the statements the first screen runs on a second launch (the categories, then the
// subcategories of each of the demo's two categories), opened, stepped and every column read as
// text by a program with nothing else to do, sorting in memory as the application's connections
// do.
void BM_PlainThreeQueries(benchmark::State& state) {
    const bool hugeName = state.range(0) != 0;
    useBundle(hugeName);
    newHome(hugeName ? -4 : -2);
    launchOnce();  // the database copied to Documents, as the launches read it
    const std::string path = Sandbox::documents() + "/" + DemoGenerator::kImagesDatabase;
    const char* const statements[] = {
        "select * from bigCat",
        "select subcat.*, count(images.\"index\") as images_count from subCat left join images on subcat.\"index\" = "
        "images.subCat where subcat.bigCat=1  group by images.subCat order by subcat.\"date\"",
        "select subcat.*, count(images.\"index\") as images_count from subCat left join images on subcat.\"index\" = "
        "images.subCat where subcat.bigCat=2  group by images.subCat order by subcat.\"date\"",
    };
    std::size_t rows = 0;
    for (auto _ : state) {
        const auto start = now();
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "%s could not be opened.\n", path.c_str());
            std::exit(1);
        }
        if (sqlite3_exec(db, "pragma temp_store = memory", nullptr, nullptr, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
            std::exit(1);
        }
        rows = 0;
        for (const char* sql : statements) {
            sqlite3_stmt* stmt = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
                std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
                std::exit(1);
            }
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                const int columns = sqlite3_column_count(stmt);
                for (int i = 0; i < columns; ++i) {
                    const unsigned char* text = sqlite3_column_text(stmt, i);
                    benchmark::DoNotOptimize(text);
                    benchmark::DoNotOptimize(sqlite3_column_bytes(stmt, i));
                }
                ++rows;
            }
            sqlite3_finalize(stmt);
        }
        sqlite3_close(db);
        state.SetIterationTime(now() - start);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_PlainThreeQueries)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
