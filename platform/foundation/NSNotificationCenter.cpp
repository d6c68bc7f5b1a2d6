// The notification centre. Posting takes a snapshot of the matching registrations and calls
// them without holding the centre's lock, so handlers may add and remove observers; each
// registration has its own small lock so that removal, once returned, is final.
#include "platform/foundation/NSNotificationCenter.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <utility>

namespace {

// What addObserverForName hands back: the identity of a block registration.
class NSNotificationObserverToken : public NSObject {};

}  // namespace

struct NSNotificationCenter::Registration {
    std::uint64_t sequence = 0;  // order of registration, for registrationMark
    const NSObject* observerKey = nullptr;
    bool weakObserver = false;
    std::weak_ptr<NSObject> observer;
    std::shared_ptr<NSObject> token;  // block registrations keep their token's address in use
    std::string name;
    const NSObject* objectKey = nullptr;
    std::weak_ptr<NSObject> object;
    std::shared_ptr<Executor> queue;
    Handler handler;

    Mutex stateMutex;
    bool removed GUARDED_BY(stateMutex) = false;

    // The observer or the observed sender is gone: nothing can ever be delivered again.
    bool isDead() const { return (weakObserver && observer.expired()) || (objectKey && object.expired()); }

    bool matches(const std::string& postedName, const NSObject* sender) const {
        if (!name.empty() && name != postedName) return false;
        if (!objectKey) return true;
        if (objectKey != sender) return false;
        auto registered = object.lock();  // an address reused by a new object is not the sender
        return registered && registered.get() == sender;
    }

    void deliver(const NSNotification& notification) {
        std::shared_ptr<NSObject> keepAlive;
        {
            MutexLock lock(stateMutex);
            if (removed) return;
            if (weakObserver) {
                keepAlive = observer.lock();
                if (!keepAlive) return;
            }
        }
        handler(notification);
    }

    void markRemoved() {
        MutexLock lock(stateMutex);
        removed = true;
    }
};

std::shared_ptr<NSNotificationCenter> NSNotificationCenter::defaultCenter() {
    // Never destroyed: observers may post or remove themselves during static destruction.
    static auto* center = new std::shared_ptr<NSNotificationCenter>(make());
    return *center;
}

std::shared_ptr<NSNotificationCenter> NSNotificationCenter::make() {
    return std::shared_ptr<NSNotificationCenter>(new NSNotificationCenter);
}

void NSNotificationCenter::add(std::shared_ptr<Registration> registration) {
    std::vector<std::shared_ptr<Registration>> dead;
    MutexLock lock(mutex_);
    // Registrations of destroyed observers go here too, not only when a post passes them.
    std::erase_if(registrations_, [&dead](std::shared_ptr<Registration>& existing) {
        if (!existing->isDead()) return false;
        dead.push_back(std::move(existing));
        return true;
    });
    registration->sequence = nextSequence_++;
    registrations_.push_back(std::move(registration));
}

void NSNotificationCenter::addObserver(const std::shared_ptr<NSObject>& observer, Handler handler,
                                       const std::string& name, const std::shared_ptr<NSObject>& object) {
    if (!observer || !handler) return;
    auto registration = std::make_shared<Registration>();
    registration->observerKey = observer.get();
    registration->weakObserver = true;
    registration->observer = observer;
    registration->name = name;
    registration->objectKey = object.get();
    registration->object = object;
    registration->handler = std::move(handler);
    add(std::move(registration));
}

std::shared_ptr<NSObject> NSNotificationCenter::addObserverForName(const std::string& name,
                                                                   const std::shared_ptr<NSObject>& object,
                                                                   std::shared_ptr<Executor> queue, Handler block) {
    auto token = std::make_shared<NSNotificationObserverToken>();
    if (!block) return token;
    auto registration = std::make_shared<Registration>();
    registration->observerKey = token.get();
    registration->token = token;
    registration->name = name;
    registration->objectKey = object.get();
    registration->object = object;
    registration->queue = std::move(queue);
    registration->handler = std::move(block);
    add(std::move(registration));
    return token;
}

void NSNotificationCenter::remove(const NSObject* observer, const std::string* name, const NSObject* object) {
    if (!observer) return;
    std::vector<std::shared_ptr<Registration>> removed;
    {
        MutexLock lock(mutex_);
        std::vector<std::shared_ptr<Registration>> kept;
        kept.reserve(registrations_.size());
        for (auto& registration : registrations_) {
            const bool hit = registration->observerKey == observer &&
                             (!name || name->empty() || registration->name == *name) &&
                             (!object || registration->objectKey == object);
            if (hit) {
                registration->markRemoved();
                removed.push_back(std::move(registration));
            } else {
                kept.push_back(std::move(registration));
            }
        }
        registrations_ = std::move(kept);
    }
    // Handlers are destroyed here, outside the lock: their captures may remove observers too.
}

void NSNotificationCenter::removeObserver(const NSObject* observer) { remove(observer, nullptr, nullptr); }

void NSNotificationCenter::removeObserver(const NSObject* observer, const std::string& name, const NSObject* object) {
    remove(observer, &name, object);
}

void NSNotificationCenter::postNotification(const std::shared_ptr<NSNotification>& notification) {
    if (!notification) return;
    std::vector<std::shared_ptr<Registration>> targets;
    std::vector<std::shared_ptr<Registration>> dead;
    {
        MutexLock lock(mutex_);
        std::vector<std::shared_ptr<Registration>> kept;
        kept.reserve(registrations_.size());
        for (auto& registration : registrations_) {
            if (registration->isDead()) {
                dead.push_back(std::move(registration));
                continue;
            }
            if (registration->matches(notification->name(), notification->object().get()))
                targets.push_back(registration);
            kept.push_back(std::move(registration));
        }
        registrations_ = std::move(kept);
    }
    dead.clear();
    for (auto& registration : targets) {
        if (registration->queue) {
            registration->queue->post(
                [registration, notification] { registration->deliver(*notification); });
        } else {
            registration->deliver(*notification);
        }
    }
}

void NSNotificationCenter::postNotificationName(const std::string& name, const std::shared_ptr<NSObject>& object,
                                                const Value::Dictionary& userInfo) {
    postNotification(NSNotification::notificationWithName(name, object, userInfo));
}

std::uint64_t NSNotificationCenter::registrationMark() {
    MutexLock lock(mutex_);
    return nextSequence_;
}

std::vector<std::string> NSNotificationCenter::liveRegistrationNamesSince(std::uint64_t mark) {
    MutexLock lock(mutex_);
    std::vector<std::string> names;
    for (const auto& registration : registrations_) {
        if (registration->sequence >= mark && !registration->isDead()) names.push_back(registration->name);
    }
    return names;
}

void NSNotificationCenter::removeRegistrationsSince(std::uint64_t mark) {
    std::vector<std::shared_ptr<Registration>> removed;
    {
        MutexLock lock(mutex_);
        std::erase_if(registrations_, [&](std::shared_ptr<Registration>& registration) {
            if (registration->sequence < mark) return false;
            registration->markRemoved();
            removed.push_back(std::move(registration));
            return true;
        });
    }
    // Handlers are destroyed here, outside the lock, as in remove().
}
