// A launch whose database finds a kept file to carry: the file is read apart, so the clock settles
// (and the first screen is drawn) meanwhile, and what is logged meanwhile waits to be stored after
// the kept rows; a quit during the read stops it, stores what was logged and leaves the file for
// the next launch; and while a kept file waits, an absent first open proves nothing.
#include "EngineTestSupport.h"

#include "analytics/core/APMCarriedRecord.h"
#include "analytics/core/APMSalvage.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/net/URLNetwork.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIApplicationDelegate.h"
#include "tests/fixtures/HeldOpenFileIO.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace {

class QuittingDelegate : public NSObject, public UIApplicationDelegate {};

class APMKeptFileOpeningTest : public EngineTest {
protected:
    static std::string path() { return APMApplicationSupportPath(APMMeasurement::kDatabaseName); }
    static std::string kept() { return path() + ".uncarried"; }

    // A launch that logs `count` events "kept" (n from 0), its database then set aside as an
    // opening that found it damaged leaves it before its rows are carried.
    void launchKeptAside(int count) {
        start();
        for (int n = 0; n < count; ++n) APMAnalytics::logEventWithName("kept", {{"n", Value(n)}});
        settle();
        forgetProcess();
        for (const char* companion : {"", "-wal", "-shm"}) {
            if (std::filesystem::exists(path() + companion)) std::filesystem::rename(path() + companion, kept() + companion);
        }
    }
    // The next launch, as far as a settle of the clock takes it.
    static void launch() {
        APMAnalytics::load();
        APMMeasurement::load();
        startWithoutWaiting();
    }
    static long long stored(const std::string& name) {
        return count("SELECT count(*) FROM raw_events WHERE name = '" + name + "'");
    }
};

}  // namespace

TEST_F(APMKeptFileOpeningTest, TheClockSettlesWhileAKeptFileIsReadAndWhatIsLoggedMeanwhileFollowsItsRows) {
    launchKeptAside(3);
    {
        HeldOpen held(kept(), 1);
        // A settle that waited for the read would give up after this, and say so.
        dispatch_detail::ScopedSettleLimits limits(std::chrono::seconds(2), std::chrono::seconds(4));
        testing::internal::CaptureStderr();
        launch();
        ASSERT_TRUE(held->waitUntilHeld(kApartBound));
        APMAnalytics::logEventWithName("meanwhile", {{"n", Value(100)}});
        Clock::advance(0);
        EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::Not(testing::HasSubstr("did not settle")));
        EXPECT_FALSE(DispatchQuiescence::waitUntilIdle(0));
        EXPECT_EQ(count("SELECT count(*) FROM raw_events"), 0);
    }
    settle();
    EXPECT_EQ(rawEventNumbers("kept"), (std::vector<long long>{0, 1, 2}));
    const auto names = rawEventNames();
    const auto meanwhile = std::find(names.begin(), names.end(), "meanwhile");
    ASSERT_NE(meanwhile, names.end());
    EXPECT_EQ(std::find(meanwhile, names.end(), "kept"), names.end());
    EXPECT_EQ(stored("_f"), 1);
}

// The read is let go as the application terminates, after the engine has heard of it, and waited
// for there, as an observer that drains its work does: a read of seconds would still be going on.
TEST_F(APMKeptFileOpeningTest, AQuitDuringAKeptFilesReadStopsItAndStoresWhatWasLogged) {
    launchKeptAside(3);
    const auto application = UIApplication::sharedApplication();
    ASSERT_TRUE(application->launchWithDelegate(std::make_shared<QuittingDelegate>()));
    double took = 0;
    {
        HeldOpen held(kept(), 1);
        launch();
        ASSERT_TRUE(held->waitUntilHeld(kApartBound));
        for (int n = 0; n < 3; ++n) APMAnalytics::logEventWithName("meanwhile", {{"n", Value(n)}});
        Clock::advance(0);
        const auto watcher = std::make_shared<NSObject>();
        NSNotificationCenter::defaultCenter()->addObserver(
            watcher,
            [&held](const NSNotification&) {
                held->release();
                EXPECT_TRUE(DispatchQuiescence::waitUntilIdle(kApartBound));
            },
            UIApplicationWillTerminateNotification);
        const double began = Clock::realSeconds();
        application->shutDown();
        took = Clock::realSeconds() - began;
        NSNotificationCenter::defaultCenter()->removeObserver(watcher);
    }
    URLNetwork::restart();
    application->reset();
    EXPECT_LT(took, APMMeasurement::kTerminationWaitLimit);
    EXPECT_EQ(stored("meanwhile"), 3);
    EXPECT_EQ(stored("kept"), 0);
    EXPECT_EQ(stored("_f"), 0);
    ASSERT_TRUE(std::filesystem::exists(kept()));
    EXPECT_EQ(APMCarriedRecord(path() + ".salvage-record").attempts(*APMCarriedRecord::keyOf(kept())), 0);

    // The next launch carries it: its first open, and its rows, once.
    restart();
    EXPECT_EQ(rawEventNumbers("kept"), (std::vector<long long>{0, 1, 2}));
    EXPECT_EQ(stored("meanwhile"), 3);
    EXPECT_EQ(stored("_f"), 1);
}

// While a kept file waits (its reads fail), each launch reports its session as a later launch does;
// the launch that gives up on it reports the first open, once, as after any data lost, even when
// the file cannot take the name of one given up on and stays where it was.
TEST_F(APMKeptFileOpeningTest, TheFirstOpenWaitsForTheKeptFileAndIsReportedOnceItIsGivenUpOn) {
    launchKeptAside(1);
    FaultInjection faults;
    faults->ioError(FaultyFileIO::Operation::Read, kept() + "*");
    faults->failRename(kept() + "*");
    for (int attempt = 1; attempt <= APMSalvage::kReadsBeforeGivingUp; ++attempt) {
        SCOPED_TRACE("launch " + std::to_string(attempt));
        // Past the session's time-out: each launch starts a session.
        Clock::advance(3600);
        launch();
        settle();
        EXPECT_EQ(stored("_f"), 0);
        EXPECT_EQ(stored("_s"), attempt);
        forgetProcess();
    }
    for (int after = 0; after < 2; ++after) {
        launch();
        settle();
        EXPECT_EQ(stored("_f"), 1);
        forgetProcess();
    }
    EXPECT_TRUE(std::filesystem::exists(kept()));
}
