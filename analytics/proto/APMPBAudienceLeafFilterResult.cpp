// The field table of APMPBAudienceLeafFilterResult.
#include "analytics/proto/APMPBAudienceLeafFilterResult.h"

#include "analytics/proto/APMPBResultData.h"

const APMPBMessageSchema& APMPBAudienceLeafFilterResult::schema() {
    static const APMPBMessageSchema table("AudienceLeafFilterResult", {
        {kAudienceId, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "audience_id"},
        {kCurrentData, 2, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "current_data", &APMPBResultData::schema},
        {kPreviousData, 3, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "previous_data", &APMPBResultData::schema},
        {kNewAudience, 4, APMPBFieldTypeOptional | APMPBFieldTypeBool, "new_audience"},
    });
    return table;
}
