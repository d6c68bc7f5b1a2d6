// The field table of APMPBStringFilter.
#include "analytics/proto/APMPBStringFilter.h"

const APMPBMessageSchema& APMPBStringFilter::schema() {
    static const APMPBMessageSchema table("StringFilter", {
        {kMatchType, 1, APMPBFieldTypeOptional | APMPBFieldTypeEnum, "match_type"},
        {kExpression, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "expression"},
        {kCaseSensitive, 3, APMPBFieldTypeOptional | APMPBFieldTypeBool, "case_sensitive"},
        {kExpressionList, 4, APMPBFieldTypeRepeated | APMPBFieldTypeString, "expression_list"},
    });
    return table;
}
