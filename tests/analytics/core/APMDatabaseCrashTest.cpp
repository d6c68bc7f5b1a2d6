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
#include <random>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kDatabaseVariable = "APM_CRASH_DATABASE";
constexpr const char* kLogVariable = "APM_CRASH_LOG";
constexpr const char* kBaseVariable = "APM_CRASH_BASE";

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

TEST(APMDatabaseCrashTest, EveryAcknowledgedEventSurvivesSIGKILL) {
    const std::string folder = Sandbox::tmp() + "/crash";
    std::filesystem::create_directories(folder);
    const std::string databasePath = folder + "/crash.sql";
    const std::string logPath = folder + "/written.log";
    const std::uint32_t seed = crashSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto started = std::chrono::steady_clock::now();
    int kills = 0;
    for (int round = 0; round < 25; ++round) {
        if (round >= 20 && std::chrono::steady_clock::now() - started > std::chrono::seconds(45)) break;
        // Killed somewhere after the child's first acknowledged write of this round.
        std::size_t before = 0;
        ASSERT_TRUE(killChildMidway("APMDatabaseCrashTest.DISABLED_WriterChild",
                                    {std::string(kDatabaseVariable) + "=" + databasePath,
                                     std::string(kLogVariable) + "=" + logPath,
                                     std::string(kBaseVariable) + "=" + std::to_string((round + 1) * 1000000LL)},
                                    logPath, std::chrono::microseconds(60000), random, &before));
        ++kills;

        ASSERT_EQ(integrityOf(databasePath), "ok");
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open_v2(databasePath.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        std::set<long long> stored;
        ASSERT_EQ(sqlite3_prepare_v2(handle, "SELECT timestamp FROM raw_events", -1, &statement, nullptr), SQLITE_OK);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            stored.insert(static_cast<long long>(sqlite3_column_double(statement, 0)));
        }
        sqlite3_finalize(statement);
        sqlite3_close(handle);
        const auto logged = loggedNumbers(logPath);
        ASSERT_GT(logged.size(), before);
        for (long long sequence : logged) ASSERT_TRUE(stored.count(sequence)) << "lost event " << sequence;
    }
    EXPECT_GE(kills, 20);
}

}  // namespace
