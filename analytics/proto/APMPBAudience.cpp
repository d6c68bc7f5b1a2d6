// The field table of APMPBAudience.
#include "analytics/proto/APMPBAudience.h"

#include "analytics/proto/APMPBEventFilter.h"
#include "analytics/proto/APMPBPropertyFilter.h"

const APMPBMessageSchema& APMPBAudience::schema() {
    static const APMPBMessageSchema table("Audience", {
        {kAudienceId, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "audience_id"},
        {kPropertyFilters, 2, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "property_filters", &APMPBPropertyFilter::schema},
        {kEventFilters, 3, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "event_filters", &APMPBEventFilter::schema},
        {kField4, 4, APMPBFieldTypeOptional | APMPBFieldTypeBool, "field_4"},
        {kField5, 5, APMPBFieldTypeOptional | APMPBFieldTypeBool, "field_5"},
    });
    return table;
}
