// Loaders: the one-time import of old favourites (hostile names, broken files, many threads)
// and reading one column.
#include "content/Loader.h"
#include "tests/content/ContentFixture.h"

#include <algorithm>
#include <thread>

using testing::ElementsAre;
using testing::HasSubstr;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class LoaderTest : public ContentFixture {
protected:
    std::vector<std::string> favourites(const std::shared_ptr<Loader>& loader) {
        auto values = loader->objectfFromTable("favorites", "index");
        std::sort(values.begin(), values.end());
        return values;
    }
    void writeOldFavourites(const std::string& name, const std::vector<int>& indexes) {
        std::vector<std::string> statements = {"create table favorites (\"index\" integer primary key)"};
        for (int index : indexes) statements.push_back("insert into favorites values (" + std::to_string(index) + ")");
        makeDatabase(documents() + "/" + name, statements);
    }
};

TEST_F(LoaderTest, OldFavouritesAreImportedOnceAndOnlyACopiedFileIsDeleted) {
    writeMiniCatalogue("images-import-a.sqlite");
    const std::string hostile = "images_o'ld; drop table images; --.sqlite";
    writeOldFavourites(hostile, {1, 4});
    writeFile(documents() + "/images_broken.sqlite", std::string(2048, 'z'));
    writeFile(documents() + "/imagesnot.db", "other");

    CaptureStderr();
    auto loader = imagesLoader();
    ASSERT_TRUE(loader->sql());
    const std::string log = GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("images_broken.sqlite could not be attached")) << log;
    EXPECT_THAT(log, HasSubstr("The file is kept.")) << log;
    EXPECT_THAT(favourites(loader), ElementsAre("1", "4"));
    EXPECT_FALSE(exists(documents() + "/" + hostile));
    EXPECT_TRUE(exists(documents() + "/images_broken.sqlite"));
    EXPECT_TRUE(exists(documents() + "/imagesnot.db"));
    // The catalogue itself came through the quotes untouched.
    EXPECT_EQ(loader->objectfFromTable("images", "index").size(), 6u);

    // Later loaders of the process do not try again.
    writeOldFavourites("images_later.sqlite", {2});
    CaptureStderr();
    auto second = imagesLoader();
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_TRUE(exists(documents() + "/images_later.sqlite"));
    EXPECT_THAT(favourites(second), ElementsAre("1", "4"));

    // Asked for explicitly, the second file is handled on its own.
    EXPECT_TRUE(second->importOldFavorites("images_later.sqlite"));
    EXPECT_THAT(favourites(second), ElementsAre("1", "2", "4"));
    EXPECT_FALSE(exists(documents() + "/images_later.sqlite"));
    for (const char* name : {"images-import-a.sqlite", "images_absent.sqlite", "../images_x.sqlite"}) {
        NSErrorPtr error;
        EXPECT_FALSE(second->importOldFavorites(name, &error)) << name;
        ASSERT_TRUE(error) << name;
        EXPECT_EQ(error->domain(), OEContentErrorDomain);
        EXPECT_EQ(error->code(), OEContentErrorNoSuchFile) << name;
    }
    NSErrorPtr broken;
    EXPECT_FALSE(second->importOldFavorites("images_broken.sqlite", &broken));
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->code(), OEContentErrorStatement);
    EXPECT_THAT(broken->localizedDescription(), HasSubstr("file is not a database"));
}

TEST_F(LoaderTest, ImportKeepsExistingFavouritesAndMergesDuplicates) {
    writeMiniCatalogue("images-import-b.sqlite");
    makeDatabase(documents() + "/images-import-b.sqlite",
                 std::vector<std::string>(kMiniCatalogue.begin(), kMiniCatalogue.end()));
    {
        auto engine = SQLiteEngine::initWithPath(documents() + "/images-import-b.sqlite");
        ASSERT_TRUE(engine->execRequest("create table favorites (\"index\" integer primary key)"));
        ASSERT_TRUE(engine->execRequest("insert into favorites values (1)"));
    }
    writeOldFavourites("images_v1.sqlite", {1, 2});
    makeDatabase(documents() + "/images_nofav.sqlite", {"create table images (a)"});
    auto loader = imagesLoader();
    EXPECT_THAT(favourites(loader), ElementsAre("1", "2"));
    EXPECT_FALSE(exists(documents() + "/images_v1.sqlite"));
    // A file without favourites has nothing to lose.
    EXPECT_FALSE(exists(documents() + "/images_nofav.sqlite"));
}

TEST_F(LoaderTest, LoadersMadeTogetherOnManyThreadsImportOnce) {
    writeMiniCatalogue("images-import-c.sqlite");
    writeOldFavourites("images_old.sqlite", {2, 3, 5});
    std::vector<std::shared_ptr<Loader>> loaders(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < loaders.size(); ++i) threads.emplace_back([&, i] { loaders[i] = imagesLoader(); });
    for (auto& thread : threads) thread.join();
    for (const auto& loader : loaders) {
        ASSERT_TRUE(loader && loader->sql());
        EXPECT_THAT(favourites(loader), ElementsAre("2", "3", "5"));
    }
    EXPECT_FALSE(exists(documents() + "/images_old.sqlite"));
}

TEST_F(LoaderTest, OtherDatabasesNeverScanDocuments) {
    writeMiniCatalogue("images-import-d.sqlite");
    makeDatabase(bundle() + "/media.sqlite", {"create table compositions (a)"});
    reloadConfiguration();
    writeOldFavourites("images_stay.sqlite", {1});
    auto loader = Loader::loaderWithDBEntry(dbEntry::initWithPath("media.sqlite", "Music"), context());
    ASSERT_TRUE(loader->sql());
    EXPECT_TRUE(exists(documents() + "/images_stay.sqlite"));
}

TEST_F(LoaderTest, ColumnValuesAndRefusedIdentifiers) {
    writeMiniCatalogue();
    auto loader = imagesLoader();
    EXPECT_THAT(loader->objectfFromTable("bigCat", "name"), ElementsAre("Old", "New", "Empty"));
    CaptureStderr();
    EXPECT_TRUE(loader->objectfFromTable("favorites", "index").empty());
    EXPECT_EQ(GetCapturedStderr(), "");
    CaptureStderr();
    EXPECT_TRUE(loader->objectfFromTable("bigCat\" union select sql from sqlite_master --", "name").empty());
    EXPECT_TRUE(loader->objectfFromTable("bigCat", "name\"").empty());
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("is not a plain identifier"));
    auto entry = dbEntry::defaultEntry(context().config->database());
    EXPECT_EQ(entry->dbPath(), "images.sqlite");
    EXPECT_EQ(entry->dbName(), "Gallery");
    EXPECT_EQ(dbEntry::articlesEntry(context().config->database())->dbName(), "Articles");
}
