// The list of tracks every music screen builds on.
#include "media/OECompositionsTableViewController.h"

#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "media/UICompositionCell.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UITableView.h"

namespace {

const char* const kCellIdentifier = "CompositionCell";

}  // namespace

std::shared_ptr<OECompositionsTableViewController> OECompositionsTableViewController::initWithDataSource(
    std::shared_ptr<CompositionsSource> source, MusicContext context) {
    return std::make_shared<OECompositionsTableViewController>(UITableViewStyleGrouped, std::move(source),
                                                               std::move(context));
}

OECompositionsTableViewController::OECompositionsTableViewController(UITableViewStyle style,
                                                                     std::shared_ptr<CompositionsSource> source,
                                                                     MusicContext context)
    : UITableViewController(style), source_(std::move(source)), context_(std::move(context)) {}

OECompositionsTableViewController::~OECompositionsTableViewController() { removeNotificationsObservers(); }

MediaItems OECompositionsTableViewController::sourceItems() {
    auto catalogue = source();
    return catalogue ? catalogue->allCompositions() : MediaItems{};
}

MediaItems OECompositionsTableViewController::compositionsList() {
    return isSearchEnabled() ? searchResult_ : sourceItems();
}

void OECompositionsTableViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    view()->setBackgroundColor(context_.backgroundColor());
    addNotificationsObservers();
}

void OECompositionsTableViewController::addNotificationsObservers() {
    auto self = std::static_pointer_cast<OECompositionsTableViewController>(shared_from_this());
    NSNotificationCenter::defaultCenter()->addObserver(self, &OECompositionsTableViewController::dataUpdatedNotification,
                                                       kMediaDataUpdated);
}

void OECompositionsTableViewController::removeNotificationsObservers() {
    NSNotificationCenter::defaultCenter()->removeObserver(this);
}

void OECompositionsTableViewController::dataUpdatedNotification(const NSNotification& notification) {
    if (!MusicContext::isMediaDataUpdate(notification)) return;
    if (context_.beforeUpdate) context_.beforeUpdate();
    if (auto catalogue = source()) catalogue->reset();
    reloadData();
    if (context_.afterUpdate) context_.afterUpdate();
}

void OECompositionsTableViewController::reloadData() {
    tableView()->setEditing(false, false);
    editMode_ = false;
    tableView()->reloadData();
}

void OECompositionsTableViewController::toggleEditingMode() {
    tableView()->setEditing(!tableView()->isEditing(), true);
    editMode_ = tableView()->isEditing();
}

void OECompositionsTableViewController::updateEditableList() {
    Diagnostics::notef("%s has no rows for edit mode.", className().c_str());
}

void OECompositionsTableViewController::updateSearchResultsWithItems(MediaItems items) {
    searchResult_ = std::move(items);
    tableView()->reloadData();
}

MediaItems OECompositionsTableViewController::compositionsListForMode(bool editMode) {
    return editMode ? editableItems() : compositionsList();
}

void OECompositionsTableViewController::postCompositionSelectedNotification(const std::shared_ptr<MediaPlayerItem>& item) {
    NSNotificationCenter::defaultCenter()->postNotificationName(CompositionSelectedMessage, item);
}

void OECompositionsTableViewController::postCompositionsPlaylistNotification(const MediaItems& list, long index) {
    Value::Array items;
    for (const auto& item : list) items.push_back(Value(item));
    NSNotificationCenter::defaultCenter()->postNotificationName(
        CompositionsPlayList, nullptr, Value::Dictionary{{"list", Value(items)}, {"index", Value(index)}});
}

std::shared_ptr<UITableViewCell> OECompositionsTableViewController::compositionCellInTableView(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath, const MediaItems& items) {
    auto cell = tableView->dequeueReusableCellWithIdentifier(kCellIdentifier);
    if (!cell) cell = UICompositionCell::initWithReuseIdentifier(kCellIdentifier);
    if (indexPath.row >= 0 && static_cast<std::size_t>(indexPath.row) < items.size())
        configureCellWithComposition(cell, items[static_cast<std::size_t>(indexPath.row)]);
    return cell;
}

void OECompositionsTableViewController::configureCellWithComposition(const std::shared_ptr<UITableViewCell>& cell,
                                                                     const std::shared_ptr<MediaPlayerItem>& item) {
    if (auto compositionCell = std::dynamic_pointer_cast<UICompositionCell>(cell))
        compositionCell->setParamsFrom(item, context_);
}

long OECompositionsTableViewController::numberOfSectionsInTableView(const std::shared_ptr<UITableView>&) {
    if (isSearchEnabled()) return 1;
    return needsToShowAdCell() ? 2 : 1;
}

long OECompositionsTableViewController::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long section) {
    if (section != 0) return 1;
    return static_cast<long>(compositionsListForMode(editMode_).size());
}

std::shared_ptr<UITableViewCell> OECompositionsTableViewController::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    return compositionCellInTableView(tableView, indexPath, compositionsListForMode(editMode_));
}

bool OECompositionsTableViewController::canEditRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                              const NSIndexPath& indexPath) {
    if (indexPath.section == 1) return false;
    if (editMode_) return true;
    const auto list = compositionsList();
    if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= list.size()) return false;
    return list[static_cast<std::size_t>(indexPath.row)]->downloaded();
}

void OECompositionsTableViewController::commitEditingStyle(const std::shared_ptr<UITableView>& tableView,
                                                           UITableViewCellEditingStyle style,
                                                           const NSIndexPath& indexPath) {
    if (style != UITableViewCellEditingStyleDelete) return;
    const auto list = compositionsListForMode(editMode_);
    if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= list.size()) return;
    const bool removed = list[static_cast<std::size_t>(indexPath.row)]->removeDownloaded();
    if (!editMode_) {
        tableView->reloadRowsAtIndexPaths({indexPath}, UITableViewRowAnimationFade);
        return;
    }
    updateEditableList();
    const auto remaining = editableItems().size();
    if (remaining == 0) {
        std::weak_ptr<OECompositionsTableViewController> weak =
            std::static_pointer_cast<OECompositionsTableViewController>(shared_from_this());
        DispatchQueue::mainQueue()->async([weak] {
            if (auto self = weak.lock()) self->reloadData();
        });
    } else if (removed && remaining + 1 == list.size()) {
        tableView->deleteRowsAtIndexPaths({indexPath}, UITableViewRowAnimationFade);
    } else {
        // The file stayed (or the list changed otherwise): the rows are shown again as they are.
        tableView->reloadData();
    }
}

void OECompositionsTableViewController::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                const NSIndexPath& indexPath) {
    tableView->deselectRowAtIndexPath(indexPath, true);
    const auto list = compositionsList();
    if (isSearchEnabled()) {
        if (indexPath.row >= 0 && static_cast<std::size_t>(indexPath.row) < list.size())
            postCompositionSelectedNotification(list[static_cast<std::size_t>(indexPath.row)]);
        return;
    }
    if (indexPath.section == 1) return;
    if (indexPath.row >= 0 && static_cast<std::size_t>(indexPath.row) < list.size())
        postCompositionsPlaylistNotification(list, indexPath.row);
}
