// The persisted settings: defaults and types of every key, the coalesced synchronize over
// the manual clock, the midnight offset, and the store choice with its file moves.
#include "analytics/core/APMPersistedConfig.h"

#include "LogCapture.h"
#include "MemoryConfigStore.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMUserDefaults.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/CFPreferences.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

class Opaque : public NSObject {};

class APMPersistedConfigTest : public testing::Test {
protected:
    void TearDown() override {
        Clock::setReal();
        APMPersistedConfig::setStoreChoiceProvider(nullptr);
        APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(false);
    }
};

TEST_F(APMPersistedConfigTest, FreshInstallationDefaults) {
    auto config = APMPersistedConfig::initWithSuiteName("com.test.fresh");
    ASSERT_NE(config, nullptr);
    EXPECT_FALSE(config->usesApplicationSupportStore());
    EXPECT_EQ(config->sessionNumber(), 0);
    EXPECT_FALSE(config->appInstanceID());
    EXPECT_FALSE(config->unmatchedFirstOpenWithoutIDFA());
    EXPECT_FALSE(config->shouldSetLastAdvertisingIDResetUserProperty());
    EXPECT_EQ(config->lastBackoffTimestamp(), 0);
    EXPECT_TRUE(config->allowPersonalizedAds().isNull());
    EXPECT_TRUE(config->searchAdCampaignValue().isNull());
    EXPECT_FALSE(config->defaultEventParameters());
    EXPECT_EQ(config->measurementEnabledState(), 0);
    EXPECT_EQ(APMPersistedConfig::initWithSuiteName(""), nullptr);
}

TEST_F(APMPersistedConfigTest, EveryKeyStoresItsType) {
    auto config = APMPersistedConfig::initWithSuiteName("com.test.keys");
    auto store = config->userDefaults();
    const std::string p = "/vizudi/measurement/";
    struct DoubleSetting {
        void (APMPersistedConfig::*set)(double);
        double (APMPersistedConfig::*get)();
        const char* key;
    };
    const DoubleSetting doubles[] = {
        {&APMPersistedConfig::setLastDeleteStaleBundlesTimestamp, &APMPersistedConfig::lastDeleteStaleBundlesTimestamp, "last_delete_stale"},
        {&APMPersistedConfig::setLastSearchAdLookUpTimestamp, &APMPersistedConfig::lastSearchAdLookUpTimestamp, "search_ad_last_attempt_timestamp"},
        {&APMPersistedConfig::setLastBackoffTimestamp, &APMPersistedConfig::lastBackoffTimestamp, "last_backoff"},
        {&APMPersistedConfig::setLastSuccessfulUploadTimestamp, &APMPersistedConfig::lastSuccessfulUploadTimestamp, "last_successful_upload"},
        {&APMPersistedConfig::setLastFailedUploadTimestamp, &APMPersistedConfig::lastFailedUploadTimestamp, "last_failed_upload"},
        {&APMPersistedConfig::setLastMonitorDataSampledTimestamp, &APMPersistedConfig::lastMonitorDataSampledTimestamp, "last_monitor_data_sampled_timestamp"},
        {&APMPersistedConfig::setLastSessionActivityClockTime, &APMPersistedConfig::lastSessionActivityClockTime, "last_engagement_end"},
    };
    for (const auto& setting : doubles) {
        (config.get()->*setting.set)(12.5);
        EXPECT_DOUBLE_EQ((config.get()->*setting.get)(), 12.5) << setting.key;
        EXPECT_EQ(store->objectForKey(p + setting.key).type(), Value::Type::Double) << setting.key;
        store->setObject(Value("wrong"), p + setting.key);
        EXPECT_EQ((config.get()->*setting.get)(), 0) << setting.key;
    }
    struct IntSetting {
        void (APMPersistedConfig::*set)(std::int64_t);
        std::int64_t (APMPersistedConfig::*get)();
        const char* key;
    };
    const IntSetting ints[] = {
        {&APMPersistedConfig::setSearchAdRetryCount, &APMPersistedConfig::searchAdRetryCount, "search_ad_number_of_retries"},
        {&APMPersistedConfig::setFirstOpenTimestampMilliseconds, &APMPersistedConfig::firstOpenTimestampMilliseconds, "first_open_timestamp_ms"},
        {&APMPersistedConfig::setDeferredDeepLinkRetryCount, &APMPersistedConfig::deferredDeepLinkRetryCount, "deep_link_retry_count"},
        {&APMPersistedConfig::setSessionNumber, &APMPersistedConfig::sessionNumber, "session_number"},
    };
    for (const auto& setting : ints) {
        (config.get()->*setting.set)(1LL << 40);
        EXPECT_EQ((config.get()->*setting.get)(), 1LL << 40) << setting.key;
        EXPECT_EQ(store->objectForKey(p + setting.key).type(), Value::Type::Integer) << setting.key;
    }
    struct StringSetting {
        void (APMPersistedConfig::*set)(const std::optional<std::string>&);
        std::optional<std::string> (APMPersistedConfig::*get)();
        const char* key;
    };
    const StringSetting strings[] = {
        {&APMPersistedConfig::setAppInstanceID, &APMPersistedConfig::appInstanceID, "app_instance_id"},
        {&APMPersistedConfig::setAppIDFromVUV, &APMPersistedConfig::appIDFromVUV, "vuv_app_id"},
        {&APMPersistedConfig::setAppIDFromZeViv, &APMPersistedConfig::appIDFromZeViv, "zeviv_app_id"},
        {&APMPersistedConfig::setHashedResettableDeviceID, &APMPersistedConfig::hashedResettableDeviceID, "hashed_idfa"},
        {&APMPersistedConfig::setDiversionKey, &APMPersistedConfig::diversionKey, "diversion_key"},
        {&APMPersistedConfig::setAppVersion, &APMPersistedConfig::appVersion, "app_version"},
        {&APMPersistedConfig::setOSVersion, &APMPersistedConfig::osVersion, "os_version"},
        {&APMPersistedConfig::setConfigServerETag, &APMPersistedConfig::configServerETag, "config_etag"},
        {&APMPersistedConfig::setRezaviviFeatureRollouts, &APMPersistedConfig::rezaviviFeatureRollouts, "rezavivi_feature_rollouts"},
    };
    for (const auto& setting : strings) {
        (config.get()->*setting.set)(std::string("v"));
        EXPECT_EQ((config.get()->*setting.get)(), "v") << setting.key;
        EXPECT_EQ(store->objectForKey(p + setting.key).string(), "v") << setting.key;
        (config.get()->*setting.set)(std::nullopt);
        EXPECT_TRUE(store->objectForKey(p + setting.key).isNull()) << setting.key;
    }
    config->setUnmatchedFirstOpenWithoutIDFA(true);
    EXPECT_EQ(store->objectForKey(p + "unmatched_first_open").longLongValue(), 1);
    EXPECT_TRUE(config->unmatchedFirstOpenWithoutIDFA());
    config->setShouldSetLastAdvertisingIDResetUserProperty(true);
    store->setInteger(7, p + "set_last_advertising_id_reset");  // any non-zero is YES
    EXPECT_TRUE(config->shouldSetLastAdvertisingIDResetUserProperty());

    config->setConfigServerLastModifiedString(std::string("Tue, 1 Oct"));
    EXPECT_EQ(config->configServerLastModifiedString().string(), "Tue, 1 Oct");
    config->setLoadTimestampValue(Value(5.5));
    EXPECT_DOUBLE_EQ(config->loadTimestampValue().doubleValue(), 5.5);
    config->setDeferredDeepLinkRetrievalComplete(Value(true));
    EXPECT_TRUE(config->deferredDeepLinkRetrievalComplete().boolValue());
    config->setAllowPersonalizedAds(Value(true));
    config->setAllowPersonalizedAds(Value());
    EXPECT_TRUE(config->allowPersonalizedAds().isNull());

    config->setSearchAdCampaignValue(Value(1));
    config->setSearchAdCampaignValue(Value("string"));
    config->setSearchAdCampaignValue(Value());
    EXPECT_EQ(config->searchAdCampaignValue().intValue(), 1);

    config->setDefaultEventParameters(Value::Dictionary{{"a", Value(1)}});
    EXPECT_EQ(config->defaultEventParameters()->get("a").intValue(), 1);

    config->setMeasurementEnabledState(2);
    EXPECT_EQ(config->measurementEnabledState(), 2);
    EXPECT_TRUE(store->objectForKey(p + "measurement_enabled_state").isNull());
    EXPECT_EQ(APMUserDefaults::standardUserDefaults()->integerForKey(p + "measurement_enabled_state"), 2);

    config->clearValues();
    EXPECT_FALSE(config->appInstanceID());
    EXPECT_EQ(config->sessionNumber(), 0);
}

TEST_F(APMPersistedConfigTest, DictionariesAPropertyListCannotHoldAreRefused) {
    LogCapture capture;
    auto config = APMPersistedConfig::initWithSuiteName("com.test.dict");
    config->setDefaultEventParameters(Value::Dictionary{{"ok", Value("x")}});
    config->setDefaultEventParameters(Value::Dictionary{{"bad", Value(std::make_shared<Opaque>())}});
    EXPECT_TRUE(capture.contains("[I-ACS027002] Unsupported value passed in dictionary"));
    EXPECT_EQ(config->defaultEventParameters()->get("ok").string(), "x");
}

TEST_F(APMPersistedConfigTest, WritesOfABurstSynchronizeOnceASecondAfterTheLast) {
    Clock::setManual(0);
    auto counting = std::make_shared<MemoryConfigStore>();
    auto config = APMPersistedConfig::initWithSuiteName("com.test.sync", counting);
    // Writes at 0.0 s, 0.5 s and 0.9 s.
    config->setSessionNumber(1);
    Clock::advance(0.5);
    config->setSessionNumber(2);
    Clock::advance(0.4);
    config->setSessionNumber(3);
    auto drain = [&] { config->serialQueue()->sync([] {}); };
    Clock::advance(0.9);  // 1.8 s: not yet
    drain();
    EXPECT_EQ(counting->synchronized, 0);
    Clock::advance(0.15);  // 1.95 s
    drain();
    EXPECT_EQ(counting->synchronized, 1);
    Clock::advance(10);
    drain();
    EXPECT_EQ(counting->synchronized, 1);
    EXPECT_EQ(counting->values.get("/vizudi/measurement/session_number").intValue(), 3);
    // Raw writes schedule nothing; releasing the settings cancels a pending synchronize.
    config->setLoadTimestampValue(Value(1.0));
    Clock::advance(2);
    drain();
    EXPECT_EQ(counting->synchronized, 1);
    config->setSessionNumber(4);
    std::weak_ptr<APMPersistedConfig> weak = config;
    auto queue = config->serialQueue();
    config.reset();
    EXPECT_TRUE(weak.expired());
    Clock::advance(2);
    queue->sync([] {});
    EXPECT_EQ(counting->synchronized, 1);
}

TEST_F(APMPersistedConfigTest, MidnightOffsetIsDrawnOnceEvenUnderRacingReaders) {
    auto config = APMPersistedConfig::initWithSuiteName("com.test.midnight");
    std::vector<double> seen(8);
    std::vector<std::thread> readers;
    for (size_t i = 0; i < seen.size(); ++i) readers.emplace_back([&, i] { seen[i] = config->midnightOffset(); });
    for (auto& reader : readers) reader.join();
    for (double value : seen) EXPECT_EQ(value, seen[0]);
    EXPECT_GE(seen[0], 0);
    EXPECT_LT(seen[0], 86400);
    EXPECT_DOUBLE_EQ(seen[0] * 1000, std::round(seen[0] * 1000));
    EXPECT_EQ(APMPersistedConfig::initWithSuiteName("com.test.midnight")->midnightOffset(), seen[0]);
}

TEST_F(APMPersistedConfigTest, StoreChoiceMovesTheFileAndComesFromTheRemoteConfiguration) {
    const std::string suite = "com.test.choice";
    {
        auto config = APMPersistedConfig::initWithSuiteName(suite);
        config->setAppInstanceID(std::string("abc"));
        config->synchronizeToDisk();
    }
    ASSERT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(APMPreferencesPlistPath(suite)));

    APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(true);
    {
        auto config = APMPersistedConfig::initWithSuiteName(suite);
        EXPECT_TRUE(config->usesApplicationSupportStore());
        EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(APMPreferencesPlistPath(suite)));
        EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(APMApplicationSupportPlistPath(suite)));
        EXPECT_EQ(config->appInstanceID(), "abc");

        // The remote configuration chooses the next launch's store at the next write.
        EXPECT_TRUE(config->shouldCheckConfigStoreMigrationFlag());
        config->setSessionNumber(1);
        EXPECT_TRUE(config->shouldCheckConfigStoreMigrationFlag());  // only the built-in default so far
        APMPersistedConfig::setStoreChoiceProvider([] { return std::optional<bool>(false); });
        config->setSessionNumber(2);
        EXPECT_FALSE(config->shouldCheckConfigStoreMigrationFlag());
        EXPECT_FALSE(APMPersistedConfig::persistentConfigInApplicationSupportEnabled());
    }
    auto back = APMPersistedConfig::initWithSuiteName(suite);
    EXPECT_FALSE(back->usesApplicationSupportStore());
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(APMApplicationSupportPlistPath(suite)));
    EXPECT_EQ(back->appInstanceID(), "abc");
    EXPECT_EQ(back->sessionNumber(), 2);
}

// Settings are answered from memory while their store is unchanged: every way the stored value
// can change must show in the next read.
TEST_F(APMPersistedConfigTest, ReadsFromMemoryFollowEveryChangeOfTheStore) {
    const std::string suite = "com.test.kept";
    const std::string key = "/vizudi/measurement/app_instance_id";
    auto config = APMPersistedConfig::initWithSuiteName(suite);
    EXPECT_FALSE(config->appInstanceID());
    config->setAppInstanceID(std::string("a"));
    EXPECT_EQ(config->appInstanceID(), "a");
    // Writes past this object: another store object of the suite, a defaults object, the
    // preferences functions.
    APMUserDefaults::initWithSuiteName(suite)->setObject(Value("b"), Value(key));
    EXPECT_EQ(config->appInstanceID(), "b");
    ASSERT_TRUE(NSUserDefaults::initWithSuiteName(suite)->setObject(Value("c"), key));
    EXPECT_EQ(config->appInstanceID(), "c");
    CFPreferencesSetAppValue(key, Value("d"), suite);
    EXPECT_EQ(config->appInstanceID(), "d");
    CFPreferencesSetAppValue(key, Value(), suite);
    EXPECT_FALSE(config->appInstanceID());
    // The file replaced on disk and read again at the next synchronize, then a restart.
    config->setAppInstanceID(std::string("e"));
    config->synchronizeToDisk();
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(Value::Dictionary{{key, Value("from the file")}}),
                                                               APMPreferencesPlistPath(suite),
                                                               NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    config->synchronizeToDisk();
    EXPECT_EQ(config->appInstanceID(), "from the file");
    config->setAppInstanceID(std::string("f"));
    config->synchronizeToDisk();
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(config->appInstanceID(), "f");
    config->clearValues();
    EXPECT_FALSE(config->appInstanceID());
    config->cancelScheduledSynchronize();

    // The property-list store of Application Support, written through itself.
    APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(true);
    auto moved = APMPersistedConfig::initWithSuiteName("com.test.kept.support");
    ASSERT_TRUE(moved->usesApplicationSupportStore());
    moved->setSessionNumber(3);
    EXPECT_EQ(moved->sessionNumber(), 3);
    moved->userDefaults()->setInteger(4, Value("/vizudi/measurement/session_number"));
    EXPECT_EQ(moved->sessionNumber(), 4);
    moved->cancelScheduledSynchronize();

    // A store that cannot tell its changes is always read.
    auto memory = std::make_shared<MemoryConfigStore>();
    auto unkept = APMPersistedConfig::initWithSuiteName("com.test.kept.memory", memory);
    unkept->setSessionNumber(5);
    memory->setInteger(6, Value("/vizudi/measurement/session_number"));
    EXPECT_EQ(unkept->sessionNumber(), 6);
    unkept->cancelScheduledSynchronize();
}

TEST_F(APMPersistedConfigTest, ReadsFromItsOwnQueueDoNotDeadlock) {
    auto config = APMPersistedConfig::initWithSuiteName("com.test.reentrant");
    std::int64_t seen = -1;
    config->serialQueue()->sync([&] {
        config->setSessionNumber(9);
        seen = config->sessionNumber();
    });
    EXPECT_EQ(seen, 9);
    config->synchronizeToDisk();
    config->cancelScheduledSynchronize();
}

}  // namespace
