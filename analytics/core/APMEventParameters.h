// Operations on event parameter dictionaries (name -> value): sanitising on creation, the
// public-parameter count and trimming, the value-and-currency rule, screen parameters, and
// the "_err" / "_ev" / "_el" failure record, in which the first failure wins.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The remote configuration's limit of public parameters per event; 25 until the engine
// installs its reader (an empty function restores the default).
void APMSetMaxPublicEventParamsProvider(std::function<std::int64_t()> provider);
std::int64_t APMMaxPublicEventParams();

// "_si", "_sc" or "_sn" is present.
bool APMHasScreenParameters(const Value::Dictionary& parameters);
// Those of "_sn", "_sc" and "_si" that are present.
Value::Dictionary APMScreenParametersFromParameters(const Value::Dictionary& parameters);

// Keys not beginning with "_", without the ecommerce parameter names when `skipEcommerce`.
std::int64_t APMCountPublicParameters(const Value::Dictionary& parameters, bool skipEcommerce);
// Over the limit, removes public keys from the last in sorted order backwards (sparing the
// ecommerce names when `keepEcommerce`) until the count is within it.
void APMTrimPublicParameters(Value::Dictionary& parameters, std::int64_t limit, bool keepEcommerce);

// The parameters an event may keep, every value an APMValue: invalid names and values are
// dropped and the first failure is recorded; arrays only as the "items" of ecommerce events
// (their items sanitised as nested dictionaries); public parameters trimmed to the limit.
// Empty for an empty dictionary. `eventName` is absent for default parameters.
Value::Dictionary APMSanitizeEventParameters(const Value::Dictionary& parameters,
                                             const std::optional<std::string>& eventName, bool isPublic,
                                             bool isNested);

// Without "value" it passes. A non-numeric "value", or one without a 3-letter "currency", is
// removed with failure 18 or 19 recorded; then false.
bool APMCheckValueAndCurrency(Value::Dictionary& parameters);

// "_err" = code unless "_err" is present.
void APMSetErrorCodeIfAbsent(Value::Dictionary& parameters, std::int64_t code);
// When none of "_err", "_ev", "_el" is present: "_err" = code and the value parameters below.
void APMRecordParameterError(Value::Dictionary& parameters, std::int64_t code, const Value& name,
                             std::int64_t limit, const Value& value);
// Unless "_ev" or "_el" is present: "_ev" = the name (cut to `limit` UTF-32 units and "..."
// when longer; a non-text by its class name, null as "(nil)"); with a non-null value, "_el" =
// its UTF-32 length (text), item count (array) or 0.
void APMSetErrorValueParameters(Value::Dictionary& parameters, const Value& name, std::int64_t limit,
                                const Value& value);
