// Crash safety: a child process writes raw events the way the engine does and is killed
// with SIGKILL at random points; after each kill the file must be sound and hold every
// event whose write returned success.
#include "analytics/core/APMDatabase.h"

#include "APMDatabaseTestSupport.h"
#include "platform/foundation/Sandbox.h"

#include "tests/fixtures/CrashChild.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr const char* kDatabaseVariable = "APM_CRASH_DATABASE";
constexpr const char* kLogVariable = "APM_CRASH_LOG";
constexpr const char* kBaseVariable = "APM_CRASH_BASE";
// The pauses before each kill come from a seed printed at the start and named in every failure;
// setting this variable to it replays the same pauses.
constexpr const char* kSeedVariable = "APM_CRASH_SEED";

// Runs only in the child started below (the parent passes the variables and the filter).
TEST(APMDatabaseCrashTest, DISABLED_WriterChild) {
    const char* databasePath = std::getenv(kDatabaseVariable);
    const char* logPath = std::getenv(kLogVariable);
    const char* base = std::getenv(kBaseVariable);
    ASSERT_TRUE(databasePath && logPath && base);
    auto database = std::make_shared<APMDatabase>();
    ASSERT_TRUE(database->initializeDatabaseResourcesWithContext("Init", databasePath, nullptr));
    auto metadata = APMDatabaseTestBase::metadata();
    const std::int64_t fingerprint = APMDatabaseTestBase::fingerprint(metadata);
    const int log = open(logPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
    ASSERT_GE(log, 0);
    const long long first = std::atoll(base);
    // Bounded in case the parent is gone.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (long long sequence = first; std::chrono::steady_clock::now() < deadline; ++sequence) {
        auto event = APMEvent::initWithOrigin("app", false, "_e", static_cast<double>(sequence), 0,
                                              {{"seq", Value(APMValue::initWithInt64(sequence))}});
        if (!database->insertIfNotExistsRawEventMetadata(metadata, nullptr)) continue;
        if (!database->deleteRawEventsOverAbsoluteLimit(nullptr)) continue;
        if (!database->insertRawEvent(event, fingerprint, false, nullptr)) continue;
        const std::string line = std::to_string(sequence) + "\n";
        ASSERT_EQ(write(log, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    close(log);
}

std::set<long long> loggedSequences(const std::string& logPath) {
    std::set<long long> sequences;
    std::ifstream in(logPath);
    long long value;
    while (in >> value) sequences.insert(value);
    return sequences;
}

TEST(APMDatabaseCrashTest, EveryAcknowledgedEventSurvivesSIGKILL) {
    const std::string folder = Sandbox::tmp() + "/crash";
    std::filesystem::create_directories(folder);
    const std::string databasePath = folder + "/crash.sql";
    const std::string logPath = folder + "/written.log";
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    const char* fixedSeed = std::getenv(kSeedVariable);
    const std::uint32_t seed = fixedSeed && *fixedSeed ? static_cast<std::uint32_t>(std::strtoul(fixedSeed, nullptr, 10))
                                                       : std::random_device{}();
    std::printf("Kill points from seed %u (%s=%u replays them)\n", seed, kSeedVariable, seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto started = std::chrono::steady_clock::now();
    int kills = 0;
    for (int round = 0; round < 25; ++round) {
        if (round >= 20 && std::chrono::steady_clock::now() - started > std::chrono::seconds(45)) break;
        const pid_t child = spawnDisabledTest(exe, "APMDatabaseCrashTest.DISABLED_WriterChild",
                                              {std::string(kDatabaseVariable) + "=" + databasePath, std::string(kLogVariable) + "=" + logPath,
                                               std::string(kBaseVariable) + "=" + std::to_string((round + 1) * 1000000LL)});
        ASSERT_GT(child, 0);

        // Wait for the child's first acknowledged write of this round, then kill it somewhere later.
        const std::size_t before = loggedSequences(logPath).size();
        waitForMore(before, [&] { return loggedSequences(logPath).size(); });
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 60000)(random)));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended before it was killed";
        ++kills;

        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open_v2(databasePath.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(handle, "PRAGMA integrity_check", -1, &statement, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "ok");
        sqlite3_finalize(statement);
        std::set<long long> stored;
        ASSERT_EQ(sqlite3_prepare_v2(handle, "SELECT timestamp FROM raw_events", -1, &statement, nullptr), SQLITE_OK);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            stored.insert(static_cast<long long>(sqlite3_column_double(statement, 0)));
        }
        sqlite3_finalize(statement);
        sqlite3_close(handle);
        const auto logged = loggedSequences(logPath);
        ASSERT_GT(logged.size(), before);
        for (long long sequence : logged) ASSERT_TRUE(stored.count(sequence)) << "lost event " << sequence;
    }
    EXPECT_GE(kills, 20);
}

}  // namespace
