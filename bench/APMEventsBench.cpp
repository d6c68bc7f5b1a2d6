// Events through the whole engine: logged at the public door, handled on the worker queue and
// persisted; against plain SQLite running the very statements the engine ran for two
// consecutive whole events, in turn (taken from SQLite's statement trace of its connections),
// with the same journal mode (WAL) and sync level (FULL), on a file with the same schema and
// the row the statements update. The two run in turns in one benchmark, which prints their
// ratio of wall time, and reports each side's CPU time (the whole process's while that side
// runs: the engine works on its own threads) and the memory the process holds (RSS).
#include "analytics/measurement/APMAnalytics.h"
#include "analytics/measurement/APMMeasurement.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/DUROrezurive.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/services/RURAdi.h"

#include "bench/support/CPUTime.h"
#include "bench/support/Alternating.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char* kAppID = "1:104732000500:ios:7c3e91a0d25f4b68";
// Events per timed batch, and batches per run: five runs (--benchmark_repetitions=5) of 8,000
// events stay under the default daily limit of public events (50,000), so every event logged is
// persisted and the plain side replays the statements of a stored event, not of a refused one.
constexpr int kBatch = 100;
constexpr int kBatches = 80;

double residentBytes() {
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// The statements run on the engine's connections while recording, expanded with their values.
struct Trace {
    std::mutex mutex;
    std::atomic<bool> recording{false};
    std::vector<std::string> statements;
};
Trace& trace() {
    static Trace t;
    return t;
}

int traceStatement(unsigned, void*, void* statement, void*) {
    if (!trace().recording.load()) return 0;
    char* sql = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(statement));
    if (!sql) return 0;
    std::lock_guard lock(trace().mutex);
    trace().statements.emplace_back(sql);
    sqlite3_free(sql);
    return 0;
}

// Every connection the process opens (the engine's among them) reports its statements.
int watchConnection(sqlite3* db, const char**, const void*) {
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, traceStatement, nullptr);
    return SQLITE_OK;
}

// The engine as the application starts it, in a fresh home. Uploads would meet a closed loopback
// port (none falls due within the run: the first waits an hour).
struct Engine {
    Engine() {
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(watchConnection));
        Sandbox::setHome(home);
        const std::string bundle = Sandbox::tmp() + "/Bench.app";
        std::filesystem::create_directories(bundle);
        const Value info(Value::Dictionary{{"CFBundleIdentifier", Value("com.example.bench")},
                                           {"CFBundleShortVersionString", Value("1.0")},
                                           {"CFBundleVersion", Value("1")}});
        if (!NSPropertyListSerialization::writePropertyList(info, bundle + "/Info.plist",
                                                            NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0))
            std::fprintf(stderr, "cannot write the bench bundle's Info.plist\n");
        const Value service(Value::Dictionary{{"VIZUDI_APP_ID", Value(kAppID)}});
        if (!NSPropertyListSerialization::writePropertyList(service, bundle + "/VizudiService-Info.plist",
                                                            NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0))
            std::fprintf(stderr, "cannot write the bench bundle's service property list\n");
        NSBundle::setMainBundlePath(bundle);
        (void)NSUserDefaults::standardUserDefaults()->setObject(Value("127.0.0.1:9"),
                                                               APMRemoteConfig::kMeasurementHostDefaultsKey);
        DUROrezurive::load();
        RURAdi::configure();
        std::atomic<bool> started{false};
        APMAnalytics::queueOperationWithBlock([&started] { started = true; });
        (void)NSRunLoop::mainRunLoop()->runUntil([&started] { return started.load(); }, 600);  // checked just below
        if (!APMMeasurement::hasSharedInstance()) {
            std::fprintf(stderr, "the measurement engine did not start\n");
            std::exit(1);
        }
        settle();
    }

    static void log(int i) {
        APMAnalytics::logEventWithName("picture_viewed", {{"picture_id", Value(static_cast<long long>(i))},
                                                          {"category", Value("Portraits")},
                                                          {"zoomed", Value(i % 2 == 0 ? 1LL : 0LL)}});
    }
    // Waits until every event logged so far is handled and persisted: the door's operation queue
    // hands each event to its serial queue, which hands it to the worker queue, which writes it.
    // The main run loop runs meanwhile, as in the application (the engine asks the main thread
    // for the application's state). The worker wakes it when done: otherwise it would look only
    // at its next poll, milliseconds later, and the wait would count as the engine's time.
    static void settle() {
        std::atomic<bool> done{false};
        APMAnalytics::queueOperationWithBlock([&done] {
            APMMeasurement::sharedInstance()->scheduler()->workerQueue()->async([&done] {
                done = true;
                NSRunLoop::mainRunLoop()->post([] {});
            });
        });
        if (!NSRunLoop::mainRunLoop()->runUntil([&done] { return done.load(); }, 600)) {
            std::fprintf(stderr, "the engine did not settle\n");
            std::exit(1);
        }
    }

    // The engine's home, made for the run and removed after it.
    const std::string home = Sandbox::makeTemporaryHome();

    static Engine*& created() {
        static Engine* engine = nullptr;
        return engine;
    }
    static Engine& shared() {
        // Never destroyed: the engine's queues may still hold it at exit.
        if (!created()) created() = new Engine;
        return *created();
    }
    // Once the benchmarks ran: the engine settles, its settings and the user defaults are written
    // out, and the home goes. Nothing is left to write there.
    static void removeHome() {
        Engine* engine = created();
        if (!engine) return;
        settle();
        if (auto settings = APMPersistedConfig::sharedInstance()) {
            settings->cancelScheduledSynchronize();
            settings->synchronizeToDisk();
        }
        NSUserDefaults::resetStandardUserDefaults();
        std::error_code ignored;
        std::filesystem::remove_all(engine->home, ignored);
    }
};

long long storedRawEvents(sqlite3* db) {
    sqlite3_stmt* count = nullptr;
    long long n = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM raw_events", -1, &count, nullptr) == SQLITE_OK &&
        sqlite3_step(count) == SQLITE_ROW)
        n = sqlite3_column_int64(count, 0);
    sqlite3_finalize(count);
    return n;
}

// The statements of two consecutive whole events on the engine's connections: each event is
// logged alone and settled before the next, so its statements are all it made the engine run,
// in however many transactions. Plain SQLite replays them in turn: replaying one event's alone
// would write the same daily counts again and again, which SQLite sees are unchanged and does
// not write, while the engine's counts move with every event.
std::vector<std::vector<std::string>> statementsOfTwoEvents() {
    Engine::shared();
    for (int i = 0; i < 3; ++i) Engine::log(1'000'000 + i);
    Engine::settle();
    std::vector<std::vector<std::string>> events;
    for (int i = 0; i < 2; ++i) {
        {
            std::lock_guard lock(trace().mutex);
            trace().statements.clear();
        }
        trace().recording = true;
        Engine::log(2'000'000 + i);
        Engine::settle();
        trace().recording = false;
        std::lock_guard lock(trace().mutex);
        if (trace().statements.empty()) return {};
        events.push_back(trace().statements);
    }
    return events;
}

// A file with the engine's schema, its journal mode and sync level, and the row the statements
// update, on which the engine's statements are replayed.
struct PlainReplay {
    sqlite3* db = nullptr;
    std::vector<std::vector<std::string>> events;
    std::vector<std::vector<sqlite3_stmt*>> prepared;
    std::size_t next = 0;
    std::string failure;

    PlainReplay() {
        events = statementsOfTwoEvents();
        if (events.empty()) {
            failure = "no statement of the engine was traced";
            return;
        }
        const std::string enginePath = APMApplicationSupportPath(APMMeasurement::kDatabaseName);
        const std::string path = Sandbox::tmp() + "/plain-events.sqlite";
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
        sqlite3* engineDB = nullptr;
        sqlite3_open_v2(enginePath.c_str(), &engineDB, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
        sqlite3_stmt* schema = nullptr;
        sqlite3_prepare_v2(engineDB,
                           "SELECT sql FROM sqlite_master WHERE sql NOT NULL AND name NOT LIKE 'sqlite_%' "
                           "ORDER BY type = 'index'",
                           -1, &schema, nullptr);
        while (sqlite3_step(schema) == SQLITE_ROW)
            sqlite3_exec(db, reinterpret_cast<const char*>(sqlite3_column_text(schema, 0)), nullptr, nullptr, nullptr);
        sqlite3_finalize(schema);
        sqlite3_close(engineDB);
        // The row the statements update: without it the update finds nothing to write.
        char* copyError = nullptr;
        const std::string copy = "ATTACH DATABASE '" + enginePath + "' AS engine; "
                                 "INSERT INTO main.app_metadata SELECT * FROM engine.app_metadata; DETACH DATABASE engine;";
        if (sqlite3_exec(db, copy.c_str(), nullptr, nullptr, &copyError) != SQLITE_OK) {
            failure = "cannot copy the app metadata row: " + std::string(copyError ? copyError : "");
            sqlite3_free(copyError);
            return;
        }
        prepared.resize(events.size());
        for (std::size_t e = 0; e < events.size() && failure.empty(); ++e) {
            for (const auto& sql : events[e]) {
                sqlite3_stmt* statement = nullptr;
                if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
                    failure = "cannot prepare: " + sql + ": " + sqlite3_errmsg(db);
                    break;
                }
                prepared[e].push_back(statement);
            }
        }
    }
    ~PlainReplay() {
        for (auto& statements : prepared) {
            for (auto* statement : statements) sqlite3_finalize(statement);
        }
        sqlite3_close(db);
    }

    void replay(int count) {
        for (int i = 0; i < count && failure.empty(); ++i, ++next) {
            const std::size_t e = next % prepared.size();
            for (std::size_t s = 0; s < prepared[e].size(); ++s) {
                int rc;
                while ((rc = sqlite3_step(prepared[e][s])) == SQLITE_ROW) {
                }
                sqlite3_reset(prepared[e][s]);
                if (rc != SQLITE_DONE) {
                    failure = events[e][s] + ": " + sqlite3_errmsg(db);
                    break;
                }
            }
        }
    }
};

// Each round logs a batch of events through the public door and waits until they are persisted,
// then replays as many whole events' statements on plain SQLite, or the other way round.
void BM_EngineEventsAgainstPlainSQLite(benchmark::State& state) {
    Engine::shared();
    PlainReplay plain;
    if (!plain.failure.empty()) {
        state.SkipWithError(plain.failure.c_str());
        return;
    }
    const std::string path = APMApplicationSupportPath(APMMeasurement::kDatabaseName);
    sqlite3* reader = nullptr;
    sqlite3_open_v2(path.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr);
    const long long before = storedRawEvents(reader);
    int next = 0;
    double engineCPU = 0, plainCPU = 0;
    bench::alternate(
        state, "events logged and persisted / plain SQLite replaying each whole event", "event", kBatch,
        [&] {
            const double start = bench::processCPUSeconds();
            for (int i = 0; i < kBatch; ++i) Engine::log(next++);
            Engine::settle();
            engineCPU += bench::processCPUSeconds() - start;
        },
        [&] {
            const double start = bench::processCPUSeconds();
            plain.replay(kBatch);
            plainCPU += bench::processCPUSeconds() - start;
        });
    const long long stored = storedRawEvents(reader) - before;
    sqlite3_close(reader);
    if (!plain.failure.empty()) return state.SkipWithError(plain.failure.c_str());
    if (stored != next) state.SkipWithError(("persisted " + std::to_string(stored) + " of " + std::to_string(next)).c_str());
    state.SetItemsProcessed(stored);
    if (next > 0) {
        state.counters["project_cpu_us"] = engineCPU * 1e6 / next;
        state.counters["anchor_cpu_us"] = plainCPU * 1e6 / next;
        state.counters["cpu_x_anchor"] = plainCPU > 0 ? engineCPU / plainCPU : 0;
    }
    std::size_t statements = 0;
    for (const auto& event : plain.events) statements += event.size();
    state.counters["statements_per_event"] = static_cast<double>(statements) / static_cast<double>(plain.events.size());
    state.counters["rss_MiB"] = residentBytes() / (1024.0 * 1024.0);
}
BENCHMARK(BM_EngineEventsAgainstPlainSQLite)->Unit(benchmark::kMillisecond)->Iterations(kBatches)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // Prints the statements plain SQLite replays, for a reader of the figures.
    if (std::getenv("APM_EVENTS_BENCH_STATEMENTS")) {
        for (const auto& event : statementsOfTwoEvents()) {
            for (const auto& sql : event) std::fprintf(stderr, "%s\n", sql.c_str());
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bench::printRatios();
    Engine::removeHome();
    return 0;
}
