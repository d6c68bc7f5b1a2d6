// The pad's playlists: a tile per playlist (name, number of tracks) and a last tile that makes a
// new one from a name and a pick of tracks; a tile opens the playlist's editor as the grid's
// detail panel; a long press shows a tile's delete button. Searched by name from the player.
#pragma once

#include "gallery/UIGridViewController.h"
#include "media/MusicContext.h"
#include "media/PlayListManager.h"
#include "media/SearchProtocol.h"
#include "media/UICatGridCell.h"
#include "media/UIPlayListEditViewController.h"

#include <vector>

class UIPlaylistsGridViewController : public UIGridViewController,
                                      public UIAllCompositionsViewControllerDelegate,
                                      public UIPlayListEditViewControllerDelegate,
                                      public UICatGridCellDelegate,
                                      public SearchProtocol {
public:
    using PlayLists = std::vector<std::shared_ptr<PlayList>>;

    static std::shared_ptr<UIPlaylistsGridViewController> initWithManager(std::shared_ptr<PlayListManager> manager,
                                                                          MusicContext context);
    UIPlaylistsGridViewController(std::shared_ptr<PlayListManager> manager, MusicContext context);

    const std::shared_ptr<PlayListManager>& manager() const { return manager_; }
    const PlayLists& playlists() const { return playlists_; }
    const std::shared_ptr<PlayList>& editingPlayList() const { return editingPlayList_; }
    bool searching() const { return searching_; }
    const PlayLists& lastSearch() const { return lastSearch_; }
    const std::string& lastSearchStr() const { return lastSearchStr_; }
    std::shared_ptr<UICatGridCell> lastEditingCell() const { return lastEditingCell_; }

    void viewDidLoad() override;
    long numberOfCellsInGridView(const std::shared_ptr<OEGridView>& gridView) override;
    std::shared_ptr<OEGridViewCell> gridViewCellAtIndex(const std::shared_ptr<OEGridView>& gridView,
                                                        unsigned long index) override;
    void performShow(unsigned long index) override;
    std::shared_ptr<UIViewController> itemDetailsViewController(unsigned long index) override;
    void hideDetail() override;
    void detailDidDissappear() override;

    // Asks for the new playlist's name; "Ok" opens the picker for its tracks.
    void addPlayList();
    void createPlaylistWithText(const std::string& name);
    void allCompositionsSelectedCompositions(const std::shared_ptr<UIAllCompositionsViewController>& picker,
                                             const MediaItems& selected) override;
    void playListChanged(const std::shared_ptr<PlayList>& list) override;
    void performPlayListDelete(const std::shared_ptr<PlayList>& list);

    void handleSearch(const std::string& text) override;
    void cancelSearch() override;

    void catGridCellLongPressed(const std::shared_ptr<UICatGridCell>& cell) override;
    void catGridCellPerformDelete(const std::shared_ptr<UICatGridCell>& cell) override;

private:
    // The playlist tile `index` stands for (the matches while searching); none for the creating tile.
    std::shared_ptr<PlayList> playListAt(long index) const;
    bool isCreatingIndex(long index) const { return !searching_ && index == static_cast<long>(playlists_.size()); }
    void updatePlayLists() { playlists_ = manager_->playLists(); }
    void reloadGrid();

    std::shared_ptr<PlayListManager> manager_;
    MusicContext context_;
    PlayLists playlists_;
    std::shared_ptr<PlayList> editingPlayList_;
    bool searching_ = false;
    PlayLists lastSearch_;
    std::string lastSearchStr_;
    std::shared_ptr<UICatGridCell> lastEditingCell_;
};
