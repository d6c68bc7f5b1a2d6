// The field table of APMPBRuntimeEntity.
#include "analytics/proto/APMPBRuntimeEntity.h"

const APMPBMessageSchema& APMPBRuntimeEntity::schema() {
    static const APMPBMessageSchema table("RuntimeEntity", {
        {kType, 1, APMPBFieldTypeOptional | APMPBFieldTypeEnum, "type"},
        {kValue, 2, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "value", &APMPBRuntimeEntity::schema},
        {kFunctionName, 3, APMPBFieldTypeOptional | APMPBFieldTypeString, "function_name"},
        {kStringValue, 4, APMPBFieldTypeOptional | APMPBFieldTypeString, "string_value"},
        {kBooleanValue, 5, APMPBFieldTypeOptional | APMPBFieldTypeBool, "boolean_value"},
        {kNumberValue, 6, APMPBFieldTypeOptional | APMPBFieldTypeDouble, "number_value"},
    });
    return table;
}
