// The category browser's shared part: set-up, groupings and the table's delegates.
#include "gallery/UIDBViewController.h"

#include "content/ListOtherSubCat_DataSource.h"
#include "content/Loader.h"
#include "content/dbEntry.h"
#include "gallery/ImageCell_TableViewDelegate.h"
#include "gallery/ResourceLoader.h"
#include "gallery/StandartCellInfo_TableViewDelegate.h"
#include "gallery/UIInfoView.h"
#include "gallery/UIFavoritesImagesViewController.h"
#include "gallery/UIThumbailViewController.h"
#include "platform/foundation/NSBundle.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UITableView.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

UIDBViewController::UIDBViewController(GalleryContext context) : context_(std::move(context)) {
    const auto& config = context_.app.config;
    if (config && config->images()) categories_ = config->images()->imagesCategories();
}

void UIDBViewController::setupWithSource(const std::shared_ptr<DataSource>& source) {
    // The first run marks every picture present now as already seen.
    context_.resources->resetNewImages(source);
    source_ = source;
    mode_ = 0;
    tableDelegates_.clear();
}

void UIDBViewController::loadView() {
    UIViewController::loadView();
    tableView_ = UITableView::initWithFrame(view()->bounds(), UITableViewStylePlain);
    view()->addSubview(tableView_);
}

void UIDBViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    const auto color = backgroundColor();
    const auto background = UIColor::colorWithRed(color.red, color.green, color.blue, color.alpha);
    view()->setBackgroundColor(background);
    sideMenu_addButton(self<UIDBViewController>(), background);
    setupNavBar();
    setupToolbar();
    setupTableView();
    showFirstCategory();
}

void UIDBViewController::setupNavBar() {
    navigationItem()->setTitle(NSLocalizedString("IMAGES_TITLE"));
    std::weak_ptr<UIDBViewController> weakSelf = self<UIDBViewController>();
    navigationItem()->setRightBarButtonItem(UIBarButtonItemCommon::makePlainButtonWithImageName(
        "favorite", self<UIDBViewController>(), [weakSelf](const std::shared_ptr<NSObject>&) {
            if (auto me = weakSelf.lock()) me->showFavorites();
        }));
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
}

void UIDBViewController::setupToolbar() {
    std::vector<std::string> titles;
    for (const auto& category : categories_) titles.push_back(category->title());
    std::weak_ptr<UIDBViewController> weakSelf = self<UIDBViewController>();
    segmentItem_ = UIBarButtonItemCommon::makeSegmentedBarButtonItemWithSegments(
        titles, static_cast<int>(mode_), self<UIDBViewController>(), [weakSelf](const std::shared_ptr<NSObject>& sender) {
            if (auto me = weakSelf.lock()) me->segmentChanged(sender);
        });
    setToolbarItems({UIBarButtonItemCommon::makeFlexButton(), segmentItem_, UIBarButtonItemCommon::makeFlexButton()});
}

std::shared_ptr<UISegmentedControl> UIDBViewController::segmentedControl() const {
    return segmentItem_ ? std::dynamic_pointer_cast<UISegmentedControl>(segmentItem_->customView()) : nullptr;
}

void UIDBViewController::setupTableView() {
    tableView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    tableView_->setBackgroundColor(UIColor::clearColor());
}

void UIDBViewController::showFirstCategory() {
    if (categories_.empty()) return;
    updateDelegateWithSource(source_, categories_.front()->identifer());
}

void UIDBViewController::segmentChanged(const std::shared_ptr<NSObject>& sender) {
    if (auto control = std::dynamic_pointer_cast<UISegmentedControl>(sender)) {
        modeChangedTo(control->selectedSegmentIndex());
    }
}

void UIDBViewController::modeChangedTo(std::int64_t mode) {
    if (mode < 0 || mode >= static_cast<std::int64_t>(categories_.size())) return;
    mode_ = mode;
    const std::string& identifier = categories_[static_cast<std::size_t>(mode)]->identifer();
    const auto cached = tableDelegates_.find(identifier);
    if (cached != tableDelegates_.end()) {
        applyTableViewDelegate(cached->second);
    } else {
        regroupForCategory(identifier);
    }
}

void UIDBViewController::regroupForCategory(const std::string& identifier) {
    const auto& app = context_.app;
    auto loader = Loader::loaderWithDBEntry(dbEntry::defaultEntry(app.config ? app.config->database() : nullptr), app);
    updateDelegateWithSource(ListOtherSubCat_DataSource::initWithLoader(loader, identifier), identifier);
}

void UIDBViewController::updateDelegateWithSource(const std::shared_ptr<DataSource>& source, const std::string& key) {
    auto delegate = tableDelegateForGroup(key, source);
    tableDelegates_[key] = delegate;
    applyTableViewDelegate(delegate);
}

std::shared_ptr<TableViewDelegate> UIDBViewController::tableDelegateForGroup(const std::string& identifier,
                                                                             const std::shared_ptr<DataSource>& source) {
    std::shared_ptr<TableViewDelegate> delegate;
    if (identifier == "author") {
        delegate = StandartCellInfo_TableViewDelegate::initWithDataSource(source, context_);
    } else {
        auto pictures = ImageCell_TableViewDelegate::initWithDataSource(source, context_);
        if (UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad) {
            pictures->setCellHeight(kPadCellHeight);
        }
        delegate = pictures;
    }
    delegate->setDelegate(self<UIDBViewController>());
    return delegate;
}

void UIDBViewController::applyTableViewDelegate(const std::shared_ptr<TableViewDelegate>& delegate) {
    currentTableViewDelegate_ = delegate;
    tableView_->setDelegate(delegate);
    tableView_->setDataSource(delegate);
    tableView_->reloadData();
    const NSIndexPath selected = selectedRowIndexPath();
    const long rows = delegate->numberOfRowsInSection(tableView_, selected.section);
    if (rows >= 1 && selected.row < rows - 1) {
        tableView_->scrollToRowAtIndexPath(selected, UITableViewScrollPositionMiddle, false);
    }
}

NSIndexPath UIDBViewController::selectedRowIndexPath() { return NSIndexPath::indexPathForRow(0, 0); }

std::shared_ptr<UIInfoView> UIDBViewController::infoViewForIndexPath(const NSIndexPath& indexPath,
                                                                     const std::shared_ptr<DataSource>& source) const {
    auto info = UIInfoView::initWithContext(context_);
    // Only rows with a description show the button, so the row is there.
    if (auto subCat = subcatInSource(source, indexPath)) {
        const auto& locale = context_.localizations();
        info->setAuthor(locale.localizedNameFieldValue(subCat->data()));
        info->setText(locale.localizedDescriptionFieldValue(subCat->data()));
    }
    return info;
}

void UIDBViewController::showInfoForCell(const std::shared_ptr<UITableViewCell>& cell,
                                         const std::shared_ptr<DataSource>& dataSource) {
    const auto indexPath = tableView_->indexPathForCell(cell);
    if (!indexPath) return;
    presentViewController(UINavigationController::initWithRootViewController(infoViewForIndexPath(*indexPath, dataSource)),
                          true, nullptr);
}

std::shared_ptr<dataSubCat> UIDBViewController::subcatInSource(const std::shared_ptr<DataSource>& source,
                                                               const NSIndexPath& indexPath) {
    if (!source) return nullptr;
    const auto cats = source->catList();
    if (!cats || indexPath.section < 0 || indexPath.section >= static_cast<long>(cats->size())) return nullptr;
    const auto subCats = source->subCatList((*cats)[static_cast<std::size_t>(indexPath.section)]);
    if (!subCats || indexPath.row < 0 || indexPath.row >= static_cast<long>(subCats->size())) return nullptr;
    return (*subCats)[static_cast<std::size_t>(indexPath.row)];
}

std::shared_ptr<UIViewController> UIDBViewController::thumbnailsViewController(
    const std::shared_ptr<dataSubCat>& subCat, const std::shared_ptr<DataSource>& dataSource) {
    return UIThumbailViewController::initWithDataSource(dataSource, subCat, mode() == 0, context_);
}

std::shared_ptr<UIViewController> UIDBViewController::favoritesViewController() {
    return UIFavoritesImagesViewController::make(context_);
}

OEColorConfig::Color UIDBViewController::backgroundColor() const {
    const auto& config = context_.app.config;
    return config && config->color() ? config->color()->backgroundColor() : OEColorConfig::Color::groupTableViewBackground();
}

void UIDBViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(false, animated);
    // Delegates hold the screen weakly; hand it to every kept one again.
    for (const auto& [identifier, delegate] : tableDelegates_) delegate->setDelegate(self<UIDBViewController>());
    tableView_->reloadData();
}
