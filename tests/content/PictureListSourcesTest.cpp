// The picture-list family over the hand-made catalogue: all pictures, selected groups,
// favourites with their notification, one picture, pictures by numbers, a path alone.
#include "content/AllImagesInSelectedCats_DataSource.h"
#include "content/AllImagesList_DataSource.h"
#include "content/Favorites_DataSource.h"
#include "content/ImagePathDataSource.h"
#include "content/ImagesWithIds_DataSource.h"
#include "content/OneImage_DataSource.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "tests/content/ContentFixture.h"

using testing::ElementsAre;

namespace {

std::vector<std::string> indexes(const ContentRowList& rows) {
    std::vector<std::string> out;
    if (rows) for (const auto& row : *rows) out.push_back(row.get("index").stringValue());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> inOrder(const ContentRowList& rows) {
    std::vector<std::string> out;
    if (rows) for (const auto& row : *rows) out.push_back(row.get("index").stringValue());
    return out;
}

Value::Dictionary picture(int index) { return Value::Dictionary{{"index", Value(std::to_string(index))}}; }

}  // namespace

class PictureListSourcesTest : public ContentFixture {
protected:
    void SetUp() override {
        ContentFixture::SetUp();
        writeMiniCatalogue();
    }
    void insertFavouriteDirectly(int index) {
        auto engine = SQLiteEngine::initWithPath(documents() + "/images.sqlite");
        ASSERT_TRUE(engine->execRequest("insert into favorites values (?)", {Value(index)}));
    }
};

TEST_F(PictureListSourcesTest, AllPicturesAreOneListForEverySubcategory) {
    auto all = AllImagesList_DataSource::initWithLoader(imagesLoader());
    const auto rows = all->list(nullptr);
    EXPECT_EQ(rows->size(), 6u);
    EXPECT_EQ(all->list(dataSubCat::emptySubCat()), rows);
    EXPECT_EQ(all->catKey(nullptr), "##AllImagesKey");
}

TEST_F(PictureListSourcesTest, SelectedGroupsKeepOnlyTheirPictures) {
    Value::Dictionary selection{{"2", Value(true)}, {"1", Value(false)}, {"4", Value("yes")}};
    auto selected = AllImagesInSelectedCats_DataSource::initWithLoader(imagesLoader(), selection, "subCat");
    EXPECT_THAT(inOrder(selected->list(nullptr)), ElementsAre("3", "4"));
    auto bySecond = AllImagesInSelectedCats_DataSource::initWithLoader(
        imagesLoader(), Value::Dictionary{{"1", Value(1)}}, "subCat2");
    EXPECT_THAT(indexes(bySecond->list(nullptr)), ElementsAre("1", "2", "6"));
}

TEST_F(PictureListSourcesTest, FavouritesRoundTripCreatesTheTableAndAnnouncesChanges) {
    auto favourites = Favorites_DataSource::initWithLoader(imagesLoader());
    auto catalogue = AllImagesList_DataSource::initWithLoader(imagesLoader());
    int posts = 0;
    auto observer = std::make_shared<NSObject>();
    NSNotificationCenter::defaultCenter()->addObserver(observer, [&](const NSNotification&) { ++posts; },
                                                       kMessageDataUpdated);

    ASSERT_EQ(favourites->catList()->size(), 1u);
    EXPECT_EQ(favourites->subCatList(nullptr)->front()->index(), -1);
    EXPECT_TRUE(favourites->list(nullptr)->empty());
    EXPECT_FALSE(favourites->inFavorites(picture(4)));
    EXPECT_TRUE(favourites->mayAddToFavorites());

    const auto cataloguedBefore = catalogue->list(nullptr);
    EXPECT_TRUE(favourites->addToFavorites(picture(4)));
    EXPECT_EQ(posts, 1);
    EXPECT_TRUE(favourites->inFavorites(picture(4)));
    EXPECT_THAT(indexes(favourites->list(nullptr)), ElementsAre("4"));
    EXPECT_EQ(favourites->list(nullptr)->front().get("author_name_en").string(), "Rembrandt");
    // Other sources dropped their lists on the announcement.
    EXPECT_NE(catalogue->list(nullptr), cataloguedBefore);

    // A favourite stored elsewhere stays unseen until this source changes its own list.
    insertFavouriteDirectly(5);
    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    EXPECT_THAT(indexes(favourites->list(nullptr)), ElementsAre("4"));
    EXPECT_TRUE(favourites->addToFavorites(picture(4)));  // already there: nothing changes
    EXPECT_THAT(indexes(favourites->list(nullptr)), ElementsAre("4", "5"));

    EXPECT_TRUE(favourites->deleteFromFavorites(picture(4)));
    EXPECT_FALSE(favourites->inFavorites(picture(4)));
    EXPECT_THAT(indexes(favourites->list(nullptr)), ElementsAre("5"));
    EXPECT_EQ(posts, 4);
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}

// A favourite that cannot be stored is a failure the caller sees, and nobody is told of a change.
TEST_F(PictureListSourcesTest, FavouritesThatCannotBeStoredFailAndAnnounceNothing) {
    int posts = 0;
    auto observer = std::make_shared<NSObject>();
    NSNotificationCenter::defaultCenter()->addObserver(observer, [&](const NSNotification&) { ++posts; },
                                                       kMessageDataUpdated);
    // A database that could not be opened.
    auto closed = Favorites_DataSource::initWithLoader(
        Loader::loaderWithDBEntry(dbEntry::initWithPath("absent.sqlite", "Absent"), context()));
    testing::internal::CaptureStderr();
    NSErrorPtr error;
    EXPECT_FALSE(closed->addToFavorites(picture(4), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), OEContentErrorNotOpen);
    error.reset();
    EXPECT_FALSE(closed->deleteFromFavorites(picture(4), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), OEContentErrorNotOpen);

    // A "favorites" table of another shape refuses the insert.
    auto favourites = Favorites_DataSource::initWithLoader(imagesLoader());
    {
        auto engine = SQLiteEngine::initWithPath(documents() + "/images.sqlite");
        ASSERT_TRUE(engine);
        ASSERT_TRUE(engine->execRequest("create table favorites (picture text)"));
    }
    error.reset();
    EXPECT_FALSE(favourites->addToFavorites(picture(4), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), OEContentErrorDomain);
    EXPECT_EQ(error->code(), OEContentErrorStatement);
    EXPECT_NE(error->localizedDescription().find("no column named index"), std::string::npos)
        << error->localizedDescription();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(posts, 0);
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}

TEST_F(PictureListSourcesTest, OnePictureByNumberOrNone) {
    auto one = OneImage_DataSource::initWithLoader(imagesLoader(), 5);
    const auto rows = one->list();
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1u);
    EXPECT_EQ(rows->front().get("author_name").string(), "Тёрнер");
    EXPECT_EQ(one->list(), rows);
    EXPECT_EQ(OneImage_DataSource::initWithLoader(imagesLoader(), 99)->list(), nullptr);
}

TEST_F(PictureListSourcesTest, PicturesByNumbersSkipUnknownRepeatDuplicatesAndStay) {
    auto ids = ImagesWithIds_DataSource::initWithLoader(imagesLoader(),
                                                        Value::Array{Value(4), Value("99"), Value("4"), Value(1)});
    const auto rows = ids->list();
    EXPECT_THAT(inOrder(rows), ElementsAre("4", "4", "1"));
    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    EXPECT_EQ(ids->list(), rows);
}

TEST_F(PictureListSourcesTest, APathAloneIsAOneRowList) {
    auto path = ImagePathDataSource::initWithImagePath("Data/p0001.jpg");
    const auto first = path->list(nullptr);
    ASSERT_EQ(first->size(), 1u);
    EXPECT_EQ(first->front().size(), 1u);
    EXPECT_EQ(first->front().get("imagePath").string(), "Data/p0001.jpg");
    EXPECT_EQ(*path->list(dataSubCat::dataSubCatWithName("any", locale())), *first);
    EXPECT_FALSE(path->mayAddToFavorites());
}
