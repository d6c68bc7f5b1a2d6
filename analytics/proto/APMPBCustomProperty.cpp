// The field table of APMPBCustomProperty.
#include "analytics/proto/APMPBCustomProperty.h"

const APMPBMessageSchema& APMPBCustomProperty::schema() {
    static const APMPBMessageSchema table("CustomProperty", {
        {kKey, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "key"},
        {kValue, 2, APMPBFieldTypeOptional | APMPBFieldTypeString, "value"},
    });
    return table;
}
