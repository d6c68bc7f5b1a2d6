// The pad's player screen: the header bound to the player, the content choices in the toolbar
// (the song list first), the search field that filters the song list, the trash button over the
// downloaded songs, a grid's detail panel taking the toolbar's room, and the authors grid's title.
#include "content/SQLiteEngine.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerController.h"
#include "media/MediaPlayerItem.h"
#include "media/MediaPlayerViewController_iPad.h"
#include "media/MediaPlayerViews.h"
#include "media/OECompositionsTableViewController.h"
#include "media/UICatGridCell.h"
#include "media/UICatGridViewController.h"
#include "media/UICompositionsListViewController.h"
#include "media/UICompositionsViewController.h"
#include "media/UIPlaylistsGridViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIWindow.h"
#include "tests/media/PadMusicFixture.h"
#include "uikit/OEGridView.h"
#include "uikit/UIGridViewWithPageControll.h"

#include <filesystem>
#include <fstream>

namespace {

class PadPlayerScreenTest : public PadMusicFixture {
protected:
    void SetUp() override {
        PadMusicFixture::SetUp();
        screen_ = MediaPlayerViewController_iPad::initWithMediaPlayerController(music_.player, openMedia(), music_);
        navigation_ = show(screen_);
    }
    void TearDown() override {
        screen_.reset();
        navigation_.reset();
        PadMusicFixture::TearDown();
    }
    std::shared_ptr<UICompositionsListViewController> songs() const {
        return std::dynamic_pointer_cast<UICompositionsListViewController>(screen_->mainViewController());
    }
    std::vector<std::string> rows(const std::shared_ptr<UITableView>& table) const {
        std::vector<std::string> names;
        for (long row = 0; row < table->numberOfRowsInSection(0); ++row) {
            auto cell = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
            names.push_back(cell ? cell->textLabel()->text() : "(none)");
        }
        return names;
    }
    std::shared_ptr<UISegmentedControl> selector() const {
        const auto& items = screen_->toolbarItems();
        return items.size() == 5 ? std::dynamic_pointer_cast<UISegmentedControl>(items[2]->customView()) : nullptr;
    }
    void choose(long index) {
        auto control = selector();
        ASSERT_TRUE(control);
        if (index < static_cast<long>(screen_->contentCategories().size())) {
            control->setSelectedSegmentIndex(index);
            control->sendActionsForControlEvents(UIControlEventValueChanged);
        } else {
            // The selector offers only playlists and songs; the grids behind it are reached by index.
            screen_->catsSelectorChange(index);
        }
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    bool trashShown() const {
        const auto& items = screen_->toolbarItems();
        return !items.empty() && items[0]->systemItem() == UIBarButtonSystemItemTrash;
    }
    std::shared_ptr<MediaPlayerViewController_iPad> screen_;
    std::shared_ptr<UINavigationController> navigation_;
};

TEST_F(PadPlayerScreenTest, TheSongListComesFirstUnderTheHeaderWithTheToolbarOfChoicesAndSearch) {
    ASSERT_TRUE(songs());
    EXPECT_EQ(screen_->selectedCat(), MediaPlayerViewController_iPad::kSongs);
    EXPECT_EQ(screen_->title(), "Songs");
    EXPECT_FALSE(navigation_->isToolbarHidden());
    const auto& items = screen_->toolbarItems();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(items[1]->isSpace());
    EXPECT_TRUE(items[3]->isSpace());
    ASSERT_TRUE(selector());
    EXPECT_EQ(selector()->selectedSegmentIndex(), 1);
    ASSERT_EQ(selector()->numberOfSegments(), screen_->contentCategories().size());
    EXPECT_EQ(screen_->contentCategories(), (std::vector<std::string>{"Playlists", "Songs"}));
    EXPECT_EQ(items[4]->customView(), screen_->searchBar());
    EXPECT_EQ(screen_->searchBar()->frame().size, CGSizeMake(180, 33));
    EXPECT_EQ(screen_->searchBar()->delegate(), screen_);
    EXPECT_EQ(screen_->controllerForCategory(4), nullptr);

    // Header on top, content below to the bottom of the screen.
    window_->layoutAndDisplayIfNeeded();
    const CGRect header = screen_->headerView()->frame();
    const CGRect content = screen_->contentHolder()->frame();
    EXPECT_EQ(header.origin.y, 0);
    EXPECT_EQ(header.size.width, screen_->view()->bounds().size.width);
    EXPECT_EQ(CGRectGetMinY(content), CGRectGetMaxY(header));
    EXPECT_EQ(CGRectGetMaxY(content), CGRectGetMaxY(screen_->view()->bounds()));
    EXPECT_EQ(songs()->view()->frame().size, content.size);
    EXPECT_EQ(rows(songs()->tableView()).size(), 8u);
    EXPECT_TRUE(songs()->hasAppeared());
}

TEST_F(PadPlayerScreenTest, TheHeaderDrivesThePlayerAndTitlesTheTrackAsAuthorDashName) {
    auto header = screen_->headerView();
    EXPECT_EQ(header->titleLabel()->text(), "Bach - Air");
    header->playButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_TRUE(music_.player->isPlaying());
    auto shown = header->playButton()->imageForState(UIControlStateNormal);
    EXPECT_EQ(shown ? shown->name() : "", "paused");
    header->forwardButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    auto second = music_.player->currentMediaItem();
    ASSERT_TRUE(second);
    EXPECT_EQ(header->titleLabel()->text(), second->fieldValue("author_name") + " - " + second->fieldValue("name"));
    EXPECT_NE(second->fieldValue("name"), "Air");
    EXPECT_EQ(header->elapsedTimeLabel()->text(), "00:00");

    Value::Dictionary row = source_->compositionForIndex(5)->data();
    row.set("author_name", Value(""));
    row.set("author_name_en", Value(""));
    screen_->changeTitleFrom(MediaPlayerItem::mediaPlayerItemWithDictionary(row, context()));
    EXPECT_EQ(header->titleLabel()->text(), " - Rondo");
}

TEST_F(PadPlayerScreenTest, ATapOnASongPlaysTheListFromThatRow) {
    songs()->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(3, 0));
    ASSERT_EQ(posted_, std::vector<std::string>{CompositionsPlayList});
    EXPECT_EQ(lastNote_->userInfo().get("index").intValue(), 3);
    EXPECT_EQ(lastNote_->userInfo().get("list").array().size(), 8u);
}

TEST_F(PadPlayerScreenTest, TheSearchFieldFiltersTheSongListAndIsKeptAcrossChoices) {
    auto bar = screen_->searchBar();
    ASSERT_TRUE(bar->becomeFirstResponder());
    EXPECT_TRUE(bar->showsCancelButton());
    bar->simulateTyping("Minuet");
    EXPECT_EQ(rows(songs()->tableView()), (std::vector<std::string>{"Minuet", "Minuet"}));

    // A search result's tap plays that one track.
    songs()->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(1, 0));
    ASSERT_EQ(posted_, std::vector<std::string>{CompositionSelectedMessage});

    // The playlists take no text; back on the songs the text filters the new list.
    choose(MediaPlayerViewController_iPad::kPlaylists);
    auto grid = std::dynamic_pointer_cast<UIPlaylistsGridViewController>(screen_->mainViewController());
    ASSERT_TRUE(grid);
    EXPECT_EQ(screen_->title(), "Playlists");
    EXPECT_FALSE(grid->searching());
    bar->simulateTyping("s");
    EXPECT_FALSE(grid->searching()) << "typing over the playlists changes nothing";
    grid->handleSearch("x");
    bar->simulateReplaceText("");
    EXPECT_FALSE(grid->searching()) << "an empty field ends the grid's search";
    grid->handleSearch("x");
    bar->simulateCancelButton();
    EXPECT_FALSE(grid->searching());
    EXPECT_FALSE(bar->showsCancelButton());
    EXPECT_FALSE(bar->isFirstResponder());
    EXPECT_EQ(bar->text(), "");

    bar->setText("Rondo");
    choose(MediaPlayerViewController_iPad::kSongs);
    ASSERT_TRUE(songs());
    EXPECT_EQ(rows(songs()->tableView()), std::vector<std::string>{"Rondo"});
    EXPECT_EQ(selector()->selectedSegmentIndex(), 1);

    // Cancel shows every song, and they stay all shown across a switch.
    ASSERT_TRUE(bar->becomeFirstResponder());
    bar->simulateCancelButton();
    EXPECT_EQ(rows(songs()->tableView()).size(), 8u);
    choose(MediaPlayerViewController_iPad::kPlaylists);
    choose(MediaPlayerViewController_iPad::kSongs);
    EXPECT_EQ(rows(songs()->tableView()).size(), 8u);
}

TEST_F(PadPlayerScreenTest, TheTrashListsTheDownloadedSongsAndGoesWithTheLastOne) {
    // Toccata is downloaded; the shipped Air is not deletable.
    ASSERT_TRUE(trashShown());
    screen_->toolbarItems()[0]->simulateTap();
    ASSERT_TRUE(songs()->editMode());
    EXPECT_EQ(rows(songs()->tableView()), std::vector<std::string>{"Toccata"});
    // A search in edit mode shows the downloaded tracks of its result only.
    screen_->searchBar()->setText("M");
    screen_->handleSearch("M");
    EXPECT_TRUE(rows(songs()->tableView()).empty());
    screen_->handleSearch("Toc");
    EXPECT_EQ(rows(songs()->tableView()), std::vector<std::string>{"Toccata"});

    ASSERT_TRUE(songs()->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(0, 0)));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(trashShown());
    EXPECT_EQ(screen_->toolbarItems()[0]->width(), MediaPlayerViewController_iPad::kTrashSpace);
    EXPECT_FALSE(songs()->editMode()) << "the last deletion ends edit mode";
    // Away from the songs there is no trash.
    choose(MediaPlayerViewController_iPad::kAuthors);
    EXPECT_FALSE(trashShown());
}

TEST_F(PadPlayerScreenTest, AuthorsAndGenresAreGridsWhoseTilesOpenTheirSongsOverTheToolbarsRoom) {
    choose(MediaPlayerViewController_iPad::kGenres);
    auto grid = std::dynamic_pointer_cast<UICatGridViewController>(screen_->mainViewController());
    ASSERT_TRUE(grid);
    EXPECT_EQ(screen_->title(), "Genre");
    window_->layoutAndDisplayIfNeeded();
    auto tiles = grid->gridView()->gridView();
    ASSERT_EQ(grid->numberOfCellsInGridView(tiles), 2);
    auto classical = std::dynamic_pointer_cast<UICatGridCell>(tiles->cellAtIndex(1));
    ASSERT_TRUE(classical);
    EXPECT_EQ(classical->textLabel()->text(), "Classical");
    EXPECT_EQ(classical->detailTextLabel()->text(), "\xD1\x81ompositions: 3");

    const CGFloat before = grid->view()->frame().size.height;
    // A person's touch on the tile: the screen's full-screen tap must leave it to the tile.
    tapOn(classical);
    settle(0.2);
    auto panel = std::dynamic_pointer_cast<UINavigationController>(grid->currentDetailViewController());
    ASSERT_TRUE(panel);
    auto category = std::dynamic_pointer_cast<UICompositionsViewController>(panel->topViewController());
    ASSERT_TRUE(category);
    EXPECT_EQ(category->title(), "Classical");
    EXPECT_TRUE(navigation_->isToolbarHidden());
    settle(0.6);
    window_->layoutAndDisplayIfNeeded();
    EXPECT_EQ(grid->view()->frame().size.height, before + UINavigationController::barHeight());

    // A song of the panel plays the category from it.
    category->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(1, 0));
    ASSERT_EQ(posted_, std::vector<std::string>{CompositionsPlayList});
    EXPECT_EQ(lastNote_->userInfo().get("list").array().size(), 3u);

    grid->hideDetail();
    EXPECT_FALSE(navigation_->isToolbarHidden());
    const auto oldItems = screen_->toolbarItems();
    settle(0.6);
    EXPECT_NE(screen_->toolbarItems()[2], oldItems[2]) << "fresh items once the toolbar is back";
    window_->layoutAndDisplayIfNeeded();
    EXPECT_EQ(grid->view()->frame().size.height, before);

    choose(MediaPlayerViewController_iPad::kAuthors);
    auto authors = std::dynamic_pointer_cast<UICatGridViewController>(screen_->mainViewController());
    ASSERT_TRUE(authors);
    EXPECT_EQ(authors->numberOfCellsInGridView(authors->gridView()->gridView()), 2) << "Bach and Mozart; an author without tracks is not a tile";
}

TEST_F(PadPlayerScreenTest, TheAuthorsGridIsTitledWithTheCoreTablesAuthor) {
    // No control reaches this grid: its title's key is pinned here. The bundle gives the key the
    // music's word, as the demo's does.
    std::filesystem::create_directories(bundle() + "/en.lproj");
    std::ofstream(bundle() + "/en.lproj/Core.strings") << "\"Author\" = \"Composers\";\n";
    NSBundle::resetCaches();
    choose(MediaPlayerViewController_iPad::kAuthors);
    ASSERT_TRUE(std::dynamic_pointer_cast<UICatGridViewController>(screen_->mainViewController()));
    EXPECT_EQ(screen_->title(), "Composers");
    EXPECT_EQ(screen_->mainViewController()->title(), "Composers");
}

TEST_F(PadPlayerScreenTest, AnotherGridsPanelLeavesTheToolbarAlone) {
    choose(MediaPlayerViewController_iPad::kPlaylists);
    NSNotificationCenter::defaultCenter()->postNotificationName(GridControllerDetailWillShow, UIViewController::make());
    EXPECT_FALSE(navigation_->isToolbarHidden());
}

}  // namespace
