// Content-layer costs over a catalogue of 50,000 pictures: a subcategory's picture list and the
// whole catalogue's list, each beside its floor (SQLite stepping the same statement and reading
// every column as text), and the catalogue search; each reported per row. Every list the
// screens use also runs in turns with its floor in one benchmark, which prints their ratio, and
// the gallery's first lists run in turns with a quick check of the whole file.
#include "bench/support/BenchCatalogue.h"
#include "content/AllImagesList_DataSource.h"
#include "content/List_DataSource.h"
#include "content/SQL_Search_2fields.h"
#include "content/SQLiteEngine.h"
#include "config/OEContext.h"

#include "bench/support/Alternating.h"

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

// The floor under a list: its statement stepped and every column read as text, without
// building rows.
std::size_t stepOnly(const std::shared_ptr<SQLiteEngine>& engine, const std::string& sql) {
    std::size_t rows = 0;
    if (!engine->prepareRequest(sql)) return 0;
    const int columns = engine->columnCount();
    while (engine->nextRow()) {
        for (int i = 0; i < columns; ++i) benchmark::DoNotOptimize(engine->getString(i));
        ++rows;
    }
    engine->endRequest();
    return rows;
}

void BM_SubCategoryStepOnly(benchmark::State& state) {
    makeBenchCatalogue();
    auto shared = benchLoader();
    auto source = List_DataSource::initWithLoader(shared);
    const std::string sql = source->requestStringForCat(source->subCatList(source->catList()->front())->front());
    std::size_t rows = 0;
    for (auto _ : state) rows = stepOnly(shared->sql(), sql);
    reportPerRow(state, rows);
}
BENCHMARK(BM_SubCategoryStepOnly)->Unit(benchmark::kMillisecond);

// Every picture of the catalogue as one list; with the argument 1, over the catalogue with the
// author name index.
void BM_AllPicturesList(benchmark::State& state) {
    makeBenchCatalogue();
    auto source = AllImagesList_DataSource::initWithLoader(benchLoader(state.range(0) != 0));
    std::size_t rows = 0;
    for (auto _ : state) {
        source->dataUpdated();
        rows = source->list(nullptr)->size();
        benchmark::DoNotOptimize(rows);
    }
    reportPerRow(state, rows);
}
BENCHMARK(BM_AllPicturesList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_AllPicturesStepOnly(benchmark::State& state) {
    makeBenchCatalogue();
    auto shared = benchLoader(state.range(0) != 0);
    auto source = AllImagesList_DataSource::initWithLoader(shared);
    const std::string sql = source->requestStringForCat(nullptr);
    std::size_t rows = 0;
    for (auto _ : state) rows = stepOnly(shared->sql(), sql);
    reportPerRow(state, rows);
}
BENCHMARK(BM_AllPicturesStepOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What keeping a whole-catalogue list costs whatever holds it: the floor, with every text kept
// as a plain string until the next list (50,000 rows of 53 texts: allocations, fresh pages, and
// the previous list freed).
void BM_AllPicturesKeepTexts(benchmark::State& state) {
    makeBenchCatalogue();
    auto shared = benchLoader();
    auto source = AllImagesList_DataSource::initWithLoader(shared);
    const std::string sql = source->requestStringForCat(nullptr);
    const auto engine = shared->sql();
    std::vector<std::vector<std::string>> kept;
    for (auto _ : state) {
        kept = {};
        if (!engine->prepareRequest(sql)) break;
        const auto columns = static_cast<std::size_t>(engine->columnCount());
        while (engine->nextRow()) {
            std::vector<std::string>& texts = kept.emplace_back();
            texts.reserve(columns);
            for (std::size_t i = 0; i < columns; ++i) texts.push_back(engine->getString(static_cast<int>(i)).value_or(""));
        }
        engine->endRequest();
    }
    reportPerRow(state, kept.size());
}
BENCHMARK(BM_AllPicturesKeepTexts)->Unit(benchmark::kMillisecond);

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

// A list built afresh and its floor over the same statement, in turns: 0, a subcategory's list;
// 1, the whole catalogue; 2, the whole catalogue over the author name index.
void BM_ListAgainstStepOnly(benchmark::State& state) {
    makeBenchCatalogue();
    const int which = static_cast<int>(state.range(0));
    auto shared = benchLoader(which == 2);
    std::shared_ptr<List_DataSource> source;
    std::shared_ptr<dataSubCat> category;
    if (which == 0) {
        source = List_DataSource::initWithLoader(shared);
        category = source->subCatList(source->catList()->front())->front();
    } else {
        source = AllImagesList_DataSource::initWithLoader(shared);
    }
    const std::string sql = source->requestStringForCat(category);
    std::size_t listed = 0, stepped = 0;
    const char* const names[] = {"subcategory list / SQLite stepping its statement",
                                 "whole catalogue list / SQLite stepping its statement",
                                 "catalogue by author index list / SQLite stepping its statement"};
    bench::alternate(
        state, names[which], "list", 1,
        [&] {
            source->dataUpdated();
            listed = source->list(category)->size();
        },
        [&] { stepped = stepOnly(shared->sql(), sql); });
    if (listed != stepped || listed == 0) state.SkipWithError("the list and its statement differ in rows");
    reportPerRow(state, listed);
}
BENCHMARK(BM_ListAgainstStepOnly)->Arg(0)->Arg(1)->Arg(2)->MinTime(3.0)->Unit(benchmark::kMillisecond);

// How opening the gallery finds pages of rows that are damaged: by reading the lists its first
// screen shows (the categories and each one's groups with their picture counts, which it reads
// anyway and keeps), against SQLite's quick check of every page of the file.
void BM_FirstListsAgainstQuickCheck(benchmark::State& state) {
    makeBenchCatalogue();
    auto shared = benchLoader();
    auto source = List_DataSource::initWithLoader(shared);
    std::size_t groups = 0;
    std::string verdict;
    bench::alternate(
        state, "gallery's first lists / quick check of the catalogue file", "opening", 1,
        [&] {
            source->dataUpdated();
            groups = 0;
            for (const auto& cat : *source->catList()) groups += source->subCatList(cat)->size();
        },
        [&] {
            const auto rows = shared->sql()->rowsForRequest("pragma quick_check");
            verdict = rows.empty() ? std::string() : rows.front().get("quick_check").string();
        });
    if (groups != kBenchSubCats || verdict != "ok") state.SkipWithError("the lists or the check are not whole");
}
BENCHMARK(BM_FirstListsAgainstQuickCheck)->MinTime(3.0)->Unit(benchmark::kMillisecond);

}  // namespace

ALTERNATING_BENCHMARK_MAIN();
