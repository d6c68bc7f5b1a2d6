// Links that open the application as campaigns: URLs the system opens in the application (seen
// by the delegate interceptor), launch links cached and reported at the first open, expired
// ones, click ids without tracking consent, and the deferred deep link from the ad-conversion
// service on 127.0.0.1, which keeps to one request of the engine at a time.
#include "DeliveryTestSupport.h"

#include "analytics/measurement/APMAppDelegateInterceptor.h"
#include "analytics/measurement/APMBackwardCompatibilityUtil.h"
#include "analytics/measurement/APMPlatformIdentitySupport.h"
#include "platform/adsupport/ASIdentifierManager.h"
#include "platform/adsupport/ATTrackingManager.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUUID.h"
#include "platform/foundation/NSUserActivity.h"
#include "platform/services/VULAppDelegateSwizzler.h"
#include "platform/ui/UIApplication.h"

#include <gtest/gtest.h>

namespace {

// An application delegate that opens every URL it is handed, or none.
class LinkDelegate : public NSObject, public UIApplicationDelegate {
public:
    explicit LinkDelegate(bool opens) : opens_(opens) {}
    bool respondsToApplicationOpenURLOptions() const override { return opens_; }
    bool applicationOpenURLOptions(UIApplication&, const std::string& url, const Value::Dictionary& options) override {
        opened.emplace_back(url, options);
        return true;
    }
    std::vector<std::pair<std::string, Value::Dictionary>> opened;

private:
    bool opens_;
};

class APMDeepLinksTest : public DeliveryTest {
protected:
    void SetUp() override {
        DeliveryTest::SetUp();
        ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value(service.host()),
                                                                      APMMeasurement::kAdConversionHostDefaultsKey));
    }
    void TearDown() override {
        DeliveryTest::TearDown();
        for (const char* name : {"ASIdentifierManager", "ATTrackingManager", "APMPlatformIdentitySupport", "VAZAvuvazezive"}) {
            ClassRegistry::unregisterClass(name);
        }
        ASIdentifierManager::sharedManager()->setAdvertisingIdentifier(nullptr);
        ASIdentifierManager::sharedManager()->setAdvertisingTrackingEnabled(true);
        ATTrackingManager::setTrackingAuthorizationStatus(ATTrackingManagerAuthorizationStatusNotDetermined);
        UIApplication::sharedApplication()->reset();
    }
    // The main run loop's posted work too.
    void pump() {
        for (int i = 0; i < 3; ++i) {
            settle();
            (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0);  // runs what comes in meanwhile
        }
        settle();
    }
    // The advertising identifier readable with tracking allowed: the deferred deep link may go.
    void allowAdvertisingID() {
        ClassRegistry::registerClass("ASIdentifierManager", [] { return ASIdentifierManager::sharedManager(); });
        ClassRegistry::registerClass("ATTrackingManager", [] { return ATTrackingManager::classObject(); });
        ClassRegistry::registerClass("APMPlatformIdentitySupport", [] { return APMPlatformIdentitySupport::make(); });
        ASIdentifierManager::sharedManager()->setAdvertisingIdentifier(
            NSUUID::initWithUUIDString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
        ATTrackingManager::setTrackingAuthorizationStatus(ATTrackingManagerAuthorizationStatusAuthorized);
    }
    void cacheLaunchLink(const std::string& url, double storedAt) {
        auto defaults = NSUserDefaults::standardUserDefaults();
        ASSERT_TRUE(defaults->setObject(Value(url), APMMeasurement::kDeepLinkKey));
        ASSERT_TRUE(defaults->setObject(Value(storedAt), APMMeasurement::kDeepLinkTimestampKey));
    }
    Value campaignValue(const std::string& name, const std::string& parameter) {
        auto values = rawEventValues(name, parameter);
        return values.empty() ? Value() : values.back();
    }
    static constexpr const char* kDeepLinkPath = "/adserv/conversion/app/deeplink";
};

TEST_F(APMDeepLinksTest, AURLTheSystemOpensBecomesACampaignThroughTheInterceptor) {
    auto delegate = std::make_shared<LinkDelegate>(false);
    UIApplication::sharedApplication()->setDelegate(delegate);
    start();
    pump();
    ASSERT_TRUE(UIApplication::sharedApplication()->isDelegateProxyInstalled());
    std::vector<std::string> heard;
    APMAnalytics::setOpenURLListener([&](const std::string& url) { heard.push_back(url); });

    EXPECT_FALSE(UIApplication::sharedApplication()->openURLInApplication(
        "gallery://paintings?utm_source=mail&utm_medium=email&unknown=1", {}));
    // Not a campaign: only a content key.
    EXPECT_FALSE(UIApplication::sharedApplication()->openURLInApplication("gallery://x?utm_content=banner", {}));
    pump();
    const auto names = rawEventNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "_cmp"), 1);
    EXPECT_EQ(campaignValue("_cmp", "source"), Value("mail"));
    EXPECT_EQ(campaignValue("_cmp", "medium"), Value("email"));
    EXPECT_EQ(campaignValue("_cmp", "unknown"), Value());
    EXPECT_EQ(heard.size(), 2u);

    // A universal link through a continued activity; one without a page gives nothing.
    auto page = NSUserActivity::initWithActivityType(NSUserActivityTypeBrowsingWeb);
    page->setWebpageURL("https://example.com/p?utm_campaign=spring&utm_source=web");
    UIApplication::sharedApplication()->continueUserActivity(page);
    UIApplication::sharedApplication()->continueUserActivity(NSUserActivity::initWithActivityType(NSUserActivityTypeBrowsingWeb));
    pump();
    EXPECT_EQ(rawEventValues("_cmp", "campaign"), (std::vector<Value>{Value(), Value("spring")}));
}

TEST_F(APMDeepLinksTest, ClickIdsNeedTrackingConsentWhileTheBraidIsAlsoAUserProperty) {
    start();
    APMAnalytics::handleOpenURL("gallery://x?gclid=abc&gbraid=xyz&utm_source=ads");
    pump();
    EXPECT_EQ(campaignValue("_cmp", "gclid"), Value());
    EXPECT_EQ(campaignValue("_cmp", "gbraid"), Value("xyz"));
    EXPECT_EQ(rows("SELECT value FROM user_attributes WHERE name = '_gbraid'"),
              (std::vector<std::vector<std::string>>{{"xyz"}}));

    allowAdvertisingID();
    restart();
    APMAnalytics::handleOpenURL("gallery://x?gclid=abc&utm_source=ads");
    pump();
    EXPECT_EQ(campaignValue("_cmp", "gclid"), Value("abc"));
}

TEST_F(APMDeepLinksTest, TheLaunchLinkIsTheInstallsFirstCampaignAndAnExpiredOneIsNotSet) {
    // The activity's page wins over the launch URL.
    auto page = NSUserActivity::initWithActivityType(NSUserActivityTypeBrowsingWeb);
    page->setWebpageURL("https://example.com/?utm_source=site&utm_medium=link");
    NSNotificationCenter::defaultCenter()->postNotificationName(
        UIApplicationDidFinishLaunchingNotification, nullptr,
        {{UIApplicationLaunchOptionsURLKey, Value("gallery://?utm_source=other")},
         {UIApplicationLaunchOptionsUserActivityDictionaryKey,
          Value(Value::Dictionary{{UIApplicationLaunchOptionsUserActivityKey, Value(page)}})}});
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey(APMMeasurement::kDeepLinkKey),
              "https://example.com/?utm_source=site&utm_medium=link");
    start();
    pump();
    EXPECT_EQ(campaignValue("_cmp", "source"), Value("site"));
    // The start of the stored time's hour, less one hour: 21:00 for 22:13:20.
    EXPECT_EQ(campaignValue("_cmp", "_cc"), Value(1'699'995'600'000LL));
    EXPECT_EQ(campaignValue("_cmp", "click_timestamp"), Value(static_cast<long long>(kNow * 1000 - 1)));
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->objectForKey(APMMeasurement::kDeepLinkKey), Value());

    // Eight days old with the default week: "(not set)", and nothing of the old query.
    cacheLaunchLink("gallery://?utm_source=stale&utm_campaign=old", kNow - 8 * 86400);
    restart();
    pump();
    EXPECT_EQ(campaignValue("_cmpx", "source"), Value("(not set)"));
    EXPECT_EQ(campaignValue("_cmpx", "medium"), Value("(not set)"));
    EXPECT_EQ(campaignValue("_cmpx", "campaign"), Value());
    EXPECT_EQ(campaignValue("_cmpx", "_cc"), Value(1LL));
}

TEST_F(APMDeepLinksTest, ALaunchLinkCachedAfterTheEngineStartedIsReportedByThatLaunch) {
    // A later launch: the engine starts and finds nothing cached before the application's own
    // start-up is over and the launch notification brings the link.
    start();
    pump();
    restart();
    pump();
    ASSERT_TRUE(campaignValue("_cmp", "source").isNull());
    NSNotificationCenter::defaultCenter()->postNotificationName(
        UIApplicationDidFinishLaunchingNotification, nullptr,
        {{UIApplicationLaunchOptionsURLKey, Value("gallery://paintings?utm_source=mail&utm_campaign=spring")}});
    pump();
    EXPECT_EQ(campaignValue("_cmp", "source"), Value("mail"));
    EXPECT_EQ(campaignValue("_cmp", "campaign"), Value("spring"));
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->objectForKey(APMMeasurement::kDeepLinkKey), Value());
    // Reported once: the next launch has nothing left to report.
    restart();
    pump();
    EXPECT_EQ(rawEventValues("_cmp", "source").size(), 1u);
}

// The engine's class load hook observes the launch; the door's load only stamps the load time.
TEST_F(APMDeepLinksTest, TheEnginesLoadHookObservesTheLaunch) {
    const auto launch = [] {
        NSNotificationCenter::defaultCenter()->postNotificationName(
            UIApplicationDidFinishLaunchingNotification, nullptr,
            {{UIApplicationLaunchOptionsURLKey, Value("gallery://paintings?utm_source=launch&utm_medium=link")}});
    };
    // A process whose libraries have not loaded yet.
    forgetProcess();
    APMAnalytics::load();
    launch();
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->objectForKey(APMMeasurement::kDeepLinkKey), Value());
    APMMeasurement::load();
    APMMeasurement::load();
    launch();
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey(APMMeasurement::kDeepLinkKey),
              "gallery://paintings?utm_source=launch&utm_medium=link");
    start();
    pump();
    EXPECT_EQ(rawEventValues("_cmp", "source"), std::vector<Value>{Value("launch")});
}

class APMDeferredDeepLinkTest : public APMDeepLinksTest {
protected:
    void SetUp() override {
        APMDeepLinksTest::SetUp();
        writeInfo({{"VIZUDI_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED", Value(true)}});
        allowAdvertisingID();
    }
    std::vector<LoopbackServer::Request> deepLinkRequests() { return service.requestsFor(kDeepLinkPath); }
    void waitForDeepLinkRequests(std::size_t count) {
        ASSERT_TRUE(service.waitForRequests(kDeepLinkPath, count, 20));
        waitUntilIdle();
        pump();
    }
};

TEST_F(APMDeferredDeepLinkTest, TheServicesLinkIsHandedToTheDelegateThenReported) {
    auto delegate = std::make_shared<LinkDelegate>(true);
    UIApplication::sharedApplication()->setDelegate(delegate);
    service.serve(kDeepLinkPath, LoopbackServer::Response::make(
                                     200, R"({"deeplink":"gallery://sale?utm_campaign=install","gclid":"g1","timestamp":"12"})",
                                     "application/json"));
    start();
    waitForDeepLinkRequests(1);
    const auto request = deepLinkRequests().front();
    EXPECT_EQ(request.parameter("rdid"), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(request.parameter("id_type"), "idfa");
    EXPECT_EQ(request.parameter("bundleid"), kBundleIdentifier);
    EXPECT_EQ(request.parameter("retry"), "0");
    EXPECT_EQ(request.parameter("ddl_test"), "");
    ASSERT_EQ(delegate->opened.size(), 1u);
    EXPECT_EQ(delegate->opened[0].first, "gallery://sale?utm_campaign=install");
    EXPECT_EQ(delegate->opened[0].second.get("timestamp"), Value("12"));
    EXPECT_EQ(campaignValue("_cmp", "_cis"), Value("ddp"));
    EXPECT_EQ(campaignValue("_cmp", "campaign"), Value("install"));
    EXPECT_EQ(campaignValue("_cmp", "gclid"), Value("g1"));
    // Retrieved once: a later launch does not ask again.
    restart();
    waitUntilIdle();
    EXPECT_EQ(deepLinkRequests().size(), 1u);
}

TEST_F(APMDeferredDeepLinkTest, FailuresAreRetriedAtLaterLaunchesUpToTheLimit) {
    service.setFault(kDeepLinkPath, LoopbackServer::Fault::withStatus(503));
    LogCapture capture;
    start();
    waitForDeepLinkRequests(1);
    for (std::size_t launch = 2; launch <= 5; ++launch) {
        restart();
        waitForDeepLinkRequests(launch);
        EXPECT_EQ(deepLinkRequests().back().parameter("retry"), std::to_string(launch - 1));
    }
    restart();
    waitUntilIdle();
    EXPECT_EQ(deepLinkRequests().size(), 5u);
    EXPECT_TRUE(capture.contains("[I-ACS023195]"));
}

TEST_F(APMDeferredDeepLinkTest, ABusyEngineLeavesTheLinkToTheNextLaunchWithoutATry) {
    // An answer without a link still completes the retrieval.
    service.serve(kDeepLinkPath, LoopbackServer::Response::make(200, "{}", "application/json"));
    start();
    waitUntilIdle();
    const std::size_t before = deepLinkRequests().size();
    ASSERT_EQ(before, 1u);
    engine()->persistedConfig()->setDeferredDeepLinkRetrievalComplete(Value());
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
        engine()->setIsNetworkRequestPending(true);
        engine()->requestDeferredDeepLink();
        engine()->setIsNetworkRequestPending(false);
    });
    waitUntilIdle();
    EXPECT_EQ(deepLinkRequests().size(), before);
    EXPECT_EQ(engine()->persistedConfig()->deferredDeepLinkRetryCount(), 0);
    EXPECT_TRUE(engine()->persistedConfig()->deferredDeepLinkRetrievalComplete().isNull());
}

// The older library, present under its class name.
class OlderLibrary : public NSObject, public APMBackwardCompatibilityUtil::EnablableLibrary {
public:
    void setIsEnabled(bool value) override { enabled = value; }
    bool enabled = true;
};

TEST_F(APMDeepLinksTest, TheOlderLibraryIsSwitchedOffAtTheStart) {
    EXPECT_FALSE(APMBackwardCompatibilityUtil::disableVAZAvuvazezive());
    auto older = std::make_shared<OlderLibrary>();
    ClassRegistry::registerClass("VAZAvuvazezive", [older] { return older; });
    LogCapture capture;
    start();
    EXPECT_FALSE(older->enabled);
    EXPECT_TRUE(capture.contains("[I-ACS023210] VAZAvuvazezive has been disabled"));
    // A class of that name that cannot be switched off is left alone.
    ClassRegistry::registerClass("VAZAvuvazezive", [] { return std::make_shared<NSObject>(); });
    EXPECT_FALSE(APMBackwardCompatibilityUtil::disableVAZAvuvazezive());
}

}  // namespace
