// Start-up to the first screen on the demo bundle, in-process under the simulator's headless
// window: a first launch (an empty home: databases copied from the bundle, the viewed pictures
// marked), a second launch (the same home again), and the floor under both, a plain program
// running the three queries of that screen.
#include "app/AppDelegate.h"
#include "demo/generator/DemoGenerator.h"
#include "engine/OECore.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/services/RURAdi.h"
#include "platform/ui/UIAppearance.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIImage.h"
#include "simulator/SimSession.h"
#include "uikit/LaunchReminderManager.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// Everything the benchmark writes lives under one folder, removed at exit.
struct Scratch {
    std::string root;
    std::string bundle;
    ~Scratch() {
        std::error_code ignored;
        if (!root.empty()) fs::remove_all(root, ignored);
    }
};

const Scratch& scratch() {
    static Scratch made = [] {
        Scratch s;
        s.root = Sandbox::makeTemporaryHome();
        s.bundle = s.root + "/bundle";
        std::string error;
        if (!DemoGenerator::writeBundle(s.bundle, DemoGenerator::Options{}, &error)) {
            std::fprintf(stderr, "The demo bundle could not be written: %s\n", error.c_str());
            std::exit(1);
        }
        NSBundle::setMainBundlePath(s.bundle);
        AppDelegate::registerClass();
        return s;
    }();
    return made;
}

// What a new process would not remember; the files (home, bundle) stay.
void forgetProcess() {
    NSUserDefaults::resetStandardUserDefaults();
    OECore::resetInstance();
    LaunchReminderManager::resetInstance();
    RURAdi::reset();
    UIAppearance::reset();
    UIApplication::sharedApplication()->reset();
    NSBundle::resetCaches();
    UIImage::clearNamedCache();
}

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
    forgetProcess();
    SimSession session(/*pad=*/false);
    const auto start = now();
    if (!session.launch(AppDelegate::registeredName())) {
        std::fprintf(stderr, "The application did not launch.\n");
        std::exit(1);
    }
    return now() - start;
}

void BM_FirstLaunch(benchmark::State& state) {
    scratch();
    int homes = 0;
    for (auto _ : state) {
        newHome(homes++);
        state.SetIterationTime(launchOnce());
    }
}
BENCHMARK(BM_FirstLaunch)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SecondLaunch(benchmark::State& state) {
    scratch();
    newHome(-1);
    launchOnce();
    for (auto _ : state) state.SetIterationTime(launchOnce());
}
BENCHMARK(BM_SecondLaunch)->UseManualTime()->Unit(benchmark::kMillisecond);

// The floor: the statements the first screen runs on a second launch (the categories, then the
// subcategories of each of the demo's two categories), opened, stepped and every column read as
// text by a program with nothing else to do.
void BM_PlainThreeQueries(benchmark::State& state) {
    scratch();
    newHome(-2);
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
BENCHMARK(BM_PlainThreeQueries)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
