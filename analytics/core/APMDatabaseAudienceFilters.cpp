// Audience event and property filters, and the per-audience filter results.
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMEventFilter.h"
#include "analytics/core/APMFilterResult.h"
#include "analytics/core/APMPropertyFilter.h"
#include "analytics/proto/APMPBEventFilter.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBPropertyFilter.h"
#include "platform/foundation/NSString.h"

#include <set>

namespace {

// Long OR chains hit SQLite's expression depth limit (1000): delete in slices well below it.
constexpr std::size_t kDeleteChunkSize = 250;

std::int32_t int32Column(const APMDatabase::Row& row, const char* column) {
    return static_cast<std::int32_t>(row.get(column).longLongValue());
}

std::shared_ptr<NSObject> filterResultFromRow(const APMDatabase::Row& row, NSErrorPtr* error) {
    if (!APMCheckSuccess(!row.empty(), error, APMErrorStorage, "Received empty dictionary for getting filter result")) {
        return nullptr;
    }
    auto data = [&](const char* column) -> std::optional<NSData> {
        const Value& value = row.get(column);
        if (!value.isData()) return std::nullopt;
        return value.data();
    };
    return APMFilterResult::initWithAudienceID(int32Column(row, "audience_id"), data("current_results"),
                                               data("previous_results"));
}

std::shared_ptr<NSObject> eventFilterFromRow(const APMDatabase::Row& row, NSErrorPtr* error) {
    if (!APMCheckSuccess(!row.empty(), error, APMErrorStorage, "Received empty dictionary for getting event filter")) {
        return nullptr;
    }
    const NSData& data = row.get("data").data();
    // The flags come from the message; the column serves the session-scoped queries only.
    auto message = APMPBEventFilter::initWithBuffer(data);
    return APMEventFilter::initWithAudienceID(
        int32Column(row, "audience_id"), int32Column(row, "filter_id"), row.get("event_name").stringValue(), data,
        message && APMPBMessageGetBool(message, APMPBEventFilter::kSessionScoped),
        message && APMPBMessageGetBool(message, APMPBEventFilter::kDynamic),
        message && APMPBMessageGetBool(message, APMPBEventFilter::kSequence));
}

std::shared_ptr<NSObject> propertyFilterFromRow(const APMDatabase::Row& row, NSErrorPtr* error) {
    if (!APMCheckSuccess(!row.empty(), error, APMErrorStorage,
                         "Received empty dictionary for getting property filter")) {
        return nullptr;
    }
    const NSData& data = row.get("data").data();
    auto message = APMPBPropertyFilter::initWithBuffer(data);
    return APMPropertyFilter::initWithAudienceID(
        int32Column(row, "audience_id"), int32Column(row, "filter_id"), row.get("property_name").stringValue(), data,
        message && APMPBMessageGetBool(message, APMPBPropertyFilter::kSessionScoped),
        message && APMPBMessageGetBool(message, APMPBPropertyFilter::kDynamic),
        message && APMPBMessageGetBool(message, APMPBPropertyFilter::kSequence));
}

template <class T>
std::optional<std::vector<std::shared_ptr<T>>> cast(std::optional<std::vector<std::shared_ptr<NSObject>>> objects) {
    if (!objects) return std::nullopt;
    std::vector<std::shared_ptr<T>> out;
    for (auto& object : *objects) out.push_back(std::static_pointer_cast<T>(object));
    return out;
}

}  // namespace

std::optional<std::map<std::int32_t, std::shared_ptr<APMFilterResult>>> APMDatabase::allFilterResults(
    NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto objects = cast<APMFilterResult>(allDataTypesFromTableWithName("audience_filter_values", -1, error,
                                                                       filterResultFromRow));
    // A failed read is not "no results": the caller would go on to delete or keep results it never saw.
    if (!objects) return std::nullopt;
    std::map<std::int32_t, std::shared_ptr<APMFilterResult>> results;
    for (auto& result : *objects) results[result->audienceID()] = result;
    return results;
}

std::optional<std::vector<std::int64_t>> APMDatabase::allAudienceIDs(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        "SELECT audience_id FROM event_filters UNION SELECT audience_id FROM property_filters", {}, error);
    if (!rows) return std::nullopt;
    std::vector<std::int64_t> ids;
    for (const auto& row : *rows) {
        const Value& id = row.get("audience_id");
        if (!APMCheckSuccess(!id.isNull(), error, APMErrorInvalidArgument,
                             "Received nil audience ID for querying all audience IDs")) {
            return std::nullopt;
        }
        ids.push_back(id.longLongValue());
    }
    return ids;
}

std::optional<std::vector<std::shared_ptr<APMEventFilter>>> APMDatabase::eventFiltersForEventName(
    const std::string& eventName, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!eventName.empty(), error, APMErrorInvalidArgument,
                         "Received empty event name for getting event filters")) {
        return std::nullopt;
    }
    return cast<APMEventFilter>(
        dataTypesFromTableWithName("event_filters", "event_name", Value(eventName), error, eventFilterFromRow));
}

std::optional<std::vector<std::shared_ptr<APMPropertyFilter>>> APMDatabase::propertyFiltersForPropertyName(
    const std::string& propertyName, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!propertyName.empty(), error, APMErrorInvalidArgument,
                         "Received empty property name for getting property filters")) {
        return std::nullopt;
    }
    return cast<APMPropertyFilter>(dataTypesFromTableWithName("property_filters", "property_name", Value(propertyName),
                                                              error, propertyFilterFromRow));
}

std::shared_ptr<APMFilterResult> APMDatabase::filterResultForAudienceID(std::int32_t audienceID, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto objects = cast<APMFilterResult>(
        dataTypesFromTableWithName("audience_filter_values", "audience_id", Value(audienceID), error, filterResultFromRow));
    if (!objects || objects->empty()) return nullptr;
    return objects->front();
}

bool APMDatabase::deleteFilterResults(const std::vector<std::shared_ptr<APMFilterResult>>& filterResults,
                                      NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!filterResults.empty(), error, APMErrorInvalidArgument,
                         "Received empty filter results to delete")) {
        return false;
    }
    std::vector<std::string> ids;
    std::set<std::int32_t> seen;
    for (const auto& result : filterResults) {
        if (!APMCheckSuccess(result != nullptr, error, APMErrorInvalidArgument,
                             "Received unknown type to delete filter result")) {
            return false;
        }
        if (seen.insert(result->audienceID()).second) ids.push_back(std::to_string(result->audienceID()));
    }
    if (!requireStore(error)) return false;
    return sqliteStore_
        ->deleteRecordsFromTableWithName("audience_filter_values",
                                         NSString::format("%@ IN (%@)", std::string("audience_id"),
                                                          NSString::componentsJoinedByString(ids, ",")),
                                         {}, error)
        .has_value();
}

std::optional<std::map<std::int64_t, std::vector<std::int64_t>>> APMDatabase::allSessionScopedFilters(
    NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        "SELECT audience_id, filter_id FROM event_filters WHERE session_scoped = 1 UNION SELECT audience_id, "
        "filter_id FROM property_filters WHERE session_scoped = 1",
        {}, error);
    if (!rows) return std::nullopt;
    std::map<std::int64_t, std::vector<std::int64_t>> filters;
    for (const auto& row : *rows) {
        filters[row.get("audience_id").longLongValue()].push_back(row.get("filter_id").longLongValue());
    }
    return filters;
}

bool APMDatabase::updateEventFilters(const std::vector<std::shared_ptr<APMEventFilter>>& eventFilters,
                                     NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!eventFilters.empty(), error, APMErrorInvalidArgument,
                         "Received empty event filters to update")) {
        return false;
    }
    if (!requireStore(error)) return false;
    for (const auto& filter : eventFilters) {
        if (!APMCheckSuccess(filter != nullptr, error, APMErrorStorage,
                             "Received empty event filter for getting dictionary representation") ||
            !APMCheckSuccess(!filter->eventName().empty(), error, APMErrorStorage,
                             "Received event filter with empty event name for getting dictionary representation") ||
            !APMCheckSuccess(!filter->data().empty(), error, APMErrorStorage,
                             "Received event filter with empty data for getting dictionary representation")) {
            return false;
        }
        const Row row = {{"audience_id", Value(filter->audienceID())},
                         {"filter_id", Value(filter->filterID())},
                         {"event_name", Value(filter->eventName())},
                         {"data", Value(filter->data())},
                         {"session_scoped", Value(filter->isSessionScoped() ? 1 : 0)}};
        if (!sqliteStore_->upsertRecord(row, "event_filters", error)) return false;
    }
    return true;
}

bool APMDatabase::updatePropertyFilters(const std::vector<std::shared_ptr<APMPropertyFilter>>& propertyFilters,
                                        NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!propertyFilters.empty(), error, APMErrorInvalidArgument,
                         "Received empty property filters to update")) {
        return false;
    }
    if (!requireStore(error)) return false;
    for (const auto& filter : propertyFilters) {
        if (!APMCheckSuccess(filter != nullptr, error, APMErrorStorage,
                             "Received empty property filter for getting dictionary representation") ||
            !APMCheckSuccess(!filter->propertyName().empty(), error, APMErrorStorage,
                             "Received property filter with empty property name for getting dictionary "
                             "representation") ||
            !APMCheckSuccess(!filter->data().empty(), error, APMErrorStorage,
                             "Received property filter with empty data for getting dictionary representation")) {
            return false;
        }
        const Row row = {{"audience_id", Value(filter->audienceID())},
                         {"filter_id", Value(filter->filterID())},
                         {"property_name", Value(filter->propertyName())},
                         {"data", Value(filter->data())},
                         {"session_scoped", Value(filter->isSessionScoped() ? 1 : 0)}};
        if (!sqliteStore_->upsertRecord(row, "property_filters", error)) return false;
    }
    return true;
}

bool APMDatabase::updateFilterResults(const std::vector<std::shared_ptr<APMFilterResult>>& filterResults,
                                      NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!filterResults.empty(), error, APMErrorInvalidArgument,
                         "Received empty filter results to update")) {
        return false;
    }
    if (!requireStore(error)) return false;
    for (const auto& result : filterResults) {
        if (!APMCheckSuccess(result != nullptr, error, APMErrorStorage,
                             "Received empty filter result for getting dictionary representation") ||
            !APMCheckSuccess(result->currentResults() && !result->currentResults()->empty(), error, APMErrorStorage,
                             "Received filter result with empty data for getting dictionary representation")) {
            return false;
        }
        const auto& previous = result->previousResults();
        const Row row = {{"audience_id", Value(result->audienceID())},
                         {"current_results", Value(*result->currentResults())},
                         {"previous_results", previous && !previous->empty() ? Value(*previous) : Value()}};
        if (!sqliteStore_->upsertRecord(row, "audience_filter_values", error)) return false;
    }
    return true;
}

namespace {

// "(audience_id=%d AND filter_id=%d)" terms joined with " OR ", deleted slice by slice.
template <class Filter>
bool deleteFilters(APMSqliteStore& store, const std::string& table, const std::vector<std::shared_ptr<Filter>>& filters,
                   const char* emptyMessage, const char* unknownMessage, NSErrorPtr* error) {
    if (!APMCheckSuccess(!filters.empty(), error, APMErrorInvalidArgument, emptyMessage)) return false;
    std::vector<std::string> terms;
    for (const auto& filter : filters) {
        if (!APMCheckSuccess(filter != nullptr, error, APMErrorInvalidArgument, unknownMessage)) return false;
        terms.push_back(
            NSString::format("(audience_id=%d AND filter_id=%d)", filter->audienceID(), filter->filterID()));
    }
    for (std::size_t start = 0; start < terms.size(); start += kDeleteChunkSize) {
        const std::vector<std::string> slice(terms.begin() + static_cast<std::ptrdiff_t>(start),
                                             terms.begin() + static_cast<std::ptrdiff_t>(
                                                                 std::min(terms.size(), start + kDeleteChunkSize)));
        if (!store.deleteRecordsFromTableWithName(table, NSString::componentsJoinedByString(slice, " OR "), {}, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool APMDatabase::deleteEventFilters(const std::vector<std::shared_ptr<APMEventFilter>>& eventFilters,
                                     NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!eventFilters.empty(), error, APMErrorInvalidArgument,
                         "Received empty event filters to delete")) {
        return false;
    }
    if (!requireStore(error)) return false;
    return deleteFilters(*sqliteStore_, "event_filters", eventFilters, "Received empty event filters to delete",
                         "Received unknown type to delete event filter", error);
}

bool APMDatabase::deletePropertyFilters(const std::vector<std::shared_ptr<APMPropertyFilter>>& propertyFilters,
                                        NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!propertyFilters.empty(), error, APMErrorInvalidArgument,
                         "Received empty property filters to delete")) {
        return false;
    }
    if (!requireStore(error)) return false;
    return deleteFilters(*sqliteStore_, "property_filters", propertyFilters,
                         "Received empty property filters to delete", "Received unknown type to delete property filter",
                         error);
}

bool APMDatabase::deleteAllEventFilters(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_->deleteAllRecordsFromTableWithName("event_filters", error);
}

bool APMDatabase::deleteAllPropertyFilters(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_->deleteAllRecordsFromTableWithName("property_filters", error);
}
