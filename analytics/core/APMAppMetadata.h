// The index and time span of the last bundle built, kept in the single app_metadata row.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>

class APMAppMetadata : public NSObject {
public:
    // Nil (and logged) for a negative index.
    [[nodiscard]] static std::shared_ptr<APMAppMetadata> initWithLastBundleIndex(std::int32_t lastBundleIndex,
                                                                                 double lastBundleStartTimestamp,
                                                                                 double lastBundleEndTimestamp);

    std::int32_t lastBundleIndex() const { return lastBundleIndex_; }
    // Adds one; at INT32_MAX the index starts again at 0.
    void incrementLastBundleIndex();
    double lastBundleStartTimestamp() const { return lastBundleStartTimestamp_; }
    void setLastBundleStartTimestamp(double value) { lastBundleStartTimestamp_ = value; }
    double lastBundleEndTimestamp() const { return lastBundleEndTimestamp_; }
    void setLastBundleEndTimestamp(double value) { lastBundleEndTimestamp_ = value; }

    APMAppMetadata(std::int32_t lastBundleIndex, double start, double end)
        : lastBundleIndex_(lastBundleIndex), lastBundleStartTimestamp_(start), lastBundleEndTimestamp_(end) {}

private:
    std::int32_t lastBundleIndex_;
    double lastBundleStartTimestamp_;
    double lastBundleEndTimestamp_;
};
