// The field table of APMPBUserAttribute.
#include "analytics/proto/APMPBUserAttribute.h"

const APMPBMessageSchema& APMPBUserAttribute::schema() {
    static const APMPBMessageSchema table("UserAttribute", {
        {kSetTimestampMillis, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "set_timestamp_millis"},
        {kName, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "name"},
        {kStringValue, 3, APMPBFieldTypeOptional | APMPBFieldTypeString, "string_value"},
        {kIntValue, 4, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "int_value"},
        {kFloatValue, 5, APMPBFieldTypeOptional | APMPBFieldTypeFloat, "float_value"},
        {kDoubleValue, 6, APMPBFieldTypeOptional | APMPBFieldTypeDouble, "double_value"},
    });
    return table;
}
