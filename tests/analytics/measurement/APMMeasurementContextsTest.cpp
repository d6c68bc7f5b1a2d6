// What the engine hands the libraries below it: its event roads (dropped once that engine is
// gone), the settings of the configuration in force, and the identity values they read.
#include "EngineTestSupport.h"
#include "UploadTestSupport.h"

#include "analytics/audience/APMAudienceContext.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/experiments/APMExperimentContext.h"
#include "analytics/reporters/APMReporterContext.h"
#include "analytics/script/APMScriptContext.h"

namespace {

class APMMeasurementContextsTest : public EngineTest {
protected:
    void applyConfiguration(const std::vector<std::pair<std::string, std::string>>& settings) {
        bool applied = false;
        engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
            applied = engine()->remoteConfigInstance()->updateMeasurementConfig(makeMeasurementConfig(settings, 1, kAppID));
        });
        ASSERT_TRUE(applied);
    }
    static std::string userProperty(const std::string& name) {
        auto table = rows("SELECT value FROM user_attributes WHERE name = '" + name + "'");
        return table.empty() ? "" : table[0][0];
    }
    static bool stored(const std::string& name) {
        const auto names = rawEventNames();
        return std::find(names.begin(), names.end(), name) != names.end();
    }
};

}  // namespace

TEST_F(APMMeasurementContextsTest, TheEventSinkTakesTheFrontsRoadOrTheWorkerQueueAndDropsEverythingOnceItsEngineIsGone) {
    start();
    auto sink = engine()->eventSink();
    ASSERT_TRUE(sink);
    EXPECT_EQ(engine()->audienceContext()->eventSink(), sink);
    EXPECT_EQ(engine()->reporterContext()->eventSink(), sink);
    EXPECT_TRUE(sink->isEnabled());

    sink->logInternalEventWithOrigin("am", "_xa", {{"_xt", Value(APMValue::initWithInt64(1500))}});
    sink->logInternalEventWithOrigin("auto", "_ab", kNow - 5, {});
    sink->setInternalUserProperty(Value(7LL), "_sno", "auto");
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
        sink->writeEventOnWorkerQueue(APMEvent::initWithOrigin("auto", false, "_ssr", kNow, 0, {}));
    });
    settle();
    EXPECT_TRUE(stored("_xa"));
    EXPECT_EQ(rawEventValues("_xa", "_xt"), std::vector<Value>{Value(1500LL)});
    // At the time it was given.
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_ab' AND timestamp = " +
                    std::to_string(static_cast<long long>(kNow - 5))),
              1);
    EXPECT_TRUE(stored("_ssr"));
    EXPECT_EQ(userProperty("_sno"), "7");
    sink->setInternalUserProperty(Value(), "_sno", "auto");
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM user_attributes WHERE name = '_sno'"), 0);

    APMAnalytics::setAnalyticsEnabled(false);
    settle();
    EXPECT_FALSE(sink->isEnabled());
    APMAnalytics::setAnalyticsEnabled(true);
    settle();

    // A sink kept past its engine feeds nothing into the next one.
    restart();
    EXPECT_FALSE(sink->isEnabled());
    execute("DELETE FROM raw_events");
    sink->logInternalEventWithOrigin("am", "_xa", {});
    sink->setInternalUserProperty(Value(8LL), "_sno", "auto");
    sink->writeEventOnWorkerQueue(APMEvent::initWithOrigin("auto", false, "_ssr", kNow, 0, {}));
    settle();
    EXPECT_FALSE(stored("_xa"));
    EXPECT_FALSE(stored("_ssr"));
    EXPECT_EQ(userProperty("_sno"), "");
    EXPECT_TRUE(engine()->eventSink()->isEnabled());
}

TEST_F(APMMeasurementContextsTest, SettingsFollowTheConfigurationInForce) {
    start();
    auto audience = engine()->audienceContext();
    auto reporters = engine()->reporterContext();
    auto script = engine()->scriptContext();
    EXPECT_EQ(audience->database(), engine()->database());
    EXPECT_EQ(audience->scheduler(), engine()->scheduler());
    EXPECT_EQ(reporters->database(), engine()->database());
    EXPECT_EQ(reporters->scheduler(), engine()->scheduler());
    EXPECT_EQ(reporters->persistedConfig(), engine()->persistedConfig());

    // The defaults, before any configuration.
    EXPECT_EQ(audience->maxAudienceCount(), 50);
    EXPECT_EQ(reporters->sessionDefaultTimeoutInterval(), 1800);
    EXPECT_TRUE(reporters->appBackgroundedEventEnabled());
    // Programs see only what a configuration holds, not a getter's default.
    EXPECT_EQ(script->remoteConfigValueForKey("measurement.audience.max_count"), std::nullopt);
    EXPECT_EQ(script->remoteConfigValueForKey("measurement.not_a_setting"), std::nullopt);

    applyConfiguration({{"measurement.audience.max_count", "11"},
                        {"measurement.audience.filter_max_count_per_audience", "12"},
                        {"measurement.audience.filter_result_max_count", "13"},
                        {"measurement.audience.parameter_max_count_filter", "14"},
                        {"measurement.session.default_timeout_interval", "600000"},
                        {"measurement.session.event_user_engagement_interval", "120000"},
                        {"measurement.collection.efficient_engagement_reporting_enabled", "1"},
                        {"measurement.collection.redundant_engagement_removal_enabled", "1"},
                        {"measurement.lifecycle.app_backgrounded_tracking", "0"},
                        {"measurement.lifecycle.app_in_background_parameter", "0"},
                        {"measurement.lifetimevalue.max_currency_tracked", "9"},
                        {"measurement.test.free_text", "north wing"}});
    EXPECT_EQ(audience->maxAudienceCount(), 11);
    EXPECT_EQ(audience->maxFiltersPerAudience(), 12);
    EXPECT_EQ(audience->maxFilterResultCount(), 13);
    EXPECT_EQ(audience->maxParametersPerFilter(), 14);
    // The settings hold milliseconds; the reporters read seconds.
    EXPECT_EQ(reporters->sessionDefaultTimeoutInterval(), 600);
    EXPECT_EQ(reporters->sessionEventUserEngagementInterval(), 120);
    EXPECT_TRUE(reporters->efficientEngagementReportingEnabled());
    EXPECT_TRUE(reporters->redundantEngagementRemovalEnabled());
    EXPECT_FALSE(reporters->appBackgroundedEventEnabled());
    EXPECT_FALSE(reporters->appInBackgroundParameterEnabled());
    EXPECT_EQ(reporters->maxTrackedCurrencies(), 9);

    // Programs read a setting as its text, even after a typed read converted it.
    EXPECT_EQ(script->remoteConfigValueForKey("measurement.test.free_text"), "north wing");
    EXPECT_EQ(script->remoteConfigValueForKey("measurement.session.default_timeout_interval"), "600000");
    EXPECT_EQ(script->remoteConfigValueForKey("measurement.audience.max_count"), "11");
}

TEST_F(APMMeasurementContextsTest, IdentityValuesAreTheEnginesAndTheHostIsTheConfiguredOne) {
    start();
    auto script = engine()->scriptContext();
    auto experiments = engine()->experimentContext();
    EXPECT_EQ(script->appVersion(), "2.1");
    const std::string key = experiments->diversionKey();
    EXPECT_EQ(key.size(), 5u);
    EXPECT_EQ(key, engine()->identity()->diversionKey());
    EXPECT_EQ(experiments->measurementHost(), "127.0.0.1:9");
}
