// The phone's playlists.
#include "media/UIPlayListsViewController.h"

#include "media/PlayListNameAlert.h"
#include "media/PlayListSaving.h"
#include "media/UIPlayListCell.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<UIPlayListsViewController> UIPlayListsViewController::initWithStyle(UITableViewStyle style,
                                                                                    std::shared_ptr<PlayListManager> manager,
                                                                                    MusicContext context) {
    return std::make_shared<UIPlayListsViewController>(style, std::move(manager), std::move(context));
}

UIPlayListsViewController::UIPlayListsViewController(UITableViewStyle style, std::shared_ptr<PlayListManager> manager,
                                                     MusicContext context)
    : UITableViewController(style), manager_(std::move(manager)), context_(std::move(context)) {
    playlists_ = manager_->playLists();
}

void UIPlayListsViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    setTitle(OECoreString("Playlists"));
    std::weak_ptr<UIPlayListsViewController> weak = std::static_pointer_cast<UIPlayListsViewController>(shared_from_this());
    navigationItem()->setRightBarButtonItem(makePlainButtonWithImageName(
        std::static_pointer_cast<UIViewController>(shared_from_this()), "media_plus", [weak](const auto&) {
            if (auto self = weak.lock()) self->addPlayList();
        }));
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
    view()->setBackgroundColor(context_.backgroundColor());
}

void UIPlayListsViewController::viewWillAppear(bool animated) {
    UITableViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, animated);
}

void UIPlayListsViewController::addPlayList() {
    std::weak_ptr<UIPlayListsViewController> weak = std::static_pointer_cast<UIPlayListsViewController>(shared_from_this());
    PlayListNameAlert::present(self<UIViewController>(), [weak](const std::string& name) {
        if (auto self = weak.lock()) self->createPlaylistWithText(name);
    });
}

void UIPlayListsViewController::createPlaylistWithText(const std::string& name) {
    editingPlayList_ = PlayListManager::createPlayList(name);
    auto navigation = navigationController();
    if (!navigation) return;
    auto picker = UIAllCompositionsViewController::initWithSource(manager_->source(), {}, context_);
    picker->setTitle(name);
    picker->setDelegate(std::static_pointer_cast<UIPlayListsViewController>(shared_from_this()));
    navigation->pushViewController(picker, true);
}

void UIPlayListsViewController::updatePlayLists() {
    playlists_ = manager_->playLists();
    tableView()->reloadData();
}

void UIPlayListsViewController::allCompositionsSelectedCompositions(const std::shared_ptr<UIAllCompositionsViewController>&,
                                                                    const MediaItems& selected) {
    if (!editingPlayList_) return;
    editingPlayList_->items.insert(editingPlayList_->items.end(), selected.begin(), selected.end());
    PlayListSaving::saveOrTell(*manager_, *editingPlayList_);
    editingPlayList_ = nullptr;
    updatePlayLists();
}

void UIPlayListsViewController::playListChanged(const std::shared_ptr<PlayList>& list) {
    PlayListSaving::saveOrTell(*manager_, *list);
    updatePlayLists();
}

long UIPlayListsViewController::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    return static_cast<long>(playlists_.size());
}

std::shared_ptr<UITableViewCell> UIPlayListsViewController::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    auto cell = std::dynamic_pointer_cast<UIPlayListCell>(tableView->dequeueReusableCellWithIdentifier("Cell"));
    if (!cell) cell = UIPlayListCell::initWithStyle(UITableViewCellStyleSubtitle, "Cell");
    if (indexPath.row >= 0 && static_cast<std::size_t>(indexPath.row) < playlists_.size()) {
        const auto& list = playlists_[static_cast<std::size_t>(indexPath.row)];
        cell->setPlayList(list);
        cell->textLabel()->setText(list->name);
        cell->detailTextLabel()->setText(
            NSString::format(OECoreString("tracks: %ld"), static_cast<long>(list->items.size())));
    }
    return cell;
}

void UIPlayListsViewController::commitEditingStyle(const std::shared_ptr<UITableView>& tableView,
                                                   UITableViewCellEditingStyle style, const NSIndexPath& indexPath) {
    if (style != UITableViewCellEditingStyleDelete) return;
    if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= playlists_.size()) return;
    const bool deleted = manager_->deletePlayList(*playlists_[static_cast<std::size_t>(indexPath.row)]);
    const auto before = playlists_.size();
    playlists_ = manager_->playLists();
    // The row goes only when the playlist did; otherwise the table shows what is there.
    if (deleted && playlists_.size() + 1 == before)
        tableView->deleteRowsAtIndexPaths({indexPath}, UITableViewRowAnimationFade);
    else
        tableView->reloadData();
}

void UIPlayListsViewController::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                        const NSIndexPath& indexPath) {
    tableView->deselectRowAtIndexPath(indexPath, true);
    if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= playlists_.size()) return;
    auto navigation = navigationController();
    if (!navigation) return;
    auto editor = UIPlayListEditViewController::initWithStyle(UITableViewStylePlain, manager_->source(),
                                                              playlists_[static_cast<std::size_t>(indexPath.row)], context_);
    editor->setDelegate(std::static_pointer_cast<UIPlayListsViewController>(shared_from_this()));
    navigation->pushViewController(editor, true);
}
