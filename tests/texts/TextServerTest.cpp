// The texts model over the generated texts database and over databases written for a case:
// the catalogue and its orders, counts, favourites that follow the table, the new marks in their
// files, searches that take any text as text, the favourites of earlier databases, and pages of
// rows found damaged.
#include "tests/texts/TextsFixture.h"

#include "demo/generator/DemoCatalogue.h"
#include "content/SQLiteEngine.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "tests/fixtures/DamagedPages.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

namespace {

class TextServerTest : public TextsFixture {
protected:
    // Counts the notification from now on.
    void listen(const char* name) {
        auto counter = std::make_shared<int>(0);
        observers_.push_back(std::make_shared<NSObject>());
        NSNotificationCenter::defaultCenter()->addObserver(observers_.back(), [counter](const NSNotification&) { ++*counter; },
                                                           name);
        counters_[name] = counter;
    }
    int posted(const char* name) { return counters_.count(name) ? *counters_[name] : 0; }
    void TearDown() override {
        for (const auto& observer : observers_) NSNotificationCenter::defaultCenter()->removeObserver(observer);
        observers_.clear();
        TextsFixture::TearDown();
    }

    static std::vector<std::string> titles(const std::vector<TextEntry>& entries) {
        std::vector<std::string> out;
        for (const auto& e : entries) out.push_back(e.shortText);
        return out;
    }
    static std::vector<int> indexes(const std::vector<TextEntry>& entries) {
        std::vector<int> out;
        for (const auto& e : entries) out.push_back(e.index);
        return out;
    }

    std::vector<std::shared_ptr<NSObject>> observers_;
    std::map<std::string, std::shared_ptr<int>> counters_;
};

TextEntry entryWithIndex(int index) {
    TextEntry entry;
    entry.index = index;
    return entry;
}

}  // namespace

TEST_F(TextServerTest, TheGeneratedDatabaseListsItsCatalogueAndTexts) {
    auto texts = server();
    const auto cats = texts->catList();
    ASSERT_EQ(cats.size(), kDemoTextCategoryCount);
    EXPECT_EQ(cats[0].catName, "About Painting");
    EXPECT_EQ(cats[1].catName, "About Music");
    const auto painting = texts->subCatForCat(cats[0]);
    ASSERT_EQ(painting.size(), 2u);
    EXPECT_EQ(painting[0].catName, "Techniques");
    EXPECT_EQ(painting[0].sort, 2);
    EXPECT_EQ(painting[0].catDescription, "How pictures are made, from egg tempera to thick paint.");
    const auto all = texts->allSubCats();
    ASSERT_EQ(all.size(), kDemoTextGroupCount);
    EXPECT_EQ(all[3].catName, "Listening");
    long total = 0;
    for (const auto& sub : all) total += texts->numTextsForCat(sub);
    EXPECT_EQ(total, static_cast<long>(kDemoTextCount));
    EXPECT_EQ(texts->numTextsForCat(all[2]), 2);

    // Sort mode 2 lists by index; the others by title unless "sortMode" says by date.
    EXPECT_EQ(indexes(texts->textsForCat(painting[0])), (std::vector<int>{1, 2, 3, 4}));
    const auto movements = texts->textsForCat(painting[1]);
    EXPECT_EQ(titles(movements),
              (std::vector<std::string>{"Impressionism", "Romanticism", "The Baroque", "The Renaissance"}));
    const TextEntry& impressionism = movements[0];
    EXPECT_EQ(impressionism.subCat, "Movements");
    EXPECT_EQ(impressionism.date, "2024-02-12");
    EXPECT_EQ(impressionism.fullText.rfind("<p>The Impressionists", 0), 0u);
    EXPECT_EQ(impressionism.textWithoutTags.rfind("The Impressionists painted", 0), 0u);
    EXPECT_GT(impressionism.wordCount, 10);
    // The order is read when a list is first made: a later setting reaches only new lists.
    NSUserDefaults::standardUserDefaults()->setInteger(1, "sortMode");
    EXPECT_EQ(titles(texts->textsForCat(painting[1]))[0], "Impressionism");
    auto fresh = restartServer();
    NSUserDefaults::standardUserDefaults()->setInteger(1, "sortMode");
    EXPECT_EQ(titles(fresh->textsForCat(painting[1])),
              (std::vector<std::string>{"The Baroque", "Romanticism", "The Renaissance", "Impressionism"}));
    fresh->purgeTexts();
    NSUserDefaults::standardUserDefaults()->removeObjectForKey("sortMode");
    EXPECT_EQ(titles(fresh->textsForCat(painting[1]))[0], "Impressionism");
}

TEST_F(TextServerTest, ASubcategoryWithoutTextsCountsNothingAndANameIsLookedUpByIndex) {
    writeTextsDatabase(documentsPath("texts.sqlite"), {{1, "One"}}, {{1, "Full", 1, 0}, {2, "Empty", 1, 0}},
                       {{1, 1, "A", "2024"}, {2, 1, "B", "2024"}, {3, 1, "C", "2024"}});
    auto texts = server();
    const auto subs = texts->subCatForCat(texts->catList()[0]);
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_EQ(texts->numTextsForCat(subs[0]), 3);
    EXPECT_EQ(texts->numTextsForCat(subs[1]), 0);
    EXPECT_TRUE(texts->textsForCat(subs[1]).empty());
    TextEntry entry;
    entry.subCat = "2";
    EXPECT_EQ(texts->getCatFor(entry), "Empty");
    entry.subCat = "2 or 1=1";
    EXPECT_EQ(texts->getCatFor(entry), "");
}

// Pages of rows found damaged: in the subcategories, reading the catalogue the browser lists
// first finds them; in the texts, only reading a subcategory's texts does, and from then on the
// model says it has no database to show.
TEST_F(TextServerTest, DamagedPagesOfRowsLeaveNoDatabaseToShowOnceARead) {
    EXPECT_TRUE(server()->readsCatalogue());
    std::vector<SubCat> subCats;
    std::vector<Text> texts;
    // Several pages of each.
    for (int i = 1; i <= 40; ++i) {
        subCats.push_back({i, "Group " + std::to_string(i) + std::string(100, '.'), 1, 0});
        texts.push_back({i, 1, "Text " + std::to_string(i), "2024", std::string(400, 'w')});
    }
    for (const char* table : {"subCat", "texts"}) {
        SCOPED_TRACE(table);
        const std::string path = documentsPath("texts.sqlite");
        writeTextsDatabase(path, {{1, "One"}}, subCats, texts);
        ASSERT_TRUE(damageRowsPage(path, table));
        auto model = restartServer();
        ASSERT_TRUE(model->hasDatabase());
        const bool inCatalogue = std::string(table) == "subCat";
        EXPECT_EQ(model->readsCatalogue(), !inCatalogue);
        if (!inCatalogue) {
            EXPECT_LT(model->textsForCat(model->subCatForCat(model->catList()[0])[0]).size(), 40u);
        }
        EXPECT_FALSE(model->hasDatabase());
        EXPECT_FALSE(model->readsCatalogue());
        SQLiteEngine::forgetRefusals();
    }
}

TEST_F(TextServerTest, FavouritesFollowTheTableWhateverIsAskedTwice) {
    auto texts = server();
    listen("MFavoriteAdded");
    EXPECT_EQ(texts->favoritesCount(), 0u);
    EXPECT_TRUE(texts->favoritesList().empty());
    // The first favourite makes the table.
    texts->addTextToFavorites(entryWithIndex(3));
    EXPECT_EQ(favoritesIn(documentsPath("texts.sqlite")), std::vector<int>{3});
    EXPECT_TRUE(texts->textInFavorites(entryWithIndex(3)));
    EXPECT_EQ(texts->favoritesCount(), 1u);
    // A second add of the same text changes nothing, but is told.
    texts->addTextToFavorites(entryWithIndex(3));
    EXPECT_EQ(texts->favoritesCount(), 1u);
    EXPECT_EQ(posted("MFavoriteAdded"), 2);
    // Removing what is no favourite leaves the count.
    texts->deleteFavorite(entryWithIndex(7));
    EXPECT_EQ(texts->favoritesCount(), 1u);

    // With the list loaded, it follows the table too, each entry with its subcategory's name.
    texts->addTextToFavorites(entryWithIndex(9));
    auto list = texts->favoritesList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].shortText, "Fresco");
    EXPECT_EQ(list[0].subCat, "Techniques");
    EXPECT_EQ(list[1].subCat, "Composers");
    texts->addTextToFavorites(entryWithIndex(9));
    texts->deleteFavorite(entryWithIndex(5));
    EXPECT_EQ(texts->favoritesList().size(), 2u);
    // The list handed out is a copy: changing it changes nothing of the model's.
    list.clear();
    EXPECT_EQ(texts->favoritesCount(), 2u);
    texts->deleteFavorite(entryWithIndex(3));
    EXPECT_EQ(indexes(texts->favoritesList()), std::vector<int>{9});
    EXPECT_EQ(favoritesIn(documentsPath("texts.sqlite")), std::vector<int>{9});
    EXPECT_EQ(posted("MFavoriteAdded"), 7);
}

TEST_F(TextServerTest, AFavouriteWhoseTextIsGoneIsNotListed) {
    writeTextsDatabase(documentsPath("texts.sqlite"), {{1, "One"}}, {{1, "Sub", 1, 0}}, {{1, 1, "Kept", "2024"}},
                       {1, 40});
    auto texts = server();
    EXPECT_EQ(titles(texts->favoritesList()), std::vector<std::string>{"Kept"});
    EXPECT_EQ(texts->favoritesCount(), 1u);
}

TEST_F(TextServerTest, NewMarksLiveInTheirFilesAcrossStarts) {
    auto texts = server();
    listen("MTextStatusUpdate");
    const TextEntry text = texts->textsForCat(texts->allSubCats()[0])[0];
    // Without a stored mark a text is new; reading it stores "not new" and tells nobody.
    EXPECT_TRUE(texts->isNewText(text));
    texts->resetText(text);
    EXPECT_FALSE(texts->isNewText(text));
    EXPECT_EQ(posted("MTextStatusUpdate"), 0);
    const Value stored = NSPropertyListSerialization::propertyListWithContentsOfFile(documentsPath("newTexts.data"));
    ASSERT_TRUE(stored.isDictionary());
    EXPECT_TRUE(stored["1"].isBool());
    EXPECT_FALSE(stored["1"].boolValue());
    // A text stored as new tells once that it was read.
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(Value::Dictionary{{"2", Value(true)}}),
                                                               documentsPath("newTexts.data"),
                                                               NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    auto again = restartServer();
    EXPECT_TRUE(again->isNewText(entryWithIndex(2)));
    EXPECT_TRUE(again->isNewText(entryWithIndex(1)));
    again->resetText(entryWithIndex(2));
    again->resetText(entryWithIndex(2));
    EXPECT_EQ(posted("MTextStatusUpdate"), 1);

    // Category marks exist only when their file was there at start.
    const TextCat category = again->catList()[0];
    EXPECT_FALSE(again->isNewCat(category));
    again->resetCat(category);
    EXPECT_FALSE(std::filesystem::exists(documentsPath("newCats.data")));
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(
        Value(Value::Dictionary{{category.catName, Value(true)}}), documentsPath("newCats.data"),
        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    auto third = restartServer();
    EXPECT_TRUE(third->isNewCat(category));
    third->resetCat(category);
    EXPECT_FALSE(third->isNewCat(category));
    EXPECT_FALSE(restartServer()->isNewCat(category));
}

TEST_F(TextServerTest, SearchesTakeAnyTextAsText) {
    auto texts = server();
    texts->handeSearch("imp");
    auto found = texts->searchResult();
    EXPECT_EQ(titles(found), (std::vector<std::string>{"Impasto", "Impressionism"}));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].subCat, "Techniques");
    EXPECT_EQ(found[1].subCat, "Movements");
    // An empty text leaves the last results.
    texts->handeSearch("");
    EXPECT_EQ(texts->searchResult().size(), 2u);
    // Quotes, wildcards and statements are characters like any other.
    for (const char* hostile : {"%", "_", "\\", "' OR 1=1 --", "\"", "'; DROP TABLE texts; --", "%%'%%"}) {
        texts->handeSearch(hostile);
        EXPECT_TRUE(texts->searchResult().empty()) << hostile;
    }
    EXPECT_EQ(texts->catList().size(), kDemoTextCategoryCount);
    texts->handeSearchContent("EGG YOLK");
    EXPECT_EQ(titles(texts->searchResult()), std::vector<std::string>{"Egg Tempera"});
    texts->handeSearch("Mozart's");
    EXPECT_EQ(titles(texts->searchResult()), std::vector<std::string>{"Mozart's Last Year"});
    texts->handeSearch("'");
    EXPECT_EQ(titles(texts->searchResult()), std::vector<std::string>{"Mozart's Last Year"});
}

TEST_F(TextServerTest, ASearchOnAnotherThreadAndTheScreensShareTheModel) {
    auto texts = server();
    std::atomic<bool> stop{false};
    std::atomic<int> searches{0};
    std::thread searcher([&] {
        while (!stop) {
            texts->handeSearch(searches % 2 ? "The" : "o");
            (void)texts->searchResult();
            ++searches;
        }
    });
    for (int i = 0; i < 200; ++i) {
        texts->purgeTexts();
        for (const auto& sub : texts->allSubCats()) EXPECT_FALSE(texts->textsForCat(sub).empty());
        texts->addTextToFavorites(entryWithIndex(i % 5 + 1));
        texts->deleteFavorite(entryWithIndex(i % 5 + 1));
    }
    while (searches < 5) std::this_thread::yield();
    stop = true;
    searcher.join();
    EXPECT_EQ(texts->favoritesCount(), 0u);
}

TEST_F(TextServerTest, FavouritesOfEarlierDatabasesComeOverOneFilePerStart) {
    // The current database already has favourite 3; two old ones, one with a quote in its name.
    writeTextsDatabase(documentsPath("texts.sqlite"), {{1, "One"}}, {{1, "Sub", 1, 0}},
                       {{1, 1, "A", "1"}, {2, 1, "B", "2"}, {3, 1, "C", "3"}, {4, 1, "D", "4"}}, {3});
    writeTextsDatabase(documentsPath("texts_o'old.sqlite"), {}, {}, {}, {1, 3});
    writeTextsDatabase(documentsPath("texts_v1.sqlite"), {}, {}, {}, {4});
    auto texts = server();
    // The first file (by name) came over, the duplicate skipped, and the file went.
    EXPECT_EQ(favoritesIn(documentsPath("texts.sqlite")), (std::vector<int>{1, 3}));
    EXPECT_FALSE(std::filesystem::exists(documentsPath("texts_o'old.sqlite")));
    EXPECT_TRUE(std::filesystem::exists(documentsPath("texts_v1.sqlite")));
    EXPECT_EQ(texts->favoritesCount(), 2u);
    // The next start takes the next file.
    restartServer();
    EXPECT_EQ(favoritesIn(documentsPath("texts.sqlite")), (std::vector<int>{1, 3, 4}));
    EXPECT_FALSE(std::filesystem::exists(documentsPath("texts_v1.sqlite")));
}

TEST_F(TextServerTest, AnOldDatabaseThatCannotBeCopiedIsKept) {
    writeTextsDatabase(documentsPath("texts.sqlite"), {{1, "One"}}, {{1, "Sub", 1, 0}}, {{1, 1, "A", "1"}}, {});
    // Favourites of another shape, and a file that is no database at all.
    {
        auto odd = SQLiteEngine::initWithPath(documentsPath("texts_a.sqlite"), true);
        ASSERT_TRUE(odd->execRequest("create table favorites (other text)"));
        ASSERT_TRUE(odd->execRequest("insert into favorites values ('x')"));
    }
    GalleryFixture::writeText(documentsPath("texts_b.sqlite"), "not a database");
    writeTextsDatabase(documentsPath("texts_c.sqlite"), {}, {}, {}, {1});
    auto texts = server();
    EXPECT_TRUE(std::filesystem::exists(documentsPath("texts_a.sqlite")));
    EXPECT_TRUE(std::filesystem::exists(documentsPath("texts_b.sqlite")));
    // What failed stays for a later start; the one after it came over now.
    EXPECT_FALSE(std::filesystem::exists(documentsPath("texts_c.sqlite")));
    EXPECT_EQ(favoritesIn(documentsPath("texts.sqlite")), std::vector<int>{1});
    NSErrorPtr error;
    EXPECT_FALSE(texts->importOldFavoritesFrom("texts.sqlite", &error));
    ASSERT_TRUE(error);
    EXPECT_FALSE(texts->importOldFavoritesFrom("../texts_a.sqlite", &error));
}

TEST_F(TextServerTest, AMergeAddsTheFavouritesAndClearsTheMarks) {
    auto texts = server();
    texts->addTextToFavorites(entryWithIndex(2));
    texts->resetText(entryWithIndex(1));
    writeTextsDatabase(documentsPath("other.sqlite"), {}, {}, {}, {2, 5});
    texts->fixBaseImportFavorites("missing.sqlite");
    texts->fixBaseImportFavorites("other.sqlite");
    EXPECT_EQ(indexes(texts->favoritesList()), (std::vector<int>{2, 5}));
    EXPECT_FALSE(std::filesystem::exists(documentsPath("other.sqlite")));
    EXPECT_FALSE(std::filesystem::exists(documentsPath("newTexts.data")));
    EXPECT_TRUE(texts->isNewText(entryWithIndex(1)));
}
