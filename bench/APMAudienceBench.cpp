// Audience evaluation: 50 audiences of 5 event filters each (counts and parameter filters, one
// string pattern) evaluated over 10,000 events, as bundling evaluates them; against the same
// events with no audience defined, so that the difference is the cost each event adds; the two
// also run in turns in one benchmark, which prints their ratio.
#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMAudienceContext.h"
#include "analytics/audience/APMAudienceTimestampsCache.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMValue.h"
#include "tests/analytics/audience/AudienceTestSupport.h"
#include "tests/analytics/core/MemoryConfigStore.h"

#include "bench/support/Alternating.h"
#include "bench/support/TemporaryHomeMain.h"

#include <benchmark/benchmark.h>

#include <map>

namespace {

using namespace audience_test;

constexpr int kEvents = 10000;
constexpr int kAudiences = 50;
constexpr int kFiltersPerAudience = 5;
constexpr double kStart = 1700000000;
const char* const kNames[] = {"painting_opened", "painting_liked", "search", "share", "download"};

class BenchAudienceContext final : public APMAudienceContext {
public:
    explicit BenchAudienceContext(std::shared_ptr<APMDatabase> database) : database_(std::move(database)) {}
    std::shared_ptr<APMDatabase> database() override { return database_; }
    std::shared_ptr<APMScheduler> scheduler() override { return nullptr; }
    std::shared_ptr<APMEventSink> eventSink() override { return nullptr; }
    std::int32_t maxAudienceCount() override { return kAudiences; }
    std::int32_t maxFiltersPerAudience() override { return kFiltersPerAudience * 2; }
    std::int32_t maxFilterResultCount() override { return 2000; }
    std::int32_t maxParametersPerFilter() override { return 25; }

private:
    std::shared_ptr<APMDatabase> database_;
};

std::vector<std::shared_ptr<APMPBAudience>> definitions() {
    std::vector<std::shared_ptr<APMPBAudience>> audiences;
    for (int a = 0; a < kAudiences; ++a) {
        std::vector<std::shared_ptr<APMPBEventFilter>> filters;
        for (int f = 0; f < kFiltersPerAudience; ++f) {
            const std::string name = kNames[(a + f) % 5];
            std::vector<std::shared_ptr<APMPBFilter>> parameters;
            if (f % 2 == 0) parameters.push_back(parameterFilter("rank", numberFilter(2, std::to_string(a % 7))));
            if (f == 3) parameters.push_back(parameterFilter("title", nullptr, stringFilter(1, "^[A-M].*s$")));
            filters.push_back(eventFilter(f, name, parameters, f == 1 ? numberFilter(2, "3") : nullptr));
        }
        audiences.push_back(audience(a + 1, filters));
    }
    return audiences;
}

std::vector<std::shared_ptr<APMEvent>> events() {
    std::vector<std::shared_ptr<APMEvent>> made;
    const char* const titles[] = {"Irises", "Sunflowers", "Water Lilies", "Haystacks"};
    for (int i = 0; i < kEvents; ++i) {
        Value::Dictionary parameters{{"rank", Value(APMValue::initWithInt64(i % 11))},
                                     {"title", Value(APMValue::initWithString(Value(titles[i % 4])))}};
        made.push_back(APMEvent::initWithOrigin("app", false, kNames[i % 5], kStart + i, 0, parameters));
    }
    return made;
}

// One pass of bundling's evaluation over every event, counted as bundling counts them, with the
// fifty audiences defined or with none.
struct Evaluation {
    std::shared_ptr<APMDatabase> database;
    std::shared_ptr<APMAudience> evaluator;
    std::vector<std::shared_ptr<APMEvent>> all = events();

    explicit Evaluation(bool defined) {
        const std::string name = "audience-bench-" + std::to_string(defined) + ".sql";
        auto persisted = APMPersistedConfig::initWithSuiteName("bench", std::make_shared<MemoryConfigStore>());
        database = APMDatabase::initWithDatabaseName(name, persisted, nullptr);
        auto context = std::make_shared<BenchAudienceContext>(database);
        evaluator = database ? APMAudience::initWithContext(context) : nullptr;
        if (evaluator &&
            !evaluator->updateAudiences(defined ? definitions() : std::vector<std::shared_ptr<APMPBAudience>>{}))
            evaluator = nullptr;
    }

    bool pass() {
        return database->performTransaction([&] {
            auto cache = APMAudienceTimestampsCache::make();
            std::map<std::string, std::shared_ptr<APMEventAggregates>> counts;
            for (const auto& event : all) {
                auto& aggregates = counts[event->name()];
                if (!aggregates) aggregates = APMEventAggregates::initWithName(event->name(), 0, 0, 0, 0);
                aggregates->incrementLifetimeCount();
                if (!evaluator->evaluateFiltersForEvent(*event, *aggregates, cache.get())) return false;
            }
            return evaluator->resultsForBundling().has_value();
        });
    }
};

void evaluate(benchmark::State& state, bool defined) {
    Evaluation evaluation(defined);
    if (!evaluation.evaluator) {
        state.SkipWithError("the audiences could not be stored");
        return;
    }
    for (auto _ : state) {
        if (!evaluation.pass()) state.SkipWithError("evaluation failed");
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
}

void BM_Evaluate50AudiencesOf5FiltersOver10000Events(benchmark::State& state) { evaluate(state, true); }
void BM_The10000EventsWithNoAudienceDefined(benchmark::State& state) { evaluate(state, false); }

// The two in turns.
void BM_AudiencesAgainstNone(benchmark::State& state) {
    Evaluation defined(true), none(false);
    if (!defined.evaluator || !none.evaluator) {
        state.SkipWithError("the audiences could not be stored");
        return;
    }
    bool ok = true;
    bench::alternate(
        state, "50 audiences of 5 filters / no audience defined", "event", kEvents, [&] { ok &= defined.pass(); },
        [&] { ok &= none.pass(); });
    if (!ok) state.SkipWithError("evaluation failed");
    state.SetItemsProcessed(state.iterations() * kEvents);
}

}  // namespace

BENCHMARK(BM_Evaluate50AudiencesOf5FiltersOver10000Events)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_The10000EventsWithNoAudienceDefined)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AudiencesAgainstNone)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    return bench::runInTemporaryHome(argc, argv, {.manualClock = kStart + kEvents + 60, .offMainThread = true});
}
