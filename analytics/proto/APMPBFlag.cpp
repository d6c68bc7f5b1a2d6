// The field table of APMPBFlag.
#include "analytics/proto/APMPBFlag.h"

const APMPBMessageSchema& APMPBFlag::schema() {
    static const APMPBMessageSchema table("Flag", {
        {kName, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "name"},
        {kIntValue, 2, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "int_value"},
        {kStringValue, 3, APMPBFieldTypeOptional | APMPBFieldTypeString, "string_value"},
        {kDoubleValue, 4, APMPBFieldTypeOptional | APMPBFieldTypeDouble, "double_value"},
        {kBoolValue, 5, APMPBFieldTypeOptional | APMPBFieldTypeBool, "bool_value"},
    });
    return table;
}
