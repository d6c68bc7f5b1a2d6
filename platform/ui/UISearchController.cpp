// Search controllers: the bar's relay, activation and the results updater.
#include "platform/ui/UISearchController.h"

#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIView.h"

// The bar holds its delegate weakly, so the controller keeps the relay; the relay holds the
// controller weakly, so neither keeps the other alive.
class UISearchController::BarRelay : public UISearchBarDelegate {
public:
    explicit BarRelay(const std::shared_ptr<UISearchController>& owner) : owner_(owner) {}

    void searchBarTextDidBeginEditing(const std::shared_ptr<UISearchBar>&) override {
        if (auto owner = owner_.lock()) owner->setActive(true);
    }
    void textDidChange(const std::shared_ptr<UISearchBar>&, const std::string&) override {
        if (auto owner = owner_.lock()) owner->updateSearchResults();
    }
    void searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>& bar) override {
        auto owner = owner_.lock();
        if (!owner) return;
        bar->setText("");
        owner->setActive(false);
    }

private:
    std::weak_ptr<UISearchController> owner_;
};

UISearchController::UISearchController(std::shared_ptr<UIViewController> searchResultsController)
    : resultsController_(std::move(searchResultsController)), searchBar_(UISearchBar::make()) {}

std::shared_ptr<UISearchController> UISearchController::initWithSearchResultsController(
    const std::shared_ptr<UIViewController>& searchResultsController) {
    return std::make_shared<UISearchController>(searchResultsController);
}

std::shared_ptr<UISearchController> UISearchController::self() {
    return std::static_pointer_cast<UISearchController>(shared_from_this());
}

std::shared_ptr<UISearchBar> UISearchController::searchBar() {
    // The relay needs the shared owner, which the constructor does not have yet.
    if (!relay_) {
        relay_ = std::make_shared<BarRelay>(self());
        searchBar_->setOwnerObserver(relay_);
    }
    return searchBar_;
}

void UISearchController::updateSearchResults() {
    showResultsWhenTyped();
    if (auto updater = searchResultsUpdater()) updater->updateSearchResultsForSearchController(self());
}

void UISearchController::showResultsWhenTyped() {
    // The matches show once something is typed; until then the screen searched shows through.
    if (auto v = viewIfLoaded()) v->setHidden(!active_ || !resultsController_ || searchBar_->text().empty());
}

std::shared_ptr<UIViewController> UISearchController::hostViewController() const {
    for (auto v = searchBar_->superview(); v; v = v->superview()) {
        auto controller = std::dynamic_pointer_cast<UIViewController>(v->viewController());
        if (!controller) continue;
        // In a navigation bar's place: the screen whose navigation item holds this search.
        if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(controller)) {
            auto top = navigation->topViewController();
            return top && top->navigationItem()->searchController().get() == this ? top : nullptr;
        }
        return controller;
    }
    return nullptr;
}

void UISearchController::setActive(bool active) {
    // A delegate that changes the state from inside a callback must not restart the sequence.
    if (active == active_ || changing_) return;
    changing_ = true;
    auto me = self();
    auto d = delegate();
    auto host = hostViewController();
    if (active) {
        if (d) d->willPresentSearchController(me);
        active_ = true;
        // Over the screen searched: the matches cover it, and what this controller presents
        // comes from a view in its window.
        if (host) {
            auto v = view();
            auto over = host->view();
            v->setFrame(over->bounds());
            v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
            if (v->superview() != over) over->addSubview(v);
        }
        if (resultsController_ && resultsController_->parentViewController() != me) {
            addChildViewController(resultsController_);
            auto results = resultsController_->view();
            results->setFrame(view()->bounds());
            results->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
            view()->addSubview(results);
            resultsController_->didMoveToParentViewController(me);
        }
        // Shown over a screen that shows, this controller appears as a presented one would, so
        // what it presents appears too.
        if (host && host->isVisible() && !isVisible()) {
            beginAppearanceTransition(true, false);
            endAppearanceTransition();
        }
        if (!searchBar_->showsCancelButton()) {
            searchBar_->setShowsCancelButton(true);
            cancelShownWhileActive_ = true;
        }
        if (d) d->didPresentSearchController(me);
        changing_ = false;
        if (auto navigation = host ? host->navigationController() : nullptr) navigation->updateBars(false);
        updateSearchResults();
    } else {
        if (d) d->willDismissSearchController(me);
        active_ = false;
        searchBar_->resignFirstResponder();
        if (resultsController_ && resultsController_->parentViewController() == me) {
            resultsController_->willMoveToParentViewController(nullptr);
            if (auto v = resultsController_->viewIfLoaded()) v->removeFromSuperview();
            resultsController_->removeFromParentViewController();
        }
        if (isVisible()) {
            beginAppearanceTransition(false, false);
            endAppearanceTransition();
        }
        if (auto v = viewIfLoaded()) v->removeFromSuperview();
        if (cancelShownWhileActive_) {
            searchBar_->setShowsCancelButton(false);
            cancelShownWhileActive_ = false;
        }
        if (d) d->didDismissSearchController(me);
        changing_ = false;
        if (auto navigation = host ? host->navigationController() : nullptr) navigation->updateBars(false);
    }
}
