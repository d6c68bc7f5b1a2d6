// The field table of APMPBSnapshot.
#include "analytics/proto/APMPBSnapshot.h"

#include "analytics/proto/APMPBExperiment.h"

const APMPBMessageSchema& APMPBSnapshot::schema() {
    static const APMPBMessageSchema table("Snapshot", {
        {kSdkName, 1, APMPBFieldTypeOptional | APMPBFieldTypeString, "sdk_name"},
        {kExperiments, 2, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "experiments", &APMPBExperiment::schema},
    });
    return table;
}
