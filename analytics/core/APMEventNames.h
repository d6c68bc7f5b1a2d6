// The engine's event-name tables, failure-code names, the ecommerce and default-conversion
// name lists, and the public-name test.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// Public event name -> internal short name (33 entries), built once.
const std::map<std::string, std::string>& APMInternalEventNamesByPublicName();
// Internal short name -> public name, the inverse of the table above ("_cmp" -> "va_campaign").
const std::map<std::string, std::string>& APMPublicEventNamesByInternalName();
// The public names of the table that the application may still log: {"ad_impression": "_ai"}.
const std::map<std::string, std::string>& APMAllowedReservedPublicEventNames();
// Failure code (the value of "_err") -> its name, 0 "NoError" to 23.
const std::map<std::int64_t, std::string>& APMFailureCodeNames();

// A non-empty string not beginning with "_". A non-string logs 18002 and an empty string 18003.
bool APMIsPublicName(const Value& name);

// Every name but "_err".
bool APMIsNotErrorEventName(std::string_view name);
// The 20 ecommerce event names.
bool APMIsEcommerceEventName(std::string_view name);
// The 33 parameter names an ecommerce event and its items may carry.
bool APMIsEcommerceParameterName(std::string_view name);
// "ecommerce_purchase", "_f", "_iap", "purchase", "refund": marked as conversions when written.
bool APMIsDefaultConversionEventName(std::string_view name);
