// Whether the network, or one host, can be reached now, as a network status from the platform's
// reachability flags, and a notification when the flags change. Opening links asks it before
// leaving the application; the music player asks it before streaming.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/net/SCNetworkReachability.h"

#include <memory>
#include <string>

struct sockaddr;
class NSRunLoop;

// Posted on the default centre, with the Reachability object as the object, when its flags change.
inline const std::string kNetworkReachabilityChangedNotification = "kNetworkReachabilityChangedNotification";

enum NetworkStatus : long {
    NotReachable = 0,
    ReachableViaWiFi = 1,
    ReachableViaWWAN = 2,
};

class Reachability : public NSObject {
public:
    // Empty when no reachability target can be made for the name or address.
    static std::shared_ptr<Reachability> reachabilityWithHostName(const std::string& hostName);
    static std::shared_ptr<Reachability> reachabilityWithAddress(const sockaddr* hostAddress);
    // The zero IPv4 address: the internet as a whole.
    static std::shared_ptr<Reachability> reachabilityForInternetConnection();
    // The link-local network 169.254.0.0: the local Wi-Fi.
    static std::shared_ptr<Reachability> reachabilityForLocalWiFi();

    // Posts kNetworkReachabilityChangedNotification on the current thread's run loop whenever
    // the flags change; true when the callback is set and the target scheduled.
    bool startNotifier();
    void stopNotifier();

    // NotReachable when the flags cannot be read.
    NetworkStatus currentReachabilityStatus() const;
    // The flags can be read and say a connection must be made first.
    bool connectionRequired() const;

    // Each writes the flags' diagnostic line.
    NetworkStatus localWiFiStatusForFlags(SCNetworkReachabilityFlags flags) const;
    NetworkStatus networkStatusForFlags(SCNetworkReachabilityFlags flags) const;
    // "WR tcCiDld" with "-" for each clear flag, as the diagnostic line shows them.
    static std::string flagsDescription(SCNetworkReachabilityFlags flags);

    bool alwaysReturnLocalWiFiStatus() const { return alwaysReturnLocalWiFiStatus_; }
    const std::shared_ptr<SCNetworkReachability>& reachabilityRef() const { return reachabilityRef_; }

    explicit Reachability(std::shared_ptr<SCNetworkReachability> target, bool localWiFi = false)
        : alwaysReturnLocalWiFiStatus_(localWiFi), reachabilityRef_(std::move(target)) {}
    ~Reachability() override;

private:
    bool alwaysReturnLocalWiFiStatus_ = false;
    std::shared_ptr<SCNetworkReachability> reachabilityRef_;
    std::shared_ptr<NSRunLoop> scheduledOn_;
};
