// Content-layer costs over a catalogue of 50,000 pictures: a subcategory's picture list and the
// whole catalogue's list, each beside its floor (SQLite stepping the same statement and reading
// every column as text), and the catalogue search; each reported per row.
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
// Not an "images*" name: the images database's loader would take it for an old copy to import.
constexpr const char* kIndexedCatalogue = "indexed.sqlite";
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

// The benchmark's home (catalogue, Documents copy), removed at exit.
struct ScratchHome {
    std::string path = Sandbox::makeTemporaryHome();
    ~ScratchHome() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// The catalogue, in a sandbox of its own, with the columns of the real images database.
void makeCatalogue() {
    static bool made = false;
    if (made) return;
    made = true;
    static const ScratchHome scratch;
    const std::string& home = scratch.path;
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
    // The same catalogue with an index on the author name the lists are ordered by, which spares
    // SQLite the sort of the whole-catalogue list (not of a subcategory's, whose pictures are
    // found through their group's index and then sorted).
    std::filesystem::copy_file(bundle + "/images.sqlite", bundle + "/" + kIndexedCatalogue);
    db = SQLiteEngine::initWithPath(bundle + "/" + kIndexedCatalogue);
    require(db && db->execRequest("create index author_name on author (\"name\")"), "author name index");
    db.reset();
    NSBundle::setMainBundlePath(bundle);
    NSBundle::resetCaches();
}

// The configuration of the catalogue's bundle, made once it is written.
const OEContext& context() {
    static const OEContext made = OEContext::withConfig(OEConfigFactory::defaultFactory()->makeConfig());
    return made;
}

std::shared_ptr<Loader> loader(bool authorNameIndex = false) {
    auto entry = authorNameIndex ? dbEntry::initWithPath(kIndexedCatalogue, "indexed")
                                 : dbEntry::defaultEntry(context().config->database());
    return Loader::loaderWithDBEntry(entry, context());
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
    makeCatalogue();
    auto shared = loader();
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
    makeCatalogue();
    auto source = AllImagesList_DataSource::initWithLoader(loader(state.range(0) != 0));
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
    makeCatalogue();
    auto shared = loader(state.range(0) != 0);
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
    makeCatalogue();
    auto shared = loader();
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
