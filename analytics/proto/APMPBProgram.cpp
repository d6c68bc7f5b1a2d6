// The field table of APMPBProgram.
#include "analytics/proto/APMPBProgram.h"

#include "analytics/proto/APMPBOgtActivities.h"
#include "analytics/proto/APMPBRuntimeEntity.h"

const APMPBMessageSchema& APMPBProgram::schema() {
    static const APMPBMessageSchema table("Program", {
        {kInstructions, 1, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "instructions", &APMPBRuntimeEntity::schema},
        {kActivities, 2, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "activities", &APMPBOgtActivities::schema},
    });
    return table;
}
