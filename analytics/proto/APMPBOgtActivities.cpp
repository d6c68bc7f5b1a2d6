// The field table of APMPBOgtActivities.
#include "analytics/proto/APMPBOgtActivities.h"

#include "analytics/proto/APMPBOgtActivity.h"

const APMPBMessageSchema& APMPBOgtActivities::schema() {
    static const APMPBMessageSchema table("OgtActivities", {
        {kActivities, 1, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "activities", &APMPBOgtActivity::schema},
    });
    return table;
}
