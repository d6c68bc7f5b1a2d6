// The list of tracks every music screen builds on: rows of a catalogue's tracks, a tap turning
// into a request to play ("CompositionsPlayList" with the list and the row, or, from a search
// result, "CompositionSelectedMessage" with the one track), and deletion of downloaded copies.
// Subclasses choose the list, the rows of edit mode and what a tap does.
#pragma once

#include "media/MediaSource.h"
#include "media/MusicContext.h"
#include "platform/ui/UITableViewController.h"

#include <memory>
#include <string>

class CompositionsSource;
class NSNotification;

inline const std::string CompositionsPlayList = "CompositionsPlayList";
inline const std::string CompositionSelectedMessage = "CompositionSelectedMessage";
inline const std::string CompositionPlayPlaylistMessage = "CompositionPlayPlaylistMessage";

class OECompositionsTableViewController : public UITableViewController {
public:
    static constexpr double kRowHeight = 46.0;

    // Grouped, over the catalogue.
    static std::shared_ptr<OECompositionsTableViewController> initWithDataSource(std::shared_ptr<CompositionsSource> source,
                                                                                 MusicContext context);
    OECompositionsTableViewController(UITableViewStyle style, std::shared_ptr<CompositionsSource> source,
                                      MusicContext context);
    ~OECompositionsTableViewController() override;

    // The catalogue the rows come from (a screen that switches groupings answers its current one).
    virtual std::shared_ptr<CompositionsSource> source() const { return source_; }
    const MusicContext& context() const { return context_; }
    // The full list; the base shows every track of the catalogue.
    virtual MediaItems sourceItems();
    // The search result while searching, else the full list.
    MediaItems compositionsList();
    virtual MediaItems editableItems() { return editableItems_; }
    const MediaItems& searchResult() const { return searchResult_; }
    void setSearchResult(MediaItems items) { searchResult_ = std::move(items); }
    virtual bool isSearchEnabled() const { return searchEnabled_; }
    void setSearchEnabled(bool enabled) { searchEnabled_ = enabled; }
    bool editMode() const { return editMode_; }
    void setEditMode(bool editMode) { editMode_ = editMode; }
    virtual bool needsToShowAdCell() const { return false; }

    void viewDidLoad() override;
    virtual void addNotificationsObservers();
    void removeNotificationsObservers();
    // A replacement of the media data (not a picture favourite): the player stops, the catalogue
    // is read again, the player takes every track.
    void dataUpdatedNotification(const NSNotification& notification);
    // Leaves edit mode and reloads.
    virtual void reloadData();
    void toggleEditingMode();
    // Fills the rows of edit mode; every subclass that enters edit mode provides it.
    virtual void updateEditableList();
    void updateSearchResultsWithItems(MediaItems items);
    MediaItems compositionsListForMode(bool editMode);
    void postCompositionSelectedNotification(const std::shared_ptr<MediaPlayerItem>& item);
    void postCompositionsPlaylistNotification(const MediaItems& list, long index);
    std::shared_ptr<UITableViewCell> compositionCellInTableView(const std::shared_ptr<UITableView>& tableView,
                                                                const NSIndexPath& indexPath, const MediaItems& items);
    virtual void configureCellWithComposition(const std::shared_ptr<UITableViewCell>& cell,
                                              const std::shared_ptr<MediaPlayerItem>& item);

    long numberOfSectionsInTableView(const std::shared_ptr<UITableView>& tableView) override;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override {
        return kRowHeight;
    }
    bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    bool respondsToCommitEditingStyle() const override { return true; }
    void commitEditingStyle(const std::shared_ptr<UITableView>& tableView, UITableViewCellEditingStyle style,
                            const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

protected:
    MediaItems editableItems_;

private:
    std::shared_ptr<CompositionsSource> source_;
    MusicContext context_;
    MediaItems searchResult_;
    bool searchEnabled_ = false;
    bool editMode_ = false;
};
