// The field table of APMPBExperiment.
#include "analytics/proto/APMPBExperiment.h"

#include "analytics/proto/APMPBFlag.h"

const APMPBMessageSchema& APMPBExperiment::schema() {
    static const APMPBMessageSchema table("Experiment", {
        {kExperimentId, 1, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "experiment_id"},
        {kFlags, 2, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "flags", &APMPBFlag::schema},
    });
    return table;
}
