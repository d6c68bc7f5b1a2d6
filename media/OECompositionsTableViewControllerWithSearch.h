// The list of tracks with a search field in the navigation bar: each search runs on a queue of
// the screen's own, one at a time under the screen's lock (a newer text drops those not started,
// and the tracks of those running), and its tracks reach the table on the main queue. With the
// field empty every track shows.
#pragma once

#include "media/OECompositionsTableViewController.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/UISearchController.h"

class NSOperationQueue;

class OECompositionsTableViewControllerWithSearch : public OECompositionsTableViewController,
                                                    public UISearchResultsUpdating,
                                                    public UISearchControllerDelegate {
public:
    using OECompositionsTableViewController::OECompositionsTableViewController;

    const std::shared_ptr<UISearchController>& searchController() const { return searchController_; }
    const std::shared_ptr<NSOperationQueue>& searchQueue() const { return searchQueue_; }

    void viewDidLoad() override;
    void initSearch();
    bool isSearchEnabled() const override;
    void willPresentSearchController(const std::shared_ptr<UISearchController>& controller) override;
    void willDismissSearchController(const std::shared_ptr<UISearchController>& controller) override;
    void updateSearchResultsForSearchController(const std::shared_ptr<UISearchController>& controller) override;
    virtual void handleSearch(const std::string& text);
    void reesetSearch();

private:
    std::shared_ptr<UISearchController> searchController_;
    std::shared_ptr<NSOperationQueue> searchQueue_;
    // Held by a search for its whole run (shared with the running search, which does not keep
    // the screen alive).
    std::shared_ptr<Mutex> searchLock_ = std::make_shared<Mutex>();
};
