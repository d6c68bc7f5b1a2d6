// Reachability flags from the machine's interfaces, the host's network switch, an optional
// provider of the tests, and the targets that watch them.
#include "platform/net/SCNetworkReachability.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

Mutex gMutex;
bool gReachable GUARDED_BY(gMutex) = true;
SCNetworkReachability::FlagsProvider& provider() {
    static auto* p = new SCNetworkReachability::FlagsProvider;
    return *p;
}
// Targets with a callback or a run loop, held weakly: a watcher that goes away stops being called.
std::vector<std::weak_ptr<SCNetworkReachability>>& watchers() {
    static auto* list = new std::vector<std::weak_ptr<SCNetworkReachability>>;
    return *list;
}

// The interface list the flags were last read from, and when (clock uptime).
struct ListedInterfaces {
    Mutex mutex;
    std::optional<std::vector<SCNetworkReachability::InterfaceAddress>> list GUARDED_BY(mutex);
    double listedAt GUARDED_BY(mutex) = 0;
    unsigned long listings GUARDED_BY(mutex) = 0;
};
ListedInterfaces& listed() {
    static auto* l = new ListedInterfaces;
    return *l;
}

// The kept list while it is younger than its lifetime (a clock set back counts as old), else
// a fresh one, kept when it could be read.
std::optional<std::vector<SCNetworkReachability::InterfaceAddress>> currentInterfaces() {
    auto& l = listed();
    MutexLock lock(l.mutex);
    const double now = Clock::uptime();
    if (l.list && now >= l.listedAt && now - l.listedAt < SCNetworkReachability::interfaceListLifetime()) return l.list;
    ++l.listings;
    l.list = SCNetworkReachability::machineInterfaces();
    l.listedAt = now;
    return l.list;
}

void forgetInterfaces() {
    auto& l = listed();
    MutexLock lock(l.mutex);
    l.list.reset();
}

std::vector<std::uint8_t> bytesOf(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    return {p, p + size};
}

// A name that is an address: "localhost", an IPv4 or IPv6 literal, with or without a port
// ("127.0.0.1:8470", "[::1]:80").
bool literalAddress(std::string name, int* family, std::vector<std::uint8_t>* bytes) {
    if (name == "localhost" || name.starts_with("localhost:")) name = "127.0.0.1";
    if (name.starts_with("[")) {
        const auto close = name.find(']');
        if (close == std::string::npos) return false;
        name = name.substr(1, close - 1);
    } else if (std::count(name.begin(), name.end(), ':') == 1) {
        name = name.substr(0, name.find(':'));
    }
    in_addr v4{};
    if (inet_pton(AF_INET, name.c_str(), &v4) == 1) {
        *family = AF_INET;
        *bytes = bytesOf(&v4, sizeof v4);
        return true;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, name.c_str(), &v6) == 1) {
        *family = AF_INET6;
        *bytes = bytesOf(&v6, sizeof v6);
        return true;
    }
    return false;
}

bool allZero(const std::vector<std::uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

bool isLoopbackAddress(int family, const std::vector<std::uint8_t>& a) {
    if (family == AF_INET) return a.size() == 4 && a[0] == 127;
    if (a.size() != 16) return false;
    return std::all_of(a.begin(), a.end() - 1, [](std::uint8_t b) { return b == 0; }) && a[15] == 1;
}

bool isLinkLocal(int family, const std::vector<std::uint8_t>& a) {
    if (family == AF_INET) return a.size() == 4 && a[0] == 169 && a[1] == 254;
    return a.size() == 16 && a[0] == 0xfe && (a[1] & 0xc0) == 0x80;
}

bool sameNetwork(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                 const std::vector<std::uint8_t>& mask) {
    if (a.size() != b.size() || mask.size() != a.size() || allZero(mask)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] & mask[i]) != (b[i] & mask[i])) return false;
    return true;
}

}  // namespace

SCNetworkReachability::SCNetworkReachability(std::string nodename) : nodename_(std::move(nodename)) {
    literalAddress(nodename_, &family_, &address_);
}

SCNetworkReachability::SCNetworkReachability(int family, std::vector<std::uint8_t> address)
    : family_(family), address_(std::move(address)) {}

SCNetworkReachability::~SCNetworkReachability() {
    if (poll_) poll_->invalidate();
}

std::shared_ptr<SCNetworkReachability> SCNetworkReachability::createWithName(const std::string& nodename) {
    if (nodename.empty()) return nullptr;
    return std::make_shared<SCNetworkReachability>(nodename);
}

std::shared_ptr<SCNetworkReachability> SCNetworkReachability::createWithAddress(const sockaddr* address) {
    if (!address) return nullptr;
    if (address->sa_family == AF_INET) {
        sockaddr_in in{};
        std::memcpy(&in, address, sizeof in);
        return std::make_shared<SCNetworkReachability>(AF_INET, bytesOf(&in.sin_addr, sizeof in.sin_addr));
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, address, sizeof in6);
        return std::make_shared<SCNetworkReachability>(AF_INET6, bytesOf(&in6.sin6_addr, sizeof in6.sin6_addr));
    }
    return nullptr;
}

std::optional<std::vector<SCNetworkReachability::InterfaceAddress>> SCNetworkReachability::machineInterfaces() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::vector<InterfaceAddress> out;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr) continue;
        const int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        InterfaceAddress item;
        item.name = entry->ifa_name ? entry->ifa_name : "";
        item.up = (entry->ifa_flags & IFF_UP) != 0;
        item.running = (entry->ifa_flags & IFF_RUNNING) != 0;
        item.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        item.family = family;
        if (family == AF_INET) {
            item.address = bytesOf(&reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, 4);
            if (entry->ifa_netmask)
                item.netmask = bytesOf(&reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr, 4);
        } else {
            item.address = bytesOf(&reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr, 16);
            if (entry->ifa_netmask)
                item.netmask = bytesOf(&reinterpret_cast<const sockaddr_in6*>(entry->ifa_netmask)->sin6_addr, 16);
        }
        out.push_back(std::move(item));
    }
    freeifaddrs(list);
    return out;
}

SCNetworkReachabilityFlags SCNetworkReachability::flagsFromInterfaces(const SCNetworkReachability& target,
                                                                      const std::vector<InterfaceAddress>& interfaces) {
    constexpr auto reachable = kSCNetworkReachabilityFlagsReachable;
    constexpr auto direct = kSCNetworkReachabilityFlagsIsDirect;
    constexpr auto local = kSCNetworkReachabilityFlagsIsLocalAddress;
    auto working = [](const InterfaceAddress& i) { return i.up && i.running; };
    // Somewhere to send what is not for an attached network: a working interface besides
    // loopback with an address that is not only link-local.
    const bool routed = std::any_of(interfaces.begin(), interfaces.end(), [&](const InterfaceAddress& i) {
        return working(i) && !i.loopback && !isLinkLocal(i.family, i.address);
    });
    const int family = target.addressFamily();
    const auto& address = target.addressBytes();
    if (family == 0 || allZero(address)) return routed ? reachable : 0;

    if (isLoopbackAddress(family, address)) {
        const bool loop = std::any_of(interfaces.begin(), interfaces.end(),
                                      [&](const InterfaceAddress& i) { return i.up && i.loopback; });
        return loop ? reachable | local | direct : 0;
    }
    if (isLinkLocal(family, address)) {
        // The link-local network is on every attached network of that family.
        const bool attached = std::any_of(interfaces.begin(), interfaces.end(), [&](const InterfaceAddress& i) {
            return working(i) && !i.loopback && i.family == family;
        });
        return attached ? reachable | direct : 0;
    }
    for (const auto& i : interfaces) {
        if (!working(i) || i.family != family) continue;
        if (i.address == address) return reachable | local | direct;
    }
    for (const auto& i : interfaces) {
        if (!working(i) || i.family != family || i.loopback) continue;
        if (sameNetwork(i.address, address, i.netmask)) return reachable | direct;
    }
    return routed ? reachable : 0;
}

bool SCNetworkReachability::getFlags(SCNetworkReachabilityFlags* flags) const {
    FlagsProvider answer;
    {
        MutexLock lock(gMutex);
        if (!gReachable) {
            if (flags) *flags = 0;
            return true;
        }
        answer = provider();
    }
    std::optional<SCNetworkReachabilityFlags> read;
    if (answer) {
        read = answer(*this);
    } else if (auto interfaces = currentInterfaces()) {
        read = flagsFromInterfaces(*this, *interfaces);
    }
    if (!read) return false;
    if (flags) *flags = *read;
    return true;
}

bool SCNetworkReachability::isReachable() const {
    SCNetworkReachabilityFlags flags = 0;
    return getFlags(&flags) && (flags & kSCNetworkReachabilityFlagsReachable) != 0;
}

void SCNetworkReachability::watch(bool watching) {
    if (watching) {
        SCNetworkReachabilityFlags flags = 0;
        const bool read = getFlags(&flags);
        MutexLock lock(mutex_);
        if (!lastFlags_) lastFlags_ = read ? std::optional(flags) : std::nullopt;
    }
    MutexLock lock(gMutex);
    auto& list = watchers();
    std::erase_if(list, [this](const std::weak_ptr<SCNetworkReachability>& weak) {
        auto strong = weak.lock();
        return !strong || strong.get() == this;
    });
    if (watching) list.push_back(self<SCNetworkReachability>());
}

void SCNetworkReachability::setCallback(Callback callback, std::shared_ptr<Executor> queue) {
    const bool watching = callback && queue;
    bool any = false;
    {
        MutexLock lock(mutex_);
        callback_ = watching ? std::move(callback) : Callback();
        queue_ = watching ? std::move(queue) : nullptr;
        if (!watching && !flagsCallback_ && !runLoop_) lastFlags_.reset();
        any = callback_ || (flagsCallback_ && runLoop_);
    }
    watch(any);
}

bool SCNetworkReachability::setFlagsCallback(FlagsCallback callback) {
    bool any = false;
    {
        MutexLock lock(mutex_);
        flagsCallback_ = std::move(callback);
        any = callback_ || (flagsCallback_ && runLoop_);
    }
    watch(any);
    return true;
}

bool SCNetworkReachability::scheduleWithRunLoop(const std::shared_ptr<NSRunLoop>& runLoop) {
    if (!runLoop) return false;
    std::weak_ptr<SCNetworkReachability> weak = self<SCNetworkReachability>();
    auto poll = NSTimer::timerWithTimeInterval(pollInterval(), true, [weak](const std::shared_ptr<NSTimer>&) {
        if (auto target = weak.lock()) target->check();
    });
    bool any = false;
    {
        MutexLock lock(mutex_);
        if (runLoop_) return false;
        runLoop_ = runLoop;
        poll_ = poll;
        any = callback_ || flagsCallback_;
    }
    runLoop->addTimer(poll);
    watch(any);
    return true;
}

bool SCNetworkReachability::unscheduleFromRunLoop(const std::shared_ptr<NSRunLoop>& runLoop) {
    std::shared_ptr<NSTimer> poll;
    bool any = false;
    {
        MutexLock lock(mutex_);
        if (!runLoop_ || runLoop_ != runLoop) return false;
        runLoop_.reset();
        poll.swap(poll_);
        any = static_cast<bool>(callback_);
    }
    if (poll) poll->invalidate();
    watch(any);
    return true;
}

void SCNetworkReachability::check() {
    SCNetworkReachabilityFlags flags = 0;
    const std::optional<SCNetworkReachabilityFlags> now = getFlags(&flags) ? std::optional(flags) : std::nullopt;
    MutexLock lock(mutex_);
    const std::optional<SCNetworkReachabilityFlags> before = lastFlags_;
    if (now == before) return;
    lastFlags_ = now;
    auto reachableIn = [](const std::optional<SCNetworkReachabilityFlags>& f) {
        return f && (*f & kSCNetworkReachabilityFlagsReachable) != 0;
    };
    if (callback_ && queue_ && reachableIn(now) != reachableIn(before)) {
        queue_->post([callback = callback_, reachable = reachableIn(now)] { callback(reachable); });
    }
    // Unreadable flags are not a change to tell: the next readable ones are.
    if (flagsCallback_ && runLoop_ && now) {
        runLoop_->post([callback = flagsCallback_, value = *now] { callback(value); });
    }
}

void SCNetworkReachability::recheck() {
    forgetInterfaces();
    std::vector<std::shared_ptr<SCNetworkReachability>> targets;
    {
        MutexLock lock(gMutex);
        for (const auto& weak : watchers()) {
            if (auto strong = weak.lock()) targets.push_back(std::move(strong));
        }
    }
    for (const auto& target : targets) target->check();
}

void SCNetworkReachability::setNetworkReachable(bool reachable) {
    {
        MutexLock lock(gMutex);
        if (gReachable == reachable) return;
        gReachable = reachable;
    }
    recheck();
}

bool SCNetworkReachability::isNetworkReachable() {
    MutexLock lock(gMutex);
    return gReachable;
}

void SCNetworkReachability::setFlagsProvider(FlagsProvider flagsProvider) {
    {
        MutexLock lock(gMutex);
        provider() = std::move(flagsProvider);
    }
    recheck();
}

unsigned long SCNetworkReachability::interfaceListings() {
    auto& l = listed();
    MutexLock lock(l.mutex);
    return l.listings;
}

bool SCNetworkReachability::hasFlagsProvider() {
    MutexLock lock(gMutex);
    return static_cast<bool>(provider());
}
