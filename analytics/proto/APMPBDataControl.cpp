// The field table of APMPBDataControl.
#include "analytics/proto/APMPBDataControl.h"

#include "analytics/proto/APMPBRegion.h"

const APMPBMessageSchema& APMPBDataControl::schema() {
    static const APMPBMessageSchema table("DataControl", {
        {kName, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "name"},
        {kOptOutRegions, 2, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "opt_out_regions", &APMPBRegion::schema},
        {kField3, 3, APMPBFieldTypeOptional | APMPBFieldTypeBool, "field_3"},
    });
    return table;
}
