// Audience definitions from the configuration (valid, refused and hostile), evaluated over
// sequences of events and user properties on the manual clock, cleared at session starts and
// rolled into bundles; and the timestamp caches the evaluation keeps.
#include "analytics/audience/APMAudience.h"

#include "AudienceContextSupport.h"
#include "AudienceTestSupport.h"
#include "analytics/audience/APMAudienceDefinitionCheck.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/audience/APMSequenceTimestampsCache.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMEventFilter.h"
#include "analytics/core/APMFilterResult.h"
#include "analytics/core/APMPropertyFilter.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/proto/APMPBAudienceLeafFilterResult.h"
#include "analytics/proto/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/proto/APMPBResultData.h"
#include "analytics/proto/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/proto/APMPBUserAttribute.h"
#include "tests/analytics/core/LogCapture.h"

#include <gtest/gtest.h>

using namespace audience_test;

namespace {

class APMAudienceTest : public APMDatabaseTestBase {
protected:
    void SetUp() override {
        APMDatabaseTestBase::SetUp();
        context->database_ = database_;
        evaluator = APMAudience::initWithContext(context);
        ASSERT_TRUE(evaluator);
    }

    bool define(const std::vector<std::shared_ptr<APMPBAudience>>& audiences) { return evaluator->updateAudiences(audiences); }

    // One event as bundling evaluates it: its aggregates counted with it.
    bool log(const std::string& name, const Value::Dictionary& parameters = {},
             APMAudienceTimestampsCache* cache = nullptr) {
        auto& aggregates = counts[name];
        if (!aggregates) aggregates = APMEventAggregates::initWithName(name, 0, 0, 0, 0);
        aggregates->incrementLifetimeCount();
        aggregates->incrementCurrentSessionCount();
        auto event = APMEvent::initWithOrigin("app", false, name, Clock::now(), 0, parameters);
        return event && evaluator->evaluateFiltersForEvent(*event, *aggregates, cache);
    }
    bool setProperty(const std::string& name, const Value& value) {
        auto property = APMUserAttribute::initWithOrigin("app", name, APMValue::valueFromObject(value), Clock::now());
        return property && evaluator->evaluateFiltersForUserProperty(*property, nullptr, Clock::now());
    }
    void newSession() {
        for (auto& [name, aggregates] : counts) aggregates = APMEventAggregates::initWithName(name, aggregates->lifetimeCount(), 0, 0, 0);
        ASSERT_TRUE(evaluator->clearEvaluationResultsForSessionScopedFilters());
    }

    std::shared_ptr<APMFilterResult> stored(std::int32_t audienceID) {
        return database_->filterResultForAudienceID(audienceID, nullptr);
    }
    bool isTrue(std::int32_t audienceID, std::int32_t filterID) {
        return APMAudience::isFilterResultTrueForFilterID(stored(audienceID), filterID);
    }
    // The stored status and results words of an audience.
    std::pair<std::vector<std::uint64_t>, std::vector<std::uint64_t>> words(std::int32_t audienceID) {
        auto result = stored(audienceID);
        if (!result || !result->currentResults()) return {};
        auto data = APMPBResultData::initWithBuffer(*result->currentResults());
        auto read = [&](std::int32_t field) {
            std::vector<std::uint64_t> out;
            for (const Value& word : APMPBMessageGetArray(data, field).value_or(Value::Array{}))
                out.push_back(word.unsignedLongLongValue());
            return out;
        };
        return {read(APMPBResultData::kStatus), read(APMPBResultData::kResults)};
    }
    static Value::Dictionary parameters(std::initializer_list<std::pair<const char*, Value>> items) {
        Value::Dictionary out;
        for (const auto& [name, value] : items) out.set(name, Value(APMValue::valueFromObject(value)));
        return out;
    }

    std::shared_ptr<TestAudienceContext> context = std::make_shared<TestAudienceContext>();
    std::shared_ptr<APMAudience> evaluator;
    std::map<std::string, std::shared_ptr<APMEventAggregates>> counts;
};

// The reason and code a refused definition gives.
std::pair<long, std::string> refusal(const std::shared_ptr<APMPBAudience>& definition,
                                     const std::set<std::int32_t>& accepted = {}) {
    NSErrorPtr error;
    if (APMAudienceDefinitionCheck(definition, accepted, APMAudienceDefinitionLimits{}, &error)) return {0, ""};
    return {error ? error->code() : -1, error ? error->localizedDescription() : ""};
}

}  // namespace

TEST(APMAudienceDefinitionCheckTest, RefusesEveryMalformedOrHostileDefinitionWithItsReason) {
    const auto count = numberFilter(2, "3");
    const auto valid = eventFilter(0, "purchase", {parameterFilter("value", numberFilter(2, "10"))}, count);
    EXPECT_EQ(refusal(audience(1, {valid})).first, 0);
    // Neither parameter filters nor a count filter is fine too.
    EXPECT_EQ(refusal(audience(1, {eventFilter(0, "purchase")})).first, 0);

    const std::vector<std::pair<std::shared_ptr<APMPBAudience>, std::pair<long, std::string>>> cases = {
        {audience(std::nullopt, {valid}), {9, "Missing audience ID"}},
        {audience(-4, {valid}), {9, "Audience ID is negative"}},
        {audience(1, {}), {9, "Audience missing filters arrays"}},
        {audience(1, std::vector<std::shared_ptr<APMPBEventFilter>>(11, eventFilter(0, "a"))),
         {9, "Audience filter count out of range"}},
        {audience(1, {eventFilter(0, "")}), {10, "Event filter missing event name"}},
        {audience(1, {eventFilter(std::nullopt, "a")}), {10, "Missing event filter ID"}},
        {audience(1, {eventFilter(10, "a")}), {10, "Event filter ID is out of range"}},
        {audience(1, {eventFilter(-1, "a")}), {10, "Event filter ID is out of range"}},
        {audience(1, {eventFilter(2, "a"), eventFilter(2, "b")}), {10, "Duplicate event filter ID"}},
        {audience(1, {eventFilter(0, "a", {}, [] {
                          auto f = numberFilter(2, "1");
                          APMPBMessageSetBool(f, APMPBNumberFilter::kMatchAsFloat, true);
                          return f;
                      }())}),
         {10, "Event filter has float event count filter"}},
        {audience(1, {eventFilter(0, "a", {}, numberFilter(2, "1e9"))}), {10, "Event filter has invalid event count filter"}},
        {audience(1, {eventFilter(0, "a", std::vector<std::shared_ptr<APMPBFilter>>(26, parameterFilter("v", numberFilter(1, "1"))))}),
         {10, "Event filter parameters filters count out of range"}},
        {audience(1, {eventFilter(0, "a", {parameterFilter("", numberFilter(1, "1"))})}), {10, "Event filter missing parameter name"}},
        {audience(1, {eventFilter(0, "a", {parameterFilter("v", numberFilter(1, "1"), stringFilter(2, "x"))})}),
         {10, "Event filter must have exactly one of number or string filter"}},
        {audience(1, {eventFilter(0, "a", {parameterFilter("v", nullptr)})}),
         {10, "Event filter must have exactly one of number or string filter"}},
        {audience(1, {eventFilter(0, "a", {parameterFilter("v", numberFilter(4, std::nullopt))})}),
         {10, "Event filter has invalid number filter"}},
        {audience(1, {eventFilter(0, "a", {parameterFilter("v", nullptr, stringFilter(1, "(unclosed"))})}),
         {10, "Event filter has invalid string filter"}},
        {audience(1, {}, {propertyFilter(0, "", filter(numberFilter(1, "1")))}), {11, "Property filter missing property name"}},
        {audience(1, {}, {propertyFilter(std::nullopt, "p", filter(numberFilter(1, "1")))}), {11, "Missing property filter ID"}},
        {audience(1, {}, {propertyFilter(10, "p", filter(numberFilter(1, "1")))}), {11, "Property filter ID is out of range"}},
        // Event and property filters share one set of ids.
        {audience(1, {eventFilter(3, "a")}, {propertyFilter(3, "p", filter(numberFilter(1, "1")))}),
         {11, "Duplicate property filter ID"}},
        {audience(1, {}, {propertyFilter(0, "p", nullptr)}), {11, "Property filter has no filter"}},
        {audience(1, {}, {propertyFilter(0, "p", filter(nullptr))}),
         {11, "Property filter must have exactly one of number or string filter"}},
        {audience(1, {}, {propertyFilter(0, "p", filter(numberFilter(0, "1")))}),
         {11, "Property filter must have exactly one of number or string filter"}},
        {audience(1, {}, {propertyFilter(0, "p", filter(nullptr, stringFilter(6, std::nullopt)))}),
         {11, "Property filter has invalid string filter"}},
    };
    LogCapture quiet;
    for (const auto& [definition, expected] : cases) EXPECT_EQ(refusal(definition), expected) << expected.second;
    EXPECT_EQ(refusal(audience(1, {valid}), {1}), (std::pair<long, std::string>{9, "Duplicate audience ID"}));
    // Ten filters are within the default limit.
    EXPECT_EQ(refusal(audience(1, [] {
                          std::vector<std::shared_ptr<APMPBEventFilter>> ten;
                          for (int i = 0; i < 10; ++i) ten.push_back(eventFilter(i, "a"));
                          return ten;
                      }())).first,
              0);
}

TEST(APMAudienceTimestampsCacheTest, SequenceAndDynamicTimesFollowTheirRules) {
    monitorSample(true);
    auto sequence = APMSequenceTimestampsCache::initWithAudienceID(7);
    sequence->addEventFilterTimestamp(100.2, 1);
    sequence->addEventFilterTimestamp(100.7, 1);
    EXPECT_EQ(sequence->sequenceTimestampsForFilterID(1), (std::vector<double>{100.2}));
    sequence->addEventFilterTimestamp(99.0, 1);
    EXPECT_TRUE(sampled("Adding a sequence timestamp less than the last added timestamp"));
    EXPECT_EQ(sequence->sequenceTimestampsForFilterID(1), (std::vector<double>{100.2, 99.0}));
    sequence->setUserPropertyTimestamp(50, 2);
    sequence->setUserPropertyTimestamp(40, 2);
    EXPECT_TRUE(sampled("Setting a sequence timestamp less than the last set timestamp"));
    EXPECT_EQ(sequence->sequenceTimestampsForFilterID(2), (std::vector<double>{40}));
    EXPECT_FALSE(sequence->sequenceTimestampsForFilterID(3));
    // Messages by filter id, times sorted and whole.
    const auto messages = sequence->sequenceFilterResultTimestamps();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(APMPBMessageGetInt32(messages[0], APMPBSequenceFilterResultTimestamp::kFilterId), 1);
    EXPECT_EQ(APMPBMessageGetArray(messages[0], APMPBSequenceFilterResultTimestamp::kEvalTimestamps),
              (Value::Array{Value(99LL), Value(100LL)}));

    // A stored sequence filter with 10, 20, 30 brings only 30; a dynamic filter keeps the later time.
    auto data = APMPBResultData::make();
    auto stored = APMPBSequenceFilterResultTimestamp::make();
    APMPBMessageSetInt32(stored, APMPBSequenceFilterResultTimestamp::kFilterId, 4);
    APMPBMessageSetArray(stored, APMPBSequenceFilterResultTimestamp::kEvalTimestamps,
                         Value::Array{Value(10LL), Value(20LL), Value(30LL)});
    APMPBMessageSetArray(data, APMPBResultData::kSequenceFilterTimestamps, Value::Array{Value(stored)});
    auto result = APMFilterResult::initWithAudienceID(7, data->protoBuffer(), std::nullopt);
    APMAudienceTimestampsCache cache;
    cache.populateCachedTimestamps(result, 7);
    const auto loaded = cache.sequenceTimestampsForAudienceID(7);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 1u);
    EXPECT_EQ(APMPBMessageGetArray(loaded->front(), APMPBSequenceFilterResultTimestamp::kEvalTimestamps),
              (Value::Array{Value(30LL)}));

    auto dynamic = APMEventFilter::initWithAudienceID(7, 5, "e", NSData{1}, false, true, false);
    cache.addEvaluationTimestamp(200.9, *dynamic);
    cache.addEvaluationTimestamp(150, *dynamic);
    EXPECT_TRUE(sampled("Candidate evaluation timestamp is earlier than cached evaluation timestamp"));
    const auto times = cache.dynamicTimestampsForAudienceID(7);
    ASSERT_EQ(times.size(), 1u);
    EXPECT_EQ(APMPBMessageGetInt64(times[0], APMPBDynamicFilterResultTimestamp::kTimestamp), 200);
    // An audience never loaded takes no dynamic time, and has no sequence cache.
    cache.addEvaluationTimestamp(300, *APMEventFilter::initWithAudienceID(8, 5, "e", NSData{1}, false, true, false));
    EXPECT_TRUE(cache.dynamicTimestampsForAudienceID(8).empty());
    EXPECT_FALSE(cache.sequenceTimestampsForAudienceID(8));
}

TEST_F(APMAudienceTest, DefinitionsAreStoredWithInternalNamesAndRefusedOnesLeftOut) {
    monitorSample(true);
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "screen_view", {parameterFilter("engagement_time_msec", numberFilter(2, "5"))})},
                                 {propertyFilter(1, "first_open_time", filter(numberFilter(2, "0")))}),
                        audience(2, {eventFilter(10, "purchase")}),  // refused: id out of range
                        audience(3, {eventFilter(0, "purchase", {}, nullptr, Flags{.dynamic = true})})}));
    EXPECT_TRUE(sampled("Audience definition is invalid"));
    auto screens = database_->eventFiltersForEventName("_vs", nullptr);
    ASSERT_TRUE(screens);
    ASSERT_EQ(screens->size(), 1u);
    auto message = APMPBEventFilter::initWithBuffer(screens->front()->data());
    const auto parameter = APMPBMessageGetArray<APMPBFilter>(message, APMPBEventFilter::kFilters)->front().objectAs<APMPBFilter>();
    EXPECT_EQ(APMPBMessageGetString(parameter, APMPBFilter::kParamName), "_et");
    EXPECT_EQ(database_->propertyFiltersForPropertyName("_fot", nullptr)->size(), 1u);
    auto purchases = database_->eventFiltersForEventName("purchase", nullptr);
    ASSERT_EQ(purchases->size(), 1u);
    EXPECT_EQ(purchases->front()->audienceID(), 3);
    EXPECT_TRUE(purchases->front()->isDynamic());

    // One audience over the limit changes nothing and still reports success.
    context->maxAudiences = 1;
    monitorSample(true);
    EXPECT_TRUE(define({audience(5, {eventFilter(0, "a")}), audience(6, {eventFilter(0, "b")})}));
    EXPECT_TRUE(sampled("Configuration contains too many audiences"));
    EXPECT_EQ(database_->eventFiltersForEventName("purchase", nullptr)->size(), 1u);
    EXPECT_TRUE(database_->eventFiltersForEventName("a", nullptr)->empty());

    // A new configuration replaces the definitions; results of audiences that stay are kept.
    context->maxAudiences = 50;
    ASSERT_TRUE(log("purchase"));
    EXPECT_TRUE(isTrue(3, 0));
    ASSERT_TRUE(define({audience(3, {eventFilter(0, "purchase", {}, nullptr, Flags{.dynamic = true})})}));
    EXPECT_TRUE(isTrue(3, 0));
    EXPECT_TRUE(database_->eventFiltersForEventName("_vs", nullptr)->empty());
}

TEST_F(APMAudienceTest, EventsDecideCountAndParameterFilters) {
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "purchase", {}, numberFilter(2, "2")),
                                     eventFilter(1, "purchase", {parameterFilter("value", between("10", "20"))}),
                                     eventFilter(2, "purchase", {parameterFilter("currency", nullptr, stringFilter(5, "usd"))}),
                                     eventFilter(3, "purchase", {parameterFilter("value", numberFilter(2, "100"))}, nullptr,
                                                 Flags{}),
                                     eventFilter(4, "purchase", {parameterFilter("value", numberFilter(2, "100"), nullptr, true)})})}));
    LogCapture capture;
    // The first purchase: a count of 1 is not above 2; 15 lies between 10 and 20; "USD" matches
    // without case; 15 is not above 100, and its complement is.
    ASSERT_TRUE(log("purchase", parameters({{"value", Value(15.0)}, {"currency", Value("USD")}})));
    EXPECT_EQ(words(1), (std::pair<std::vector<std::uint64_t>, std::vector<std::uint64_t>>{{0b11111}, {0b10110}}));
    // A purchase without a value leaves the value filters as they were (no outcome); the
    // count rises to 2, still not above 2.
    ASSERT_TRUE(log("purchase", parameters({{"currency", Value("eur")}})));
    EXPECT_TRUE(capture.contains("[I-ACS007009]"));
    EXPECT_FALSE(isTrue(1, 0));
    EXPECT_TRUE(isTrue(1, 2));  // an event filter that was true stays true
    // The third: the count filter holds, and a value of 150 makes filter 3 true; filter 4 stays true.
    ASSERT_TRUE(log("purchase", parameters({{"value", Value(150LL)}, {"currency", Value("usd")}})));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_TRUE(isTrue(1, 3));
    EXPECT_TRUE(isTrue(1, 4));
    // A numeric string is compared as a decimal number; other strings give no outcome.
    ASSERT_TRUE(define({audience(2, {eventFilter(0, "level_up", {parameterFilter("level", nullptr, stringFilter(1, "^\\d+$"))}),
                                     eventFilter(1, "level_up", {parameterFilter("level", numberFilter(2, "5"))})})}));
    ASSERT_TRUE(log("level_up", parameters({{"level", Value("12")}})));
    EXPECT_TRUE(isTrue(2, 0));
    EXPECT_TRUE(capture.contains("[I-ACS007010]"));
    EXPECT_FALSE(isTrue(2, 1));
}

TEST_F(APMAudienceTest, FilterIdsSpreadOverWordsAndTheSetsGrowTogether) {
    context->maxFilters = 200;
    ASSERT_TRUE(define({audience(1, {eventFilter(64, "a"), eventFilter(130, "b")})}));
    ASSERT_TRUE(log("a"));
    EXPECT_EQ(words(1).first, (std::vector<std::uint64_t>{0, 1}));
    ASSERT_TRUE(log("b"));
    EXPECT_EQ(words(1).first, (std::vector<std::uint64_t>{0, 1, 4}));
    EXPECT_EQ(words(1).second, (std::vector<std::uint64_t>{0, 1, 4}));
    EXPECT_TRUE(isTrue(1, 64));
    EXPECT_TRUE(isTrue(1, 130));
    EXPECT_FALSE(isTrue(1, 0));
    EXPECT_FALSE(isTrue(1, 500));
}

TEST_F(APMAudienceTest, UserPropertiesFollowTheirValueOnlyWhenDynamic) {
    ASSERT_TRUE(define({audience(1, {}, {propertyFilter(0, "level", filter(numberFilter(2, "3"))),
                                         propertyFilter(1, "level", filter(numberFilter(2, "3")), Flags{.dynamic = true}),
                                         propertyFilter(2, "level", filter(numberFilter(2, "3")), Flags{.dynamic = true, .sessionScoped = true})})}));
    ASSERT_TRUE(setProperty("level", Value(5LL)));
    EXPECT_TRUE(isTrue(1, 0) && isTrue(1, 1) && isTrue(1, 2));
    Clock::advance(60);
    ASSERT_TRUE(setProperty("level", Value(1.5)));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_FALSE(isTrue(1, 1));
    EXPECT_TRUE(isTrue(1, 2));
    // The dynamic filters carry their evaluation time.
    auto data = APMPBResultData::initWithBuffer(*stored(1)->currentResults());
    const auto times = APMPBMessageGetArray<APMPBDynamicFilterResultTimestamp>(data, APMPBResultData::kDynamicFilterTimestamps);
    ASSERT_TRUE(times);
    ASSERT_EQ(times->size(), 2u);
    EXPECT_EQ(APMPBMessageGetInt64((*times)[0].objectAs<APMPBDynamicFilterResultTimestamp>(),
                                   APMPBDynamicFilterResultTimestamp::kTimestamp),
              static_cast<std::int64_t>(kNow));

    // A bundle's property in its message form; one that does not convert is refused.
    auto message = APMPBUserAttribute::make();
    APMPBMessageSetString(message, APMPBUserAttribute::kName, "level");
    APMPBMessageSetInt64(message, APMPBUserAttribute::kIntValue, 9);
    APMPBMessageSetInt64(message, APMPBUserAttribute::kSetTimestampMillis, static_cast<std::int64_t>((kNow + 90) * 1000));
    ASSERT_TRUE(evaluator->evaluateFiltersForNanoUserProperty(message, nullptr, std::nullopt));
    EXPECT_TRUE(isTrue(1, 1));
    monitorSample(true);
    EXPECT_FALSE(evaluator->evaluateFiltersForNanoUserProperty(APMPBUserAttribute::make(), nullptr, std::nullopt));
    EXPECT_TRUE(sampled("Could not convert user property from nano format."));
}

TEST_F(APMAudienceTest, ASessionStartClearsSessionScopedOutcomes) {
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "a", {}, numberFilter(2, "1"), Flags{.sessionScoped = true})}),
                        audience(2, {eventFilter(0, "a", {}, nullptr, Flags{.sessionScoped = true}), eventFilter(1, "b")})}));
    ASSERT_TRUE(log("a"));
    EXPECT_FALSE(isTrue(1, 0));  // one in this session is not above one
    ASSERT_TRUE(log("a"));
    EXPECT_TRUE(isTrue(1, 0));
    ASSERT_TRUE(log("b"));
    newSession();
    // The audience whose only true filter was session-scoped loses its row; the other keeps "b".
    EXPECT_FALSE(stored(1));
    EXPECT_FALSE(isTrue(2, 0));
    EXPECT_TRUE(isTrue(2, 1));
    // The session count starts again.
    ASSERT_TRUE(log("a"));
    EXPECT_FALSE(isTrue(1, 0));
}

TEST_F(APMAudienceTest, BundlingCarriesCurrentAndPreviousSetsAndMarksNewAudiences) {
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "a"), eventFilter(1, "b", {}, nullptr, Flags{.sequence = true})})}));
    auto cache = APMAudienceTimestampsCache::make();
    ASSERT_TRUE(log("a", {}, cache.get()));
    ASSERT_TRUE(log("b", {}, cache.get()));
    Clock::advance(5);
    ASSERT_TRUE(log("b", {}, cache.get()));

    auto first = evaluator->resultsForBundling();
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 1u);
    EXPECT_EQ(APMPBMessageGetInt32((*first)[0], APMPBAudienceLeafFilterResult::kAudienceId), 1);
    EXPECT_TRUE(APMPBMessageGetBool((*first)[0], APMPBAudienceLeafFilterResult::kNewAudience));
    EXPECT_FALSE(APMPBMessageHasField((*first)[0], APMPBAudienceLeafFilterResult::kPreviousData));
    auto current = APMPBMessageGetMessage<APMPBResultData>((*first)[0], APMPBAudienceLeafFilterResult::kCurrentData);
    auto sequences = APMPBMessageGetArray<APMPBSequenceFilterResultTimestamp>(current, APMPBResultData::kSequenceFilterTimestamps);
    ASSERT_EQ(sequences->size(), 1u);
    EXPECT_EQ(APMPBMessageGetArray(sequences->front().objectAs<APMPBSequenceFilterResultTimestamp>(),
                                   APMPBSequenceFilterResultTimestamp::kEvalTimestamps)
                  ->size(),
              2u);

    // Nothing evaluated in between: no previous data, not new, and the sequence keeps its last time only.
    auto second = evaluator->resultsForBundling();
    ASSERT_TRUE(second);
    ASSERT_EQ(second->size(), 1u);
    EXPECT_FALSE(APMPBMessageGetBool((*second)[0], APMPBAudienceLeafFilterResult::kNewAudience));
    EXPECT_FALSE(APMPBMessageHasField((*second)[0], APMPBAudienceLeafFilterResult::kPreviousData));
    current = APMPBMessageGetMessage<APMPBResultData>((*second)[0], APMPBAudienceLeafFilterResult::kCurrentData);
    sequences = APMPBMessageGetArray<APMPBSequenceFilterResultTimestamp>(current, APMPBResultData::kSequenceFilterTimestamps);
    EXPECT_EQ(APMPBMessageGetArray(sequences->front().objectAs<APMPBSequenceFilterResultTimestamp>(),
                                   APMPBSequenceFilterResultTimestamp::kEvalTimestamps),
              (Value::Array{Value(static_cast<long long>(kNow + 5))}));

    // A change since: the previous sets travel along.
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "a"), eventFilter(1, "b", {}, nullptr, Flags{.sequence = true}),
                                     eventFilter(2, "c")})}));
    ASSERT_TRUE(log("c"));
    auto third = evaluator->resultsForBundling();
    ASSERT_TRUE(third);
    ASSERT_TRUE(APMPBMessageHasField((*third)[0], APMPBAudienceLeafFilterResult::kPreviousData));
    auto previous = APMPBMessageGetMessage<APMPBResultData>((*third)[0], APMPBAudienceLeafFilterResult::kPreviousData);
    EXPECT_EQ(APMPBMessageGetArray(previous, APMPBResultData::kStatus), (Value::Array{Value(3ULL)}));
}

TEST_F(APMAudienceTest, StaleResultsGoOnlyWhenTooManyAndDefinitionsStillUpdateWhenNoneIsStale) {
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "a")}), audience(2, {eventFilter(0, "a")}),
                        audience(3, {eventFilter(0, "a")})}));
    ASSERT_TRUE(log("a"));
    ASSERT_EQ(database_->allFilterResults(nullptr)->size(), 3u);
    context->maxResults = 2;
    // Every stored result belongs to an audience that stays: the new definitions still arrive.
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "a")}), audience(2, {eventFilter(0, "a")}),
                        audience(3, {eventFilter(0, "a")}), audience(4, {eventFilter(0, "z")})}));
    EXPECT_EQ(database_->eventFiltersForEventName("z", nullptr)->size(), 1u);
    // Audience 3 is dropped from the configuration: its result goes as stale.
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "a")}), audience(2, {eventFilter(0, "a")})}));
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "a")}), audience(2, {eventFilter(0, "a")})}));
    EXPECT_FALSE(stored(3));
    EXPECT_TRUE(stored(1));
}

TEST_F(APMAudienceTest, CorruptStoredFiltersAreSkippedAndNothingOfAFailedCallIsStored) {
    ASSERT_TRUE(define({audience(1, {eventFilter(0, "a"), eventFilter(1, "a")})}));
    ASSERT_TRUE(store().executeSQL("UPDATE event_filters SET data = x'ffff' WHERE filter_id = 1", nullptr));
    LogCapture capture;
    ASSERT_TRUE(log("a"));
    EXPECT_TRUE(capture.contains("[I-ACS006035]"));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_FALSE(isTrue(1, 1));

    // A stored result that cannot be read fails the evaluation without a write.
    ASSERT_TRUE(store().executeSQL("UPDATE audience_filter_values SET current_results = x'ff'", nullptr));
    ASSERT_TRUE(log("a"));  // unreadable sets count as none: evaluated afresh
    ASSERT_TRUE(store().executeSQL("DROP TABLE audience_filter_values", nullptr));
    EXPECT_FALSE(log("a"));
    EXPECT_TRUE(capture.contains("[I-ACS006001]"));
    EXPECT_FALSE(evaluator->resultsForBundling());
    EXPECT_TRUE(capture.contains("[I-ACS006019]"));
}

TEST_F(APMAudienceTest, UserPropertyFailuresAreLoggedWithTheirOwnCodesAndWords) {
    ASSERT_TRUE(define({audience(1, {}, {propertyFilter(0, "level", filter(numberFilter(2, "3"))),
                                         propertyFilter(1, "level", filter(numberFilter(2, "3")))})}));
    ASSERT_TRUE(store().executeSQL("UPDATE property_filters SET data = x'ffff' WHERE filter_id = 1", nullptr));
    LogCapture capture;
    ASSERT_TRUE(setProperty("level", Value(5LL)));
    EXPECT_FALSE(capture.matching("[I-ACS006036]").empty());
    EXPECT_TRUE(capture.contains("User property filter contains no data or corrupt data"));
    EXPECT_FALSE(capture.contains("[I-ACS006035]"));
    EXPECT_TRUE(isTrue(1, 0));
    EXPECT_FALSE(isTrue(1, 1));

    ASSERT_TRUE(store().executeSQL("DROP TABLE audience_filter_values", nullptr));
    EXPECT_FALSE(setProperty("level", Value(6LL)));
    EXPECT_TRUE(capture.contains("[I-ACS006005]"));
    EXPECT_TRUE(capture.contains("Property will not be evaluated"));
    EXPECT_FALSE(capture.contains("[I-ACS006001]"));

    ASSERT_TRUE(store().executeSQL("DROP TABLE property_filters", nullptr));
    EXPECT_FALSE(setProperty("other", Value(1LL)));
    EXPECT_TRUE(capture.contains("[I-ACS006004]"));
    EXPECT_FALSE(capture.contains("[I-ACS006000]"));
}
