// The pad's song list.
#include "media/UICompositionsListViewController.h"

#include "media/CompositionsSearch.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "platform/ui/UITableView.h"

std::shared_ptr<UICompositionsListViewController> UICompositionsListViewController::initWithDataSource(
    std::shared_ptr<CompositionsSource> source, MusicContext context) {
    return std::make_shared<UICompositionsListViewController>(UITableViewStylePlain, std::move(source), std::move(context));
}

void UICompositionsListViewController::updateDownloadedList() {
    downloadedItems_.clear();
    for (const auto& item : compositionsList())
        if (item->downloaded()) downloadedItems_.push_back(item);
}

void UICompositionsListViewController::commitEditingStyle(const std::shared_ptr<UITableView>& tableView,
                                                          UITableViewCellEditingStyle style, const NSIndexPath& indexPath) {
    OECompositionsTableViewController::commitEditingStyle(tableView, style, indexPath);
    if (style == UITableViewCellEditingStyleDelete && deleteItemBlock_) deleteItemBlock_();
}

void UICompositionsListViewController::handleSearch(const std::string& text) {
    setSearchEnabled(true);
    auto catalogue = source();
    auto search = catalogue ? catalogue->getSearch() : nullptr;
    MediaItems found = search ? search->handleSearch(text) : MediaItems{};
    setSearchResult(std::move(found));
    if (editMode()) updateDownloadedList();
    tableView()->reloadData();
}

void UICompositionsListViewController::cancelSearch() {
    setSearchEnabled(false);
    setSearchResult({});
    if (editMode()) updateDownloadedList();
    tableView()->reloadData();
}
