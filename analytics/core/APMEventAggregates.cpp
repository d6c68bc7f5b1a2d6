// Event counters with their overflow rule.
#include "analytics/core/APMEventAggregates.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMMonitor.h"

#include <limits>

namespace {

void increment(std::int32_t& count, std::int64_t code, const char* message) {
    if (count == std::numeric_limits<std::int32_t>::max()) {
        count = 0;
        APMMeasurementMonitor()->logWithLevel(5, code, message);
        return;
    }
    ++count;
}

}  // namespace

APMEventAggregates::APMEventAggregates(std::string name) : name_(std::move(name)) {}

std::shared_ptr<APMEventAggregates> APMEventAggregates::initWithName(const std::string& name,
                                                                     std::int32_t lifetimeCount,
                                                                     std::int32_t currentBundleCount,
                                                                     std::int32_t currentSessionCount,
                                                                     double lastFireTimestamp) {
    if (!APMDataTypeValidator::isValidInternalEventName(Value(name), nullptr)) return nullptr;
    if (lifetimeCount < 0 || currentBundleCount < 0 || currentSessionCount < 0) {
        APMMeasurementMonitor()->logWithLevel(5, 17000, "Failed to create event aggregates object. Received negative count.");
        return nullptr;
    }
    auto aggregates = std::make_shared<APMEventAggregates>(name);
    aggregates->lifetimeCount_ = lifetimeCount;
    aggregates->currentBundleCount_ = currentBundleCount;
    aggregates->currentSessionCount_ = currentSessionCount;
    aggregates->lastFireTimestamp_ = lastFireTimestamp;
    return aggregates;
}

void APMEventAggregates::incrementLifetimeCount() {
    increment(lifetimeCount_, 17001, "Lifetime count overflow. Lifetime count reset to 0.");
}

void APMEventAggregates::incrementCurrentBundleCount() {
    increment(currentBundleCount_, 17002, "Bundle count overflow. Bundle count reset to 0.");
}

void APMEventAggregates::incrementCurrentSessionCount() {
    increment(currentSessionCount_, 17003, "Session count overflow. Session count reset to 0.");
}
