// Per-name 1-in-N sampling of a bundle's events, as the measurement configuration asks: a kept
// event carries its rate ("_sr") so that the service can scale counts back up, and the first
// event of a name on each account day is always kept, marked exempt ("_efs"). The per-name
// state lives in the event aggregates rows, written inside the caller's transaction.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class APMDatabase;
class APMMonitor;
class APMPBEvent;
class APMRemoteConfig;

class APMEventSampler {
public:
    using Events = std::vector<std::shared_ptr<APMPBEvent>>;

    APMEventSampler(APMDatabase& database, APMRemoteConfig& config, APMMonitor& monitor)
        : database_(database), config_(config), monitor_(monitor) {}

    // The kept events in their order; nothing, with the error, when the database fails.
    [[nodiscard]] std::optional<Events> sampleEvents(const Events& events, NSErrorPtr* error);
    // Sampling is on and the event's name has a rate above 1.
    bool canEventBeSampled(const APMPBEvent& event);
    // True with probability 1 / rate.
    static bool isEventBundledAfterRoll(std::int32_t rate);
    // Whole days since 1970 in the account's time zone.
    static std::int32_t accountDay(double timestamp, std::int32_t offsetMinutes);

private:
    APMDatabase& database_;
    APMRemoteConfig& config_;
    APMMonitor& monitor_;
};
