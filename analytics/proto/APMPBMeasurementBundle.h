// One bundle of events with its device, application and identity metadata and audience results.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBMeasurementBundle final : public APMPBMessage<APMPBMeasurementBundle> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kProtocolVersion = 0,
        kEvents = 1,
        kUserAttributes = 2,
        kUploadTimestampMillis = 3,
        kStartTimestampMillis = 4,
        kEndTimestampMillis = 5,
        kPreviousBundleStartTimestampMillis = 6,
        kPreviousBundleEndTimestampMillis = 7,
        kPlatform = 8,
        kOsVersion = 9,
        kDeviceModel = 10,
        kUserDefaultLanguage = 11,
        kTimezoneOffsetMinutes = 12,
        kAppStore = 13,
        kAppId = 14,
        kField15 = 15,
        kAppVersion = 16,
        kLibraryVersion = 17,
        kUploadLibraryVersion = 18,
        kResettableDeviceId = 19,
        kVendorDeviceId = 20,
        kLimitedAdTracking = 21,
        kAppInstanceId = 22,
        kField22 = 23,
        kBundleIndex = 24,
        kMonitoringData = 25,
        kVuvAppId = 26,
        kField28 = 27,
        kAudienceEvaluationResults = 28,
        kRezaviviInstallationId = 29,
        kAppVersionMajor = 30,
        kAppVersionMinor = 31,
        kAppVersionRelease = 32,
        kField34 = 33,
        kConfigVersion = 34,
        kRetryCount = 35,
        kZevivAppId = 36,
        kExperimentIds = 37,
        kChecksum = 38,
        kField50 = 39,
        kConsentSignals = 40,
        kTrackingAuthorizationStatus = 41,
        kField55 = 42,
        kField63 = 43,
        kRedactedFields = 44,
        kEphemeralAppInstanceId = 45,
    };
};
