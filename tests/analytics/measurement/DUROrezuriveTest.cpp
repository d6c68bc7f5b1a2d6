// The public front as the platform core starts it: refusals before the core is configured,
// public calls end to end into the database and out through the measurement service, the
// persisted collection switch and consent, the installation identifier it follows, the
// operations it hands on as they are, and the engine's classes under the front's names.
#include "DeliveryTestSupport.h"

#include "analytics/measurement/DAROAdExposureReporter.h"
#include "analytics/measurement/DAROEvent.h"
#include "analytics/measurement/DAROMeasurement.h"
#include "analytics/measurement/DAROScreenViewReporter.h"
#include "analytics/measurement/DAROValue.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSUserActivity.h"
#include "platform/services/DORAdizivororivs.h"
#include "platform/services/RURAdi.h"

#include <gtest/gtest.h>

namespace {

class DUROrezuriveTest : public DeliveryTest {
protected:
    void TearDown() override {
        DeliveryTest::TearDown();
        RURAdi::reset();
        DORAdizivororivs::reset();
    }
    // The platform core configures its default app and so starts the front.
    void configure() {
        RURAdi::configureWithOptions(RUROptions::initWithDictionary({{"VIZUDI_APP_ID", Value(kAppID)}}));
        settle();
        ASSERT_TRUE(APMMeasurement::hasSharedInstance());
    }
    // The identity's installation identifier once the service's answer arrived.
    std::string installationID(const std::string& notThis = "") {
        std::string found;
        for (int round = 0; round < 2000; ++round) {
            settle();
            DispatchQueue::globalQueue()->sync([] {});
            found = engine()->identity()->rezaviviInstallationID();
            if (!found.empty() && found != notThis) break;
            std::this_thread::yield();
        }
        return found;
    }
};

TEST_F(DUROrezuriveTest, BeforeTheCoreIsConfiguredEventsAndTextPropertiesAreRefused) {
    LogCapture capture;
    DUROrezurive::logEventWithName("early_event", {});
    DUROrezurive::setUserPropertyString(Value("blue"), "colour");
    EXPECT_TRUE(capture.contains("[I-ACS025018] Event not logged. Call +[RURAdi configure]"));
    EXPECT_TRUE(capture.contains("[I-ACS025019] User property not set. Call +[RURAdi configure]"));
    configure();
    settle();
    const auto names = rawEventNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "early_event"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM user_attributes WHERE name = 'colour'"), 0);
}

TEST_F(DUROrezuriveTest, PublicCallsReachTheServiceWithTheInstallationIdentifier) {
    configure();
    DUROrezurive::logEventWithName("select_item", {{"n", Value(7)}});
    DUROrezurive::setUserPropertyString(Value("blue"), "colour");
    DUROrezurive::setUserID(Value("user-1"));
    const std::string installation = installationID();
    ASSERT_FALSE(installation.empty());
    EXPECT_EQ(installation, NSUserDefaults::standardUserDefaults()->stringForKey(DORAdizivororivs::kDefaultsKey));
    settle();
    EXPECT_EQ(rows("SELECT origin, value FROM user_attributes WHERE name = 'colour'"),
              (std::vector<std::vector<std::string>>{{"app", "blue"}}));

    uploadWhileDue();
    EXPECT_EQ(deliveredNumbers("select_item"), (std::map<long long, int>{{7, 1}}));
    bool carried = false;
    for (const auto& upload : service.uploads()) {
        for (const auto& bundle : UploadTestBase::bundlesOf(upload)) {
            carried = carried ||
                      APMPBMessageGetString(bundle, APMPBMeasurementBundle::kRezaviviInstallationId) == installation;
        }
    }
    EXPECT_TRUE(carried);
}

TEST_F(DUROrezuriveTest, TheInstallationIdentifierFollowsTheServiceAndItsFailures) {
    auto installations = DORAdizivororivs::installations();
    installations->setFailure(NSError::errorWithDomain("com.test.installations", 3));
    LogCapture capture;
    configure();
    for (int round = 0; round < 2000 && !capture.contains("[I-ACS025038]"); ++round) {
        DispatchQueue::globalQueue()->sync([] {});
        settle();
    }
    EXPECT_TRUE(capture.contains("[I-ACS025038] Failed to get Installation ID."));
    EXPECT_EQ(engine()->identity()->rezaviviInstallationID(), "");

    // The service recovers and makes a new identifier: the change notice brings it in.
    installations->setFailure(nullptr);
    installations->deleteInstallationID();
    const std::string first = installationID();
    ASSERT_FALSE(first.empty());
    installations->deleteInstallationID();
    const std::string second = installationID(first);
    EXPECT_NE(second, first);
    EXPECT_FALSE(second.empty());
}

TEST_F(DUROrezuriveTest, TheCollectionSwitchIsPersistedAndConsentIsTheStrongestSource) {
    configure();
    DUROrezurive::setAnalyticsCollectionEnabled(false);
    DUROrezurive::setConsent({{"ad_storage", Value("denied")}});
    settle();
    EXPECT_FALSE(engine()->isEnabled());
    EXPECT_EQ(APMAnalytics::consentSettings3P(),
              std::optional<Value::Dictionary>(Value::Dictionary{{"ad_storage", Value("denied")}}));
    restart();
    EXPECT_FALSE(engine()->isEnabled());
    DUROrezurive::logEventWithName("while_off", {});
    settle();
    const auto names = rawEventNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "while_off"), 0);
}

// What the front's forwarded operations did, as they tell it from the queues they run on.
struct Heard {
    std::mutex mutex;
    std::vector<std::string> items;
    void add(const std::string& item) {
        std::lock_guard lock(mutex);
        items.push_back(item);
    }
    std::vector<std::string> all() {
        std::lock_guard lock(mutex);
        return items;
    }
};

TEST_F(DUROrezuriveTest, CallsHandedOnBeforeTheStartReachTheEngineOnceItExists) {
    auto heard = std::make_shared<Heard>();
    DUROrezurive::setSessionTimeoutInterval(42);
    DUROrezurive::setOpenURLListener([heard](const std::string& url) { heard->add("url " + url); });
    DUROrezurive::handleOpenURL("gallery://paintings?utm_source=mail&utm_medium=email");
    auto page = NSUserActivity::initWithActivityType(NSUserActivityTypeBrowsingWeb);
    page->setWebpageURL("https://example.com/p?utm_campaign=spring&utm_source=web");
    DUROrezurive::handleUserActivity(page);
    DUROrezurive::logEventWithOrigin("app", true, "stamped", {{"n", Value(3)}}, kNow - 60, false, false);
    DUROrezurive::queueOperationWithBlock(
        [heard] { heard->add(APMMeasurement::hasSharedInstance() ? "queued with engine" : "queued early"); });
    // The serial queue itself already runs: what is sent there straight does not wait.
    DUROrezurive::dispatchAsyncOnSerialQueue(
        [heard] { heard->add(APMAnalytics::isCurrentQueueSerialQueue() ? "on serial queue" : "elsewhere"); });
    settle();
    EXPECT_EQ(heard->all(), (std::vector<std::string>{"on serial queue"}));

    configure();
    settle();
    EXPECT_EQ(heard->all(), (std::vector<std::string>{"on serial queue",
                                                      "url gallery://paintings?utm_source=mail&utm_medium=email",
                                                      "queued with engine"}));
    double timeout = 0;
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID(
        "test", [&] { timeout = engine()->sessionReporter()->timeoutSessionInterval(); });
    EXPECT_EQ(timeout, 42);
    EXPECT_EQ(rawEventValues("_cmp", "source"), (std::vector<Value>{Value("mail"), Value("web")}));
    EXPECT_EQ(rows("SELECT timestamp FROM raw_events WHERE name = 'stamped'"),
              (std::vector<std::vector<std::string>>{{std::to_string(static_cast<long long>(kNow - 60)) + ".0"}}));
}

TEST_F(DUROrezuriveTest, ReleasingTheHeldCallsEarlyRunsThemWithoutAnEngine) {
    auto heard = std::make_shared<Heard>();
    DUROrezurive::queueOperationWithBlock(
        [heard] { heard->add(APMMeasurement::hasSharedInstance() ? "with engine" : "without engine"); });
    settle();
    EXPECT_TRUE(heard->all().empty());
    DUROrezurive::unsuspendOperationQueue();
    settle();
    EXPECT_EQ(heard->all(), (std::vector<std::string>{"without engine"}));
}

TEST_F(DUROrezuriveTest, ListenersAdsEventsAndBackgroundSessionsGoThroughTheFront) {
    configure();
    DUROrezurive::notCalled();
    auto heard = std::make_shared<Heard>();
    const auto token = DUROrezurive::addLogEventListener(
        [heard](const std::shared_ptr<APMEvent>& event) { heard->add(event->name()); });
    ASSERT_NE(token, 0u);
    auto told = APMEvent::initWithOrigin("app", true, "told", kNow, 0, {});
    ASSERT_TRUE(told);
    DUROrezurive::notifyEventListeners(told);
    settle();
    EXPECT_EQ(heard->all(), (std::vector<std::string>{"told"}));

    // The ads library's event id arrives as text: a number travels as one, other text as it is.
    DUROrezurive::sharedInstance()->logInternalEventWithOriginNameParameters("am", "_xa",
                                                                             {{"_aeid", Value("1234567")}});
    DUROrezurive::sharedInstance()->logInternalEventWithOriginNameParameters("am", "_xa",
                                                                             {{"_aeid", Value("ad-7")}});
    settle();
    EXPECT_EQ(rawEventValues("_xa", "_aeid"), (std::vector<Value>{Value(1234567LL), Value("ad-7")}));

    std::atomic<bool> finished{false};
    DUROrezurive::handleEventsForBackgroundURLSession("com.example.gallery.session",
                                                      [&finished] { finished = true; });
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return finished.load(); }, 10));
}

TEST_F(DUROrezuriveTest, TheEngineClassesUnderTheFrontsNamesAreTheEnginesOwn) {
    configure();
    EXPECT_EQ(DAROMeasurement::sharedInstance(), engine());
    EXPECT_EQ(DAROScreenViewReporter::sharedInstance(), APMScreenViewReporter::sharedInstance());
    EXPECT_EQ(DAROAdExposureReporter::sharedInstance(), APMAdExposureReporter::sharedInstance());

    DUROrezurive::setUserPropertyString(Value("blue"), "colour");
    settle();
    std::atomic<bool> answered{false};
    std::shared_ptr<APMUserAttribute> found;
    DAROMeasurement::userAttributeWithName("colour", [&](const std::shared_ptr<APMUserAttribute>& attribute) {
        found = attribute;
        answered = true;
    });
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return answered.load(); }, 10));
    ASSERT_TRUE(found);
    ASSERT_TRUE(found->value()->stringValue());
    EXPECT_EQ(*found->value()->stringValue(), "blue");

    // A value of the front's class is equal to nothing, not even to itself.
    auto five = APMValue::initWithInt64(5);
    auto publicFive = std::make_shared<DAROValue>(APMValue::kInt64, Value(5LL));
    EXPECT_TRUE(five->isEqual(APMValue::initWithInt64(5).get()));
    EXPECT_FALSE(five->isEqual(publicFive.get()));
    EXPECT_FALSE(publicFive->isEqual(five.get()));
    EXPECT_FALSE(publicFive->isEqual(publicFive.get()));
}

}  // namespace
