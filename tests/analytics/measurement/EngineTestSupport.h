// The measurement engine started as the application starts it, in the test's home on the manual
// clock: "restart" forgets every process-wide piece of the analytics and starts again on the
// same files, as a new launch would. Stored rows are read with SQLite directly.
#pragma once

#include "MeasurementTestSupport.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMRawEventData.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/APMAnalytics.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMMeasurement.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/DUROrezurive.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/security/SecItem.h"
#include "tests/analytics/core/LogCapture.h"
#include "tests/fixtures/SqliteRows.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

class EngineTest : public testing::Test {
public:
    static constexpr double kNow = 1'700'000'000;  // 22:13:20 GMT
    static constexpr const char* kAppID = "1:1234567890:ios:abcdef";
    static constexpr const char* kBundleIdentifier = "com.example.gallery";
    // Real seconds work apart may take: only a safety net, for eight copies of the suite on two cores.
    static constexpr double kApartBound = 120;

    // Every process-wide piece of the analytics, forgotten as a new process starts.
    static void forgetProcess() {
        APMMeasurement::resetSharedInstance();
        APMAnalytics::resetProcessState();
        APMIdentity::resetSharedInstance();
        APMPersistedConfig::resetSharedInstance();
        APMConsentSettingsUtil::setConsentSettings(std::nullopt);
        (void)APMConsentSettingsUtil::consentSource();
    }

protected:
    void SetUp() override {
        Clock::setManual(kNow);
        writeInfo({});
        // Nothing leaves the machine: an upload that falls due meets a closed loopback port.
        pointAtClosedPort();
        DUROrezurive::load();
    }
    void TearDown() override {
        settle();
        // The monitor samples logged lines on a queue of its own, which settle() does not run:
        // a line the test's last work logged is sampled before the test ends, not after.
        LogCapture::flush();
        forgetProcess();
        ClassRegistry::unregisterClass("DUROrezurive");
        ClassRegistry::unregisterClass("DAROAdExposureReporter");
        APMMeasurementMonitor()->setDebugModeEnabled(false);
        Clock::setReal();
    }

    static void pointAtClosedPort() {
        ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value("127.0.0.1:9"),
                                                                      APMRemoteConfig::kMeasurementHostDefaultsKey));
    }

    // Info.plist of the test's bundle, with `extra` entries.
    void writeInfo(const Value::Dictionary& extra) {
        Value::Dictionary info{{"CFBundleIdentifier", Value(kBundleIdentifier)},
                               {"CFBundleShortVersionString", Value("2.1")},
                               {"CFBundleVersion", Value("21")}};
        for (const auto& [key, value] : extra) info.set(key, value);
        bundle.writePlist("Info.plist", Value(info));
    }

    // The platform core's start: origin "fa" with its collection switches.
    void start(const Value::Dictionary& options = {}, const std::string& appID = kAppID) {
        startWithoutWaiting(options, appID);
        settle();
    }
    // The same, with a settle of the clock alone: what waits behind work apart still waits.
    static void startWithoutWaiting(const Value::Dictionary& options = {}, const std::string& appID = kAppID) {
        Value::Dictionary all{{APMAnalytics::kCollectionEnabledKey, Value(true)},
                              {APMAnalytics::kCollectionDeactivatedKey, Value(false)},
                              {APMAnalytics::kLogTagKey, Value("[Test/Analytics]")}};
        for (const auto& [key, value] : options) all.set(key, value);
        APMAnalytics::startWithAppID(appID, "fa", all);
        Clock::advance(0);
    }
    void restart(const Value::Dictionary& options = {}) {
        settle();
        forgetProcess();
        APMAnalytics::load();
        APMMeasurement::load();
        start(options);
    }
    // Runs whatever is queued (door, worker, main run loop) to the end, and what waits behind work
    // apart (a kept file's read as the database opens), which a settle of the clock goes on beside.
    static void settle() {
        Clock::advance(0);
        while (!DispatchQuiescence::waitUntilIdle(0)) {
            ASSERT_TRUE(DispatchQuiescence::waitUntilIdle(kApartBound)) << "work apart did not end";
            Clock::advance(0);
        }
    }

    std::shared_ptr<APMMeasurement> engine() { return APMMeasurement::sharedInstance(); }

    // Rows of a query on the measurement database, each column as text.
    static std::vector<std::vector<std::string>> rows(const std::string& sql) {
        return sqliteRows(APMApplicationSupportPath(APMMeasurement::kDatabaseName), sql);
    }
    // Runs statements on the measurement database beside the engine.
    static void execute(const std::string& sql) {
        sqlite3* handle = nullptr;
        const std::string path = APMApplicationSupportPath(APMMeasurement::kDatabaseName);
        ASSERT_EQ(sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        sqlite3_busy_timeout(handle, 5000);
        char* message = nullptr;
        const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &message);
        const std::string text = message ? message : "";
        sqlite3_free(message);
        sqlite3_close(handle);
        ASSERT_EQ(rc, SQLITE_OK) << text;
    }
    // The names of the stored raw events, oldest first.
    static std::vector<std::string> rawEventNames() {
        std::vector<std::string> names;
        for (const auto& row : rows("SELECT name FROM raw_events ORDER BY rowid")) names.push_back(row[0]);
        return names;
    }
    // One parameter of each stored raw event of that name, oldest first (null where it is
    // missing), read back through the engine's own decoding.
    std::vector<Value> rawEventValues(const std::string& name, const std::string& parameter) {
        std::vector<Value> values;
        auto database = engine()->database();
        engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
            auto records = database->sqliteStore()->recordsForQuery(
                "SELECT rowid, * FROM raw_events WHERE name = ? ORDER BY rowid", {Value(name)}, nullptr);
            for (const auto& row : records.value_or(std::vector<Value::Dictionary>{})) {
                auto record = database->rawEventDataFromDictionary(row, nullptr);
                const Value& value = record ? record->rawEvent()->parameters().get(parameter) : Value::null();
                auto typed = value.isObject() ? value.objectAs<APMValue>() : nullptr;
                values.push_back(typed ? typed->value() : Value());
            }
        });
        return values;
    }
    // The parameter "n" of each stored raw event of that name, oldest first.
    std::vector<long long> rawEventNumbers(const std::string& name) {
        std::vector<long long> numbers;
        for (const auto& value : rawEventValues(name, "n")) numbers.push_back(value.isNumber() ? value.longLongValue() : -1);
        return numbers;
    }
    static long long count(const std::string& sql) {
        auto table = rows(sql);
        return table.empty() ? -1 : std::stoll(table[0][0]);
    }

    TestBundle bundle;
};
