// Whether a host or an address can be reached, as reachability flags, and a call when they
// change. The flags come from the machine's network interfaces (an address on an attached
// network is direct, the loopback network is local, anything else needs a working interface
// besides loopback); there is no radio, so never WWAN and never a connection on demand. The
// host (the simulator, a test) can switch the whole network off, and a test can answer the
// flags itself through a provider.
#pragma once

#include "platform/foundation/Executor.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sockaddr;
class NSRunLoop;
class NSTimer;

using SCNetworkReachabilityFlags = std::uint32_t;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsTransientConnection = 1u << 0;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsReachable = 1u << 1;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionRequired = 1u << 2;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnTraffic = 1u << 3;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsInterventionRequired = 1u << 4;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnDemand = 1u << 5;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsLocalAddress = 1u << 16;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsDirect = 1u << 17;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsWWAN = 1u << 18;

class SCNetworkReachability : public NSObject {
public:
    using Callback = std::function<void(bool reachable)>;
    using FlagsCallback = std::function<void(SCNetworkReachabilityFlags flags)>;

    // One address of one interface of the machine.
    struct InterfaceAddress {
        std::string name;
        bool up = false;
        bool running = false;
        bool loopback = false;
        int family = 0;                      // AF_INET or AF_INET6
        std::vector<std::uint8_t> address;   // 4 or 16 bytes, network order
        std::vector<std::uint8_t> netmask;   // as long as the address; empty when unknown
    };
    // Answers a target's flags in place of the interfaces; none when they cannot be read.
    using FlagsProvider = std::function<std::optional<SCNetworkReachabilityFlags>(const SCNetworkReachability&)>;

    // Empty for an empty host name.
    [[nodiscard]] static std::shared_ptr<SCNetworkReachability> createWithName(const std::string& nodename);
    // An IPv4 (sockaddr_in) or IPv6 (sockaddr_in6) address; empty for anything else.
    [[nodiscard]] static std::shared_ptr<SCNetworkReachability> createWithAddress(const sockaddr* address);

    // The host name; "" for an address target.
    const std::string& nodename() const { return nodename_; }
    // AF_INET or AF_INET6 with the address bytes for an address target, or for a host name
    // that is an address literal or "localhost"; 0 and empty otherwise.
    int addressFamily() const { return family_; }
    const std::vector<std::uint8_t>& addressBytes() const { return address_; }

    // The flags now; false when they cannot be read (the provider answered none, or the
    // interfaces could not be listed). With the network switched off they read as 0.
    [[nodiscard]] bool getFlags(SCNetworkReachabilityFlags* flags) const;
    // The flags can be read and say reachable.
    bool isReachable() const;

    // Runs `callback` on `queue` after every change of reachability while it is set; an empty
    // callback (or queue) stops the calls.
    void setCallback(Callback callback, std::shared_ptr<Executor> queue);
    // The flags callback, called on the run loop the target is scheduled on when its flags
    // change; an empty one removes it. True once set.
    bool setFlagsCallback(FlagsCallback callback);
    // While scheduled, the flags are read again every pollInterval() seconds of clock time on
    // that run loop, and at once when the network switch or the provider changes. False when
    // already scheduled elsewhere, or for no run loop.
    bool scheduleWithRunLoop(const std::shared_ptr<NSRunLoop>& runLoop);
    // False when not scheduled on that run loop.
    bool unscheduleFromRunLoop(const std::shared_ptr<NSRunLoop>& runLoop);
    static constexpr double pollInterval() { return 2.0; }

    // The state of the network as the host sets it; a change calls every set callback.
    static void setNetworkReachable(bool reachable);
    static bool isNetworkReachable();
    // Flags from `provider` instead of the interfaces; an empty one goes back to the interfaces.
    // Every watched target is read again.
    static void setFlagsProvider(FlagsProvider provider);
    static bool hasFlagsProvider();
    // Reads every watched target again and tells those whose flags changed (a provider's
    // answers changed, or the host knows the interfaces did).
    static void recheck();

    // The machine's interface addresses (getifaddrs); none when they cannot be listed.
    static std::optional<std::vector<InterfaceAddress>> machineInterfaces();
    // Flags read from the interfaces use their list for this many seconds of clock time after
    // listing them (a listing costs a dozen system calls, and the flags are asked after every
    // measurement event); recheck() lists them again at once.
    static constexpr double interfaceListLifetime() { return 1.0; }
    // How many times the flags have listed the interfaces, in this process.
    static unsigned long interfaceListings();
    // The flags of `target` over these interfaces.
    static SCNetworkReachabilityFlags flagsFromInterfaces(const SCNetworkReachability& target,
                                                          const std::vector<InterfaceAddress>& interfaces);

    explicit SCNetworkReachability(std::string nodename);
    SCNetworkReachability(int family, std::vector<std::uint8_t> address);
    ~SCNetworkReachability() override;

private:
    // Reads the flags and tells the callbacks when they differ from the last ones told.
    void check();
    void watch(bool watching);

    const std::string nodename_;
    int family_ = 0;
    std::vector<std::uint8_t> address_;
    mutable Mutex mutex_;
    Callback callback_ GUARDED_BY(mutex_);
    std::shared_ptr<Executor> queue_ GUARDED_BY(mutex_);
    FlagsCallback flagsCallback_ GUARDED_BY(mutex_);
    std::shared_ptr<NSRunLoop> runLoop_ GUARDED_BY(mutex_);
    std::shared_ptr<NSTimer> poll_ GUARDED_BY(mutex_);
    std::optional<SCNetworkReachabilityFlags> lastFlags_ GUARDED_BY(mutex_);  // as last told; none before
};
