// The main events of complex events, kept with the number of child events still to process.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMError.h"
#include "analytics/core/APMEvent.h"
#include "platform/foundation/NSString.h"

std::optional<std::pair<std::shared_ptr<APMEvent>, std::int64_t>> APMDatabase::mainEventAndChildCountPairWithEventID(
    std::int64_t eventID, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        NSString::format("SELECT * FROM %@ WHERE event_id=? LIMIT 1", std::string("main_event_params")),
        {Value(static_cast<long long>(eventID))}, error);
    if (!rows || rows->empty()) return std::nullopt;
    const Row& row = rows->front();
    const Value& blob = row.get("main_event");
    auto event = blob.isNull() ? nullptr : eventFromBlob(blob, nullptr);
    if (!APMCheckSuccess(event != nullptr, error, APMErrorStorage, "Main event blob is nil in database")) {
        return std::nullopt;
    }
    const Value& children = row.get("children_to_process");
    if (!APMCheckSuccess(!children.isNull(), error, APMErrorStorage,
                         "Complex event does not have children count in database")) {
        return std::nullopt;
    }
    return std::make_pair(event, static_cast<std::int64_t>(children.longLongValue()));
}

bool APMDatabase::updateComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID, std::int64_t childEventCount,
                                                                     const std::shared_ptr<APMEvent>& mainEvent,
                                                                     NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(mainEvent != nullptr, error, APMErrorInvalidArgument, "Received nil main event")) return false;
    auto blob = blobFromEvent(mainEvent);
    if (!APMCheckSuccess(blob && !blob->empty(), error, APMErrorInvalidArgument, "Cannot create the main event blob")) {
        return false;
    }
    if (!requireStore(error)) return false;
    const Row row = {{"main_event", Value(std::move(*blob))},
                     {"event_id", Value(static_cast<long long>(eventID))},
                     {"children_to_process", Value(static_cast<long long>(childEventCount))}};
    return sqliteStore_->upsertRecord(row, "main_event_params", error);
}

bool APMDatabase::deleteComplexEventForAudienceEvaluationWithEventID(std::int64_t eventID, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_
        ->deleteRecordsFromTableWithName("main_event_params", "event_id=?", {Value(static_cast<long long>(eventID))},
                                         error)
        .has_value();
}
