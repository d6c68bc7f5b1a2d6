// The catalogue source and the grouping by another table over the hand-made catalogue:
// levels, order, author columns of every language, caches, deletion and all paths.
#include "content/AllImagesInSelectedCats_DataSource.h"
#include "content/ImagesWithIds_DataSource.h"
#include "content/ListOtherSubCat_DataSource.h"
#include "content/List_DataSource.h"
#include "content/tempDataSource.h"
#include "config/FileSystem.h"
#include "config/OEConfig.h"
#include "config/OELocalizations.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Sandbox.h"
#include "tests/content/ContentFixture.h"

#include <algorithm>

using testing::ElementsAre;
using testing::HasSubstr;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

std::vector<std::string> names(const SubCatList& list) {
    std::vector<std::string> out;
    if (list) for (const auto& record : *list) out.push_back(record->name());
    return out;
}

std::vector<std::string> column(const ContentRowList& rows, const char* key) {
    std::vector<std::string> out;
    if (rows) for (const auto& row : *rows) out.push_back(row.get(key).stringValue());
    return out;
}

std::shared_ptr<dataSubCat> subCatNumbered(const SubCatList& list, int index) {
    for (const auto& record : *list) if (record->index() == index) return record;
    return nullptr;
}

}  // namespace

class List_DataSourceTest : public ContentFixture {
protected:
    void SetUp() override {
        ContentFixture::SetUp();
        writeMiniCatalogue();
        source_ = List_DataSource::initWithLoader(imagesLoader());
    }
    std::shared_ptr<dataCat> category(int index) {
        for (const auto& cat : *source_->catList()) if (cat->index() == index) return cat;
        return nullptr;
    }
    // A picture row added behind the source's back, through a connection of its own.
    void insertPictureDirectly(int index, int subCat) {
        auto engine = SQLiteEngine::initWithPath(documents() + "/images.sqlite");
        ASSERT_TRUE(engine->execRequest("insert into images (\"index\", subCat, subCat2, author, imagePath, name_en) "
                                        "values (?, ?, 1, 1, ?, 'added')",
                                        {Value(index), Value(subCat), Value("p" + std::to_string(index) + ".jpg")}));
    }
    std::shared_ptr<List_DataSource> source_;
};

TEST_F(List_DataSourceTest, LevelsHoldWhatTheTablesHoldInTheirOrder) {
    const auto cats = source_->catList();
    ASSERT_EQ(cats->size(), 3u);
    EXPECT_EQ((*cats)[0]->name(), "Old");
    EXPECT_EQ((*cats)[2]->index(), 3);

    const auto old = source_->subCatList(category(1));
    // Landscapes (1800) before Portraits (1900); "Nothing" has no picture and is left out.
    EXPECT_THAT(names(old), ElementsAre("Landscapes", "Portraits"));
    EXPECT_EQ((*old)[0]->data().get("images_count").intValue(), 2);
    EXPECT_EQ((*old)[1]->data().get("images_count").intValue(), 3);
    EXPECT_EQ((*old)[1]->catTable(), "subCat");
    EXPECT_THAT(names(source_->subCatList(category(2))), ElementsAre("Sea"));
    EXPECT_TRUE(source_->subCatList(category(3))->empty());

    const auto portraits = source_->list(subCatNumbered(old, 1));
    // Ordered by the author's base-column name: Моне, Рембрандт, Тёрнер.
    EXPECT_THAT(column(portraits, "index"), ElementsAre("2", "1", "6"));
    EXPECT_EQ(source_->imageDataForCat(subCatNumbered(old, 1), 1).get("name_en").string(), "Night Watch");
    EXPECT_TRUE(source_->imageDataForCat(subCatNumbered(old, 1), 3).empty());
}

TEST_F(List_DataSourceTest, PictureRowsCarryAuthorColumnsOfEveryLanguageWithTheFallBack) {
    const auto old = source_->subCatList(category(1));
    const auto rows = source_->list(subCatNumbered(old, 1));
    ASSERT_EQ(rows->size(), 3u);
    const auto& monet = (*rows)[0];
    const auto& rembrandt = (*rows)[1];
    const auto locale = context().localizations;
    for (const auto& language : locale->config()->supportedLanguages()) {
        SCOPED_TRACE(language);
        EXPECT_TRUE(monet.contains(locale->formatLocalizedField("author_name", language)));
        EXPECT_TRUE(monet.contains(locale->formatLocalizedField("author_description", language)));
    }
    EXPECT_EQ(monet.get("author_name").string(), "Моне");
    EXPECT_EQ(monet.get("author_name_de").string(), "Z-Monet");
    EXPECT_EQ(monet.get("author_name_fr").string(), "Monet");  // empty French name
    EXPECT_EQ(monet.get("author_name_zh").string(), "Monet");  // no Chinese column at all
    EXPECT_EQ(monet.get("author_description").string(), "");   // Russian does not fall back
    EXPECT_EQ(monet.get("author_description_ja").string(), "Monet bio");
    EXPECT_EQ(rembrandt.get("author_name_fr").string(), "Rembrandt (fr)");
    EXPECT_EQ(rembrandt.get("author_description").string(), "био");

    // The reader's fall-back agrees with the columns for a language the table lacks.
    setLanguage("zh-Hans-CN");
    EXPECT_EQ(locale->localizedAuthorFieldValue(monet), "Monet");
}

TEST_F(List_DataSourceTest, ListsAreCachedUntilMessageDataUpdated) {
    const auto old = source_->subCatList(category(1));
    const auto portraits = subCatNumbered(old, 1);
    const auto first = source_->list(portraits);
    insertPictureDirectly(7, 1);
    EXPECT_EQ(source_->list(portraits), first);
    EXPECT_EQ(source_->list(portraits)->size(), 3u);
    EXPECT_EQ(source_->subCatList(category(1)), old);

    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    EXPECT_EQ(source_->list(portraits)->size(), 4u);
    EXPECT_NE(source_->subCatList(category(1)), old);
    EXPECT_EQ(subCatNumbered(source_->subCatList(category(1)), 1)->data().get("images_count").intValue(), 4);
}

TEST_F(List_DataSourceTest, AuthorGroupingKeepsTheFoldRowAndOrdersByTheLanguagesName) {
    auto byAuthor = ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "author");
    auto authors = byAuthor->subCatList(category(1));
    EXPECT_THAT(names(authors), ElementsAre("Monet", "Nobody", "Rembrandt"));
    EXPECT_EQ(subCatNumbered(authors, 3)->data().get("images_count").intValue(), 0);
    EXPECT_EQ((*authors)[0]->catTable(), "author");
    EXPECT_THAT(column(byAuthor->list(subCatNumbered(authors, 1)), "index"), ElementsAre("1", "4"));
    EXPECT_EQ(byAuthor->list(subCatNumbered(authors, 3)), nullptr);

    setLanguage("de");
    auto german = ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "author");
    EXPECT_THAT(names(german->subCatList(category(1))), ElementsAre("A-Rembrandt", "M-Nobody", "Z-Monet"));

    auto bySecond = ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "subCat2");
    auto groups = bySecond->subCatList(category(1));
    EXPECT_THAT(names(groups), ElementsAre("Seventeenth", "Nineteenth"));
    EXPECT_THAT(column(bySecond->list(subCatNumbered(groups, 2)), "index"), ElementsAre("3", "4", "5"));
}

TEST_F(List_DataSourceTest, AGroupingTableThatIsNotAPlainNameGivesEmptyLists) {
    CaptureStderr();
    auto hostile = ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "author; drop table images");
    EXPECT_TRUE(hostile->subCatList(category(1))->empty());
    EXPECT_EQ(hostile->list(dataSubCat::emptySubCat()), nullptr);
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("is not a plain identifier"));
    EXPECT_EQ(source_->catList()->size(), 3u);
}

TEST_F(List_DataSourceTest, DeletingASubcategoryRemovesItsRowsAndTheFilesItsPicturesOccupy) {
    // A picture whose path points outside Documents: nothing outside may be touched.
    {
        auto engine = SQLiteEngine::initWithPath(documents() + "/images.sqlite");
        ASSERT_TRUE(engine->execRequest("insert into images (\"index\", subCat, subCat2, author, imagePath) "
                                        "values (8, 1, 1, 1, '../../escape.jpg')"));
    }
    const std::string outside = Sandbox::home() + "/escape.jpg";
    const std::string data = documents() + "/Data/";
    for (const auto& file : {data + "cats/cat1.jpg", data + "cats/cat1.png", data + "p0001.jpg", data + "hd-p0001.jpg",
                             data + "p0001_thumb.jpg", caches() + "/Data/p0002_thumb.jpg", data + "p0002.jpg",
                             data + "p0003.JPG", outside, documents() + "/Data/escape.jpg"}) {
        writeFile(file, "picture");
    }
    const auto old = source_->subCatList(category(1));
    const auto portraits = subCatNumbered(old, 1);
    ASSERT_TRUE(source_->alowDeleteSubCats());
    const FileSystem& files = source_->loader()->fileSystem();
    EXPECT_TRUE(files.rememberedFilePathInWritableLocation("Data/hd-p0001.jpg").has_value());
    source_->deleteSubCat(portraits);
    // The high-resolution picture's sign goes with it at once.
    EXPECT_FALSE(files.rememberedFilePathInWritableLocation("Data/hd-p0001.jpg").has_value());

    for (const auto& gone : {data + "cats/cat1.jpg", data + "cats/cat1.png", data + "p0001.jpg", data + "hd-p0001.jpg",
                             data + "p0001_thumb.jpg", caches() + "/Data/p0002_thumb.jpg", data + "p0002.jpg"}) {
        EXPECT_FALSE(exists(gone)) << gone;
    }
    EXPECT_TRUE(exists(data + "p0003.JPG"));
    EXPECT_TRUE(exists(outside));
    EXPECT_TRUE(exists(documents() + "/Data/escape.jpg"));
    EXPECT_THAT(names(source_->subCatList(category(1))), ElementsAre("Landscapes"));

    // The pictures went with their subcategory, by the column that groups them.
    auto fresh = List_DataSource::initWithLoader(imagesLoader());
    EXPECT_EQ(fresh->loader()->objectfFromTable("images", "index").size(), 3u);
    EXPECT_EQ(fresh->loader()->objectfFromTable("subCat", "index").size(), 3u);
    EXPECT_TRUE(fresh->list(portraits)->empty());
}

TEST_F(List_DataSourceTest, AllPathsWalkEveryLevelInOrder) {
    EXPECT_THAT(source_->allPaths(),
                ElementsAre("p0003.JPG", "p0004.png", "p0002.jpg", "p0001.jpg", "p0006.jpg", "sea/p0005.jpg"));
    EXPECT_THAT(source_->allPathsFiltered([](const Value::Dictionary& row) { return row.get("inapp").string() == "1"; },
                                          true),
                ElementsAre("low_p0001.jpg"));
}

TEST_F(List_DataSourceTest, PathsInAnyOrderAreThePathsOfTheWalk) {
    // Pictures no list shows: without an author, in a subcategory of no category, in no group.
    auto engine = SQLiteEngine::initWithPath(documents() + "/images.sqlite");
    ASSERT_TRUE(engine->execRequest("insert into subCat (\"index\", name, bigCat) values (5, 'Lost', 9)"));
    ASSERT_TRUE(engine->execRequest("insert into images (\"index\", subCat, subCat2, author, imagePath) values "
                                    "(7, 1, 1, 99, 'no-author.jpg'), (8, 5, 9, 1, 'lost.jpg'), (9, NULL, NULL, 1, 'none.jpg')"));
    auto sorted = [](std::vector<std::string> paths) {
        std::sort(paths.begin(), paths.end());
        paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
        return paths;
    };
    EXPECT_THAT(sorted(source_->allPathsInAnyOrder()),
                ElementsAre("p0001.jpg", "p0002.jpg", "p0003.JPG", "p0004.png", "p0006.jpg", "sea/p0005.jpg"));
    const std::vector<std::shared_ptr<DataSource>> sources = {
        source_,
        ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "subCat2"),
        ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "author"),
        AllImagesList_DataSource::initWithLoader(imagesLoader()),
        AllImagesInSelectedCats_DataSource::initWithLoader(imagesLoader(), Value::Dictionary{{"2", true}}, "subCat"),
        ImagesWithIds_DataSource::initWithLoader(imagesLoader(), {Value(3), Value(7), Value(5)}),
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source->className());
        EXPECT_FALSE(source->allPaths().empty());
        EXPECT_EQ(sorted(source->allPathsInAnyOrder()), sorted(source->allPaths()));
    }
}

TEST_F(List_DataSourceTest, ReadyMadeSourcesOpenTheImagesAndTheMediaDatabases) {
    makeDatabase(bundle() + "/media.sqlite", kMiniCatalogue);
    reloadConfiguration();
    EXPECT_EQ(tempDataSource::tempImagesDataSource(context())->catList()->size(), 3u);
    auto media = tempDataSource::tempMediaDataSource(context());
    EXPECT_EQ(media->loader()->entry()->dbPath(), "media.sqlite");
    EXPECT_EQ(media->catList()->size(), 3u);
}

TEST(DataSourceDeathTest, TheAbstractBaseRefusesItsLevels) {
    auto base = DataSource::make();
    EXPECT_DEATH(base->catList(), "unrecognized selector");
    EXPECT_DEATH((void)base->addToFavorites({}), "unrecognized selector");
    EXPECT_FALSE(base->mayAddToFavorites());
    EXPECT_FALSE(base->alowSearch());
    EXPECT_EQ(base->searchResult("x"), nullptr);
}
