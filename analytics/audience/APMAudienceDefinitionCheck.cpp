// The audience definition check.
#include "analytics/audience/APMAudienceDefinitionCheck.h"
#include "analytics/audience/APMAudienceMessages.h"

#include "analytics/audience/APMFilterComparisons.h"
#include "analytics/core/APMError.h"
#include "analytics/proto/APMPBAudience.h"
#include "analytics/proto/APMPBEventFilter.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBFilter.h"
#include "analytics/proto/APMPBNumberFilter.h"
#include "analytics/proto/APMPBPropertyFilter.h"
#include "analytics/proto/APMPBStringFilter.h"

namespace {

bool refuse(NSErrorPtr* error, long code, const char* reason) {
    APMSetError(error, code, reason);
    return false;
}

bool hasText(APMPBConstMessageRef message, std::int32_t field) {
    const auto text = APMPBMessageGetString(message, field);
    return text && !text->empty();
}

// The filter id is present, in range and not used yet by this audience; it is recorded.
bool checkFilterID(APMPBConstMessageRef filter, std::int32_t field, std::set<std::int32_t>& usedIDs,
                   const APMAudienceDefinitionLimits& limits, long code, const char* missing, const char* outOfRange,
                   const char* duplicate, NSErrorPtr* error) {
    if (!APMPBMessageHasField(filter, field)) return refuse(error, code, missing);
    const std::int32_t id = APMPBMessageGetInt32(filter, field);
    if (id < 0 || id >= limits.maxFiltersPerAudience) return refuse(error, code, outOfRange);
    if (!usedIDs.insert(id).second) return refuse(error, code, duplicate);
    return true;
}

bool checkEventFilter(const std::shared_ptr<APMPBEventFilter>& filter, std::set<std::int32_t>& usedIDs,
                      const APMAudienceDefinitionLimits& limits, NSErrorPtr* error) {
    constexpr long code = kAPMAudienceDefinitionEventFilterError;
    if (!hasText(filter, APMPBEventFilter::kEventName)) return refuse(error, code, "Event filter missing event name");
    if (!checkFilterID(filter, APMPBEventFilter::kFilterId, usedIDs, limits, code, "Missing event filter ID",
                       "Event filter ID is out of range", "Duplicate event filter ID", error)) {
        return false;
    }
    if (APMPBMessageHasField(filter, APMPBEventFilter::kEventCountFilter)) {
        auto count = APMPBMessageGetMessage<APMPBNumberFilter>(filter, APMPBEventFilter::kEventCountFilter);
        if (APMPBMessageGetBool(count, APMPBNumberFilter::kMatchAsFloat)) {
            return refuse(error, code, "Event filter has float event count filter");
        }
        if (!APMIsValidNumberFilter(count)) return refuse(error, code, "Event filter has invalid event count filter");
    }
    const auto parameters = APMAudienceMessages<APMPBFilter>(filter, APMPBEventFilter::kFilters);
    if (static_cast<std::int64_t>(parameters.size()) > limits.maxParametersPerFilter) {
        return refuse(error, code, "Event filter parameters filters count out of range");
    }
    for (const auto& parameter : parameters) {
        if (!hasText(parameter, APMPBFilter::kParamName)) return refuse(error, code, "Event filter missing parameter name");
        const bool number = APMPBMessageHasField(parameter, APMPBFilter::kNumberFilter);
        const bool string = APMPBMessageHasField(parameter, APMPBFilter::kStringFilter);
        if (number == string) return refuse(error, code, "Event filter must have exactly one of number or string filter");
        if (number && !APMIsValidNumberFilter(APMPBMessageGetMessage<APMPBNumberFilter>(parameter, APMPBFilter::kNumberFilter))) {
            return refuse(error, code, "Event filter has invalid number filter");
        }
        if (string && !APMIsValidStringFilter(APMPBMessageGetMessage<APMPBStringFilter>(parameter, APMPBFilter::kStringFilter))) {
            return refuse(error, code, "Event filter has invalid string filter");
        }
    }
    return true;
}

bool checkPropertyFilter(const std::shared_ptr<APMPBPropertyFilter>& filter, std::set<std::int32_t>& usedIDs,
                         const APMAudienceDefinitionLimits& limits, NSErrorPtr* error) {
    constexpr long code = kAPMAudienceDefinitionPropertyFilterError;
    constexpr const char* exactlyOne = "Property filter must have exactly one of number or string filter";
    if (!hasText(filter, APMPBPropertyFilter::kPropertyName)) {
        return refuse(error, code, "Property filter missing property name");
    }
    if (!checkFilterID(filter, APMPBPropertyFilter::kFilterId, usedIDs, limits, code, "Missing property filter ID",
                       "Property filter ID is out of range", "Duplicate property filter ID", error)) {
        return false;
    }
    if (!APMPBMessageHasField(filter, APMPBPropertyFilter::kFilter)) return refuse(error, code, "Property filter has no filter");
    auto value = APMPBMessageGetMessage<APMPBFilter>(filter, APMPBPropertyFilter::kFilter);
    const bool number = APMPBMessageHasField(value, APMPBFilter::kNumberFilter);
    const bool string = APMPBMessageHasField(value, APMPBFilter::kStringFilter);
    if (number == string) return refuse(error, code, exactlyOne);
    // The service's own text for a number filter that fails its check.
    if (number && !APMIsValidNumberFilter(APMPBMessageGetMessage<APMPBNumberFilter>(value, APMPBFilter::kNumberFilter))) {
        return refuse(error, code, exactlyOne);
    }
    if (string && !APMIsValidStringFilter(APMPBMessageGetMessage<APMPBStringFilter>(value, APMPBFilter::kStringFilter))) {
        return refuse(error, code, "Property filter has invalid string filter");
    }
    return true;
}

}  // namespace

bool APMAudienceDefinitionCheck(const std::shared_ptr<APMPBAudience>& audience,
                                const std::set<std::int32_t>& acceptedAudienceIDs,
                                const APMAudienceDefinitionLimits& limits, NSErrorPtr* error) {
    constexpr long code = kAPMAudienceDefinitionAudienceError;
    if (!audience || !APMPBMessageHasField(audience, APMPBAudience::kAudienceId)) {
        return refuse(error, code, "Missing audience ID");
    }
    const std::int32_t id = APMPBMessageGetInt32(audience, APMPBAudience::kAudienceId);
    if (id < 0) return refuse(error, code, "Audience ID is negative");
    if (acceptedAudienceIDs.count(id)) return refuse(error, code, "Duplicate audience ID");
    const auto eventFilters = APMAudienceMessages<APMPBEventFilter>(audience, APMPBAudience::kEventFilters);
    const auto propertyFilters = APMAudienceMessages<APMPBPropertyFilter>(audience, APMPBAudience::kPropertyFilters);
    if (eventFilters.empty() && propertyFilters.empty()) return refuse(error, code, "Audience missing filters arrays");
    const auto total = static_cast<std::int64_t>(eventFilters.size() + propertyFilters.size());
    if (total < 1 || total > limits.maxFiltersPerAudience) return refuse(error, code, "Audience filter count out of range");
    std::set<std::int32_t> usedIDs;
    for (const auto& filter : eventFilters) {
        if (!checkEventFilter(filter, usedIDs, limits, error)) return false;
    }
    for (const auto& filter : propertyFilters) {
        if (!checkPropertyFilter(filter, usedIDs, limits, error)) return false;
    }
    return true;
}
