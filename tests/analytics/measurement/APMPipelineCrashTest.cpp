// Crash safety of the whole pipeline: a child process starts the engine on the test's files and
// logs events through the analytics door, bundling them now and then, until it is killed with
// SIGKILL at a random point. After each kill the database must be sound; at the end a new launch
// uploads every event a child saw committed, each exactly once. Each launch goes on from the
// clock the one before left, as the days of one device do, however long a child ran.
#include "DeliveryTestSupport.h"

#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/CrashChild.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

namespace {

constexpr const char* kHomeVariable = "APM_PIPELINE_CRASH_HOME";
constexpr const char* kLogVariable = "APM_PIPELINE_CRASH_LOG";
constexpr const char* kBaseVariable = "APM_PIPELINE_CRASH_BASE";
constexpr const char* kClockVariable = "APM_PIPELINE_CRASH_CLOCK";

class APMPipelineCrashTest : public DeliveryTest {
protected:
    // Moves the clock on to where the last launch's stood, as its file says (none: where it is).
    static void goOnFromTheLastClock(const std::string& clockPath) {
        double last = 0;
        std::ifstream in(clockPath);
        if (in >> last && last > Clock::now()) Clock::advance(last - Clock::now());
    }
    // Writes where the clock is going before it goes there, whole or not at all.
    static void noteTheClock(const std::string& clockPath, double when) {
        const std::string written = clockPath + ".new";
        {
            std::ofstream out(written, std::ios::trunc);
            out.precision(17);
            out << when << "\n";
        }
        ASSERT_EQ(std::rename(written.c_str(), clockPath.c_str()), 0);
    }
};

}  // namespace

// Runs only in the child started below (the parent passes the variables and the filter).
TEST_F(APMPipelineCrashTest, DISABLED_LoggingChild) {
    const char* home = std::getenv(kHomeVariable);
    const char* logPath = std::getenv(kLogVariable);
    const char* base = std::getenv(kBaseVariable);
    const char* clockPath = std::getenv(kClockVariable);
    ASSERT_TRUE(home && logPath && base && clockPath);
    // It runs until the parent kills it, which a loaded machine may keep waiting.
    ASSERT_TRUE(endsWithItsParent()) << "the parent is gone";
    Sandbox::setHome(home);
    NSUserDefaults::resetStandardUserDefaults();
    // Uploads fail here, after bundling: only the parent talks to the service.
    pointAtClosedPort();
    APMAnalytics::load();
    goOnFromTheLastClock(clockPath);
    start();
    // A configuration fresh for a day, as if just fetched: the upload timer bundles before it posts.
    auto config = makeMeasurementConfig({{"measurement.config.cache_time", "86400000"}}, 1, kAppID);
    bool applied = false;
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID(
        "test", [&] { applied = engine()->remoteConfigInstance()->updateMeasurementConfig(config); });
    ASSERT_TRUE(applied);
    // The settings this launch's start changed (its load time used, its session's number) reach
    // the disk before the first event: the settings trail the database by design, so a kill while
    // their write is under way has the next launch take this launch's load time and session
    // number for its own and report this launch's session start again, the same event twice.
    // What this test counts is every event logged from here on.
    engine()->persistedConfig()->synchronizeToDisk();
    const int log = open(logPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
    ASSERT_GE(log, 0);
    for (long long n = std::atoll(base);; ++n) {
        APMAnalytics::logEventWithName("step", {{"n", Value(n)}});
        if (n % 7 == 0) APMAnalytics::setUserPropertyString(Value(std::to_string(n)), "last_seven");
        settle();
        // A number in the log says its event is stored.
        const auto stored = rawEventNumbers("step");
        ASSERT_NE(std::find(stored.begin(), stored.end(), n), stored.end()) << "event " << n << " has no row";
        const std::string line = std::to_string(n) + "\n";
        ASSERT_EQ(write(log, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        // Now and then the upload timer falls due: raw events become bundles. The first time is
        // after the second event, so a child slowed by a loaded machine bundles before its kill.
        if (n % 10 == 1) {
            ASSERT_NO_FATAL_FAILURE(noteTheClock(clockPath, Clock::now() + 600));
            Clock::advance(600);
            settle();
        }
    }
}

TEST_F(APMPipelineCrashTest, EveryCommittedEventSurvivesSIGKILLAndIsUploadedOnce) {
    const std::string logPath = Sandbox::tmp() + "/committed.log";
    const std::string clockPath = Sandbox::tmp() + "/clock";
    const std::string outputPath = Sandbox::tmp() + "/children.out";
    const std::string databasePath = APMApplicationSupportPath(APMMeasurement::kDatabaseName);
    const std::uint32_t seed = crashSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // The children read and write the settings on disk: this process keeps none in memory meanwhile.
    NSUserDefaults::resetStandardUserDefaults();

    constexpr int kRounds = 10;
    for (int round = 0; round < kRounds; ++round) {
        // Killed somewhere after its first committed event of this round.
        std::size_t before = 0;
        ASSERT_TRUE(killChildMidway("APMPipelineCrashTest.DISABLED_LoggingChild",
                                    {std::string(kHomeVariable) + "=" + Sandbox::home(),
                                     std::string(kLogVariable) + "=" + logPath,
                                     std::string(kBaseVariable) + "=" + std::to_string((round + 1) * 1000000LL),
                                     std::string(kClockVariable) + "=" + clockPath},
                                    logPath, std::chrono::microseconds(150000), random, &before, outputPath))
            << "round " << round;
        ASSERT_EQ(integrityOf(databasePath), "ok") << "round " << round;
        const auto logged = loggedNumbers(logPath);
        ASSERT_GT(logged.size(), before) << "round " << round;
    }
    // The children did bundle (what they bundled is checked by the upload below).
    EXPECT_GT(count("SELECT count(*) FROM queue"), 0);

    // A new launch, aimed at the service, sends everything once.
    forgetProcess();
    NSUserDefaults::resetStandardUserDefaults();
    aimAtService();
    APMAnalytics::load();
    goOnFromTheLastClock(clockPath);
    start();
    // A bound of the harness that ends the upload ends the test: what it did not send is not lost.
    ASSERT_NO_FATAL_FAILURE(uploadWhileDue());
    const auto logged = loggedNumbers(logPath);
    const auto delivered = deliveredNumbers("step");
    for (long long n : logged) EXPECT_EQ(delivered.count(n), 1u) << "lost event " << n;
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "event " << n << " arrived " << times << " times";
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
    EXPECT_EQ(count("SELECT count(*) FROM raw_events"), 0);
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    EXPECT_EQ(integrityOf(databasePath), "ok");
}
