// The phone's texts browser and its title search.
#include "texts/TextEngineRoot_iPhone.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSBlockOperation.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableViewCell.h"
#include "texts/UIText.h"

std::shared_ptr<TextEngineRoot_iPhone> TextEngineRoot_iPhone::initWithContext(TextsContext context) {
    return std::make_shared<TextEngineRoot_iPhone>(std::move(context));
}

TextEngineRoot_iPhone::~TextEngineRoot_iPhone() {
    if (searchQueue_) searchQueue_->cancelAllOperations();
}

void TextEngineRoot_iPhone::viewDidLoad() {
    TextEngineRoot::viewDidLoad();
    searchQueue_ = NSOperationQueue::make();
    searchQueue_->setMaxConcurrentOperationCount(1);
    searchController_ = UISearchController::initWithSearchResultsController(nullptr);
    searchController_->setSearchResultsUpdater(self<TextEngineRoot_iPhone>());
    searchController_->setDelegate(self<TextEngineRoot_iPhone>());
    searchController_->setDimsBackgroundDuringPresentation(true);
    searchController_->setHidesNavigationBarDuringPresentation(true);
    setDefinesPresentationContext(true);
    navigationItem()->setSearchController(searchController_);
    navigationItem()->setHidesSearchBarWhenScrolling(false);
    searchResults_.clear();
}

void TextEngineRoot_iPhone::willPresentSearchController(const std::shared_ptr<UISearchController>&) {
    if (tableView()) tableView()->setScrollEnabled(false);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, true);
}

void TextEngineRoot_iPhone::willDismissSearchController(const std::shared_ptr<UISearchController>&) {
    searchQueue_->cancelAllOperations();
    reesetSearch();
    if (tableView()) tableView()->setScrollEnabled(true);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(false, true);
}

void TextEngineRoot_iPhone::didDismissSearchController(const std::shared_ptr<UISearchController>&) {
    if (tableView()) tableView()->reloadData();
}

void TextEngineRoot_iPhone::updateSearchResultsForSearchController(const std::shared_ptr<UISearchController>& controller) {
    const std::string text = controller->searchBar()->text();
    if (text.empty()) reesetSearch();
    else handleSearch(text);
}

void TextEngineRoot_iPhone::handleSearch(const std::string& text) {
    auto server = textsContext().textServer;
    if (!server || !searchQueue_) return;
    searchQueue_->cancelAllOperations();
    const long scope = searchController_ ? searchController_->searchBar()->selectedScopeButtonIndex() : 0;
    std::weak_ptr<TextEngineRoot_iPhone> weak = self<TextEngineRoot_iPhone>();
    auto lock = searchLock_;
    auto operation = std::make_shared<std::weak_ptr<NSOperation>>();
    auto search = NSBlockOperation::blockOperationWithBlock([weak, server, lock, text, scope, operation] {
        std::vector<TextEntry> found;
        {
            MutexLock guard(*lock);
            if (scope == 0) server->handeSearch(text);
            else if (scope == 1) server->handeSearchContent(text);
            else return;
            found = server->searchResult();
        }
        // Held until the result is applied, so a cancel that came while it ran is seen once it has ended.
        DispatchQueue::mainQueue()->async([weak, found = std::move(found), self = operation->lock()] {
            auto me = weak.lock();
            // A newer search (or the end of the search) has taken over.
            if (!me || (self && self->isCancelled())) return;
            me->searchResults_ = found;
            if (me->tableView()) me->tableView()->reloadData();
        });
    });
    *operation = search;
    searchQueue_->addOperation(search);
}

void TextEngineRoot_iPhone::reesetSearch() {
    searchResults_.clear();
    if (tableView()) tableView()->reloadData();
}

long TextEngineRoot_iPhone::numberOfSectionsInTableView(const std::shared_ptr<UITableView>& tableView) {
    return searching() ? 1 : TextEngineRoot::numberOfSectionsInTableView(tableView);
}

long TextEngineRoot_iPhone::numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) {
    return searching() ? static_cast<long>(searchResults_.size()) : TextEngineRoot::numberOfRowsInSection(tableView, section);
}

std::string TextEngineRoot_iPhone::titleForHeaderInSection(const std::shared_ptr<UITableView>& tableView, long section) {
    return searching() ? "" : TextEngineRoot::titleForHeaderInSection(tableView, section);
}

std::vector<std::string> TextEngineRoot_iPhone::sectionIndexTitlesForTableView(const std::shared_ptr<UITableView>& tableView) {
    return searching() ? std::vector<std::string>{} : TextEngineRoot::sectionIndexTitlesForTableView(tableView);
}

long TextEngineRoot_iPhone::sectionForSectionIndexTitle(const std::shared_ptr<UITableView>& tableView,
                                                        const std::string& title, long index) {
    return searching() ? 0 : TextEngineRoot::sectionForSectionIndexTitle(tableView, title, index);
}

std::shared_ptr<UITableViewCell> TextEngineRoot_iPhone::cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                              const NSIndexPath& indexPath) {
    if (!searching()) return TextEngineRoot::cellForRowAtIndexPath(tableView, indexPath);
    static const std::string identifier = "groupCell";
    auto cell = tableView->dequeueReusableCellWithIdentifier(identifier);
    // A catalogue row of the same identifier has no detail line: a result row is made anew.
    if (!cell || cell->style() != UITableViewCellStyleSubtitle) {
        cell = UITableViewCell::initWithStyle(UITableViewCellStyleSubtitle, identifier);
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
        cell->textLabel()->setFont(UIFont::systemFontOfSize(UIFont::systemFontSize()));
        cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
    }
    const auto row = static_cast<std::size_t>(indexPath.row);
    if (row < searchResults_.size()) {
        cell->textLabel()->setText(searchResults_[row].shortText);
        cell->detailTextLabel()->setText(searchResults_[row].subCat);
    }
    checkCellFrame(cell->textLabel());
    checkCellFrame(cell->detailTextLabel());
    return cell;
}

void TextEngineRoot_iPhone::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                    const NSIndexPath& indexPath) {
    if (!searching()) {
        TextEngineRoot::didSelectRowAtIndexPath(tableView, indexPath);
        return;
    }
    tableView->deselectRowAtIndexPath(indexPath, true);
    if (indexPath.row < 0 || indexPath.row >= static_cast<long>(searchResults_.size())) return;
    auto reader = UIText::initWithNibName("UIText", textsContext());
    reader->setTexts(searchResults_);
    reader->setFirstText(indexPath.row);
    if (auto navigation = navigationController()) navigation->pushViewController(reader, true);
}
