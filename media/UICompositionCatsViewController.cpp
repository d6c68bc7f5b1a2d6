// The phone's music catalogue.
#include "media/UICompositionCatsViewController.h"

#include "content/FileDownloader.h"
#include "content/SQLiteEngine.h"
#include "media/MediaPlayerItem.h"
#include "media/PlayListManager.h"
#include "media/CompositionsCellsHelper.h"
#include "media/UICompositionsViewController.h"
#include "media/UIPlayListsViewController.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UITableView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBadgeBarButtonItem.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIButtonCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<UICompositionCatsViewController> UICompositionCatsViewController::initWithDb(
    std::shared_ptr<SQLiteEngine> sql, MusicContext context) {
    return std::make_shared<UICompositionCatsViewController>(std::move(sql), std::move(context));
}

UICompositionCatsViewController::UICompositionCatsViewController(std::shared_ptr<SQLiteEngine> sql,
                                                                 MusicContext context)
    : OECompositionsTableViewControllerWithSearch(UITableViewStyleGrouped, nullptr, std::move(context)),
      sql_(std::move(sql)) {}

std::shared_ptr<CompositionsSource> UICompositionCatsViewController::makeSourceForIndex(long index) {
    static const char* const tables[] = {"author", "author", "genres", "countries"};
    const std::string table = index >= 0 && index < 4 ? tables[index] : "";
    return DB_CompositionsSource::initWithSQL(sql_, table, context().media);
}

void UICompositionCatsViewController::updateCompositionsSource() {
    compositionsSource_ = makeSourceForIndex(selectedCatIndex_);
}

void UICompositionCatsViewController::viewDidLoad() {
    updateCompositionsSource();
    OECompositionsTableViewControllerWithSearch::viewDidLoad();
    setTitle(OECoreString("Compositions"));
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
    std::weak_ptr<UICompositionCatsViewController> weak =
        std::static_pointer_cast<UICompositionCatsViewController>(shared_from_this());
    playlistsButton_ = makePlainButtonWithTitle(std::static_pointer_cast<UIViewController>(shared_from_this()),
                                                OECoreString("Playlists"), [weak](const auto&) {
                                                    if (auto self = weak.lock()) self->showPlayLists();
                                                });
    navigationItem()->setRightBarButtonItem(playlistsButton_);
}

void UICompositionCatsViewController::viewWillAppear(bool animated) {
    if (auto navigation = navigationController()) navigation->setToolbarHidden(false, false);
    updateDownloadButtonNumber();
    tableView()->reloadData();
    OECompositionsTableViewControllerWithSearch::viewWillAppear(animated);
}

void UICompositionCatsViewController::viewDidAppear(bool animated) {
    OECompositionsTableViewControllerWithSearch::viewDidAppear(animated);
    updateToolbar(animated);
    updateDownloadStatus();
}

void UICompositionCatsViewController::addNotificationsObservers() {
    OECompositionsTableViewControllerWithSearch::addNotificationsObservers();
    auto self = std::static_pointer_cast<UICompositionCatsViewController>(shared_from_this());
    NSNotificationCenter::defaultCenter()->addObserver(
        self, [this](const NSNotification&) { updateDownloadStatus(); }, FileDownloader::kQueueChangedMessage);
}

void UICompositionCatsViewController::reloadData() {
    OECompositionsTableViewControllerWithSearch::reloadData();
    updateControls();
}

MediaItems UICompositionCatsViewController::sourceItems() {
    return selectedCatIndex_ == 0 && compositionsSource_ ? compositionsSource_->allCompositions() : MediaItems{};
}

void UICompositionCatsViewController::updateEditableList() { updateDownloadedList(); }

void UICompositionCatsViewController::updateDownloadedList() {
    downloadedList_ = compositionsSource_ ? compositionsSource_->downloadedItems() : MediaItems{};
}

std::shared_ptr<UIBadgeBarButtonItem> UICompositionCatsViewController::downloadButton() {
    if (!downloadButton_) {
        std::weak_ptr<UICompositionCatsViewController> weak =
            std::static_pointer_cast<UICompositionCatsViewController>(shared_from_this());
        auto button = UIButtonCommon::makeCustomButtonWithImage("media_download_bar", nullptr, [weak](const auto&) {
            if (auto self = weak.lock()) self->showDownloadingFiles();
        });
        downloadButton_ = UIBadgeBarButtonItem::initWithCustomView(button, downloaderItemsCount(), context().backgroundColor());
    }
    return downloadButton_;
}

long UICompositionCatsViewController::downloaderItemsCount() const {
    const auto& queue = context().downloads;
    return queue ? queue->downloadingFiles() + queue->queuedFiles() : 0;
}

std::vector<std::shared_ptr<UIBarButtonItem>> UICompositionCatsViewController::makeToolbarItems() {
    std::weak_ptr<UICompositionCatsViewController> weak =
        std::static_pointer_cast<UICompositionCatsViewController>(shared_from_this());
    auto badge = downloadButton();
    const CGFloat width = badge->customView() ? badge->customView()->frame().size.width : 0;
    std::shared_ptr<UIBarButtonItem> left;
    if (selectedCatIndex_ == 0 && compositionsSource_ && !compositionsSource_->downloadedItems().empty())
        left = UIBarButtonItemCommon::makeSystemButton(UIBarButtonSystemItemTrash, nullptr, [weak](const auto&) {
            if (auto screen = weak.lock()) screen->trashClick();
        });
    else
        left = UIBarButtonItemCommon::makeFixedButtonWithWidth(width);
    auto selector = UIBarButtonItemCommon::makeSegmentedBarButtonItemWithSegments(
        {OECoreString("Songs"), OECoreString("Author")}, static_cast<int>(selectedCatIndex_), nullptr,
        [weak](const std::shared_ptr<NSObject>& sender) {
            auto screen = weak.lock();
            auto control = std::dynamic_pointer_cast<UISegmentedControl>(sender);
            if (screen && control) screen->catsSelectorChange(control->selectedSegmentIndex());
        });
    std::shared_ptr<UIBarButtonItem> right =
        badge->number() >= 1 && context().makeDownloadsScreen ? std::static_pointer_cast<UIBarButtonItem>(badge)
                                                              : UIBarButtonItemCommon::makeFixedButtonWithWidth(width);
    return {left, UIBarButtonItemCommon::makeFlexButton(), selector, UIBarButtonItemCommon::makeFlexButton(), right};
}

void UICompositionCatsViewController::updateToolbar(bool animated) { setToolbarItems(makeToolbarItems(), animated); }

void UICompositionCatsViewController::updateControls() {
    auto navigation = navigationController();
    if (!editMode()) {
        if (navigation) navigation->setToolbarHidden(false, true);
        navigationItem()->setRightBarButtonItem(playlistsButton_, true);
        updateToolbar(true);
    } else {
        if (navigation) navigation->setToolbarHidden(true, true);
        std::weak_ptr<UICompositionCatsViewController> weak =
            std::static_pointer_cast<UICompositionCatsViewController>(shared_from_this());
        navigationItem()->setRightBarButtonItem(
            makeDoneButton(std::static_pointer_cast<UIViewController>(shared_from_this()), [weak](const auto&) {
                if (auto self = weak.lock()) self->trashClick();
            }),
            true);
    }
}

void UICompositionCatsViewController::catsSelectorChange(long index) {
    selectedCatIndex_ = index;
    updateCompositionsSource();
    reloadData();
    updateToolbar(false);
}

void UICompositionCatsViewController::showPlayLists() {
    auto navigation = navigationController();
    if (!navigation) return;
    auto manager = PlayListManager::initWithSource(compositionsSource_);
    navigation->pushViewController(UIPlayListsViewController::initWithStyle(UITableViewStyleGrouped, manager, context()),
                                   true);
}

void UICompositionCatsViewController::showDownloadingFiles() {
    auto navigation = navigationController();
    if (!navigation || !context().makeDownloadsScreen) return;
    if (auto screen = context().makeDownloadsScreen(compositionsSource_)) navigation->pushViewController(screen, true);
}

void UICompositionCatsViewController::trashClick() {
    toggleEditingMode();
    updateControls();
    if (editMode()) updateDownloadedList();
    tableView()->reloadData();
}

void UICompositionCatsViewController::updateDownloadStatus() {
    auto navigation = navigationController();
    if (!navigation || navigation->presentedViewController() ||
        navigation->topViewController() != shared_from_this())
        return;
    updateDownloadButtonNumber();
    updateToolbar(false);
}

void UICompositionCatsViewController::updateDownloadButtonNumber() { downloadButton()->setNumber(downloaderItemsCount()); }

long UICompositionCatsViewController::numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) {
    if (section == 0 && showsCategories() && !editMode())
        return compositionsSource_ ? static_cast<long>(compositionsSource_->compositionsCats().size()) : 0;
    return OECompositionsTableViewControllerWithSearch::numberOfRowsInSection(tableView, section);
}

std::shared_ptr<UITableViewCell> UICompositionCatsViewController::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    if (showsCategories() && !editMode() && compositionsSource_)
        return catCellInTableView(tableView, indexPath, compositionsSource_->compositionsCats());
    return OECompositionsTableViewControllerWithSearch::cellForRowAtIndexPath(tableView, indexPath);
}

std::shared_ptr<UITableViewCell> UICompositionCatsViewController::catCellInTableView(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath, const CompositionCats& cats) {
    auto cell = tableView->dequeueReusableCellWithIdentifier("Cell");
    if (!cell) {
        cell = UITableViewCell::initWithStyle(UITableViewCellStyleSubtitle, "Cell");
        cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
        CompositionsCellsHelper::configureCommonCellParams(cell);
    }
    if (indexPath.row >= 0 && static_cast<std::size_t>(indexPath.row) < cats.size()) {
        const auto& cat = cats[static_cast<std::size_t>(indexPath.row)];
        cell->textLabel()->setText(cat->name());
        cell->detailTextLabel()->setText(
            CompositionsCellsHelper::compositionsCountText(cat->compositions_count()));
    }
    return cell;
}

bool UICompositionCatsViewController::canEditRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                            const NSIndexPath& indexPath) {
    if (isSearchEnabled()) return OECompositionsTableViewControllerWithSearch::canEditRowAtIndexPath(tableView, indexPath);
    if (selectedCatIndex_ == 1) return false;
    if (selectedCatIndex_ == 0 && !editMode()) {
        const auto list = compositionsList();
        return indexPath.row >= 0 && static_cast<std::size_t>(indexPath.row) < list.size() &&
               list[static_cast<std::size_t>(indexPath.row)]->deletable();
    }
    return OECompositionsTableViewControllerWithSearch::canEditRowAtIndexPath(tableView, indexPath);
}

void UICompositionCatsViewController::commitEditingStyle(const std::shared_ptr<UITableView>& tableView,
                                                         UITableViewCellEditingStyle style, const NSIndexPath& indexPath) {
    OECompositionsTableViewControllerWithSearch::commitEditingStyle(tableView, style, indexPath);
    updateToolbar(false);
}

void UICompositionCatsViewController::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                              const NSIndexPath& indexPath) {
    if (showsCategories() && !editMode()) {
        tableView->deselectRowAtIndexPath(indexPath, true);
        const auto cats = compositionsSource_ ? compositionsSource_->compositionsCats() : CompositionCats{};
        if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= cats.size()) return;
        if (auto navigation = navigationController())
            navigation->pushViewController(UICompositionsViewController::initWithSource(
                                               compositionsSource_, cats[static_cast<std::size_t>(indexPath.row)], context()),
                                           true);
        return;
    }
    OECompositionsTableViewControllerWithSearch::didSelectRowAtIndexPath(tableView, indexPath);
}
