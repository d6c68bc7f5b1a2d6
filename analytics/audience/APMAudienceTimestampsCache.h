// The evaluation times of dynamic, session-scoped and sequence filters collected over one
// evaluation call or one bundle, per audience, loaded once from the audience's stored result
// and turned back into the timestamp fields of the result data. Worker queue only.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class APMAudienceFilter;
class APMFilterResult;
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

private:
    std::map<std::int32_t, std::map<std::int32_t, double>> cachedDynamicFilterEvaluationTimestamps_;
    std::map<std::int32_t, std::shared_ptr<APMSequenceTimestampsCache>> cachedSequenceEvaluationTimestamps_;
};
