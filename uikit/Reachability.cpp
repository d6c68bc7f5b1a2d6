// Network status from reachability flags, and the change notification.
#include "uikit/Reachability.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSNotificationCenter.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

std::shared_ptr<Reachability> withAddress(std::uint32_t hostOrderAddress, bool localWiFi) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    auto target = SCNetworkReachability::createWithAddress(reinterpret_cast<const sockaddr*>(&address));
    return target ? std::make_shared<Reachability>(std::move(target), localWiFi) : nullptr;
}

}  // namespace

std::shared_ptr<Reachability> Reachability::reachabilityWithHostName(const std::string& hostName) {
    auto target = SCNetworkReachability::createWithName(hostName);
    return target ? std::make_shared<Reachability>(std::move(target)) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr* hostAddress) {
    auto target = SCNetworkReachability::createWithAddress(hostAddress);
    return target ? std::make_shared<Reachability>(std::move(target)) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() { return withAddress(0, false); }

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi() {
    return withAddress(0xA9FE0000u, true);  // 169.254.0.0
}

Reachability::~Reachability() { stopNotifier(); }

bool Reachability::startNotifier() {
    auto loop = NSRunLoop::currentRunLoop();
    std::weak_ptr<Reachability> weak = self<Reachability>();
    const bool set = reachabilityRef_->setFlagsCallback([weak](SCNetworkReachabilityFlags) {
        if (auto me = weak.lock()) NSNotificationCenter::defaultCenter()->postNotificationName(kNetworkReachabilityChangedNotification, me);
    });
    if (!set || !reachabilityRef_->scheduleWithRunLoop(loop)) return false;
    scheduledOn_ = loop;
    return true;
}

void Reachability::stopNotifier() {
    if (!reachabilityRef_ || !scheduledOn_) return;
    (void)reachabilityRef_->unscheduleFromRunLoop(scheduledOn_);
    reachabilityRef_->setFlagsCallback(nullptr);
    scheduledOn_.reset();
}

std::string Reachability::flagsDescription(SCNetworkReachabilityFlags flags) {
    auto bit = [flags](SCNetworkReachabilityFlags f, char c) { return (flags & f) ? c : '-'; };
    std::string text;
    text += bit(kSCNetworkReachabilityFlagsIsWWAN, 'W');
    text += bit(kSCNetworkReachabilityFlagsReachable, 'R');
    text += ' ';
    text += bit(kSCNetworkReachabilityFlagsTransientConnection, 't');
    text += bit(kSCNetworkReachabilityFlagsConnectionRequired, 'c');
    text += bit(kSCNetworkReachabilityFlagsConnectionOnTraffic, 'C');
    text += bit(kSCNetworkReachabilityFlagsInterventionRequired, 'i');
    text += bit(kSCNetworkReachabilityFlagsConnectionOnDemand, 'D');
    text += bit(kSCNetworkReachabilityFlagsIsLocalAddress, 'l');
    text += bit(kSCNetworkReachabilityFlagsIsDirect, 'd');
    return text;
}

NetworkStatus Reachability::localWiFiStatusForFlags(SCNetworkReachabilityFlags flags) const {
    Diagnostics::notef("Reachability Flag Status: %s localWiFiStatusForFlags", flagsDescription(flags).c_str());
    const auto wanted = kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsDirect;
    return (flags & wanted) == wanted ? ReachableViaWiFi : NotReachable;
}

NetworkStatus Reachability::networkStatusForFlags(SCNetworkReachabilityFlags flags) const {
    Diagnostics::notef("Reachability Flag Status: %s networkStatusForFlags", flagsDescription(flags).c_str());
    if (!(flags & kSCNetworkReachabilityFlagsReachable)) return NotReachable;
    if (flags & kSCNetworkReachabilityFlagsIsWWAN) return ReachableViaWWAN;
    if (!(flags & kSCNetworkReachabilityFlagsConnectionRequired)) return ReachableViaWiFi;
    const bool onDemandOrTraffic =
        flags & (kSCNetworkReachabilityFlagsConnectionOnDemand | kSCNetworkReachabilityFlagsConnectionOnTraffic);
    if (onDemandOrTraffic && !(flags & kSCNetworkReachabilityFlagsInterventionRequired)) return ReachableViaWiFi;
    return NotReachable;
}

NetworkStatus Reachability::currentReachabilityStatus() const {
    SCNetworkReachabilityFlags flags = 0;
    if (!reachabilityRef_ || !reachabilityRef_->getFlags(&flags)) return NotReachable;
    return alwaysReturnLocalWiFiStatus_ ? localWiFiStatusForFlags(flags) : networkStatusForFlags(flags);
}

bool Reachability::connectionRequired() const {
    SCNetworkReachabilityFlags flags = 0;
    return reachabilityRef_ && reachabilityRef_->getFlags(&flags) &&
           (flags & kSCNetworkReachabilityFlagsConnectionRequired) != 0;
}
