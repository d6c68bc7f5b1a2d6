// The field table of APMPBRegion.
#include "analytics/proto/APMPBRegion.h"

const APMPBMessageSchema& APMPBRegion::schema() {
    static const APMPBMessageSchema table("Region", {
        {kField1, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "field_1"},
        {kField2, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "field_2"},
    });
    return table;
}
