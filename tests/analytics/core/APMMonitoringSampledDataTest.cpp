// The health sample: reservoir choice, due records over the manual clock, stored entries and
// the migration out of the standard defaults.
#include "analytics/core/APMMonitoringSampledData.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMUserDefaults.h"
#include "LogCapture.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/SecureRandom.h"

#include <gtest/gtest.h>

#include <map>

namespace {

class APMMonitoringSampledDataTest : public testing::Test {
protected:
    void SetUp() override { Clock::setManual(10000); }
    void TearDown() override {
        Clock::setReal();
        SecureRandom::clearSeedForTesting();
    }
};

TEST_F(APMMonitoringSampledDataTest, FirstMessageStartsTheEntry) {
    auto data = APMMonitoringSampledData::initWithArray(Value());
    EXPECT_TRUE(data->sampledData().isNull());
    data->insertOrUpdateSampledDataWithKey("1E_1:first", "ctx");
    Clock::advance(30);
    data->insertOrUpdateSampledDataWithKey("1E_1:second", "");
    const Value entry = data->sampledData();
    ASSERT_TRUE(APMMonitoringSampledData::isValidUserDefaultsArrayEntry(entry));
    EXPECT_EQ(entry[1].intValue(), 2);
    EXPECT_EQ(entry[3].date().timeIntervalSince1970, 10000);  // the start never moves
}

TEST_F(APMMonitoringSampledDataTest, EachOfTenMessagesIsChosenAboutOnceInTen) {
    SecureRandom::seedForTesting(1234);
    std::map<std::string, int> chosen;
    const int trials = 4000;
    for (int trial = 0; trial < trials; ++trial) {
        auto data = APMMonitoringSampledData::initWithArray(Value());
        for (int i = 0; i < 10; ++i) data->insertOrUpdateSampledDataWithKey("k" + std::to_string(i), "c");
        EXPECT_EQ(data->sampledData()[1].intValue(), 10);
        chosen[data->sampledData()[2].string()]++;
    }
    ASSERT_EQ(chosen.size(), 10u);
    for (const auto& [key, count] : chosen) {
        EXPECT_GT(count, trials / 10 - 120) << key;
        EXPECT_LT(count, trials / 10 + 120) << key;
    }
}

TEST_F(APMMonitoringSampledDataTest, DueRecordsOverTheSamplePeriod) {
    auto data = APMMonitoringSampledData::initWithArray(Value());
    // Nothing logged: "0:" only once a whole period passed since a real dispatch.
    EXPECT_FALSE(data->monitoringDataForDispatchWithSamplePeriod(600, 0));
    EXPECT_FALSE(data->monitoringDataForDispatchWithSamplePeriod(600, 9500));
    EXPECT_EQ(data->monitoringDataForDispatchWithSamplePeriod(600, 9000), "0:");

    data->insertOrUpdateSampledDataWithKey("1W_9:m", "c");
    data->insertOrUpdateSampledDataWithKey("1W_9:m", "c");
    data->insertOrUpdateSampledDataWithKey("1W_9:m", "c");
    Clock::advance(599);
    EXPECT_FALSE(data->monitoringDataForDispatchWithSamplePeriod(600, 9000));
    Clock::advance(2);
    EXPECT_EQ(data->monitoringDataForDispatchWithSamplePeriod(600, 9000), "3:1W_9:m:c");
    EXPECT_TRUE(data->sampledData().isNull());
    EXPECT_EQ(APMMonitoringSampledData::monitoringURLParamWithKey("K", 4, ""), "4:K");
}

TEST_F(APMMonitoringSampledDataTest, InvalidStoredEntriesStartEmpty) {
    const Value good(Value::Array{Value("c"), Value(2), Value("k"), Value(NSDate{1})});
    EXPECT_FALSE(APMMonitoringSampledData::initWithArray(good)->sampledData().isNull());
    const Value threeItems(Value::Array{Value("c"), Value(2), Value("k")});
    const Value numberAsKey(Value::Array{Value("c"), Value(2), Value(3), Value(NSDate{1})});
    for (const Value& bad : {threeItems, numberAsKey, Value("x")}) {
        EXPECT_TRUE(APMMonitoringSampledData::initWithArray(bad)->sampledData().isNull());
    }
}

TEST_F(APMMonitoringSampledDataTest, MonitorMigratesAndKeepsTheSampleAcrossRestarts) {
    auto standard = APMUserDefaults::standardUserDefaults();
    auto suite = APMUserDefaults::initWithSuiteName("com.vizudi.vuv.measurement.monitor");
    // The process's monitor saves what earlier tests logged into the same suite: it is done first.
    LogCapture::flush();
    // As on a device that never ran the migration.
    suite->clearAllData();
    const Value old(Value::Array{Value("ctx"), Value(5), Value("1E_1:old"), Value(NSDate{9000})});
    standard->setObject(old, "/vizudi/measurement/health_monitor");
    auto monitor = APMMonitor::initWithLogLevel(6, nullptr, 1);
    monitor->monitorQueue()->sync([] {});
    EXPECT_EQ(suite->objectForKey("/vizudi/measurement/health_monitor"), old);
    EXPECT_EQ(suite->integerForKey("/vizudi/measurement/monitor_migration_state"), 2);
    EXPECT_TRUE(standard->objectForKey("/vizudi/measurement/health_monitor").isNull());

    // The loaded entry is the migrated one; a message adds to it and is saved.
    monitor->logWithLevel(4, 1, "new");
    monitor->monitorQueue()->sync([] {});
    EXPECT_EQ(suite->objectForKey("/vizudi/measurement/health_monitor")[1].intValue(), 6);
    // A second launch reads it back.
    auto again = APMMonitor::initWithLogLevel(6, nullptr, 1);
    EXPECT_TRUE(again->monitoringDataForDispatchWithSamplePeriod(100, 0).has_value());
    EXPECT_TRUE(suite->objectForKey("/vizudi/measurement/health_monitor").isNull());

    again->logWithLevel(1, 2, "x");
    again->clearMonitoringData();
    EXPECT_FALSE(again->monitoringDataForDispatchWithSamplePeriod(0, 0));
    monitor->monitorQueue()->sync([] {});
}

}  // namespace
