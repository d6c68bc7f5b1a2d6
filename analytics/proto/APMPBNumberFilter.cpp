// The field table of APMPBNumberFilter.
#include "analytics/proto/APMPBNumberFilter.h"

const APMPBMessageSchema& APMPBNumberFilter::schema() {
    static const APMPBMessageSchema table("NumberFilter", {
        {kComparisonType, 1, APMPBFieldTypeOptional | APMPBFieldTypeEnum, "comparison_type"},
        {kMatchAsFloat, 2, APMPBFieldTypeOptional | APMPBFieldTypeBool, "match_as_float"},
        {kComparisonValue, 3, APMPBFieldTypeOptional | APMPBFieldTypeString, "comparison_value"},
        {kMinComparisonValue, 4, APMPBFieldTypeOptional | APMPBFieldTypeString, "min_comparison_value"},
        {kMaxComparisonValue, 5, APMPBFieldTypeOptional | APMPBFieldTypeString, "max_comparison_value"},
    });
    return table;
}
