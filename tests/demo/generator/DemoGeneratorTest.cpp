// The generated demo bundle: schemas the content SQL needs, counts, files, pictures and
// byte-for-byte determinism.
#include "demo/generator/DemoCatalogue.h"
#include "demo/generator/DemoGenerator.h"
#include "config/AppInfo.h"
#include "config/OEConfigFactory.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/ScopedMainBundle.h"

// The pictures are decoded by the packaged stb_image library, optimised in every build.
#include <stb_image.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

// Read-only access to one generated database.
class Database {
public:
    explicit Database(const std::string& path) {
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK) << path;
    }
    ~Database() { sqlite3_close(db_); }

    // Rows as text; a statement that does not prepare fails the test.
    std::vector<std::vector<std::string>> rows(const std::string& sql) const {
        std::vector<std::vector<std::string>> result;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << " in: " << sql;
            return result;
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                const unsigned char* text = sqlite3_column_text(statement, i);
                row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
            }
            result.push_back(std::move(row));
        }
        sqlite3_finalize(statement);
        return result;
    }

    long count(const std::string& sql) const {
        const auto r = rows(sql);
        return r.empty() ? -1 : std::atol(r[0][0].c_str());
    }

    std::vector<std::string> columns(const std::string& table) const {
        std::vector<std::string> names;
        for (const auto& row : rows("PRAGMA table_info(\"" + table + "\")")) names.push_back(row[1]);
        return names;
    }

private:
    sqlite3* db_ = nullptr;
};

// The demo bundle as ostrel-demo writes it, written once per test run and only read.
const std::string& bundleFolder() { return DemoBundle::path(); }

class DemoBundleTest : public testing::Test {
protected:
    static std::string file(const std::string& relative) { return bundleFolder() + "/" + relative; }
};

std::vector<std::string> withLanguages(const std::string& base) {
    std::vector<std::string> columns{base};
    for (const auto& language : {"en", "fr", "de", "it", "zh", "ja", "ko", "pt", "es", "tr"})
        columns.push_back(base + "_" + language);
    return columns;
}

void expectColumns(const Database& db, const std::string& table, const std::vector<std::string>& wanted) {
    const auto present = db.columns(table);
    for (const auto& column : wanted)
        EXPECT_NE(std::find(present.begin(), present.end(), column), present.end()) << table << "." << column;
}

std::vector<std::uint8_t> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Decodes a picture file; {0, 0} when it is not one.
std::pair<int, int> pictureSize(const std::string& path) {
    const auto bytes = bytesOf(path);
    int w = 0, h = 0, channels = 0;
    unsigned char* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &channels, 3);
    if (!pixels) return {0, 0};
    stbi_image_free(pixels);
    return {w, h};
}

// A picture file decoded and reduced to 80 x 60 by averaging equal blocks (both demo sizes
// divide into them); empty when it is not a picture.
std::vector<double> reduced(const std::string& path) {
    const auto bytes = bytesOf(path);
    int w = 0, h = 0, channels = 0;
    unsigned char* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &channels, 3);
    if (!pixels) return {};
    constexpr int kWidth = 80, kHeight = 60;
    std::vector<double> out(static_cast<std::size_t>(kWidth) * kHeight * 3, 0.0);
    const int fx = w / kWidth, fy = h / kHeight;
    for (int y = 0; y < kHeight * fy; ++y)
        for (int x = 0; x < kWidth * fx; ++x)
            for (int c = 0; c < 3; ++c)
                out[(static_cast<std::size_t>(y / fy) * kWidth + x / fx) * 3 + c] +=
                    pixels[(static_cast<std::size_t>(y) * w + x) * 3 + c] / static_cast<double>(fx * fy);
    stbi_image_free(pixels);
    return out;
}

// The mean difference of two reduced pictures, per channel value.
double meanDifference(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

// The keys of a strings table, one entry per line as the demo tables are written.
std::set<std::string> keysOf(const std::string& path) {
    std::set<std::string> keys;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] != '"') continue;
        std::size_t end = 1;
        while (end < line.size() && !(line[end] == '"' && line[end - 1] != '\\')) ++end;
        keys.insert(line.substr(1, end - 1));
    }
    return keys;
}

}  // namespace

TEST_F(DemoBundleTest, ImagesDatabaseHasTheTablesAndColumnsTheQueriesName) {
    Database db(file("images.sqlite"));
    expectColumns(db, "bigCat", {"index", "name"});
    for (const char* table : {"subCat", "subCat2"}) {
        expectColumns(db, table, {"index", "bigCat", "date", "filePath"});
        expectColumns(db, table, withLanguages("name"));
        expectColumns(db, table, withLanguages("description"));
    }
    expectColumns(db, "author", withLanguages("name"));
    expectColumns(db, "author", withLanguages("description"));
    expectColumns(db, "author", {"index", "bigCat", "filePath"});
    expectColumns(db, "images", {"index", "subCat", "subCat2", "author", "imagePath", "has_hd_ipad", "has_hd_iphone",
                                 "resolution", "inapp"});
    expectColumns(db, "images", withLanguages("name"));
    expectColumns(db, "images", withLanguages("description"));
    // No favourites until the first one is added.
    EXPECT_TRUE(db.columns("favorites").empty());
    // The categories are read by position: index, then name.
    EXPECT_EQ(db.columns("bigCat"), (std::vector<std::string>{"index", "name"}));
}

TEST_F(DemoBundleTest, LanguageColumnsAreTheConfiguredLanguages) {
    const auto locale = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "", "")->makeLocaleConfig();
    std::set<std::string> generated(DemoCatalogue::languages().begin(), DemoCatalogue::languages().end());
    generated.insert("ru");
    EXPECT_EQ(generated, locale->supportedLanguages());
}

TEST_F(DemoBundleTest, CatalogueCounts) {
    Database db(file("images.sqlite"));
    EXPECT_EQ(db.count("select count(*) from images"), static_cast<long>(kDemoPaintingCount));
    EXPECT_EQ(db.count("select count(*) from author"), static_cast<long>(kDemoPainterCount));
    EXPECT_EQ(db.count("select count(*) from bigCat"), static_cast<long>(kDemoBigCatCount));
    EXPECT_EQ(db.count("select count(*) from subCat"), static_cast<long>(kDemoGenreGroupCount));
    EXPECT_EQ(db.count("select count(*) from subCat2"), static_cast<long>(kDemoPainterGroupCount));
    EXPECT_EQ(db.count("select count(distinct author) from images"),
              static_cast<long>(kDemoPainterCount - kDemoPaintersWithoutPaintings));
    EXPECT_EQ(DemoCatalogue::paintings().size(), kDemoPaintingCount);
    EXPECT_EQ(DemoCatalogue::painters().size(), kDemoPainterCount);
    EXPECT_EQ(DemoCatalogue::genreGroups().size(), kDemoGenreGroupCount);
    EXPECT_EQ(DemoCatalogue::painterGroups().size(), kDemoPainterGroupCount);
    // Every picture names a painter, a genre group and a painter group that exist; the painter
    // group is the painter's own.
    EXPECT_EQ(db.count("select count(*) from images, subCat2, author where images.subCat2 = subCat2.\"index\" and "
                       "images.author = author.\"index\" and subCat2.name_en != author.name_en"),
              0);
    EXPECT_EQ(db.count("select count(*) from images where author not in (select \"index\" from author) "
                       "or subCat not in (select \"index\" from subCat) or subCat2 not in (select \"index\" from subCat2)"),
              0);
    // Every painting has an English and a Russian title; pictures are named uniquely.
    EXPECT_EQ(db.count("select count(*) from images where name = '' or name_en = ''"), 0);
    EXPECT_EQ(db.count("select count(distinct imagePath) from images"), static_cast<long>(kDemoPaintingCount));
}

TEST_F(DemoBundleTest, TheBrowserQueriesRunAndDropTheEmptyGroup) {
    Database db(file("images.sqlite"));
    long groupsWithPictures = 0;
    for (int bigCat = 1; bigCat <= static_cast<int>(kDemoBigCatCount); ++bigCat) {
        const auto rows = db.rows(
            "select subcat.*, count(images.\"index\") as images_count from subCat left join images on subcat.\"index\" "
            "= images.subCat where subcat.bigCat=" + std::to_string(bigCat) +
            "  group by images.subCat order by subcat.\"date\"");
        for (const auto& row : rows)
            if (std::atoi(row.back().c_str()) >= 1) ++groupsWithPictures;
    }
    EXPECT_EQ(groupsWithPictures, static_cast<long>(kDemoGenreGroupsWithPaintings));

    // The author grouping keeps a count-0 row for the painter without paintings.
    const auto authors = db.rows("select author.*, count(images.\"index\") as images_count from author left join images "
                                 "on author.\"index\" = images.author where author.bigCat = 1  group by images.author "
                                 "order by author.\"name_en\"");
    EXPECT_TRUE(std::any_of(authors.begin(), authors.end(), [](const auto& row) { return row.back() == "0"; }));

    // The picture list of a group with the author aliases of every language.
    std::string aliases;
    for (const auto& column : withLanguages("name"))
        aliases += ", author.\"" + column + "\" as author_" + column;
    for (const auto& column : withLanguages("description"))
        aliases += ", author.\"" + column + "\" as author_" + column;
    const auto pictures = db.rows("select images.*" + aliases +
                                  " from images,author where images.\"subCat\"=1 and author.\"index\"=images.author "
                                  "order by author.\"name\"");
    EXPECT_EQ(pictures.size(), static_cast<std::size_t>(db.count("select count(*) from images where subCat = 1")));
    EXPECT_GT(pictures.size(), 0u);
}

TEST_F(DemoBundleTest, CornerCasesTheScreensMeet) {
    Database db(file("images.sqlite"));
    EXPECT_EQ(db.count("select count(*) from subCat where description is null"), 1);
    // Every group has a picture of its own.
    EXPECT_EQ(db.count("select count(*) from subCat where filePath = '' or filePath is null"), 0);
    EXPECT_EQ(db.count("select count(*) from subCat2 where filePath = '' or filePath is null"), 0);
    EXPECT_EQ(db.count("select count(*) from images where imagePath glob '*.JPG'"), 1);
    EXPECT_EQ(db.count("select count(*) from images where imagePath glob '*.png'"), 1);
    EXPECT_GT(db.count("select count(*) from images where inapp = ''"), 0);
    EXPECT_GT(db.count("select count(*) from images where inapp != ''"), 0);
    EXPECT_GT(db.count("select count(*) from images where has_hd_ipad = '0'"), 0);
    EXPECT_GT(db.count("select count(*) from images where has_hd_ipad = '1'"), 0);
    // Names with an apostrophe and an ampersand, for URL and SQL robustness.
    EXPECT_GT(db.count("select count(*) from images where instr(name_en, '''') > 0"), 0);
    EXPECT_EQ(db.count("select count(*) from images where instr(name_en, '&') > 0"), 1);
    // A painter without a French name (falls back to English) and one known only in Russian.
    EXPECT_EQ(db.count("select count(*) from author where name_fr = '' and name_en != ''"), 1);
    EXPECT_EQ(db.count("select count(*) from author where description != '' and description_en = ''"), 1);
    EXPECT_EQ(db.count("select count(*) from author where substr(name_de, -1) = '.'"), 1);
}

TEST_F(DemoBundleTest, MediaDatabaseAnswersTheCatalogueQueries) {
    Database db(file("media.sqlite"));
    expectColumns(db, "compositions", {"index", "author", "genres", "countries", "filepath", "time"});
    expectColumns(db, "compositions", withLanguages("name"));
    expectColumns(db, "author", withLanguages("name"));
    expectColumns(db, "author", {"description", "imagePath"});
    expectColumns(db, "genres", {"index", "name", "imagePath"});
    expectColumns(db, "countries", {"index", "name", "imagePath"});
    expectColumns(db, "images", {"index", "author", "imagePath", "name_en"});
    EXPECT_EQ(db.count("select count(*) from compositions"), static_cast<long>(kDemoCompositionCount));

    const std::map<std::string, std::size_t> groupings = {
        {"author", kDemoComposerCount}, {"genres", kDemoMusicGenreCount}, {"countries", kDemoCountryCount}};
    for (const auto& [table, expected] : groupings) {
        const auto cats = db.rows("select " + table + ".*, count(compositions.\"index\") as compositions_count from " +
                                  table + " left join compositions on " + table + ".\"index\" = compositions." + table +
                                  " where compositions." + table + " is not null group by compositions." + table);
        EXPECT_EQ(cats.size(), expected) << table;
    }
    const auto tracks = db.rows("select compositions.*, author.name as author_name, author.name_en as author_name_en, "
                                "author.name_de as author_name_de, author.name_it as author_name_it, author.name_fr as "
                                "author_name_fr from compositions left join author on compositions.author=author.\"index\" "
                                "where compositions.author=1 order by compositions.name");
    EXPECT_EQ(tracks.size(), 3u);
    // Files live in subfolders, to exercise the download paths.
    EXPECT_EQ(db.count("select count(*) from compositions where instr(filepath, '/') = 0"), 0);
    // Pictures for every composer but one (the player's empty-list case).
    EXPECT_EQ(db.count("select count(distinct author) from images"), static_cast<long>(kDemoComposersWithPictures));
}

TEST_F(DemoBundleTest, TextsDatabaseHasTheColumnPositionsTheReaderUses) {
    Database db(file("texts.sqlite"));
    EXPECT_EQ(db.columns("subCat"), (std::vector<std::string>{"index", "name", "bigCat", "sort", "description"}));
    EXPECT_EQ(db.columns("texts"), (std::vector<std::string>{"index", "cat", "wc", "text", "short", "date", "plain"}));
    EXPECT_EQ(db.count("select count(*) from texts"), static_cast<long>(kDemoTextCount));
    EXPECT_EQ(db.count("select count(*) from bigCat"), static_cast<long>(kDemoTextCategoryCount));
    EXPECT_EQ(db.count("select count(*) from subCat where sort = 2"), 1);
    const auto counts = db.rows("SELECT \"subCat\".\"index\",\"subCat\".\"name\",COUNT(\"texts\".\"index\") FROM "
                                "\"subCat\",\"texts\" where \"subCat\".\"index\"=\"texts\".\"cat\" GROUP BY "
                                "\"subCat\".\"index\"");
    EXPECT_EQ(counts.size(), kDemoTextGroupCount);
    // The plain text has no markup and the word count is its own.
    for (const auto& row : db.rows("select wc, plain from texts")) {
        EXPECT_EQ(row[1].find('<'), std::string::npos);
        EXPECT_GT(std::atoi(row[0].c_str()), 10);
    }
    // A picture link leads to a painting of the images database.
    Database images(file("images.sqlite"));
    long links = 0;
    for (const auto& row : db.rows("select text from texts where text like '%imageLink_%'")) {
        const std::size_t at = row[0].find("imageLink_") + std::string("imageLink_").size();
        const std::string index = row[0].substr(at, row[0].find('"', at) - at);
        EXPECT_EQ(images.count("select count(*) from images where \"index\" == " + index), 1) << index;
        ++links;
    }
    EXPECT_EQ(links, 1);
}

TEST_F(DemoBundleTest, ArticlesPointAtExistingPictures) {
    Database articles(file("articles.sqlite"));
    EXPECT_EQ(articles.columns("articles"), (std::vector<std::string>{"id", "image_id", "language"}));
    EXPECT_EQ(articles.count("select count(*) from articles"), static_cast<long>(kDemoArticleCount));
    EXPECT_EQ(articles.count("select count(*) from articles where language = 'en'"), 5);
    Database images(file("images.sqlite"));
    for (const auto& row : articles.rows("select image_id from articles"))
        EXPECT_EQ(images.count("select count(*) from images where \"index\" == " + row[0]), 1) << row[0];
}

TEST_F(DemoBundleTest, EveryBundledPictureExistsAndDecodes) {
    std::size_t serverOnly = 0;
    for (const auto& painting : DemoCatalogue::paintings()) {
        const std::string picture = file("Data/" + DemoCatalogue::imagePathOf(painting));
        const std::string thumbnail = DemoCatalogue::thumbnailPathOf(painting);
        if (DemoCatalogue::isOnServerOnly(painting)) {
            ++serverOnly;
            EXPECT_FALSE(fs::exists(picture)) << picture;
            EXPECT_FALSE(fs::exists(file("Data/" + thumbnail))) << thumbnail;
            continue;
        }
        EXPECT_EQ(pictureSize(picture), std::make_pair(kDemoPictureWidth, kDemoPictureHeight)) << picture;
        if (thumbnail.empty()) continue;
        EXPECT_EQ(pictureSize(file("Data/" + thumbnail)), std::make_pair(kDemoThumbnailWidth, kDemoThumbnailHeight))
            << thumbnail;
    }
    EXPECT_EQ(serverOnly, kDemoPaintingCount / 5);
    // Without the server, every genre group still shows pictures of its own.
    std::map<int, int> bundledPerGroup;
    for (const auto& painting : DemoCatalogue::paintings())
        bundledPerGroup[DemoCatalogue::genreGroupOf(painting)] += DemoCatalogue::isOnServerOnly(painting) ? 0 : 1;
    for (const auto& [group, bundled] : bundledPerGroup) EXPECT_GT(bundled, 0) << "group " << group;
    Database db(file("images.sqlite"));
    for (const char* sql : {"select filePath from subCat", "select filePath from subCat2", "select filePath from author"}) {
        for (const auto& row : db.rows(sql)) {
            EXPECT_EQ(pictureSize(file("Data/cats/" + row[0] + ".jpg")),
                      std::make_pair(kDemoGroupPictureWidth, kDemoGroupPictureHeight))
                << row[0];
        }
    }
    Database media(file("media.sqlite"));
    for (const auto& row : media.rows("select imagePath from images"))
        EXPECT_NE(pictureSize(file("Data/" + row[0])).first, 0) << row[0];
    for (const char* sql : {"select imagePath from author", "select imagePath from genres"})
        for (const auto& row : media.rows(sql)) {
            if (!row[0].empty()) {
                EXPECT_NE(pictureSize(file(row[0])).first, 0) << row[0];
            }
        }
}

TEST_F(DemoBundleTest, PicturesAreDistinct) {
    std::set<std::vector<std::uint8_t>> seen;
    std::size_t bundled = 0;
    for (const auto& painting : DemoCatalogue::paintings()) {
        if (DemoCatalogue::isOnServerOnly(painting)) continue;
        seen.insert(bytesOf(file("Data/" + DemoCatalogue::imagePathOf(painting))));
        ++bundled;
    }
    EXPECT_EQ(seen.size(), bundled);
}

TEST_F(DemoBundleTest, TheBundleReadsAsTheApplicationsBundle) {
    ScopedMainBundle mainBundle(bundleFolder());
    EXPECT_EQ(AppInfo::bundleId(), "com.norvane.ostrelgallery");
    EXPECT_EQ(AppInfo::appServerHost(), "http://127.0.0.1:8470");
    EXPECT_EQ(AppInfo::appServerFolder(), "gallery");
    EXPECT_EQ(AppInfo::articlesStyle(), 1u);
    EXPECT_FALSE(AppInfo::appStoreId().empty());
    // The analytics platform core configures its default app from this list's app id.
    const std::string service = NSBundle::mainBundle()->pathForResource("VizudiService-Info", "plist");
    ASSERT_FALSE(service.empty());
    const Value servicePlist = NSPropertyListSerialization::propertyListWithContentsOfFile(service);
    ASSERT_TRUE(servicePlist.isDictionary());
    EXPECT_FALSE(servicePlist.dictionary().get("VIZUDI_APP_ID").stringValue().empty());
    auto config = OEConfigFactory::defaultFactory()->makeConfig();
    EXPECT_EQ(config->database()->imagesDBName(), "images.sqlite");
    EXPECT_EQ(config->database()->mediaDBName(), "media.sqlite");
    EXPECT_EQ(config->database()->textDBName(), "texts.sqlite");
    EXPECT_EQ(config->database()->articlesDBName(), "articles.sqlite");
    EXPECT_EQ(config->app()->likesIdentifier(), "ostrel_gallery");

    auto bundle = NSBundle::mainBundle();
    NSLocale::setPreferredLanguages({"de-DE"});
    EXPECT_EQ(bundle->localizedStringForKey("By Janre", "", "Core"), "Nach Gattung");
    EXPECT_EQ(bundle->localizedStringForKey("Queued", "", "FileDownloader"), "Wartet");
    EXPECT_EQ(bundle->localizedStringForKey("By Name", "", "Core"), "Nach Namen");
    EXPECT_EQ(bundle->localizedStringForKey("Author", "", "Core"), "Komponisten");
    EXPECT_EQ(bundle->localizedStringForKey("Cannot play", "", "Core"), "Wiedergabe nicht möglich");
    EXPECT_EQ(bundle->localizedStringForKey("This composition cannot be played.", "", "Core"),
              "Diese Komposition kann nicht abgespielt werden.");
    EXPECT_EQ(bundle->localizedStringForKey("The music server cannot be reached.", "", "Core"),
              "Der Musikserver ist nicht erreichbar.");
    EXPECT_EQ(bundle->localizedStringForKey("This file is not music that can be played.", "", "Core"),
              "Diese Datei ist keine Musik, die abgespielt werden kann.");
    EXPECT_EQ(AppInfo::displayName(), "Ostrel Galerie");
    NSLocale::setPreferredLanguages({"en"});
    EXPECT_EQ(bundle->localizedStringForKey("By Janre", "", "Core"), "By Genre");
    EXPECT_EQ(bundle->localizedStringForKey("Slide show delay: %d", "", "Settings"), "Slide show delay: %d s");
    EXPECT_EQ(bundle->localizedStringForKey("Yes", "", "MRaterLocalized"), "Yes");
    // One word for the gallery's painters and the texts browser's names alike; "Author" is the
    // music's alone.
    EXPECT_EQ(bundle->localizedStringForKey("By Name", "", "Core"), "By Name");
    EXPECT_EQ(bundle->localizedStringForKey("Author", "", "Core"), "Composers");
    EXPECT_EQ(bundle->localizedStringForKey("Cannot play", "", "Core"), "Cannot play");
    // Texts a person reads as English, whatever the number they carry.
    const std::string undefined = bundle->localizedStringForKey("Undefined error was occured", "", "Core");
    EXPECT_EQ(undefined, "Something went wrong. Please try again later.");
    EXPECT_NE(bundle->localizedStringForKey("Complete", "", "Core"), "Done");
    const std::string offer = bundle->localizedStringForKey("Download the %ld missing pictures (about %ld MB)?", "", "Core");
    EXPECT_EQ(NSString::format(offer, 1L, 2L), "Pictures not on this device yet: 1 (about 2 MB). Download them now?");
    EXPECT_EQ(bundle->localizedStringForKey("Show names in full screen", "", "Settings"),
              "Show the picture's name in full screen");
    // Both languages have every table, with the same keys.
    for (const char* table : {"Core", "FileDownloader", "Settings", "MRaterLocalized", "InfoPlist"}) {
        const auto en = keysOf(bundleFolder() + "/en.lproj/" + table + ".strings");
        EXPECT_FALSE(en.empty()) << table;
        EXPECT_EQ(en, keysOf(bundleFolder() + "/de.lproj/" + table + ".strings")) << table;
    }
    NSLocale::resetPreferredLanguages();
}

TEST(DemoGeneratorDeterminism, TwoRunsWriteTheSameBytes) {
    // The first run is the demo bundle's, by ostrel-demo in another process.
    const std::string& first = bundleFolder();
    const std::string second = Sandbox::home() + "/run-b";
    std::string error;
    ASSERT_TRUE(DemoGenerator::writeBundle(second, {}, &error)) << error;
    // A run over an earlier bundle replaces it with the same bytes.
    ASSERT_TRUE(DemoGenerator::writeBundle(second, {}, &error)) << error;
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(first)) {
        if (!entry.is_regular_file()) continue;
        const fs::path other = fs::path(second) / fs::relative(entry.path(), first);
        ASSERT_TRUE(fs::exists(other)) << other;
        EXPECT_TRUE(bytesOf(entry.path()) == bytesOf(other)) << entry.path();
        ++files;
    }
    std::size_t otherFiles = 0;
    for (const auto& entry : fs::recursive_directory_iterator(second)) otherFiles += entry.is_regular_file();
    EXPECT_EQ(files, otherFiles);
    EXPECT_GT(files, kDemoPaintingCount * 2);
}

TEST(DemoGeneratorOptions, FavouritesSyntheticRowsAndNoPictures) {
    DemoGenerator::Options options;
    options.favoritesTable = true;
    options.favorites = {3, 5, 8};
    options.syntheticPictures = 1000;
    options.writePictures = false;
    const std::string folder = Sandbox::home() + "/options";
    std::string error;
    ASSERT_TRUE(DemoGenerator::writeBundle(folder, options, &error)) << error;
    Database db(folder + "/images.sqlite");
    EXPECT_EQ(db.rows("select * from favorites order by \"index\""),
              (std::vector<std::vector<std::string>>{{"3"}, {"5"}, {"8"}}));
    EXPECT_EQ(db.count("select count(*) from images"), static_cast<long>(kDemoPaintingCount + 1000));
    EXPECT_EQ(db.count("select count(*) from images where subCat not in (select \"index\" from subCat)"), 0);
    EXPECT_FALSE(fs::exists(folder + "/Data"));
}

TEST(DemoGeneratorFailures, MissingSourceBundleIsReported) {
    DemoGenerator::Options options;
    options.sourceBundle = Sandbox::home() + "/no-such-bundle";
    std::string error;
    EXPECT_FALSE(DemoGenerator::writeBundle(Sandbox::home() + "/never", options, &error));
    EXPECT_NE(error.find("has no Info.plist"), std::string::npos);
    EXPECT_FALSE(fs::exists(Sandbox::home() + "/never"));
}

TEST(DemoGeneratorFailures, UnwritableTargetIsReported) {
    const std::string blocker = Sandbox::home() + "/blocker";
    std::ofstream(blocker) << "a file, not a folder";
    std::string error;
    EXPECT_FALSE(DemoGenerator::writeBundle(blocker + "/bundle", {}, &error));
    EXPECT_FALSE(error.empty());
}

TEST(DemoServerFolder, HoldsEveryPictureThumbnailAndHighResolutionFileUnderItsURLPath) {
    const std::string& server = DemoBundle::serverFolder();
    const std::string& bundle = bundleFolder();
    std::size_t highResolution = 0;
    for (const auto& painting : DemoCatalogue::paintings()) {
        const std::string path = DemoCatalogue::imagePathOf(painting);
        const std::string picture = server + "/pic/gallery/" + path;
        EXPECT_EQ(pictureSize(picture), std::make_pair(kDemoPictureWidth, kDemoPictureHeight)) << path;
        if (!DemoCatalogue::isOnServerOnly(painting)) {
            EXPECT_TRUE(bytesOf(picture) == bytesOf(bundle + "/Data/" + path)) << path;
        }
        EXPECT_EQ(pictureSize(server + "/data/gallery/thumbs/" + DemoCatalogue::serverThumbnailPathOf(path)),
                  std::make_pair(kDemoThumbnailWidth, kDemoThumbnailHeight))
            << path;
        const auto hd = pictureSize(server + "/data/gallery/" + path);
        if (hd.first) {
            EXPECT_EQ(hd, std::make_pair(kDemoHDPictureWidth, kDemoHDPictureHeight)) << path;
            ++highResolution;
        }
    }
    EXPECT_TRUE(fs::exists(server + "/data/gallery/thumbs/p0007_thumb.jpg"));
    EXPECT_TRUE(fs::exists(server + "/data/gallery/thumbs/p0013.png"));
    // Files exactly for the pictures that offer HD on either device.
    Database db(bundle + "/images.sqlite");
    EXPECT_EQ(static_cast<long>(highResolution),
              db.count("select count(*) from images where has_hd_ipad = '1' or has_hd_iphone = '1'"));
    EXPECT_LT(highResolution, kDemoPaintingCount);
    for (const auto& row : Database(bundle + "/media.sqlite").rows("select imagePath from images"))
        EXPECT_NE(pictureSize(server + "/pic/gallery/" + row[0]).first, 0) << row[0];

    // The fixtures name what the bundle's Info.plist names, and pages that exist.
    std::ifstream in(server + "/" + DemoGenerator::kServerFixtures);
    const auto fixtures = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(fixtures.is_object());
    EXPECT_EQ(fixtures["bundleIdentifier"], "com.norvane.ostrelgallery");
    EXPECT_EQ(fixtures["likesIdentifier"], "ostrel_gallery");
    EXPECT_EQ(fixtures["famousIdentifier"], "ostrel_gallery_famous");
    EXPECT_EQ(fixtures["applicationsCount"], 15);
    EXPECT_EQ(fixtures["messages"].size(), 3u);
    const auto& popular = fixtures["popular"];
    EXPECT_TRUE(std::any_of(popular.begin(), popular.end(), [](const auto& id) { return id.is_null(); }));
    EXPECT_TRUE(std::any_of(popular.begin(), popular.end(), [](const auto& id) { return id.is_string(); }));
    EXPECT_TRUE(std::any_of(popular.begin(), popular.end(), [](const auto& id) {
        return id.is_number() && id.template get<std::size_t>() > kDemoPaintingCount;
    }));
    std::size_t withoutEnglish = 0;
    for (const auto& post : fixtures["famous"]) {
        EXPECT_GE(post["picture_id"].get<int>(), 1);
        withoutEnglish += post["lng"].contains("en") ? 0 : 1;
        for (const auto& [language, entry] : post["lng"].items()) {
            const std::string url = entry["url"];
            ASSERT_EQ(url.rfind("{host}/", 0), 0u) << url;
            EXPECT_TRUE(fs::exists(server + url.substr(6))) << url;
        }
    }
    EXPECT_EQ(withoutEnglish, 1u);
    // The maker's page of its applications, in Russian and for everyone else.
    EXPECT_TRUE(fs::exists(server + "/more.html"));
    EXPECT_TRUE(fs::exists(server + "/moreen.html"));
}

TEST(DemoServerFolder, AHighResolutionFileIsItsPaintingDrawnLargerAtTheSizeTheCatalogueGives) {
    const std::string& server = DemoBundle::serverFolder();
    Database db(bundleFolder() + "/images.sqlite");
    const auto rows = db.rows("select imagePath, resolution from images where has_hd_ipad = '1' or has_hd_iphone = '1'");
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0]);
        const std::string hd = server + "/data/gallery/" + row[0];
        const auto size = pictureSize(hd);
        // The menu offers "Download HD (<resolution>)": the file is that size...
        EXPECT_EQ(std::to_string(size.first) + "x" + std::to_string(size.second), row[1]);
        // ...of the standard picture's shape, and the same picture.
        EXPECT_EQ(static_cast<long>(size.first) * kDemoPictureHeight, static_cast<long>(size.second) * kDemoPictureWidth);
        EXPECT_GT(size.first, kDemoPictureWidth);
        const auto large = reduced(hd), standard = reduced(server + "/pic/gallery/" + row[0]);
        ASSERT_FALSE(large.empty() || standard.empty());
        EXPECT_LT(meanDifference(large, standard), 2.0);
    }
    // Any two paintings differ by far more.
    EXPECT_GT(meanDifference(reduced(server + "/data/gallery/" + rows[0][0]),
                             reduced(server + "/pic/gallery/" + rows[1][0])),
              10.0);
}

TEST(DemoServerHost, IsSetInACopyOfTheBundleAndNotInTheOriginal) {
    const std::string bundle = Sandbox::home() + "/host-bundle", copy = Sandbox::home() + "/host-copy";
    DemoGenerator::Options options;
    options.writePictures = false;
    std::string error;
    ASSERT_TRUE(DemoGenerator::writeBundle(bundle, options, &error)) << error;
    fs::create_directories(copy);
    fs::create_hard_link(bundle + "/Info.plist", copy + "/Info.plist");
    const auto before = bytesOf(bundle + "/Info.plist");
    ASSERT_TRUE(DemoGenerator::setServerHost(copy, "http://127.0.0.1:40123", &error)) << error;
    EXPECT_TRUE(bytesOf(bundle + "/Info.plist") == before);

    {
        ScopedMainBundle main(copy);
        EXPECT_EQ(AppInfo::appServerHost(), "http://127.0.0.1:40123");
        EXPECT_EQ(AppInfo::appServerFolder(), "gallery");
        EXPECT_EQ(AppInfo::bundleId(), "com.norvane.ostrelgallery");
    }
    {
        ScopedMainBundle main(bundle);
        EXPECT_EQ(AppInfo::appServerHost(), "http://127.0.0.1:8470");
    }
    EXPECT_FALSE(DemoGenerator::setServerHost(Sandbox::home() + "/nowhere", "http://127.0.0.1:1", &error));
    EXPECT_NE(error.find("nowhere"), std::string::npos);
}

TEST(OstrelDemoTool, WritesTheBundleNamedOnTheCommandLine) {
    const std::string folder = Sandbox::home() + "/tool-bundle";
    EXPECT_EQ(std::system((std::string(OSTREL_DEMO_TOOL) + " --no-pictures '" + folder + "'").c_str()), 0);
    EXPECT_TRUE(fs::exists(folder + "/images.sqlite"));
    EXPECT_TRUE(fs::exists(folder + "/de.lproj/Core.strings"));
    EXPECT_NE(std::system((std::string(OSTREL_DEMO_TOOL) + " 2>/dev/null").c_str()), 0);
    const std::string server = Sandbox::home() + "/tool-server";
    EXPECT_EQ(std::system((std::string(OSTREL_DEMO_TOOL) + " --no-pictures --server '" + server + "' '" + folder + "'").c_str()), 0);
    EXPECT_TRUE(fs::exists(server + "/fixtures.json"));
    EXPECT_EQ(std::system((std::string(OSTREL_DEMO_TOOL) + " --server-host http://127.0.0.1:9 '" + folder + "'").c_str()), 0);
    std::ifstream in(folder + "/Info.plist");
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(in), {}).find("http://127.0.0.1:9<"), std::string::npos);
}
