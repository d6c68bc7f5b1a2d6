// The device's advertising and tracking services, reached by name ("ATTrackingManager",
// "ASIdentifierManager") so the engine runs where they are not linked. Found as they are
// registered when it is made.
#pragma once

#include "analytics/measurement/APMIdentitySupport.h"
#include "platform/foundation/NSObject.h"

#include <memory>

class ASIdentifierManager;
class ATTrackingManager;

class APMPlatformIdentitySupport : public NSObject, public APMIdentitySupport {
public:
    // The process's one, made on first use over the classes registered then.
    static std::shared_ptr<APMPlatformIdentitySupport> sharedInstance();
    // Whether there is one, without making it; forgetting it (tests) lets the next be made over
    // the classes registered then, as a new process would.
    static bool hasSharedInstance();
    static void resetSharedInstance();
    static std::shared_ptr<APMPlatformIdentitySupport> make();

    // The tracking class is registered.
    bool hasAppDataConsentStatus() override;
    // Its status, all ones when it does not answer.
    unsigned long appDataConsentStatus() override;
    // The identifier manager is there.
    bool hasLimitedAdTracking() override;
    // Advertising tracking is off.
    bool limitedAdTracking() override;
    // The advertising identifier's text.
    std::optional<std::string> resettableDeviceID() override;

private:
    bool hasTrackingManagerClass_ = false;
    std::shared_ptr<ATTrackingManager> trackingManager_;
    std::shared_ptr<ASIdentifierManager> identifierManager_;
};
