// Category and subcategory records made from rows and from names, with localised names.
#include "content/Loader.h"
#include "content/dataSubCat.h"
#include "tests/content/ContentFixture.h"

class CatalogueRecordsTest : public ContentFixture {
protected:
    void SetUp() override {
        ContentFixture::SetUp();
        writeMiniCatalogue();
        loader_ = imagesLoader();
        ASSERT_TRUE(loader_->sql());
    }
    std::shared_ptr<dataSubCat> fromQuery(const std::string& sql) {
        auto engine = loader_->sql();
        EXPECT_TRUE(engine->prepareRequest(sql));
        EXPECT_TRUE(engine->nextRow());
        return dataSubCat::dataSubCatFromDB(engine, locale());
    }
    std::shared_ptr<Loader> loader_;
};

TEST_F(CatalogueRecordsTest, CategoryRecordsReadTheFirstTwoColumnsAsStored) {
    auto engine = loader_->sql();
    ASSERT_TRUE(engine->prepareRequest("select * from bigCat where \"index\" = 2"));
    ASSERT_TRUE(engine->nextRow());
    auto cat = dataCat::dataCatFromDB(engine);
    EXPECT_EQ(cat->index(), 2);
    EXPECT_EQ(cat->name(), "New");
    EXPECT_EQ(dataCat::emptyCat()->index(), -1);
    EXPECT_EQ(dataCat::emptyCat()->name(), "");
    EXPECT_EQ(dataCat::dataCatWithName("Letters")->name(), "Letters");
    EXPECT_EQ(dataCat::dataCatWithName("Letters")->index(), -1);
}

TEST_F(CatalogueRecordsTest, SubcategoryFactoriesAloneMakeSubcategoryRecords) {
    EXPECT_EQ(dataSubCat::dataCatWithName("x"), nullptr);
    EXPECT_EQ(dataSubCat::emptyCat(), nullptr);
    EXPECT_EQ(dataSubCat::dataCatFromDB(loader_->sql()), nullptr);
    auto empty = dataSubCat::emptySubCat();
    EXPECT_EQ(empty->index(), -1);
    EXPECT_EQ(empty->bigCatIndex(), -1);
    EXPECT_EQ(empty->catTable(), "subCat");
    EXPECT_EQ(empty->subCatDescription(), std::optional<std::string>(""));
    EXPECT_EQ(empty->detailText(), std::nullopt);
    EXPECT_TRUE(empty->data().empty());
}

TEST_F(CatalogueRecordsTest, RowsGiveTheirFieldsAndNullDiffersFromAnAbsentColumn) {
    auto landscapes = fromQuery("select * from subCat where \"index\" = 2");
    EXPECT_EQ(landscapes->index(), 2);
    EXPECT_EQ(landscapes->bigCatIndex(), 1);
    EXPECT_EQ(landscapes->name(), "Landscapes");
    EXPECT_EQ(landscapes->subCatDescription(), std::optional<std::string>(""));  // NULL
    EXPECT_EQ(landscapes->detailText(), std::optional<std::string>("1800"));
    EXPECT_EQ(landscapes->imagePath(), std::optional<std::string>(""));
    EXPECT_EQ(landscapes->catTable(), "");
    EXPECT_EQ(landscapes->data().get("name_fr").string(), "");

    auto author = fromQuery("select \"index\", name, name_en from author where \"index\" = 1");
    EXPECT_EQ(author->subCatDescription(), std::nullopt);
    EXPECT_EQ(author->imagePath(), std::nullopt);
    EXPECT_EQ(author->detailText(), std::nullopt);
    EXPECT_EQ(author->bigCatIndex(), 0);  // no "bigCat" column
}

TEST_F(CatalogueRecordsTest, NamesFollowTheLanguageWithTheFallBack) {
    setLanguage("fr-CA");
    EXPECT_EQ(fromQuery("select * from subCat where \"index\" = 1")->name(), "Portraits (fr)");
    EXPECT_EQ(fromQuery("select * from subCat where \"index\" = 2")->name(), "Landscapes");
    setLanguage("ru");
    EXPECT_EQ(fromQuery("select * from subCat where \"index\" = 1")->name(), "Портреты");
    setLanguage("de");
    auto named = dataSubCat::dataSubCatWithName("Ein Name", locale());
    EXPECT_EQ(named->data().get("name_de").string(), "Ein Name");
    EXPECT_EQ(named->name(), "Ein Name");
    EXPECT_EQ(named->index(), -1);
    EXPECT_EQ(named->bigCatIndex(), -1);
}
