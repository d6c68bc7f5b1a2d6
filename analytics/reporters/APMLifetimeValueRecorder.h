// The running total of what the user spent, per currency: the user properties "_ltv_<CUR>"
// (origin "auto", int64 millionths of the currency unit), at most maxTrackedCurrencies of them,
// the one set longest ago giving way to a new currency. Runs on the engine's worker queue
// inside the write pipeline's transaction.
#pragma once

#include <cstdint>

class APMDatabase;
class APMEvent;

class APMLifetimeValueRecorder {
public:
    // False only when the database work failed, or the amount or the new total does not fit
    // an int64 (the total is never wrapped); the event is then not stored either.
    [[nodiscard]] static bool recordLifetimeValueToDatabase(APMDatabase& database, const APMEvent& event,
                                                            std::int32_t maxTrackedCurrencies);
    // "_iap" and the ecommerce purchase events.
    static bool isPurchaseEvent(const APMEvent& event);
    // "ecommerce_purchase", "purchase" and "refund".
    static bool isEcommercePurchaseEvent(const APMEvent& event);
};
