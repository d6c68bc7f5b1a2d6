// The field table of APMPBMeasurementBundle.
#include "analytics/proto/APMPBMeasurementBundle.h"

#include "analytics/proto/APMPBAudienceLeafFilterResult.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBUserAttribute.h"

const APMPBMessageSchema& APMPBMeasurementBundle::schema() {
    static const APMPBMessageSchema table("MeasurementBundle", {
        {kProtocolVersion, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "protocol_version"},
        {kEvents, 2, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "events", &APMPBEvent::schema},
        {kUserAttributes, 3, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "user_attributes", &APMPBUserAttribute::schema},
        {kUploadTimestampMillis, 4, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "upload_timestamp_millis"},
        {kStartTimestampMillis, 5, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "start_timestamp_millis"},
        {kEndTimestampMillis, 6, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "end_timestamp_millis"},
        {kPreviousBundleStartTimestampMillis, 26, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "previous_bundle_start_timestamp_millis"},
        {kPreviousBundleEndTimestampMillis, 7, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "previous_bundle_end_timestamp_millis"},
        {kPlatform, 8, APMPBFieldTypeOptional | APMPBFieldTypeString, "platform"},
        {kOsVersion, 9, APMPBFieldTypeOptional | APMPBFieldTypeString, "os_version"},
        {kDeviceModel, 10, APMPBFieldTypeOptional | APMPBFieldTypeString, "device_model"},
        {kUserDefaultLanguage, 11, APMPBFieldTypeOptional | APMPBFieldTypeString, "user_default_language"},
        {kTimezoneOffsetMinutes, 12, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "timezone_offset_minutes"},
        {kAppStore, 13, APMPBFieldTypeOptional | APMPBFieldTypeString, "app_store"},
        {kAppId, 14, APMPBFieldTypeOptional | APMPBFieldTypeString, "app_id"},
        {kField15, 15, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "field_15"},
        {kAppVersion, 16, APMPBFieldTypeOptional | APMPBFieldTypeString, "app_version"},
        {kLibraryVersion, 17, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "library_version"},
        {kUploadLibraryVersion, 18, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "upload_library_version"},
        {kResettableDeviceId, 19, APMPBFieldTypeOptional | APMPBFieldTypeString, "resettable_device_id"},
        {kVendorDeviceId, 27, APMPBFieldTypeOptional | APMPBFieldTypeString, "vendor_device_id"},
        {kLimitedAdTracking, 20, APMPBFieldTypeOptional | APMPBFieldTypeBool, "limited_ad_tracking"},
        {kAppInstanceId, 21, APMPBFieldTypeOptional | APMPBFieldTypeString, "app_instance_id"},
        {kField22, 22, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "field_22"},
        {kBundleIndex, 23, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "bundle_index"},
        {kMonitoringData, 24, APMPBFieldTypeOptional | APMPBFieldTypeString, "monitoring_data"},
        {kVuvAppId, 25, APMPBFieldTypeOptional | APMPBFieldTypeString, "vuv_app_id"},
        {kField28, 28, APMPBFieldTypeOptional | APMPBFieldTypeBool, "field_28"},
        {kAudienceEvaluationResults, 29, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "audience_evaluation_results", &APMPBAudienceLeafFilterResult::schema},
        {kRezaviviInstallationId, 30, APMPBFieldTypeOptional | APMPBFieldTypeString, "rezavivi_installation_id"},
        {kAppVersionMajor, 31, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "app_version_major"},
        {kAppVersionMinor, 32, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "app_version_minor"},
        {kAppVersionRelease, 33, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "app_version_release"},
        {kField34, 34, APMPBFieldTypeOptional | APMPBFieldTypeString, "field_34"},
        {kConfigVersion, 35, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "config_version"},
        {kRetryCount, 39, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "retry_count"},
        {kZevivAppId, 41, APMPBFieldTypeOptional | APMPBFieldTypeString, "zeviv_app_id"},
        {kExperimentIds, 45, APMPBFieldTypeRepeated | APMPBFieldTypeUInt32, "experiment_ids"},
        {kChecksum, 47, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "checksum"},
        {kField50, 50, APMPBFieldTypeOptional | APMPBFieldTypeString, "field_50"},
        {kConsentSignals, 52, APMPBFieldTypeOptional | APMPBFieldTypeString, "consent_signals"},
        {kTrackingAuthorizationStatus, 53, APMPBFieldTypeOptional | APMPBFieldTypeEnum, "tracking_authorization_status"},
        {kField55, 55, APMPBFieldTypeOptional | APMPBFieldTypeBool, "field_55"},
        {kField63, 63, APMPBFieldTypeOptional | APMPBFieldTypeString, "field_63"},
        {kRedactedFields, 64, APMPBFieldTypeRepeated | APMPBFieldTypeString, "redacted_fields"},
        {kEphemeralAppInstanceId, 65, APMPBFieldTypeOptional | APMPBFieldTypeString, "ephemeral_app_instance_id"},
    });
    return table;
}
