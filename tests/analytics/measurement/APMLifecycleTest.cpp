// The engine along the application's life, against the measurement service: leaving the
// foreground sends what is queued under a background task, coming back ends the task and asks
// the network for nothing, and becoming active refreshes a configuration older than a week only
// under its switch.
#include "DeliveryTestSupport.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIApplication.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

class APMLifecycleTest : public DeliveryTest {
protected:
    void TearDown() override {
        DeliveryTest::TearDown();
        UIApplication::sharedApplication()->reset();
    }
    // The service answers every upload and configuration fetch with a server error.
    void failEveryRequest() {
        service.enqueueReply(MeasurementService::Route::Upload,
                             {LoopbackServer::Fault::withStatus(500), std::nullopt}, 100000);
        service.enqueueReply(MeasurementService::Route::ConfigFetch,
                             {LoopbackServer::Fault::withStatus(500), std::nullopt}, 100000);
    }
    static std::vector<UIBackgroundTaskIdentifier> tasks() {
        return UIApplication::sharedApplication()->openBackgroundTasks();
    }
};

TEST_F(APMLifecycleTest, LeavingTheForegroundSendsWhatIsQueuedUnderABackgroundTask) {
    auto application = UIApplication::sharedApplication();
    application->becomeActive();
    start();
    APMAnalytics::logEventWithName("before_leaving", {{"n", Value(1)}});
    LogCapture capture;
    ASSERT_TRUE(application->resignActive());
    ASSERT_EQ(tasks().size(), 1u);
    EXPECT_EQ(application->backgroundTaskName(tasks()[0]), APMMeasurement::kBackgroundTaskName);
    // No clock time passes: the upload is not the timer's.
    waitUntilIdle();
    EXPECT_EQ(deliveredNumbers("before_leaving"), (std::map<long long, int>{{1, 1}}));

    // Leaving again ends the first task before holding a new one; coming back ends it.
    ASSERT_TRUE(application->becomeActive());
    ASSERT_TRUE(application->resignActive());
    EXPECT_TRUE(capture.contains("[I-ACS023142]"));
    EXPECT_LE(tasks().size(), 1u);
    waitUntilIdle();
    application->enterBackground();
    application->enterForeground();
    settle();
    EXPECT_TRUE(tasks().empty());
    EXPECT_FALSE(engine()->hasBackgroundTask());
}

TEST_F(APMLifecycleTest, WhileTheServiceFailsOnlyLeavingTheForegroundMakesARequest) {
    auto application = UIApplication::sharedApplication();
    application->becomeActive();
    failEveryRequest();
    start();
    APMAnalytics::logEventWithName("before_leaving", {{"n", Value(1)}});
    waitUntilIdle();
    auto requests = [this] { return service.uploads().size() + service.configFetches().size(); };
    const std::size_t before = requests();
    // Each departure sends (or, with nothing to send, fetches the expired configuration) once;
    // each return asks for nothing, the refresh switch being off.
    for (int trip = 1; trip <= 2; ++trip) {
        ASSERT_TRUE(application->enterBackground());
        waitUntilIdle();
        ASSERT_TRUE(application->enterForeground());
        waitUntilIdle();
        EXPECT_EQ(requests(), before + trip) << "trip " << trip;
    }
    EXPECT_TRUE(deliveredNumbers("before_leaving").empty());
}

// A person's day while the service fails: each hour five minutes in the application and 55 in
// the background, for twelve hours. With the defaults (an upload falls due 15 s after the newest
// data, retries 1800 s after that and doubling while no newer data comes, an earlier armed
// upload is never put off, a session ends after 1800 s away, and the configuration, never
// fetched, stays expired, so every try asks for it), each hour makes exactly four requests:
//   h:00:15  the return starts a session, whose "_s" is newer than the last failure;
//   h:05:00  leaving sends at once, behind the engagement and backgrounding events it logs;
//   h:05:15  those events, newer than the last failure when written, armed this, and the failed
//            departure's own retry (h:35:15) is later, so it stays armed;
//   h:35:15  the retry; the next one (+3600 s) falls after the next return.
// The first hour's first open stands for its return. Twelve hours: 48 requests, and no other.
TEST_F(APMLifecycleTest, WhileTheServiceFailsADayOfTripsMakesOnlyTheRetriesOfTheSchedule) {
    auto application = UIApplication::sharedApplication();
    application->becomeActive();
    failEveryRequest();
    const double begin = Clock::now();
    start();
    // When each request arrived, in seconds of the day.
    std::vector<long> arrivals;
    auto noteArrivals = [&] {
        const std::size_t count = service.uploads().size() + service.configFetches().size();
        while (arrivals.size() < count) arrivals.push_back(std::lround(Clock::now() - begin));
    };
    std::vector<long> expected;
    for (long hour = 0; hour < 12; ++hour) {
        for (long offset : {15, 300, 315, 2115}) expected.push_back(hour * 3600 + offset);
        advanceLettingRequestsEnd(300, noteArrivals);
        ASSERT_TRUE(application->enterBackground());
        advanceLettingRequestsEnd(3300, noteArrivals);
        ASSERT_TRUE(application->enterForeground());
    }
    advanceLettingRequestsEnd(0, noteArrivals);
    EXPECT_EQ(arrivals, expected);
    EXPECT_TRUE(service.uploads().empty());
}

TEST_F(APMLifecycleTest, BecomingActiveRefreshesAWeekOldConfigurationUnderTheBlockListSwitch) {
    service.setConfiguration(kAppID, makeMeasurementConfig({{"measurement.upload.blacklist_internal", "1"}}, 1, kAppID));
    start();
    // One session all along: a new one would be uploaded, and the upload's success fetches the
    // expired configuration by itself.
    APMAnalytics::setSessionTimeoutInterval(30 * 86400);
    APMAnalytics::logEventWithName("first", {});
    uploadWhileDue();
    const std::size_t fetched = service.configFetches().size();
    ASSERT_GE(fetched, 1u);

    auto becomeActive = [] {
        NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationDidBecomeActiveNotification,
                                                                    UIApplication::sharedApplication());
    };
    // While the days pass the upload timer keeps trying to refresh the expired configuration; the
    // service refuses those, so the configuration it has stays as old as the first fetch. Only
    // what becoming active itself fetches is counted.
    auto passDays = [this](int days) {
        service.enqueueReply(MeasurementService::Route::ConfigFetch,
                             {LoopbackServer::Fault::withStatus(500), std::nullopt}, 100000);
        advanceLettingRequestsEnd(days * 86400.0);
        service.dropReplies();
        return service.configFetches().size();
    };
    // Six days later: fresh enough.
    std::size_t before = passDays(6);
    becomeActive();
    waitUntilIdle();
    EXPECT_EQ(service.configFetches().size(), before);
    // Past the week the configuration is fetched again.
    before = passDays(2);
    becomeActive();
    waitUntilIdle();
    ASSERT_EQ(service.configFetches().size(), before + 1);
    EXPECT_NE(service.configFetches().back().status, 500);
    double refreshed = 0;
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID(
        "test", [&] { refreshed = APMMeasurement::remoteConfig()->lastRemoteConfigUpdateTimestamp(); });
    EXPECT_EQ(refreshed, Clock::now());
}

}  // namespace
