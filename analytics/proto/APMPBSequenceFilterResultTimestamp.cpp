// The field table of APMPBSequenceFilterResultTimestamp.
#include "analytics/proto/APMPBSequenceFilterResultTimestamp.h"

const APMPBMessageSchema& APMPBSequenceFilterResultTimestamp::schema() {
    static const APMPBMessageSchema table("SequenceFilterResultTimestamp", {
        {kFilterId, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "filter_id"},
        {kEvalTimestamps, 2, APMPBFieldTypeRepeated | APMPBFieldTypeInt64, "eval_timestamps"},
    });
    return table;
}
