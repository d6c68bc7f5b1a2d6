// The field table of APMPBEventConfig.
#include "analytics/proto/APMPBEventConfig.h"

const APMPBMessageSchema& APMPBEventConfig::schema() {
    static const APMPBMessageSchema table("EventConfig", {
        {kName, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "name"},
        {kBlocklisted, 2, APMPBFieldTypeOptional | APMPBFieldTypeBool, "blocklisted"},
        {kCustomConversion, 3, APMPBFieldTypeOptional | APMPBFieldTypeBool, "custom_conversion"},
        {kSamplingRate, 4, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "sampling_rate"},
    });
    return table;
}
