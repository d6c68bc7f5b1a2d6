// One process-wide network state and the reachability objects that watch it.
#include "platform/net/SCNetworkReachability.h"

#include <algorithm>
#include <vector>

namespace {

std::mutex gMutex;
bool gReachable = true;
// Objects with a callback set, held weakly: a watcher that goes away stops being called.
std::vector<std::weak_ptr<SCNetworkReachability>>& watchers() {
    static auto* list = new std::vector<std::weak_ptr<SCNetworkReachability>>;
    return *list;
}

}  // namespace

std::shared_ptr<SCNetworkReachability> SCNetworkReachability::createWithName(const std::string& nodename) {
    if (nodename.empty()) return nullptr;
    return std::make_shared<SCNetworkReachability>(nodename);
}

bool SCNetworkReachability::isReachable() const { return isNetworkReachable(); }

void SCNetworkReachability::setCallback(Callback callback, std::shared_ptr<Executor> queue) {
    const bool watching = callback && queue;
    {
        std::lock_guard lock(mutex_);
        callback_ = watching ? std::move(callback) : Callback();
        queue_ = watching ? std::move(queue) : nullptr;
    }
    std::lock_guard lock(gMutex);
    auto& list = watchers();
    std::erase_if(list, [this](const std::weak_ptr<SCNetworkReachability>& weak) {
        auto strong = weak.lock();
        return !strong || strong.get() == this;
    });
    if (watching) list.push_back(self<SCNetworkReachability>());
}

void SCNetworkReachability::notify(bool reachable) {
    std::lock_guard lock(mutex_);
    if (!callback_) return;
    queue_->post([callback = callback_, reachable] { callback(reachable); });
}

void SCNetworkReachability::setNetworkReachable(bool reachable) {
    std::vector<std::shared_ptr<SCNetworkReachability>> toNotify;
    {
        std::lock_guard lock(gMutex);
        if (gReachable == reachable) return;
        gReachable = reachable;
        for (const auto& weak : watchers()) {
            if (auto strong = weak.lock()) toNotify.push_back(std::move(strong));
        }
    }
    for (const auto& reachability : toNotify) reachability->notify(reachable);
}

bool SCNetworkReachability::isNetworkReachable() {
    std::lock_guard lock(gMutex);
    return gReachable;
}
