// The screen-lock holders: several activities sharing the switch, repeated and stray requests,
// holders destroyed while holding, and requests from many threads at once.
#include "uikit/OEIdleTimerManager.h"

#include "platform/ui/UIApplication.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

class Activity : public NSObject {};

class IdleTimer : public ::testing::Test {
protected:
    void SetUp() override {
        app = UIApplication::sharedApplication();
        app->reset();
        app->setIdleTimerDisabled(false);
        logStart = app->idleTimerDisabledLog().size();
        manager = OEIdleTimerManager::make();
    }
    // A test may leave the switch off on purpose (its manager gone while holding it).
    void TearDown() override { app->reset(); }
    // The switches made since the test began.
    std::vector<bool> switches() const {
        const auto log = app->idleTimerDisabledLog();
        return std::vector<bool>(log.begin() + static_cast<long>(logStart), log.end());
    }

    std::shared_ptr<UIApplication> app;
    std::size_t logStart = 0;
    std::shared_ptr<OEIdleTimerManager> manager;
};

}  // namespace

TEST_F(IdleTimer, TheLockComesBackOnlyWhenTheLastHolderLetsGo) {
    auto player = std::make_shared<Activity>();
    auto download = std::make_shared<Activity>();
    EXPECT_EQ(manager->application(), app);

    manager->setIdleTimerDisabled(true, player);
    manager->setIdleTimerDisabled(true, download);
    EXPECT_TRUE(app->isIdleTimerDisabled());
    EXPECT_EQ(manager->holders(), (std::vector<std::shared_ptr<NSObject>>{player, download}));

    manager->setIdleTimerDisabled(false, download);
    EXPECT_TRUE(app->isIdleTimerDisabled());
    manager->setIdleTimerDisabled(false, player);
    EXPECT_FALSE(app->isIdleTimerDisabled());
    // One switch off at the first hold, one on at the last release.
    EXPECT_EQ(switches(), (std::vector<bool>{true, false}));
}

TEST_F(IdleTimer, RepeatedAndStrayRequestsChangeNothing) {
    auto saver = std::make_shared<Activity>();
    auto stranger = std::make_shared<Activity>();

    manager->disableIdleTimerByObject(saver);
    manager->disableIdleTimerByObject(saver);
    EXPECT_EQ(manager->holderCount(), 1u);
    manager->enableIdleTimerByObject(stranger);  // holds nothing
    EXPECT_TRUE(app->isIdleTimerDisabled());
    manager->enableIdleTimerByObject(saver);  // one release frees a double request
    EXPECT_FALSE(app->isIdleTimerDisabled());
    EXPECT_FALSE(manager->isHeldBy(saver));
    manager->enableIdleTimerByObject(saver);
    manager->setIdleTimerDisabled(true, nullptr);
    EXPECT_EQ(switches(), (std::vector<bool>{true, false}));
}

TEST_F(IdleTimer, AHolderDestroyedWithoutReleasingCountsAsReleased) {
    auto download = std::make_shared<Activity>();
    std::weak_ptr<Activity> watched = download;
    manager->setIdleTimerDisabled(true, download);
    download.reset();
    EXPECT_TRUE(watched.expired()) << "the manager must not keep a holder alive";
    EXPECT_EQ(manager->holderCount(), 0u);
    EXPECT_FALSE(app->isIdleTimerDisabled());
    EXPECT_EQ(switches(), (std::vector<bool>{true, false}));

    // New objects, whatever address they get, hold nothing until they ask.
    for (int i = 0; i < 50; ++i) {
        auto newcomer = std::make_shared<Activity>();
        EXPECT_FALSE(manager->isHeldBy(newcomer));
        manager->setIdleTimerDisabled(false, newcomer);
    }
    EXPECT_EQ(switches().size(), 2u);
    auto next = std::make_shared<Activity>();
    manager->setIdleTimerDisabled(true, next);
    EXPECT_TRUE(app->isIdleTimerDisabled());
    manager->setIdleTimerDisabled(false, next);
    EXPECT_FALSE(app->isIdleTimerDisabled());
}

TEST_F(IdleTimer, ADestroyedHolderLeavesTheOthersHoldingAndCanReleaseAfterwardsHarmlessly) {
    auto player = std::make_shared<Activity>();
    auto saver = std::make_shared<Activity>();
    manager->setIdleTimerDisabled(true, player);
    manager->setIdleTimerDisabled(true, saver);
    saver.reset();
    EXPECT_EQ(manager->holders(), (std::vector<std::shared_ptr<NSObject>>{player}));
    EXPECT_TRUE(app->isIdleTimerDisabled());

    // A holder released normally stops being watched: its later destruction changes nothing.
    manager->setIdleTimerDisabled(false, player);
    EXPECT_FALSE(app->isIdleTimerDisabled());
    auto again = std::make_shared<Activity>();
    manager->setIdleTimerDisabled(true, again);
    player.reset();
    EXPECT_TRUE(manager->isHeldBy(again));
    EXPECT_TRUE(app->isIdleTimerDisabled());
    manager->setIdleTimerDisabled(false, again);
    EXPECT_EQ(switches(), (std::vector<bool>{true, false, true, false}));
}

TEST_F(IdleTimer, ADestroyedManagerLeavesItsFormerHoldersUntouched) {
    auto holder = std::make_shared<Activity>();
    manager->setIdleTimerDisabled(true, holder);
    manager.reset();
    holder.reset();  // its watch must not reach the gone manager
    EXPECT_EQ(switches(), (std::vector<bool>{true}));
}

TEST_F(IdleTimer, RequestsFromManyThreadsKeepTheSwitchInStepWithTheHolders) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 300;
    std::vector<std::thread> threads;
    std::atomic<int> violations{0};
    auto anchor = std::make_shared<Activity>();
    manager->setIdleTimerDisabled(true, anchor);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                auto mine = std::make_shared<Activity>();
                manager->setIdleTimerDisabled(true, mine);
                if (!app->isIdleTimerDisabled()) ++violations;
                if ((i + t) % 3 == 0) continue;  // dropped while holding
                manager->setIdleTimerDisabled(false, mine);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(manager->holders(), (std::vector<std::shared_ptr<NSObject>>{anchor}));
    EXPECT_TRUE(app->isIdleTimerDisabled());
    // The anchor held all along: the lock never came back in between.
    EXPECT_EQ(switches(), (std::vector<bool>{true}));

    manager->setIdleTimerDisabled(false, anchor);
    EXPECT_FALSE(app->isIdleTimerDisabled());
    const auto log = switches();
    for (std::size_t i = 1; i < log.size(); ++i) EXPECT_NE(log[i], log[i - 1]) << "switch " << i;
}

TEST_F(IdleTimer, SwitchesMadeFromManyThreadsAlternateAndEndWithTheLockOn) {
    constexpr int kThreads = 6;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                auto mine = std::make_shared<Activity>();
                manager->setIdleTimerDisabled(true, mine);
                if (i % 2 == t % 2) manager->setIdleTimerDisabled(false, mine);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(manager->holderCount(), 0u);
    EXPECT_FALSE(app->isIdleTimerDisabled());
    const auto log = switches();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.front());
    EXPECT_FALSE(log.back());
    for (std::size_t i = 1; i < log.size(); ++i) ASSERT_NE(log[i], log[i - 1]) << "switch " << i;
}
