// The platform identity support when present, with a bounded wait for the advertising id.
#include "analytics/measurement/APMDefaultIdentitySupport.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/ProcessShared.h"

namespace {
ProcessShared<APMDefaultIdentitySupport> gDefaultIdentitySupport;
}  // namespace

std::shared_ptr<APMDefaultIdentitySupport> APMDefaultIdentitySupport::sharedInstance() {
    return gDefaultIdentitySupport.get([] { return make(); });
}

bool APMDefaultIdentitySupport::hasSharedInstance() { return gDefaultIdentitySupport.current() != nullptr; }

void APMDefaultIdentitySupport::resetSharedInstance() { (void)gDefaultIdentitySupport.take(); }

std::shared_ptr<APMDefaultIdentitySupport> APMDefaultIdentitySupport::make() {
    auto support = std::make_shared<APMDefaultIdentitySupport>();
    support->queue_ = DispatchQueue::create("APMDefaultIdentitySupport");
    return support;
}

bool APMDefaultIdentitySupport::iOS14OrAbove() {
    return NSProcessInfo::processInfo()->isOperatingSystemAtLeastVersion({14, 0, 0});
}

std::shared_ptr<APMIdentitySupport> APMDefaultIdentitySupport::platformIdentitySupport() {
    // Follows the registry: the class may be registered, or go, after this object was made.
    MutexLock lock(mutex_);
    if (!ClassRegistry::isRegistered(kPlatformClassName)) {
        platform_.reset();
    } else if (!platform_) {
        platform_ = std::dynamic_pointer_cast<APMIdentitySupport>(ClassRegistry::create(kPlatformClassName));
    }
    return platform_;
}

bool APMDefaultIdentitySupport::hasAppDataConsentStatus() {
    auto platform = platformIdentitySupport();
    return platform && platform->hasAppDataConsentStatus();
}

unsigned long APMDefaultIdentitySupport::appDataConsentStatus() {
    auto platform = platformIdentitySupport();
    return platform ? platform->appDataConsentStatus() : kUnknownStatus;
}

bool APMDefaultIdentitySupport::hasLimitedAdTracking() {
    auto platform = platformIdentitySupport();
    return platform && platform->hasLimitedAdTracking();
}

bool APMDefaultIdentitySupport::limitedAdTracking() {
    if (iOS14OrAbove()) {
        const std::optional<std::string> identifier = resettableDeviceID();
        return !identifier || *identifier == kAPMZeroAdvertisingIdentifier;
    }
    auto platform = platformIdentitySupport();
    return platform && platform->limitedAdTracking();
}

std::optional<std::string> APMDefaultIdentitySupport::resettableDeviceID() {
    auto platform = platformIdentitySupport();
    if (!platform) return std::nullopt;
    auto done = DispatchSemaphore::create(0);
    std::weak_ptr<APMDefaultIdentitySupport> weak = self<APMDefaultIdentitySupport>();
    queue_->async([weak, done, platform] {
        auto support = weak.lock();
        if (!support) return;
        std::optional<std::string> identifier = platform->resettableDeviceID();
        {
            MutexLock lock(support->mutex_);
            support->resettableDeviceID_ = std::move(identifier);
        }
        done->signal();
    });
    // Past the bound the id read before (if any) is answered.
    (void)done->wait(DispatchTime::after(0.010));
    MutexLock lock(mutex_);
    return resettableDeviceID_;
}
