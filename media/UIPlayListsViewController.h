// The phone's playlists: a row per playlist (name, number of tracks, play button), a new one
// made from a name and a pick of tracks, deletion, and each one's tracks in the editor.
#pragma once

#include "media/MusicContext.h"
#include "media/PlayListManager.h"
#include "media/UIPlayListEditViewController.h"
#include "platform/ui/UITableViewController.h"

class UIPlayListsViewController : public UITableViewController,
                                  public UIAllCompositionsViewControllerDelegate,
                                  public UIPlayListEditViewControllerDelegate {
public:
    static std::shared_ptr<UIPlayListsViewController> initWithStyle(UITableViewStyle style,
                                                                    std::shared_ptr<PlayListManager> manager,
                                                                    MusicContext context);
    UIPlayListsViewController(UITableViewStyle style, std::shared_ptr<PlayListManager> manager, MusicContext context);

    const std::vector<std::shared_ptr<PlayList>>& playlists() const { return playlists_; }
    const std::shared_ptr<PlayList>& editingPlayList() const { return editingPlayList_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    // Asks for the new playlist's name.
    void addPlayList();
    void createPlaylistWithText(const std::string& name);
    void updatePlayLists();
    void allCompositionsSelectedCompositions(const std::shared_ptr<UIAllCompositionsViewController>& picker,
                                             const MediaItems& selected) override;
    void playListChanged(const std::shared_ptr<PlayList>& list) override;

    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return 46.0; }
    bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return true; }
    bool respondsToCommitEditingStyle() const override { return true; }
    void commitEditingStyle(const std::shared_ptr<UITableView>& tableView, UITableViewCellEditingStyle style,
                            const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

private:
    std::shared_ptr<PlayListManager> manager_;
    MusicContext context_;
    std::vector<std::shared_ptr<PlayList>> playlists_;
    std::shared_ptr<PlayList> editingPlayList_;
};
