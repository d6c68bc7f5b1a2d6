// The field table of APMPBEventParam.
#include "analytics/proto/APMPBEventParam.h"

const APMPBMessageSchema& APMPBEventParam::schema() {
    static const APMPBMessageSchema table("EventParam", {
        {kName, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "name"},
        {kStringValue, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "string_value"},
        {kIntValue, 3, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "int_value"},
        {kFloatValue, 4, APMPBFieldTypeOptional | APMPBFieldTypeFloat, "float_value"},
        {kDoubleValue, 5, APMPBFieldTypeOptional | APMPBFieldTypeDouble, "double_value"},
        {kParamValue, 6, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "param_value", &APMPBEventParam::schema},
    });
    return table;
}
