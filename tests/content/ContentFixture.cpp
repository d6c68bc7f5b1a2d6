// The sandbox of the content tests: a fresh Documents, a bundle folder of the test's own, the
// configuration rebuilt from that bundle, and small hand-made catalogue databases.
#include "tests/content/ContentFixture.h"

#include "content/SQLiteEngine.h"
#include "demo/generator/DemoGenerator.h"
#include "config/OEConfigFactory.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"

#include <atomic>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

const std::vector<std::string> kMiniCatalogue = {
    "create table bigCat (\"index\" integer primary key, \"name\" text)",
    "insert into bigCat values (1, 'Old'), (2, 'New'), (3, 'Empty')",
    "create table subCat (\"index\" integer primary key, \"name\" text, \"bigCat\" integer, \"name_en\" text, "
    "\"name_fr\" text, \"description\" text, \"description_en\" text, \"date\" text, \"filePath\" text)",
    "insert into subCat values (1, 'Портреты', 1, 'Portraits', 'Portraits (fr)', 'о портретах', 'about portraits', "
    "'1900', 'cat1'), (2, 'Пейзажи', 1, 'Landscapes', '', NULL, NULL, '1800', ''), (3, 'Пусто', 1, 'Nothing', '', "
    "'', '', '1700', 'cat3'), (4, 'Море', 2, 'Sea', '', '', '', '1600', 'cat4')",
    "create table subCat2 (\"index\" integer primary key, \"name\" text, \"bigCat\" integer, \"name_en\" text)",
    "insert into subCat2 values (1, 'XVII', 1, 'Seventeenth'), (2, 'XIX', 1, 'Nineteenth')",
    "create table author (\"index\" integer primary key, \"name\" text, \"name_en\" text, \"name_fr\" text, "
    "\"name_de\" text, \"name_it\" text, \"description\" text, \"description_en\" text, \"bigCat\" integer)",
    "insert into author values (1, 'Рембрандт', 'Rembrandt', 'Rembrandt (fr)', 'A-Rembrandt', '', 'био', "
    "'bio', 1), (2, 'Моне', 'Monet', '', 'Z-Monet', '', '', 'Monet bio', 1), (3, 'Никто', 'Nobody', '', "
    "'M-Nobody', '', '', '', 1), (4, 'Тёрнер', 'Turner', '', '', '', '', '', 2)",
    "create table images (\"index\" integer primary key, \"subCat\" integer, \"subCat2\" integer, \"author\" "
    "integer, \"imagePath\" text, \"name\" text, \"name_en\" text, \"description\" text, \"inapp\" text)",
    "insert into images values (1, 1, 1, 1, 'p0001.jpg', 'Ночной дозор', 'Night Watch', NULL, '1'), "
    "(2, 1, 1, 2, 'p0002.jpg', 'Портрет', 'Woman''s Portrait 100% real; yes', NULL, ''), "
    "(3, 2, 2, 2, 'p0003.JPG', 'Впечатление', 'Impression, Sunrise', NULL, ''), "
    "(4, 2, 2, 1, 'p0004.png', 'Мост', 'Landscape_with_bridge', NULL, ''), "
    "(5, 4, 2, 4, 'sea/p0005.jpg', 'Темерер', 'The Fighting Temeraire', NULL, ''), "
    "(6, 1, 1, 4, 'p0006.jpg', 'Этюд', 'night study', NULL, '')",
};

void ContentFixture::SetUp() {
    static std::atomic<int> counter{0};
    for (const auto& folder : {documents(), caches()}) {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(folder, ignored)) fs::remove_all(entry.path(), ignored);
    }
    bundle_ = Sandbox::tmp() + "/bundle-" + std::to_string(counter++);
    fs::create_directories(bundle_);
    // The demo Info.plist, so the configuration is the product's, server values included.
    fs::copy_file(DemoGenerator::defaultSourceBundle() + "/Info.plist", bundle_ + "/Info.plist");
    mainBundle_.emplace(bundle_);
    setLanguage("en");
    reloadConfiguration();
}

void ContentFixture::TearDown() {
    NSUserDefaults::standardUserDefaults()->removeObjectForKey("AppleLanguages");
    mainBundle_.reset();
}

std::string ContentFixture::documents() const { return Sandbox::documents(); }
std::string ContentFixture::caches() const { return Sandbox::caches(); }

void ContentFixture::reloadConfiguration() {
    NSBundle::resetCaches();
    context_ = OEContext::withConfig(OEConfigFactory::defaultFactory()->makeConfig());
}

void ContentFixture::setLanguage(const std::string& language) {
    ASSERT_TRUE(
        NSUserDefaults::standardUserDefaults()->setObject(Value(Value::Array{Value(language)}), "AppleLanguages"));
}

void ContentFixture::makeDatabase(const std::string& path, const std::vector<std::string>& statements) {
    fs::remove(path);
    auto engine = SQLiteEngine::initWithPath(path, true);
    ASSERT_TRUE(engine) << path;
    ASSERT_TRUE(engine->execRequest("begin"));
    for (const auto& sql : statements) ASSERT_TRUE(engine->execRequest(sql)) << sql << ": " << engine->lastErrorMessage();
    ASSERT_TRUE(engine->execRequest("commit"));
    engine->endRequest();
}

void ContentFixture::writeMiniCatalogue(const std::string& name) {
    makeDatabase(bundle_ + "/" + name, kMiniCatalogue);
    reloadConfiguration();
}

void ContentFixture::writeDemoCatalogue(bool favoritesTable, const std::vector<int>& favorites) {
    DemoGenerator::Options options;
    options.writePictures = false;
    options.favoritesTable = favoritesTable;
    options.favorites = favorites;
    std::string error;
    ASSERT_TRUE(DemoGenerator::writeImagesDatabase(bundle_ + "/images.sqlite", options, &error)) << error;
    reloadConfiguration();
}

std::shared_ptr<Loader> ContentFixture::imagesLoader() {
    return Loader::loaderWithDBEntry(dbEntry::defaultEntry(context_.config->database()), context_);
}

void ContentFixture::writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool ContentFixture::exists(const std::string& path) { return fs::exists(path); }
