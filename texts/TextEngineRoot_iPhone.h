// The texts browser on a phone, with a search over the text titles in its navigation bar: while
// the search is active the table lists the matches (each with its subcategory's name), and a
// match opens the reader on the matches. Searches run on the screen's own queue, one at a time
// under its lock; their results reach the table on the main queue.
#pragma once

#include "platform/dispatch/NSOperationQueue.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/UISearchController.h"
#include "texts/TextEngineRoot.h"
#include "texts/TextEntry.h"

#include <memory>
#include <string>
#include <vector>

class TextEngineRoot_iPhone : public TextEngineRoot, public UISearchResultsUpdating, public UISearchControllerDelegate {
public:
    static std::shared_ptr<TextEngineRoot_iPhone> initWithContext(TextsContext context);
    using TextEngineRoot::TextEngineRoot;
    ~TextEngineRoot_iPhone() override;

    const std::shared_ptr<UISearchController>& searchController() const { return searchController_; }
    const std::shared_ptr<NSOperationQueue>& searchQueue() const { return searchQueue_; }
    const std::vector<TextEntry>& searchResults() const { return searchResults_; }
    void setSearchResults(std::vector<TextEntry> results) { searchResults_ = std::move(results); }

    void viewDidLoad() override;
    void willPresentSearchController(const std::shared_ptr<UISearchController>& controller) override;
    void willDismissSearchController(const std::shared_ptr<UISearchController>& controller) override;
    // The catalogue again, now that the search is over.
    void didDismissSearchController(const std::shared_ptr<UISearchController>& controller) override;
    void updateSearchResultsForSearchController(const std::shared_ptr<UISearchController>& controller) override;
    // Drops the searches not yet started and queues one for `text`.
    void handleSearch(const std::string& text);
    void reesetSearch();

    long numberOfSectionsInTableView(const std::shared_ptr<UITableView>& tableView) override;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::string titleForHeaderInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    std::vector<std::string> sectionIndexTitlesForTableView(const std::shared_ptr<UITableView>& tableView) override;
    long sectionForSectionIndexTitle(const std::shared_ptr<UITableView>& tableView, const std::string& title,
                                     long index) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

private:
    bool searching() const { return searchController_ && searchController_->isActive(); }

    std::shared_ptr<UISearchController> searchController_;
    std::shared_ptr<NSOperationQueue> searchQueue_;
    // Held by each search for its whole run, so searches never overlap.
    std::shared_ptr<Mutex> searchLock_ = std::make_shared<Mutex>();
    std::vector<TextEntry> searchResults_;
};
