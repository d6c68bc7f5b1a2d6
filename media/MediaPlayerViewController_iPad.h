// The pad's player screen: a header with the player's controls, progress and title across the
// top, and below it a content area with one of the music screens (the playlists grid, the song
// list, or the grid of authors or of genres), chosen in the toolbar. The toolbar also holds a
// search field for the song list and, over the song list, a trash button for the downloaded songs.
#pragma once

#include "media/CompositionsSource.h"
#include "media/MediaPlayerViewController.h"
#include "platform/ui/UISearchBar.h"

#include <memory>
#include <string>
#include <vector>

class MediaPlayerControlsPadView;
class SQLiteEngine;
class UIBarButtonItem;
class UICatGridViewController;

class MediaPlayerViewController_iPad : public MediaPlayerViewController, public UISearchBarDelegate {
public:
    static constexpr CGFloat kSearchBarWidth = 180;
    static constexpr CGFloat kSearchBarHeight = 33;
    // The trash button's place while it is not offered.
    static constexpr CGFloat kTrashSpace = 33;
    static constexpr double kToolbarAnimation = 0.3;
    static constexpr double kToolbarItemsDelay = 0.1;

    // The content choices.
    enum : long { kPlaylists = 0, kSongs = 1, kAuthors = 2, kGenres = 3 };

    static std::shared_ptr<MediaPlayerViewController_iPad> initWithMediaPlayerController(
        std::shared_ptr<MediaPlayerController> controller, std::shared_ptr<SQLiteEngine> sql, MusicContext context);
    MediaPlayerViewController_iPad(std::shared_ptr<MediaPlayerController> controller, std::shared_ptr<SQLiteEngine> sql,
                                   MusicContext context);

    const std::shared_ptr<SQLiteEngine>& sql() const { return sql_; }
    // The titles the selector offers, in the order of the choices.
    const std::vector<std::string>& contentCategories() const { return contentCategories_; }
    long selectedCat() const { return selectedCat_; }
    const std::shared_ptr<UIViewController>& mainViewController() const { return mainViewController_; }
    const std::shared_ptr<MediaPlayerControlsPadView>& headerView() const { return headerView_; }
    const std::shared_ptr<UIView>& contentHolder() const { return contentHolder_; }
    // Made on first use.
    std::shared_ptr<UISearchBar> searchBar();

    // A new catalogue over the screen's connection and the grouping table.
    std::shared_ptr<CompositionsSource> compositionsSourceWithTableName(const std::string& table);
    std::shared_ptr<CompositionsSource> authorsCompositionsSource() { return compositionsSourceWithTableName("author"); }
    std::shared_ptr<UICatGridViewController> gridControllerForTable(const std::string& table);
    // A new screen for the choice; none above the last.
    std::shared_ptr<UIViewController> controllerForCategory(long index);
    std::shared_ptr<UIViewController> makePlaylistsVC();
    std::shared_ptr<UIViewController> makeSongsVC();
    std::shared_ptr<UIViewController> makeAuthorsVC();
    std::shared_ptr<UIViewController> makeGenresVC();

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewWillTransitionToSize(CGSize size,
                                  const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) override;
    // "author - name" in the header.
    void changeTitleFrom(const std::shared_ptr<MediaPlayerItem>& item) override;

    void showMainController();
    void catsSelectorChange(long index);
    std::vector<std::shared_ptr<UIBarButtonItem>> constructTollbar();
    // The downloaded tracks of the catalogue.
    MediaItems downloadedItems();
    void trashClick();
    // The grid's detail panel takes the toolbar's room while it is open.
    void detailWillShow(const NSNotification& notification);
    void detailWillHide(const NSNotification& notification);

    // An empty text ends the search; other text goes to the song list only.
    void handleSearch(const std::string& text);
    void cancelSearch();
    void searchBarTextDidBeginEditing(const std::shared_ptr<UISearchBar>& searchBar) override;
    void textDidChange(const std::shared_ptr<UISearchBar>& searchBar, const std::string& text) override;
    void searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>& searchBar) override;

private:
    void setupContentViewHolder();
    void setupHeaderView();
    void setupConstraints();
    // Whether the notification is about the detail panel of the grid shown here.
    bool isOwnDetail(const NSNotification& notification) const;
    // Lays the content out again over the toolbar's animation.
    void animateContentHeight();

    std::shared_ptr<SQLiteEngine> sql_;
    std::vector<std::string> contentCategories_;
    long selectedCat_ = kSongs;
    std::shared_ptr<UIViewController> mainViewController_;
    std::shared_ptr<MediaPlayerControlsPadView> headerView_;
    std::shared_ptr<UIView> contentHolder_;
    std::shared_ptr<UISearchBar> searchBar_;
};
