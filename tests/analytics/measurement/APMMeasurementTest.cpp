// The engine's start as the application makes it: first open once per installation (and what a
// reinstallation with the keychain kept reports), the app and system update events, the wipe
// after an app id change, the reset, what the start does with consent, and a database file that
// is damaged, locked or not a file at all.
#include "EngineTestSupport.h"
#include "UploadTestSupport.h"

#include "analytics/core/APMKeychainWrapper.h"
#include "analytics/measurement/APMMeasurementDelegate.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/Sandbox.h"
#include "platform/store/SKAdNetwork.h"
#include "platform/ui/UIApplication.h"
#include "tests/fixtures/SqliteLockHolder.h"


#include <algorithm>
#include <filesystem>
#include <fstream>
#include <utility>

namespace {

class APMMeasurementTest : public EngineTest {
protected:
    // The value of a stored user property, as text.
    static std::string userProperty(const std::string& name) {
        auto table = rows("SELECT value FROM user_attributes WHERE name = '" + name + "'");
        return table.empty() ? "" : table[0][0];
    }
    // A parameter of the first stored raw event of that name, read back through the engine's record.
    static Value rawEventParameter(const std::string& eventName, const std::string& parameter) {
        Value found;
        auto database = APMMeasurement::sharedInstance()->database();
        APMMeasurement::sharedInstance()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
            auto rows = database->sqliteStore()->recordsForQuery(
                "SELECT rowid, * FROM raw_events WHERE name = ? ORDER BY rowid LIMIT 1", {Value(eventName)}, nullptr);
            if (!rows || rows->empty()) return;
            auto record = database->rawEventDataFromDictionary(rows->front(), nullptr);
            const Value& value = record ? record->rawEvent()->parameters().get(parameter) : Value::null();
            if (auto typed = value.isObject() ? value.objectAs<APMValue>() : nullptr) found = typed->value();
        });
        return found;
    }
};

}  // namespace

TEST_F(APMMeasurementTest, ADamagedDatabaseIsReplacedWithALineSayingWhatWasLost) {
    start();
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));

    // Between two runs the file is damaged beyond reading.
    settle();
    forgetProcess();
    const std::string path = APMApplicationSupportPath(APMMeasurement::kDatabaseName);
    for (const char* suffix : {"-wal", "-shm"}) std::filesystem::remove(path + suffix);
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << std::string(3000, '\x5a');
    }
    LogCapture capture;
    APMAnalytics::load();
    start();
    const auto lines = capture.matching("[I-ACS034023]");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("3000 bytes, no table readable"), std::string::npos) << lines[0];
    // Kept aside; nothing of it reads to be carried.
    EXPECT_TRUE(std::filesystem::exists(path + ".carried"));
    const auto carried = capture.matching("[I-ACS034025]");
    ASSERT_EQ(carried.size(), 1u);
    EXPECT_NE(carried[0].find(": 0, 0, vizudi-app-measurement.sql.uncarried: nothing readable"), std::string::npos)
        << carried[0];
    // The first open lived only in the lost file: it is reported again, and the keychain's count
    // tells the service that an earlier one was. (The session, kept outside the file, goes on.)
    const auto firstOpens = [&] {
        const auto names = rawEventNames();
        return std::count(names.begin(), names.end(), "_f");
    };
    EXPECT_EQ(firstOpens(), 1);
    EXPECT_EQ(rawEventParameter("_f", "_pfo"), Value(1LL));

    // The replacement is sound: the next run neither replaces it nor opens for the first time again.
    capture.clear();
    restart();
    EXPECT_TRUE(capture.matching("[I-ACS034023]").empty());
    EXPECT_EQ(firstOpens(), 1);
}

TEST_F(APMMeasurementTest, ALockedDatabaseLeavesMeasurementOffForTheLaunchAndSaysSoOnce) {
    start();
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));
    settle();
    forgetProcess();

    // Another process holds the file for itself for the whole launch: a write lock over the
    // range SQLite's readers share, as an exclusive SQLite lock is.
    const std::string path = APMApplicationSupportPath(APMMeasurement::kDatabaseName);
    SqliteLockHolder holder(path);
    ASSERT_TRUE(holder.held());
    LogCapture capture;
    APMAnalytics::load();
    APMAnalytics::startWithAppID(kAppID, "fa", {{APMAnalytics::kCollectionEnabledKey, Value(true)}});
    // Queued while the start is still to find out: the engine's own events (the session that
    // the activation starts) and the application's find no database and reach none.
    auto application = UIApplication::sharedApplication();
    ASSERT_TRUE(application->becomeActive());
    for (int n = 0; n < 5; ++n) APMAnalytics::logEventWithName("locked_out", {{"n", Value(n)}});
    APMAnalytics::setUserPropertyString(Value("oil"), "medium");
    ASSERT_TRUE(application->enterBackground());
    ASSERT_TRUE(application->enterForeground());
    settle();
    application->reset();
    ASSERT_NE(engine(), nullptr);
    EXPECT_FALSE(engine()->isEnabled());
    EXPECT_EQ(engine()->database(), nullptr);
    // The failure, then the switch-off it makes, once each and in that order.
    std::vector<std::string> said;
    for (const auto& line : capture.lines()) {
        if (line.find("[I-ACS023011]") != std::string::npos || line.find("[I-ACS023013]") != std::string::npos)
            said.push_back(line.substr(line.find("[I-ACS")));
    }
    EXPECT_EQ(said, (std::vector<std::string>{"[I-ACS023011] Failed to start Analytics. Analytics is disabled",
                                              "[I-ACS023013] Analytics collection disabled"}));
    holder.release();

    // The next launch finds the file as it was and goes on with it.
    restart();
    EXPECT_TRUE(engine()->isEnabled());
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = 'locked_out'"), 0);
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 1);
}

TEST_F(APMMeasurementTest, AFolderWhereTheDatabaseBelongsIsMovedAsideAndMeasurementGoesOn) {
    // Someone's folder, with something of theirs in it, where the file should be.
    const std::string path = APMApplicationSupportPath(APMMeasurement::kDatabaseName);
    std::filesystem::create_directories(path);
    std::ofstream(path + "/theirs.txt") << "theirs";
    LogCapture capture;
    start();
    EXPECT_TRUE(engine()->isEnabled());
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));
    const auto moved = capture.matching("[I-ACS034024]");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_NE(moved[0].find(path + ".moved"), std::string::npos) << moved[0];
    EXPECT_TRUE(capture.matching("Failed to start Analytics").empty());
    EXPECT_TRUE(std::filesystem::exists(path + ".moved/theirs.txt"));

    // The next launch finds its own file there and moves nothing.
    capture.clear();
    restart();
    EXPECT_TRUE(capture.matching("[I-ACS034024]").empty());
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 1);
}

TEST_F(APMMeasurementTest, TheMeasurementDelegateIsHeldWeakly) {
    start();
    auto delegate = std::make_shared<APMMeasurementDelegate>();
    engine()->setMeasurementDelegate(delegate);
    EXPECT_EQ(engine()->measurementDelegate(), delegate);
    delegate.reset();
    EXPECT_EQ(engine()->measurementDelegate(), nullptr);
}

TEST_F(APMMeasurementTest, FirstOpenIsWrittenOnceAndAgainAfterAReinstallThatKeptTheKeychain) {
    LogCapture capture;
    const std::size_t registrations = SKAdNetwork::registrationCount();
    start();
    ASSERT_TRUE(APMMeasurement::hasSharedInstance());
    EXPECT_TRUE(engine()->isEnabled());
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));
    // No receipt: not the originally installed version, no first open before on this device.
    EXPECT_EQ(rawEventParameter("_f", "_uwa"), Value(1LL));
    EXPECT_EQ(rawEventParameter("_f", "_pfo"), Value(0LL));
    EXPECT_EQ(rawEventParameter("_f", "_c"), Value(1LL));  // a default conversion
    EXPECT_EQ(rawEventParameter("_f", "_dac"), Value());  // collection was on from the start
    // One millisecond of engagement follows it, as the first session's.
    EXPECT_EQ(rawEventParameter("_e", "_et"), Value(1LL));
    EXPECT_EQ(rawEventParameter("_e", "_fr"), Value());
    EXPECT_EQ(rawEventParameter("_f", "_et"), Value());
    EXPECT_EQ(userProperty("_fi"), "0");
    EXPECT_EQ(userProperty("_fot"), std::to_string(APMMeasurement::timestampMillisRoundedUpToNextHour(
                                        static_cast<std::int64_t>(kNow * 1000))));
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", kBundleIdentifier), std::optional<std::string>("1"));
    EXPECT_EQ(SKAdNetwork::registrationCount(), registrations + 1);
    EXPECT_TRUE(capture.contains("[I-ACS023016] Analytics is ready to receive events"));

    restart();
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));

    // A reinstall: the container goes, the keychain stays.
    settle();
    forgetProcess();
    NSUserDefaults::resetStandardUserDefaults();
    for (const char* folder : {"Library", "Documents"}) std::filesystem::remove_all(Sandbox::home() + "/" + folder);
    NSUserDefaults::resetStandardUserDefaults();
    pointAtClosedPort();
    APMAnalytics::load();
    start();
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));
    EXPECT_EQ(rawEventParameter("_f", "_uwa"), Value(0LL));
    EXPECT_EQ(rawEventParameter("_f", "_pfo"), Value(1LL));
    EXPECT_EQ(userProperty("_fi"), "1");
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", kBundleIdentifier), std::optional<std::string>("2"));
}

TEST_F(APMMeasurementTest, AFirstOpenLeavesItsMarksOnlyOnceItIsCommitted) {
    start();
    // Committed without an advertising identifier: waiting for one to pair with.
    EXPECT_TRUE(engine()->persistedConfig()->unmatchedFirstOpenWithoutIDFA());
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", kBundleIdentifier), std::optional<std::string>("1"));

    // The next launch reports a first open again (the marker property is gone), but the
    // database refuses to store it: the transaction rolls back and leaves no mark behind.
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID(
        "test", [&] { engine()->persistedConfig()->setUnmatchedFirstOpenWithoutIDFA(false); });
    execute("DELETE FROM user_attributes WHERE name = '_fot'; DELETE FROM raw_events;"
            "CREATE TRIGGER refuse_first_open BEFORE INSERT ON raw_events WHEN NEW.name = '_f' "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    LogCapture capture;
    restart();
    EXPECT_TRUE(capture.contains("[I-ACS023071] Data loss. Cannot record raw event."));
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 0);
    EXPECT_FALSE(engine()->persistedConfig()->unmatchedFirstOpenWithoutIDFA());
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", kBundleIdentifier), std::optional<std::string>("1"));
    // Events after it are stored as usual.
    APMAnalytics::logEventWithName("painting_opened", {});
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = 'painting_opened'"), 1);

    // Once the database takes it, both marks follow.
    execute("DROP TRIGGER refuse_first_open; DELETE FROM user_attributes WHERE name = '_fot';");
    restart();
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 1);
    EXPECT_TRUE(engine()->persistedConfig()->unmatchedFirstOpenWithoutIDFA());
    EXPECT_EQ(APMKeychainWrapper::keychainValueWithIdentifier("_pfo", kBundleIdentifier), std::optional<std::string>("2"));
}

// A first open whose event the database could not store (a full disk) is not lost: its marker
// property goes again, and the next start reports it, once.
TEST_F(APMMeasurementTest, AFirstOpenWhoseEventCouldNotBeStoredIsReportedAtTheNextStart) {
    start();
    execute("DELETE FROM user_attributes WHERE name = '_fot'; DELETE FROM raw_events;"
            "CREATE TRIGGER refuse_first_open BEFORE INSERT ON raw_events WHEN NEW.name = '_f' "
            "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END;");
    {
        LogCapture capture;
        restart();
        EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 0);
        EXPECT_EQ(count("SELECT count(*) FROM user_attributes WHERE name = '_fot'"), 0);
        EXPECT_TRUE(capture.contains("[I-ACS023313] First open event not stored. The next start reports the first open"));
    }

    execute("DROP TRIGGER refuse_first_open;");
    restart();
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM user_attributes WHERE name = '_fot'"), 1);
    restart();
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 1);
}

TEST_F(APMMeasurementTest, AFirstOpenDeferredUntilCollectionIsSwitchedOnSaysSo) {
    start({{APMAnalytics::kCollectionEnabledKey, Value(false)}});
    EXPECT_FALSE(engine()->isEnabled());
    APMAnalytics::logEventWithName("unseen", {});
    settle();
    EXPECT_EQ(rawEventNames(), std::vector<std::string>{});

    APMAnalytics::setAnalyticsEnabled(true);
    APMAnalytics::logEventWithName("seen", {});
    settle();
    ASSERT_EQ(rawEventNames().front(), "_f");
    EXPECT_EQ(rawEventParameter("_f", "_dac"), Value(1LL));
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = 'seen'"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = 'unseen'"), 0);
    // Asked once: the next launch neither repeats the first open nor carries the mark.
    EXPECT_TRUE(APMAnalytics::deferredAnalyticsCollection().isNull());
    restart();
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 1);
}

TEST_F(APMMeasurementTest, ANewAppIDWipesTheOldDataAndNamesThePreviousOne) {
    constexpr const char* kOtherAppID = "1:1234567890:ios:fedcba";
    start();
    APMAnalytics::logEventWithName("painting_opened", {});
    APMAnalytics::setUserPropertyString(Value("oil"), "medium");
    settle();
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e", "painting_opened"}));

    settle();
    forgetProcess();
    APMAnalytics::load();
    start({}, kOtherAppID);
    // Nothing of the old app's is left; the first open of the new one says where it came from.
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));
    EXPECT_EQ(rawEventParameter("_f", "_pvuv"), Value(kAppID));
    EXPECT_EQ(count("SELECT count(*) FROM user_attributes WHERE name = 'medium'"), 0);
    EXPECT_EQ(engine()->persistedConfig()->appIDFromVUV(), std::optional<std::string>(kOtherAppID));

    // The same id again wipes nothing.
    APMAnalytics::logEventWithName("painting_closed", {});
    settle();
    forgetProcess();
    APMAnalytics::load();
    start({}, kOtherAppID);
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e", "painting_closed"}));
}

TEST_F(APMMeasurementTest, TheFirstOpenEngagementFollowsTheConfiguration) {
    // A first open under a configuration already stored: the database is kept and only the first
    // open property goes, as after a reset.
    const auto firstOpenUnder = [&](const std::vector<std::pair<std::string, std::string>>& settings) {
        start();
        bool applied = false;
        engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
            applied = engine()->remoteConfigInstance()->updateMeasurementConfig(makeMeasurementConfig(settings, 1, kAppID));
        });
        ASSERT_TRUE(applied);
        settle();
        forgetProcess();
        execute("DELETE FROM raw_events; DELETE FROM user_attributes WHERE name = '_fot'");
        APMAnalytics::load();
        start();
    };

    // Efficient engagement reporting marks both events. The session of the launch before goes
    // on: no new one starts.
    firstOpenUnder({{"measurement.collection.efficient_engagement_reporting_enabled", "1"}});
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_e"}));
    EXPECT_EQ(rawEventParameter("_f", "_et"), Value(1LL));
    EXPECT_EQ(rawEventParameter("_e", "_et"), Value(1LL));
    EXPECT_EQ(rawEventParameter("_e", "_fr"), Value(1LL));
    settle();
    forgetProcess();

    // Redundant engagement removal leaves the first open alone.
    firstOpenUnder({{"measurement.collection.redundant_engagement_removal_enabled", "1"}});
    EXPECT_EQ(rawEventNames(), std::vector<std::string>{"_f"});
}

TEST_F(APMMeasurementTest, TheFirstOpenTimeIsTheFirstOpenPropertysOwnAndNoneWithoutReadableProperties) {
    // Read on the worker, as the engine's own callers read it.
    auto firstOpenTimestamp = [this] {
        auto found = std::make_shared<std::atomic<double>>(-1);
        engine()->scheduler()->scheduleOnWorkerQueueBlockID(
            "test", [measurement = engine(), found] { found->store(measurement->firstOpenTimestamp()); });
        EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([found] { return found->load() != -1; }, 20));
        return found->load();
    };
    // A property set before the library loads is older than the first open's own.
    APMAnalytics::setUserPropertyString(Value("blue"), "colour");
    Clock::advance(10);
    APMAnalytics::load();
    start();
    ASSERT_EQ(rows("SELECT set_timestamp FROM user_attributes WHERE name = 'colour'").size(), 1u);
    ASSERT_EQ(rows("SELECT set_timestamp FROM user_attributes WHERE name = '_fot'").size(), 1u);
    EXPECT_EQ(firstOpenTimestamp(), kNow + 10) << testing::PrintToString(rows("SELECT name, set_timestamp FROM user_attributes"));

    // Wiped while collection is off, nothing is stored again: there is nothing to read it from.
    APMAnalytics::setAnalyticsEnabled(false);
    APMAnalytics::resetAnalyticsData();
    settle();
    ASSERT_EQ(count("SELECT COUNT(*) FROM user_attributes"), 0);
    LogCapture::flush();
    monitorSample(true);
    EXPECT_EQ(firstOpenTimestamp(), 0);
    LogCapture::flush();
    EXPECT_TRUE(sampled("Cannot extract first open timestamp. Empty user properties"));

    // Properties that cannot be read are not "none": the failure is said and there is no time.
    // The engine's own write makes it read the table afresh; the table is then replaced by a view
    // of it whose every read fails, as a damaged file's would.
    APMAnalytics::setAnalyticsEnabled(true);
    APMAnalytics::setUserPropertyString(Value("green"), "colour");
    settle();
    ASSERT_EQ(rows("SELECT value FROM user_attributes WHERE name = 'colour'").size(), 1u);
    execute("ALTER TABLE user_attributes RENAME TO kept_attributes;"
            "CREATE VIEW user_attributes AS SELECT name, origin, set_timestamp, value FROM kept_attributes"
            " WHERE abs(-9223372036854775807 - 1) > 0");
    LogCapture::flush();
    monitorSample(true);
    EXPECT_EQ(firstOpenTimestamp(), 0);
    LogCapture::flush();
    EXPECT_TRUE(sampled("Unable to query current user properties. Error")) << monitorSample();
    EXPECT_FALSE(sampled("Cannot extract first open timestamp"));
}
