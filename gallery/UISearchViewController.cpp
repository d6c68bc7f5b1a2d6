// The reusable search screen: its search controller and the serial search queue.
#include "gallery/UISearchViewController.h"

#include "platform/dispatch/DispatchQueue.h"

void UISearchViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    searchQueue_ = NSOperationQueue::make();
    searchQueue_->setMaxConcurrentOperationCount(1);
    searchController_ = UISearchController::initWithSearchResultsController(nullptr);
    searchController_->setSearchResultsUpdater(self<UISearchViewController>());
    searchController_->setDelegate(self<UISearchViewController>());
    searchController_->searchBar()->setShowsCancelButton(true);
    searchController_->searchBar()->setDelegate(self<UISearchViewController>());
    setDefinesPresentationContext(true);
}

void UISearchViewController::updateSearchResultsForSearchController(
    const std::shared_ptr<UISearchController>& searchController) {
    const std::string text = searchController ? searchController->searchBar()->text() : std::string();
    if (!text.empty()) handleSearch(text);
    else searchStopped();
}

void UISearchViewController::handleSearch(const std::string& text) {
    // Only the waiting ones: a running search is not interrupted and still delivers.
    for (const auto& operation : searchQueue_->operations()) {
        if (!operation->isExecuting()) operation->cancel();
    }
    std::weak_ptr<UISearchViewController> weakSelf = self<UISearchViewController>();
    searchQueue_->addOperationWithBlock([weakSelf, text] {
        auto me = weakSelf.lock();
        if (!me) return;
        MutexLock guard(me->searchLock_);
        auto result = me->searchResultForString(text);
        // The delivery holds the last reference the search took, so a screen closed meanwhile
        // is let go on the main thread, where screens live.
        DispatchQueue::mainQueue()->async([me, result] { me->searchResultRecived(result); });
    });
}

ContentRowList UISearchViewController::searchResultForString(const std::string&) {
    return std::make_shared<const ContentRows>();
}

void UISearchViewController::searchResultRecived(const ContentRowList&) {}

void UISearchViewController::willDismissSearchController(const std::shared_ptr<UISearchController>&) {
    searchStopped();
    for (const auto& operation : searchQueue_->operations()) {
        if (!operation->isExecuting()) operation->cancel();
    }
}

void UISearchViewController::searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>&) {
    if (searchController_) searchController_->setActive(false);
    if (cancelBlock_) cancelBlock_(self<UISearchViewController>());
}
