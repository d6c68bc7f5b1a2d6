// The engine as the application terminates: nothing new is sent from then on; an upload whose
// reply is coming in is waited for however long it takes while it keeps coming (its bundles go),
// one that hangs is left to the network's shutdown (its bundles stay queued), and the next
// launch delivers what is left, once.
#include "DeliveryTestSupport.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/net/URLNetwork.h"
#include "platform/ui/UIApplication.h"

namespace {

using Reply = MeasurementService::Reply;

class APMTerminationTest : public DeliveryTest {
protected:
    void TearDown() override {
        URLNetwork::restart();
        DeliveryTest::TearDown();
    }

    void logSteps(int from, int to) {
        for (int n = from; n < to; ++n) APMAnalytics::logEventWithName("step", {{"n", Value(n)}});
        settle();
    }
    // The upload the engine armed, with `reply` from the service; returns once it arrived.
    void uploadAnsweredWith(const Reply& reply) {
        service.enqueueReply(MeasurementService::Route::Upload, reply);
        const std::size_t before = service.uploads().size();
        Clock::advance(std::max(0.0, scheduledUpload() - Clock::now()));
        ASSERT_TRUE(service.waitForUploads(before + 1));
    }
    // What the application posts as it terminates; the real seconds the engine took.
    static double terminate() {
        const auto start = std::chrono::steady_clock::now();
        NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationWillTerminateNotification,
                                                                    UIApplication::sharedApplication());
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

}  // namespace

TEST_F(APMTerminationTest, AHangingUploadIsLeftQueuedAndTheNextLaunchDeliversItOnce) {
    start();
    logSteps(0, 5);
    Reply hang;
    hang.fault = LoopbackServer::Fault::stall();
    uploadAnsweredWith(hang);
    ASSERT_TRUE(service.waitForStalls(1));

    const double took = terminate();
    EXPECT_TRUE(engine()->isTerminating());
    EXPECT_GE(took, APMMeasurement::kTerminationGracePeriod * 0.9) << "the upload in flight was given its time";
    EXPECT_LT(took, APMMeasurement::kTerminationGracePeriod + 10) << "a hanging upload held the termination";
    EXPECT_TRUE(engine()->isNetworkRequestPending());

    // The network's shutdown ends it; what it carried stays queued, and nothing else is sent,
    // whatever the clock does: the upload timer is gone.
    URLNetwork::shutdown();
    waitUntilIdle();
    EXPECT_GT(count("SELECT count(*) FROM queue"), 0);
    EXPECT_EQ(rows("PRAGMA integrity_check"), (std::vector<std::vector<std::string>>{{"ok"}}));
    EXPECT_EQ(scheduledUpload(), 0);
    URLNetwork::restart();
    Clock::advance(24 * 3600);
    settle();
    EXPECT_EQ(service.uploads().size(), 1u);

    service.releaseStalls();
    restart();
    uploadWhileDue();
    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 5u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
}

TEST_F(APMTerminationTest, AReplyComingInIsWaitedForAndItsBundlesAreNotSentAgain) {
    start();
    logSteps(0, 5);
    Reply slow;
    slow.fault = LoopbackServer::Fault::slow(std::chrono::milliseconds(150), 16);
    uploadAnsweredWith(slow);

    terminate();
    EXPECT_FALSE(engine()->isNetworkRequestPending());
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 5u);

    // The next launch has nothing of them left to send.
    restart();
    logSteps(5, 7);
    uploadWhileDue();
    delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 7u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
}

// The grace bounds a pause of the reply, not the reply: one whose three bytes come at intervals
// of 0.4 grace takes longer than the grace, and is read to its end all the same.
TEST_F(APMTerminationTest, AReplyComingInForLongerThanTheGraceIsReadToItsEnd) {
    start();
    logSteps(0, 5);
    Reply slow;
    const auto pause = std::chrono::milliseconds(static_cast<int>(APMMeasurement::kTerminationGracePeriod * 400));
    slow.fault = LoopbackServer::Fault::slow(pause, 1);
    uploadAnsweredWith(slow);

    terminate();
    EXPECT_FALSE(engine()->isNetworkRequestPending());
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    EXPECT_EQ(deliveredNumbers("step").size(), 5u);
}

TEST_F(APMTerminationTest, EventsLoggedAsTheApplicationEndsAreStoredAndWaitForTheNextLaunch) {
    start();
    logSteps(0, 3);
    terminate();
    logSteps(3, 6);
    EXPECT_EQ(rawEventNumbers("step"), (std::vector<long long>{0, 1, 2, 3, 4, 5}));
    // However long the process lives on, nothing is sent.
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] { engine()->uploader()->uploadData(); });
    Clock::advance(24 * 3600);
    waitUntilIdle();
    EXPECT_TRUE(service.uploads().empty());

    restart();
    uploadWhileDue();
    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 6u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
}

// Settings kept in Application Support are written a second after a change, a second the
// process does not have: what the worker changed as the application ended is in the file.
TEST_F(APMTerminationTest, SettingsChangedAsTheApplicationEndsAreInTheFileInApplicationSupport) {
    APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(true);
    start();
    auto settings = engine()->persistedConfig();
    ASSERT_TRUE(settings->usesApplicationSupportStore());
    engine()->scheduler()->scheduleOnWorkerQueueBlockID("test", [settings] { settings->setSessionNumber(3); });
    terminate();
    settle();
    const Value file = NSPropertyListSerialization::propertyListWithContentsOfFile(
        APMApplicationSupportPlistPath(settings->name()));
    EXPECT_EQ(file.dictionary().get("/vizudi/measurement/session_number").longLongValue(), 3) << file.description();
    APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(false);
}
