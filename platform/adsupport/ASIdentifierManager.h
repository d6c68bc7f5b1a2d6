// The device's advertising identifier and its limit-ad-tracking switch, as the host sets them.
// Applications reach the class by name ("ASIdentifierManager") and only where it is linked.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/NSUUID.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <memory>

class ASIdentifierManager : public NSObject {
public:
    static std::shared_ptr<ASIdentifierManager> sharedManager();

    // A random identifier made at first read unless the host sets one; the all-zero identifier
    // is what the device reports while tracking is not allowed.
    std::shared_ptr<NSUUID> advertisingIdentifier() const;
    void setAdvertisingIdentifier(std::shared_ptr<NSUUID> identifier);
    // On by default.
    bool isAdvertisingTrackingEnabled() const;
    void setAdvertisingTrackingEnabled(bool enabled);

private:
    mutable Mutex mutex_;
    mutable std::shared_ptr<NSUUID> identifier_ GUARDED_BY(mutex_);
    bool trackingEnabled_ GUARDED_BY(mutex_) = true;
};
