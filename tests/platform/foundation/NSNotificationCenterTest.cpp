// The notification centre: filtering, order, weak observers, removal during delivery, queued
// blocks, and removal racing posts on other threads.
#include "platform/foundation/NSNotificationCenter.h"
#include "tests/fixtures/HeldExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

class Listener : public NSObject {
public:
    std::vector<std::string> received;
    void onNote(const NSNotification& note) { received.push_back(note.name()); }
};

TEST(NSNotificationCenterDelivery, FiltersByNameAndSenderInRegistrationOrder) {
    auto center = NSNotificationCenter::make();
    auto sender = std::make_shared<NSObject>();
    auto otherSender = std::make_shared<NSObject>();
    auto observer = std::make_shared<NSObject>();
    std::vector<std::string> log;

    center->addObserver(observer, [&](const NSNotification& n) { log.push_back("named:" + n.name()); }, "Ping");
    center->addObserver(observer, [&](const NSNotification& n) { log.push_back("any:" + n.name()); }, "");
    center->addObserver(observer, [&](const NSNotification& n) { log.push_back("fromSender:" + n.name()); }, "",
                        sender);
    center->addObserver(observer, [&](const NSNotification& n) { log.push_back("pingFromSender:" + n.name()); },
                        "Ping", sender);

    center->postNotificationName("Ping", nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"named:Ping", "any:Ping"}));
    log.clear();
    center->postNotificationName("Ping", sender);
    EXPECT_EQ(log, (std::vector<std::string>{"named:Ping", "any:Ping", "fromSender:Ping", "pingFromSender:Ping"}));
    log.clear();
    center->postNotificationName("Pong", otherSender);
    EXPECT_EQ(log, (std::vector<std::string>{"any:Pong"}));
}

TEST(NSNotificationCenterDelivery, CarriesObjectAndUserInfoOnThePostingThread) {
    auto center = NSNotificationCenter::make();
    auto observer = std::make_shared<NSObject>();
    auto sender = std::make_shared<NSObject>();
    std::thread::id deliveredOn;
    std::shared_ptr<NSObject> receivedObject;
    Value::Dictionary receivedInfo;
    center->addObserver(observer, [&](const NSNotification& n) {
        deliveredOn = std::this_thread::get_id();
        receivedObject = n.object();
        receivedInfo = n.userInfo();
    }, "CompositionsPlayList");

    std::thread poster([&] {
        center->postNotificationName("CompositionsPlayList", sender, {{"list", Value("jazz")}, {"index", Value(3)}});
    });
    const auto posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(deliveredOn, posterId);
    EXPECT_EQ(receivedObject, sender);
    EXPECT_EQ(receivedInfo.get("list").string(), "jazz");
    EXPECT_EQ(receivedInfo.get("index").integerValue(), 3);
}

TEST(NSNotificationCenterDelivery, MemberFunctionObservers) {
    auto center = NSNotificationCenter::make();
    auto listener = std::make_shared<Listener>();
    center->addObserver(listener, &Listener::onNote, "NewAppsFoundMessage");
    center->postNotificationName("NewAppsFoundMessage", nullptr);
    center->postNotificationName("Other", nullptr);
    EXPECT_EQ(listener->received, (std::vector<std::string>{"NewAppsFoundMessage"}));
}

TEST(NSNotificationCenterWeakness, DestroyedObserversAreNeverCalledAndTheirRegistrationsDropped) {
    auto center = NSNotificationCenter::make();
    int calls = 0;
    auto capture = std::make_shared<int>(0);
    std::weak_ptr<int> captureAlive = capture;
    {
        auto observer = std::make_shared<NSObject>();
        center->addObserver(observer, [&calls, capture](const NSNotification&) { ++calls; }, "N");
        capture.reset();
        center->postNotificationName("N", nullptr);
        EXPECT_EQ(calls, 1);
    }
    center->postNotificationName("N", nullptr);
    EXPECT_EQ(calls, 1);
    // The handler, and what it captured, went with the registration.
    EXPECT_TRUE(captureAlive.expired());
}

TEST(NSNotificationCenterWeakness, ADestroyedSenderDropsRegistrationsFilteredOnIt) {
    auto center = NSNotificationCenter::make();
    auto observer = std::make_shared<NSObject>();
    auto capture = std::make_shared<int>(0);
    std::weak_ptr<int> captureAlive = capture;
    auto sender = std::make_shared<NSObject>();
    int calls = 0;
    center->addObserver(observer, [&calls, capture](const NSNotification&) { ++calls; }, "N", sender);
    capture.reset();
    sender.reset();
    // Registering anything else is enough to sweep it.
    center->addObserver(observer, [](const NSNotification&) {}, "Other");
    EXPECT_TRUE(captureAlive.expired());
    center->postNotificationName("N", std::make_shared<NSObject>());
    EXPECT_EQ(calls, 0);
}

TEST(NSNotificationCenterRemoval, ByTargetAndBySelection) {
    auto center = NSNotificationCenter::make();
    auto observer = std::make_shared<NSObject>();
    auto sender = std::make_shared<NSObject>();
    std::vector<std::string> log;
    center->addObserver(observer, [&](const NSNotification& n) { log.push_back("a:" + n.name()); }, "A");
    center->addObserver(observer, [&](const NSNotification& n) { log.push_back("b:" + n.name()); }, "B");
    center->addObserver(observer, [&](const NSNotification& n) { log.push_back("bs:" + n.name()); }, "B", sender);

    center->removeObserver(observer, "B", sender);
    center->postNotificationName("B", sender);
    EXPECT_EQ(log, (std::vector<std::string>{"b:B"}));
    log.clear();

    center->removeObserver(observer, "B", nullptr);
    center->postNotificationName("A", nullptr);
    center->postNotificationName("B", nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"a:A"}));
    log.clear();

    center->removeObserver(observer);
    center->postNotificationName("A", nullptr);
    EXPECT_TRUE(log.empty());
}

TEST(NSNotificationCenterRemoval, DuringDeliveryRemovedObserversAreSkippedAndNewOnesWaitForTheNextPost) {
    auto center = NSNotificationCenter::make();
    auto first = std::make_shared<NSObject>();
    auto second = std::make_shared<NSObject>();
    auto late = std::make_shared<NSObject>();
    std::vector<std::string> log;
    center->addObserver(first, [&](const NSNotification&) {
        log.push_back("first");
        center->removeObserver(first.get());  // itself
        center->removeObserver(second.get());
        center->addObserver(late, [&](const NSNotification&) { log.push_back("late"); }, "N");
    }, "N");
    center->addObserver(second, [&](const NSNotification&) { log.push_back("second"); }, "N");

    center->postNotificationName("N", nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"first"}));
    center->postNotificationName("N", nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "late"}));
}

TEST(NSNotificationCenterBlocks, TokensRemoveAndBlocksOutliveDroppedTokens) {
    auto center = NSNotificationCenter::make();
    int calls = 0;
    auto token = center->addObserverForName("N", nullptr, nullptr, [&](const NSNotification&) { ++calls; });
    center->addObserverForName("N", nullptr, nullptr, [&](const NSNotification&) { calls += 10; });  // token dropped
    center->postNotificationName("N", nullptr);
    EXPECT_EQ(calls, 11);
    center->removeObserver(token);
    center->postNotificationName("N", nullptr);
    EXPECT_EQ(calls, 21);
}

TEST(NSNotificationCenterBlocks, AOneShotBlockRemovesItself) {
    auto center = NSNotificationCenter::make();
    int calls = 0;
    auto token = std::make_shared<std::shared_ptr<NSObject>>();
    *token = center->addObserverForName("SceneWillConnect", nullptr, nullptr, [&, token](const NSNotification&) {
        ++calls;
        center->removeObserver(*token);
    });
    center->postNotificationName("SceneWillConnect", nullptr);
    center->postNotificationName("SceneWillConnect", nullptr);
    EXPECT_EQ(calls, 1);
    token->reset();
}

TEST(NSNotificationCenterBlocks, QueuedBlocksRunOnTheirExecutorNotInline) {
    auto center = NSNotificationCenter::make();
    auto queue = std::make_shared<HeldExecutor>();
    std::vector<long> seen;
    auto token = center->addObserverForName("N", nullptr, queue, [&](const NSNotification& n) {
        seen.push_back(n.userInfo().get("i").integerValue());
    });
    center->postNotificationName("N", nullptr, {{"i", Value(1)}});
    center->postNotificationName("N", nullptr, {{"i", Value(2)}});
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(queue->pending(), 2u);
    queue->runAll();
    EXPECT_EQ(seen, (std::vector<long>{1, 2}));

    // Removed before the queue ran it: the pending delivery is dropped.
    center->postNotificationName("N", nullptr, {{"i", Value(3)}});
    center->removeObserver(token);
    queue->runAll();
    EXPECT_EQ(seen, (std::vector<long>{1, 2}));
}

// Removes itself from its destructor, as many observers do.
class SelfRemovingObserver : public NSObject {
public:
    explicit SelfRemovingObserver(std::shared_ptr<NSNotificationCenter> center) : center_(std::move(center)) {}
    ~SelfRemovingObserver() override {
        center_->removeObserver(this);
        magic_ = 0;
    }
    void onNote(const NSNotification&) {
        // A call into a destroyed observer would see the cleared magic (or trip the sanitizer).
        if (magic_ != kMagic) corrupted = true;
        ++calls;
    }
    static inline std::atomic<bool> corrupted{false};
    std::atomic<int> calls{0};

private:
    static constexpr int kMagic = 0x5eed;
    std::shared_ptr<NSNotificationCenter> center_;
    volatile int magic_ = kMagic;
};

TEST(NSNotificationCenterThreads, ObserversDestroyedWhilePostsRunOnOtherThreads) {
    auto center = NSNotificationCenter::make();
    std::atomic<bool> stop{false};
    std::vector<std::thread> posters;
    for (int i = 0; i < 3; ++i)
        posters.emplace_back([&] {
            while (!stop) center->postNotificationName("Tick", nullptr);
        });
    std::vector<std::thread> churners;
    for (int i = 0; i < 3; ++i)
        churners.emplace_back([&] {
            for (int n = 0; n < 300; ++n) {
                auto observer = std::make_shared<SelfRemovingObserver>(center);
                center->addObserver(observer, &SelfRemovingObserver::onNote, "Tick");
                auto token = center->addObserverForName("Tick", nullptr, nullptr, [](const NSNotification&) {});
                if (n % 2) center->removeObserver(token);
            }
        });
    for (auto& t : churners) t.join();
    stop = true;
    for (auto& t : posters) t.join();
    EXPECT_FALSE(SelfRemovingObserver::corrupted);
}

TEST(NSNotificationCenterThreads, NoCallStartsAfterRemoveObserverReturns) {
    auto center = NSNotificationCenter::make();
    auto observer = std::make_shared<NSObject>();
    std::atomic<long> calls{0};
    std::atomic<long> posts{0};
    std::atomic<bool> stop{false};
    center->addObserver(observer, [&](const NSNotification&) { ++calls; }, "N");
    std::thread poster([&] {
        while (!stop) {
            center->postNotificationName("N", nullptr);
            ++posts;
        }
    });
    while (calls < 100) std::this_thread::yield();
    center->removeObserver(observer);
    const long atRemoval = calls;
    const long postsAtRemoval = posts;
    while (posts < postsAtRemoval + 100) std::this_thread::yield();
    stop = true;
    poster.join();
    // Only a delivery already under way when removal returned may still have counted.
    EXPECT_LE(calls - atRemoval, 1);
}

TEST(NSNotificationCenterDelivery, DefaultCenterIsOneSharedCentre) {
    auto center = NSNotificationCenter::defaultCenter();
    EXPECT_EQ(center, NSNotificationCenter::defaultCenter());
    auto observer = std::make_shared<NSObject>();
    int calls = 0;
    center->addObserver(observer, [&](const NSNotification&) { ++calls; }, "OESideMenuStateNotificationEvent");
    NSNotificationCenter::defaultCenter()->postNotification(NSNotification::notificationWithName(
        "OESideMenuStateNotificationEvent", nullptr, {{"eventType", Value(1)}}));
    EXPECT_EQ(calls, 1);
    center->removeObserver(observer);
}

}  // namespace
