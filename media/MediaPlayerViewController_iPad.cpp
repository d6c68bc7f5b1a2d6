// The pad's player screen.
#include "media/MediaPlayerViewController_iPad.h"

#include "content/FileDownloader.h"
#include "content/SQLiteEngine.h"
#include "media/MediaPlayerItem.h"
#include "media/MediaPlayerViews.h"
#include "media/OEControlsHandler.h"
#include "media/OEProgressHandler.h"
#include "media/OETitleViewHandler.h"
#include "media/PlayListManager.h"
#include "media/SearchProtocol.h"
#include "media/UICatGridViewController.h"
#include "media/UICompositionsListViewController.h"
#include "media/UIPlaylistsGridViewController.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSNotification.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"

std::shared_ptr<MediaPlayerViewController_iPad> MediaPlayerViewController_iPad::initWithMediaPlayerController(
    std::shared_ptr<MediaPlayerController> controller, std::shared_ptr<SQLiteEngine> sql, MusicContext context) {
    return std::make_shared<MediaPlayerViewController_iPad>(std::move(controller), std::move(sql), std::move(context));
}

MediaPlayerViewController_iPad::MediaPlayerViewController_iPad(std::shared_ptr<MediaPlayerController> controller,
                                                               std::shared_ptr<SQLiteEngine> sql, MusicContext context)
    : MediaPlayerViewController(std::move(controller), std::move(context)),
      sql_(std::move(sql)),
      contentCategories_{OECoreString("Playlists"), OECoreString("Songs")} {}

std::shared_ptr<UISearchBar> MediaPlayerViewController_iPad::searchBar() {
    if (!searchBar_) {
        searchBar_ = UISearchBar::initWithFrame(CGRectMake(0, 0, kSearchBarWidth, kSearchBarHeight));
        searchBar_->setDelegate(self<MediaPlayerViewController_iPad>());
    }
    return searchBar_;
}

std::shared_ptr<CompositionsSource> MediaPlayerViewController_iPad::compositionsSourceWithTableName(const std::string& table) {
    return DB_CompositionsSource::initWithSQL(sql_, table, context().media);
}

std::shared_ptr<UICatGridViewController> MediaPlayerViewController_iPad::gridControllerForTable(const std::string& table) {
    return UICatGridViewController::initWithSource(compositionsSourceWithTableName(table), context());
}

std::shared_ptr<UIViewController> MediaPlayerViewController_iPad::controllerForCategory(long index) {
    switch (index) {
    case kPlaylists: return makePlaylistsVC();
    case kSongs: return makeSongsVC();
    case kAuthors: return makeAuthorsVC();
    case kGenres: return makeGenresVC();
    default: return nullptr;
    }
}

std::shared_ptr<UIViewController> MediaPlayerViewController_iPad::makePlaylistsVC() {
    auto grid = UIPlaylistsGridViewController::initWithManager(PlayListManager::initWithSource(authorsCompositionsSource()),
                                                               context());
    grid->setTitle(OECoreString("Playlists"));
    return grid;
}

std::shared_ptr<UIViewController> MediaPlayerViewController_iPad::makeSongsVC() {
    auto list = UICompositionsListViewController::initWithDataSource(authorsCompositionsSource(), context());
    list->setTitle(OECoreString("Songs"));
    std::weak_ptr<MediaPlayerViewController_iPad> weak = self<MediaPlayerViewController_iPad>();
    // The trash button goes with the last downloaded song.
    list->setDeleteItemBlock([weak] {
        if (auto screen = weak.lock()) screen->setToolbarItems(screen->constructTollbar());
    });
    return list;
}

std::shared_ptr<UIViewController> MediaPlayerViewController_iPad::makeAuthorsVC() {
    auto grid = gridControllerForTable("author");
    grid->setTitle(OECoreString("Author"));
    return grid;
}

std::shared_ptr<UIViewController> MediaPlayerViewController_iPad::makeGenresVC() {
    auto grid = gridControllerForTable("genres");
    grid->setTitle(OECoreString("Genre"));
    return grid;
}

void MediaPlayerViewController_iPad::loadView() {
    MediaPlayerViewController::loadView();
    setupContentViewHolder();
    setupHeaderView();
    setupConstraints();
}

void MediaPlayerViewController_iPad::setupContentViewHolder() {
    contentHolder_ = UIView::make();
    contentHolder_->setTranslatesAutoresizingMaskIntoConstraints(false);
    contentHolder_->setClipsToBounds(true);
    view()->addSubview(contentHolder_);
}

void MediaPlayerViewController_iPad::setupHeaderView() {
    headerView_ = MediaPlayerViews::loadPadHeader();
    headerView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    view()->addSubview(headerView_);
    controlsHandler()->setControlsView(headerView_);
    progressHandler()->setProgressView(headerView_);
    titleHandler()->setTitleView(headerView_);
}

void MediaPlayerViewController_iPad::setupConstraints() {
    auto root = view();
    auto safe = root->safeAreaLayoutGuide();
    NSLayoutConstraint::activateConstraints({
        headerView_->leftAnchor()->constraintEqualToAnchor(root->leftAnchor()),
        headerView_->rightAnchor()->constraintEqualToAnchor(root->rightAnchor()),
        headerView_->topAnchor()->constraintEqualToAnchor(safe->topAnchor()),
        headerView_->heightAnchor()->constraintEqualToConstant(headerView_->frame().size.height),
        contentHolder_->topAnchor()->constraintEqualToAnchor(headerView_->bottomAnchor()),
        contentHolder_->leftAnchor()->constraintEqualToAnchor(root->leftAnchor()),
        contentHolder_->rightAnchor()->constraintEqualToAnchor(root->rightAnchor()),
        contentHolder_->bottomAnchor()->constraintEqualToAnchor(safe->bottomAnchor()),
    });
}

void MediaPlayerViewController_iPad::viewDidLoad() {
    MediaPlayerViewController::viewDidLoad();
    // The full-screen tap lies over the song list and the grids here: it must leave their rows
    // and tiles their taps.
    for (const auto& recognizer : view()->gestureRecognizers())
        if (std::dynamic_pointer_cast<UITapGestureRecognizer>(recognizer)) recognizer->setCancelsTouchesInView(false);
    auto me = self<MediaPlayerViewController_iPad>();
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(
        me,
        [this](const NSNotification&) {
            // The trash button follows the downloads.
            if (hasAppeared()) setToolbarItems(constructTollbar());
        },
        FileDownloader::kQueueChangedMessage);
    center->addObserver(me, &MediaPlayerViewController_iPad::detailWillShow, GridControllerDetailWillShow);
    center->addObserver(me, &MediaPlayerViewController_iPad::detailWillHide, GridControllerDetailWillHide);
    mainViewController_ = controllerForCategory(kSongs);
    showMainController();
}

void MediaPlayerViewController_iPad::viewWillAppear(bool animated) {
    MediaPlayerViewController::viewWillAppear(animated);
    if (mainViewController_) mainViewController_->beginAppearanceTransition(true, false);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(false, animated);
}

void MediaPlayerViewController_iPad::viewDidAppear(bool animated) {
    MediaPlayerViewController::viewDidAppear(animated);
    if (toolbarItems().empty()) setToolbarItems(constructTollbar(), animated);
    if (mainViewController_) mainViewController_->endAppearanceTransition();
}

void MediaPlayerViewController_iPad::viewWillDisappear(bool animated) {
    MediaPlayerViewController::viewWillDisappear(animated);
    if (mainViewController_) mainViewController_->beginAppearanceTransition(false, false);
}

void MediaPlayerViewController_iPad::viewDidDisappear(bool animated) {
    MediaPlayerViewController::viewDidDisappear(animated);
    if (mainViewController_) mainViewController_->endAppearanceTransition();
}

void MediaPlayerViewController_iPad::viewWillTransitionToSize(
    CGSize size, const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) {
    MediaPlayerViewController::viewWillTransitionToSize(size, coordinator);
    if (mainViewController_) mainViewController_->viewWillTransitionToSize(size, coordinator);
}

void MediaPlayerViewController_iPad::changeTitleFrom(const std::shared_ptr<MediaPlayerItem>& item) {
    titleHandler()->updateTitle(
        item ? NSString::format("%@ - %@", item->fieldValue("author_name"), item->fieldValue("name")) : "");
}

void MediaPlayerViewController_iPad::showMainController() {
    if (!mainViewController_) return;
    // Appearance is passed on only while the screen is shown; otherwise its own appearance does it.
    const bool onScreen = hasAppeared();
    if (onScreen) mainViewController_->beginAppearanceTransition(true, false);
    auto content = mainViewController_->view();
    content->setTranslatesAutoresizingMaskIntoConstraints(false);
    contentHolder_->addSubview(content);
    NSLayoutConstraint::activateConstraints({
        content->topAnchor()->constraintEqualToAnchor(contentHolder_->topAnchor()),
        content->bottomAnchor()->constraintEqualToAnchor(contentHolder_->bottomAnchor()),
        content->leftAnchor()->constraintEqualToAnchor(contentHolder_->leftAnchor()),
        content->rightAnchor()->constraintEqualToAnchor(contentHolder_->rightAnchor()),
    });
    if (onScreen) mainViewController_->endAppearanceTransition();
    setTitle(mainViewController_->title());
    if (searchBar_ && !searchBar_->text().empty()) handleSearch(searchBar_->text());
}

void MediaPlayerViewController_iPad::catsSelectorChange(long index) {
    selectedCat_ = index;
    if (mainViewController_) {
        const bool onScreen = hasAppeared();
        if (onScreen) mainViewController_->beginAppearanceTransition(false, false);
        if (mainViewController_->isViewLoaded()) mainViewController_->view()->removeFromSuperview();
        if (onScreen) mainViewController_->endAppearanceTransition();
    }
    mainViewController_ = controllerForCategory(index);
    showMainController();
    setToolbarItems(constructTollbar());
}

MediaItems MediaPlayerViewController_iPad::downloadedItems() {
    auto catalogue = authorsCompositionsSource();
    return catalogue ? catalogue->downloadedItems() : MediaItems{};
}

std::vector<std::shared_ptr<UIBarButtonItem>> MediaPlayerViewController_iPad::constructTollbar() {
    std::weak_ptr<MediaPlayerViewController_iPad> weak = self<MediaPlayerViewController_iPad>();
    std::shared_ptr<UIBarButtonItem> left;
    if (selectedCat_ == kSongs && !downloadedItems().empty())
        left = UIBarButtonItemCommon::makeSystemButton(UIBarButtonSystemItemTrash, nullptr, [weak](const auto&) {
            if (auto screen = weak.lock()) screen->trashClick();
        });
    else
        left = UIBarButtonItemCommon::makeFixedButtonWithWidth(kTrashSpace);
    auto selector = UIBarButtonItemCommon::makeSegmentedBarButtonItemWithSegments(
        contentCategories_, static_cast<int>(selectedCat_), nullptr, [weak](const std::shared_ptr<NSObject>& sender) {
            auto screen = weak.lock();
            auto control = std::dynamic_pointer_cast<UISegmentedControl>(sender);
            if (screen && control) screen->catsSelectorChange(control->selectedSegmentIndex());
        });
    return {left, UIBarButtonItemCommon::makeFlexButton(), selector, UIBarButtonItemCommon::makeFlexButton(),
            UIBarButtonItem::initWithCustomView(searchBar())};
}

void MediaPlayerViewController_iPad::trashClick() {
    auto list = std::dynamic_pointer_cast<UICompositionsListViewController>(mainViewController_);
    if (!list) return;
    list->toggleEditingMode();
    if (list->editMode()) list->updateDownloadedList();
    list->tableView()->reloadData();
}

bool MediaPlayerViewController_iPad::isOwnDetail(const NSNotification& notification) const {
    auto grid = std::dynamic_pointer_cast<UIGridViewController>(mainViewController_);
    return grid && grid->currentDetailViewController() && grid->currentDetailViewController() == notification.object();
}

void MediaPlayerViewController_iPad::animateContentHeight() {
    auto root = view();
    UIView::animateWithDuration(kToolbarAnimation, [root] { root->layoutIfNeeded(); });
}

void MediaPlayerViewController_iPad::detailWillShow(const NSNotification& notification) {
    if (!isOwnDetail(notification)) return;
    // The screen sits between the bars: without the toolbar the content area takes its height.
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, true);
    animateContentHeight();
}

void MediaPlayerViewController_iPad::detailWillHide(const NSNotification& notification) {
    if (!isOwnDetail(notification)) return;
    if (auto navigation = navigationController()) navigation->setToolbarHidden(false, true);
    std::weak_ptr<MediaPlayerViewController_iPad> weak = self<MediaPlayerViewController_iPad>();
    DispatchQueue::mainQueue()->after(kToolbarItemsDelay, [weak] {
        if (auto screen = weak.lock()) screen->setToolbarItems(screen->constructTollbar());
    });
    animateContentHeight();
}

void MediaPlayerViewController_iPad::handleSearch(const std::string& text) {
    if (text.empty()) {
        cancelSearch();
        return;
    }
    if (auto list = std::dynamic_pointer_cast<UICompositionsListViewController>(mainViewController_))
        list->handleSearch(text);
}

void MediaPlayerViewController_iPad::cancelSearch() {
    if (auto searching = std::dynamic_pointer_cast<SearchProtocol>(mainViewController_)) searching->cancelSearch();
}

void MediaPlayerViewController_iPad::searchBarTextDidBeginEditing(const std::shared_ptr<UISearchBar>& bar) {
    bar->setShowsCancelButton(true, true);
}

void MediaPlayerViewController_iPad::textDidChange(const std::shared_ptr<UISearchBar>&, const std::string& text) {
    handleSearch(text);
}

void MediaPlayerViewController_iPad::searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>& bar) {
    // The field empties with the search: a text left in it would filter the songs again at the
    // next switch back to them while the list shows everything now.
    bar->setText("");
    cancelSearch();
    bar->setShowsCancelButton(false, true);
    bar->resignFirstResponder();
}
