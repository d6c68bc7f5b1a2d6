// The field table of APMPBDynamicFilterResultTimestamp.
#include "analytics/proto/APMPBDynamicFilterResultTimestamp.h"

const APMPBMessageSchema& APMPBDynamicFilterResultTimestamp::schema() {
    static const APMPBMessageSchema table("DynamicFilterResultTimestamp", {
        {kFilterId, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "filter_id"},
        {kTimestamp, 2, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "timestamp"},
    });
    return table;
}
