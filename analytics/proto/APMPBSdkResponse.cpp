// The field table of APMPBSdkResponse.
#include "analytics/proto/APMPBSdkResponse.h"

#include "analytics/proto/APMPBSnapshot.h"

const APMPBMessageSchema& APMPBSdkResponse::schema() {
    static const APMPBMessageSchema table("SdkResponse", {
        {kSdkName, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "sdk_name"},
        {kStatus, 2, APMPBFieldTypeOptional | APMPBFieldTypeEnum, "status"},
        {kSnapshot, 3, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "snapshot", &APMPBSnapshot::schema},
    });
    return table;
}
