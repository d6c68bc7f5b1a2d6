// Holder bookkeeping of the screen lock on one serial queue; each holder carries a watch whose
// destruction tells the manager that the holder is gone.
#include "uikit/OEIdleTimerManager.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIApplication.h"

#include <algorithm>
#include <atomic>

namespace {

// Identity of the object itself, not of its address: a weak handle keeps the control block,
// so a new object can never compare equal to a destroyed one.
bool sameOwner(const std::weak_ptr<NSObject>& a, const std::weak_ptr<NSObject>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

class OEIdleTimerManager::Watch : public NSObject {
public:
    explicit Watch(std::weak_ptr<OEIdleTimerManager> manager) : manager_(std::move(manager)) {}
    void disarm() { armed_ = false; }
    ~Watch() override {
        if (!armed_) return;
        if (auto manager = manager_.lock()) manager->holderDestroyed();
    }

private:
    std::weak_ptr<OEIdleTimerManager> manager_;
    std::atomic<bool> armed_{true};
};

std::shared_ptr<OEIdleTimerManager> OEIdleTimerManager::make() {
    return initWithApplication(UIApplication::sharedApplication());
}

std::shared_ptr<OEIdleTimerManager> OEIdleTimerManager::initWithApplication(std::shared_ptr<UIApplication> application) {
    return std::shared_ptr<OEIdleTimerManager>(new OEIdleTimerManager(std::move(application)));
}

OEIdleTimerManager::OEIdleTimerManager(std::shared_ptr<UIApplication> application)
    : application_(std::move(application)), queue_(DispatchQueue::create("com.norvane.OstrelEngine")) {}

OEIdleTimerManager::~OEIdleTimerManager() {
    // Nothing queued can reach this object any more (blocks hold it weakly), so the list is ours.
    for (const auto& holder : holders_) {
        if (auto object = holder.lock()) {
            if (auto watch = object->associatedValue(&watchKey_).objectAs<Watch>()) watch->disarm();
            object->setAssociatedValue(&watchKey_, Value());
        }
    }
}

void OEIdleTimerManager::setIdleTimerDisabled(bool disabled, const std::shared_ptr<NSObject>& object) {
    if (!object) return;
    queue_->sync([&] {
        if (disabled)
            disableLocked(object);
        else
            enableLocked(object);
    });
}

void OEIdleTimerManager::disableIdleTimerByObject(const std::shared_ptr<NSObject>& object) {
    setIdleTimerDisabled(true, object);
}

void OEIdleTimerManager::enableIdleTimerByObject(const std::shared_ptr<NSObject>& object) {
    setIdleTimerDisabled(false, object);
}

void OEIdleTimerManager::disableLocked(const std::shared_ptr<NSObject>& object) {
    // Entries of destroyed holders still mean the lock is off until they are dropped.
    const bool wasOff = !holders_.empty();
    dropExpiredLocked();
    const std::weak_ptr<NSObject> handle = object;
    if (std::any_of(holders_.begin(), holders_.end(), [&](const auto& h) { return sameOwner(h, handle); })) return;
    if (!wasOff && application_) application_->setIdleTimerDisabled(true);
    holders_.push_back(handle);
    object->setAssociatedValue(&watchKey_, Value(std::make_shared<Watch>(weakSelf<OEIdleTimerManager>())));
}

void OEIdleTimerManager::enableLocked(const std::shared_ptr<NSObject>& object) {
    const bool wasOff = !holders_.empty();
    const std::weak_ptr<NSObject> handle = object;
    auto it = std::find_if(holders_.begin(), holders_.end(), [&](const auto& h) { return sameOwner(h, handle); });
    if (it != holders_.end()) {
        holders_.erase(it);
        if (auto watch = object->associatedValue(&watchKey_).objectAs<Watch>()) watch->disarm();
        object->setAssociatedValue(&watchKey_, Value());
    }
    dropExpiredLocked();
    if (wasOff && holders_.empty() && application_) application_->setIdleTimerDisabled(false);
}

void OEIdleTimerManager::dropExpiredLocked() {
    std::erase_if(holders_, [](const auto& h) { return h.expired(); });
}

void OEIdleTimerManager::holderDestroyed() {
    // Never inline: the holder may be dying inside a block of this very queue.
    queue_->async([weak = weakSelf<OEIdleTimerManager>()] {
        auto self = weak.lock();
        if (!self) return;
        const bool wasOff = !self->holders_.empty();
        self->dropExpiredLocked();
        if (wasOff && self->holders_.empty() && self->application_) self->application_->setIdleTimerDisabled(false);
    });
}

std::vector<std::shared_ptr<NSObject>> OEIdleTimerManager::holders() const {
    std::vector<std::shared_ptr<NSObject>> live;
    queue_->sync([&] {
        for (const auto& holder : holders_)
            if (auto object = holder.lock()) live.push_back(std::move(object));
    });
    return live;
}

bool OEIdleTimerManager::isHeldBy(const std::shared_ptr<NSObject>& object) const {
    if (!object) return false;
    const auto live = holders();
    return std::any_of(live.begin(), live.end(), [&](const auto& h) { return h == object; });
}
