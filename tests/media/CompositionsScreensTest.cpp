// The track lists, their cells and search, the phone's catalogue, a category's songs and the
// playlists, driven as a person would: taps, deletions, the download buttons and the alerts.
#include "content/FileDownloader.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerController.h"
#include "media/MediaPlayerItem.h"
#include "media/OECompositionsTableViewControllerWithSearch.h"
#include "media/PlayListManager.h"
#include "media/UIAllCompositionsViewController.h"
#include "media/UICompositionCatsViewController.h"
#include "media/UICompositionCell.h"
#include "media/UICompositionsViewController.h"
#include "media/UIPlayListCell.h"
#include "media/UIPlayListEditViewController.h"
#include "media/UIPlayListsViewController.h"
#include "platform/dispatch/NSOperationQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITextField.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/media/MusicScreenFixture.h"

#include <filesystem>

#include <unistd.h>

namespace {

class CompositionsScreensTest : public MusicScreenFixture {
protected:
    void SetUp() override {
        MusicScreenFixture::SetUp();
        for (const char* name : {CompositionsPlayList.c_str(), CompositionSelectedMessage.c_str(),
                                 CompositionPlayPlaylistMessage.c_str()}) {
            const std::string key = name;
            observers_.push_back(NSNotificationCenter::defaultCenter()->addObserverForName(
                key, nullptr, nullptr, [this, key](const NSNotification& note) {
                    posted_.push_back(key);
                    lastNote_ = NSNotification::notificationWithName(note.name(), note.object(), note.userInfo());
                }));
        }
    }
    void TearDown() override {
        for (const auto& o : observers_) NSNotificationCenter::defaultCenter()->removeObserver(o);
        MusicScreenFixture::TearDown();
    }
    static std::string text(const std::shared_ptr<UITableView>& table, long row, long section = 0) {
        auto cell = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, section));
        return cell ? cell->textLabel()->text() : "(none)";
    }
    static std::string accessory(const std::shared_ptr<UITableViewCell>& cell) {
        if (auto label = std::dynamic_pointer_cast<UILabel>(cell->accessoryView())) return "time " + label->text();
        if (auto button = std::dynamic_pointer_cast<UIButton>(cell->accessoryView())) {
            auto image = button->imageForState(UIControlStateNormal);
            return image ? image->name() : "button";
        }
        return "none";
    }
    std::shared_ptr<UICompositionCell> cellFor(int index) {
        auto cell = UICompositionCell::initWithReuseIdentifier("x");
        cell->setParamsFrom(source_->compositionForIndex(index), music_);
        return cell;
    }

    std::vector<std::shared_ptr<NSObject>> observers_;
    std::vector<std::string> posted_;
    std::shared_ptr<NSNotification> lastNote_;
};

TEST_F(CompositionsScreensTest, ACellShowsTheTimeOfAFileOnTheDeviceElseADownloadOrCancelButton) {
    setLanguage("de");
    reloadConfiguration();
    music_.media = context();
    // The time has no translation: it shows in every language.
    EXPECT_EQ(accessory(cellFor(1)), "time 0:03");
    auto remote = cellFor(5);
    EXPECT_EQ(accessory(remote), "media_download");
    remote->downloadClick();
    EXPECT_EQ(queued(), (std::vector<std::string>{"mozart/rondo alla turca.m4a"}));
    EXPECT_EQ(accessory(remote), "media_cancel");
    // Another file's end leaves it; its own refreshes it, whatever the outcome.
    auto other = cellFor(6);
    other->downloadClick();
    queue_->cancelFile("mozart/requiem.m4a");
    EXPECT_EQ(accessory(remote), "media_cancel");
    queue_->cancelFile("mozart/rondo alla turca.m4a");
    EXPECT_EQ(accessory(remote), "media_download");
    remote->downloadClick();
    remote->cancelClick();
    EXPECT_EQ(accessory(remote), "media_download");
    EXPECT_EQ(remote->textLabel()->text(), "Rondo");
    EXPECT_EQ(remote->detailTextLabel()->text(), "Mozart");
}

TEST_F(CompositionsScreensTest, TheSpinnerRunsOnlyForTheCurrentTrackWhileItLoads) {
    auto loading = cellFor(7), other = cellFor(8);
    music_.player->playList({source_->compositionForIndex(8), source_->compositionForIndex(7)}, 1);
    // The controller's item is another object of the same track: the path decides.
    EXPECT_TRUE(loading->activityIndicator()->isAnimating());
    EXPECT_FALSE(other->activityIndicator()->isAnimating());
    ASSERT_TRUE(pump([&] { return !loading->activityIndicator()->isAnimating(); }));
    EXPECT_FALSE(music_.player->currentMediaItem()->buffering());
}

TEST_F(CompositionsScreensTest, ATapPlaysTheListShownFromItsRowAndASearchResultTapPlaysOneTrack) {
    auto screen = std::make_shared<OECompositionsTableViewControllerWithSearch>(UITableViewStyleGrouped, source_, music_);
    show(screen);
    auto table = screen->tableView();
    ASSERT_EQ(table->numberOfRowsInSection(0), 8);
    EXPECT_EQ(screen->heightForRowAtIndexPath(table, NSIndexPath::indexPathForRow(0, 0)), 46.0);
    table->simulateTapOnRow(NSIndexPath::indexPathForRow(2, 0));
    ASSERT_EQ(posted_, (std::vector<std::string>{CompositionsPlayList}));
    EXPECT_EQ(lastNote_->userInfo().get("index").intValue(), 2);
    EXPECT_EQ(lastNote_->userInfo().get("list").count(), 8u);

    // A search: its result comes through the main queue; with the field emptied every track shows.
    screen->searchController()->setActive(true);
    screen->searchController()->searchBar()->setText("Minuet");
    screen->updateSearchResultsForSearchController(screen->searchController());
    ASSERT_TRUE(pump([&] { return table->numberOfRowsInSection(0) == 2; }));
    table->simulateTapOnRow(NSIndexPath::indexPathForRow(1, 0));
    EXPECT_EQ(posted_.back(), CompositionSelectedMessage);
    EXPECT_EQ(std::dynamic_pointer_cast<MediaPlayerItem>(lastNote_->object())->key(), "4");
    screen->searchController()->searchBar()->setText("");
    screen->updateSearchResultsForSearchController(screen->searchController());
    EXPECT_EQ(table->numberOfRowsInSection(0), 8);
}

TEST_F(CompositionsScreensTest, SearchesQueuedFastKeepOnlyTheLastWaitingOne) {
    auto screen = std::make_shared<OECompositionsTableViewControllerWithSearch>(UITableViewStyleGrouped, source_, music_);
    show(screen);
    screen->searchController()->setActive(true);
    for (const char* text : {"M", "Mi", "Min", "Rondo"}) screen->handleSearch(text);
    ASSERT_TRUE(pump([&] { return screen->searchQueue()->operationCount() == 0; }));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_EQ(screen->searchResult().size(), 1u) << "the last search's result is the one shown";
    EXPECT_EQ(screen->searchResult()[0]->key(), "5");
}

TEST_F(CompositionsScreensTest, DeletingADownloadedTrackKeepsItsRowOrInEditModeTheRowGoesOnlyWithTheFile) {
    auto cats = UICompositionCatsViewController::initWithDb(openMedia(), music_);
    show(cats);
    auto table = cats->tableView();
    // Outside edit mode a track not shipped may be deleted even before it is downloaded.
    EXPECT_FALSE(cats->canEditRowAtIndexPath(table, NSIndexPath::indexPathForRow(0, 0))) << "Air is shipped";
    EXPECT_TRUE(cats->canEditRowAtIndexPath(table, NSIndexPath::indexPathForRow(1, 0)));
    // The trash enters edit mode over the downloaded tracks only.
    cats->trashClick();
    ASSERT_TRUE(cats->editMode());
    ASSERT_EQ(table->numberOfRowsInSection(0), 1);
    // A delete that fails leaves the row, and the table stays consistent.
    std::filesystem::permissions(documents() + "/bach", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    cats->commitEditingStyle(table, UITableViewCellEditingStyleDelete, NSIndexPath::indexPathForRow(0, 0));
    std::filesystem::permissions(documents() + "/bach", std::filesystem::perms::owner_all);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    if (getuid() != 0) {
        EXPECT_TRUE(cats->editMode());
        EXPECT_EQ(table->numberOfRowsInSection(0), 1);
    }
    // The last one deleted: edit mode ends on the next turn and every track is listed again.
    cats->commitEditingStyle(table, UITableViewCellEditingStyleDelete, NSIndexPath::indexPathForRow(0, 0));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(cats->editMode());
    EXPECT_EQ(table->numberOfRowsInSection(0), 8);
    EXPECT_FALSE(std::filesystem::exists(documents() + "/bach/toccata.m4a"));
}

TEST_F(CompositionsScreensTest, TheCatalogueListsAuthorsWithCountsAndOpensTheirSongsWithDownloadAll) {
    auto cats = UICompositionCatsViewController::initWithDb(openMedia(), music_);
    auto navigation = show(cats);
    EXPECT_EQ(cats->title(), "Compositions");
    auto items = cats->makeToolbarItems();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(items[0]->isSpace() == false) << "one track is downloaded: the trash";
    EXPECT_TRUE(items[4]->isSpace()) << "an empty queue: a fixed space";
    // The catalogue's own keys (the bundle gives "Author" the music's word).
    auto selector = std::dynamic_pointer_cast<UISegmentedControl>(items[2]->customView());
    ASSERT_TRUE(selector);
    EXPECT_EQ(selector->titleForSegmentAtIndex(0), "Songs");
    EXPECT_EQ(selector->titleForSegmentAtIndex(1), "Author");
    cats->catsSelectorChange(1);
    auto table = cats->tableView();
    ASSERT_EQ(table->numberOfRowsInSection(0), 2);
    auto row = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0));
    EXPECT_EQ(row->textLabel()->text(), "Mozart");
    EXPECT_EQ(row->detailTextLabel()->text(), "\xD1\x81ompositions: 4") << "the key shows without a translation";
    EXPECT_TRUE(cats->makeToolbarItems()[0]->isSpace()) << "no trash on the authors";
    table->simulateTapOnRow(NSIndexPath::indexPathForRow(1, 0));
    advance(1.0);
    auto songs = std::dynamic_pointer_cast<UICompositionsViewController>(navigation->topViewController());
    ASSERT_TRUE(songs);
    EXPECT_EQ(songs->title(), "Mozart");
    ASSERT_EQ(songs->tableView()->numberOfRowsInSection(0), 4);
    ASSERT_EQ(songs->toolbarItems().size(), 2u);
    songs->downloadAllClick();
    EXPECT_EQ(queued(), (std::vector<std::string>{"mozart/minuet.m4a", "mozart/requiem.m4a",
                                                 "mozart/rondo alla turca.m4a", "mozart/serenade.m4a"}));
    // The queue changed while the catalogue is under the songs: its toolbar waits.
    const auto before = cats->toolbarItems();
    NSNotificationCenter::defaultCenter()->postNotificationName(FileDownloader::kQueueChangedMessage, nullptr);
    EXPECT_EQ(cats->toolbarItems(), before);
}

TEST_F(CompositionsScreensTest, APlaylistIsMadeFromANameAndPicksPlayedEditedAndDeleted) {
    auto manager = PlayListManager::initWithSource(source_);
    auto lists = UIPlayListsViewController::initWithStyle(UITableViewStyleGrouped, manager, music_);
    auto navigation = show(lists);
    lists->addPlayList();
    advance(1.0);
    auto alert = std::dynamic_pointer_cast<UIAlertController>(navigation->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), "New Playlist");
    alert->textFields()[0]->setText("Evening");
    ASSERT_TRUE(alert->tapActionWithTitle("Ok"));
    advance(1.0);
    auto picker = std::dynamic_pointer_cast<UIAllCompositionsViewController>(navigation->topViewController());
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->title(), "Evening");
    EXPECT_TRUE(manager->playLists().empty()) << "written only on Done";
    // Picks in any order come out in catalogue order; a tap never plays.
    picker->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(4, 0));
    picker->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(0, 0));
    EXPECT_TRUE(posted_.empty());
    EXPECT_EQ(picker->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0))->imageView()->image()->name(),
              "cb_dark_on");
    picker->doneClick();
    advance(1.0);
    ASSERT_EQ(lists->playlists().size(), 1u);
    EXPECT_EQ(lists->playlists()[0]->items.size(), 2u);
    EXPECT_EQ(lists->playlists()[0]->items[0]->key(), "1");
    EXPECT_EQ(text(lists->tableView(), 0), "Evening");

    // The row's play button starts the playlist.
    auto cell = std::dynamic_pointer_cast<UIPlayListCell>(lists->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_TRUE(cell);
    cell->playClick();
    EXPECT_EQ(posted_.back(), CompositionPlayPlaylistMessage);

    // The editor: a tap plays from the row; deleting the last track leaves an empty playlist that
    // still lists, and whose play button says so.
    lists->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(0, 0));
    advance(1.0);
    auto editor = std::dynamic_pointer_cast<UIPlayListEditViewController>(navigation->topViewController());
    ASSERT_TRUE(editor);
    editor->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(1, 0));
    EXPECT_EQ(posted_.back(), CompositionsPlayList);
    EXPECT_EQ(lastNote_->userInfo().get("index").intValue(), 1);
    EXPECT_TRUE(editor->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(0, 0)));
    EXPECT_TRUE(editor->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_EQ(manager->playLists().size(), 1u);
    EXPECT_TRUE(manager->playLists()[0]->items.empty());
    navigation->popViewControllerAnimated(false);
    advance(1.0);
    cell = std::dynamic_pointer_cast<UIPlayListCell>(lists->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
    cell->playClick();
    const auto alerts = UIAlertView::visibleAlertViews();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "Playlist is empty");
    EXPECT_EQ(alerts[0]->numberOfButtons(), 1);
    alerts[0]->dismissWithClickedButtonIndex(0, false);

    // Deleting the playlist: the row goes with its file.
    EXPECT_TRUE(lists->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(0, 0)));
    EXPECT_TRUE(manager->playLists().empty());
    EXPECT_EQ(lists->tableView()->numberOfRowsInSection(0), 0);
}

TEST_F(CompositionsScreensTest, APlaylistRowKeepsItsTracksWhenAnotherRowIsDeletedAndAFailedDeleteKeepsTheRow) {
    auto manager = PlayListManager::initWithSource(source_);
    for (const char* name : {"A", "B"}) {
        auto list = PlayListManager::createPlayList(name);
        list->filename = std::string(name) + ".mplist";
        list->items = {source_->compositionForIndex(2)};
        ASSERT_TRUE(manager->savePlaylist(*list));
    }
    auto lists = UIPlayListsViewController::initWithStyle(UITableViewStyleGrouped, manager, music_);
    show(lists);
    auto second = std::dynamic_pointer_cast<UIPlayListCell>(
        lists->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0)));
    ASSERT_TRUE(lists->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(0, 0)));
    second->playClick();
    EXPECT_EQ(posted_.back(), CompositionPlayPlaylistMessage) << "B still has its track";
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
    if (getuid() == 0) return;
    std::filesystem::permissions(documents(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    lists->commitEditingStyle(lists->tableView(), UITableViewCellEditingStyleDelete, NSIndexPath::indexPathForRow(0, 0));
    std::filesystem::permissions(documents(), std::filesystem::perms::owner_all);
    EXPECT_EQ(lists->tableView()->numberOfRowsInSection(0), 1);
    EXPECT_EQ(lists->playlists().size(), 1u);
}

// A playlist change that cannot be written (a home that cannot be written to) is told to the
// person, whether a new playlist or an edit; the list then shows what the files hold.
TEST_F(CompositionsScreensTest, APlaylistChangeThatCannotBeSavedSaysItWasNotKept) {
    auto manager = PlayListManager::initWithSource(source_);
    auto saved = PlayListManager::createPlayList("Kept");
    saved->items = {source_->compositionForIndex(1), source_->compositionForIndex(2)};
    ASSERT_TRUE(manager->savePlaylist(*saved));
    auto lists = UIPlayListsViewController::initWithStyle(UITableViewStyleGrouped, manager, music_);
    auto navigation = show(lists);
    FaultInjection faults;
    faults->readOnly(documents() + "/*");
    auto expectNotKept = [&] {
        const auto alerts = UIAlertView::visibleAlertViews();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0]->title(), "Playlist not saved");
        EXPECT_EQ(alerts[0]->message(), "The change could not be kept.");
        EXPECT_EQ(alerts[0]->numberOfButtons(), 1);
        alerts[0]->dismissWithClickedButtonIndex(0, false);
    };

    // An edit: the track removed on screen is still in the file.
    lists->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(0, 0));
    advance(1.0);
    auto editor = std::dynamic_pointer_cast<UIPlayListEditViewController>(navigation->topViewController());
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(0, 0)));
    expectNotKept();
    ASSERT_EQ(lists->playlists().size(), 1u);
    EXPECT_EQ(lists->playlists()[0]->items.size(), 2u);
    navigation->popViewControllerAnimated(false);
    advance(1.0);

    // A new playlist: it is not listed.
    lists->createPlaylistWithText("Lost");
    advance(1.0);
    auto picker = std::dynamic_pointer_cast<UIAllCompositionsViewController>(navigation->topViewController());
    ASSERT_TRUE(picker);
    picker->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(0, 0));
    picker->doneClick();
    advance(1.0);
    expectNotKept();
    ASSERT_EQ(lists->playlists().size(), 1u);
    EXPECT_EQ(lists->playlists()[0]->name, "Kept");
    EXPECT_GT(faults->injected(), 0);
}

}  // namespace
