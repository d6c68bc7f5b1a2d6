// One playlist's tracks.
#include "media/UIPlayListEditViewController.h"

#include "media/MediaPlayerItem.h"
#include "media/OECompositionsTableViewController.h"
#include "media/UICompositionCell.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<UIPlayListEditViewController> UIPlayListEditViewController::initWithStyle(
    UITableViewStyle style, std::shared_ptr<CompositionsSource> source, std::shared_ptr<PlayList> playlist,
    MusicContext context) {
    return std::make_shared<UIPlayListEditViewController>(style, std::move(source), std::move(playlist), std::move(context));
}

UIPlayListEditViewController::UIPlayListEditViewController(UITableViewStyle style,
                                                           std::shared_ptr<CompositionsSource> source,
                                                           std::shared_ptr<PlayList> playlist, MusicContext context)
    : UITableViewController(style), source_(std::move(source)), playlist_(std::move(playlist)), context_(std::move(context)) {}

void UIPlayListEditViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    navigationItem()->setRightBarButtonItem(editButtonItem());
    setTitle(playlist_->name);
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
    view()->setBackgroundColor(context_.backgroundColor());
    std::weak_ptr<UIPlayListEditViewController> weak =
        std::static_pointer_cast<UIPlayListEditViewController>(shared_from_this());
    addButton_ = makePlainButtonWithTitle(std::static_pointer_cast<UIViewController>(shared_from_this()),
                                          OECoreString("Add"), [weak](const auto&) {
                                              if (auto self = weak.lock()) self->addClick();
                                          });
}

void UIPlayListEditViewController::viewDidAppear(bool animated) {
    UITableViewController::viewDidAppear(animated);
    if (UIDevice::currentDevice()->userInterfaceIdiom() != UIUserInterfaceIdiom::Phone)
        navigationItem()->setLeftBarButtonItem(addButton_);
}

void UIPlayListEditViewController::setEditing(bool editing, bool animated) {
    UITableViewController::setEditing(editing, animated);
    if (UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Phone)
        navigationItem()->setLeftBarButtonItem(editing ? addButton_ : nullptr, animated);
}

void UIPlayListEditViewController::addClick() {
    auto navigation = navigationController();
    if (!navigation) return;
    auto picker = UIAllCompositionsViewController::initWithSource(source_, playlist_->items, context_);
    picker->setDelegate(std::static_pointer_cast<UIPlayListEditViewController>(shared_from_this()));
    navigation->pushViewController(picker, true);
}

void UIPlayListEditViewController::allCompositionsSelectedCompositions(const std::shared_ptr<UIAllCompositionsViewController>&,
                                                                       const MediaItems& selected) {
    playlist_->items = selected;
    changed();
    tableView()->reloadData();
}

void UIPlayListEditViewController::changed() {
    if (auto delegate = delegate_.lock()) delegate->playListChanged(playlist_);
}

long UIPlayListEditViewController::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    return static_cast<long>(playlist_->items.size());
}

std::shared_ptr<UITableViewCell> UIPlayListEditViewController::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    auto cell = std::dynamic_pointer_cast<UICompositionCell>(tableView->dequeueReusableCellWithIdentifier("Cell"));
    if (!cell) cell = UICompositionCell::initWithReuseIdentifier("Cell");
    if (indexPath.row >= 0 && static_cast<std::size_t>(indexPath.row) < playlist_->items.size())
        cell->setParamsFrom(playlist_->items[static_cast<std::size_t>(indexPath.row)], context_);
    return cell;
}

void UIPlayListEditViewController::commitEditingStyle(const std::shared_ptr<UITableView>& tableView,
                                                      UITableViewCellEditingStyle style, const NSIndexPath& indexPath) {
    if (style != UITableViewCellEditingStyleDelete) return;
    auto& items = playlist_->items;
    if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= items.size()) return;
    items.erase(items.begin() + indexPath.row);
    tableView->deleteRowsAtIndexPaths({indexPath}, UITableViewRowAnimationFade);
    changed();
}

void UIPlayListEditViewController::moveRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& from,
                                                      const NSIndexPath& to) {
    auto& items = playlist_->items;
    if (from.row < 0 || static_cast<std::size_t>(from.row) >= items.size() || to.row < 0 ||
        static_cast<std::size_t>(to.row) >= items.size())
        return;
    auto item = items[static_cast<std::size_t>(from.row)];
    items.erase(items.begin() + from.row);
    items.insert(items.begin() + to.row, item);
    changed();
}

void UIPlayListEditViewController::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) {
    tableView->deselectRowAtIndexPath(indexPath, true);
    Value::Array items;
    for (const auto& item : playlist_->items) items.push_back(Value(item));
    NSNotificationCenter::defaultCenter()->postNotificationName(
        CompositionsPlayList, nullptr, Value::Dictionary{{"list", Value(items)}, {"index", Value(indexPath.row)}});
}
