// The thumbnail screen: its two views, the list and the filter, the mode switch and the way to
// the pager.
#include "gallery/UIThumbailViewController.h"

#include "gallery/PhotoPageViewController.h"
#include "platform/foundation/Diagnostics.h"

#include "content/Filter_DataSource.h"
#include "content/OEFilterStorage.h"
#include "gallery/CellsGallery.h"
#include "gallery/FileListDownloader.h"
#include "gallery/GalleryCellText.h"
#include "gallery/PhotoPageViewController.h"
#include "gallery/UIFilter.h"
#include "gallery/UIImageCell.h"
#include "gallery/UIThumbCollectionCell.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UIToolbar.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <cmath>
#include <cstdio>

namespace {
const ContentRows kNoImages;
}  // namespace

std::shared_ptr<UIThumbailViewController> UIThumbailViewController::initWithDataSource(
    std::shared_ptr<DataSource> dataSource, std::shared_ptr<::dataSubCat> subCat, bool alowFilter,
    GalleryContext context) {
    return std::make_shared<UIThumbailViewController>(std::move(dataSource), std::move(subCat), alowFilter,
                                                      std::move(context));
}

UIThumbailViewController::UIThumbailViewController(std::shared_ptr<DataSource> dataSource,
                                                   std::shared_ptr<::dataSubCat> subCat, bool alowFilter,
                                                   GalleryContext context)
    : context_(std::move(context)), originalDataSource_(std::move(dataSource)), dataSubCat_(std::move(subCat)),
      alowFilter_(alowFilter) {}

UIThumbailViewController::~UIThumbailViewController() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

const ContentRows& UIThumbailViewController::images() const { return images_ ? *images_ : kNoImages; }

// --- Building -------------------------------------------------------------------------------

void UIThumbailViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    navigationItem()->setTitle(dataSubCat_ ? context_.localizations().localizedNameFieldValue(dataSubCat_->data()) : "");
    if (auto navigation = navigationController()) {
        navigation->navigationBar()->setTranslucent(true);
        navigation->toolbar()->setTranslucent(true);
    }
    const auto& config = context_.app.config;
    const auto color = config && config->color() ? config->color()->backgroundColor()
                                                 : OEColorConfig::Color::groupTableViewBackground();
    view()->setBackgroundColor(UIColor::colorWithRed(color.red, color.green, color.blue, color.alpha));

    createListView();
    createGridView();
    view()->addSubview(gridView_);
    setMultilineTitle(self<UIThumbailViewController>());

    loadData();
    std::weak_ptr<UIThumbailViewController> weakSelf = self<UIThumbailViewController>();
    NSNotificationCenter::defaultCenter()->addObserver(
        self<UIThumbailViewController>(),
        [weakSelf](const NSNotification&) {
            if (auto me = weakSelf.lock()) me->dataUpdated();
        },
        kMessageDataUpdated, nullptr);
}

CGRect UIThumbailViewController::calcFrame() { return view()->bounds(); }

CGFloat UIThumbailViewController::widthWitItemsInRow(CGFloat width) {
    const CGFloat columns = std::max<CGFloat>(1, std::floor(width / 95));
    return std::floor((width - 10 - (2 * columns - 2)) / columns);
}

void UIThumbailViewController::createGridView() {
    auto layout = UICollectionViewFlowLayout::make();
    if (GalleryCellText::isPhone()) {
        layout->setMinimumInteritemSpacing(2);
        layout->setMinimumLineSpacing(2);
    }
    gridView_ = UICollectionView::initWithFrame(calcFrame(), layout);
    gridView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    gridView_->setBackgroundColor(UIColor::clearColor());
    gridView_->setAlwaysBounceVertical(true);
    gridView_->setAllowsSelection(true);
    gridView_->registerCellFactory([] { return UIThumbCollectionCell::initWithFrame(CGRectZero); },
                                   UIThumbCollectionCell::kReuseIdentifier);
    gridView_->setDataSource(self<UIThumbailViewController>());
    gridView_->setDelegate(self<UIThumbailViewController>());
}

void UIThumbailViewController::createListView() {
    listView_ = UITableView::initWithFrame(calcFrame(), UITableViewStylePlain);
    listView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    listView_->setBackgroundColor(UIColor::clearColor());
    listView_->setDataSource(self<UIThumbailViewController>());
    listView_->setDelegate(self<UIThumbailViewController>());
}

void UIThumbailViewController::loadData() {
    loadingIndicator_ = showActivityIndicator(self<UIThumbailViewController>());
    std::weak_ptr<UIThumbailViewController> weakSelf = self<UIThumbailViewController>();
    DispatchQueue::mainQueue()->async([weakSelf] {
        auto me = weakSelf.lock();
        if (!me) return;
        me->checkFilter();
        me->configureTollbarItems(me->allImagesPaths());
        me->setToolbarItems(me->toolbaritems_, false);
        if (me->loadingIndicator_) me->loadingIndicator_->removeFromSuperview();
        me->loadingIndicator_.reset();
    });
}

void UIThumbailViewController::configureTollbarItems(const std::vector<std::string>& paths) {
    std::weak_ptr<UIThumbailViewController> weakSelf = self<UIThumbailViewController>();
    auto flex = UIBarButtonItemCommon::makeFlexButton();
    auto downloadAll = UIBarButtonItemCommon::makePlainButtonWithTitle(
        FileListDownloader::localized("Download All"), self<UIThumbailViewController>(),
        [weakSelf](const std::shared_ptr<NSObject>&) {
            if (auto me = weakSelf.lock()) me->downloadAllImagesClick();
        });
    auto fixed = UIBarButtonItemCommon::makeFixedButtonWithWidth(90);
    auto segments = UIBarButtonItemCommon::makeSegmentedBarButtonItemWithSegments(
        {NSLocalizedStringFromTable("Matrix", "Core"), NSLocalizedStringFromTable("List", "Core")},
        static_cast<int>(selectedMode_), self<UIThumbailViewController>(),
        [weakSelf](const std::shared_ptr<NSObject>& sender) {
            if (auto me = weakSelf.lock()) me->segmentChanged(sender);
        });
    if (context_.resources && context_.resources->allImagesExists(paths))
        toolbaritems_ = {flex, segments, UIBarButtonItemCommon::makeFlexButton()};
    else if (UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad)
        toolbaritems_ = {fixed, flex, segments, UIBarButtonItemCommon::makeFlexButton(), downloadAll};
    else
        toolbaritems_ = {segments, flex, downloadAll};
}

std::vector<std::string> UIThumbailViewController::allImagesPaths() const {
    std::vector<std::string> paths;
    const auto rows = filteredDataSource_ ? filteredDataSource_->list(dataSubCat_) : nullptr;
    if (!rows) return paths;
    const bool low = context_.resources && context_.resources->useLowImages();
    paths.reserve(rows->size());
    for (const auto& row : *rows) {
        const std::string path = row.get("imagePath").stringValue();
        paths.push_back(low ? "low_" + path : path);
    }
    return paths;
}

// --- Download all ---------------------------------------------------------------------------

void UIThumbailViewController::downloadAllImagesClick() {
    const std::string name = dataSubCat_ ? context_.localizations().localizedNameFieldValue(dataSubCat_->data()) : "";
    std::weak_ptr<UIThumbailViewController> weakSelf = self<UIThumbailViewController>();
    showAskAlertWithMessage(
        self<UIThumbailViewController>(),
        NSString::format(
            NSLocalizedStringFromTable("Do yoy realy want do download all images from category \"%@\"?", "Core"), name),
        [weakSelf] {
            if (auto me = weakSelf.lock()) me->downloadAllImages();
        });
}

void UIThumbailViewController::downloadAllImages() {
    if (listDownloader_ && listDownloader_->isRunning()) return;
    const std::vector<std::string> paths = allImagesPaths();
    listDownloader_ = FileListDownloader::initWithArray(paths, context_, context_.idle);
    auto fetched = std::make_shared<long>(0);
    std::weak_ptr<UIThumbailViewController> weakSelf = self<UIThumbailViewController>();
    listDownloader_->startDownload(
        [weakSelf, paths, fetched, resources = context_.resources] {
            // The menu's download row and the count follow what arrived, whether or not the
            // screen is still there.
            if (*fetched > 0 && resources) {
                DispatchQueue::mainQueue()->async([resources] { resources->postDataChanged(); });
            }
            auto me = weakSelf.lock();
            if (!me) return;
            me->listDownloader_.reset();
            // Something still missing (a failure, a cancel): the item stays for another try.
            if (!resources || !resources->allImagesExists(paths)) return;
            me->selectedMode_ = me->listView_->superview() ? kModeList : kModeGrid;
            me->configureTollbarItems(paths);
            me->setToolbarItems(me->toolbaritems_, true);
        },
        [fetched, counter = context_.downloads](const std::string&) {
            ++*fetched;
            if (counter) counter->fileDownloaded();
        });
}

// --- Appearance -----------------------------------------------------------------------------

void UIThumbailViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(false, false);
    // Both, so a "new" sign gone while the pager showed its picture is gone from either.
    listView_->reloadData();
    gridView_->reloadData();
}

void UIThumbailViewController::viewDidAppear(bool animated) {
    UIViewController::viewDidAppear(animated);
    setToolbarItems(toolbaritems_, animated);
}

void UIThumbailViewController::willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation,
                                                                         double duration) {
    UIViewController::willAnimateRotationToInterfaceOrientation(orientation, duration);
    gridView_->performBatchUpdates(nullptr, nullptr);
}

// --- The list and the filter ----------------------------------------------------------------

void UIThumbailViewController::reloadData() {
    if (listView_->superview()) listView_->reloadData();
    else gridView_->reloadData();
}

void UIThumbailViewController::dataUpdated() {
    images_ = filteredDataSource_ ? filteredDataSource_->list(dataSubCat_) : nullptr;
    reloadData();
}

void UIThumbailViewController::setDataSource(std::shared_ptr<DataSource> dataSource) {
    originalDataSource_ = std::move(dataSource);
    setFilterOff();
    filter_.clear();
    // A filter chosen over the old source means nothing over the new one.
    if (alowFilter_) updateFilterButton();
    dataUpdated();
}

void UIThumbailViewController::checkFilter() {
    if (!alowFilter_) {
        setFilterOff();
        dataUpdated();
        return;
    }
    const auto stored = dataSubCat_ ? OEFilterStorage::filterForSubCat(*context_.app.fileSystem, dataSubCat_) : std::nullopt;
    filterSelectedItems(stored.value_or(std::vector<std::string>{}));
}

void UIThumbailViewController::filterSelectedItems(const std::vector<std::string>& values) {
    filter_ = values;
    if (!values.empty()) setFilterOn(context_.localizations().localizedAuthorField(), values);
    else setFilterOff();
    dataUpdated();
    updateFilterButton();
}

void UIThumbailViewController::updateFilterButton() {
    std::weak_ptr<UIThumbailViewController> weakSelf = self<UIThumbailViewController>();
    auto item = makePlainButtonWithImageName(self<UIThumbailViewController>(), filter_.empty() ? "filter_off" : "filter_on",
                                             [weakSelf](const std::shared_ptr<NSObject>&) {
                                                 if (auto me = weakSelf.lock()) me->filterClick();
                                             });
    // In use or not, it says so to those who do not see the image.
    setAccessibilityToggle(*item, !filter_.empty());
    navigationItem()->setRightBarButtonItem(item);
}

void UIThumbailViewController::filterClick() {
    auto filter = UIFilter::filterWithDataSource(originalDataSource_, dataSubCat_,
                                                 context_.localizations().localizedAuthorField(), filter_, context_);
    filter->setDelegate(self<UIThumbailViewController>());
    auto navigation = UINavigationController::initWithRootViewController(filter);
    const bool pad = UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
    navigation->setModalPresentationStyle(pad ? UIModalPresentationStyle::FormSheet
                                              : UIModalPresentationStyle::FullScreen);
    presentViewController(navigation, true, nullptr);
}

void UIThumbailViewController::setFilterOn(const std::string& field, const std::vector<std::string>& values) {
    filteredDataSource_ = Filter_DataSource::initWithDataSource(originalDataSource_, dataSubCat_, field, values);
    if (dataSubCat_ && !OEFilterStorage::saveFilter(*context_.app.fileSystem, values, dataSubCat_)) {
        Diagnostics::notef("The filter of the subcategory %d could not be stored; it applies until the screen closes.",
                           static_cast<int>(dataSubCat_->index()));
    }
}

void UIThumbailViewController::setFilterOff() {
    filteredDataSource_ = originalDataSource_;
    NSErrorPtr error;
    if (dataSubCat_ && !OEFilterStorage::removeFilterForSubCat(*context_.app.fileSystem, dataSubCat_, &error)) {
        Diagnostics::notef("The stored filter of the subcategory %d could not be removed: %s",
                           static_cast<int>(dataSubCat_->index()), error ? error->localizedDescription().c_str() : "");
    }
}

// --- Mode switch ----------------------------------------------------------------------------

void UIThumbailViewController::segmentChanged(const std::shared_ptr<NSObject>& sender) {
    if (auto control = std::dynamic_pointer_cast<UISegmentedControl>(sender)) switchToMode(control->selectedSegmentIndex());
}

void UIThumbailViewController::switchToMode(long mode) {
    listView_->setFrame(calcFrame());
    gridView_->setFrame(calcFrame());
    UIView::beginAnimations("");
    UIView::setAnimationDuration(kModeSwitchDuration);
    const bool up = static_cast<long>(selectedMode_) < mode;
    UIView::setAnimationTransition(up ? UIViewAnimationTransitionCurlUp : UIViewAnimationTransitionCurlDown, view(), true);
    // Set before the reload: the rows it fills carry their information buttons in list mode.
    selectedMode_ = static_cast<unsigned long>(mode);
    if (mode == kModeList) {
        gridView_->removeFromSuperview();
        listView_->reloadData();
        view()->addSubview(listView_);
    } else if (mode == kModeGrid) {
        listView_->removeFromSuperview();
        gridView_->reloadData();
        view()->addSubview(gridView_);
    }
    UIView::commitAnimations();
}

// --- The pager ------------------------------------------------------------------------------

void UIThumbailViewController::showImage(std::size_t index) {
    if (index >= images().size()) return;
    if (auto pager = photoControllerForImage(index)) showPhotoController(pager);
}

void UIThumbailViewController::slideShowClick() {
    if (images().empty()) return;
    auto pager = PhotoPageViewController::initWithImagesData(std::make_shared<const ContentRows>(images()), dataSubCat_, 0,
                                                             context_);
    if (!pager) return;
    pager->setSlideShow(true);
    showPhotoController(pager);
}

std::shared_ptr<UIViewController> UIThumbailViewController::photoControllerForImage(std::size_t index) {
    auto pager = PhotoPageViewController::initWithImagesData(std::make_shared<const ContentRows>(images()), dataSubCat_,
                                                             static_cast<std::int64_t>(index), context_);
    if (pager) pager->setDataSource(dataSource());
    return pager;
}

void UIThumbailViewController::showPhotoController(const std::shared_ptr<UIViewController>& controller) {
    if (UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad) {
        auto navigation = UINavigationController::initWithRootViewController(controller);
        navigation->setModalTransitionStyle(UIModalTransitionStyle::CrossDissolve);
        navigation->setModalPresentationStyle(UIModalPresentationStyle::FullScreen);
        std::shared_ptr<UIViewController> presenter = splitViewController();
        if (!presenter) presenter = self<UIThumbailViewController>();
        presenter->presentViewController(navigation, true, nullptr);
        return;
    }
    if (auto navigation = navigationController()) navigation->pushViewController(controller, true);
}

// --- The grid -------------------------------------------------------------------------------

long UIThumbailViewController::numberOfItemsInSection(const std::shared_ptr<UICollectionView>&, long) {
    return static_cast<long>(images().size());
}

std::shared_ptr<UICollectionViewCell> UIThumbailViewController::cellForItemAtIndexPath(
    const std::shared_ptr<UICollectionView>& collectionView, const NSIndexPath& indexPath) {
    auto cell = std::static_pointer_cast<UIThumbCollectionCell>(
        collectionView->dequeueReusableCellWithReuseIdentifier(UIThumbCollectionCell::kReuseIdentifier, indexPath));
    const auto index = static_cast<std::size_t>(indexPath.row);
    if (index < images().size()) {
        configureThumbImageView(cell->imageView(), images()[index], index);
        setAccessibilityLabel(*cell, GalleryCellText::localizedName(context_.localizations(), images()[index]));
    }
    cell->setIndexPath(indexPath);
    std::weak_ptr<UIThumbailViewController> weakSelf = self<UIThumbailViewController>();
    cell->setSelectBlock([weakSelf](const NSIndexPath& selected) {
        if (auto me = weakSelf.lock()) me->showImage(static_cast<std::size_t>(selected.row));
    });
    return cell;
}

std::optional<CGSize> UIThumbailViewController::sizeForItemAtIndexPath(
    const std::shared_ptr<UICollectionView>& collectionView, const NSIndexPath&) {
    if (!GalleryCellText::isPhone()) return CGSize{kPadItemSide, kPadItemSide};
    const CGFloat side = widthWitItemsInRow(collectionView->frame().size.width);
    return CGSize{side, side};
}

std::optional<UIEdgeInsets> UIThumbailViewController::insetForSectionAtIndex(const std::shared_ptr<UICollectionView>&,
                                                                              long) {
    return UIEdgeInsets{5, 5, 5, 5};
}

void UIThumbailViewController::didSelectItemAtIndexPath(const std::shared_ptr<UICollectionView>& collectionView,
                                                        const NSIndexPath& indexPath) {
    // The cell already opened the pager; left selected, it would open it again when redrawn.
    collectionView->deselectItemAtIndexPath(indexPath, false);
}

// --- The list -------------------------------------------------------------------------------

long UIThumbailViewController::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    return static_cast<long>(images().size());
}

std::shared_ptr<UITableViewCell> UIThumbailViewController::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    const std::string identifier = CellsGallery::reuseIdentifierAtIndex(CellsGallery::kImageCellPosters);
    auto cell = std::dynamic_pointer_cast<UIImageCell>(tableView->dequeueReusableCellWithIdentifier(identifier));
    if (!cell) {
        cell = std::dynamic_pointer_cast<UIImageCell>(CellsGallery::cellAtIndex(CellsGallery::kImageCellPosters));
        if (GalleryCellText::isPhone()) cell->mainText()->setFont(UIFont::systemFontOfSize(16));
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
        // These rows carry no information button of the cell's own.
        cell->infoButton()->setHidden(true);
    }
    const auto index = static_cast<std::size_t>(indexPath.row);
    const Value::Dictionary& image = index < images().size() ? images()[index] : Value::Dictionary{};
    configureThumbImageView(cell->image(), image, index);
    cell->mainText()->setText(context_.localizations().localizedAuthorFieldValue(image));
    cell->detailText()->setText(context_.localizations().localizedNameFieldValue(image));
    return cell;
}

CGFloat UIThumbailViewController::heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {
    return kListRowHeight;
}

void UIThumbailViewController::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                       const NSIndexPath& indexPath) {
    tableView->deselectRowAtIndexPath(indexPath, true);
    showImage(static_cast<std::size_t>(indexPath.row));
}
