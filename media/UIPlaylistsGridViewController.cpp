// The pad's playlists grid.
#include "media/UIPlaylistsGridViewController.h"

#include "media/CompositionsCellsHelper.h"
#include "media/PlayListNameAlert.h"
#include "media/PlayListSaving.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIWindow.h"
#include "uikit/OEGridView.h"
#include "uikit/UIGridViewWithPageControll.h"

std::shared_ptr<UIPlaylistsGridViewController> UIPlaylistsGridViewController::initWithManager(
    std::shared_ptr<PlayListManager> manager, MusicContext context) {
    return std::make_shared<UIPlaylistsGridViewController>(std::move(manager), std::move(context));
}

UIPlaylistsGridViewController::UIPlaylistsGridViewController(std::shared_ptr<PlayListManager> manager,
                                                             MusicContext context)
    : manager_(std::move(manager)), context_(std::move(context)) {
    updatePlayLists();
}

void UIPlaylistsGridViewController::viewDidLoad() {
    UIGridViewController::viewDidLoad();
    view()->setBackgroundColor(context_.backgroundColor());
}

std::shared_ptr<PlayList> UIPlaylistsGridViewController::playListAt(long index) const {
    const auto& lists = searching_ ? lastSearch_ : playlists_;
    if (index < 0 || static_cast<std::size_t>(index) >= lists.size()) return nullptr;
    return lists[static_cast<std::size_t>(index)];
}

long UIPlaylistsGridViewController::numberOfCellsInGridView(const std::shared_ptr<OEGridView>&) {
    if (searching_) return static_cast<long>(lastSearch_.size());
    return static_cast<long>(playlists_.size()) + 1;
}

std::shared_ptr<OEGridViewCell> UIPlaylistsGridViewController::gridViewCellAtIndex(const std::shared_ptr<OEGridView>&,
                                                                                   unsigned long index) {
    auto cell = UICatGridCell::loadFromCompositionsViews();
    if (auto list = playListAt(static_cast<long>(index))) {
        cell->textLabel()->setText(list->name);
        cell->detailTextLabel()->setText(CompositionsCellsHelper::compositionsCountText(static_cast<long>(list->items.size())));
        cell->imageView()->setImage(UIImage::imageNamed("note"));
        setAccessibilityLabel(*cell, list->name);
        cell->setDelegate(self<UIPlaylistsGridViewController>());
    } else {
        cell->imageView()->setImage(UIImage::imageNamed("note_add"));
        setAccessibilityLabel(*cell, "new playlist");
        cell->textLabel()->setText("");
        cell->detailTextLabel()->setText("");
    }
    // The note is the tile's decoration: its name says what it is.
    setAccessibilityElementsHidden(*cell->imageView(), true);
    return cell;
}

void UIPlaylistsGridViewController::performShow(unsigned long index) {
    if (isCreatingIndex(static_cast<long>(index)) && !editingPlayList_) {
        addPlayList();
        return;
    }
    if (lastEditingCell_) lastEditingCell_->setEditing(false);
    lastEditingCell_.reset();
    UIGridViewController::performShow(index);
}

std::shared_ptr<UIViewController> UIPlaylistsGridViewController::itemDetailsViewController(unsigned long index) {
    std::shared_ptr<UIViewController> detail;
    if (isCreatingIndex(static_cast<long>(index))) {
        if (!editingPlayList_) return nullptr;
        auto picker = UIAllCompositionsViewController::initWithSource(manager_->source(), {}, context_);
        picker->setTitle(editingPlayList_->name);
        picker->setDelegate(self<UIPlaylistsGridViewController>());
        detail = picker;
    } else if (auto list = playListAt(static_cast<long>(index))) {
        auto editor = UIPlayListEditViewController::initWithStyle(UITableViewStylePlain, manager_->source(), list, context_);
        editor->setDelegate(self<UIPlaylistsGridViewController>());
        detail = editor;
    } else {
        return nullptr;
    }
    auto panel = UINavigationController::initWithRootViewController(detail);
    panel->view()->setBackgroundColor(context_.backgroundColor());
    return panel;
}

void UIPlaylistsGridViewController::hideDetail() {
    // A playlist is made only by the picker's Done.
    editingPlayList_.reset();
    UIGridViewController::hideDetail();
}

void UIPlaylistsGridViewController::detailDidDissappear() { reloadGrid(); }

void UIPlaylistsGridViewController::addPlayList() {
    std::weak_ptr<UIPlaylistsGridViewController> weak = self<UIPlaylistsGridViewController>();
    PlayListNameAlert::present(self<UIViewController>(), [weak](const std::string& name) {
        if (auto grid = weak.lock()) grid->createPlaylistWithText(name);
    });
}

void UIPlaylistsGridViewController::createPlaylistWithText(const std::string& name) {
    editingPlayList_ = PlayListManager::createPlayList(name);
    // The name's keyboard has just given its room back to the screen: the panel is centred in
    // the grid as it is laid out now.
    if (auto window = view()->window()) window->layoutIfNeeded();
    performShow(playlists_.size());
}

void UIPlaylistsGridViewController::allCompositionsSelectedCompositions(
    const std::shared_ptr<UIAllCompositionsViewController>&, const MediaItems& selected) {
    if (!editingPlayList_) return;
    editingPlayList_->items.insert(editingPlayList_->items.end(), selected.begin(), selected.end());
    PlayListSaving::saveOrTell(*manager_, *editingPlayList_);
    updatePlayLists();
    hideDetail();
}

void UIPlaylistsGridViewController::playListChanged(const std::shared_ptr<PlayList>& list) {
    PlayListSaving::saveOrTell(*manager_, *list);
    updatePlayLists();
}

void UIPlaylistsGridViewController::performPlayListDelete(const std::shared_ptr<PlayList>& list) {
    // A file that stays is listed again: the grid shows what is there.
    (void)manager_->deletePlayList(*list);
    updatePlayLists();
}

void UIPlaylistsGridViewController::handleSearch(const std::string& text) {
    searching_ = true;
    lastSearchStr_ = text;
    lastSearch_.clear();
    for (const auto& list : playlists_)
        if (list->name.find(text) != std::string::npos) lastSearch_.push_back(list);
    reloadGrid();
}

void UIPlaylistsGridViewController::cancelSearch() {
    searching_ = false;
    lastSearch_.clear();
    lastSearchStr_.clear();
    reloadGrid();
}

void UIPlaylistsGridViewController::catGridCellLongPressed(const std::shared_ptr<UICatGridCell>& cell) {
    if (!cell || isCreatingIndex(cell->index())) return;
    if (cell->editing()) {
        cell->setEditing(false);
        lastEditingCell_.reset();
        return;
    }
    if (lastEditingCell_) lastEditingCell_->setEditing(false);
    cell->setEditing(true);
    lastEditingCell_ = cell;
}

void UIPlaylistsGridViewController::catGridCellPerformDelete(const std::shared_ptr<UICatGridCell>& cell) {
    auto list = cell ? playListAt(cell->index()) : nullptr;
    if (!list) return;
    performPlayListDelete(list);
    if (searching_)
        handleSearch(lastSearchStr_);
    else
        reloadGrid();
}

void UIPlaylistsGridViewController::reloadGrid() {
    // The tiles are made anew: none shows its delete button.
    lastEditingCell_.reset();
    if (!isViewLoaded() || !gridView()) return;
    gridView()->gridView()->reloadData();
    setupPageControl();
}
