// The pad's picture search: a screen of its own, presented by the category browser, whose
// search bar heads a table of the matches; a match tapped opens the full-screen pager on them.
#pragma once

#include "content/DataSource.h"
#include "gallery/GalleryContext.h"
#include "gallery/ImageCellSearch_TableViewDelegate.h"
#include "gallery/TableViewDelegateProtocol.h"
#include "gallery/UISearchViewController.h"

class UITableView;

class GallerySearchViewController : public UISearchViewController, public TableViewDelegateProtocol {
public:
    static std::shared_ptr<GallerySearchViewController> initWithSource(std::shared_ptr<DataSource> source,
                                                                       GalleryContext context);
    GallerySearchViewController(std::shared_ptr<DataSource> source, GalleryContext context)
        : source_(std::move(source)), context_(std::move(context)) {}

    const std::shared_ptr<ImageCellSearch_TableViewDelegate>& searchDelegate() const { return searchDelegate_; }
    void setSearchDelegate(std::shared_ptr<ImageCellSearch_TableViewDelegate> delegate) {
        searchDelegate_ = std::move(delegate);
    }
    // Made in viewDidLoad.
    const std::shared_ptr<UITableView>& tableView() const { return tableView_; }

    void viewDidLoad() override;
    // Opened by the search button, the screen is there to be typed into: its bar takes the
    // typing once it is on screen.
    void viewDidAppear(bool animated) override;

    ContentRowList searchResultForString(const std::string& text) override;
    void searchResultRecived(const ContentRowList& result) override;
    // The list of the empty text again: no match.
    void searchStopped() override;

    // The pager over the matches at the tapped one, cross-dissolving full screen, presented by
    // the search controller while it is active, else by this screen.
    void itemSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) override;

private:
    std::shared_ptr<DataSource> source_;
    GalleryContext context_;
    std::shared_ptr<UITableView> tableView_;
    std::shared_ptr<ImageCellSearch_TableViewDelegate> searchDelegate_;
};
