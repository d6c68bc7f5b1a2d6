// A reusable search screen: a search controller whose matches show in the screen's own view,
// and searches typed run off the main thread on the screen's serial queue, where a new text
// drops the searches still waiting while a running one finishes and is delivered.
#pragma once

#include "content/OESearch.h"
#include "platform/dispatch/NSOperationQueue.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/UISearchController.h"
#include "platform/ui/UIViewController.h"

#include <functional>
#include <memory>
#include <string>

class UISearchViewController : public UIViewController,
                               public UISearchResultsUpdating,
                               public UISearchControllerDelegate,
                               public UISearchBarDelegate {
public:
    using CancelBlock = std::function<void(const std::shared_ptr<UISearchViewController>&)>;

    static std::shared_ptr<UISearchViewController> make() { return std::make_shared<UISearchViewController>(); }

    // Made in viewDidLoad.
    const std::shared_ptr<UISearchController>& searchController() const { return searchController_; }
    const CancelBlock& cancelBlock() const { return cancelBlock_; }
    void setCancelBlock(CancelBlock block) { cancelBlock_ = std::move(block); }
    // The screen's search queue (one operation at a time); made in viewDidLoad.
    const std::shared_ptr<NSOperationQueue>& searchQueue() const { return searchQueue_; }

    void viewDidLoad() override;

    void updateSearchResultsForSearchController(const std::shared_ptr<UISearchController>& searchController) override;
    // Cancels the searches still waiting and queues one for the text.
    void handleSearch(const std::string& text);

    // Hooks for subclasses. On the search queue, under the screen's search lock:
    virtual ContentRowList searchResultForString(const std::string& text);
    // On the main thread: a finished search's result; the text became empty or the search ended.
    virtual void searchResultRecived(const ContentRowList& result);
    virtual void searchStopped() {}

    void willDismissSearchController(const std::shared_ptr<UISearchController>& searchController) override;
    void searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>& searchBar) override;

private:
    std::shared_ptr<NSOperationQueue> searchQueue_;
    std::shared_ptr<UISearchController> searchController_;
    CancelBlock cancelBlock_;
    // Held for a whole search and the hand-over of its result to the main queue.
    Mutex searchLock_;
};
