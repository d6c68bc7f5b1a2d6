// Tracks, play-list sources and the catalogue over a small media database: where a track's file
// is and its URL, orders in sequence and shuffled, categories, searches with any text.
#include "content/SQLiteEngine.h"
#include "media/CompositionsSearch.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "media/MediaSource.h"
#include "platform/foundation/Clock.h"
#include "platform/net/NSURL.h"
#include "platform/ui/UIImage.h"
#include "tests/media/MediaFixture.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include <unistd.h>

namespace {

class CatalogueTest : public MediaFixture {
protected:
    void SetUp() override {
        MediaFixture::SetUp();
        source_ = DB_CompositionsSource::initWithSQL(openMedia(), "author", context());
    }
    std::shared_ptr<MediaPlayerItem> track(int index) { return source_->compositionForIndex(index); }
    static std::vector<std::string> names(const MediaItems& items) {
        std::vector<std::string> result;
        for (const auto& item : items) result.push_back(item->fieldValue("name") + "/" + item->key());
        return result;
    }
    static MediaItems list(const std::shared_ptr<MediaSource>& source) {
        MediaItems items;
        for (std::int64_t i = 0; i < source->itemsCount(); ++i) items.push_back(source->itemAt(i));
        return items;
    }
    std::shared_ptr<DB_CompositionsSource> source_;
};

TEST_F(CatalogueTest, ATrackKnowsWhereItsFileIsAndWhatToPlay) {
    auto shipped = track(1), downloaded = track(2), remote = track(5);
    ASSERT_TRUE(shipped && downloaded && remote);
    EXPECT_EQ(shipped->key(), "1");
    EXPECT_TRUE(shipped->exists());
    EXPECT_FALSE(shipped->deletable());
    EXPECT_FALSE(shipped->downloaded());
    EXPECT_EQ(shipped->itemUrl()->path(), bundle() + "/bach/air.m4a");

    EXPECT_TRUE(downloaded->exists());
    EXPECT_TRUE(downloaded->deletable());
    EXPECT_TRUE(downloaded->downloaded());
    EXPECT_EQ(downloaded->itemUrl()->path(), documents() + "/bach/toccata.m4a");

    EXPECT_FALSE(remote->exists());
    EXPECT_TRUE(remote->deletable());
    EXPECT_FALSE(remote->downloaded());
    // The path's space is encoded; the format's folder and the media format are the configured ones.
    EXPECT_EQ(remote->itemUrl()->absoluteString(), server().host() + "/data/ostrelmedia/m4a/mozart/rondo%20alla%20turca.m4a");
    EXPECT_EQ(remote->rawValue("time"), "0:03");
    EXPECT_EQ(remote->fieldValue("author_name"), "Mozart");
    EXPECT_NE(remote->description().find("{mozart/rondo alla turca.m4a}"), std::string::npos);
}

TEST_F(CatalogueTest, RemovingADownloadedCopyLeavesShippedFilesAlone) {
    auto shipped = track(1), downloaded = track(2), remote = track(3);
    EXPECT_TRUE(downloaded->removeDownloaded());
    EXPECT_FALSE(downloaded->exists());
    EXPECT_FALSE(std::filesystem::exists(documents() + "/bach/toccata.m4a"));
    EXPECT_TRUE(shipped->removeDownloaded());
    EXPECT_TRUE(std::filesystem::exists(bundle() + "/bach/air.m4a"));
    EXPECT_TRUE(remote->removeDownloaded()) << "nothing to remove";
    // A copy that cannot be removed (its folder is read-only) is reported as still there.
    std::filesystem::create_directories(documents() + "/mozart");
    std::filesystem::copy_file(bundle() + "/bach/air.m4a", documents() + "/mozart/minuet.m4a");
    std::filesystem::permissions(documents() + "/mozart", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    auto stuck = track(4);
    const bool removed = stuck->removeDownloaded();
    std::filesystem::permissions(documents() + "/mozart", std::filesystem::perms::owner_all);
    if (getuid() != 0) {
        EXPECT_FALSE(removed);
        EXPECT_TRUE(stuck->downloaded());
    }
}

TEST_F(CatalogueTest, AnArraySourceStepsWithinItsListAndFindsItsCurrentItemByIdentity) {
    auto all = source_->allCompositions();
    auto source = ArrayMediaSource::initWithArray(all);
    EXPECT_EQ(source->currentItem(), all[0]);
    EXPECT_EQ(source->processPrevItem(), nullptr);
    EXPECT_EQ(source->processNextItem(), all[1]);
    EXPECT_EQ(source->currentItemIndex(), 1);
    source->setCurrentItem(all.back());
    EXPECT_EQ(source->currentItemIndex(), static_cast<std::int32_t>(all.size()) - 1);
    EXPECT_EQ(source->processNextItem(), nullptr);
    // An equal track that is another object is not in the list: the position stays.
    source->setCurrentItem(track(all[2]->data().get("index").intValue()));
    EXPECT_EQ(source->currentItemIndex(), static_cast<std::int32_t>(all.size()) - 1);

    auto one = ArrayMediaSource::initWithArray({all[0]});
    EXPECT_EQ(one->processNextItem(), nullptr);
    EXPECT_EQ(one->processPrevItem(), nullptr);
    EXPECT_EQ(one->currentItem(), all[0]);

    auto empty = ArrayMediaSource::initWithArray({});
    EXPECT_EQ(empty->currentItem(), nullptr);
    EXPECT_EQ(empty->currentItemIndex(), -1);
    EXPECT_EQ(empty->processNextItem(), nullptr);
    EXPECT_EQ(empty->itemAt(0), nullptr);
    EXPECT_EQ(MediaSource_Shuffle::initWithSource(empty)->itemsCount(), 0);
}

TEST_F(CatalogueTest, AShuffledCopyStartsAtTheCurrentTrackAndHandsItsTrackBack) {
    Clock::setManual(1'700'000'000 + std::rand() % 100000);
    std::printf("shuffle seeded with %lld\n", static_cast<long long>(Clock::now()));
    auto all = source_->allCompositions();
    auto original = ArrayMediaSource::initWithArray(all);
    original->setCurrentItem(all[5]);
    {
        auto shuffled = MediaSource_Shuffle::initWithSource(original);
        const auto items = list(shuffled);
        ASSERT_EQ(items.size(), all.size());
        EXPECT_EQ(items[0], all[5]);
        EXPECT_EQ(std::set(items.begin(), items.end()), std::set(all.begin(), all.end()));
        EXPECT_EQ(shuffled->currentItemIndex(), 0);
    }
    EXPECT_EQ(original->currentItemIndex(), 5) << "released on the track it started on";
    {
        auto shuffled = MediaSource_Shuffle::initWithSource(original);
        shuffled->processNextItem();
        shuffled->processNextItem();
        const auto reached = shuffled->currentItem();
        shuffled.reset();
        EXPECT_EQ(original->currentItem(), reached);
        EXPECT_EQ(all[static_cast<std::size_t>(original->currentItemIndex())], reached);
    }
}

TEST_F(CatalogueTest, CategoriesListOnlyGroupsWithTracksAndTheirCounts) {
    const auto cats = source_->compositionsCats();
    ASSERT_EQ(cats.size(), 2u) << "Nobody has no track";
    EXPECT_EQ(cats[0]->name(), "Bach");
    EXPECT_EQ(cats[0]->compositions_count(), 4);
    EXPECT_EQ(cats[1]->name(), "Mozart");
    EXPECT_EQ(cats[1]->compositions_count(), 4);
    EXPECT_EQ(source_->keyForCat(*cats[0]), "Bach_1");
    // A missing picture gives the packaged note.
    ASSERT_TRUE(cats[0]->image(120));
    EXPECT_EQ(cats[0]->image(120)->size().width, 40);
    ASSERT_TRUE(cats[1]->image(120));
    EXPECT_EQ(cats[1]->image(120)->name(), "note");

    auto genres = DB_CompositionsSource::initWithSQL(openMedia(), "genres", context());
    const auto genreCats = genres->compositionsCats();
    ASSERT_EQ(genreCats.size(), 2u) << "a NULL genre drops the track";
    EXPECT_EQ(genreCats[0]->compositions_count() + genreCats[1]->compositions_count(), 7);
    EXPECT_TRUE(DB_CompositionsSource::initWithSQL(openMedia(), "no table; drop", context())->compositionsCats().empty());
}

TEST_F(CatalogueTest, TracksOfACategoryAreCachedAndFilteredAndFoundByField) {
    const auto cats = source_->compositionsCats();
    const auto first = source_->compositionsForCat(cats[1]);
    EXPECT_EQ(names(first), (std::vector<std::string>{"Minuet/4", "Requiem/6", "Rondo/5", "Serenade/7"}));
    const auto again = source_->compositionsForCat(cats[1]);
    ASSERT_EQ(again.size(), first.size());
    for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(again[i], first[i]) << "the cached objects";
    EXPECT_EQ(names(source_->notDownloadedItemsForCat(cats[0])), (std::vector<std::string>{"Air/1", "Minuet/3", "Sarabande/8"}));
    // All tracks by author name, then name.
    EXPECT_EQ(names(source_->allCompositions()),
              (std::vector<std::string>{"Air/1", "Minuet/3", "Sarabande/8", "Toccata/2", "Minuet/4", "Requiem/6",
                                        "Rondo/5", "Serenade/7"}));
    EXPECT_EQ(source_->findItem("Minuet", "name")->key(), "4") << "the later of two";
    EXPECT_EQ(source_->findItem("mozart/rondo alla turca.m4a", "filepath")->key(), "5");
    EXPECT_EQ(source_->findItem("Nothing", "name"), nullptr);
    EXPECT_EQ(source_->compositionForIndex(99), nullptr);
    EXPECT_EQ(names(source_->downloadedItems()), (std::vector<std::string>{"Toccata/2"}));
    EXPECT_EQ(source_->deletableItems().size(), 7u);
    EXPECT_EQ(source_->notDownloadedItems().size(), 7u);
    source_->reset();
    EXPECT_NE(source_->compositionsForCat(cats[1])[0], first[0]) << "read again after a reset";
}

TEST_F(CatalogueTest, SearchesTakeAnyTextLiterally) {
    auto search = source_->getSearch();
    ASSERT_TRUE(search);
    EXPECT_EQ(names(search->handleSearch("in")), (std::vector<std::string>{"Minuet/3", "Minuet/4"}));
    EXPECT_EQ(names(search->handleSearch("Moz")).size(), 4u) << "by author name too";
    EXPECT_TRUE(search->handleSearch("it's").empty()) << "a quote is text, not SQL";
    EXPECT_TRUE(search->handleSearch("%").empty()) << "wildcards are text too";
    EXPECT_TRUE(search->handleSearch("x' or 1=1 --").empty());
    const auto cats = search->handleSearchCat("ach");
    ASSERT_EQ(cats.size(), 1u);
    EXPECT_EQ(cats[0]->name(), "Bach");
    EXPECT_EQ(cats[0]->compositions_count(), 4);
    // The search runs on a connection of its own, so that another thread may run it.
    std::vector<std::string> found;
    std::thread([&] { found = names(source_->getSearch()->handleSearch("Air")); }).join();
    EXPECT_EQ(found, (std::vector<std::string>{"Air/1"}));
}

TEST_F(CatalogueTest, SearchingInALanguageWithoutColumnsFallsBackToTheDefaultLanguage) {
    setLanguage("zh");
    reloadConfiguration();
    auto source = DB_CompositionsSource::initWithSQL(openMedia(), "author", context());
    auto found = source->getSearch()->handleSearch("Rondo");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->fieldValue("author_name"), "Mozart");
    EXPECT_EQ(source->getSearch()->handleSearchCat("Bach").size(), 1u);
}

}  // namespace
