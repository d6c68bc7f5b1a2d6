// The field table of APMPBMeasurementConfig.
#include "analytics/proto/APMPBMeasurementConfig.h"

#include "analytics/proto/APMPBAudience.h"
#include "analytics/proto/APMPBDataControl.h"
#include "analytics/proto/APMPBEventConfig.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/proto/APMPBSetting.h"

const APMPBMessageSchema& APMPBMeasurementConfig::schema() {
    static const APMPBMessageSchema table("MeasurementConfig", {
        {kVersion, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "version"},
        {kVuvAppId, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "vuv_app_id"},
        {kField3, 3, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "field_3"},
        {kSettings, 4, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "settings", &APMPBSetting::schema},
        {kEventConfig, 5, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "event_config", &APMPBEventConfig::schema},
        {kAudiences, 6, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "audiences", &APMPBAudience::schema},
        {kZevivAppId, 7, APMPBFieldTypeOptional | APMPBFieldTypeString, "zeviv_app_id"},
        {kField8, 8, APMPBFieldTypeOptional | APMPBFieldTypeBool, "field_8"},
        // Programs nest as deep as the service writes them: each is decoded when it is loaded.
        {kDynamicEventEditing, 9, APMPBFieldTypeRepeated | APMPBFieldTypeMessage | APMPBFieldTypeDecodedOnRead,
         "dynamic_event_editing", &APMPBProgram::schema},
        {kDataControls, 10, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "data_controls", &APMPBDataControl::schema},
        {kUploadSubdomain, 11, APMPBFieldTypeOptional | APMPBFieldTypeString, "upload_subdomain"},
    });
    return table;
}
