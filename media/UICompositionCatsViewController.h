// The phone's music catalogue: every song, or the authors with their song counts ("Songs" /
// "Author" in the toolbar), with the search, the download badge, the trash (edit mode over the
// downloaded songs) and the way to the playlists.
#pragma once

#include "media/CompositionsSource.h"
#include "media/OECompositionsTableViewControllerWithSearch.h"

class SQLiteEngine;
class UIBadgeBarButtonItem;
class UIBarButtonItem;

class UICompositionCatsViewController : public OECompositionsTableViewControllerWithSearch {
public:
    static std::shared_ptr<UICompositionCatsViewController> initWithDb(std::shared_ptr<SQLiteEngine> sql,
                                                                       MusicContext context);
    UICompositionCatsViewController(std::shared_ptr<SQLiteEngine> sql, MusicContext context);

    const std::shared_ptr<SQLiteEngine>& sql() const { return sql_; }
    long selectedCatIndex() const { return selectedCatIndex_; }
    std::shared_ptr<CompositionsSource> source() const override { return compositionsSource_; }
    const std::shared_ptr<CompositionsSource>& compositionsSource() const { return compositionsSource_; }
    // 0 "author" (songs), 1 "author", 2 "genres", 3 "countries"; a source without a table else.
    std::shared_ptr<CompositionsSource> makeSourceForIndex(long index);
    void updateCompositionsSource();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void addNotificationsObservers() override;
    void reloadData() override;
    MediaItems sourceItems() override;
    MediaItems editableItems() override { return downloadedList_; }
    void updateEditableList() override;
    void updateDownloadedList();

    std::shared_ptr<UIBadgeBarButtonItem> downloadButton();
    long downloaderItemsCount() const;
    std::vector<std::shared_ptr<UIBarButtonItem>> makeToolbarItems();
    void updateToolbar(bool animated);
    void updateControls();
    void catsSelectorChange(long index);
    void showPlayLists();
    // The queue's downloads, over the catalogue.
    void showDownloadingFiles();
    void trashClick();
    void updateDownloadStatus();
    void updateDownloadButtonNumber();

    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    void commitEditingStyle(const std::shared_ptr<UITableView>& tableView, UITableViewCellEditingStyle style,
                            const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

private:
    // Category rows are shown outside search on any grouping but 0.
    bool showsCategories() const { return selectedCatIndex_ != 0 && !isSearchEnabled(); }
    std::shared_ptr<UITableViewCell> catCellInTableView(const std::shared_ptr<UITableView>& tableView,
                                                        const NSIndexPath& indexPath, const CompositionCats& cats);

    std::shared_ptr<SQLiteEngine> sql_;
    long selectedCatIndex_ = 0;
    std::shared_ptr<CompositionsSource> compositionsSource_;
    MediaItems downloadedList_;
    std::shared_ptr<UIBadgeBarButtonItem> downloadButton_;
    std::shared_ptr<UIBarButtonItem> playlistsButton_;
};
