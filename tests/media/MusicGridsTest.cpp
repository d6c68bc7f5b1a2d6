// The pad's music grids: the playlists grid (a tile per playlist and a creating tile, the detail
// panel with the picker or the editor, long-press deletion, search by name), the categories
// grid with its search, and the tile's delete button.
#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "media/OECompositionsTableViewController.h"
#include "media/PlayListManager.h"
#include "media/UIAllCompositionsViewController.h"
#include "media/UICatGridCell.h"
#include "media/UICatGridViewController.h"
#include "media/UICompositionsViewController.h"
#include "media/UIPlayListEditViewController.h"
#include "media/UIPlaylistsGridViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIWindow.h"
#include "simulator/SimScreen.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/media/PadMusicFixture.h"
#include "uikit/OEGridView.h"
#include "uikit/UICloseButton.h"
#include "uikit/UIGridViewWithPageControll.h"

namespace {

std::string imageName(const std::shared_ptr<UICatGridCell>& cell) {
    auto image = cell ? cell->imageView()->image() : nullptr;
    return image ? image->name() : "(none)";
}

class PlaylistsGridTest : public PadMusicFixture {
protected:
    void SetUp() override {
        PadMusicFixture::SetUp();
        manager_ = PlayListManager::initWithSource(source_);
    }
    void TearDown() override {
        grid_.reset();
        navigation_.reset();
        manager_.reset();
        PadMusicFixture::TearDown();
    }
    // Saved playlists named as given, each with the tracks of the given row indexes.
    void save(const std::vector<std::pair<std::string, std::vector<int>>>& lists) {
        for (const auto& [name, indexes] : lists) {
            auto list = PlayListManager::createPlayList(name);
            for (int index : indexes) list->items.push_back(source_->compositionForIndex(index));
            ASSERT_TRUE(manager_->savePlaylist(*list));
            // Distinct file names: the clock's seconds are part of them.
            advance(1.0);
        }
    }
    void open() {
        grid_ = UIPlaylistsGridViewController::initWithManager(manager_, music_);
        navigation_ = show(grid_);
        window_->layoutAndDisplayIfNeeded();
    }
    std::shared_ptr<UICatGridCell> tile(unsigned long index) {
        window_->layoutAndDisplayIfNeeded();
        return std::dynamic_pointer_cast<UICatGridCell>(grid_->gridView()->gridView()->cellAtIndex(index));
    }
    long tiles() { return grid_->numberOfCellsInGridView(grid_->gridView()->gridView()); }
    template <class Screen>
    std::shared_ptr<Screen> panel() {
        auto wrapped = std::dynamic_pointer_cast<UINavigationController>(grid_->currentDetailViewController());
        return wrapped ? std::dynamic_pointer_cast<Screen>(wrapped->topViewController()) : nullptr;
    }
    // The grid open on one saved "Evening" playlist of three tracks, its editor shown in the panel.
    std::shared_ptr<UIPlayListEditViewController> openEveningsEditor() {
        save({{"Evening", {1, 2, 5}}});
        open();
        tapOn(tile(0));
        settle(1.0);
        return panel<UIPlayListEditViewController>();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& list : manager_->playLists()) result.push_back(list->name);
        return result;
    }

    std::shared_ptr<PlayListManager> manager_;
    std::shared_ptr<UIPlaylistsGridViewController> grid_;
    std::shared_ptr<UINavigationController> navigation_;
};

TEST_F(PlaylistsGridTest, ATilePerPlaylistAndALastOneThatCreates) {
    save({{"Evening", {1, 2}}, {"Morning", {}}});
    open();
    ASSERT_EQ(tiles(), 3);
    auto evening = tile(0);
    ASSERT_TRUE(evening);
    EXPECT_EQ(evening->textLabel()->text(), "Evening");
    EXPECT_EQ(evening->detailTextLabel()->text(), "\xD1\x81ompositions: 2");
    EXPECT_EQ(imageName(evening), "note");
    EXPECT_EQ(evening->delegate(), grid_);
    auto creating = tile(2);
    ASSERT_TRUE(creating);
    EXPECT_EQ(imageName(creating), "note_add");
    EXPECT_EQ(creating->textLabel()->text(), "");
    EXPECT_EQ(creating->delegate(), nullptr);
}

TEST_F(PlaylistsGridTest, TheCreatingTileAsksANameThenPicksTracksInThePanelAndDoneSavesThem) {
    open();
    ASSERT_EQ(tiles(), 1);
    tapOn(tile(0));
    settle(0.5);
    auto alert = std::dynamic_pointer_cast<UIAlertController>(navigation_->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), "New Playlist");
    EXPECT_FALSE(grid_->currentDetailViewController()) << "no panel before the name";
    alert->textFields()[0]->setText("Night");
    ASSERT_TRUE(alert->tapActionWithTitle("Ok"));
    settle(1.0);
    auto picker = panel<UIAllCompositionsViewController>();
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->title(), "Night");
    ASSERT_TRUE(grid_->editingPlayList());
    EXPECT_TRUE(manager_->playLists().empty()) << "written only on Done";
    picker->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(6, 0));
    picker->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(2, 0));
    EXPECT_TRUE(posted_.empty()) << "a pick never plays";
    const auto catalogue = picker->sourceItems();
    picker->doneClick();
    settle(1.0);
    EXPECT_FALSE(grid_->editingPlayList());
    EXPECT_FALSE(grid_->selectedCell()) << "the panel closed";
    ASSERT_EQ(grid_->playlists().size(), 1u);
    const auto& items = grid_->playlists()[0]->items;
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->key(), catalogue[2]->key()) << "catalogue order";
    EXPECT_EQ(items[1]->key(), catalogue[6]->key());
    ASSERT_EQ(tiles(), 2);
    EXPECT_EQ(tile(0)->textLabel()->text(), "Night");
}

TEST_F(PlaylistsGridTest, ClosingThePickersPanelWithoutDoneMakesNoPlaylist) {
    open();
    grid_->createPlaylistWithText("");
    settle(1.0);
    ASSERT_TRUE(panel<UIAllCompositionsViewController>()) << "an empty name is accepted";
    grid_->hideDetail();
    settle(1.0);
    EXPECT_FALSE(grid_->editingPlayList());
    EXPECT_TRUE(manager_->playLists().empty());
    EXPECT_EQ(tiles(), 1);
    // The creating tile asks again, the name typed at once; asked, it is put away.
    tapOn(tile(0));
    settle(0.5);
    auto asked = std::dynamic_pointer_cast<UIAlertController>(navigation_->presentedViewController());
    ASSERT_TRUE(asked);
    EXPECT_TRUE(asked->textFields().front()->isFirstResponder());
    EXPECT_TRUE(asked->tapActionAtIndex(1));
    settle(0.5);
}

TEST_F(PlaylistsGridTest, APlaylistsTileOpensItsEditorWhoseChangesAreSavedAndWhoseTapsPlay) {
    auto editor = openEveningsEditor();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->title(), "Evening");
    EXPECT_TRUE(editor->addButton()) << "the pad's editor offers Add at once";
    editor->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(2, 0));
    ASSERT_EQ(posted_, std::vector<std::string>{CompositionsPlayList});
    EXPECT_EQ(lastNote_->userInfo().get("index").intValue(), 2);
    EXPECT_EQ(lastNote_->userInfo().get("list").array().size(), 3u);
    ASSERT_TRUE(editor->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_EQ(manager_->playLists().size(), 1u);
    EXPECT_EQ(manager_->playLists()[0]->items.size(), 2u) << "saved at once";
    grid_->hideDetail();
    settle(1.0);
    EXPECT_EQ(tile(0)->detailTextLabel()->text(), "\xD1\x81ompositions: 2") << "the grid reloads as the panel closes";
}

// An edit in the panel that cannot be written is told; the file keeps the playlist as it was.
TEST_F(PlaylistsGridTest, AnEditThatCannotBeSavedSaysItWasNotKept) {
    auto editor = openEveningsEditor();
    ASSERT_TRUE(editor);
    FaultInjection faults;
    faults->readOnly(documents() + "/*");
    ASSERT_TRUE(editor->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(0, 0)));
    const auto alerts = UIAlertView::visibleAlertViews();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "Playlist not saved");
    EXPECT_EQ(alerts[0]->message(), "The change could not be kept.");
    alerts[0]->dismissWithClickedButtonIndex(0, false);
    ASSERT_EQ(manager_->playLists().size(), 1u);
    EXPECT_EQ(manager_->playLists()[0]->items.size(), 3u);
    EXPECT_GT(faults->injected(), 0);
}

TEST_F(PlaylistsGridTest, ALongPressShowsOneDeleteButtonAtATimeWhichDeletesThePlaylist) {
    save({{"Evening", {1}}, {"Morning", {2}}});
    open();
    auto creating = tile(2);
    grid_->catGridCellLongPressed(creating);
    EXPECT_FALSE(creating->editing()) << "the creating tile has no delete button";

    auto evening = tile(0);
    evening->longPress();
    ASSERT_TRUE(evening->editing());
    auto button = evening->deleteButton();
    ASSERT_TRUE(button);
    EXPECT_EQ(button->superview().get(), evening.get());
    const CGPoint corner = evening->imageView()->frame().origin;
    EXPECT_EQ(button->frame(), CGRectMake(corner.x - 8, corner.y - 8, 30, 30));
    EXPECT_EQ(grid_->lastEditingCell(), evening);
    // A person reads each tile as a button named by its title, the creating one by what it does,
    // the round one on a tile as its close button, never by their pictures.
    const std::string screen = SimScreen::capture().text();
    EXPECT_NE(screen.find("[1] button \"Evening\"\n  [2] button \"close\"\n  \"Evening\"\n"), std::string::npos) << screen;
    EXPECT_NE(screen.find("] button \"new playlist\"\n"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("image note"), std::string::npos) << screen;

    // Another tile takes the button; a second press on it hides it.
    auto morning = tile(1);
    morning->longPress();
    EXPECT_FALSE(evening->editing());
    EXPECT_FALSE(evening->deleteButton());
    EXPECT_TRUE(morning->editing());
    morning->longPress();
    EXPECT_FALSE(morning->editing());
    EXPECT_FALSE(grid_->lastEditingCell());

    // Opening a tile takes the button away.
    morning->longPress();
    tapOn(evening);
    settle(1.0);
    EXPECT_FALSE(morning->editing());
    grid_->hideDetail();
    settle(1.0);

    tile(1)->longPress();
    tile(1)->deleteButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(names(), std::vector<std::string>{"Evening"});
    ASSERT_EQ(tiles(), 2);
    EXPECT_EQ(tile(0)->textLabel()->text(), "Evening");
    EXPECT_FALSE(tile(0)->editing());
}

TEST_F(PlaylistsGridTest, WhileSearchingTheTilesAreTheMatchesAndTheSecondActsOnTheSecondMatch) {
    save({{"Bach A", {1}}, {"Mozart", {4}}, {"Bach B", {2, 8}}, {"bach c", {3}}});
    open();
    grid_->handleSearch("Bach");
    EXPECT_TRUE(grid_->searching());
    ASSERT_EQ(tiles(), 2) << "a case-sensitive match; no creating tile";
    EXPECT_EQ(tile(1)->textLabel()->text(), "Bach B");
    EXPECT_EQ(tile(1)->delegate(), grid_);

    tapOn(tile(1));
    settle(1.0);
    auto editor = panel<UIPlayListEditViewController>();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->title(), "Bach B");
    grid_->hideDetail();
    settle(1.0);

    tile(1)->longPress();
    tile(1)->editClick();
    EXPECT_EQ(names(), (std::vector<std::string>{"Bach A", "Mozart", "bach c"}));
    EXPECT_TRUE(grid_->searching());
    ASSERT_EQ(tiles(), 1) << "the search runs again";
    EXPECT_EQ(tile(0)->textLabel()->text(), "Bach A");

    grid_->cancelSearch();
    EXPECT_FALSE(grid_->searching());
    EXPECT_EQ(grid_->lastSearchStr(), "");
    EXPECT_EQ(tiles(), 4);
}

TEST_F(PlaylistsGridTest, ATilesDeleteButtonWithoutADelegateDoesNothing) {
    auto cell = UICatGridCell::loadFromCompositionsViews();
    cell->setEditing(true);
    auto button = cell->deleteButton();
    ASSERT_TRUE(button);
    cell->setEditing(true);
    EXPECT_EQ(cell->deleteButton(), button) << "the same state changes nothing";
    button->sendActionsForControlEvents(UIControlEventTouchUpInside);
    cell->longPress();
    cell->setEditing(false);
    EXPECT_FALSE(cell->deleteButton());
    EXPECT_FALSE(button->superview());
}

class CategoriesGridTest : public PadMusicFixture {
protected:
    void TearDown() override {
        grid_.reset();
        PadMusicFixture::TearDown();
    }
    void open(const std::string& table) {
        grid_ = UICatGridViewController::initWithSource(DB_CompositionsSource::initWithSQL(openMedia(), table, context()),
                                                        music_);
        show(grid_);
        window_->layoutAndDisplayIfNeeded();
    }
    std::shared_ptr<UICatGridCell> tile(unsigned long index) {
        window_->layoutAndDisplayIfNeeded();
        return std::dynamic_pointer_cast<UICatGridCell>(grid_->gridView()->gridView()->cellAtIndex(index));
    }
    long tiles() { return grid_->numberOfCellsInGridView(grid_->gridView()->gridView()); }
    std::shared_ptr<UICatGridViewController> grid_;
};

TEST_F(CategoriesGridTest, ATilePerCategoryWithItsCountAndPictureOpensItsSongs) {
    open("author");
    ASSERT_EQ(tiles(), 2);
    auto bach = tile(0);
    ASSERT_TRUE(bach);
    EXPECT_EQ(bach->textLabel()->text(), "Bach");
    EXPECT_EQ(accessibilityLabel(*bach), "Bach") << "a tile is named by its title";
    EXPECT_EQ(bach->detailTextLabel()->text(), "\xD1\x81ompositions: 4");
    EXPECT_TRUE(bach->imageView()->image()) << "the author's picture";
    EXPECT_EQ(bach->delegate(), nullptr);
    tapOn(tile(1));
    settle(1.0);
    auto wrapped = std::dynamic_pointer_cast<UINavigationController>(grid_->currentDetailViewController());
    ASSERT_TRUE(wrapped);
    auto songs = std::dynamic_pointer_cast<UICompositionsViewController>(wrapped->topViewController());
    ASSERT_TRUE(songs);
    EXPECT_EQ(songs->title(), "Mozart");
    EXPECT_EQ(songs->tableView()->numberOfRowsInSection(0), 4);
}

TEST_F(CategoriesGridTest, ASearchShowsTheMatchingCategoriesAndTheSecondTileOpensTheSecondMatch) {
    open("genres");
    grid_->handleSearch("a");
    EXPECT_TRUE(grid_->searching());
    ASSERT_EQ(tiles(), 2) << "Baroque and Classical";
    grid_->handleSearch("Class");
    ASSERT_EQ(tiles(), 1);
    EXPECT_EQ(tile(0)->textLabel()->text(), "Classical");
    grid_->handleSearch("a");
    ASSERT_EQ(grid_->lastSearch().size(), 2u);
    const std::string second = grid_->lastSearch()[1]->name();
    tapOn(tile(1));
    settle(1.0);
    auto wrapped = std::dynamic_pointer_cast<UINavigationController>(grid_->currentDetailViewController());
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->topViewController()->title(), second);
    grid_->hideDetail();
    settle(1.0);
    grid_->cancelSearch();
    EXPECT_FALSE(grid_->searching());
    EXPECT_TRUE(grid_->lastSearch().empty());
    EXPECT_EQ(tiles(), 2);
}

}  // namespace
