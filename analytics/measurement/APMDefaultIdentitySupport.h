// The engine's door to the advertising and tracking services: the platform support when the
// class "APMPlatformIdentitySupport" is registered, else answers of its absence. Reads of the
// advertising identifier wait at most 10 milliseconds for the platform, answering the last
// value read when it is slower.
#pragma once

#include "analytics/measurement/APMIdentitySupport.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <memory>
#include <mutex>

class DispatchQueue;

class APMDefaultIdentitySupport : public NSObject, public APMIdentitySupport {
public:
    static std::shared_ptr<APMDefaultIdentitySupport> sharedInstance();
    // Whether it is made, and forgetting it with the platform support and identifier it holds,
    // as a new process would start (tests).
    static bool hasSharedInstance();
    static void resetSharedInstance();
    // Looks the platform support up now.
    static std::shared_ptr<APMDefaultIdentitySupport> make();
    // System 14.0 or later.
    static bool iOS14OrAbove();

    bool hasAppDataConsentStatus() override;
    unsigned long appDataConsentStatus() override;
    bool hasLimitedAdTracking() override;
    // From 14.0 on: no identifier, or the all-zero one.
    bool limitedAdTracking() override;
    std::optional<std::string> resettableDeviceID() override;

    static constexpr const char* kPlatformClassName = "APMPlatformIdentitySupport";
    // The registered platform support, made once while the class stays registered.
    std::shared_ptr<APMIdentitySupport> platformIdentitySupport();

private:
    std::shared_ptr<APMIdentitySupport> platform_;
    std::shared_ptr<DispatchQueue> queue_;
    Mutex mutex_;
    std::optional<std::string> resettableDeviceID_ GUARDED_BY(mutex_);
};

inline constexpr const char* kAPMZeroAdvertisingIdentifier = "00000000-0000-0000-0000-000000000000";
