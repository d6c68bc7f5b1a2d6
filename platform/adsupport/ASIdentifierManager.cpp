// The advertising identifier stand-in.
#include "platform/adsupport/ASIdentifierManager.h"

std::shared_ptr<ASIdentifierManager> ASIdentifierManager::sharedManager() {
    static auto* manager = new std::shared_ptr<ASIdentifierManager>(std::make_shared<ASIdentifierManager>());
    return *manager;
}

std::shared_ptr<NSUUID> ASIdentifierManager::advertisingIdentifier() const {
    MutexLock lock(mutex_);
    if (!identifier_) identifier_ = NSUUID::UUID();
    return identifier_;
}

void ASIdentifierManager::setAdvertisingIdentifier(std::shared_ptr<NSUUID> identifier) {
    MutexLock lock(mutex_);
    identifier_ = std::move(identifier);
}

bool ASIdentifierManager::isAdvertisingTrackingEnabled() const {
    MutexLock lock(mutex_);
    return trackingEnabled_;
}

void ASIdentifierManager::setAdvertisingTrackingEnabled(bool enabled) {
    MutexLock lock(mutex_);
    trackingEnabled_ = enabled;
}
