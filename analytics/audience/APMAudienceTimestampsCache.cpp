// Dynamic and sequence filter times of the audiences met during one evaluation or one bundle.
#include "analytics/audience/APMAudienceTimestampsCache.h"

#include "analytics/audience/APMSequenceTimestampsCache.h"
#include "analytics/core/APMAudienceFilter.h"
#include "analytics/core/APMFilterResult.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/proto/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBResultData.h"
#include "analytics/proto/APMPBSequenceFilterResultTimestamp.h"

void APMAudienceTimestampsCache::populateCachedTimestamps(const std::shared_ptr<APMFilterResult>& result,
                                                          std::int32_t audienceID) {
    const bool needsDynamic = !cachedDynamicFilterEvaluationTimestamps_.count(audienceID);
    const bool needsSequence = !cachedSequenceEvaluationTimestamps_.count(audienceID);
    if (!needsDynamic && !needsSequence) return;
    std::shared_ptr<APMPBResultData> data;
    if (result && result->currentResults()) data = APMPBResultData::initWithBuffer(*result->currentResults());
    if (needsDynamic) {
        auto& entry = cachedDynamicFilterEvaluationTimestamps_[audienceID];
        // An audience without stored results has no times yet (and no message to read them from).
        const Value::Array items = data ? APMPBMessageGetArray<APMPBDynamicFilterResultTimestamp>(
                                              data, APMPBResultData::kDynamicFilterTimestamps)
                                              .value_or(Value::Array{})
                                        : Value::Array{};
        for (const Value& item : items) {
            auto timestamp = item.objectAs<APMPBDynamicFilterResultTimestamp>();
            entry[APMPBMessageGetInt32(timestamp, APMPBDynamicFilterResultTimestamp::kFilterId)] =
                static_cast<double>(APMPBMessageGetInt64(timestamp, APMPBDynamicFilterResultTimestamp::kTimestamp));
        }
    }
    if (needsSequence) {
        auto sequence = APMSequenceTimestampsCache::initWithAudienceID(audienceID);
        const Value::Array items = data ? APMPBMessageGetArray<APMPBSequenceFilterResultTimestamp>(
                                              data, APMPBResultData::kSequenceFilterTimestamps)
                                              .value_or(Value::Array{})
                                        : Value::Array{};
        for (const Value& item : items) {
            auto timestamps = item.objectAs<APMPBSequenceFilterResultTimestamp>();
            const Value::Array times =
                APMPBMessageGetArray(timestamps, APMPBSequenceFilterResultTimestamp::kEvalTimestamps)
                    .value_or(Value::Array{});
            // What came before the last time no longer decides anything.
            if (times.empty()) continue;
            sequence->addEventFilterTimestamp(
                static_cast<double>(times.back().longLongValue()),
                APMPBMessageGetInt32(timestamps, APMPBSequenceFilterResultTimestamp::kFilterId));
        }
        cachedSequenceEvaluationTimestamps_[audienceID] = std::move(sequence);
    }
}

void APMAudienceTimestampsCache::addEvaluationTimestamp(double timestamp, const APMAudienceFilter& filter) {
    const std::int32_t audienceID = filter.audienceID();
    if (filter.isSequence()) {
        auto& sequence = cachedSequenceEvaluationTimestamps_[audienceID];
        if (!sequence) sequence = APMSequenceTimestampsCache::initWithAudienceID(audienceID);
        if (filter.isEventFilter()) sequence->addEventFilterTimestamp(timestamp, filter.filterID());
        else sequence->setUserPropertyTimestamp(timestamp, filter.filterID());
        return;
    }
    if (!filter.isDynamic() && !filter.isSessionScoped()) return;
    const auto entry = cachedDynamicFilterEvaluationTimestamps_.find(audienceID);
    if (entry == cachedDynamicFilterEvaluationTimestamps_.end()) return;
    const auto cached = entry->second.find(filter.filterID());
    if (cached == entry->second.end() || cached->second < timestamp) {
        entry->second[filter.filterID()] = timestamp;
        return;
    }
    APMMeasurementMonitor()->logWithLevel(5, 6037, "Candidate evaluation timestamp is earlier than cached evaluation timestamp");
}

std::vector<std::shared_ptr<APMPBDynamicFilterResultTimestamp>> APMAudienceTimestampsCache::dynamicTimestampsForAudienceID(
    std::int32_t audienceID) const {
    std::vector<std::shared_ptr<APMPBDynamicFilterResultTimestamp>> messages;
    const auto entry = cachedDynamicFilterEvaluationTimestamps_.find(audienceID);
    if (entry == cachedDynamicFilterEvaluationTimestamps_.end()) return messages;
    for (const auto& [filterID, time] : entry->second) {
        auto message = APMPBDynamicFilterResultTimestamp::make();
        APMPBMessageSetInt32(message, APMPBDynamicFilterResultTimestamp::kFilterId, filterID);
        APMPBMessageSetInt64(message, APMPBDynamicFilterResultTimestamp::kTimestamp, static_cast<std::int64_t>(time));
        messages.push_back(std::move(message));
    }
    return messages;
}

std::optional<std::vector<std::shared_ptr<APMPBSequenceFilterResultTimestamp>>>
APMAudienceTimestampsCache::sequenceTimestampsForAudienceID(std::int32_t audienceID) const {
    const auto entry = cachedSequenceEvaluationTimestamps_.find(audienceID);
    if (entry == cachedSequenceEvaluationTimestamps_.end() || !entry->second) return std::nullopt;
    return entry->second->sequenceFilterResultTimestamps();
}
