// Bundle bookkeeping of the app_metadata row.
#include "analytics/core/APMAppMetadata.h"

#include "analytics/core/APMMonitor.h"

#include <limits>

std::shared_ptr<APMAppMetadata> APMAppMetadata::initWithLastBundleIndex(std::int32_t lastBundleIndex,
                                                                        double lastBundleStartTimestamp,
                                                                        double lastBundleEndTimestamp) {
    if (lastBundleIndex < 0) {
        APMMeasurementMonitor()->logWithLevel(
            2, 4000, "Failed to create app metadata object. Received negative last bundle index.");
        return nullptr;
    }
    return std::make_shared<APMAppMetadata>(lastBundleIndex, lastBundleStartTimestamp, lastBundleEndTimestamp);
}

void APMAppMetadata::incrementLastBundleIndex() {
    if (lastBundleIndex_ == std::numeric_limits<std::int32_t>::max()) {
        lastBundleIndex_ = 0;
        APMMeasurementMonitor()->logWithLevel(5, 4001, "Bundle index overflow. Bundle index reset to 0.");
        return;
    }
    ++lastBundleIndex_;
}
