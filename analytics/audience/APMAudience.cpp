// Audience definitions, evaluation, session starts and bundling.
#include "analytics/audience/APMAudience.h"

#include "analytics/audience/APMAudienceContext.h"
#include "analytics/audience/APMAudienceDefinitionCheck.h"
#include "analytics/audience/APMAudienceMessages.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/audience/APMFilterComparisons.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMEventFilter.h"
#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMFilterResult.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/core/APMNumericUtil.h"
#include "analytics/core/APMPropertyFilter.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"
#include "analytics/proto/APMPBAudience.h"
#include "analytics/proto/APMPBAudienceLeafFilterResult.h"
#include "analytics/proto/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/proto/APMPBEventFilter.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBFilter.h"
#include "analytics/proto/APMPBNumberFilter.h"
#include "analytics/proto/APMPBPropertyFilter.h"
#include "analytics/proto/APMPBResultData.h"
#include "analytics/proto/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/proto/APMPBStringFilter.h"
#include "analytics/proto/APMPBUserAttribute.h"

#include <cmath>
#include <map>
#include <type_traits>

namespace {

constexpr int kBitsPerWord = 64;


Value eventName(const std::string& name) { return Value(APMDisplayNameForEvent(Value(name))); }
Value propertyName(const std::string& name) { return Value(APMDisplayNameForUserProperty(Value(name))); }

// The two bit sets of a result.
struct Bits {
    std::vector<std::uint64_t> status;
    std::vector<std::uint64_t> results;
};

std::vector<std::uint64_t> words(const std::shared_ptr<APMPBResultData>& data, std::int32_t field) {
    std::vector<std::uint64_t> out;
    for (const Value& word : APMPBMessageGetArray(data, field).value_or(Value::Array{})) {
        out.push_back(word.unsignedLongLongValue());
    }
    return out;
}

Bits bitsOf(const std::shared_ptr<APMPBResultData>& data) {
    return Bits{words(data, APMPBResultData::kStatus), words(data, APMPBResultData::kResults)};
}

void setWords(const std::shared_ptr<APMPBResultData>& data, std::int32_t field, const std::vector<std::uint64_t>& bits) {
    Value::Array items;
    items.reserve(bits.size());
    for (std::uint64_t word : bits) items.push_back(Value(static_cast<unsigned long long>(word)));
    APMPBMessageSetArray(data, field, items);
}

std::uint64_t bitOf(std::int32_t filterID) { return std::uint64_t{1} << (filterID % kBitsPerWord); }

std::shared_ptr<APMPBResultData> decodeCurrent(const std::shared_ptr<APMFilterResult>& result) {
    if (!result || !result->currentResults() || result->currentResults()->empty()) return nullptr;
    return APMPBResultData::initWithBuffer(*result->currentResults());
}

std::optional<NSData> encoded(const std::shared_ptr<APMPBResultData>& data) {
    auto bytes = data ? data->protoBuffer() : std::nullopt;
    if (!bytes) return std::nullopt;
    return std::move(*bytes);
}

// A stored result with its current sets decoded (no data when it has none or they do not decode).
struct CurrentSets {
    std::shared_ptr<APMFilterResult> result;
    std::shared_ptr<APMPBResultData> data;
    Bits bits;
};

CurrentSets currentSetsOf(const std::shared_ptr<APMFilterResult>& result) {
    CurrentSets sets{result, decodeCurrent(result), {}};
    if (sets.data) sets.bits = bitsOf(sets.data);
    return sets;
}

bool isTrueInSets(const CurrentSets& sets, std::int32_t filterID) {
    if (filterID < 0) return false;
    const auto& result = sets.result;
    if (!sets.data) {
        if (result && result->currentResults() && !result->currentResults()->empty()) {
            APMMeasurementMonitor()->logWithLevel(2, 6023,
                                    "Audience filter result is non-nil and is missing status or results array. Audience "
                                    "result will not be bundled. Audience ID, result data",
                                    Value(result->audienceID()), Value(*result->currentResults()));
        }
        return false;
    }
    const Bits& bits = sets.bits;
    if (bits.status.empty() || bits.results.empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 6023,
                                "Audience filter result is non-nil and is missing status or results array. Audience "
                                "result will not be bundled. Audience ID, result data",
                                Value(result->audienceID()), Value(sets.data));
        return false;
    }
    const std::size_t word = static_cast<std::size_t>(filterID / kBitsPerWord);
    if (word >= bits.status.size()) return false;
    const std::uint64_t results = word < bits.results.size() ? bits.results[word] : 0;
    return (bits.status[word] & bitOf(filterID)) && (results & bitOf(filterID));
}

// The result with one filter's bits set from the outcome, starting from `current`'s sets; the
// new result's own sets go to `made`.
std::shared_ptr<APMFilterResult> updatedResult(std::int32_t filterID, std::int32_t audienceID, const CurrentSets& current,
                                               std::optional<bool> newEvaluationResult, APMAudienceTimestampsCache& cache,
                                               CurrentSets* made) {
    Bits bits = current.data ? current.bits : Bits{};
    const std::size_t word = static_cast<std::size_t>(std::max(filterID, 0) / kBitsPerWord);
    // Both sets grow together, so that a word of one always has its word in the other.
    const std::size_t length = std::max({word + 1, bits.status.size(), bits.results.size()});
    bits.status.resize(length, 0);
    bits.results.resize(length, 0);
    const std::uint64_t bit = bitOf(std::max(filterID, 0));
    if (newEvaluationResult) bits.status[word] |= bit;
    else bits.status[word] &= ~bit;
    if (newEvaluationResult == true) bits.results[word] |= bit;
    else bits.results[word] &= ~bit;

    auto data = APMPBResultData::make();
    setWords(data, APMPBResultData::kStatus, bits.status);
    setWords(data, APMPBResultData::kResults, bits.results);
    APMPBMessageSetArray(data, APMPBResultData::kDynamicFilterTimestamps,
                         APMAudienceMessageValues(cache.dynamicTimestampsForAudienceID(audienceID)));
    if (auto sequence = cache.sequenceTimestampsForAudienceID(audienceID)) {
        APMPBMessageSetArray(data, APMPBResultData::kSequenceFilterTimestamps, APMAudienceMessageValues(*sequence));
    }
    const auto& stored = current.result;
    auto result = APMFilterResult::initWithAudienceID(audienceID, encoded(data),
                                                      stored ? stored->previousResults() : std::optional<NSData>());
    if (made) *made = CurrentSets{result, std::move(data), std::move(bits)};
    return result;
}

// MARK: The rules of one filter

// One value filter over one value: true, false or no outcome.
std::optional<bool> evaluateValue(const std::shared_ptr<APMPBFilter>& filter, const APMValue& value) {
    const bool hasNumber = APMPBMessageHasField(filter, APMPBFilter::kNumberFilter);
    const bool hasString = APMPBMessageHasField(filter, APMPBFilter::kStringFilter);
    std::optional<bool> outcome;
    if (!hasNumber && !hasString) {
        APMMeasurementMonitor()->logWithLevel(1, 7000, "Filter has neither a number nor string filter. Audience filter will not be evaluated");
        return std::nullopt;
    }
    if (!hasNumber) {
        const std::string* text = value.stringValue();
        if (!text) {
            APMMeasurementMonitor()->logWithLevel(3, 7003, "Value is not a string. Audience filter will not be evaluated");
            return std::nullopt;
        }
        outcome = APMEvaluateStringFilter(APMPBMessageGetMessage<APMPBStringFilter>(filter, APMPBFilter::kStringFilter), text);
    } else {
        auto number = APMPBMessageGetMessage<APMPBNumberFilter>(filter, APMPBFilter::kNumberFilter);
        if (const std::string* text = value.stringValue()) {
            if (!APMIsDecimalNumberString(*text)) {
                APMMeasurementMonitor()->logWithLevel(3, 7001, "String value is not a numeric value. Audience filter will not be evaluated. Value, filter",
                                        Value(*text), Value(filter));
                return std::nullopt;
            }
            auto decimal = APMDecimalNumberFromString(*text);
            if (!decimal) return std::nullopt;
            outcome = APMEvaluateNumberFilterWithDecimal(number, *decimal);
        } else if (value.isDouble()) {
            if (!std::isfinite(value.doubleValue())) {
                APMMeasurementMonitor()->logWithLevel(3, 7002, "Value is not within double range. Audience filter will not be evaluated");
                return std::nullopt;
            }
            outcome = APMEvaluateNumberFilterWithDouble(number, value.doubleValue());
        } else if (value.isInt64()) {
            outcome = APMEvaluateNumberFilterWithInt64(number, value.int64Value());
        } else {
            return std::nullopt;
        }
    }
    if (outcome && APMPBMessageGetBool(filter, APMPBFilter::kComplement)) outcome = !*outcome;
    return outcome;
}

std::optional<bool> evaluateEventFilter(const std::shared_ptr<APMPBEventFilter>& filter, const std::string& name,
                                        const Value::Dictionary& parameters, const APMEventAggregates& aggregates) {
    if (!filter) {
        APMMeasurementMonitor()->logWithLevel(1, 7004, "Event filter is nil. Audience filter will not be evaluated");
        return std::nullopt;
    }
    if (name.empty()) {
        APMMeasurementMonitor()->logWithLevel(1, 7005, "Event name is nil. Audience filter will not be evaluated");
        return std::nullopt;
    }
    if (APMPBMessageGetString(filter, APMPBEventFilter::kEventName).value_or("") != name) {
        APMMeasurementMonitor()->logWithLevel(1, 7006, "Event filter name does not match event name. Audience filter will not be evaluated");
        return std::nullopt;
    }
    const bool hasCount = APMPBMessageHasField(filter, APMPBEventFilter::kEventCountFilter);
    const auto parameterFilters = APMAudienceMessages<APMPBFilter>(filter, APMPBEventFilter::kFilters);
    if (!hasCount && parameterFilters.empty()) return true;
    if (hasCount) {
        if (aggregates.name() != name) {
            APMMeasurementMonitor()->logWithLevel(1, 7007, "Event aggregates name does not match event name. Audience filter will not be evaluated");
            return std::nullopt;
        }
        const std::int64_t count = APMPBMessageGetBool(filter, APMPBEventFilter::kSessionScoped)
                                       ? aggregates.currentSessionCount()
                                       : aggregates.lifetimeCount();
        const auto outcome = APMEvaluateNumberFilterWithInt64(
            APMPBMessageGetMessage<APMPBNumberFilter>(filter, APMPBEventFilter::kEventCountFilter), count);
        if (outcome != true) return outcome;
    }
    for (const auto& parameterFilter : parameterFilters) {
        const auto parameterName = APMPBMessageGetString(parameterFilter, APMPBFilter::kParamName);
        if (!parameterName || parameterName->empty()) {
            APMMeasurementMonitor()->logWithLevel(1, 7008, "Event filter does not have parameter name. Audience filter will not be evaluated");
            return std::nullopt;
        }
        const Value* parameter = parameters.find(*parameterName);
        auto value = parameter ? parameter->objectAs<APMValue>() : nullptr;
        if (!value) {
            APMMeasurementMonitor()->logWithLevel(3, 7009, "Event does not have parameter required by filter. Audience filter will not be evaluated");
            return std::nullopt;
        }
        if (value->isString() && !APMPBMessageHasField(parameterFilter, APMPBFilter::kStringFilter)) {
            APMMeasurementMonitor()->logWithLevel(3, 7010,
                                    "Event param is a string and the filter does not have a string filter. Audience "
                                    "filter will not be evaluated. Event name, event params, filter",
                                    eventName(name), Value(APMDescriptionForParameters(Value(parameters))),
                                    Value(parameterFilter));
            return std::nullopt;
        }
        const auto outcome = evaluateValue(parameterFilter, *value);
        if (outcome != true) return outcome;
    }
    return true;
}

std::optional<bool> evaluatePropertyFilter(const std::shared_ptr<APMPBPropertyFilter>& filter,
                                           const APMUserAttribute& property) {
    if (!filter) {
        APMMeasurementMonitor()->logWithLevel(1, 7011, "Property filter is nil. Audience filter will not be evaluated");
        return std::nullopt;
    }
    const auto name = APMPBMessageGetString(filter, APMPBPropertyFilter::kPropertyName);
    if (!name || *name != property.name()) {
        APMMeasurementMonitor()->logWithLevel(1, 7013, "User property name does not match property filter name. Audience filter will not be evaluated");
        return std::nullopt;
    }
    if (!APMPBMessageHasField(filter, APMPBPropertyFilter::kFilter)) {
        APMMeasurementMonitor()->logWithLevel(1, 7014, "Property filter does not have filter. Audience filter will not be evaluated");
        return std::nullopt;
    }
    const auto& value = property.value();
    if (!value || !(value->isString() || value->isInt64() || value->isDouble())) {
        APMMeasurementMonitor()->logWithLevel(1, 7015, "Unknown user property type. Audience filter will not be evaluated. Property Name",
                                propertyName(property.name()));
        return std::nullopt;
    }
    return evaluateValue(APMPBMessageGetMessage<APMPBFilter>(filter, APMPBPropertyFilter::kFilter), *value);
}

// The results one evaluation call reads and makes: made ones win, read ones are read once.
class ResultsInHand {
public:
    // `known` holds the results read or written earlier over the same span.
    ResultsInHand(APMDatabase& database, std::map<std::int32_t, std::shared_ptr<APMFilterResult>>& known)
        : database_(database), known_(known) {}

    // False (with the error) when the stored result cannot be read; no stored result is none.
    bool current(std::int32_t audienceID, std::shared_ptr<APMFilterResult>& result, NSErrorPtr* error) {
        if (auto made = updated_.find(audienceID); made != updated_.end()) {
            result = made->second;
            return true;
        }
        if (auto read = known_.find(audienceID); read != known_.end()) {
            result = read->second;
            return true;
        }
        NSErrorPtr readError;
        result = database_.filterResultForAudienceID(audienceID, &readError);
        if (readError) {
            if (error) *error = readError;
            return false;
        }
        known_[audienceID] = result;
        return true;
    }
    void update(std::int32_t audienceID, std::shared_ptr<APMFilterResult> result) {
        updated_[audienceID] = std::move(result);
    }
    std::vector<std::shared_ptr<APMFilterResult>> updated() const {
        std::vector<std::shared_ptr<APMFilterResult>> out;
        for (const auto& [id, result] : updated_) out.push_back(result);
        return out;
    }
    // The updated results were stored: later evaluations over the span start from them.
    void stored() {
        for (const auto& [id, result] : updated_) known_[id] = result;
    }

private:
    APMDatabase& database_;
    std::map<std::int32_t, std::shared_ptr<APMFilterResult>>& known_;
    std::map<std::int32_t, std::shared_ptr<APMFilterResult>> updated_;
};

// The filters stored for `name`, read once over the span of `known`, which keeps them: null when
// they could not be read. Handed out in place, as every event asks for its name's.
template <class Filter, class Read>
const std::vector<std::shared_ptr<Filter>>* filtersNamed(
    std::map<std::string, std::vector<std::shared_ptr<Filter>>>& known, const std::string& name, Read read) {
    if (auto found = known.find(name); found != known.end()) return &found->second;
    auto filters = read();
    if (!filters) return nullptr;
    return &(known[name] = std::move(*filters));
}

}  // namespace

// Filter messages as decoded from their stored bytes, by audience and filter id.
struct APMAudience::DecodedFilters {
    template <class Message>
    struct Entry {
        NSData data;
        std::shared_ptr<Message> message;
    };
    std::map<std::pair<std::int32_t, std::int32_t>, Entry<APMPBEventFilter>> events;
    std::map<std::pair<std::int32_t, std::int32_t>, Entry<APMPBPropertyFilter>> properties;

    // Nothing for no data or data that does not decode.
    template <class Message>
    std::shared_ptr<Message> decode(std::map<std::pair<std::int32_t, std::int32_t>, Entry<Message>>& entries,
                                    std::int32_t audienceID, std::int32_t filterID, const NSData& data) {
        if (data.empty()) return nullptr;
        auto& entry = entries[{audienceID, filterID}];
        if (!entry.message || entry.data != data) {
            entry.data = data;
            entry.message = Message::initWithBuffer(data);
        }
        return entry.message;
    }
    template <class Message>
    std::shared_ptr<Message> decode(std::int32_t audienceID, std::int32_t filterID, const NSData& data) {
        if constexpr (std::is_same_v<Message, APMPBEventFilter>) {
            return decode(events, audienceID, filterID, data);
        } else {
            return decode(properties, audienceID, filterID, data);
        }
    }
};

// Each audience's result as decoded last, while it is the same object: the next event's filters
// of that audience would otherwise decode it again.
struct APMAudience::DecodedResults {
    std::map<std::int32_t, CurrentSets> entries;

    const CurrentSets& of(std::int32_t audienceID, const std::shared_ptr<APMFilterResult>& result) {
        auto& entry = entries[audienceID];
        if (!entry.result || entry.result != result) entry = currentSetsOf(result);
        return entry;
    }
    void remember(std::int32_t audienceID, CurrentSets sets) { entries[audienceID] = std::move(sets); }
};

std::shared_ptr<APMAudience> APMAudience::initWithContext(std::shared_ptr<APMAudienceContext> context) {
    if (!context) return nullptr;
    auto audience = std::make_shared<APMAudience>(std::move(context));
    audience->decoded_ = std::make_shared<DecodedFilters>();
    audience->decodedResults_ = std::make_shared<DecodedResults>();
    return audience;
}

// MARK: Definitions

bool APMAudience::updateAudiences(const std::vector<std::shared_ptr<APMPBAudience>>& audiences) {
    auto database = context_->database();
    if (!database) return false;
    const std::int32_t maxAudiences = context_->maxAudienceCount();
    if (static_cast<std::int64_t>(audiences.size()) > maxAudiences) {
        // The definitions stay as they were; the configuration is not at fault as a whole.
        APMMeasurementMonitor()->logWithLevel(2, 6008, "Configuration contains too many audiences. Audiences will not be saved. Audience count",
                                Value(static_cast<long long>(audiences.size())));
        return true;
    }
    const APMAudienceDefinitionLimits limits{context_->maxFiltersPerAudience(), context_->maxParametersPerFilter()};
    const auto& eventNames = APMInternalEventNamesByPublicName();
    const auto& parameterNames = APMInternalParameterNamesByPublicName();
    const auto& propertyNames = APMInternalUserPropertyNamesByPublicName();
    std::set<std::int32_t> accepted;
    std::vector<std::shared_ptr<APMEventFilter>> eventFilters;
    std::vector<std::shared_ptr<APMPropertyFilter>> propertyFilters;
    for (const auto& audience : audiences) {
        NSErrorPtr error;
        if (!APMAudienceDefinitionCheck(audience, accepted, limits, &error)) {
            APMMeasurementMonitor()->logWithLevel(2, 6009, "Audience definition is invalid. Audience will not be saved. Audience, error",
                                    Value(audience), Value(error));
            continue;
        }
        const std::int32_t audienceID = APMPBMessageGetInt32(audience, APMPBAudience::kAudienceId);
        accepted.insert(audienceID);
        for (const auto& filter : APMAudienceMessages<APMPBEventFilter>(audience, APMPBAudience::kEventFilters)) {
            std::string name = APMPBMessageGetString(filter, APMPBEventFilter::kEventName).value_or("");
            if (auto internal = eventNames.find(name); internal != eventNames.end()) {
                name = internal->second;
                APMPBMessageSetString(filter, APMPBEventFilter::kEventName, name);
            }
            auto parameters = APMAudienceMessages<APMPBFilter>(filter, APMPBEventFilter::kFilters);
            bool renamed = false;
            for (const auto& parameter : parameters) {
                const auto parameterName = APMPBMessageGetString(parameter, APMPBFilter::kParamName).value_or("");
                if (auto internal = parameterNames.find(parameterName); internal != parameterNames.end()) {
                    APMPBMessageSetString(parameter, APMPBFilter::kParamName, internal->second);
                    renamed = true;
                }
            }
            if (renamed) APMPBMessageSetArray(filter, APMPBEventFilter::kFilters, APMAudienceMessageValues(parameters));
            auto data = filter->protoBuffer();
            if (!data) continue;
            eventFilters.push_back(APMEventFilter::initWithAudienceID(
                audienceID, APMPBMessageGetInt32(filter, APMPBEventFilter::kFilterId), name, *data,
                APMPBMessageGetBool(filter, APMPBEventFilter::kSessionScoped),
                APMPBMessageGetBool(filter, APMPBEventFilter::kDynamic),
                APMPBMessageGetBool(filter, APMPBEventFilter::kSequence)));
        }
        for (const auto& filter : APMAudienceMessages<APMPBPropertyFilter>(audience, APMPBAudience::kPropertyFilters)) {
            std::string name = APMPBMessageGetString(filter, APMPBPropertyFilter::kPropertyName).value_or("");
            if (auto internal = propertyNames.find(name); internal != propertyNames.end()) {
                name = internal->second;
                APMPBMessageSetString(filter, APMPBPropertyFilter::kPropertyName, name);
            }
            auto data = filter->protoBuffer();
            if (!data) continue;
            propertyFilters.push_back(APMPropertyFilter::initWithAudienceID(
                audienceID, APMPBMessageGetInt32(filter, APMPBPropertyFilter::kFilterId), name, *data,
                APMPBMessageGetBool(filter, APMPBPropertyFilter::kSessionScoped),
                APMPBMessageGetBool(filter, APMPBPropertyFilter::kDynamic),
                APMPBMessageGetBool(filter, APMPBPropertyFilter::kSequence)));
        }
    }
    if (!maybeDeleteStaleFilterResults(accepted)) return false;
    NSErrorPtr error;
    if (!database->deleteAllEventFilters(&error)) {
        APMMeasurementMonitor()->logWithLevel(1, 6010, "Unable to delete existing Audience event filters. Audiences will not be saved. Error", Value(error));
        return false;
    }
    if (!database->deleteAllPropertyFilters(&error)) {
        APMMeasurementMonitor()->logWithLevel(1, 6011, "Unable to delete existing Audience user property filters. Audiences will not be saved. Error",
                                Value(error));
        return false;
    }
    if (!eventFilters.empty() && !database->updateEventFilters(eventFilters, &error)) {
        APMMeasurementMonitor()->logWithLevel(1, 6012, "Unable to save Audience event filters. Audiences will not be saved. Error", Value(error));
        return false;
    }
    if (!propertyFilters.empty() && !database->updatePropertyFilters(propertyFilters, &error)) {
        APMMeasurementMonitor()->logWithLevel(1, 6013, "Unable to save Audience user property filters. Audiences will not be saved. Error", Value(error));
        return false;
    }
    return true;
}

bool APMAudience::maybeDeleteStaleFilterResults(const std::set<std::int32_t>& audienceIDs) {
    auto database = context_->database();
    if (!database) return false;
    NSErrorPtr error;
    auto results = database->allFilterResults(&error);
    if (!results) {
        APMMeasurementMonitor()->logWithLevel(1, 6015, "Unable to query Audience filter results. Audiences will not be saved. Error", Value(error));
        return false;
    }
    const std::int32_t maxResults = context_->maxFilterResultCount();
    if (static_cast<std::int64_t>(results->size()) <= maxResults) return true;
    APMMeasurementMonitor()->logWithLevel(3, 6016,
                            "Too many Audience filter results. Deleting filter results for deleted Audiences. Filter "
                            "result count, max filter result count",
                            Value(static_cast<long long>(results->size())), Value(maxResults));
    auto current = database->allAudienceIDs(&error);
    if (!current) {
        APMMeasurementMonitor()->logWithLevel(1, 6017, "Unable to query current Audience IDs. Audiences will not be saved. Error", Value(error));
        return false;
    }
    auto stale = *results;
    for (std::int64_t id : *current) stale.erase(static_cast<std::int32_t>(id));
    for (std::int32_t id : audienceIDs) stale.erase(id);
    // Every result belongs to an audience that stays: nothing to delete, and nothing wrong.
    if (stale.empty()) return true;
    std::vector<std::shared_ptr<APMFilterResult>> doomed;
    for (const auto& [id, result] : stale) doomed.push_back(result);
    if (!database->deleteFilterResults(doomed, &error)) {
        APMMeasurementMonitor()->logWithLevel(1, 6018, "Unable to delete stale Audience filter results. Audiences will not be saved. Error", Value(error));
        return false;
    }
    return true;
}

// MARK: Evaluation

bool APMAudience::evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates& eventAggregates,
                                          APMAudienceTimestampsCache* cache) {
    return evaluateFiltersForEventName(event.name(), event.parameters(), eventAggregates, event.timestamp(), cache);
}

bool APMAudience::evaluateFiltersForEventName(const std::string& name, const Value::Dictionary& parameters,
                                              const APMEventAggregates& aggregates, double timestamp,
                                              APMAudienceTimestampsCache* cache) {
    return evaluateFiltersForEventName(
        name, [&]() -> const Value::Dictionary& { return parameters; }, aggregates, timestamp, cache);
}

namespace {

// What tells one kind of filter from the other in a pass over the filters of a name: where its
// filters are read and kept, how one is evaluated, what a false outcome does to a true one, and
// the codes and messages of its failures.
struct FilterKindMessages {
    int readCode;
    const char* readMessage;
    int resultCode;
    const char* resultMessage;
    int corruptCode;
    const char* corruptMessage;
    int saveCode;
    const char* saveMessage;
};

struct EventFilterKind {
    using Filter = APMEventFilter;
    using Message = APMPBEventFilter;
    static constexpr FilterKindMessages messages{
        6000, "Unable to query event filters for event. Event will not be evaluated. Event name, error",
        6001, "Unable to query filter result for audience. Event will not be evaluated. Event name, error",
        6035,
        "Event filter contains no data or corrupt data. Event will not be evaluated. Event name, filter ID, "
        "audience ID, dynamic",
        6003, "Unable to save updated Audience filter results. Event will not be evaluated. Event name, error"};

    const std::string& name;
    const APMAudience::EventParameters& eventParameters;
    const APMEventAggregates& aggregates;
    double timestamp;
    // Asked for once, and only when a filter is evaluated.
    const Value::Dictionary* parameters = nullptr;

    const std::string& subjectName() const { return name; }
    Value subject() const { return eventName(name); }
    auto& known(APMAudienceTimestampsCache::StoredReads& reads) const { return reads.eventFilters; }
    auto read(APMDatabase& database, NSErrorPtr* error) const {
        return database.eventFiltersForEventName(name, error);
    }
    std::optional<bool> evaluate(const std::shared_ptr<Message>& message) {
        if (!parameters) parameters = &eventParameters();
        return evaluateEventFilter(message, name, *parameters, aggregates);
    }
    // An event filter that was true stays true.
    static bool staysTrue(const Filter&) { return true; }
};

struct PropertyFilterKind {
    using Filter = APMPropertyFilter;
    using Message = APMPBPropertyFilter;
    static constexpr FilterKindMessages messages{
        6004, "Unable to query property filters for property. Property will not be evaluated. Property name, error",
        6005, "Unable to query filter result for audience. Property will not be evaluated. Property name, error",
        6036,
        "User property filter contains no data or corrupt data. User property will not be evaluated. User "
        "property name, filter ID, audience ID, dynamic",
        6007,
        "Unable to save updated Audience filter results. User property will not be evaluated. User property "
        "name, error"};

    const APMUserAttribute& property;
    double timestamp;

    const std::string& subjectName() const { return property.name(); }
    Value subject() const { return propertyName(property.name()); }
    auto& known(APMAudienceTimestampsCache::StoredReads& reads) const { return reads.propertyFilters; }
    auto read(APMDatabase& database, NSErrorPtr* error) const {
        return database.propertyFiltersForPropertyName(property.name(), error);
    }
    std::optional<bool> evaluate(const std::shared_ptr<Message>& message) const {
        return evaluatePropertyFilter(message, property);
    }
    // Only a dynamic filter that is not session-scoped follows its property back to false.
    static bool staysTrue(const Filter& filter) { return !(filter.isDynamic() && !filter.isSessionScoped()); }
};

}  // namespace

template <class Kind>
bool APMAudience::evaluateFilters(Kind& kind, APMAudienceTimestampsCache* cache) {
    const FilterKindMessages& messages = Kind::messages;
    auto database = context_->database();
    if (!database) return false;
    NSErrorPtr error;
    APMAudienceTimestampsCache ownCache;
    APMAudienceTimestampsCache& times = cache ? *cache : ownCache;
    auto filters = filtersNamed(kind.known(times.storedReads()), kind.subjectName(),
                                [&] { return kind.read(*database, &error); });
    if (!filters) {
        APMMeasurementMonitor()->logWithLevel(1, messages.readCode, messages.readMessage, kind.subject(), Value(error));
        return false;
    }
    if (filters->empty()) return true;
    ResultsInHand results(*database, times.storedReads().filterResults);
    for (const auto& filter : *filters) {
        const std::int32_t audienceID = filter->audienceID();
        std::shared_ptr<APMFilterResult> current;
        if (!results.current(audienceID, current, &error)) {
            APMMeasurementMonitor()->logWithLevel(1, messages.resultCode, messages.resultMessage, kind.subject(),
                                                  Value(error));
            return false;
        }
        // In place: remembered anew only once the filter is evaluated, after its last use.
        const CurrentSets& sets = decodedResults_->of(audienceID, current);
        const bool wasTrue = isTrueInSets(sets, filter->filterID());
        if (wasTrue && !filter->isDynamic() && !filter->isSequence() && !filter->isSessionScoped()) continue;
        auto message = decoded_->template decode<typename Kind::Message>(audienceID, filter->filterID(), filter->data());
        if (!message || filter->filterID() < 0) {
            APMMeasurementMonitor()->logWithLevel(1, messages.corruptCode, messages.corruptMessage,
                                                  Value::Array{kind.subject(), Value(filter->filterID()),
                                                               Value(audienceID), Value(filter->isDynamic())});
            continue;
        }
        auto outcome = kind.evaluate(message);
        if (!outcome) continue;
        times.populateCachedTimestamps(current, audienceID);
        if (*outcome) {
            times.addEvaluationTimestamp(kind.timestamp, *filter);
        } else if (wasTrue && Kind::staysTrue(*filter)) {
            outcome = true;
        }
        CurrentSets made;
        results.update(audienceID, updatedResult(filter->filterID(), audienceID, sets, outcome, times, &made));
        decodedResults_->remember(audienceID, std::move(made));
    }
    const auto updated = results.updated();
    if (!updated.empty() && !database->updateFilterResults(updated, &error)) {
        APMMeasurementMonitor()->logWithLevel(1, messages.saveCode, messages.saveMessage, kind.subject(), Value(error));
        return false;
    }
    results.stored();
    return true;
}

bool APMAudience::evaluateFiltersForEventName(const std::string& name, const EventParameters& eventParameters,
                                              const APMEventAggregates& aggregates, double timestamp,
                                              APMAudienceTimestampsCache* cache) {
    EventFilterKind kind{name, eventParameters, aggregates, timestamp};
    return evaluateFilters(kind, cache);
}

bool APMAudience::evaluateFiltersForUserProperty(const APMUserAttribute& property, APMAudienceTimestampsCache* cache,
                                                 double evaluationTimestamp) {
    PropertyFilterKind kind{property, evaluationTimestamp};
    return evaluateFilters(kind, cache);
}

bool APMAudience::evaluateFiltersForNanoUserProperty(const std::shared_ptr<APMPBUserAttribute>& message,
                                                     APMAudienceTimestampsCache* cache,
                                                     std::optional<double> evaluationTime) {
    std::shared_ptr<APMValue> value;
    if (APMPBMessageHasField(message, APMPBUserAttribute::kStringValue)) {
        if (auto text = APMPBMessageGetString(message, APMPBUserAttribute::kStringValue)) {
            value = APMValue::initWithString(Value(*text));
        }
    } else if (APMPBMessageHasField(message, APMPBUserAttribute::kDoubleValue)) {
        value = APMValue::initWithDouble(APMPBMessageGetDouble(message, APMPBUserAttribute::kDoubleValue));
    } else if (APMPBMessageHasField(message, APMPBUserAttribute::kIntValue)) {
        value = APMValue::initWithInt64(APMPBMessageGetInt64(message, APMPBUserAttribute::kIntValue));
    }
    std::shared_ptr<APMUserAttribute> property;
    if (value) {
        property = APMUserAttribute::initWithOrigin(
            "", APMPBMessageGetString(message, APMPBUserAttribute::kName).value_or(""), value,
            static_cast<double>(APMPBMessageGetInt64(message, APMPBUserAttribute::kSetTimestampMillis)) / 1000.0);
    }
    if (!property) {
        APMMeasurementMonitor()->logWithLevel(2, 6039, "Could not convert user property from nano format.");
        return false;
    }
    return evaluateFiltersForUserProperty(*property, cache, evaluationTime.value_or(property->lastSetTimestamp()));
}

// MARK: Results

bool APMAudience::isFilterResultTrueForFilterID(const std::shared_ptr<APMFilterResult>& result, std::int32_t filterID) {
    if (filterID < 0) return false;
    return isTrueInSets(currentSetsOf(result), filterID);
}

std::shared_ptr<APMFilterResult> APMAudience::updatedFilterResultWithFilterID(
    std::int32_t filterID, std::int32_t audienceID, const std::shared_ptr<APMFilterResult>& currentFilterResult,
    std::optional<bool> newEvaluationResult, APMAudienceTimestampsCache& cache) {
    return updatedResult(filterID, audienceID, currentSetsOf(currentFilterResult), newEvaluationResult, cache, nullptr);
}

bool APMAudience::clearEvaluationResultsForSessionScopedFilters() {
    auto database = context_->database();
    if (!database) return false;
    NSErrorPtr error;
    auto sessionScoped = database->allSessionScopedFilters(&error);
    if (!sessionScoped) {
        APMMeasurementMonitor()->logWithLevel(1, 6040,
                                "Unable to query all session scoped filters. Session scoped results will not be cleared. Error",
                                Value(error));
        return false;
    }
    auto results = database->allFilterResults(&error);
    if (!results) {
        APMMeasurementMonitor()->logWithLevel(1, 6041, "Unable to query all filter results. Session scoped results will not be cleared. Error",
                                Value(error));
        return false;
    }
    for (const auto& [audienceID, filterIDs] : *sessionScoped) {
        const auto stored = results->find(static_cast<std::int32_t>(audienceID));
        if (stored == results->end()) continue;
        auto data = decodeCurrent(stored->second);
        if (!data) continue;
        Bits bits = bitsOf(data);
        std::set<std::int32_t> cleared;
        for (std::int64_t filterID : filterIDs) {
            if (filterID < 0) continue;
            const auto word = static_cast<std::size_t>(filterID / kBitsPerWord);
            const std::uint64_t bit = bitOf(static_cast<std::int32_t>(filterID));
            if (word < bits.status.size()) bits.status[word] &= ~bit;
            if (word < bits.results.size()) bits.results[word] &= ~bit;
            cleared.insert(static_cast<std::int32_t>(filterID));
        }
        const bool anyLeft = std::any_of(bits.status.begin(), bits.status.end(), [](std::uint64_t w) { return w != 0; });
        if (!anyLeft) {
            if (!database->deleteFilterResults({stored->second}, &error)) {
                APMMeasurementMonitor()->logWithLevel(1, 6042, "Unable to delete filter results. Session scoped results will not be cleared. Error",
                                        Value(error));
                return false;
            }
            continue;
        }
        setWords(data, APMPBResultData::kStatus, bits.status);
        setWords(data, APMPBResultData::kResults, bits.results);
        Value::Array dynamic, sequence;
        for (const Value& item :
             APMPBMessageGetArray<APMPBDynamicFilterResultTimestamp>(data, APMPBResultData::kDynamicFilterTimestamps)
                 .value_or(Value::Array{})) {
            if (!cleared.count(APMPBMessageGetInt32(item.objectAs<APMPBDynamicFilterResultTimestamp>(),
                                                    APMPBDynamicFilterResultTimestamp::kFilterId))) {
                dynamic.push_back(item);
            }
        }
        for (const Value& item :
             APMPBMessageGetArray<APMPBSequenceFilterResultTimestamp>(data, APMPBResultData::kSequenceFilterTimestamps)
                 .value_or(Value::Array{})) {
            if (!cleared.count(APMPBMessageGetInt32(item.objectAs<APMPBSequenceFilterResultTimestamp>(),
                                                    APMPBSequenceFilterResultTimestamp::kFilterId))) {
                sequence.push_back(item);
            }
        }
        APMPBMessageSetArray(data, APMPBResultData::kDynamicFilterTimestamps, dynamic);
        APMPBMessageSetArray(data, APMPBResultData::kSequenceFilterTimestamps, sequence);
        auto updated = APMFilterResult::initWithAudienceID(stored->second->audienceID(), encoded(data),
                                                           stored->second->currentResults());
        if (!database->updateFilterResults({updated}, &error)) {
            APMMeasurementMonitor()->logWithLevel(2, 6043, "Unable to update filter results. Session scoped results will not be cleared. Error",
                                    Value(error));
            return false;
        }
    }
    return true;
}

std::optional<std::vector<std::shared_ptr<APMPBAudienceLeafFilterResult>>> APMAudience::resultsForBundling() {
    auto database = context_->database();
    if (!database) return std::nullopt;
    NSErrorPtr error;
    auto results = database->allFilterResults(&error);
    if (!results) {
        APMMeasurementMonitor()->logWithLevel(1, 6019, "Unable to query Audience filter results. Audience results will not be bundled. Error",
                                Value(error));
        return std::nullopt;
    }
    std::vector<std::shared_ptr<APMPBAudienceLeafFilterResult>> entries;
    std::vector<std::shared_ptr<APMFilterResult>> rolled;
    for (const auto& [audienceID, result] : *results) {
        auto current = decodeCurrent(result);
        if (!current) {
            APMMeasurementMonitor()->logWithLevel(2, 6020, "Current result data is nil. Audience result will not be bundled. Audience ID",
                                    Value(audienceID));
            continue;
        }
        const auto status = words(current, APMPBResultData::kStatus);
        if (std::none_of(status.begin(), status.end(), [](std::uint64_t w) { return w != 0; })) {
            APMMeasurementMonitor()->logWithLevel(2, 6021, "Current result status is 0. Audience result will not be bundled. Audience ID",
                                    Value(audienceID));
            continue;
        }
        auto entry = APMPBAudienceLeafFilterResult::make();
        APMPBMessageSetInt32(entry, APMPBAudienceLeafFilterResult::kAudienceId, audienceID);
        const auto& previousBytes = result->previousResults();
        if (previousBytes && !previousBytes->empty()) {
            APMPBMessageSetBool(entry, APMPBAudienceLeafFilterResult::kNewAudience, false);
            auto previous = APMPBResultData::initWithBuffer(*previousBytes);
            const auto currentEncoded = encoded(current);
            if (previous && encoded(previous) == currentEncoded) {
                // Unchanged since the last bundle: only the last time of the first sequence filter matters now.
                auto sequences = APMAudienceMessages<APMPBSequenceFilterResultTimestamp>(current, APMPBResultData::kSequenceFilterTimestamps);
                if (!sequences.empty()) {
                    auto times = APMPBMessageGetArray(sequences.front(), APMPBSequenceFilterResultTimestamp::kEvalTimestamps)
                                     .value_or(Value::Array{});
                    if (times.size() >= 2) {
                        APMPBMessageSetArray(sequences.front(), APMPBSequenceFilterResultTimestamp::kEvalTimestamps,
                                             Value::Array{times.back()});
                        APMPBMessageSetArray(current, APMPBResultData::kSequenceFilterTimestamps, APMAudienceMessageValues(sequences));
                    }
                }
            } else if (previous) {
                APMPBMessageSetMessage(entry, APMPBAudienceLeafFilterResult::kPreviousData, previous);
            }
        } else {
            APMPBMessageSetBool(entry, APMPBAudienceLeafFilterResult::kNewAudience, true);
        }
        APMPBMessageSetMessage(entry, APMPBAudienceLeafFilterResult::kCurrentData, current);
        entries.push_back(std::move(entry));
        rolled.push_back(APMFilterResult::initWithAudienceID(audienceID, encoded(current), result->currentResults()));
    }
    if (!rolled.empty() && !database->updateFilterResults(rolled, &error)) {
        APMMeasurementMonitor()->logWithLevel(1, 6022, "Unable to save updated Audience filter results. Audience results will not be bundled. Error",
                                Value(error));
        return std::nullopt;
    }
    return entries;
}
