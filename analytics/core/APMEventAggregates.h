// The per-event-name counters the database keeps: lifetime, bundle and session counts, the
// last fire and bundling times and the sampling state of the last bundling.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class APMEventAggregates : public NSObject {
public:
    // Nil for an invalid internal name or a negative count.
    [[nodiscard]] static std::shared_ptr<APMEventAggregates> initWithName(const std::string& name,
                                                                          std::int32_t lifetimeCount,
                                                                          std::int32_t currentBundleCount,
                                                                          std::int32_t currentSessionCount,
                                                                          double lastFireTimestamp);

    const std::string& name() const { return name_; }
    std::int32_t lifetimeCount() const { return lifetimeCount_; }
    std::int32_t currentBundleCount() const { return currentBundleCount_; }
    std::int32_t currentSessionCount() const { return currentSessionCount_; }
    // Each wraps to 0 at INT32_MAX.
    void incrementLifetimeCount();
    void incrementCurrentBundleCount();
    void incrementCurrentSessionCount();

    double lastFireTimestamp() const { return lastFireTimestamp_; }
    void setLastFireTimestamp(double value) { lastFireTimestamp_ = value; }
    double lastBundledTimestamp() const { return lastBundledTimestamp_; }
    void setLastBundledTimestamp(double value) { lastBundledTimestamp_ = value; }
    const std::optional<std::int64_t>& lastSampledComplexEventID() const { return lastSampledComplexEventID_; }
    void setLastSampledComplexEventID(std::optional<std::int64_t> value) { lastSampledComplexEventID_ = value; }
    std::int32_t lastSamplingRate() const { return lastSamplingRate_; }
    void setLastSamplingRate(std::int32_t value) { lastSamplingRate_ = value; }
    bool lastExemptFromSampling() const { return lastExemptFromSampling_; }
    void setLastExemptFromSampling(bool value) { lastExemptFromSampling_ = value; }
    std::int32_t lastBundledDay() const { return lastBundledDay_; }
    void setLastBundledDay(std::int32_t value) { lastBundledDay_ = value; }

    explicit APMEventAggregates(std::string name);

private:
    std::string name_;
    std::int32_t lifetimeCount_ = 0;
    std::int32_t currentBundleCount_ = 0;
    std::int32_t currentSessionCount_ = 0;
    double lastFireTimestamp_ = 0;
    double lastBundledTimestamp_ = 0;
    std::optional<std::int64_t> lastSampledComplexEventID_;
    std::int32_t lastSamplingRate_ = 1;
    bool lastExemptFromSampling_ = false;
    std::int32_t lastBundledDay_ = 0;
};
