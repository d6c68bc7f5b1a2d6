// The phone category browser's row handling and its picture search.
#include "gallery/UIDBViewController_iPhone.h"

#include "gallery/PhotoPageViewController.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"

std::shared_ptr<UIDBViewController_iPhone> UIDBViewController_iPhone::initWithSource(
    const std::shared_ptr<DataSource>& source, const GalleryContext& context) {
    auto controller = std::make_shared<UIDBViewController_iPhone>(context);
    controller->setupWithSource(source);
    return controller;
}

void UIDBViewController_iPhone::showFavorites() {
    if (auto navigation = navigationController()) navigation->pushViewController(favoritesViewController(), true);
}

void UIDBViewController_iPhone::viewDidLoad() {
    UIDBViewController::viewDidLoad();
    initSearching();
}

void UIDBViewController_iPhone::itemSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) {
    const auto search = navigationItem()->searchController();
    if (search && search->isActive()) {
        auto pager = PhotoPageViewController::initWithImagesData(source() ? source()->searchLast() : nullptr, nullptr,
                                                                 indexPath.row, galleryContext());
        if (pager) {
            pager->setDataSource(dataSource);
            if (auto navigation = navigationController()) navigation->pushViewController(pager, true);
        }
    } else if (auto subCat = subcatInSource(dataSource, indexPath)) {
        if (auto navigation = navigationController())
            navigation->pushViewController(thumbnailsViewController(subCat, dataSource), true);
    }
    tableView()->deselectRowAtIndexPath(indexPath, true);
}

void UIDBViewController_iPhone::initSearching() {
    searchQueue_ = NSOperationQueue::make();
    searchQueue_->setMaxConcurrentOperationCount(1);
    searchDelegate_ = ImageCellSearch_TableViewDelegate::initWithDataSource(source(), galleryContext());
    searchDelegate_->setDelegate(self<UIDBViewController_iPhone>());
    searchResultsController_ = UIDBSearchResultsViewController::initWithDelegate(searchDelegate_);
    setDefinesPresentationContext(true);
    navigationItem()->setSearchController(makeSearchControllerWithResultsVC(searchResultsController_));
    navigationItem()->setHidesSearchBarWhenScrolling(false);
}

std::shared_ptr<UISearchController> UIDBViewController_iPhone::makeSearchControllerWithResultsVC(
    const std::shared_ptr<UIViewController>& resultsController) {
    auto search = UISearchController::initWithSearchResultsController(resultsController);
    search->setSearchResultsUpdater(self<UIDBViewController_iPhone>());
    search->setDelegate(self<UIDBViewController_iPhone>());
    search->setDimsBackgroundDuringPresentation(true);
    search->setHidesNavigationBarDuringPresentation(true);
    return search;
}

void UIDBViewController_iPhone::willPresentSearchController(const std::shared_ptr<UISearchController>&) {
    tableView()->setScrollEnabled(false);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, true);
}

void UIDBViewController_iPhone::cancelWaitingSearches() {
    for (const auto& operation : searchQueue_->operations()) {
        if (!operation->isExecuting()) operation->cancel();
    }
}

void UIDBViewController_iPhone::willDismissSearchController(const std::shared_ptr<UISearchController>&) {
    if (const auto& source = searchDelegate_->dataSource()) source->resetSearch();
    cancelWaitingSearches();
    tableView()->setScrollEnabled(true);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(false, true);
}

void UIDBViewController_iPhone::updateSearchResultsForSearchController(
    const std::shared_ptr<UISearchController>& searchController) {
    const std::string text = searchController ? searchController->searchBar()->text() : std::string();
    if (text.empty()) {
        if (const auto& source = searchDelegate_->dataSource()) source->resetSearch();
    } else {
        handleSearch(text);
    }
}

void UIDBViewController_iPhone::handleSearch(const std::string& text) {
    // A running search is not interrupted: it finishes and its matches are still shown.
    cancelWaitingSearches();
    std::weak_ptr<UIDBViewController_iPhone> weakSelf = self<UIDBViewController_iPhone>();
    // The source's search answers from any queue: it uses a connection of its own under its own
    // lock, never the one the main thread lists through.
    searchQueue_->addOperationWithBlock([weakSelf, text] {
        auto me = weakSelf.lock();
        if (!me) return;
        const auto source = me->searchDelegate_->dataSource();
        auto result = source ? source->searchResult(text) : nullptr;
        // The last reference the search took goes with the delivery, so a browser closed
        // meanwhile is let go on the main thread.
        DispatchQueue::mainQueue()->async([me, result] {
            if (const auto& source = me->searchDelegate_->dataSource()) source->setLastSearch(result);
            me->searchResultsController_->tableView()->reloadData();
        });
    });
}
