// Whether a host can be reached, and a call when that changes. There is no radio to watch
// here: the host (the simulator, a test) says whether the network is up; it is by default.
#pragma once

#include "platform/foundation/Executor.h"
#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class SCNetworkReachability : public NSObject {
public:
    using Callback = std::function<void(bool reachable)>;

    // Empty for an empty host name.
    [[nodiscard]] static std::shared_ptr<SCNetworkReachability> createWithName(const std::string& nodename);

    const std::string& nodename() const { return nodename_; }
    bool isReachable() const;
    // Runs `callback` on `queue` after every change of reachability while it is set; an empty
    // callback (or queue) stops the calls.
    void setCallback(Callback callback, std::shared_ptr<Executor> queue);

    // The state of the network as the host sets it; a change calls every set callback.
    static void setNetworkReachable(bool reachable);
    static bool isNetworkReachable();

    explicit SCNetworkReachability(std::string nodename) : nodename_(std::move(nodename)) {}

private:
    void notify(bool reachable);

    const std::string nodename_;
    mutable std::mutex mutex_;
    Callback callback_;
    std::shared_ptr<Executor> queue_;
};
