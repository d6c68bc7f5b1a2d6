// On-device conversion measurement against a private-set-membership client registered under its
// class name and a data set served on 127.0.0.1: a match kept and reported, retries with
// back-off on the manual clock, the per-run limits, the 90-day expiry, and a request that waits
// for the engine's upload to finish.
#include "DeliveryTestSupport.h"

#include "analytics/measurement/APMPrivateSetMembershipClient.h"
#include "platform/net/NSURL.h"

#include <gtest/gtest.h>

namespace {

// Asks the test's data set at /psm with the retry count; a body is the match value.
class DataSetClient : public NSObject, public APMPrivateSetMembershipClient {
public:
    static inline std::string host;
    bool initWithEmailAddress(const std::string& emailAddress, const std::string& appID) override {
        emailAddress_ = emailAddress;
        return !appID.empty();
    }
    std::shared_ptr<NSURL> PSMRequestURLWithRetryCount(std::int32_t retryCount) override {
        return NSURL::URLWithString("https://" + host + "/psm?retry=" + std::to_string(retryCount) +
                                    "&length=" + std::to_string(emailAddress_.size()));
    }
    std::optional<std::string> parsedPSMValueFromResponse(const NSData& response) override {
        return std::string(response.begin(), response.end());
    }

private:
    std::string emailAddress_;
};

class APMOnDeviceConversionTest : public DeliveryTest {
protected:
    void SetUp() override {
        DeliveryTest::SetUp();
        DataSetClient::host = service.host();
        ClassRegistry::registerClass(APMPrivateSetMembershipClient::kClassName,
                                     [] { return std::make_shared<DataSetClient>(); });
    }
    void TearDown() override {
        DeliveryTest::TearDown();
        ClassRegistry::unregisterClass(APMPrivateSetMembershipClient::kClassName);
    }
    void initiate(const std::string& address = "someone@example.com") {
        DUROrezurive::initiateOnDeviceConversionMeasurementWithEmailAddress(address);
        waitUntilIdle();
    }
    std::size_t asked() { return service.requestsFor("/psm").size(); }
    std::string userProperty(const std::string& name) {
        auto found = rows("SELECT value FROM user_attributes WHERE name = '" + name + "'");
        return found.empty() ? "" : found[0][0];
    }
};

TEST_F(APMOnDeviceConversionTest, AMatchIsKeptReportedInRealTimeAndBlocksFurtherAttempts) {
    service.serve("/psm", LoopbackServer::Response::make(200, "match-7"));
    start();
    LogCapture capture;
    initiate();
    ASSERT_EQ(asked(), 1u);
    EXPECT_EQ(service.requestsFor("/psm")[0].parameter("length"), "19");
    EXPECT_EQ(userProperty("_psmvalue"), "match-7");
    EXPECT_EQ(userProperty("_psmcount"), "1");
    EXPECT_EQ(rawEventValues("_fx", "_fxs"), std::vector<Value>{Value("psm")});
    initiate();
    EXPECT_EQ(asked(), 1u);
    EXPECT_TRUE(capture.contains("[I-ACS023237]"));

    // Ninety-one days later the next start forgets the match and its count.
    Clock::advance(91 * 86400);
    restart();
    waitUntilIdle();
    EXPECT_EQ(userProperty("_psmvalue"), "");
    EXPECT_EQ(userProperty("_psmcount"), "");
}

TEST_F(APMOnDeviceConversionTest, FailuresAreRetriedWithBackOffUpToTheLimit) {
    service.setFault("/psm", LoopbackServer::Fault::withStatus(503));
    start();
    initiate();
    ASSERT_EQ(asked(), 1u);
    // 300, 600, 1200 and 2400 s after successive failures; the fifth ends the attempt.
    double wait = 300;
    for (std::size_t request = 2; request <= 5; ++request, wait *= 2) {
        Clock::advance(wait - 1);
        waitUntilIdle();
        EXPECT_EQ(asked(), request - 1);
        Clock::advance(1);
        waitUntilIdle();
        ASSERT_EQ(asked(), request);
        EXPECT_EQ(service.requestsFor("/psm").back().parameter("retry"), std::to_string(request - 1));
    }
    Clock::advance(86400);
    waitUntilIdle();
    EXPECT_EQ(asked(), 5u);
    EXPECT_EQ(userProperty("_psmcount"), "5");
    EXPECT_EQ(userProperty("_psmvalue"), "");
}

TEST_F(APMOnDeviceConversionTest, StartsAreRefusedWithoutAClientAnAddressOrBeyondThePerRunLimit) {
    service.serve("/psm", LoopbackServer::Response::make(204, ""));
    start();
    LogCapture capture;
    initiate("");
    EXPECT_TRUE(capture.contains("[I-ACS023234]"));
    ClassRegistry::unregisterClass(APMPrivateSetMembershipClient::kClassName);
    initiate();
    EXPECT_TRUE(capture.contains("[I-ACS023233]"));
    ClassRegistry::registerClass(APMPrivateSetMembershipClient::kClassName,
                                 [] { return std::make_shared<DataSetClient>(); });
    // No match (an empty 204) each time: three attempts a run.
    for (int i = 0; i < 4; ++i) initiate();
    EXPECT_EQ(asked(), 3u);
    EXPECT_EQ(userProperty("_psmcount"), "3");
    EXPECT_TRUE(capture.contains("[I-ACS023236]"));
}

TEST_F(APMOnDeviceConversionTest, ARequestWaitsForTheEnginesUploadAndFollowsIt) {
    service.serve("/psm", LoopbackServer::Response::make(200, "match-1"));
    start();
    APMAnalytics::logEventWithName("bought", {{"n", Value(1)}});
    settle();
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] { engine()->setIsNetworkRequestPending(true); });
    DUROrezurive::initiateOnDeviceConversionMeasurementWithEmailAddress("someone@example.com");
    settle();
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
        EXPECT_TRUE(engine()->isPSMRequestPostponed());
        engine()->setIsNetworkRequestPending(false);
    });
    EXPECT_EQ(asked(), 0u);
    uploadWhileDue();
    EXPECT_EQ(deliveredNumbers("bought"), (std::map<long long, int>{{1, 1}}));
    EXPECT_EQ(asked(), 1u);
    EXPECT_EQ(userProperty("_psmvalue"), "match-1");
}

}  // namespace
