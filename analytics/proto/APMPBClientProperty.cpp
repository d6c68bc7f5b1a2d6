// The field table of APMPBClientProperty.
#include "analytics/proto/APMPBClientProperty.h"

#include "analytics/proto/APMPBCustomProperty.h"

const APMPBMessageSchema& APMPBClientProperty::schema() {
    static const APMPBMessageSchema table("ClientProperty", {
        {kSdkName, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "sdk_name"},
        {kDiversionId, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "diversion_id"},
        {kSdkVersion, 3, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "sdk_version"},
        {kAppId, 4, APMPBFieldTypeOptional | APMPBFieldTypeString, "app_id"},
        {kCustomProperties, 5, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "custom_properties", &APMPBCustomProperty::schema},
    });
    return table;
}
