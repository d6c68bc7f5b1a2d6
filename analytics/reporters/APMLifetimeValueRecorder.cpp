// Lifetime value totals in the database's user properties, with checked arithmetic.
#include "analytics/reporters/APMLifetimeValueRecorder.h"

#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMUserAttribute.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSDecimalNumber.h"
#include "platform/foundation/NSString.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr const char* kLifetimeValuePrefix = "_ltv_";

std::shared_ptr<APMValue> parameter(const APMEvent& event, std::string_view key) {
    const Value& value = event.parameters().get(key);
    return value.isObject() ? value.objectAs<APMValue>() : nullptr;
}

// A double within the int64 range, truncated toward zero; nothing otherwise.
std::optional<std::int64_t> truncated(double value) {
    if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

// round(value × 1,000,000) of an ecommerce event's value, as a decimal number.
std::optional<std::int64_t> ecommerceMicros(const APMValue& value) {
    std::shared_ptr<NSDecimalNumber> decimal;
    if (value.isInt64()) {
        decimal = NSDecimalNumber::initWithLongLong(value.int64Value());
    } else {
        char text[64];
        const auto written = std::to_chars(text, text + sizeof text, value.doubleValue());
        if (written.ec != std::errc()) return std::nullopt;
        decimal = NSDecimalNumber::decimalNumberWithString(std::string(text, written.ptr));
    }
    if (!decimal || decimal->isNotANumber()) return std::nullopt;
    return decimal->decimalNumberByMultiplyingBy(*NSDecimalNumber::initWithLongLong(1000000))
        ->decimalNumberByRoundingToInteger()
        ->int64Value();
}

std::optional<std::int64_t> amountOf(const APMEvent& event, const APMValue& value) {
    if (APMLifetimeValueRecorder::isEcommercePurchaseEvent(event)) {
        auto micros = ecommerceMicros(value);
        if (!micros) return std::nullopt;
        if (event.name() != "refund") return micros;
        if (*micros == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
        return -*micros;
    }
    if (event.name() == "_iap") return value.isInt64() ? std::optional(value.int64Value()) : truncated(value.doubleValue());
    return 0;
}

}  // namespace

bool APMLifetimeValueRecorder::isEcommercePurchaseEvent(const APMEvent& event) {
    const std::string& name = event.name();
    return name == "ecommerce_purchase" || name == "purchase" || name == "refund";
}

bool APMLifetimeValueRecorder::isPurchaseEvent(const APMEvent& event) {
    return event.name() == "_iap" || isEcommercePurchaseEvent(event);
}

bool APMLifetimeValueRecorder::recordLifetimeValueToDatabase(APMDatabase& database, const APMEvent& event,
                                                             std::int32_t maxTrackedCurrencies) {
    if (!isPurchaseEvent(event)) return true;
    auto log = APMMeasurementMonitor();
    const auto currency = parameter(event, "currency");
    if (!currency || !currency->isString() || NSString::utf16Length(*currency->stringValue()) != 3) {
        log->logWithLevel(1, 22000, "Cannot record transaction with invalid currency code",
                          currency ? currency->value() : Value());
        return true;
    }
    const auto value = parameter(event, "value");
    if (!value || !(value->isDouble() || value->isInt64())) {
        log->logWithLevel(1, 22001, "Cannot record transaction with invalid transaction value",
                          value ? value->value() : Value());
        return true;
    }
    const std::optional<std::int64_t> amount = amountOf(event, *value);
    if (!amount) {
        log->logWithLevel(1, 22002, "Cannot record transaction with value that is out of bounds", value->value());
        return false;
    }
    const std::string name = kLifetimeValuePrefix + NSString::uppercaseString(*currency->stringValue());

    NSErrorPtr error;
    auto stored = database.allLifetimeValueUserAttributes(&error);
    if (!stored) {
        log->logWithLevel(1, 22003, "Failed to query all Lifetime Value User properties. Error", Value(error));
        return false;
    }
    std::shared_ptr<APMUserAttribute> existing;
    for (const auto& attribute : *stored) {
        if (attribute->name() == name) existing = attribute;
    }
    std::int64_t total = *amount;
    if (existing) {
        const auto& held = existing->value();
        const std::optional<std::int64_t> before =
            !held ? std::optional<std::int64_t>(0) : held->isInt64() ? held->int64Value() : truncated(held->doubleValue());
        if (!before || __builtin_add_overflow(*before, *amount, &total)) {
            log->logWithLevel(1, 22002, "Cannot record transaction with value that is out of bounds", value->value());
            return false;
        }
    } else {
        // Oldest last: as many give way as it takes to make room, should the limit have shrunk.
        const std::size_t limit = static_cast<std::size_t>(std::max<std::int32_t>(maxTrackedCurrencies, 1));
        for (std::size_t count = stored->size(); count >= limit; --count) {
            const std::string& oldest = (*stored)[count - 1]->name();
            error.reset();
            if (!database.deleteUserAttributeWithName(oldest, &error)) {
                log->logWithLevel(1, 22004, "Unable to delete Lifetime Value User property. Name, error", Value(oldest),
                                  Value(error));
                return false;
            }
        }
    }
    auto attribute = std::make_shared<APMUserAttribute>("auto", name, APMValue::initWithInt64(total), Clock::now());
    error.reset();
    if (!database.updateUserAttribute(attribute, &error)) {
        log->logWithLevel(1, 22005, "Unable to upsert Lifetime Value User Attribute in database. Name, error",
                          Value(name), Value(error));
        return false;
    }
    log->logWithLevel(7, 22006, "Lifetime value has been updated in database", Value(name),
                      Value(static_cast<long long>(total)));
    return true;
}
