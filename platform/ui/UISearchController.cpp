// Search controllers: the bar's relay, activation and the results updater.
#include "platform/ui/UISearchController.h"

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
    if (auto updater = searchResultsUpdater()) updater->updateSearchResultsForSearchController(self());
}

void UISearchController::setActive(bool active) {
    // A delegate that changes the state from inside a callback must not restart the sequence.
    if (active == active_ || changing_) return;
    changing_ = true;
    auto me = self();
    auto d = delegate();
    if (active) {
        if (d) d->willPresentSearchController(me);
        active_ = true;
        if (resultsController_ && resultsController_->parentViewController() != me) {
            addChildViewController(resultsController_);
            view()->addSubview(resultsController_->view());
            resultsController_->didMoveToParentViewController(me);
        }
        if (d) d->didPresentSearchController(me);
        changing_ = false;
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
        if (d) d->didDismissSearchController(me);
        changing_ = false;
    }
}
