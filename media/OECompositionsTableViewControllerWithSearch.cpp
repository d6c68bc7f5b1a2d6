// The list of tracks with its search.
#include "media/OECompositionsTableViewControllerWithSearch.h"

#include "media/CompositionsSearch.h"
#include "media/CompositionsSource.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSBlockOperation.h"
#include "platform/dispatch/NSOperationQueue.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UITableView.h"

void OECompositionsTableViewControllerWithSearch::viewDidLoad() {
    OECompositionsTableViewController::viewDidLoad();
    initSearch();
}

void OECompositionsTableViewControllerWithSearch::initSearch() {
    auto self = std::static_pointer_cast<OECompositionsTableViewControllerWithSearch>(shared_from_this());
    searchController_ = UISearchController::initWithSearchResultsController(nullptr);
    searchController_->setSearchResultsUpdater(self);
    searchController_->setDelegate(self);
    searchController_->setDimsBackgroundDuringPresentation(false);
    searchController_->setHidesNavigationBarDuringPresentation(true);
    setDefinesPresentationContext(true);
    searchQueue_ = NSOperationQueue::make();
    navigationItem()->setSearchController(searchController_);
    navigationItem()->setHidesSearchBarWhenScrolling(false);
}

bool OECompositionsTableViewControllerWithSearch::isSearchEnabled() const {
    return searchController_ && searchController_->isActive();
}

void OECompositionsTableViewControllerWithSearch::willPresentSearchController(const std::shared_ptr<UISearchController>&) {
    tableView()->setScrollEnabled(false);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, true);
}

void OECompositionsTableViewControllerWithSearch::willDismissSearchController(const std::shared_ptr<UISearchController>&) {
    searchQueue_->cancelAllOperations();
    reesetSearch();
    tableView()->setScrollEnabled(true);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(false, true);
}

void OECompositionsTableViewControllerWithSearch::updateSearchResultsForSearchController(
    const std::shared_ptr<UISearchController>& controller) {
    const std::string text = controller->searchBar()->text();
    if (!text.empty())
        handleSearch(text);
    else
        reesetSearch();
}

void OECompositionsTableViewControllerWithSearch::handleSearch(const std::string& text) {
    searchQueue_->cancelAllOperations();
    std::weak_ptr<OECompositionsTableViewControllerWithSearch> weak =
        std::static_pointer_cast<OECompositionsTableViewControllerWithSearch>(shared_from_this());
    auto source = this->source();
    auto searchLock = searchLock_;
    // A search that had started when a newer one came waits for the lock in no set order, so it
    // may finish last: its tracks are dropped, and the newest text's stay shown.
    auto operation = std::make_shared<std::weak_ptr<NSOperation>>();
    auto search = NSBlockOperation::blockOperationWithBlock([weak, source, text, searchLock, operation] {
        MutexLock lock(*searchLock);
        if (weak.expired()) return;
        auto search = source ? source->getSearch() : nullptr;
        MediaItems found = search ? search->handleSearch(text) : MediaItems{};
        // Held until the tracks are applied, so a cancel that came while it ran is seen once it has ended.
        DispatchQueue::mainQueue()->async([weak, found, self = operation->lock()] {
            auto screen = weak.lock();
            if (!screen || (self && self->isCancelled())) return;
            screen->updateSearchResultsWithItems(found);
        });
    });
    *operation = search;
    searchQueue_->addOperation(search);
}

void OECompositionsTableViewControllerWithSearch::reesetSearch() {
    updateSearchResultsWithItems(source() ? source()->allCompositions() : MediaItems{});
}
