// One playlist's tracks: remove, reorder, add (through the picker); a tap plays the playlist
// from that track. Every change goes to the delegate, which saves the playlist.
#pragma once

#include "media/MusicContext.h"
#include "media/PlayList.h"
#include "media/UIAllCompositionsViewController.h"
#include "platform/ui/UITableViewController.h"

class CompositionsSource;

class UIPlayListEditViewControllerDelegate {
public:
    virtual ~UIPlayListEditViewControllerDelegate() = default;
    virtual void playListChanged(const std::shared_ptr<PlayList>& list) = 0;
};

class UIPlayListEditViewController : public UITableViewController, public UIAllCompositionsViewControllerDelegate {
public:
    static std::shared_ptr<UIPlayListEditViewController> initWithStyle(UITableViewStyle style,
                                                                       std::shared_ptr<CompositionsSource> source,
                                                                       std::shared_ptr<PlayList> playlist,
                                                                       MusicContext context);
    UIPlayListEditViewController(UITableViewStyle style, std::shared_ptr<CompositionsSource> source,
                                 std::shared_ptr<PlayList> playlist, MusicContext context);

    const std::shared_ptr<PlayList>& playlist() const { return playlist_; }
    void setDelegate(const std::shared_ptr<UIPlayListEditViewControllerDelegate>& delegate) { delegate_ = delegate; }
    // The "Add" item while it stands on the left.
    std::shared_ptr<UIBarButtonItem> addButton() const { return addButton_; }

    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void setEditing(bool editing, bool animated) override;
    void addClick();
    void allCompositionsSelectedCompositions(const std::shared_ptr<UIAllCompositionsViewController>& picker,
                                             const MediaItems& selected) override;

    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return 46.0; }
    bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return true; }
    bool canMoveRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return true; }
    bool respondsToCommitEditingStyle() const override { return true; }
    bool respondsToMoveRow() const override { return true; }
    void commitEditingStyle(const std::shared_ptr<UITableView>& tableView, UITableViewCellEditingStyle style,
                            const NSIndexPath& indexPath) override;
    void moveRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& from,
                            const NSIndexPath& to) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

private:
    void changed();
    std::shared_ptr<CompositionsSource> source_;
    std::shared_ptr<PlayList> playlist_;
    MusicContext context_;
    std::weak_ptr<UIPlayListEditViewControllerDelegate> delegate_;
    std::shared_ptr<UIBarButtonItem> addButton_;
};
