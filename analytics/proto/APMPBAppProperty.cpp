// The field table of APMPBAppProperty.
#include "analytics/proto/APMPBAppProperty.h"

const APMPBMessageSchema& APMPBAppProperty::schema() {
    static const APMPBMessageSchema table("AppProperty", {
        {kPlatform, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "platform"},
        {kField2, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "field_2"},
        {kField3, 3, APMPBFieldTypeOptional | APMPBFieldTypeString, "field_3"},
        {kLanguage, 4, APMPBFieldTypeOptional | APMPBFieldTypeString, "language"},
        {kBundleId, 5, APMPBFieldTypeOptional | APMPBFieldTypeString, "bundle_id"},
        {kFromAppStore, 6, APMPBFieldTypeOptional | APMPBFieldTypeBool, "from_app_store"},
        {kSdkVersion, 7, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "sdk_version"},
    });
    return table;
}
