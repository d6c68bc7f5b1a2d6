// Loaders: the one-time import of old favourites (hostile names, broken files, many threads,
// a failing disk) and reading one column.
#include "content/Loader.h"
#include "content/Favorites_DataSource.h"
#include "tests/content/ContentFixture.h"
#include "platform/foundation/NSFileManager.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <algorithm>
#include <filesystem>
#include <functional>
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

// The first start copies the images database from the bundle; a disk that fails on the way
// leaves nothing under the database's name, and the next start copies it and imports.
TEST_F(LoaderTest, AFailedCopyOfTheBundleDatabaseLeavesNothingToOpenAndTheNextStartCopiesAndImports) {
    writeMiniCatalogue("images-import-e.sqlite");
    writeOldFavourites("images_old.sqlite", {2, 5});
    const std::string copy = documents() + "/images-import-e.sqlite";
    const std::string partial = copy + ".copying";
    using Operation = FaultyFileIO::Operation;
    const struct {
        const char* fault;
        std::function<void(FaultInjection&)> inject;
        const char* says;
    } cases[] = {
        {"no space", [&](FaultInjection& io) { io->noSpace(partial); },
         "The file \u201cimages-import-e.sqlite.copying\u201d couldn\u2019t be saved because there is no space left on "
         "the volume."},
        {"write error", [&](FaultInjection& io) { io->ioError(Operation::Write, partial); }, "Input/output error"},
        {"read error", [&](FaultInjection& io) { io->ioError(Operation::Read, bundle() + "/images-import-e.sqlite"); },
         "couldn\u2019t be read: Input/output error"},
        // The copy is flushed before it takes the database's name: a disk that fails only then
        // must not leave a database that merely looks whole.
        {"flush error", [&](FaultInjection& io) { io->ioError(Operation::Sync, partial); }, "Input/output error"},
        {"failed rename", [&](FaultInjection& io) { io->failRename(copy); }, "Input/output error"},
        // Not even the half copy can be removed: it stays under its own name, never opened.
        {"no space and no removal",
         [&](FaultInjection& io) {
             io->noSpace(partial);
             io->ioError(Operation::Remove, partial);
         },
         "there is no space left on the volume"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        FaultInjection injection;
        c.inject(injection);
        CaptureStderr();
        auto loader = imagesLoader();
        const std::string log = GetCapturedStderr();
        EXPECT_GT(injection->injected(), 0);
        EXPECT_FALSE(loader->sql());
        EXPECT_THAT(log, HasSubstr("The content database images-import-e.sqlite could not be copied from the bundle. "));
        EXPECT_THAT(log, HasSubstr(c.says));
        EXPECT_FALSE(exists(copy));
        EXPECT_TRUE(exists(documents() + "/images_old.sqlite"));
    }
    EXPECT_TRUE(exists(partial));

    auto loader = imagesLoader();
    ASSERT_TRUE(loader->sql());
    EXPECT_EQ(loader->objectfFromTable("images", "index").size(), 6u);
    EXPECT_THAT(favourites(loader), ElementsAre("2", "5"));
    EXPECT_FALSE(exists(documents() + "/images_old.sqlite"));
    EXPECT_FALSE(exists(partial));
}

// Favourites are a set, so importing a file again adds nothing twice; but a file that outlives
// its import must not bring back a favourite the user removed since.
TEST_F(LoaderTest, AnImportedFileThatCannotBeDeletedIsReportedAndBringsNothingBack) {
    writeMiniCatalogue("images-import-f.sqlite");
    writeOldFavourites("images_old.sqlite", {1, 2});
    const std::string old = documents() + "/images_old.sqlite";
    const std::string reported =
        "The old favourites file images_old.sqlite was imported but could not be deleted. The file "
        "\u201cimages_old.sqlite\u201d couldn\u2019t be saved: Input/output error. Its favourites were emptied, so "
        "they are not imported again.";
    FaultInjection injection;
    injection->ioError(FaultyFileIO::Operation::Remove, old);
    CaptureStderr();
    auto loader = imagesLoader();
    EXPECT_THAT(GetCapturedStderr(), HasSubstr(reported));
    EXPECT_THAT(favourites(loader), ElementsAre("1", "2"));
    EXPECT_TRUE(exists(old));

    {
        auto source = Favorites_DataSource::initWithLoader(loader);
        ASSERT_TRUE(source->deleteFromFavorites({{"index", Value("2")}}));
    }
    // The next start: still not deletable, and nothing comes back.
    CaptureStderr();
    EXPECT_TRUE(loader->importOldFavorites("images_old.sqlite"));
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("could not be deleted"));
    EXPECT_THAT(favourites(loader), ElementsAre("1"));

    // The start after the disk recovered deletes it.
    injection->clear();
    EXPECT_TRUE(loader->importOldFavorites("images_old.sqlite"));
    EXPECT_THAT(favourites(loader), ElementsAre("1"));
    EXPECT_FALSE(exists(old));
}

// Favourites move only between two files that read whole. With damaged pages on either side,
// away from anything the import reads, neither file changes, the old one keeps its favourites and
// one line says so; only the import is refused: the current file opens as it would without the
// old one, until a read of its own meets the damage.
TEST_F(LoaderTest, DamagedPagesInEitherFileLeaveBothAsTheyAreAndAreToldInOneLine) {
    const std::string old = documents() + "/images-2019.sqlite";
    for (const bool currentDamaged : {true, false}) {
        SCOPED_TRACE(currentDamaged ? "the current file damaged" : "the old file damaged");
        const std::string name = currentDamaged ? "images-import-g.sqlite" : "images-import-h.sqlite";
        const std::string current = documents() + "/" + name;
        writeMiniCatalogue(name);
        makeDatabase(current, std::vector<std::string>(kMiniCatalogue.begin(), kMiniCatalogue.end()));
        makeDatabase(old, {"create table favorites (\"index\" integer primary key)",
                           "with recursive n(i) as (select 1 union all select i + 1 from n where i < 20) "
                           "insert into favorites select i from n",
                           "create table images (a integer primary key, b text)",
                           "insert into images values (1, 'old catalogue')"});
        ASSERT_TRUE(damageRowsPage(currentDamaged ? current : old, "images"));
        const auto currentBytes = NSFileManager::defaultManager()->contentsAtPath(current);
        const auto oldBytes = NSFileManager::defaultManager()->contentsAtPath(old);

        CaptureStderr();
        auto loader = imagesLoader();
        ASSERT_TRUE(loader->sql());
        EXPECT_FALSE(loader->sql()->isDamaged());
        // Opened again (another screen), the file opens, and nothing more is said.
        EXPECT_TRUE(imagesLoader()->sql());
        EXPECT_EQ(GetCapturedStderr(),
                  "The old favourites file images-2019.sqlite is not imported. The content database " +
                      (currentDamaged ? name : std::string("images-2019.sqlite")) +
                      " has damaged pages (database disk image is malformed). The file is kept.\n");
        EXPECT_TRUE(NSFileManager::defaultManager()->contentsAtPath(current) == currentBytes) << "changed";
        EXPECT_TRUE(NSFileManager::defaultManager()->contentsAtPath(old) == oldBytes) << "changed or gone";
        EXPECT_EQ(sqliteRows(old, "select count(*) from favorites"), (std::vector<std::vector<std::string>>{{"20"}}));

        // A read of the current file's own that meets the damage says so, and shuts it from then on.
        CaptureStderr();
        (void)loader->objectfFromTable("images", "imagePath");
        EXPECT_EQ(loader->sql()->isDamaged(), currentDamaged);
        EXPECT_EQ(static_cast<bool>(imagesLoader()->sql()), !currentDamaged);
        EXPECT_EQ(GetCapturedStderr(),
                  currentDamaged ? "The content database " + name +
                                       " is not one the application can use (database disk image is malformed); it "
                                       "is left as it is.\n"
                                 : std::string());
        for (const auto& file : {current, old}) std::filesystem::remove(file);
        SQLiteEngine::forgetRefusals();
    }
}

// The engine does not tell an attach it was refused: the import's one line says why.
TEST_F(LoaderTest, AnOldFavouritesFileThatIsAFolderIsToldInOneLine) {
    writeMiniCatalogue("images-import-i.sqlite");
    const std::string folder = documents() + "/images-2019.sqlite";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    CaptureStderr();
    auto loader = imagesLoader();
    ASSERT_TRUE(loader->sql());
    const std::string log = GetCapturedStderr();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_THAT(log, testing::StartsWith("The old favourites file images-2019.sqlite could not be attached. SQLite "
                                         "refused it: unable to open database"));
    EXPECT_THAT(log, testing::EndsWith(". The file is kept.\n"));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(loader->objectfFromTable("images", "index").size(), 6u);
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

// The articles list reads each article's picture number and language: a file without them is
// refused as the catalogue is.
TEST_F(LoaderTest, TheArticlesDatabaseOpensOnlyWithTheColumnsTheArticlesAreReadBy) {
    makeDatabase(bundle() + "/articles.sqlite", {"create table articles (id text, language text)"});
    reloadConfiguration();
    const auto entry = dbEntry::articlesEntry(context().config->database());
    CaptureStderr();
    EXPECT_FALSE(Loader::loaderWithDBEntry(entry, context())->sql());
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("articles.sqlite is not one the application can use (no such column"));
    std::filesystem::remove(documents() + "/articles.sqlite");
    makeDatabase(bundle() + "/articles.sqlite", {"create table articles (id text, image_id integer, language text)"});
    EXPECT_TRUE(Loader::loaderWithDBEntry(entry, context())->sql());
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
