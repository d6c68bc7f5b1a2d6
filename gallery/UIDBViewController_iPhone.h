// The phone category browser: lives in a navigation stack; never marks a row. Its navigation
// bar carries the picture search, whose matches show in an overlay table; the searches typed
// run on the browser's serial search queue.
#pragma once

#include "gallery/ImageCellSearch_TableViewDelegate.h"
#include "gallery/UIDBSearchResultsViewController.h"
#include "gallery/UIDBViewController.h"
#include "platform/dispatch/NSOperationQueue.h"
#include "platform/ui/UISearchController.h"

class UIDBViewController_iPhone : public UIDBViewController,
                                  public UISearchResultsUpdating,
                                  public UISearchControllerDelegate {
public:
    static std::shared_ptr<UIDBViewController_iPhone> initWithSource(const std::shared_ptr<DataSource>& source,
                                                                     const GalleryContext& context);
    explicit UIDBViewController_iPhone(GalleryContext context) : UIDBViewController(std::move(context)) {}

    void viewDidLoad() override;

    // While the search is active a tapped match opens the pager on the matches, pushed; else
    // the thumbnail screen of the tapped subcategory (filtering allowed in the first grouping
    // only). Then the row is deselected, animated.
    void itemSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) override;
    bool isSelected(const NSIndexPath&, const std::shared_ptr<DataSource>&) override { return false; }
    // Pushes the favourites screen, animated.
    void showFavorites() override;

    // --- The search ---------------------------------------------------------------------------
    const std::shared_ptr<ImageCellSearch_TableViewDelegate>& searchDelegate() const { return searchDelegate_; }
    void setSearchDelegate(std::shared_ptr<ImageCellSearch_TableViewDelegate> delegate) {
        searchDelegate_ = std::move(delegate);
    }
    const std::shared_ptr<UIDBSearchResultsViewController>& searchResultsController() const {
        return searchResultsController_;
    }
    void setSearchResultsController(std::shared_ptr<UIDBSearchResultsViewController> controller) {
        searchResultsController_ = std::move(controller);
    }
    const std::shared_ptr<NSOperationQueue>& searchQueue() const { return searchQueue_; }

    void initSearching();
    std::shared_ptr<UISearchController> makeSearchControllerWithResultsVC(
        const std::shared_ptr<UIViewController>& resultsController);
    void willPresentSearchController(const std::shared_ptr<UISearchController>& searchController) override;
    void willDismissSearchController(const std::shared_ptr<UISearchController>& searchController) override;
    // An empty text forgets the last matches (the overlay is not reloaded); any other is searched.
    void updateSearchResultsForSearchController(const std::shared_ptr<UISearchController>& searchController) override;
    // Cancels the searches still waiting and queues one for the text.
    void handleSearch(const std::string& text);

private:
    void cancelWaitingSearches();

    std::shared_ptr<NSOperationQueue> searchQueue_;
    std::shared_ptr<ImageCellSearch_TableViewDelegate> searchDelegate_;
    std::shared_ptr<UIDBSearchResultsViewController> searchResultsController_;
};
