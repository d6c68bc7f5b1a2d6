// The field table of APMPBResultData.
#include "analytics/proto/APMPBResultData.h"

#include "analytics/proto/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/proto/APMPBSequenceFilterResultTimestamp.h"

const APMPBMessageSchema& APMPBResultData::schema() {
    static const APMPBMessageSchema table("ResultData", {
        {kStatus, 1, APMPBFieldTypeRepeated | APMPBFieldTypeUInt64, "status"},
        {kResults, 2, APMPBFieldTypeRepeated | APMPBFieldTypeUInt64, "results"},
        {kDynamicFilterTimestamps, 3, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "dynamic_filter_timestamps", &APMPBDynamicFilterResultTimestamp::schema},
        {kSequenceFilterTimestamps, 4, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "sequence_filter_timestamps", &APMPBSequenceFilterResultTimestamp::schema},
    });
    return table;
}
