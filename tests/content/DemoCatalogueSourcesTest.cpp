// Every source over the generated demo catalogue, against counts worked out from the
// catalogue's own records.
#include "content/AllImagesList_DataSource.h"
#include "content/Favorites_DataSource.h"
#include "content/ListOtherSubCat_DataSource.h"
#include "content/List_DataSource.h"
#include "content/SQL_Search_2fields.h"
#include "demo/generator/DemoCatalogue.h"
#include "config/OEConfig.h"
#include "config/OELocalizations.h"
#include "tests/content/ContentFixture.h"

#include <map>
#include <set>

namespace {

std::map<int, std::size_t> paintingsPer(int (*groupOf)(const DemoPainting&)) {
    std::map<int, std::size_t> counts;
    for (const auto& painting : DemoCatalogue::paintings()) ++counts[groupOf(painting)];
    return counts;
}

std::size_t total(const std::map<int, std::size_t>& counts) {
    std::size_t sum = 0;
    for (const auto& [group, count] : counts) sum += count;
    return sum;
}

}  // namespace

class DemoCatalogueSourcesTest : public ContentFixture {
protected:
    void SetUp() override {
        ContentFixture::SetUp();
        writeDemoCatalogue();
    }
};

TEST_F(DemoCatalogueSourcesTest, TheConfigurationFindsTheGeneratedDatabase) {
    EXPECT_EQ(context().config->database()->imagesDBName(), "images.sqlite");
    EXPECT_EQ(imagesLoader()->objectfFromTable("images", "index").size(), kDemoPaintingCount);
}

TEST_F(DemoCatalogueSourcesTest, GenreGroupsHoldTheirPaintingsInDateOrder) {
    auto source = List_DataSource::initWithLoader(imagesLoader());
    const auto cats = source->catList();
    ASSERT_EQ(cats->size(), kDemoBigCatCount);
    const auto expected = paintingsPer(&DemoCatalogue::genreGroupOf);
    std::size_t groups = 0, pictures = 0;
    for (const auto& cat : *cats) {
        const auto subCats = source->subCatList(cat);
        std::string previousDate;
        for (const auto& subCat : *subCats) {
            SCOPED_TRACE(subCat->name());
            ++groups;
            EXPECT_EQ(subCat->bigCatIndex(), cat->index());
            EXPECT_GE(subCat->detailText().value_or(""), previousDate);
            previousDate = subCat->detailText().value_or("");
            const auto rows = source->list(subCat);
            EXPECT_EQ(rows->size(), expected.at(subCat->index()));
            EXPECT_EQ(subCat->data().get("images_count").intValue(), static_cast<int>(rows->size()));
            pictures += rows->size();
        }
    }
    EXPECT_EQ(groups, kDemoGenreGroupsWithPaintings);
    EXPECT_EQ(pictures, kDemoPaintingCount);
    EXPECT_EQ(source->allPaths().size(), kDemoPaintingCount);
    EXPECT_EQ(AllImagesList_DataSource::initWithLoader(imagesLoader())->list(nullptr)->size(), kDemoPaintingCount);
}

TEST_F(DemoCatalogueSourcesTest, ThePainterGroupingAndTheAuthorTableCountEveryPainting) {
    const auto cats = List_DataSource::initWithLoader(imagesLoader())->catList();
    auto byPainterGroup = ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "subCat2");
    const auto perGroup = paintingsPer(&DemoCatalogue::painterGroupOf);
    std::size_t inGroups = 0, groups = 0;
    for (const auto& cat : *cats) {
        for (const auto& group : *byPainterGroup->subCatList(cat)) {
            const auto rows = byPainterGroup->list(group);
            const std::size_t count = rows ? rows->size() : 0;
            // No painter without paintings has a row, so none folds into an empty one.
            EXPECT_GT(count, 0u) << group->name();
            EXPECT_EQ(count, perGroup.count(group->index()) ? perGroup.at(group->index()) : 0u) << group->name();
            inGroups += count;
            ++groups;
        }
    }
    EXPECT_EQ(groups, kDemoPainterGroupCount);
    EXPECT_EQ(inGroups, total(perGroup));
    EXPECT_EQ(inGroups, kDemoPaintingCount);

    setLanguage("fr");
    auto byPainter = ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "author");
    const auto perPainter = paintingsPer([](const DemoPainting& p) { return p.painter; });
    std::size_t counted = 0, foldRows = 0;
    for (const auto& cat : *cats) {
        const auto painters = byPainter->subCatList(cat);
        std::string previous;
        for (const auto& painter : *painters) {
            const int count = painter->data().get("images_count").intValue();
            if (count == 0) {
                ++foldRows;
                continue;
            }
            EXPECT_EQ(static_cast<std::size_t>(count), perPainter.at(painter->index())) << painter->name();
            EXPECT_EQ(byPainter->list(painter)->size(), static_cast<std::size_t>(count));
            counted += static_cast<std::size_t>(count);
            // Ordered by the French name column.
            const std::string name = painter->data().get("name_fr").string();
            EXPECT_GE(name, previous);
            previous = name;
        }
    }
    EXPECT_EQ(counted, kDemoPaintingCount);
    EXPECT_EQ(foldRows, kDemoPaintersWithoutPaintings);
}

TEST_F(DemoCatalogueSourcesTest, EveryListedGroupOfTheTwoGroupingsHasPicturesAndANameOfItsOwn) {
    auto catalogue = List_DataSource::initWithLoader(imagesLoader());
    auto byPainter = ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "subCat2");
    for (const auto& language : {"en", "ru", "fr", "de"}) {
        SCOPED_TRACE(language);
        setLanguage(language);
        const std::vector<std::shared_ptr<DataSource>> groupings{catalogue, byPainter};
        for (const auto& source : groupings) {
            std::set<std::string> names;
            for (const auto& cat : *source->catList()) {
                for (const auto& group : *source->subCatList(cat)) {
                    const std::string name = context().localizations->localizedNameFieldValue(group->data());
                    EXPECT_FALSE(name.empty());
                    EXPECT_TRUE(names.insert(name).second) << name << " is listed twice";
                    const auto rows = source->list(group);
                    EXPECT_TRUE(rows && !rows->empty()) << name;
                    EXPECT_FALSE(group->imagePath().value_or("").empty()) << name << " has no picture of its own";
                }
            }
            EXPECT_FALSE(names.empty());
        }
    }
}

TEST_F(DemoCatalogueSourcesTest, EveryLanguageHasItsAuthorColumnsAndNamesNeverComeOutEmpty) {
    const auto rows = AllImagesList_DataSource::initWithLoader(imagesLoader())->list(nullptr);
    const auto locale = context().localizations;
    for (const auto& language : locale->config()->supportedLanguages()) {
        SCOPED_TRACE(language);
        setLanguage(language);
        for (const auto& row : *rows) {
            ASSERT_TRUE(row.contains(locale->localizedAuthorField()));
            EXPECT_FALSE(row.get(locale->localizedAuthorField()).string().empty()) << row.get("index").stringValue();
            EXPECT_FALSE(locale->localizedAuthorFieldValue(row).empty());
        }
    }
}

TEST_F(DemoCatalogueSourcesTest, SearchFindsAPaintersWorksThroughTheAuthorColumn) {
    const DemoPainter& painter = DemoCatalogue::painters().front();
    const std::string name = painter.name.in("en");
    std::size_t expected = 0;
    for (const auto& painting : DemoCatalogue::paintings()) {
        if (painting.painter == painter.index || std::string(painting.title.in("en")).find(name) != std::string::npos) {
            ++expected;
        }
    }
    auto search = SQL_Search_2fields::sqlSearchWithLoader(imagesLoader(), "name_en", "author_name_en");
    EXPECT_EQ(search->result(name)->size(), expected);
    EXPECT_GT(expected, 0u);
}

TEST_F(DemoCatalogueSourcesTest, AStoredFavouritesTableIsReadAsItIs) {
    writeDemoCatalogue(true, {3, 7, 12});
    auto favourites = Favorites_DataSource::initWithLoader(imagesLoader());
    EXPECT_EQ(favourites->list(nullptr)->size(), 3u);
    EXPECT_TRUE(favourites->inFavorites(Value::Dictionary{{"index", Value("7")}}));
    EXPECT_FALSE(favourites->inFavorites(Value::Dictionary{{"index", Value("8")}}));
}
