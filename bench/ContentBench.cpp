// Content-layer costs over a catalogue of 50,000 pictures: a subcategory's picture list, the
// whole catalogue's list, and the catalogue search, each reported per row.
#include "content/AllImagesList_DataSource.h"
#include "content/List_DataSource.h"
#include "content/SQL_Search_2fields.h"
#include "content/SQLiteEngine.h"
#include "config/OEConfigFactory.h"
#include "config/OEContext.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr int kPictures = 50000;
constexpr int kSubCats = 50;  // 1,000 pictures each
constexpr int kAuthors = 250;
const char* const kLanguages[] = {"en", "fr", "de", "it", "zh", "ja", "ko", "pt", "es", "tr"};

std::string languageColumns(const std::string& base) {
    std::string out = ", \"" + base + "\" text";
    for (const char* language : kLanguages) out += ", \"" + base + "_" + language + "\" text";
    return out;
}

// The placeholders of one text in every language.
std::string languageValues() {
    std::string out = ", ?";
    for (std::size_t i = 0; i < std::size(kLanguages); ++i) out += ", ?";
    return out;
}

Value::Array texts(const std::string& text) {
    Value::Array values{Value(text + " (ru)")};
    for (const char* language : kLanguages) values.emplace_back(text + " (" + language + ")");
    return values;
}

void append(Value::Array& to, const Value::Array& more) { to.insert(to.end(), more.begin(), more.end()); }

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "Setting up the benchmark catalogue failed: %s\n", what);
        std::exit(1);
    }
}

// The catalogue, in a sandbox of its own, with the columns of the real images database.
void makeCatalogue() {
    static bool made = false;
    if (made) return;
    made = true;
    const std::string home = Sandbox::makeTemporaryHome();
    const std::string bundle = home + "/bundle";
    std::filesystem::create_directories(bundle);
    auto db = SQLiteEngine::initWithPath(bundle + "/images.sqlite", true);
    require(db != nullptr, "open");
    require(db->execRequest("begin"), "begin");
    require(db->execRequest("create table bigCat (\"index\" integer primary key, \"name\" text)"), "bigCat");
    require(db->execRequest("insert into bigCat values (1, 'All')"), "bigCat row");
    require(db->execRequest("create table subCat (\"index\" integer primary key, \"bigCat\" integer" +
                            languageColumns("name") + languageColumns("description") + ", \"date\" text, \"filePath\" text)"),
            "subCat");
    require(db->execRequest("create table author (\"index\" integer primary key, \"bigCat\" integer" +
                            languageColumns("name") + languageColumns("description") + ", \"filePath\" text)"),
            "author");
    require(db->execRequest("create table images (\"index\" integer primary key, \"subCat\" integer, \"subCat2\" integer, "
                            "\"author\" integer, \"imagePath\" text" + languageColumns("name") + languageColumns("description") +
                            ", \"has_hd_ipad\" text, \"has_hd_iphone\" text, \"resolution\" text, \"inapp\" text)"),
            "images");
    for (int i = 1; i <= kSubCats; ++i) {
        Value::Array values{Value(i), Value(1)};
        append(values, texts("Group " + std::to_string(i)));
        append(values, texts("About group " + std::to_string(i)));
        values.emplace_back(std::to_string(1500 + i));
        values.emplace_back("group" + std::to_string(i));
        require(db->execRequest("insert into subCat values (?, ?" + languageValues() + languageValues() + ", ?, ?)", values),
                "subCat row");
    }
    for (int i = 1; i <= kAuthors; ++i) {
        Value::Array values{Value(i), Value(1)};
        append(values, texts("Painter " + std::to_string(i)));
        append(values, texts("Life of painter " + std::to_string(i)));
        values.emplace_back("author" + std::to_string(i));
        require(db->execRequest("insert into author values (?, ?" + languageValues() + languageValues() + ", ?)", values),
                "author row");
    }
    for (int i = 1; i <= kPictures; ++i) {
        Value::Array values{Value(i), Value(1 + i % kSubCats), Value(1 + i % 6), Value(1 + i % kAuthors),
                            Value(NSString::format("p%06d.jpg", i))};
        append(values, texts("Study No. " + std::to_string(i)));
        append(values, texts("A short description of study " + std::to_string(i)));
        append(values, {Value("1"), Value("0"), Value("4000x3000"), Value(i % 10 ? "" : "1")});
        require(db->execRequest("insert into images values (?, ?, ?, ?, ?" + languageValues() + languageValues() +
                                    ", ?, ?, ?, ?)",
                                values),
                "images row");
    }
    // The grouping columns are indexed, as in the shipped catalogue databases.
    require(db->execRequest("create index images_subCat on images (\"subCat\")"), "index");
    require(db->execRequest("create index images_subCat2 on images (\"subCat2\")"), "index");
    require(db->execRequest("create index images_author on images (\"author\")"), "index");
    require(db->execRequest("commit"), "commit");
    db.reset();
    NSBundle::setMainBundlePath(bundle);
    NSBundle::resetCaches();
}

// The configuration of the catalogue's bundle, made once it is written.
const OEContext& context() {
    static const OEContext made = OEContext::withConfig(OEConfigFactory::defaultFactory()->makeConfig());
    return made;
}

std::shared_ptr<Loader> loader() {
    return Loader::loaderWithDBEntry(dbEntry::defaultEntry(context().config->database()), context());
}

void reportPerRow(benchmark::State& state, std::size_t rows) {
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["per_row"] = benchmark::Counter(static_cast<double>(rows),
                                                   benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A subcategory's picture list queried afresh (the cache dropped as after "MessageDataUpdated").
void BM_SubCategoryList(benchmark::State& state) {
    makeCatalogue();
    auto source = List_DataSource::initWithLoader(loader());
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
    makeCatalogue();
    auto source = AllImagesList_DataSource::initWithLoader(loader());
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
    makeCatalogue();
    auto shared = loader();
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
    makeCatalogue();
    auto search = SQL_Search_2fields::sqlSearchWithLoader(loader(), "name_en", "author_name_en");
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
    makeCatalogue();
    auto shared = loader();
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
