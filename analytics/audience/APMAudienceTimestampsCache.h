// The evaluation times of dynamic, session-scoped and sequence filters collected over one
// evaluation call or one bundle, per audience, loaded once from the audience's stored result
// and turned back into the timestamp fields of the result data. Over the same span it keeps
// what the evaluation read from the database, so that a bundle reads each name's filters and
// each audience's result once. Worker queue only.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class APMAudienceFilter;
class APMEventFilter;
class APMFilterResult;
class APMPropertyFilter;
class APMPBDynamicFilterResultTimestamp;
class APMPBSequenceFilterResultTimestamp;
class APMSequenceTimestampsCache;

class APMAudienceTimestampsCache : public NSObject {
public:
    static std::shared_ptr<APMAudienceTimestampsCache> make() { return std::make_shared<APMAudienceTimestampsCache>(); }

    // The first load of an audience wins; the result may be absent or undecodable (nothing
    // loaded then). Sequence filters bring only their last time.
    void populateCachedTimestamps(const std::shared_ptr<APMFilterResult>& result, std::int32_t audienceID);
    // A true outcome at `timestamp`: sequence filters record it, dynamic and session-scoped ones
    // keep the later of the cached and the new time (an audience never loaded takes nothing).
    void addEvaluationTimestamp(double timestamp, const APMAudienceFilter& filter);
    // Sorted by filter id, times in whole seconds; never absent.
    std::vector<std::shared_ptr<APMPBDynamicFilterResultTimestamp>> dynamicTimestampsForAudienceID(
        std::int32_t audienceID) const;
    // Nothing when the audience has no sequence cache.
    std::optional<std::vector<std::shared_ptr<APMPBSequenceFilterResultTimestamp>>> sequenceTimestampsForAudienceID(
        std::int32_t audienceID) const;

    // The filters of each event and property name as read, and each audience's stored result
    // (none for an audience without one) as last read or written by the evaluation. Only the
    // evaluation changes the results while a bundle is made; taking the bundle's results ends
    // the span.
    struct StoredReads {
        std::map<std::string, std::vector<std::shared_ptr<APMEventFilter>>> eventFilters;
        std::map<std::string, std::vector<std::shared_ptr<APMPropertyFilter>>> propertyFilters;
        std::map<std::int32_t, std::shared_ptr<APMFilterResult>> filterResults;
    };
    StoredReads& storedReads() { return storedReads_; }

private:
    StoredReads storedReads_;
    std::map<std::int32_t, std::map<std::int32_t, double>> cachedDynamicFilterEvaluationTimestamps_;
    std::map<std::int32_t, std::shared_ptr<APMSequenceTimestampsCache>> cachedSequenceEvaluationTimestamps_;
};
