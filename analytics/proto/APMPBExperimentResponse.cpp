// The field table of APMPBExperimentResponse.
#include "analytics/proto/APMPBExperimentResponse.h"

#include "analytics/proto/APMPBSdkResponse.h"
#include "analytics/proto/APMPBSnapshot.h"

const APMPBMessageSchema& APMPBExperimentResponse::schema() {
    static const APMPBMessageSchema table("ExperimentResponse", {
        {kSnapshots, 1, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "snapshots", &APMPBSnapshot::schema},
        {kSdkResponses, 2, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "sdk_responses", &APMPBSdkResponse::schema},
    });
    return table;
}
