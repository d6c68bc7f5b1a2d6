// The platform identity support when present, with a bounded wait for the advertising id.
#include "analytics/measurement/APMDefaultIdentitySupport.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NSProcessInfo.h"

std::shared_ptr<APMDefaultIdentitySupport> APMDefaultIdentitySupport::sharedInstance() {
    static auto* shared = new std::shared_ptr<APMDefaultIdentitySupport>(make());
    return *shared;
}

std::shared_ptr<APMDefaultIdentitySupport> APMDefaultIdentitySupport::make() {
    auto support = std::make_shared<APMDefaultIdentitySupport>();
    support->platform_ = std::dynamic_pointer_cast<APMIdentitySupport>(ClassRegistry::create("APMPlatformIdentitySupport"));
    support->queue_ = DispatchQueue::create("APMDefaultIdentitySupport");
    return support;
}

bool APMDefaultIdentitySupport::iOS14OrAbove() {
    return NSProcessInfo::processInfo()->isOperatingSystemAtLeastVersion({14, 0, 0});
}

bool APMDefaultIdentitySupport::hasAppDataConsentStatus() { return platform_ && platform_->hasAppDataConsentStatus(); }

unsigned long APMDefaultIdentitySupport::appDataConsentStatus() {
    return platform_ ? platform_->appDataConsentStatus() : kUnknownStatus;
}

bool APMDefaultIdentitySupport::hasLimitedAdTracking() { return platform_ && platform_->hasLimitedAdTracking(); }

bool APMDefaultIdentitySupport::limitedAdTracking() {
    if (iOS14OrAbove()) {
        const std::optional<std::string> identifier = resettableDeviceID();
        return !identifier || *identifier == kAPMZeroAdvertisingIdentifier;
    }
    return platform_ && platform_->limitedAdTracking();
}

std::optional<std::string> APMDefaultIdentitySupport::resettableDeviceID() {
    if (!platform_) return std::nullopt;
    auto done = DispatchSemaphore::create(0);
    std::weak_ptr<APMDefaultIdentitySupport> weak = self<APMDefaultIdentitySupport>();
    queue_->async([weak, done] {
        auto support = weak.lock();
        if (!support) return;
        std::optional<std::string> identifier = support->platform_->resettableDeviceID();
        {
            std::lock_guard<std::mutex> lock(support->mutex_);
            support->resettableDeviceID_ = std::move(identifier);
        }
        done->signal();
    });
    done->wait(DispatchTime::after(0.010));
    std::lock_guard<std::mutex> lock(mutex_);
    return resettableDeviceID_;
}
