// Keeps the screen lock off while any of several activities (playback, downloads, saving a
// picture) wants it off, and switches it back on when the last one lets go.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstddef>
#include <memory>
#include <vector>

class DispatchQueue;
class UIApplication;

class OEIdleTimerManager : public NSObject {
public:
    // Over the shared application.
    static std::shared_ptr<OEIdleTimerManager> make();
    static std::shared_ptr<OEIdleTimerManager> initWithApplication(std::shared_ptr<UIApplication> application);

    const std::shared_ptr<UIApplication>& application() const { return application_; }

    // The one entry point for users, from any thread: takes (YES) or releases (NO) the hold of
    // `object`. Holders are not kept alive; one that is destroyed while holding counts as
    // released at that moment. Returns when the request has been carried out.
    void setIdleTimerDisabled(bool disabled, const std::shared_ptr<NSObject>& object);
    void disableIdleTimerByObject(const std::shared_ptr<NSObject>& object);
    void enableIdleTimerByObject(const std::shared_ptr<NSObject>& object);

    // The live holders, in the order they took their hold; after every earlier request.
    std::vector<std::shared_ptr<NSObject>> holders() const;
    std::size_t holderCount() const { return holders().size(); }
    bool isHeldBy(const std::shared_ptr<NSObject>& object) const;

    ~OEIdleTimerManager() override;

private:
    explicit OEIdleTimerManager(std::shared_ptr<UIApplication> application);

    // On the queue only.
    void disableLocked(const std::shared_ptr<NSObject>& object);
    void enableLocked(const std::shared_ptr<NSObject>& object);
    void dropExpiredLocked();
    // Called from a holder's destructor (any thread): forgets it on the queue.
    void holderDestroyed();

    class Watch;

    std::shared_ptr<UIApplication> application_;
    std::shared_ptr<DispatchQueue> queue_;
    std::vector<std::weak_ptr<NSObject>> holders_;  // touched on queue_ only
    // The address of this member keys the watch this manager leaves on each holder.
    const char watchKey_ = 0;
};
