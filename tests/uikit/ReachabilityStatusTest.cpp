// Network status from reachability flags (the rules, the local Wi-Fi object, unreadable flags),
// the change notification while the notifier runs, and opening links only with the internet
// reachable, promotion links remembered once opened.
#include "uikit/Reachability.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "tests/fixtures/KeyWindowTest.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>

namespace {

constexpr auto R = kSCNetworkReachabilityFlagsReachable;
constexpr auto C = kSCNetworkReachabilityFlagsConnectionRequired;
constexpr auto T = kSCNetworkReachabilityFlagsConnectionOnTraffic;
constexpr auto D = kSCNetworkReachabilityFlagsConnectionOnDemand;
constexpr auto I = kSCNetworkReachabilityFlagsInterventionRequired;
constexpr auto W = kSCNetworkReachabilityFlagsIsWWAN;
constexpr auto Direct = kSCNetworkReachabilityFlagsIsDirect;

// Flags from a value the test sets, for every target.
class ProvidedFlags {
public:
    explicit ProvidedFlags(std::optional<SCNetworkReachabilityFlags> flags) : flags_(flags) {
        SCNetworkReachability::setFlagsProvider([this](const SCNetworkReachability& target) {
            targets_.push_back(target.addressBytes());
            return flags_;
        });
    }
    ~ProvidedFlags() { SCNetworkReachability::setFlagsProvider(nullptr); }
    void set(std::optional<SCNetworkReachabilityFlags> flags) {
        flags_ = flags;
        SCNetworkReachability::recheck();
    }
    const std::vector<std::vector<std::uint8_t>>& targets() const { return targets_; }

private:
    std::optional<SCNetworkReachabilityFlags> flags_;
    std::vector<std::vector<std::uint8_t>> targets_;
};

class NotifierTest : public KeyWindowTest {};
class OpenLinkTest : public KeyWindowTest {};

}  // namespace

TEST(NetworkStatusTest, TheFlagRulesGiveWiFiWWANOrNothing) {
    auto internet = Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(internet);
    EXPECT_EQ(internet->networkStatusForFlags(0), NotReachable);
    EXPECT_EQ(internet->networkStatusForFlags(R), ReachableViaWiFi);
    EXPECT_EQ(internet->networkStatusForFlags(R | W), ReachableViaWWAN);
    EXPECT_EQ(internet->networkStatusForFlags(R | C), NotReachable);
    EXPECT_EQ(internet->networkStatusForFlags(R | C | T), ReachableViaWiFi);
    EXPECT_EQ(internet->networkStatusForFlags(R | C | D), ReachableViaWiFi);
    EXPECT_EQ(internet->networkStatusForFlags(R | C | T | I), NotReachable);
    EXPECT_EQ(internet->networkStatusForFlags(W), NotReachable) << "WWAN without reachable is nothing";

    auto wifi = Reachability::reachabilityForLocalWiFi();
    ASSERT_TRUE(wifi);
    EXPECT_TRUE(wifi->alwaysReturnLocalWiFiStatus());
    EXPECT_FALSE(internet->alwaysReturnLocalWiFiStatus());
    EXPECT_EQ(wifi->localWiFiStatusForFlags(R | Direct), ReachableViaWiFi);
    EXPECT_EQ(wifi->localWiFiStatusForFlags(R), NotReachable);
    EXPECT_EQ(wifi->localWiFiStatusForFlags(Direct), NotReachable);

    EXPECT_EQ(Reachability::flagsDescription(0), "-- -------");
    EXPECT_EQ(Reachability::flagsDescription(R | W | C | Direct | kSCNetworkReachabilityFlagsIsLocalAddress),
              "WR -c---ld");
    EXPECT_EQ(Reachability::reachabilityWithHostName(""), nullptr);
}

TEST(NetworkStatusTest, EachObjectAsksForItsOwnTargetAndUnreadableFlagsMeanNotReachable) {
    ProvidedFlags flags(R | Direct);
    EXPECT_EQ(Reachability::reachabilityForInternetConnection()->currentReachabilityStatus(), ReachableViaWiFi);
    EXPECT_EQ(Reachability::reachabilityForLocalWiFi()->currentReachabilityStatus(), ReachableViaWiFi);
    ASSERT_EQ(flags.targets().size(), 2u);
    EXPECT_EQ(flags.targets()[0], (std::vector<std::uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(flags.targets()[1], (std::vector<std::uint8_t>{169, 254, 0, 0}));

    sockaddr_in host{};
    host.sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.9", &host.sin_addr);
    auto byAddress = Reachability::reachabilityWithAddress(reinterpret_cast<sockaddr*>(&host));
    ASSERT_TRUE(byAddress);
    flags.set(R | C);
    EXPECT_EQ(byAddress->currentReachabilityStatus(), NotReachable);
    EXPECT_TRUE(byAddress->connectionRequired());
    EXPECT_EQ(flags.targets().back(), (std::vector<std::uint8_t>{192, 0, 2, 9}));

    flags.set(std::nullopt);
    EXPECT_EQ(Reachability::reachabilityWithHostName("127.0.0.1")->currentReachabilityStatus(), NotReachable);
    EXPECT_FALSE(byAddress->connectionRequired());
}

TEST_F(NotifierTest, TheNotifierPostsEachChangeOnTheRunLoopUntilStopped) {
    ProvidedFlags flags(R);
    auto internet = Reachability::reachabilityForInternetConnection();
    std::vector<std::shared_ptr<NSObject>> posted;
    auto observer = std::make_shared<NSObject>();
    NSNotificationCenter::defaultCenter()->addObserver(
        observer, [&](const NSNotification& note) { posted.push_back(note.object()); },
        kNetworkReachabilityChangedNotification);

    ASSERT_TRUE(internet->startNotifier());
    flags.set(0);
    EXPECT_TRUE(posted.empty()) << "not inside the change";
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0], internet);
    EXPECT_EQ(internet->currentReachabilityStatus(), NotReachable);

    internet->stopNotifier();
    flags.set(R);
    Clock::advance(10);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(posted.size(), 1u);
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}

// --- Opening links -------------------------------------------------------------------------------

TEST_F(OpenLinkTest, ALinkOpensOnlyWithTheInternetAndAPromotionIsRememberedOnceOpened) {
    auto app = UIApplication::sharedApplication();
    ProvidedFlags flags(R);
    std::vector<bool> heard;
    openURL(root, "https://example.invalid/page", [&](bool success) { heard.push_back(success); });
    EXPECT_TRUE(heard.empty()) << "the platform answers later";
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(heard, std::vector<bool>{true});
    ASSERT_EQ(app->openedURLs().size(), 1u);
    EXPECT_EQ(app->openedURLs()[0].url, "https://example.invalid/page");
    EXPECT_TRUE(app->openedURLs()[0].options.empty());

    // No internet: the error alert, no open, no answer.
    flags.set(R | C);
    openURL(root, "https://example.invalid/other", [&](bool success) { heard.push_back(success); });
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_EQ(app->openedURLs().size(), 1u);
    auto alert = std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), OECoreString("Error"));
    EXPECT_EQ(alert->message(), OECoreString("Check your internetsettings"));
    alert->tapActionAtIndex(0);
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();

    // A promotion: remembered only once the platform opened it; the caller hears either way.
    const std::string promotion = "https://example.invalid/promo";
    NSUserDefaults::standardUserDefaults()->removeObjectForKey(promotion);
    flags.set(R);
    EXPECT_TRUE(isNeedsAdForUrl(promotion));
    app->setOpenURLPolicy([](const std::string&) { return false; });
    int done = 0;
    openAdUrl(root, promotion, [&] { ++done; });
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(isNeedsAdForUrl(promotion));
    app->setOpenURLPolicy(nullptr);
    openAdUrl(root, promotion, [&] { ++done; });
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(done, 2);
    EXPECT_FALSE(isNeedsAdForUrl(promotion));
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_FALSE(isNeedsAdForUrl(promotion)) << "kept across a restart";

    flags.set(0);
    openAdUrl(root, promotion, [&] { ++done; });
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(done, 2) << "without the internet the caller hears nothing";
    NSUserDefaults::standardUserDefaults()->removeObjectForKey(promotion);
}
