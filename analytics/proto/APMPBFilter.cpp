// The field table of APMPBFilter.
#include "analytics/proto/APMPBFilter.h"

#include "analytics/proto/APMPBNumberFilter.h"
#include "analytics/proto/APMPBStringFilter.h"

const APMPBMessageSchema& APMPBFilter::schema() {
    static const APMPBMessageSchema table("Filter", {
        {kStringFilter, 1, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "string_filter", &APMPBStringFilter::schema},
        {kNumberFilter, 2, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "number_filter", &APMPBNumberFilter::schema},
        {kComplement, 3, APMPBFieldTypeOptional | APMPBFieldTypeBool, "complement"},
        {kParamName, 4, APMPBFieldTypeOptional | APMPBFieldTypeString, "param_name"},
    });
    return table;
}
