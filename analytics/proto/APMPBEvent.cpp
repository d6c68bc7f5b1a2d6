// The field table of APMPBEvent.
#include "analytics/proto/APMPBEvent.h"

#include "analytics/proto/APMPBEventParam.h"

const APMPBMessageSchema& APMPBEvent::schema() {
    static const APMPBMessageSchema table("Event", {
        {kParams, 1, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "params", &APMPBEventParam::schema},
        {kName, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "name"},
        {kTimestampMillis, 3, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "timestamp_millis"},
        {kPreviousTimestampMillis, 4, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "previous_timestamp_millis"},
        {kField5, 5, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "field_5"},
    });
    return table;
}
