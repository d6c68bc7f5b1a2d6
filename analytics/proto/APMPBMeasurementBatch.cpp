// The field table of APMPBMeasurementBatch.
#include "analytics/proto/APMPBMeasurementBatch.h"

#include "analytics/proto/APMPBMeasurementBundle.h"

const APMPBMessageSchema& APMPBMeasurementBatch::schema() {
    static const APMPBMessageSchema table("MeasurementBatch", {
        {kBundles, 1, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "bundles", &APMPBMeasurementBundle::schema},
    });
    return table;
}
