// The field table of APMPBEventFilter.
#include "analytics/proto/APMPBEventFilter.h"

#include "analytics/proto/APMPBFilter.h"
#include "analytics/proto/APMPBNumberFilter.h"

const APMPBMessageSchema& APMPBEventFilter::schema() {
    static const APMPBMessageSchema table("EventFilter", {
        {kFilterId, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "filter_id"},
        {kEventName, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "event_name"},
        {kFilters, 3, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "filters", &APMPBFilter::schema},
        {kField4, 4, APMPBFieldTypeOptional | APMPBFieldTypeBool, "field_4"},
        {kEventCountFilter, 5, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "event_count_filter", &APMPBNumberFilter::schema},
        {kDynamic, 6, APMPBFieldTypeOptional | APMPBFieldTypeBool, "dynamic"},
        {kSequence, 7, APMPBFieldTypeOptional | APMPBFieldTypeBool, "sequence"},
        {kSessionScoped, 8, APMPBFieldTypeOptional | APMPBFieldTypeBool, "session_scoped"},
    });
    return table;
}
