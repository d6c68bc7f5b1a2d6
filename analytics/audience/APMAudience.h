// Audience evaluation on the device: the definitions of the measurement configuration become
// the stored event and user-property filters; every bundled event and user property runs
// through the filters of its name, and each audience keeps its outcomes as two bit sets (filter
// n in word n / 64 at bit n % 64: "has an outcome" and "is true") with the times of its dynamic
// and sequence filters. Bundling carries the current sets and rolls them into the previous ones.
// Worker queue only; every operation answers false only for a failure it has logged.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class APMAudienceContext;
class APMAudienceTimestampsCache;
class APMEvent;
class APMEventAggregates;
class APMFilterResult;
class APMPBAudience;
class APMPBAudienceLeafFilterResult;
class APMPBUserAttribute;
class APMUserAttribute;

class APMAudience : public NSObject {
public:
    // The context gives the database (worker queue) and the limits of the configuration in force.
    [[nodiscard]] static std::shared_ptr<APMAudience> initWithContext(std::shared_ptr<APMAudienceContext> context);

    // Replaces the stored definitions with the audiences that pass their check (their public
    // names made internal). Results of audiences that remain are kept. More audiences than the
    // limit change nothing (logged, and answered true).
    [[nodiscard]] bool updateAudiences(const std::vector<std::shared_ptr<APMPBAudience>>& audiences);
    // With more stored results than the limit, those of audiences no longer defined go.
    [[nodiscard]] bool maybeDeleteStaleFilterResults(const std::set<std::int32_t>& audienceIDs);

    // Evaluation of one event (its aggregates counted with it) or one user property. Without a
    // cache, one lives for the call. Nothing of a failed call is stored.
    [[nodiscard]] bool evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates& eventAggregates,
                                               APMAudienceTimestampsCache* cache);
    [[nodiscard]] bool evaluateFiltersForEventName(const std::string& eventName,
                                                   const Value::Dictionary& eventParameters,
                                                   const APMEventAggregates& eventAggregates, double eventTimestamp,
                                                   APMAudienceTimestampsCache* cache);
    // The same, with the parameters asked for only when a filter of the name is evaluated.
    using EventParameters = std::function<const Value::Dictionary&()>;
    [[nodiscard]] bool evaluateFiltersForEventName(const std::string& eventName, const EventParameters& eventParameters,
                                                   const APMEventAggregates& eventAggregates, double eventTimestamp,
                                                   APMAudienceTimestampsCache* cache);
    [[nodiscard]] bool evaluateFiltersForUserProperty(const APMUserAttribute& userProperty,
                                                      APMAudienceTimestampsCache* cache, double evaluationTimestamp);
    // A bundle's user property; without a time, its own set time.
    [[nodiscard]] bool evaluateFiltersForNanoUserProperty(const std::shared_ptr<APMPBUserAttribute>& userProperty,
                                                          APMAudienceTimestampsCache* cache,
                                                          std::optional<double> evaluationTime);

    // The entries of the bundle, each audience's current sets rolled into its previous ones;
    // nothing on failure.
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<APMPBAudienceLeafFilterResult>>> resultsForBundling();
    // At a session start, session-scoped filters lose their outcomes.
    [[nodiscard]] bool clearEvaluationResultsForSessionScopedFilters();

    static bool isFilterResultTrueForFilterID(const std::shared_ptr<APMFilterResult>& result, std::int32_t filterID);
    // The result with one filter's bits set from the outcome (none clears "has an outcome") and
    // the cache's times of the audience.
    static std::shared_ptr<APMFilterResult> updatedFilterResultWithFilterID(
        std::int32_t filterID, std::int32_t audienceID, const std::shared_ptr<APMFilterResult>& currentFilterResult,
        std::optional<bool> newEvaluationResult, APMAudienceTimestampsCache& cache);

    explicit APMAudience(std::shared_ptr<APMAudienceContext> context) : context_(std::move(context)) {}

private:
    struct DecodedFilters;
    struct DecodedResults;

    // One pass of an event or a user property through the filters of its name.
    template <class Kind>
    bool evaluateFilters(Kind& kind, APMAudienceTimestampsCache* cache);

    std::shared_ptr<APMAudienceContext> context_;
    // Filters as decoded last, while their stored bytes stay the same: every event would
    // otherwise decode its name's filters again.
    std::shared_ptr<DecodedFilters> decoded_;
    std::shared_ptr<DecodedResults> decodedResults_;
};
