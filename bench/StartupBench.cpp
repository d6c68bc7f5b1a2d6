// Start-up to the first screen on the demo bundle, in-process under the simulator's headless
// window: a first launch (an empty home: databases copied from the bundle, the viewed pictures
// marked), a second launch (the same home again), and the floor under both, a plain program
// running the three queries of that screen; the second launch and its floor also on the demo
// bundle with a 50 MB subcategory name. And the second launch as a whole process (ostrel-sim on
// the demo bundle, launched to its first screen and ended), against a plain program replaying the
// SQLite statements that same launch ran. Each pair also runs in turns in one benchmark, which
// prints their ratio.
#include "app/AppDelegate.h"
#include "demo/generator/DemoGenerator.h"
#include "platform/foundation/Sandbox.h"
#include "simulator/SimSession.h"
#include "tests/fixtures/DemoLaunch.h"

#include "bench/support/Alternating.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

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

// One launch up to the first screen laid out and displayed; the time taken, in seconds. The
// session's set-up before and its teardown after are no part of a launch (a process starts
// empty and ends by exiting), so a side's timer in turns is paused around them.
double launchOnce(bench::SideTimer* timer = nullptr) {
    if (timer) timer->pause();
    DemoLaunch::forgetProcess();
    auto session = std::make_unique<SimSession>(/*pad=*/false);
    if (timer) timer->resume();
    const auto start = now();
    if (!session->launch(AppDelegate::registeredName())) {
        std::fprintf(stderr, "The application did not launch.\n");
        std::exit(1);
    }
    const double taken = now() - start;
    if (timer) timer->pause();
    session.reset();
    if (timer) timer->resume();
    return taken;
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
// The three statements once, on the copy in Documents; the rows read.
std::size_t plainThreeQueries(const std::string& path) {
    const char* const statements[] = {
        "select * from bigCat",
        "select subcat.*, count(images.\"index\") as images_count from subCat left join images on subcat.\"index\" = "
        "images.subCat where subcat.bigCat=1  group by images.subCat order by subcat.\"date\"",
        "select subcat.*, count(images.\"index\") as images_count from subCat left join images on subcat.\"index\" = "
        "images.subCat where subcat.bigCat=2  group by images.subCat order by subcat.\"date\"",
    };
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s could not be opened.\n", path.c_str());
        std::exit(1);
    }
    if (sqlite3_exec(db, "pragma temp_store = memory", nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
    std::size_t rows = 0;
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
    return rows;
}

void BM_PlainThreeQueries(benchmark::State& state) {
    const bool hugeName = state.range(0) != 0;
    useBundle(hugeName);
    newHome(hugeName ? -4 : -2);
    launchOnce();  // the database copied to Documents, as the launches read it
    const std::string path = Sandbox::documents() + "/" + DemoGenerator::kImagesDatabase;
    std::size_t rows = 0;
    for (auto _ : state) {
        const auto start = now();
        rows = plainThreeQueries(path);
        state.SetIterationTime(now() - start);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_PlainThreeQueries)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A second launch and its floor in turns, in the same home.
void BM_SecondLaunchAgainstThreeQueries(benchmark::State& state) {
    useBundle(false);
    newHome(-5);
    launchOnce();
    const std::string path = Sandbox::documents() + "/" + DemoGenerator::kImagesDatabase;
    std::size_t rows = 0;
    bench::alternate(
        state, "second launch in process / its first screen's three queries", "launch", 1,
        [](bench::SideTimer& timer) { launchOnce(&timer); },
        [&] { rows = plainThreeQueries(path); });
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_SecondLaunchAgainstThreeQueries)->Unit(benchmark::kMillisecond);

// --- The whole process ---------------------------------------------------------------------------

// Runs `program` with `args`, its output dropped, `extraEnvironment` added; the wall time taken,
// in seconds, or a negative number when it did not end with status 0. `cpu`, when given, gets
// the processor time of the process (user and system, in seconds): on a loaded machine the
// steadier of the two.
double runProcess(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& extraEnvironment = {}, double* cpu = nullptr) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    for (const auto& e : extraEnvironment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return -1;
    const double taken = now() - start;
    if (cpu) {
        *cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? taken : -1;
}

double launchProcess(const std::string& home, const std::vector<std::string>& extraEnvironment = {},
                     double* cpu = nullptr) {
    return runProcess(OSTREL_SIM, {"--bundle", scratch().bundle, "--home", home, "--script", "/dev/null"},
                      extraEnvironment, cpu);
}

// The most memory a second launch holds (its peak RSS, in MiB), as GNU time reports it; 0 when
// time is missing. The usage a spawning process reads for its child would count the memory the
// two shared before exec, the benchmark's own.
double launchPeakMiB(const std::string& home) {
    const std::string report = scratch().root + "/launch-peak.txt";
    if (runProcess("/usr/bin/time", {"-f", "%M", "-o", report, OSTREL_SIM, "--bundle", scratch().bundle, "--home",
                                     home, "--script", "/dev/null"}) < 0)
        return 0;
    std::ifstream in(report);
    double kibibytes = 0;
    in >> kibibytes;
    return kibibytes / 1024.0;
}

// A home launched once (the second launches run in it), a copy of it as it was then for the
// replay, and the statements of a second launch in it.
struct WholeProcess {
    std::string home = scratch().root + "/process-home";
    std::string replayHome = scratch().root + "/replay-home";
    std::string trace = scratch().root + "/second-launch.statements";
    long statements = 0;

    WholeProcess() {
        require(launchProcess(home) >= 0, "a first launch of " OSTREL_SIM);
        std::error_code copyError;
        fs::copy(home, replayHome, fs::copy_options::recursive, copyError);
        require(!copyError, copyError.message());
        require(launchProcess(home, {"LD_PRELOAD=" STATEMENT_TRACE, "OSTREL_STATEMENT_TRACE=" + trace}) >= 0,
                "the recorded second launch");
        std::ifstream in(trace);
        std::string line;
        while (std::getline(in, line)) ++statements;
        require(statements > 0, "statements recorded from the launch");
    }
};

const WholeProcess& wholeProcess() {
    static const WholeProcess made;
    return made;
}

void BM_SecondLaunchWholeProcess(benchmark::State& state) {
    const auto& p = wholeProcess();
    double cpu = 0, total = 0;
    for (auto _ : state) {
        const double taken = launchProcess(p.home, {}, &cpu);
        require(taken >= 0, "a second launch of " OSTREL_SIM);
        state.SetIterationTime(taken);
        total += cpu;
    }
    state.counters["process_cpu_ms"] = total * 1e3 / static_cast<double>(state.iterations());
    state.counters["peak_rss_MiB"] = launchPeakMiB(p.home);
}
BENCHMARK(BM_SecondLaunchWholeProcess)->UseManualTime()->Unit(benchmark::kMillisecond);

// The floor: a process that opens the same databases and runs the same statements.
void BM_PlainStatementReplayWholeProcess(benchmark::State& state) {
    const auto& p = wholeProcess();
    double cpu = 0, total = 0;
    for (auto _ : state) {
        const double taken = runProcess(STATEMENT_REPLAY, {p.trace, p.home, p.replayHome}, {}, &cpu);
        require(taken >= 0, "the replay of the launch's statements");
        state.SetIterationTime(taken);
        total += cpu;
    }
    state.counters["statements"] = static_cast<double>(p.statements);
    state.counters["process_cpu_ms"] = total * 1e3 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PlainStatementReplayWholeProcess)->UseManualTime()->Unit(benchmark::kMillisecond);

// The two processes in turns; the launch's peak memory beside.
void BM_WholeProcessAgainstReplay(benchmark::State& state) {
    const auto& p = wholeProcess();
    bench::alternate(
        state, "second launch whole process / plain process replaying its statements", "launch", 1,
        [&] { require(launchProcess(p.home) >= 0, "a second launch of " OSTREL_SIM); },
        [&] { require(runProcess(STATEMENT_REPLAY, {p.trace, p.home, p.replayHome}) >= 0, "the replay of the launch's statements"); });
    state.counters["peak_rss_MiB"] = launchPeakMiB(p.home);
}
BENCHMARK(BM_WholeProcessAgainstReplay)->Unit(benchmark::kMillisecond);

}  // namespace

ALTERNATING_BENCHMARK_MAIN();
