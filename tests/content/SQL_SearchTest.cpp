// The catalogue search: one table load per language, case-sensitive matching, hostile text in
// memory and in SQL, and searches on a queue of their own beside the main thread's lists.
#include "content/List_DataSource.h"
#include "content/SQL_Search_2fields.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "tests/content/ContentFixture.h"

#include <atomic>
#include <thread>

using testing::ElementsAre;
using testing::HasSubstr;

namespace {

std::vector<std::string> indexes(const ContentRowList& rows) {
    std::vector<std::string> out;
    if (rows) for (const auto& row : *rows) out.push_back(row.get("index").stringValue());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

class SQL_SearchTest : public ContentFixture {
protected:
    void SetUp() override {
        ContentFixture::SetUp();
        writeMiniCatalogue();
        loader_ = imagesLoader();
        search_ = SQL_Search_2fields::sqlSearchWithLoader(loader_, "name_en", "author_name_en");
    }
    std::vector<std::string> sqlSearch(const std::string& text) {
        const auto condition = search_->searchCondition(text);
        EXPECT_TRUE(condition);
        return indexes(std::make_shared<const ContentRows>(loader_->sql()->rowsForRequest(
            "select \"index\" from images where " + condition->sql, condition->parameters)));
    }
    std::shared_ptr<Loader> loader_;
    std::shared_ptr<SQL_Search_2fields> search_;
};

TEST_F(SQL_SearchTest, MatchesEitherColumnWithCaseAndNothingForEmptyText) {
    EXPECT_THAT(indexes(search_->result("Night")), ElementsAre("1"));
    EXPECT_THAT(indexes(search_->result("night")), ElementsAre("6"));
    EXPECT_THAT(indexes(search_->result("Rembrandt")), ElementsAre("1", "4"));
    EXPECT_TRUE(search_->result("")->empty());
    EXPECT_TRUE(search_->result("rembrandt")->empty());
    auto single = SQL_Search::sqlSearchWithLoader(loader_, "name_en");
    EXPECT_TRUE(single->result("Rembrandt")->empty());
    auto absent = SQL_Search::sqlSearchWithLoader(loader_, "no_such_column");
    EXPECT_TRUE(absent->result("a")->empty());
}

TEST_F(SQL_SearchTest, TheTableLoadsOncePerLanguage) {
    search_->result("Night");
    const auto table = search_->requestResult();
    const auto sql = search_->lastRequest();
    EXPECT_THAT(sql, HasSubstr("as author_name_en"));
    search_->result("Monet");
    EXPECT_EQ(search_->requestResult(), table);
    EXPECT_EQ(table->size(), 6u);

    setLanguage("fr");
    search_->result("Monet");
    EXPECT_NE(search_->requestResult(), table);
    EXPECT_THAT(search_->lastRequest(), HasSubstr("as author_name_fr"));
    // Monet's French name is empty: his row carries the English one.
    auto french = SQL_Search_2fields::sqlSearchWithLoader(loader_, "name_en", "author_name_fr");
    EXPECT_THAT(indexes(french->result("Monet")), ElementsAre("2", "3"));

    setLanguage("ru");
    search_->result("x");
    EXPECT_THAT(search_->lastRequest(), HasSubstr("author.\"name\" as author_name,"));
}

TEST_F(SQL_SearchTest, AFoundPictureCarriesItsAuthorsDescriptionInTheReadersLanguage) {
    const OELocalizations& locale = loader_->localizations();
    auto description = [&](const std::string& text) {
        const auto rows = search_->result(text);
        return rows && !rows->empty() ? locale.localizedAuthorDescriptionFieldValue(rows->front()) : "(none)";
    };
    EXPECT_EQ(description("Monet"), "Monet bio");
    EXPECT_EQ(description("Night"), "bio");
    // No French column: the default language's text, as every other picture list gives it.
    setLanguage("fr");
    auto french = SQL_Search_2fields::sqlSearchWithLoader(loader_, "name_en", "author_name_fr");
    const auto rows = french->result("Monet");
    ASSERT_TRUE(rows && !rows->empty());
    EXPECT_EQ(locale.localizedAuthorDescriptionFieldValue(rows->front()), "Monet bio");
    setLanguage("ru");
    auto russian = SQL_Search_2fields::sqlSearchWithLoader(loader_, "name", "author_name");
    const auto found = russian->result("Рембрандт");
    ASSERT_TRUE(found && !found->empty());
    EXPECT_EQ(locale.localizedAuthorDescriptionFieldValue(found->front()), "био");
}

TEST_F(SQL_SearchTest, HostileTextFindsExactlyThatText) {
    for (const std::string text : {"'", "%", ";", "100% real; yes"}) {
        SCOPED_TRACE(text);
        EXPECT_THAT(indexes(search_->result(text)), ElementsAre("2"));
        EXPECT_THAT(sqlSearch(text), ElementsAre("2"));
    }
    EXPECT_THAT(indexes(search_->result("_")), ElementsAre("4"));
    EXPECT_THAT(sqlSearch("_"), ElementsAre("4"));
    EXPECT_THAT(sqlSearch("WOMAN'S"), ElementsAre("2"));  // the SQL form ignores case
    EXPECT_TRUE(sqlSearch("\\").empty());
    EXPECT_TRUE(sqlSearch("'; drop table images; --").empty());
    EXPECT_TRUE(loader_->sql()->tableExists("images"));
    EXPECT_EQ(search_->searchCondition("x")->sql, "LOWER(\"name_en\") LIKE ? ESCAPE '\\'");
    EXPECT_FALSE(SQL_Search::sqlSearchWithLoader(loader_, "name_en) or (1")->searchCondition("x"));
}

TEST_F(SQL_SearchTest, ASourceAnswersThroughItsSearchObject) {
    auto source = List_DataSource::initWithLoader(loader_);
    EXPECT_FALSE(source->alowSearch());
    EXPECT_EQ(source->searchResult("Night"), nullptr);
    source->setSearch(search_);
    EXPECT_TRUE(source->alowSearch());
    const auto found = source->searchResult("Night");
    EXPECT_THAT(indexes(found), ElementsAre("1"));
    source->setLastSearch(found);
    EXPECT_EQ(source->searchLast(), found);
    source->resetSearch();
    EXPECT_EQ(source->searchLast(), nullptr);
}

// The searches typed run on a serial search queue, the search with a loader of its own, while
// the main thread goes on listing through the source's loader and the content changes.
TEST_F(SQL_SearchTest, ASearchWithItsOwnLoaderAnswersOnItsQueueWhileTheMainThreadLists) {
    auto source = List_DataSource::initWithLoader(imagesLoader());
    source->setSearch(search_);
    const auto portraits = source->subCatList(source->catList()->front())->back();
    auto queue = DispatchQueue::create("search");
    std::atomic<int> wrong{0};
    for (int i = 0; i < 40; ++i) {
        queue->async([&, i] {
            if (indexes(source->searchResult(i % 2 ? "Rembrandt" : "Monet")) !=
                (i % 2 ? std::vector<std::string>{"1", "4"} : std::vector<std::string>{"2", "3"}))
                ++wrong;
        });
    }
    int listed = 0;
    for (int round = 0; round < 40; ++round) {
        listed += source->list(portraits)->size() == 3u && source->catList()->size() == 3u;
        if (round % 10 == 0) NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    }
    queue->sync([] {});  // after every search queued before it
    EXPECT_EQ(listed, 40);
    EXPECT_EQ(wrong.load(), 0);
}

#if !defined(NDEBUG) || defined(OSTREL_SEQUENCE_CHECKS)
using SQL_SearchDeathTest = SQL_SearchTest;

// A source lives on the sequence that first used it; another thread's use is a programming error.
TEST_F(SQL_SearchDeathTest, ASourceListedFromASecondThreadAbortsNamingIt) {
    auto source = List_DataSource::initWithLoader(imagesLoader());
    ASSERT_EQ(source->catList()->size(), 3u);
    EXPECT_DEATH(
        {
            std::thread other([&] { (void)source->catList(); });
            other.join();
        },
        "DataSource::catList called from");
}
#endif
