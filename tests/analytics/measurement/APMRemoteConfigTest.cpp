// The remote configuration over a real measurement database: every setting's default and range,
// hostile configurations, expiry on the manual clock, the service's URLs and the storage hooks.
#include "analytics/measurement/APMRemoteConfig.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/proto/APMPBDataControl.h"
#include "analytics/proto/APMPBEventConfig.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBSetting.h"
#include "analytics/script/APMPEventEditing.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/NSURL.h"
#include "tests/analytics/core/APMDatabaseTestSupport.h"
#include "tests/analytics/core/LogCapture.h"
#include "tests/analytics/measurement/UploadTestSupport.h"
#include "tests/analytics/script/assembler/ScriptAssembler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr const char* kAppID = "1:1234567890:ios:abcdef";

using Settings = std::vector<std::pair<std::string, std::string>>;

std::shared_ptr<APMPBMeasurementConfig> makeConfig(const Settings& settings, const std::string& appID = kAppID,
                                                   std::int64_t version = 7) {
    return makeMeasurementConfig(settings, version, appID);
}

std::shared_ptr<APMPBEventConfig> eventConfig(const std::string& name, std::optional<bool> blocklisted,
                                              std::optional<bool> conversion, std::optional<std::int32_t> rate) {
    auto config = APMPBEventConfig::make();
    APMPBMessageSetString(config, APMPBEventConfig::kName, name);
    if (blocklisted) APMPBMessageSetBool(config, APMPBEventConfig::kBlocklisted, *blocklisted);
    if (conversion) APMPBMessageSetBool(config, APMPBEventConfig::kCustomConversion, *conversion);
    if (rate) APMPBMessageSetInt32(config, APMPBEventConfig::kSamplingRate, *rate);
    return config;
}

// One row of the settings table: the reader decides how a bound is written into the text.
enum class Reader { Int, Time, Flag };
struct SettingRow {
    const char* key;
    Reader reader;
    double defaultValue, minimum, maximum;
    std::function<double(APMRemoteConfig&)> get;
};

#define GETTER(name) [](APMRemoteConfig& c) { return static_cast<double>(c.name()); }

const std::vector<SettingRow>& settingsTable() {
    static const std::vector<SettingRow> rows = {
        {"measurement.upload.backoff_period", Reader::Time, 43200, 3600, 604800, GETTER(uploadingBackoffInterval)},
        {"measurement.audience.max_count", Reader::Int, 50, 0, 500, GETTER(maxAudienceCount)},
        {"measurement.audience.filter_max_count_per_audience", Reader::Int, 10, 0, 100, GETTER(maxFiltersPerAudience)},
        {"measurement.audience.filter_result_max_count", Reader::Int, 200, 0, 2000, GETTER(maxFilterResultCount)},
        {"measurement.audience.parameter_max_count_filter", Reader::Int, 25, 0, 250, GETTER(maxParametersPerFilter)},
        {"measurement.upload.stale_data_deletion_interval", Reader::Time, 86400, 3600, 604800,
         GETTER(databaseDeleteStaleBundlesInterval)},
        {"measurement.upload.max_queue_time", Reader::Time, 2419200, 604800, 7862400, GETTER(maxQueueTime)},
        {"measurement.ad_id_cache_time", Reader::Time, 1, 0, 86400, GETTER(adIDCacheTime)},
        {"measurement.attmas_gate", Reader::Flag, 0, 0, 1, GETTER(gateIDFAOnATTMASEnabled)},
        {"measurement.monitoring.sample_period_millis", Reader::Time, 86400, 0, 604800, GETTER(monitoringSamplePeriod)},
        {"measurement.network.background_session_enabled", Reader::Flag, 0, 0, 1,
         GETTER(isNetworkBackgroundSessionEnabled)},
        {"measurement.network.network_timeout", Reader::Time, 60, 30, 3600, GETTER(networkTimeout)},
        {"measurement.session.default_minimum_interval", Reader::Time, 10, 0, 86400,
         GETTER(sessionDefaultMinimumInterval)},
        {"measurement.session.default_timeout_interval", Reader::Time, 1800, 0, 86400,
         GETTER(sessionDefaultTimeoutInterval)},
        {"measurement.session.event_user_engagement_interval", Reader::Time, 3600, 0, 86400,
         GETTER(sessionEventUserEngagementInterval)},
        {"measurement.collection.efficient_engagement_reporting_enabled", Reader::Flag, 0, 0, 1,
         GETTER(efficientEngagementReportingEnabled)},
        {"measurement.collection.redundant_engagement_removal_enabled", Reader::Flag, 0, 0, 1,
         GETTER(redundantEngagementRemovalEnabled)},
        {"measurement.upload.configurable_limits_enabled", Reader::Flag, 1, 0, 1, GETTER(configurableLimitsEnabled)},
        {"measurement.upload.max_conversions_per_day", Reader::Int, 10000, 0, 1000000, GETTER(maxConversionsPerDay)},
        {"measurement.upload.max_events_per_day", Reader::Int, 100000, 0, 1000000, GETTER(maxEventsPerDay)},
        {"measurement.upload.max_public_events_per_day", Reader::Int, 50000, 0, 1000000, GETTER(maxPublicEventsPerDay)},
        {"measurement.upload.max_error_events_per_day", Reader::Int, 1000, 0, 1000000, GETTER(maxErrorEventsPerDay)},
        {"measurement.lifetimevalue.max_currency_tracked", Reader::Int, 4, 1, 100, GETTER(maxTrackedCurrencies)},
        {"measurement.upload.max_public_user_properties", Reader::Int, 25, 25, 100, GETTER(maxPublicUserProperties)},
        {"measurement.upload.max_event_name_cardinality", Reader::Int, 500, 500, 2000, GETTER(maxEventNameCardinality)},
        {"measurement.upload.max_public_event_params", Reader::Int, 25, 25, 100, GETTER(maxPublicEventParams)},
        {"measurement.store.max_stored_events_per_app", Reader::Int, 100000, 0, 1000000, GETTER(maxEventsStored)},
        {"measurement.upload.interval", Reader::Time, 3600, 15, 86400, GETTER(uploadingInterval)},
        {"measurement.upload.initial_upload_delay_time", Reader::Time, 15, 1, 86400,
         GETTER(uploadingInitialDelayInterval)},
        {"measurement.upload.max_bundles", Reader::Int, 100, 1, 10000, GETTER(uploadMaxBundlesLimit)},
        {"measurement.upload.max_events_per_bundle", Reader::Int, 1000, 1, 1000000, GETTER(uploadMaxEventsPerBundle)},
        {"measurement.upload.max_batch_size", Reader::Int, 65536, 0, 10485760, GETTER(uploadMaxSizeLimitBytes)},
        {"measurement.upload.retry_count", Reader::Int, 6, 1, 24, GETTER(uploadingRetryCount)},
        {"measurement.upload.retry_time", Reader::Time, 1800, 60, 86400, GETTER(uploadingRetryInterval)},
        {"measurement.upload.max_bundles_created_per_iteration", Reader::Int, 100, 1, 10000,
         GETTER(maxBundlesCreatedPerIteration)},
        {"measurement.upload.max_realtime_events_per_day", Reader::Int, 10, 0, 10, GETTER(maxRealtimeEventCountPerDay)},
        {"measurement.upload.debug_upload_interval", Reader::Time, 1, 1, 15, GETTER(uploadingDebugModeInterval)},
        {"measurement.upload.realtime_upload_interval", Reader::Time, 10, 10, 15, GETTER(uploadingRealTimeInterval)},
        {"measurement.upload.blacklist_internal", Reader::Flag, 0, 0, 1, GETTER(blocklistInternal)},
        {"measurement.upload.blacklist_public", Reader::Flag, 0, 0, 1, GETTER(blocklistPublic)},
        {"measurement.event_sampling_enabled", Reader::Flag, 0, 0, 1, GETTER(isEventSamplingEnabled)},
        {"measurement.account.time_zone_offset_minutes", Reader::Int, 0, -900, 900,
         GETTER(analyticsAccountTimeZoneOffsetMinutes)},
        {"measurement.quality.checksum", Reader::Flag, 0, 0, 1, GETTER(checksumEnabled)},
        {"measurement.lifecycle.app_backgrounded_tracking", Reader::Flag, 1, 0, 1, GETTER(appBackgroundedEventEnabled)},
        {"measurement.lifecycle.app_in_background_parameter", Reader::Flag, 1, 0, 1,
         GETTER(appInBackgroundParameterEnabled)},
        {"measurement.last_advertising_id_reset_feature_enabled", Reader::Flag, 1, 0, 1,
         GETTER(lastAdvertisingIDResetFeatureEnabled)},
        {"measurement.ees_feature_enabled", Reader::Flag, 1, 0, 1, GETTER(eesFeatureEnabled)},
        {"measurement.psm_enabled", Reader::Flag, 1, 0, 1, GETTER(PSMFeatureEnabled)},
        {"measurement.psm_start_count", Reader::Int, 3, 0, 10, GETTER(maxPSMStartCount)},
        {"measurement.psm_retry_count", Reader::Int, 5, 0, 10, GETTER(maxPSMRetryCount)},
        {"measurement.psm_retry_interval", Reader::Time, 300, 30, 1800, GETTER(PSMRetryInterval)},
        {"measurement.ddl.enabled", Reader::Flag, 1, 0, 1, GETTER(isDeferredDeepLinkEnabled)},
        {"measurement.ddl.retry_count", Reader::Int, 5, 0, 10, GETTER(maxDeferredDeepLinkRetryCount)},
        {"measurement.attribution.cache.ttl", Reader::Time, 604800, 86400, 2592000,
         GETTER(attributionCacheTTLInterval)},
        {"measurement.config.cache_time", Reader::Time, 3600, 60, 86400, GETTER(remoteConfigCacheTimeInterval)},
        {"measurement.api.consent_settings", Reader::Flag, 1, 0, 1, GETTER(isConsentSettingsEnabled)},
        {"measurement.api.consent_settings_3p", Reader::Flag, 1, 0, 1, GETTER(isConsentSettings3PEnabled)},
        {"measurement.persistent_config_in_application_support_enabled", Reader::Flag, 0, 0, 1,
         GETTER(persistentConfigInApplicationSupportEnabled)},
    };
    return rows;
}

#undef GETTER

// The setting text for a value in the reader's units (times travel in milliseconds).
std::string settingText(const SettingRow& row, double value) {
    return std::to_string(static_cast<long long>(std::llround(row.reader == Reader::Time ? value * 1000 : value)));
}

// Levels 2 and 5 are never printed: such a line reaches only the monitor's health sample, which
// keeps one message and how many were logged since it was last taken.
std::string takeSample() {
    return APMMeasurementMonitor()->monitoringDataForDispatchWithSamplePeriod(-1, 0).value_or("");
}

void expectOnlySampled(const std::string& message, int population = 1) {
    const std::string sample = takeSample();
    EXPECT_EQ(sample.rfind(std::to_string(population) + ":", 0), 0u) << sample;
    EXPECT_NE(sample.find(":" + message), std::string::npos) << sample;
}

class APMRemoteConfigTest : public APMDatabaseTestBase {
protected:
    // The sample may hold a line another test logged at a real time the manual clock has not
    // reached, which would never be taken: start from none.
    void SetUp() override {
        APMDatabaseTestBase::SetUp();
        APMMeasurementMonitor()->clearMonitoringData();
    }
    void TearDown() override {
        APMMeasurementMonitor()->clearMonitoringData();
        APMRemoteConfig::connectStorageHooks(nullptr);
        APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(false);
        NSUserDefaults::standardUserDefaults()->removeObjectForKey(APMRemoteConfig::kMeasurementHostDefaultsKey);
        APMDatabaseTestBase::TearDown();
    }

    // Like the engine, the tests use the configuration and its database on a worker queue, off
    // the main thread (a sync would run the block on the calling thread).
    void onWorker(const std::function<void()>& block) {
        std::promise<void> done;
        worker_->async([&] {
            block();
            done.set_value();
        });
        done.get_future().wait();
    }

    std::shared_ptr<APMRemoteConfig> makeRemoteConfig() {
        auto config = APMRemoteConfig::initWithAppID(kAppID, database_);
        EXPECT_NE(config, nullptr);
        return config;
    }

    std::shared_ptr<DispatchQueue> worker_ = DispatchQueue::create("test.measurement.worker");
};

TEST_F(APMRemoteConfigTest, EverySettingHasItsDefaultItsBoundsAndFallsBackOutsideThem) {
    ASSERT_EQ(settingsTable().size(), 58u);
    onWorker([&] {
        auto remote = makeRemoteConfig();
        for (const auto& row : settingsTable()) {
            EXPECT_EQ(row.get(*remote), row.defaultValue) << row.key << " without configuration";
            EXPECT_EQ(row.get(*APMRemoteConfig::defaultInstance()), row.defaultValue) << row.key << " of the default";
        }

        // Both bounds are inside the range; one step past either is replaced by the default, with a line.
        LogCapture capture;
        const std::vector<std::pair<std::string, std::function<double(const SettingRow&)>>> cases = {
            {"minimum", [](const SettingRow& r) { return r.minimum; }},
            {"maximum", [](const SettingRow& r) { return r.maximum; }},
            {"below", [](const SettingRow& r) { return r.minimum - 1; }},
            {"above", [](const SettingRow& r) { return r.maximum + 1; }},
        };
        for (const auto& [label, valueOf] : cases) {
            Settings settings;
            for (const auto& row : settingsTable()) settings.emplace_back(row.key, settingText(row, valueOf(row)));
            ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig(settings)));
            const bool inside = label == "minimum" || label == "maximum";
            for (const auto& row : settingsTable()) {
                EXPECT_EQ(row.get(*remote), inside ? valueOf(row) : row.defaultValue) << row.key << " at " << label;
            }
        }
        EXPECT_EQ(capture.matching("[I-ACS029021]").size(), 2 * settingsTable().size());
    });
}

TEST_F(APMRemoteConfigTest, ReadersConvertGateAndCountAsTheSettingSays) {
    onWorker([&] {
        auto remote = makeRemoteConfig();
        ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig({
            {"measurement.upload.interval", "60000"},
            {"measurement.upload.retry_time", "90500.9"},  // whole milliseconds: 90.5 s
            {"measurement.upload.max_public_event_params", "50"},
            {"measurement.account.time_zone_offset_minutes", "-300"},
            // A count, not milliseconds: 500 bundles, not half of one.
            {"measurement.upload.max_bundles_created_per_iteration", "500"},
            {"measurement.upload.max_bundles", "+250"},
        })));
        EXPECT_EQ(remote->uploadingInterval(), 60);
        EXPECT_EQ(remote->uploadingRetryInterval(), 90.5);
        EXPECT_EQ(remote->maxPublicEventParams(), 50);
        EXPECT_EQ(remote->analyticsAccountTimeZoneOffsetMinutes(), -300);
        EXPECT_EQ(remote->maxBundlesCreatedPerIteration(), 500);
        EXPECT_EQ(remote->uploadMaxBundlesLimit(), 250);
        EXPECT_EQ(remote->version(), 7);

        // Switched off, the configurable limits keep their defaults whatever their keys say.
        ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig({
            {"measurement.upload.configurable_limits_enabled", "0"},
            {"measurement.upload.max_public_event_params", "50"},
            {"measurement.upload.max_public_user_properties", "60"},
            {"measurement.upload.max_event_name_cardinality", "1000"},
            {"measurement.upload.max_bundles_created_per_iteration", "5000"},
        })));
        EXPECT_EQ(remote->maxPublicEventParams(), 25);
        EXPECT_EQ(remote->maxPublicUserProperties(), 25);
        EXPECT_EQ(remote->maxEventNameCardinality(), 500);
        EXPECT_EQ(remote->maxBundlesCreatedPerIteration(), 5000);

        // Debug mode lets on-device conversion start more often, whatever the configuration says.
        APMMeasurementMonitor()->setDebugModeEnabled(true);
        EXPECT_EQ(remote->maxPSMStartCount(), 10);
        APMMeasurementMonitor()->setDebugModeEnabled(false);
        EXPECT_EQ(remote->maxPSMStartCount(), 3);
    });
}

TEST_F(APMRemoteConfigTest, HostileValuesFallBackToDefaultsWithOneLineEach) {
    onWorker([&] {
        auto remote = makeRemoteConfig();
        LogCapture capture;
        ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig({
            {"measurement.upload.max_bundles", "99999999999999999999999999"},
            {"measurement.upload.max_batch_size", "-1"},
            {"measurement.upload.interval", "-60000"},
            {"measurement.upload.retry_time", "1e8"},
            {"measurement.upload.retry_count", "0x10"},
            {"measurement.store.max_stored_events_per_app", " 5"},
            {"measurement.upload.max_queue_time", "99999999999999999999999999999"},
            {"measurement.audience.max_count", "NaN"},
            {"measurement.audience.filter_result_max_count", "inf"},
            {"measurement.upload.max_events_per_day", "abc"},
            {"measurement.upload.max_events_per_bundle", ""},
            {"measurement.quality.checksum", "0.5"},  // a number in range: read as 0
        })));
        EXPECT_EQ(remote->uploadMaxBundlesLimit(), 100);
        EXPECT_EQ(remote->uploadMaxSizeLimitBytes(), 65536);
        EXPECT_EQ(remote->uploadingInterval(), 3600);
        EXPECT_EQ(remote->uploadingRetryInterval(), 1800);
        EXPECT_EQ(remote->uploadingRetryCount(), 6);
        EXPECT_EQ(remote->maxEventsStored(), 100000);
        EXPECT_EQ(remote->maxQueueTime(), 2419200);
        EXPECT_EQ(remote->maxAudienceCount(), 50);
        EXPECT_EQ(remote->maxFilterResultCount(), 200);
        EXPECT_EQ(remote->maxEventsPerDay(), 100000);
        EXPECT_EQ(remote->uploadMaxEventsPerBundle(), 1000);
        EXPECT_FALSE(remote->checksumEnabled());
        // Read again from the cache: the refusal is logged once per configuration.
        EXPECT_EQ(remote->uploadMaxBundlesLimit(), 100);
        EXPECT_EQ(capture.matching("[I-ACS029021]").size(), 11u);
        EXPECT_TRUE(capture.contains("[I-ACS029021] Configuration value is not a number within its range. Using the "
                                     "default value. Key, value: measurement.upload.max_batch_size, -1"));
    });
}

TEST_F(APMRemoteConfigTest, HostileConfigurationsAreRefusedAndTheLastGoodOneStays) {
    onWorker([&] {
        auto remote = makeRemoteConfig();
        auto good = makeConfig({{"measurement.upload.interval", "120000"}}, kAppID, 3);
        ASSERT_TRUE(remote->updateMeasurementConfig(good));
        const NSData goodBytes = *good->protoBuffer();
        takeSample();

        // Cut inside its last field; too large; a string field sent as a number.
        const NSData truncated(goodBytes.begin(), goodBytes.end() - 2);
        EXPECT_EQ(APMRemoteConfig::measurementConfigFromData(truncated), nullptr);
        expectOnlySampled("Configuration data is invalid.");
        NSData oversized = goodBytes;
        oversized.resize(APMRemoteConfig::kMaxConfigurationSize + 1, 0);
        {
            LogCapture capture;
            EXPECT_EQ(APMRemoteConfig::measurementConfigFromData(oversized), nullptr);
            EXPECT_TRUE(capture.contains("[I-ACS029011] Configuration is too large. Size (bytes): 1048577"));
        }
        takeSample();
        const NSData wrongType = {0x10, 0x05};  // field 2 (the app id, a string) as a varint
        EXPECT_EQ(APMRemoteConfig::measurementConfigFromData(wrongType), nullptr);
        expectOnlySampled("Configuration data is invalid.");
        auto decoded = APMRemoteConfig::measurementConfigFromData(goodBytes);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(decoded->protoBuffer(), goodBytes);

        // Refused updates: none, another app, and the default instance.
        EXPECT_FALSE(remote->updateMeasurementConfig(nullptr));
        expectOnlySampled("Cannot set empty measurement config to database");
        EXPECT_FALSE(remote->updateMeasurementConfig(makeConfig({{"measurement.upload.interval", "30000"}}, "1:other")));
        expectOnlySampled("Cannot set measurement config when Vizudi App ID does not match");
        EXPECT_FALSE(APMRemoteConfig::defaultInstance()->updateMeasurementConfig(good));
        expectOnlySampled("Cannot update the default measurement configuration");
        // Parsing a configuration of another app changes nothing either.
        remote->parseRemoteConfigFromMeasurementConfig(
            makeConfig({{"measurement.upload.interval", "30000"}}, "1:other"));

        EXPECT_EQ(remote->uploadingInterval(), 120);
        EXPECT_EQ(remote->version(), 3);
        // The database kept the good one too: a new instance starts from it.
        auto restarted = makeRemoteConfig();
        EXPECT_EQ(restarted->version(), 3);
        EXPECT_EQ(restarted->uploadingInterval(), 120);

        // Started by the ads library, a configuration must name the app as its ZeViv app too.
        remote->setIdentifiersOriginProvider([] { return std::string("am"); });
        auto noZeViv = makeConfig({{"measurement.upload.interval", "30000"}});
        takeSample();
        EXPECT_FALSE(remote->updateMeasurementConfig(noZeViv));
        expectOnlySampled("Cannot set measurement config when ZeViv App ID does not match");
        APMPBMessageSetString(noZeViv, APMPBMeasurementConfig::kZevivAppId, kAppID);
        EXPECT_TRUE(remote->updateMeasurementConfig(noZeViv));
        EXPECT_EQ(remote->uploadingInterval(), 30);

        // A configuration without settings leaves the parsed values as they were.
        auto empty = makeConfig({}, kAppID, 4);
        APMPBMessageSetString(empty, APMPBMeasurementConfig::kZevivAppId, kAppID);
        takeSample();
        EXPECT_TRUE(remote->updateMeasurementConfig(empty));
        expectOnlySampled("Cannot parse empty measurement config. Using default values");
        EXPECT_EQ(remote->uploadingInterval(), 30);
        EXPECT_EQ(remote->version(), 4);
    });
}

TEST_F(APMRemoteConfigTest, CreationNeedsAnAppIDAndADatabase) {
    onWorker([&] {
        LogCapture capture;
        EXPECT_EQ(APMRemoteConfig::initWithAppID("", database_), nullptr);
        EXPECT_TRUE(capture.contains("[I-ACS029000] Cannot init remote configuration without valid Vizudi App ID"));
        EXPECT_EQ(APMRemoteConfig::initWithAppID(kAppID, nullptr), nullptr);
        EXPECT_TRUE(capture.contains("[I-ACS029001] Cannot init remote configuration without valid database"));
        auto defaults = APMRemoteConfig::defaultInstance();
        EXPECT_TRUE(defaults->isDefaultInstance());
        EXPECT_EQ(defaults, APMRemoteConfig::defaultInstance());
        EXPECT_EQ(defaults->measurementConfigFromDatabase(), nullptr);
        EXPECT_EQ(defaults->lastRemoteConfigUpdateTimestamp(), 0);

        // A configuration given at creation is stored and in force.
        auto given =
            APMRemoteConfig::initWithAppID(kAppID, database_, makeConfig({{"measurement.upload.retry_count", "9"}}));
        ASSERT_NE(given, nullptr);
        EXPECT_FALSE(given->isDefaultInstance());
        EXPECT_EQ(given->uploadingRetryCount(), 9);
        EXPECT_EQ(makeRemoteConfig()->uploadingRetryCount(), 9);
    });
}

TEST_F(APMRemoteConfigTest, ExpiresAfterTheCacheTimeOnTheClock) {
    std::shared_ptr<APMRemoteConfig> remote;
    const auto expired = [&] {
        bool result = false;
        onWorker([&] { result = remote->isExpired(); });
        return result;
    };
    onWorker([&] {
        remote = makeRemoteConfig();
        EXPECT_FALSE(APMRemoteConfig::defaultInstance()->isExpired());
    });
    EXPECT_TRUE(expired());  // never fetched

    onWorker([&] {
        ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig({{"measurement.upload.retry_count", "9"}})));
        EXPECT_EQ(remote->lastRemoteConfigUpdateTimestamp(), kNow);
    });
    EXPECT_FALSE(expired());
    Clock::advance(3599);
    EXPECT_FALSE(expired());
    Clock::advance(1);
    EXPECT_TRUE(expired());

    onWorker([&] {
        ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig({{"measurement.config.cache_time", "60000"}})));
    });
    Clock::advance(59);
    EXPECT_FALSE(expired());
    Clock::advance(1);
    EXPECT_TRUE(expired());
    // A fetch time ahead of the clock (the clock was set back) counts by its distance too.
    onWorker([&] { ASSERT_TRUE(database_->updateRemoteConfigSuccessfulTimestamp(Clock::now() + 60, nullptr)); });
    EXPECT_TRUE(expired());
    onWorker([&] { ASSERT_TRUE(database_->updateRemoteConfigSuccessfulTimestamp(Clock::now() + 59, nullptr)); });
    EXPECT_FALSE(expired());

    // Reset drops the configuration in force and its values.
    onWorker([&] {
        remote->reset();
        EXPECT_EQ(remote->version(), -1);
        EXPECT_EQ(remote->remoteConfigCacheTimeInterval(), 3600);
    });
}

TEST_F(APMRemoteConfigTest, EventConfigurationsAndDataControls) {
    onWorker([&] {
        auto remote = makeRemoteConfig();
        auto config = makeConfig({{"measurement.upload.blacklist_internal", "1"}});
        APMPBMessageSetArray(config, APMPBMeasurementConfig::kEventConfig,
                             Value::Array{Value(eventConfig("purchase_made", true, true, 10)),
                                          Value(eventConfig("ad_impression", std::nullopt, false, 1)),
                                          Value(eventConfig("level_up", false, std::nullopt, 70000)),
                                          Value(eventConfig("", true, std::nullopt, std::nullopt)),
                                          Value(eventConfig("negative", std::nullopt, std::nullopt, -5))});
        Value::Array controls;
        for (const char* name : {"app_instance_id", "device_info"}) {
            auto control = APMPBDataControl::make();
            APMPBMessageSetString(control, APMPBDataControl::kName, name);
            controls.push_back(Value(control));
        }
        APMPBMessageSetArray(config, APMPBMeasurementConfig::kDataControls, controls);
        takeSample();
        ASSERT_TRUE(remote->updateMeasurementConfig(config));
        expectOnlySampled("Cannot cache event configuration with an empty configuration name");

        EXPECT_TRUE(remote->isEventBlocklisted("purchase_made"));
        EXPECT_TRUE(remote->isEventCustomConversion("purchase_made"));
        EXPECT_EQ(remote->samplingRateForEvent("purchase_made"), 10);
        // Public names are kept under their internal ones.
        EXPECT_EQ(remote->eventConfigWithName("ad_impression"), nullptr);
        ASSERT_NE(remote->eventConfigWithName("_ai"), nullptr);
        EXPECT_TRUE(remote->eventHasSamplingRate("_ai"));
        EXPECT_EQ(remote->samplingRateForEvent("_ai"), 1);
        EXPECT_TRUE(remote->isEventBlocklisted("_ai"));  // internal names follow the internal block list
        EXPECT_FALSE(remote->isEventBlocklisted("level_up"));
        EXPECT_EQ(remote->samplingRateForEvent("level_up"), 1);
        EXPECT_EQ(remote->samplingRateForEvent("negative"), 1);
        EXPECT_FALSE(remote->eventHasSamplingRate("unknown"));
        EXPECT_EQ(remote->samplingRateForEvent("unknown"), 1);
        EXPECT_FALSE(remote->isEventCustomConversion("unknown"));
        EXPECT_EQ(remote->dataControls(), (std::vector<std::string>{"app_instance_id", "device_info"}));
        takeSample();
        EXPECT_EQ(remote->eventConfigWithName(""), nullptr);
        expectOnlySampled("Cannot find event config with empty event name");

        remote->reset();
        EXPECT_TRUE(remote->dataControls().empty());
        EXPECT_EQ(remote->eventConfigWithName("purchase_made"), nullptr);
        EXPECT_FALSE(remote->isEventBlocklisted("_ai"));
    });
}

TEST_F(APMRemoteConfigTest, URLsPointAtTheConfiguredHost) {
    onWorker([&] {
        auto remote = makeRemoteConfig();
        // Unconfigured, the engine names a host that cannot leave the machine.
        EXPECT_EQ(remote->uploadURL()->absoluteString(), "https://app-measurement.invalid/a");
        auto url = remote->remoteConfigURLWithAppInstanceID("0123abcd", "ios", 90000, 3, false);
        ASSERT_NE(url, nullptr);
        EXPECT_EQ(url->host(), "app-measurement.invalid");

        ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value("measurement.test:8443"),
                                                                      APMRemoteConfig::kMeasurementHostDefaultsKey));
        EXPECT_EQ(remote->uploadURL()->absoluteString(), "https://measurement.test:8443/a");
        auto config = makeConfig({{"measurement.upload.retry_count", "9"}});
        APMPBMessageSetString(config, APMPBMeasurementConfig::kUploadSubdomain, "eu");
        ASSERT_TRUE(remote->updateMeasurementConfig(config));
        EXPECT_EQ(remote->uploadURL()->absoluteString(), "https://eu.measurement.test:8443/a");

        // Only a host label goes in front of the host: anything else could send the uploads to
        // another service, and is refused with the default kept.
        const std::vector<std::string> hostileLabels = {"evil.example/", "x?", "user@evil.example", "eu.other", "",
                                                        std::string(64, 'a'), "-eu", "eu-", "e u", "eu:1"};
        for (const std::string& refused : hostileLabels) {
            LogCapture capture;
            auto hostile = makeConfig({{"measurement.upload.retry_count", "9"}});
            APMPBMessageSetString(hostile, APMPBMeasurementConfig::kUploadSubdomain, refused);
            ASSERT_TRUE(remote->updateMeasurementConfig(hostile));
            EXPECT_EQ(remote->uploadURL()->absoluteString(), "https://measurement.test:8443/a") << refused;
            EXPECT_TRUE(capture.contains(
                "[I-ACS029030] Upload sub-domain is not a host label. Uploads go to the measurement host. Sub-domain: \"" +
                refused + "\""))
                << refused;
        }
        auto longest = makeConfig({});
        APMPBMessageSetString(longest, APMPBMeasurementConfig::kUploadSubdomain, "eu-west-" + std::string(55, '9'));
        ASSERT_TRUE(remote->updateMeasurementConfig(longest));
        EXPECT_EQ(remote->uploadURL()->absoluteString(),
                  "https://eu-west-" + std::string(55, '9') + ".measurement.test:8443/a");

        url = remote->remoteConfigURLWithAppInstanceID("0123abcd", "ios", 90000, 3, false);
        ASSERT_NE(url, nullptr);
        EXPECT_EQ(url->absoluteString(),
                  std::string("https://measurement.test:8443/config/app/") + kAppID +
                      "?app_instance_id=0123abcd&platform=ios&vuv_version=90000&runtime_version=3");
        // While analytics storage is denied the app instance id goes empty, and may be missing.
        url = remote->remoteConfigURLWithAppInstanceID("0123abcd", "ios", 90000, 3, true);
        ASSERT_NE(url, nullptr);
        EXPECT_EQ(url->query(), "app_instance_id=&platform=ios&vuv_version=90000&runtime_version=3");
        EXPECT_NE(remote->remoteConfigURLWithAppInstanceID("", "ios", 90000, 3, true), nullptr);

        takeSample();
        EXPECT_EQ(remote->remoteConfigURLWithAppInstanceID("", "ios", 90000, 3, false), nullptr);
        EXPECT_EQ(remote->remoteConfigURLWithAppInstanceID("0123abcd", "", 90000, 3, false), nullptr);
        expectOnlySampled("Cannot create a URL to fetch a configuration with empty app instance ID", 2);
    });
}

// What every event asks of the configuration is kept between events: a new configuration in
// force, a parsed one and a reset must each show in the next answer.
TEST_F(APMRemoteConfigTest, KeptReadingsFollowTheConfigurationInForceAndItsChanges) {
    std::shared_ptr<APMRemoteConfig> current;
    int reads = 0;
    auto maxEvents = APMKeptRemoteConfigReading<std::int32_t>([&] { return current; },
                                                              [&](APMRemoteConfig& config) {
                                                                  ++reads;
                                                                  return config.maxEventsPerDay();
                                                              });
    EXPECT_EQ(maxEvents(), 100000);  // the built-in default, without a configuration
    EXPECT_EQ(maxEvents(), 100000);
    EXPECT_EQ(reads, 1);
    onWorker([&] {
        current = makeRemoteConfig();
        EXPECT_EQ(maxEvents(), 100000);
        ASSERT_TRUE(current->updateMeasurementConfig(makeConfig({{"measurement.upload.max_events_per_day", "300"}})));
        EXPECT_EQ(maxEvents(), 300);
        EXPECT_EQ(maxEvents(), 300);
        auto other = makeRemoteConfig();  // reads the stored configuration
        ASSERT_TRUE(other->updateMeasurementConfig(makeConfig({{"measurement.upload.max_events_per_day", "400"}})));
        EXPECT_EQ(maxEvents(), 300);
        current = other;
        EXPECT_EQ(maxEvents(), 400);
        current->reset();
        EXPECT_EQ(maxEvents(), 100000);
    });
    // Read again only after a change: the first answer, three parses, the new configuration, the reset.
    EXPECT_EQ(reads, 6);
}

TEST_F(APMRemoteConfigTest, StorageLimitsAndTheStoreChoiceComeFromTheCurrentConfiguration) {
    std::shared_ptr<APMRemoteConfig> current;
    APMRemoteConfig::connectStorageHooks([&] { return current; });
    EXPECT_EQ(APMDatabase::limits().maxEventsStored, 100000);

    onWorker([&] {
        current = makeRemoteConfig();
        ASSERT_TRUE(current->updateMeasurementConfig(makeConfig({
            {"measurement.store.max_stored_events_per_app", "2"},
            {"measurement.upload.max_queue_time", "691200000"},
            {"measurement.upload.stale_data_deletion_interval", "7200000"},
            {"measurement.persistent_config_in_application_support_enabled", "1"},
        })));
        const APMDatabaseLimits limits = APMDatabase::limits();
        EXPECT_EQ(limits.maxEventsStored, 2);
        EXPECT_EQ(limits.maxQueueTime, 691200);
        EXPECT_EQ(limits.databaseDeleteStaleBundlesInterval, 7200);
        // The database keeps itself within them.
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(database_->insertRawEvent(event("e" + std::to_string(i), kNow), 1, false, nullptr));
        }
        EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(nullptr), 3);
    });

    // The built-in default does not choose the settings' store; the engine's configuration does.
    auto settings =
        APMPersistedConfig::initWithSuiteName("com.test.remote.choice", std::make_shared<MemoryConfigStore>());
    std::shared_ptr<APMRemoteConfig> engineConfig = current;
    current = APMRemoteConfig::defaultInstance();
    settings->updateConfigStoreMigrationFlagIfNeeded();
    EXPECT_TRUE(settings->shouldCheckConfigStoreMigrationFlag());
    current = engineConfig;
    settings->updateConfigStoreMigrationFlagIfNeeded();
    EXPECT_FALSE(settings->shouldCheckConfigStoreMigrationFlag());
    EXPECT_TRUE(APMPersistedConfig::persistentConfigInApplicationSupportEnabled());

    APMRemoteConfig::connectStorageHooks(nullptr);
    EXPECT_EQ(APMDatabase::limits().maxEventsStored, 100000);
}

TEST_F(APMRemoteConfigTest, ProgramsReadTheConfigurationsTextWhateverAGetterReadFirst) {
    onWorker([&] {
        // Read by a program first, then by the typed getter, then by a program again: the same text.
        for (bool getterFirst : {false, true}) {
            auto remote = makeRemoteConfig();
            ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig({{"measurement.upload.interval", "7200000"}})));
            if (getterFirst) {
                EXPECT_EQ(remote->uploadingInterval(), 7200);
            }
            EXPECT_EQ(remote->cachedStringValueForKey("measurement.upload.interval"), "7200000");
            EXPECT_EQ(remote->uploadingInterval(), 7200);
            EXPECT_EQ(remote->cachedStringValueForKey("measurement.upload.interval"), "7200000");
            // A key the configuration does not hold stays absent after a getter used its default.
            EXPECT_EQ(remote->uploadingBackoffInterval(), 43200);
            EXPECT_EQ(remote->cachedStringValueForKey("measurement.upload.backoff_period"), std::nullopt);
        }
    });
}

// The editor a new program replaces is freed once the configuration's lock is let go: freeing
// its heap takes time by what the program built, and every reader of the configuration (the
// worker before each event, the main thread) would wait meanwhile. While it goes, a read from
// another thread is answered.
TEST_F(APMRemoteConfigTest, AReplacedEditorIsFreedWhileTheConfigurationStaysReadable) {
    // Freed with the editor whose runtime keeps it: asks another thread to read the
    // configuration then, and waits for the answer (a bound that only a held lock reaches).
    struct ReadWhileFreed {
        ReadWhileFreed(APMRemoteConfig& remote, std::thread& reader, bool& answered)
            : remote(&remote), reader(&reader), answered(&answered) {}
        ReadWhileFreed(const ReadWhileFreed&) = delete;
        ReadWhileFreed& operator=(const ReadWhileFreed&) = delete;
        APMRemoteConfig* remote;
        std::thread* reader;
        bool* answered;
        ~ReadWhileFreed() {
            auto read = std::make_shared<std::promise<void>>();
            auto done = read->get_future();
            *reader = std::thread([remote = remote, read] {
                static_cast<void>(remote->eventEditing());
                read->set_value();
            });
            *answered = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        }
    };
    const auto withProgram = [](const std::string& version) {
        return ScriptAssembler::configuration(kAppID, ScriptAssembler::program(ScriptAssembler::parse(R"(("41" "x"))"), {}),
                                              {{"measurement.test.version", version}});
    };
    onWorker([&] {
        auto remote = makeRemoteConfig();
        ASSERT_TRUE(remote->updateMeasurementConfig(withProgram("1")));
        std::thread reader;
        bool answered = false;
        {
            const auto old = remote->eventEditing();
            ASSERT_NE(old, nullptr);
            auto probe = std::make_shared<ReadWhileFreed>(*remote, reader, answered);
            old->setModuleCreator("test.readWhileFreed",
                                  [probe](APMPRuntime&) -> std::optional<APMPRuntimeValue> { return std::nullopt; });
        }
        ASSERT_TRUE(remote->updateMeasurementConfig(withProgram("2")));
        ASSERT_TRUE(reader.joinable());
        reader.join();
        EXPECT_TRUE(answered);
        EXPECT_NE(remote->eventEditing(), nullptr);
    });
}

}  // namespace
