// The field table of APMPBPropertyFilter.
#include "analytics/proto/APMPBPropertyFilter.h"

#include "analytics/proto/APMPBFilter.h"

const APMPBMessageSchema& APMPBPropertyFilter::schema() {
    static const APMPBMessageSchema table("PropertyFilter", {
        {kFilterId, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "filter_id"},
        {kPropertyName, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "property_name"},
        {kFilter, 3, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "filter", &APMPBFilter::schema},
        {kDynamic, 4, APMPBFieldTypeOptional | APMPBFieldTypeBool, "dynamic"},
        {kSequence, 5, APMPBFieldTypeOptional | APMPBFieldTypeBool, "sequence"},
        {kSessionScoped, 6, APMPBFieldTypeOptional | APMPBFieldTypeBool, "session_scoped"},
    });
    return table;
}
