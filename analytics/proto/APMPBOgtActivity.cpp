// The field table of APMPBOgtActivity.
#include "analytics/proto/APMPBOgtActivity.h"

#include "analytics/proto/APMPBRuntimeEntity.h"

const APMPBMessageSchema& APMPBOgtActivity::schema() {
    static const APMPBMessageSchema table("OgtActivity", {
        {kName, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "name"},
        {kData, 2, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "data", &APMPBRuntimeEntity::schema},
    });
    return table;
}
