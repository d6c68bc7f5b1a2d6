// Reachability flags: the rules over a machine's interface addresses (loopback, attached
// networks, link-local, nothing but loopback), targets named by address or by name, the real
// interfaces of this machine, the host's switch, a provider of the test's, and the calls on
// changes (on the scheduled run loop, never inline, after a poll, and not once unscheduled);
// the interface list kept for a second of clock time.
#include "platform/net/SCNetworkReachability.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>

namespace {

constexpr auto R = kSCNetworkReachabilityFlagsReachable;
constexpr auto L = kSCNetworkReachabilityFlagsIsLocalAddress;
constexpr auto D = kSCNetworkReachabilityFlagsIsDirect;

using Interface = SCNetworkReachability::InterfaceAddress;

Interface v4(const char* name, const char* address, const char* mask, bool up = true, bool loopback = false) {
    Interface i;
    i.name = name;
    i.up = up;
    i.running = up;
    i.loopback = loopback;
    i.family = AF_INET;
    in_addr a{}, m{};
    inet_pton(AF_INET, address, &a);
    inet_pton(AF_INET, mask, &m);
    i.address.assign(reinterpret_cast<std::uint8_t*>(&a), reinterpret_cast<std::uint8_t*>(&a) + 4);
    i.netmask.assign(reinterpret_cast<std::uint8_t*>(&m), reinterpret_cast<std::uint8_t*>(&m) + 4);
    return i;
}

Interface v6(const char* name, const char* address, int prefix, bool loopback = false) {
    Interface i;
    i.name = name;
    i.up = i.running = true;
    i.loopback = loopback;
    i.family = AF_INET6;
    in6_addr a{};
    inet_pton(AF_INET6, address, &a);
    i.address.assign(reinterpret_cast<std::uint8_t*>(&a), reinterpret_cast<std::uint8_t*>(&a) + 16);
    i.netmask.assign(16, 0);
    for (int bit = 0; bit < prefix; ++bit) i.netmask[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
    return i;
}

std::shared_ptr<SCNetworkReachability> address(const char* text) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    if (inet_pton(AF_INET, text, &in.sin_addr) == 1)
        return SCNetworkReachability::createWithAddress(reinterpret_cast<sockaddr*>(&in));
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    EXPECT_EQ(inet_pton(AF_INET6, text, &in6.sin6_addr), 1) << text;
    return SCNetworkReachability::createWithAddress(reinterpret_cast<sockaddr*>(&in6));
}

SCNetworkReachabilityFlags over(const std::vector<Interface>& interfaces, const std::shared_ptr<SCNetworkReachability>& target) {
    return SCNetworkReachability::flagsFromInterfaces(*target, interfaces);
}

class ReachabilityTest : public ::testing::Test {
protected:
    void TearDown() override {
        SCNetworkReachability::setFlagsProvider(nullptr);
        SCNetworkReachability::setNetworkReachable(true);
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::setReal();
    }
};

}  // namespace

TEST(ReachabilityFlags, AMachineWithOnlyLoopbackReachesItselfAndNothingElse) {
    const std::vector<Interface> machine{v4("lo", "127.0.0.1", "255.0.0.0", true, true), v6("lo", "::1", 128, true)};
    EXPECT_EQ(over(machine, address("0.0.0.0")), 0u);
    EXPECT_EQ(over(machine, address("198.51.100.1")), 0u);
    EXPECT_EQ(over(machine, address("169.254.0.0")), 0u);
    EXPECT_EQ(over(machine, address("127.0.0.1")), R | L | D);
    EXPECT_EQ(over(machine, address("127.8.9.10")), R | L | D);
    EXPECT_EQ(over(machine, address("::1")), R | L | D);
    EXPECT_EQ(over(machine, SCNetworkReachability::createWithName("measurement.example.invalid")), 0u);
}

TEST(ReachabilityFlags, AnAttachedNetworkIsDirectItsOwnAddressLocalAndTheRestRouted) {
    const std::vector<Interface> machine{v4("lo", "127.0.0.1", "255.0.0.0", true, true),
                                         v4("eth0", "192.0.2.2", "255.255.255.0"), v6("eth0", "fe80::1", 64),
                                         v6("eth0", "2001:db8::2", 64)};
    EXPECT_EQ(over(machine, address("0.0.0.0")), R);
    EXPECT_EQ(over(machine, address("198.51.100.1")), R);
    EXPECT_EQ(over(machine, address("192.0.2.77")), R | D);
    EXPECT_EQ(over(machine, address("192.0.2.2")), R | L | D);
    EXPECT_EQ(over(machine, address("169.254.0.0")), R | D) << "the local Wi-Fi's network is on every attached one";
    EXPECT_EQ(over(machine, address("2001:db8::99")), R | D);
    EXPECT_EQ(over(machine, address("fe80::1234")), R | D);
    EXPECT_EQ(over(machine, address("::")), R);
    // No radio here: never WWAN, never a connection to make first.
    for (const char* target : {"0.0.0.0", "192.0.2.77", "169.254.0.0"})
        EXPECT_EQ(over(machine, address(target)) & ~(R | L | D), 0u) << target;
}

TEST(ReachabilityFlags, AnInterfaceThatIsDownOrHasOnlyALinkLocalAddressRoutesNothing) {
    const auto lo = v4("lo", "127.0.0.1", "255.0.0.0", true, true);
    EXPECT_EQ(over({lo, v4("eth0", "192.0.2.2", "255.255.255.0", false)}, address("0.0.0.0")), 0u);
    EXPECT_EQ(over({lo, v4("eth0", "192.0.2.2", "255.255.255.0", false)}, address("192.0.2.7")), 0u);
    const std::vector<Interface> linkLocalOnly{lo, v4("eth0", "169.254.3.4", "255.255.0.0")};
    EXPECT_EQ(over(linkLocalOnly, address("0.0.0.0")), 0u);
    EXPECT_EQ(over(linkLocalOnly, address("169.254.0.0")), R | D);
}

TEST(ReachabilityFlags, NamesThatAreAddressesAreJudgedAsThoseAddresses) {
    const std::vector<Interface> machine{v4("lo", "127.0.0.1", "255.0.0.0", true, true)};
    for (const char* name : {"localhost", "localhost:8470", "127.0.0.1", "127.0.0.1:8470", "[::1]:80", "::1"}) {
        auto target = SCNetworkReachability::createWithName(name);
        ASSERT_TRUE(target) << name;
        EXPECT_NE(target->addressFamily(), 0) << name;
        const bool v6Target = std::string(name).find("::1") != std::string::npos;
        EXPECT_EQ(over(v6Target ? std::vector<Interface>{v6("lo", "::1", 128, true)} : machine, target), R | L | D) << name;
    }
    auto named = SCNetworkReachability::createWithName("messages.ostrel.invalid");
    EXPECT_EQ(named->addressFamily(), 0);
    EXPECT_TRUE(named->addressBytes().empty());
    EXPECT_EQ(SCNetworkReachability::createWithName(""), nullptr);
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    EXPECT_EQ(SCNetworkReachability::createWithAddress(reinterpret_cast<sockaddr*>(&local)), nullptr);
    EXPECT_EQ(SCNetworkReachability::createWithAddress(nullptr), nullptr);
}

TEST_F(ReachabilityTest, ThisMachinesLoopbackIsReachableThroughItsRealInterfaces) {
    const auto interfaces = SCNetworkReachability::machineInterfaces();
    ASSERT_TRUE(interfaces);
    EXPECT_TRUE(std::any_of(interfaces->begin(), interfaces->end(), [](const Interface& i) { return i.loopback && i.up; }));
    SCNetworkReachabilityFlags flags = 0;
    ASSERT_TRUE(address("127.0.0.1")->getFlags(&flags));
    EXPECT_EQ(flags, R | L | D);
    EXPECT_TRUE(SCNetworkReachability::createWithName("127.0.0.1:8470")->isReachable());
    // Whatever the machine's other interfaces, the internet's flags read the same as the rule says.
    auto internet = address("0.0.0.0");
    ASSERT_TRUE(internet->getFlags(&flags));
    EXPECT_EQ(flags, SCNetworkReachability::flagsFromInterfaces(*internet, *SCNetworkReachability::machineInterfaces()));
}

TEST_F(ReachabilityTest, TheSwitchAndTheProviderComeBeforeTheInterfaces) {
    auto loopback = address("127.0.0.1");
    SCNetworkReachability::setNetworkReachable(false);
    SCNetworkReachabilityFlags flags = 99;
    ASSERT_TRUE(loopback->getFlags(&flags)) << "an unreachable network still has readable flags";
    EXPECT_EQ(flags, 0u);
    EXPECT_FALSE(loopback->isReachable());
    SCNetworkReachability::setNetworkReachable(true);

    const SCNetworkReachability* asked = nullptr;
    SCNetworkReachability::setFlagsProvider([&](const SCNetworkReachability& target) -> std::optional<SCNetworkReachabilityFlags> {
        asked = &target;
        return R | kSCNetworkReachabilityFlagsIsWWAN;
    });
    ASSERT_TRUE(loopback->getFlags(&flags));
    EXPECT_EQ(flags, R | kSCNetworkReachabilityFlagsIsWWAN);
    EXPECT_EQ(asked, loopback.get());
    SCNetworkReachability::setFlagsProvider([](const SCNetworkReachability&) { return std::nullopt; });
    EXPECT_FALSE(loopback->getFlags(&flags));
    EXPECT_FALSE(loopback->isReachable());
    // The switch off wins over any provider.
    SCNetworkReachability::setNetworkReachable(false);
    ASSERT_TRUE(loopback->getFlags(&flags));
    EXPECT_EQ(flags, 0u);
}

TEST_F(ReachabilityTest, TheInterfacesAreListedOncePerSecondOfClockTimeAndAgainOnARecheck) {
    Clock::setManual(1000);
    SCNetworkReachability::recheck();  // nothing kept from before this test's clock
    auto loopback = address("127.0.0.1");
    auto internet = SCNetworkReachability::createWithName("measurement.example.invalid");
    const unsigned long before = SCNetworkReachability::interfaceListings();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(loopback->isReachable());
        SCNetworkReachabilityFlags flags = 0;
        ASSERT_TRUE(internet->getFlags(&flags));
    }
    EXPECT_EQ(SCNetworkReachability::interfaceListings(), before + 1) << "one listing serves every target for a second";
    Clock::advance(SCNetworkReachability::interfaceListLifetime() / 2);
    ASSERT_TRUE(loopback->isReachable());
    EXPECT_EQ(SCNetworkReachability::interfaceListings(), before + 1);
    Clock::advance(SCNetworkReachability::interfaceListLifetime() / 2);
    ASSERT_TRUE(loopback->isReachable());
    EXPECT_EQ(SCNetworkReachability::interfaceListings(), before + 2) << "a list as old as its lifetime is listed again";
    SCNetworkReachability::recheck();
    ASSERT_TRUE(loopback->isReachable());
    EXPECT_EQ(SCNetworkReachability::interfaceListings(), before + 3) << "a recheck lists the interfaces at once";
    // A provider's answers are not the interfaces': nothing is listed for them.
    SCNetworkReachability::setFlagsProvider([](const SCNetworkReachability&) { return std::optional(R); });
    Clock::advance(5);
    ASSERT_TRUE(loopback->isReachable());
    EXPECT_EQ(SCNetworkReachability::interfaceListings(), before + 3);
}

TEST_F(ReachabilityTest, AScheduledTargetHearsEachChangeOnItsRunLoopAfterThePollAndNotOnceUnscheduled) {
    Clock::setManual(1000);
    std::atomic<SCNetworkReachabilityFlags> answer{R};
    SCNetworkReachability::setFlagsProvider([&](const SCNetworkReachability&) { return std::optional(answer.load()); });
    auto target = address("0.0.0.0");
    std::vector<SCNetworkReachabilityFlags> heard;
    ASSERT_TRUE(target->setFlagsCallback([&](SCNetworkReachabilityFlags flags) { heard.push_back(flags); }));
    auto loop = NSRunLoop::mainRunLoop();
    ASSERT_TRUE(target->scheduleWithRunLoop(loop));
    EXPECT_FALSE(target->scheduleWithRunLoop(loop)) << "scheduled once";

    // A change told by the host: heard on the run loop, not inside the call.
    answer = 0;
    SCNetworkReachability::recheck();
    EXPECT_TRUE(heard.empty());
    loop->runUntilIdle();
    EXPECT_EQ(heard, std::vector<SCNetworkReachabilityFlags>{0});
    SCNetworkReachability::recheck();
    loop->runUntilIdle();
    EXPECT_EQ(heard.size(), 1u) << "no change, no call";

    // A change nobody told: the poll finds it.
    answer = R | D;
    Clock::advance(SCNetworkReachability::pollInterval());
    loop->runUntilIdle();
    EXPECT_EQ(heard, (std::vector<SCNetworkReachabilityFlags>{0, R | D}));

    ASSERT_TRUE(target->unscheduleFromRunLoop(loop));
    EXPECT_FALSE(target->unscheduleFromRunLoop(loop));
    answer = R;
    SCNetworkReachability::recheck();
    Clock::advance(3 * SCNetworkReachability::pollInterval());
    loop->runUntilIdle();
    EXPECT_EQ(heard.size(), 2u);
    target->setFlagsCallback(nullptr);
}

TEST_F(ReachabilityTest, TheReachableCallbackHearsOnlyReachabilityChangesOnItsQueue) {
    std::atomic<SCNetworkReachabilityFlags> answer{R};
    SCNetworkReachability::setFlagsProvider([&](const SCNetworkReachability&) { return std::optional(answer.load()); });
    auto target = address("0.0.0.0");
    std::vector<bool> heard;
    target->setCallback([&](bool reachable) { heard.push_back(reachable); }, NSRunLoop::mainRunLoop());
    answer = R | D;  // other flags: no call
    SCNetworkReachability::recheck();
    SCNetworkReachability::setNetworkReachable(false);
    SCNetworkReachability::setNetworkReachable(true);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(heard, (std::vector<bool>{false, true}));
    // A target that went away is not called, and nothing breaks.
    target.reset();
    SCNetworkReachability::setNetworkReachable(false);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(heard.size(), 2u);
}
