// The field table of APMPBSetting.
#include "analytics/proto/APMPBSetting.h"

const APMPBMessageSchema& APMPBSetting::schema() {
    static const APMPBMessageSchema table("Setting", {
        {kName, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "name"},
        {kValue, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "value"},
    });
    return table;
}
