// The pad's song list: every track of the catalogue, searched from the player's search field,
// with an edit mode over the downloaded tracks whose deletions the player hears of.
#pragma once

#include "media/OECompositionsTableViewController.h"
#include "media/SearchProtocol.h"

#include <functional>

class UICompositionsListViewController : public OECompositionsTableViewController, public SearchProtocol {
public:
    static std::shared_ptr<UICompositionsListViewController> initWithDataSource(std::shared_ptr<CompositionsSource> source,
                                                                                MusicContext context);
    using OECompositionsTableViewController::OECompositionsTableViewController;

    const MediaItems& downloadedItems() const { return downloadedItems_; }
    // Run after each deletion.
    void setDeleteItemBlock(std::function<void()> block) { deleteItemBlock_ = std::move(block); }

    MediaItems editableItems() override { return downloadedItems_; }
    void updateEditableList() override { updateDownloadedList(); }
    // The downloaded tracks of the rows shown (the search result while searching).
    void updateDownloadedList();
    void commitEditingStyle(const std::shared_ptr<UITableView>& tableView, UITableViewCellEditingStyle style,
                            const NSIndexPath& indexPath) override;

    // Runs on the calling thread over the catalogue's search.
    void handleSearch(const std::string& text) override;
    void cancelSearch() override;

private:
    MediaItems downloadedItems_;
    std::function<void()> deleteItemBlock_;
};
