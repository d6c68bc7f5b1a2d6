// The notification centre: observers registered by name and sender, held weakly, called in
// registration order on the posting thread or handed to an executor.
#pragma once

#include "platform/foundation/Executor.h"
#include "platform/foundation/NSNotification.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class NSNotificationCenter : public NSObject {
public:
    using Handler = std::function<void(const NSNotification&)>;

    static std::shared_ptr<NSNotificationCenter> defaultCenter();
    // A separate centre (tests, subsystems with their own traffic).
    static std::shared_ptr<NSNotificationCenter> make();

    // Calls `handler` for notifications named `name` (empty: any name) from `object` (null: any
    // sender). Observer and object are held weakly: once either is destroyed the registration
    // is dropped. The handler runs only while the observer is alive and must not hold it strongly.
    void addObserver(const std::shared_ptr<NSObject>& observer, Handler handler, const std::string& name,
                     const std::shared_ptr<NSObject>& object = nullptr);
    template <class T, class U>
    void addObserver(const std::shared_ptr<T>& observer, void (U::*method)(const NSNotification&),
                     const std::string& name, const std::shared_ptr<NSObject>& object = nullptr) {
        T* target = observer.get();
        addObserver(std::static_pointer_cast<NSObject>(observer),
                    [target, method](const NSNotification& note) { (target->*method)(note); }, name, object);
    }

    // A block registration, kept until removeObserver(token). With a queue the block is posted
    // there; otherwise it runs on the posting thread.
    std::shared_ptr<NSObject> addObserverForName(const std::string& name, const std::shared_ptr<NSObject>& object,
                                                 std::shared_ptr<Executor> queue, Handler block);

    // Removes every registration of `observer` (or the block registration of a token); after it
    // returns no new call reaches it. Takes a plain pointer so destructors can call it.
    void removeObserver(const NSObject* observer);
    void removeObserver(const std::shared_ptr<NSObject>& observer) { removeObserver(observer.get()); }
    // Only the registrations for `name` (empty: any) and `object` (null: any).
    void removeObserver(const NSObject* observer, const std::string& name, const NSObject* object);
    void removeObserver(const std::shared_ptr<NSObject>& observer, const std::string& name,
                        const std::shared_ptr<NSObject>& object) {
        removeObserver(observer.get(), name, object.get());
    }

    void postNotification(const std::shared_ptr<NSNotification>& notification);
    void postNotificationName(const std::string& name, const std::shared_ptr<NSObject>& object,
                              const Value::Dictionary& userInfo = {});

    // For the test harness, which checks that a test leaves no registration behind: a mark of
    // the registrations made so far, the names ("" for any) of those made after a mark that can
    // still deliver, and their removal.
    std::uint64_t registrationMark();
    std::vector<std::string> liveRegistrationNamesSince(std::uint64_t mark);
    void removeRegistrationsSince(std::uint64_t mark);

private:
    struct Registration;

    NSNotificationCenter() = default;
    void add(std::shared_ptr<Registration> registration);
    void remove(const NSObject* observer, const std::string* name, const NSObject* object);

    Mutex mutex_;
    std::vector<std::shared_ptr<Registration>> registrations_ GUARDED_BY(mutex_);  // in registration order
    std::uint64_t nextSequence_ GUARDED_BY(mutex_) = 0;
};
