// The public front as the platform core starts it: refusals before the core is configured,
// public calls end to end into the database and out through the measurement service, the
// persisted collection switch and consent, and the installation identifier it follows.
#include "DeliveryTestSupport.h"

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

}  // namespace
