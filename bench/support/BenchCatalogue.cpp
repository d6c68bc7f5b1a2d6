// The benchmarks' catalogue, written with the engine's own SQLite access.
#include "bench/support/BenchCatalogue.h"

#include "content/Loader.h"
#include "content/SQLiteEngine.h"
#include "content/dbEntry.h"
#include "config/OEConfigFactory.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

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

}  // namespace

void makeBenchCatalogue() {
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
    for (int i = 1; i <= kBenchSubCats; ++i) {
        Value::Array values{Value(i), Value(1)};
        append(values, texts("Group " + std::to_string(i)));
        append(values, texts("About group " + std::to_string(i)));
        values.emplace_back(std::to_string(1500 + i));
        values.emplace_back("group" + std::to_string(i));
        require(db->execRequest("insert into subCat values (?, ?" + languageValues() + languageValues() + ", ?, ?)", values),
                "subCat row");
    }
    for (int i = 1; i <= kBenchAuthors; ++i) {
        Value::Array values{Value(i), Value(1)};
        append(values, texts("Painter " + std::to_string(i)));
        append(values, texts("Life of painter " + std::to_string(i)));
        values.emplace_back("author" + std::to_string(i));
        require(db->execRequest("insert into author values (?, ?" + languageValues() + languageValues() + ", ?)", values),
                "author row");
    }
    for (int i = 1; i <= kBenchPictures; ++i) {
        Value::Array values{Value(i), Value(1 + i % kBenchSubCats), Value(1 + i % 6), Value(1 + i % kBenchAuthors),
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
    std::filesystem::copy_file(bundle + "/images.sqlite", bundle + "/" + kBenchIndexedCatalogue);
    db = SQLiteEngine::initWithPath(bundle + "/" + kBenchIndexedCatalogue);
    require(db && db->execRequest("create index author_name on author (\"name\")"), "author name index");
    db.reset();
    NSBundle::setMainBundlePath(bundle);
    NSBundle::resetCaches();
}

const OEContext& benchContext() {
    static const OEContext made = OEContext::withConfig(OEConfigFactory::defaultFactory()->makeConfig());
    return made;
}

std::shared_ptr<Loader> benchLoader(bool authorNameIndex) {
    auto entry = authorNameIndex ? dbEntry::initWithPath(kBenchIndexedCatalogue, "indexed")
                                 : dbEntry::defaultEntry(benchContext().config->database());
    return Loader::loaderWithDBEntry(entry, benchContext());
}
