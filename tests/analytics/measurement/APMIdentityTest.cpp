// The identity over settings in memory, with the advertising and tracking services registered
// by name and set by each test: the app instance id and what replaces it, the advertising id
// and its hash, the tracking status and the gate, consent (an advertising id does not outlive
// its permission), the vendor id, app ids and versions, keys, and the identifiers view.
#include "analytics/measurement/APMIdentity.h"

#include "MeasurementTestSupport.h"
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMDefaultIdentitySupport.h"
#include "analytics/measurement/APMIdentifiers.h"
#include "analytics/measurement/APMPlatformIdentitySupport.h"
#include "platform/adsupport/ASIdentifierManager.h"
#include "platform/adsupport/ATTrackingManager.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/ui/UIDevice.h"
#include "tests/analytics/core/LogCapture.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

constexpr const char* kZero = "00000000-0000-0000-0000-000000000000";
constexpr const char* kFirstAdID = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
constexpr const char* kSecondAdID = "1B4E28BA-2FA1-41D2-883F-0016D3CCA427";

class APMIdentityTest : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(1'700'000'000);
        vendorID = UIDevice::currentDevice()->identifierForVendor();
        ClassRegistry::registerClass("ASIdentifierManager", [] { return ASIdentifierManager::sharedManager(); });
        ClassRegistry::registerClass("ATTrackingManager", [] { return ATTrackingManager::classObject(); });
        // Made afresh at every lookup, so each identity sees the classes registered now.
        ClassRegistry::registerClass("APMPlatformIdentitySupport", [] { return APMPlatformIdentitySupport::make(); });
        setAdvertisingID(kFirstAdID);
        ATTrackingManager::setTrackingAuthorizationStatus(ATTrackingManagerAuthorizationStatusAuthorized);
        bundle.writePlist("Info.plist", Value(Value::Dictionary{{"CFBundleIdentifier", Value("com.example.gallery")},
                                                                {"CFBundleShortVersionString", Value("2.10")},
                                                                {"CFBundleVersion", Value("2.10b.3")}}));
    }
    void TearDown() override {
        for (const char* name : {"ASIdentifierManager", "ATTrackingManager", "APMPlatformIdentitySupport", "DUROrezurive"}) {
            ClassRegistry::unregisterClass(name);
        }
        ASIdentifierManager::sharedManager()->setAdvertisingIdentifier(nullptr);
        ASIdentifierManager::sharedManager()->setAdvertisingTrackingEnabled(true);
        ATTrackingManager::setTrackingAuthorizationStatus(ATTrackingManagerAuthorizationStatusNotDetermined);
        UIDevice::currentDevice()->setIdentifierForVendor(vendorID);
        NSProcessInfo::setOperatingSystemVersion({15, 0, 0});
        APMConsentSettingsUtil::setConsentSettings(std::nullopt);
        (void)APMConsentSettingsUtil::consentSource();
        Clock::setReal();
    }

    static void setAdvertisingID(const char* text) {
        ASIdentifierManager::sharedManager()->setAdvertisingIdentifier(NSUUID::initWithUUIDString(text));
    }
    static void deny(const char* storage) {
        APMConsentSettingsUtil::updateSettings({{storage, Value("denied")}});
    }
    static void grant(const char* storage) {
        APMConsentSettingsUtil::updateSettings({{storage, Value("granted")}});
    }
    // A new identity over the test's settings; the support looks the services up now.
    std::shared_ptr<APMIdentity> makeIdentity() {
        auto identity = APMIdentity::initWithPersistedConfig(config, APMDefaultIdentitySupport::make());
        identity->setSettingsProvider([this] { return settings; });
        return identity;
    }

    TestBundle bundle;
    std::shared_ptr<APMPersistedConfig> config =
        APMPersistedConfig::initWithSuiteName("test.identity", std::make_shared<MemoryConfigStore>());
    APMIdentitySettings settings;
    std::shared_ptr<NSUUID> vendorID;
};

bool isAppInstanceID(const std::optional<std::string>& id) {
    return id && std::regex_match(*id, std::regex("[0-9A-F]{32}"));
}

TEST_F(APMIdentityTest, AnAppInstanceIDIsKeptUnlessAnalyticsStorageIsDenied) {
    EXPECT_EQ(APMIdentity::initWithPersistedConfig(nullptr), nullptr);
    auto identity = makeIdentity();
    const std::optional<std::string> first = identity->appInstanceID();
    EXPECT_TRUE(isAppInstanceID(first));
    EXPECT_EQ(config->appInstanceID(), first);
    EXPECT_EQ(makeIdentity()->appInstanceID(), first);

    deny("analytics_storage");
    EXPECT_FALSE(identity->appInstanceID());
    EXPECT_FALSE(config->appInstanceID());
    EXPECT_FALSE(makeIdentity()->appInstanceID());
    // Granted again, the next refresh writes a new one.
    grant("analytics_storage");
    const std::optional<std::string> second = identity->appInstanceID();
    EXPECT_TRUE(isAppInstanceID(second));
    EXPECT_NE(second, first);
}

TEST_F(APMIdentityTest, AChangedAdvertisingIDReplacesTheAppInstanceID) {
    settings.adIDCacheTime = 60;
    auto identity = makeIdentity();
    const std::optional<std::string> appInstanceID = identity->appInstanceID();
    // The first advertising id seen is only hashed.
    EXPECT_EQ(identity->resettableDeviceID(), kFirstAdID);
    EXPECT_EQ(identity->hashedResettableDeviceID(), apm_MD5String(kFirstAdID));
    EXPECT_EQ(identity->appInstanceID(), appInstanceID);
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());

    // Within the cache time a new id is not read.
    Clock::advance(1);
    (void)identity->resettableDeviceID();
    setAdvertisingID(kSecondAdID);
    Clock::advance(30);
    EXPECT_EQ(identity->resettableDeviceID(), kFirstAdID);
    Clock::advance(31);
    EXPECT_EQ(identity->resettableDeviceID(), kSecondAdID);
    EXPECT_EQ(identity->hashedResettableDeviceID(), apm_MD5String(kSecondAdID));
    EXPECT_TRUE(isAppInstanceID(identity->appInstanceID()));
    EXPECT_NE(identity->appInstanceID(), appInstanceID);
    EXPECT_TRUE(identity->shouldSetLastAdvertisingIDResetUserProperty());

    // Without the reset feature the flag stays down.
    identity->setShouldSetLastAdvertisingIDResetUserProperty(false);
    settings.lastAdvertisingIDResetFeatureEnabled = false;
    setAdvertisingID(kFirstAdID);
    Clock::advance(61);
    EXPECT_EQ(identity->resettableDeviceID(), kFirstAdID);
    EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());
}

// Metadata reads the device values together, after one refresh: they are the values the single
// reads give, the refresh included.
TEST_F(APMIdentityTest, DeviceValuesAreTheSingleReadsTakenTogether) {
    settings.adIDCacheTime = 60;
    auto identity = makeIdentity();
    identity->setAppIDFromVUV("1:vuv");
    APMIdentity::DeviceValues device = identity->deviceValues();
    EXPECT_EQ(device.appleConsentStatus, identity->appleConsentStatus());
    EXPECT_EQ(device.hasLimitedAdTracking, identity->hasLimitedAdTracking());
    EXPECT_EQ(device.limitedAdTracking, identity->limitedAdTracking());
    EXPECT_EQ(device.resettableDeviceID, kFirstAdID);
    EXPECT_EQ(device.appInstanceID, identity->appInstanceID());
    EXPECT_TRUE(isAppInstanceID(device.appInstanceID));
    EXPECT_EQ(device.appIDFromVUV, "1:vuv");
    EXPECT_EQ(device.appIDFromZeViv, identity->appIDFromZeViv());
    // An advertising id known means no vendor id, read together or alone.
    EXPECT_FALSE(identity->identifierForVendor(device));
    // The refresh is the one a single read makes: past the cache time a new advertising id shows.
    setAdvertisingID(kSecondAdID);
    Clock::advance(61);
    device = identity->deviceValues();
    EXPECT_EQ(device.resettableDeviceID, kSecondAdID);
    EXPECT_EQ(device.appInstanceID, identity->appInstanceID());
    EXPECT_NE(device, APMIdentity::DeviceValues{});

    // Without an advertising id the vendor id comes from the values read, once it has been read.
    setAdvertisingID(kZero);
    auto vendorOnly = makeIdentity();
    device = vendorOnly->deviceValues();
    EXPECT_FALSE(device.identifierForVendorRead);
    const std::optional<std::string> vendor = vendorOnly->identifierForVendor(device);
    EXPECT_EQ(vendor, UIDevice::currentDevice()->identifierForVendor()->UUIDString());
    device = vendorOnly->deviceValues();
    EXPECT_EQ(device.identifierForVendorRead, vendor);
    EXPECT_EQ(vendorOnly->identifierForVendor(device), vendor);
    deny("analytics_storage");
    EXPECT_FALSE(vendorOnly->identifierForVendor(device));
}

TEST_F(APMIdentityTest, TheAllZeroIdentifierIsNeverHashedAndMeansLimitedTracking) {
    setAdvertisingID(kZero);
    auto identity = makeIdentity();
    EXPECT_FALSE(identity->resettableDeviceID());
    EXPECT_FALSE(identity->hashedResettableDeviceID());
    EXPECT_TRUE(identity->hasLimitedAdTracking());
    EXPECT_TRUE(identity->limitedAdTracking());
    setAdvertisingID(kFirstAdID);
    EXPECT_FALSE(identity->limitedAdTracking());

    // Before 14.0 the platform's switch answers, and there is no status.
    NSProcessInfo::setOperatingSystemVersion({13, 7, 0});
    ASIdentifierManager::sharedManager()->setAdvertisingTrackingEnabled(false);
    EXPECT_TRUE(identity->limitedAdTracking());
    EXPECT_EQ(identity->appleConsentStatus(), kAPMTrackingStatusUnavailable);
}

TEST_F(APMIdentityTest, TrackingStatusAndTheGate) {
    auto identity = makeIdentity();
    const std::pair<unsigned long, std::uint64_t> mapping[] = {
        {0, kAPMTrackingStatusNotDetermined}, {1, 1}, {2, 2}, {3, 3}, {7, kAPMTrackingStatusUnreadable}};
    for (const auto& [platform, stored] : mapping) {
        ATTrackingManager::setTrackingAuthorizationStatus(platform);
        EXPECT_EQ(identity->appleConsentStatus(), stored) << platform;
    }
    // The tracking class there but not answering; then absent; then no advertising framework.
    ClassRegistry::registerClass("ATTrackingManager", [] { return std::make_shared<NSObject>(); });
    EXPECT_EQ(makeIdentity()->appleConsentStatus(), kAPMTrackingStatusUnreadable);
    ClassRegistry::unregisterClass("ATTrackingManager");
    EXPECT_EQ(makeIdentity()->appleConsentStatus(), kAPMTrackingStatusUnreadable);
    ClassRegistry::unregisterClass("ASIdentifierManager");
    auto withoutAds = makeIdentity();
    EXPECT_EQ(withoutAds->appleConsentStatus(), kAPMTrackingStatusUnavailable);
    EXPECT_FALSE(withoutAds->hasLimitedAdTracking());
    EXPECT_FALSE(withoutAds->resettableDeviceID());
    ClassRegistry::registerClass("ASIdentifierManager", [] { return ASIdentifierManager::sharedManager(); });
    ClassRegistry::registerClass("ATTrackingManager", [] { return ATTrackingManager::classObject(); });

    // With the gate on, only an authorised status lets the advertising id through, and an id
    // read while authorised goes once the status does.
    settings.gateIDFAOnATTMASEnabled = true;
    auto gated = makeIdentity();
    ATTrackingManager::setTrackingAuthorizationStatus(ATTrackingManagerAuthorizationStatusAuthorized);
    EXPECT_EQ(gated->resettableDeviceID(), kFirstAdID);
    ATTrackingManager::setTrackingAuthorizationStatus(ATTrackingManagerAuthorizationStatusDenied);
    Clock::advance(2);
    EXPECT_FALSE(gated->resettableDeviceID());
    EXPECT_TRUE(gated->identifierForVendor());
    // Before 14.0 there is no gate.
    NSProcessInfo::setOperatingSystemVersion({13, 0, 0});
    Clock::advance(2);
    EXPECT_EQ(gated->resettableDeviceID(), kFirstAdID);
}

TEST_F(APMIdentityTest, DeniedAdStorageDropsTheAdvertisingIDAtOnce) {
    settings.adIDCacheTime = 3600;
    auto identity = makeIdentity();
    EXPECT_EQ(identity->resettableDeviceID(), kFirstAdID);
    EXPECT_FALSE(identity->identifierForVendor());
    Clock::advance(1);

    // Well within the cache time, the denial takes the id, its hash, and its precedence away.
    deny("ad_storage");
    EXPECT_FALSE(identity->resettableDeviceID());
    EXPECT_FALSE(identity->hashedResettableDeviceID());
    EXPECT_FALSE(config->hashedResettableDeviceID());
    EXPECT_EQ(identity->identifierForVendor(), UIDevice::currentDevice()->identifierForVendor()->UUIDString());
    // A new identity under the denial never reads it.
    auto later = makeIdentity();
    EXPECT_FALSE(later->resettableDeviceID());
    EXPECT_TRUE(isAppInstanceID(later->appInstanceID()));

    grant("ad_storage");
    Clock::advance(3600);
    EXPECT_EQ(identity->resettableDeviceID(), kFirstAdID);
    EXPECT_EQ(config->hashedResettableDeviceID(), apm_MD5String(kFirstAdID));
}

TEST_F(APMIdentityTest, TheVendorIdentifierAndWhatWithholdsIt) {
    setAdvertisingID(kZero);
    auto identity = makeIdentity();
    const std::string vendor = UIDevice::currentDevice()->identifierForVendor()->UUIDString();
    EXPECT_EQ(identity->identifierForVendor(), vendor);
    // Kept once read.
    UIDevice::currentDevice()->setIdentifierForVendor(NSUUID::UUID());
    EXPECT_EQ(identity->identifierForVendor(), vendor);
    deny("analytics_storage");
    EXPECT_FALSE(identity->identifierForVendor());
    grant("analytics_storage");

    // From another thread it is read on the main thread, which the test runs meanwhile.
    auto fresh = makeIdentity();
    std::optional<std::string> fromWorker;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        fromWorker = fresh->identifierForVendor();
        done = true;
    });
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return done.load(); }, 20));
    worker.join();
    EXPECT_EQ(fromWorker, UIDevice::currentDevice()->identifierForVendor()->UUIDString());

    // The application can switch its collection off.
    bundle.writePlist("Info.plist", Value(Value::Dictionary{{"VIZUDI_ANALYTICS_IDFV_COLLECTION_ENABLED", Value(false)}}));
    EXPECT_FALSE(makeIdentity()->identifierForVendor());
}

TEST_F(APMIdentityTest, AppIDsVersionsAndKeys) {
    LogCapture capture;
    ClassRegistry::registerClass("DUROrezurive", [] { return std::make_shared<NSObject>(); });
    auto identity = makeIdentity();
    EXPECT_TRUE(capture.contains("[I-ACS020006] Vizudi App ID from VizudiService-Info.plist is empty."));
    EXPECT_EQ(identity->appID(), "com.example.gallery");
    EXPECT_EQ(identity->appVersion(), "2.10");
    EXPECT_EQ(identity->appVersionMajor(), 2);
    EXPECT_EQ(identity->appVersionMinor(), 10);
    EXPECT_EQ(identity->appVersionRelease(), 3);
    EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("7..x.12a34"), (std::vector<std::int32_t>{7, 0, 1234}));

    bundle.writePlist("VizudiService-Info.plist",
                      Value(Value::Dictionary{{"VIZUDI_APP_ID", Value("1:vuv")}, {"ZEVIV_APP_ID", Value("ca-app-1")}}));
    capture.clear();
    identity = makeIdentity();
    EXPECT_FALSE(capture.contains("[I-ACS020006]"));
    EXPECT_EQ(identity->appIDFromVUV(), "1:vuv");
    EXPECT_EQ(identity->appIDFromZeViv(), "ca-app-1");
    // Replaced once; an empty id is refused.
    identity->setAppIDFromVUV("");
    identity->setAppIDFromVUV("1:first");
    identity->setAppIDFromVUV("1:second");
    identity->setAppIDFromZeViv("ca-app-2");
    EXPECT_EQ(identity->appIDFromVUV(), "1:first");
    EXPECT_EQ(identity->appIDFromZeViv(), "ca-app-2");

    // A diversion key is five characters; a stored one of six is replaced.
    config->setDiversionKey("ABCDEF");
    const std::string key = identity->diversionKey();
    EXPECT_TRUE(std::regex_match(key, std::regex("[0-9A-F]{5}")));
    EXPECT_EQ(config->diversionKey(), key);
    EXPECT_EQ(identity->diversionKey(), key);

    const std::string ephemeral = identity->ephemeralAppInstanceID();
    EXPECT_TRUE(isAppInstanceID(ephemeral));
    EXPECT_EQ(identity->ephemeralAppInstanceID(), ephemeral);
    identity->resetEphemeralAppInstanceID();
    EXPECT_NE(identity->ephemeralAppInstanceID(), ephemeral);

    identity->setRezaviviInstallationID("fid-1");
    EXPECT_EQ(identity->rezaviviInstallationID(), "fid-1");
    EXPECT_EQ(APMIdentity::zevUzeviroredaLibraryVersion(), 90000);
}

TEST_F(APMIdentityTest, TheIdentifiersViewReadsTheEnginesIdentityElseTheShared) {
    LogCapture capture;
    bundle.writePlist("VizudiService-Info.plist", Value(Value::Dictionary{{"ZEVIV_APP_ID", Value("ca-app-1")}}));
    auto shared = makeIdentity();
    auto identifiers = APMIdentifiers::make([shared] { return shared; });
    EXPECT_FALSE(identifiers->vizudiAppID());
    EXPECT_EQ(identifiers->analyticsAppID(), "ca-app-1");
    EXPECT_EQ(identifiers->appInstanceID(), shared->appInstanceID());

    bundle.writePlist("VizudiService-Info.plist", Value(Value::Dictionary{{"VIZUDI_APP_ID", Value("1:engine")}}));
    auto engine = makeIdentity();
    identifiers->setEngineIdentityProvider([engine] { return engine; });
    EXPECT_EQ(identifiers->vizudiAppID(), "1:engine");
    EXPECT_EQ(identifiers->analyticsAppID(), "1:engine");
    // An engine without an identity yet leaves the shared one in charge.
    identifiers->setEngineIdentityProvider([] { return std::shared_ptr<APMIdentity>(); });
    EXPECT_FALSE(identifiers->vizudiAppID());

    const long long first = std::stoll(identifiers->adEventID());
    EXPECT_EQ(std::stoll(identifiers->adEventID()), first + 1);
    EXPECT_EQ(identifiers->libraryVersion(), "90000");
    identifiers->setOrigin("fa");
    identifiers->setOrigin("");
    EXPECT_EQ(identifiers->origin(), "fa");
}

}  // namespace
