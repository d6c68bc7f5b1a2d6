// The advertising and tracking services by name.
#include "analytics/measurement/APMPlatformIdentitySupport.h"

#include "platform/adsupport/ASIdentifierManager.h"
#include "platform/adsupport/ATTrackingManager.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/ProcessShared.h"

namespace {
ProcessShared<APMPlatformIdentitySupport> gPlatformIdentitySupport;
}  // namespace

std::shared_ptr<APMPlatformIdentitySupport> APMPlatformIdentitySupport::sharedInstance() {
    return gPlatformIdentitySupport.get([] { return make(); });
}

bool APMPlatformIdentitySupport::hasSharedInstance() { return gPlatformIdentitySupport.current() != nullptr; }

void APMPlatformIdentitySupport::resetSharedInstance() { (void)gPlatformIdentitySupport.take(); }

std::shared_ptr<APMPlatformIdentitySupport> APMPlatformIdentitySupport::make() {
    auto support = std::make_shared<APMPlatformIdentitySupport>();
    support->hasTrackingManagerClass_ = ClassRegistry::isRegistered("ATTrackingManager");
    if (support->hasTrackingManagerClass_) {
        support->trackingManager_ = std::dynamic_pointer_cast<ATTrackingManager>(ClassRegistry::create("ATTrackingManager"));
    }
    support->identifierManager_ =
        std::dynamic_pointer_cast<ASIdentifierManager>(ClassRegistry::create("ASIdentifierManager"));
    return support;
}

bool APMPlatformIdentitySupport::hasAppDataConsentStatus() { return hasTrackingManagerClass_; }

unsigned long APMPlatformIdentitySupport::appDataConsentStatus() {
    return trackingManager_ ? trackingManager_->trackingAuthorizationStatus() : kUnknownStatus;
}

bool APMPlatformIdentitySupport::hasLimitedAdTracking() { return identifierManager_ != nullptr; }

bool APMPlatformIdentitySupport::limitedAdTracking() {
    return identifierManager_ && !identifierManager_->isAdvertisingTrackingEnabled();
}

std::optional<std::string> APMPlatformIdentitySupport::resettableDeviceID() {
    if (!identifierManager_) return std::nullopt;
    auto identifier = identifierManager_->advertisingIdentifier();
    if (!identifier) return std::nullopt;
    return identifier->UUIDString();
}
