// Raw event records.
#include "analytics/core/APMRawEventData.h"

#include "analytics/core/APMMonitor.h"

std::shared_ptr<APMRawEventData> APMRawEventData::initWithRawEvent(const std::shared_ptr<APMEvent>& rawEvent,
                                                                   std::int64_t rowID,
                                                                   std::int64_t metadataFingerprint) {
    if (!rawEvent) {
        APMMeasurementMonitor()->logWithLevel(4, 28000, "Failed to create raw event data. Received invalid raw event.");
        return nullptr;
    }
    if (rowID < 0) {
        APMMeasurementMonitor()->logWithLevel(4, 28001,
                                              "Failed to create raw event data. Received invalid row ID. Row ID",
                                              Value(static_cast<long long>(rowID)));
        return nullptr;
    }
    return std::make_shared<APMRawEventData>(rawEvent, rowID, metadataFingerprint);
}
