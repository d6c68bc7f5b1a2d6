// A search over a screen: the search bar it owns, the results updater told of every change
// of the bar's text, and the delegate told as the search becomes active and inactive.
#pragma once

#include "platform/ui/UISearchBar.h"
#include "platform/ui/UIViewController.h"

#include <memory>

class UISearchController;

class UISearchResultsUpdating {
public:
    virtual ~UISearchResultsUpdating() = default;
    virtual void updateSearchResultsForSearchController(const std::shared_ptr<UISearchController>& searchController) = 0;
};

class UISearchControllerDelegate {
public:
    virtual ~UISearchControllerDelegate() = default;
    virtual void willPresentSearchController(const std::shared_ptr<UISearchController>&) {}
    virtual void didPresentSearchController(const std::shared_ptr<UISearchController>&) {}
    virtual void willDismissSearchController(const std::shared_ptr<UISearchController>&) {}
    virtual void didDismissSearchController(const std::shared_ptr<UISearchController>&) {}
};

class UISearchController : public UIViewController {
public:
    // Null: the matches show in the searching screen's own view.
    explicit UISearchController(std::shared_ptr<UIViewController> searchResultsController = nullptr);
    static std::shared_ptr<UISearchController> initWithSearchResultsController(
        const std::shared_ptr<UIViewController>& searchResultsController);

    std::shared_ptr<UIViewController> searchResultsController() const { return resultsController_; }
    // The bar starts out with this controller's relay as its delegate: beginning to edit
    // makes the search active, typing updates the results, cancel clears the text and ends
    // the search. A screen that makes itself the bar's delegate takes those calls over.
    std::shared_ptr<UISearchBar> searchBar();

    std::shared_ptr<UISearchResultsUpdating> searchResultsUpdater() const { return updater_.lock(); }
    void setSearchResultsUpdater(const std::shared_ptr<UISearchResultsUpdating>& updater) { updater_ = updater; }
    std::shared_ptr<UISearchControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UISearchControllerDelegate>& delegate) { delegate_ = delegate; }

    bool isActive() const { return active_; }
    // Becoming active: will-present, this controller's view laid over the screen searched (the
    // one showing the bar), the results screen shown in it as a child, the bar's cancel button
    // shown, did-present, then the updater hears the current text. Becoming inactive:
    // will-dismiss, the bar stops editing, the results screen and the view leave, did-dismiss.
    // A navigation bar that gives way to the search is hidden meanwhile. Setting the current
    // state does nothing.
    void setActive(bool active);

    bool obscuresBackgroundDuringPresentation() const { return obscuresBackground_; }
    void setObscuresBackgroundDuringPresentation(bool obscures) { obscuresBackground_ = obscures; }
    // The older name of the same setting.
    bool dimsBackgroundDuringPresentation() const { return obscuresBackground_; }
    void setDimsBackgroundDuringPresentation(bool dims) { obscuresBackground_ = dims; }
    bool hidesNavigationBarDuringPresentation() const { return hidesNavigationBar_; }
    void setHidesNavigationBarDuringPresentation(bool hides) { hidesNavigationBar_ = hides; }

    // Tells the updater (when it is still there) to refresh from the bar's text; the results
    // screen shows while the text is not empty.
    void updateSearchResults();

private:
    class BarRelay;

    std::shared_ptr<UISearchController> self();
    // The screen the bar is shown in (for a bar in a navigation bar's place, the top screen
    // whose navigation item holds this search); none while the bar is not shown.
    std::shared_ptr<UIViewController> hostViewController() const;
    void showResultsWhenTyped();

    std::shared_ptr<UIViewController> resultsController_;
    std::shared_ptr<UISearchBar> searchBar_;
    std::shared_ptr<BarRelay> relay_;
    std::weak_ptr<UISearchResultsUpdating> updater_;
    std::weak_ptr<UISearchControllerDelegate> delegate_;
    bool active_ = false;
    bool changing_ = false;
    bool cancelShownWhileActive_ = false;
    bool obscuresBackground_ = true;
    bool hidesNavigationBar_ = true;
};
