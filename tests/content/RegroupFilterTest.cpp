// The wrappers that filter and regroup another source, and the stored filter choices.
#include "content/Filter_DataSource.h"
#include "content/List_DataSource.h"
#include "content/OEFilterStorage.h"
#include "content/RegroupByData_DataSource.h"
#include "content/Regroup_DataSource.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "tests/content/ContentFixture.h"
#include "tests/fixtures/FaultyFileIO.h"

using testing::ElementsAre;

namespace {

std::vector<std::string> indexes(const ContentRowList& rows) {
    std::vector<std::string> out;
    if (rows) for (const auto& row : *rows) out.push_back(row.get("index").stringValue());
    return out;
}

template <class List>
std::vector<std::string> names(const List& list) {
    std::vector<std::string> out;
    if (list) for (const auto& record : *list) out.push_back(record->name());
    return out;
}

}  // namespace

class RegroupFilterTest : public ContentFixture {
protected:
    void SetUp() override {
        ContentFixture::SetUp();
        writeMiniCatalogue();
        catalogue_ = List_DataSource::initWithLoader(imagesLoader());
        portraits_ = catalogue_->subCatList(catalogue_->catList()->front())->back();
        ASSERT_EQ(portraits_->index(), 1);
    }
    void insertPicture(int index, int subCat, int author, const std::string& name) {
        auto engine = SQLiteEngine::initWithPath(documents() + "/images.sqlite");
        ASSERT_TRUE(engine->execRequest("insert into images (\"index\", subCat, subCat2, author, imagePath, name_en) "
                                        "values (?, ?, 2, ?, 'x.jpg', ?)",
                                        {Value(index), Value(subCat), Value(author), Value(name)}));
    }
    std::shared_ptr<List_DataSource> catalogue_;
    std::shared_ptr<dataSubCat> portraits_;
};

TEST_F(RegroupFilterTest, FilterKeepsMatchingRowsInTheWrappedOrder) {
    auto filter = Filter_DataSource::initWithDataSource(catalogue_, portraits_, "author_name_en", {"Turner", "Monet", "Monet"});
    EXPECT_THAT(indexes(filter->list()), ElementsAre("2", "6"));
    EXPECT_TRUE(Filter_DataSource::initWithDataSource(catalogue_, portraits_, "author_name_en", {})->list()->empty());
    EXPECT_TRUE(Filter_DataSource::initWithDataSource(catalogue_, portraits_, "author_name_en", {"Nobody"})->list()->empty());
    // NULL columns compare as the empty string.
    EXPECT_EQ(Filter_DataSource::initWithDataSource(catalogue_, portraits_, "description", {""})->list()->size(), 3u);
    EXPECT_EQ(filter->catList(), nullptr);
    EXPECT_EQ(filter->subCatList(nullptr), nullptr);
    EXPECT_FALSE(filter->alowSearch());
    EXPECT_FALSE(filter->alowDeleteSubCats());

    // Favourites go to the wrapped source.
    EXPECT_TRUE(filter->mayAddToFavorites());
    EXPECT_TRUE(filter->addToFavorites(Value::Dictionary{{"index", Value("6")}}));
    EXPECT_TRUE(catalogue_->inFavorites(Value::Dictionary{{"index", Value("6")}}));

    insertPicture(7, 1, 2, "Another Monet");
    EXPECT_EQ(filter->list()->size(), 2u);
    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    EXPECT_THAT(indexes(filter->list()), ElementsAre("2", "7", "6"));
}

TEST_F(RegroupFilterTest, RegroupingBySubcategoryColumnKeepsFirstAppearanceOrder) {
    auto regroup = Regroup_DataSource::initWithDataSource(catalogue_, "filePath");
    EXPECT_THAT(names(regroup->catList()), ElementsAre("", "cat1", "cat4"));
    EXPECT_EQ(regroup->catList()->front()->index(), -1);
    EXPECT_THAT(names(regroup->subCatList(dataCat::dataCatWithName("cat1"))), ElementsAre("Portraits"));
    EXPECT_EQ(regroup->subCatList(dataCat::dataCatWithName("nothing")), nullptr);
    EXPECT_EQ(regroup->list(portraits_), catalogue_->list(portraits_));

    auto byCategory = Regroup_DataSource::initWithDataSource(catalogue_, "bigCat");
    EXPECT_THAT(names(byCategory->catList()), ElementsAre("1", "2"));
    EXPECT_THAT(names(byCategory->subCatList(dataCat::dataCatWithName("1"))), ElementsAre("Landscapes", "Portraits"));
    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    EXPECT_THAT(names(byCategory->catList()), ElementsAre("1", "2"));
}

TEST_F(RegroupFilterTest, AlphabeticalIndexKeepsLetterCasesApartAndSortsWithoutCase) {
    insertPicture(7, 4, 4, "");
    insertPicture(8, 4, 4, "Tarot");
    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    auto index = RegroupByData_DataSource::initWithDataSource(catalogue_, "name_en", "author_name_en", context().localizations);
    EXPECT_THAT(names(index->catList()), ElementsAre(" ", "I", "L", "N", "n", "T", "W"));
    EXPECT_THAT(names(index->subCatList(dataCat::dataCatWithName("T"))), ElementsAre("Tarot", "The Fighting Temeraire"));
    const auto nightWatch = index->subCatList(dataCat::dataCatWithName("N"))->front();
    EXPECT_EQ(nightWatch->subCatDescription(), std::optional<std::string>("Rembrandt"));
    EXPECT_THAT(indexes(index->list(nightWatch)), ElementsAre("1"));
    EXPECT_TRUE(index->catExists("n"));
    EXPECT_FALSE(index->catExists("Z"));
    EXPECT_TRUE(index->subCatExists("night study", "n"));
    EXPECT_FALSE(index->subCatExists("night study", "N"));
    EXPECT_THAT(indexes(index->list(dataSubCat::dataSubCatWithName("", locale()))), ElementsAre("7"));
}

TEST_F(RegroupFilterTest, WrappersPassSearchesOnUnlessTheyHaveTheirOwn) {
    struct FixedSearch : OESearch {
        ContentRowList result(const std::string&) override {
            return std::make_shared<const ContentRows>(ContentRows{Value::Dictionary{{"index", Value("42")}}});
        }
    };
    auto regroup = Regroup_DataSource::initWithDataSource(catalogue_, "bigCat");
    EXPECT_FALSE(regroup->alowSearch());
    catalogue_->setSearch(std::make_shared<FixedSearch>());
    EXPECT_TRUE(regroup->alowSearch());
    const auto found = regroup->searchResult("any");
    EXPECT_THAT(indexes(found), ElementsAre("42"));
    regroup->setLastSearch(found);
    EXPECT_EQ(catalogue_->searchLast(), found);
    regroup->setSearch(std::make_shared<FixedSearch>());
    regroup->resetSearch();
    EXPECT_EQ(regroup->searchLast(), nullptr);
    EXPECT_EQ(catalogue_->searchLast(), found);
}

TEST_F(RegroupFilterTest, FilterFilesAreKeptPerTableAndIndexAndTheOldNameIsStillRead) {
    auto subCatOne = dataSubCat::emptySubCat();
    subCatOne->setIndex(1);
    auto secondOne = dataSubCat::emptySubCat();
    secondOne->setIndex(1);
    secondOne->setCatTable("subCat2");

    EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), subCatOne), std::nullopt);
    // A choice stored by an earlier version under the old name is found for "subCat" only.
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(Value::Array{Value("Monet")}),
                                                               documents() + "/filter_1",
                                                               NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), subCatOne), std::vector<std::string>{"Monet"});
    EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), secondOne), std::nullopt);

    ASSERT_TRUE(OEFilterStorage::saveFilter(files(), {"Rembrandt", "Turner"}, subCatOne));
    ASSERT_TRUE(OEFilterStorage::saveFilter(files(), {"XIX"}, secondOne));
    EXPECT_EQ(OEFilterStorage::filterPathForCatIndex(files(), 1), documents() + "/filter_subCat_1");
    EXPECT_FALSE(exists(documents() + "/filter_1"));
    EXPECT_TRUE(NSFileManager::defaultManager()->isExcludedFromBackup(documents() + "/filter_subCat2_1"));

    // Forgetting one table's filter leaves the other's alone.
    EXPECT_TRUE(OEFilterStorage::removeFilterForSubCat(files(), secondOne));
    EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), secondOne), std::nullopt);
    EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), subCatOne), (std::vector<std::string>{"Rembrandt", "Turner"}));

    writeFile(documents() + "/filter_subCat_2", "not a property list");
    auto two = dataSubCat::emptySubCat();
    two->setIndex(2);
    EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), two), std::nullopt);
    auto hostile = dataSubCat::emptySubCat();
    hostile->setCatTable("../x");
    EXPECT_FALSE(OEFilterStorage::saveFilter(files(), {"a"}, hostile));
}

// The filter files through a full or failing disk: a choice that cannot be saved is reported
// and the one stored before stays in force (the old name's file included); a file that will not
// go is reported and still read.
TEST_F(RegroupFilterTest, AFilterThatCannotBeSavedOrRemovedIsReportedAndTheStoredOneStays) {
    using testing::HasSubstr;
    auto subCat = dataSubCat::emptySubCat();
    subCat->setIndex(1);
    const std::string path = documents() + "/filter_subCat_1";
    const std::string legacy = documents() + "/filter_1";
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(Value::Array{Value("Monet")}), legacy,
                                                               NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    const struct {
        const char* fault;
        FaultyFileIO::Operation operation;
        std::string pattern;
        int err;
    } cases[] = {
        {"no space", FaultyFileIO::Operation::Write, documents() + "/.filter_subCat_1.tmp-*", ENOSPC},
        {"failing flush", FaultyFileIO::Operation::Sync, documents() + "/.filter_subCat_1.tmp-*", EIO},
        {"failed rename", FaultyFileIO::Operation::Rename, path, EIO},
        {"read-only folder", FaultyFileIO::Operation::AnyChange, documents() + "/*", EROFS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        FaultInjection io;
        io->inject(c.operation, c.pattern, c.err);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(OEFilterStorage::saveFilter(files(), {"Turner"}, subCat));
        EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("The filter of subCat 1 could not be saved."));
        EXPECT_GT(io->injected(), 0);
        EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), subCat), std::vector<std::string>{"Monet"});
        EXPECT_FALSE(exists(path));
    }

    // Saved, while the old file will not go: the new name is read first, so the choice holds.
    {
        FaultInjection io;
        io->ioError(FaultyFileIO::Operation::Remove, legacy);
        testing::internal::CaptureStderr();
        EXPECT_TRUE(OEFilterStorage::saveFilter(files(), {"Turner"}, subCat));
        EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("A filter file stays"));
        EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), subCat), std::vector<std::string>{"Turner"});
    }
    {
        FaultInjection io;
        io->ioError(FaultyFileIO::Operation::Remove, path);
        testing::internal::CaptureStderr();
        NSErrorPtr error;
        EXPECT_FALSE(OEFilterStorage::removeFilterForSubCat(files(), subCat, &error));
        EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("The filter of subCat 1 could not be removed."));
        EXPECT_NE(error, nullptr);
        EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), subCat), std::vector<std::string>{"Turner"});
    }
    ASSERT_TRUE(OEFilterStorage::removeFilterForSubCat(files(), subCat));
    EXPECT_EQ(OEFilterStorage::filterForSubCat(files(), subCat), std::nullopt);
}
