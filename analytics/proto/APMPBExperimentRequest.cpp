// The field table of APMPBExperimentRequest.
#include "analytics/proto/APMPBExperimentRequest.h"

#include "analytics/proto/APMPBAppProperty.h"
#include "analytics/proto/APMPBClientProperty.h"

const APMPBMessageSchema& APMPBExperimentRequest::schema() {
    static const APMPBMessageSchema table("ExperimentRequest", {
        {kAppProperty, 1, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "app_property", &APMPBAppProperty::schema},
        {kClientProperties, 2, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "client_properties", &APMPBClientProperty::schema},
    });
    return table;
}
