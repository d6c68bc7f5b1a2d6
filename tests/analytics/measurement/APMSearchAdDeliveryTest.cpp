// Search-ads attribution in the started engine, aimed at the measurement service on 127.0.0.1:
// the attribution client registered by name is asked at the start and a day later, and the
// campaign it reports reaches the service as "_cmp"; a settled attribution is not asked again.
#include "DeliveryTestSupport.h"

#include "analytics/reporters/APMSearchAdReporter.h"
#include "platform/adsupport/ADClient.h"

namespace {

class APMSearchAdDeliveryTest : public DeliveryTest {
protected:
    void SetUp() override {
        DeliveryTest::SetUp();
        ClassRegistry::registerClass(APMSearchAdReporter::kClientClassName, [client = client] { return client; });
    }
    void TearDown() override {
        DeliveryTest::TearDown();
        ClassRegistry::unregisterClass(APMSearchAdReporter::kClientClassName);
    }
    std::vector<MeasurementService::Event> named(const std::string& name) const {
        std::vector<MeasurementService::Event> found;
        for (const auto& event : service.events()) {
            if (event.name == name) found.push_back(event);
        }
        return found;
    }

    std::shared_ptr<ADClient> client = std::make_shared<ADClient>();
};

}  // namespace

TEST_F(APMSearchAdDeliveryTest, AnAttributedInstallReachesTheServiceAsASearchCampaign) {
    client->setAnswers({ADClient::placeholderAnswer(), ADClient::attributedAnswer("Spring Gallery", "paintings")});
    start();
    uploadWhileDue();
    EXPECT_EQ(client->requestCount(), 1u);
    ASSERT_TRUE(engine()->searchAdReporter());
    EXPECT_FALSE(named("_f").empty());
    EXPECT_TRUE(named("_cmp").empty());

    advanceLettingRequestsEnd(86400);
    uploadWhileDue();
    EXPECT_EQ(client->requestCount(), 2u);
    const auto campaigns = named("_cmp");
    ASSERT_EQ(campaigns.size(), 1u);
    const Value::Dictionary& parameters = campaigns[0].parameters;
    EXPECT_EQ(parameters.get("source"), Value("Apple"));
    EXPECT_EQ(parameters.get("medium"), Value("search"));
    EXPECT_EQ(parameters.get("campaign"), Value("Spring Gallery"));
    EXPECT_EQ(parameters.get("term"), Value("paintings"));
    EXPECT_EQ(parameters.get("click_timestamp").longLongValue(), static_cast<long long>(kNow * 1000) - 1);

    // The next launch finds it settled.
    restart();
    EXPECT_FALSE(engine()->searchAdReporter());
    advanceLettingRequestsEnd(2 * 86400);
    EXPECT_EQ(client->requestCount(), 2u);
}

TEST_F(APMSearchAdDeliveryTest, CollectionSwitchedOffDropsThePendingRequest) {
    client->setAnswers({ADClient::placeholderAnswer()});
    start();
    waitUntilIdle();
    ASSERT_EQ(client->requestCount(), 1u);
    DUROrezurive::setAnalyticsCollectionEnabled(false);
    settle();
    advanceLettingRequestsEnd(2 * 86400);
    EXPECT_EQ(client->requestCount(), 1u);
    ASSERT_TRUE(engine()->searchAdReporter());
    EXPECT_FALSE(engine()->searchAdReporter()->isSearchAdReporterEnabled());
}
