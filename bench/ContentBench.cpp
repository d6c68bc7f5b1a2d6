// Content-layer costs over a catalogue of 50,000 pictures: a subcategory's picture list, the
// whole catalogue's list, and the catalogue search, each reported per row.
#include "bench/support/BenchCatalogue.h"
#include "content/AllImagesList_DataSource.h"
#include "content/List_DataSource.h"
#include "content/SQL_Search_2fields.h"
#include "content/SQLiteEngine.h"

#include <benchmark/benchmark.h>

namespace {

void reportPerRow(benchmark::State& state, std::size_t rows) {
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["per_row"] = benchmark::Counter(static_cast<double>(rows),
                                                   benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A subcategory's picture list queried afresh (the cache dropped as after "MessageDataUpdated").
void BM_SubCategoryList(benchmark::State& state) {
    makeBenchCatalogue();
    auto source = List_DataSource::initWithLoader(benchLoader());
    const auto subCat = source->subCatList(source->catList()->front())->front();
    std::size_t rows = 0;
    for (auto _ : state) {
        source->dataUpdated();
        rows = source->list(subCat)->size();
        benchmark::DoNotOptimize(rows);
    }
    reportPerRow(state, rows);
}
BENCHMARK(BM_SubCategoryList)->Unit(benchmark::kMillisecond);

// Every picture of the catalogue as one list.
void BM_AllPicturesList(benchmark::State& state) {
    makeBenchCatalogue();
    auto source = AllImagesList_DataSource::initWithLoader(benchLoader());
    std::size_t rows = 0;
    for (auto _ : state) {
        source->dataUpdated();
        rows = source->list(nullptr)->size();
        benchmark::DoNotOptimize(rows);
    }
    reportPerRow(state, rows);
}
BENCHMARK(BM_AllPicturesList)->Unit(benchmark::kMillisecond);

// The floor under both lists: the same statement stepped and every column read as text,
// without building row dictionaries.
void BM_AllPicturesStepOnly(benchmark::State& state) {
    makeBenchCatalogue();
    auto shared = benchLoader();
    auto source = AllImagesList_DataSource::initWithLoader(shared);
    const std::string sql = source->requestStringForCat(nullptr);
    auto engine = shared->sql();
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = 0;
        if (!engine->prepareRequest(sql)) break;
        int count = -1;
        while (engine->nextRow()) {
            if (count < 0) count = static_cast<int>(engine->dataFromRow().size());
            for (int i = 0; i < count; ++i) benchmark::DoNotOptimize(engine->getString(i));
            ++rows;
        }
        engine->endRequest();
    }
    reportPerRow(state, rows);
}
BENCHMARK(BM_AllPicturesStepOnly)->Unit(benchmark::kMillisecond);

// One keystroke of the catalogue search once its table is loaded: a substring test over the
// name and author columns of every picture.
void BM_SearchKeystroke(benchmark::State& state) {
    makeBenchCatalogue();
    auto search = SQL_Search_2fields::sqlSearchWithLoader(benchLoader(), "name_en", "author_name_en");
    search->result("warm");
    const std::size_t table = search->requestResult()->size();
    std::size_t found = 0;
    for (auto _ : state) {
        found = search->result("No. 123")->size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["found"] = static_cast<double>(found);
    reportPerRow(state, table);
}
BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);

// The first search of a language: the picture-and-author table loaded, then filtered.
void BM_SearchFirstOfLanguage(benchmark::State& state) {
    makeBenchCatalogue();
    auto shared = benchLoader();
    std::size_t table = 0;
    for (auto _ : state) {
        auto search = SQL_Search_2fields::sqlSearchWithLoader(shared, "name_en", "author_name_en");
        benchmark::DoNotOptimize(search->result("Painter 17"));
        table = search->requestResult()->size();
    }
    reportPerRow(state, table);
}
BENCHMARK(BM_SearchFirstOfLanguage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
