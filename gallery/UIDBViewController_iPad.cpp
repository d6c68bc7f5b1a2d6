// The pad category browser's selection memory: the remembered row counts only while the
// grouping delegate it was chosen in drives the table.
#include "gallery/UIDBViewController_iPad.h"

#include "gallery/GallerySearchViewController.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UITableView.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<UIDBViewController_iPad> UIDBViewController_iPad::initWithSource(const std::shared_ptr<DataSource>& source,
                                                                                const GalleryContext& context) {
    auto controller = std::make_shared<UIDBViewController_iPad>(context);
    controller->setupWithSource(source);
    const NSIndexPath first = NSIndexPath::indexPathForRow(0, 0);
    controller->storeSelectedItem(first, subcatInSource(source, first));
    return controller;
}

void UIDBViewController_iPad::viewDidLoad() {
    UIDBViewController::viewDidLoad();
    setupNavigationBar();
    itemSelected(NSIndexPath::indexPathForRow(0, 0), source());
}

void UIDBViewController_iPad::setupNavigationBar() {
    std::vector<std::shared_ptr<UIBarButtonItem>> items;
    if (auto existing = navigationItem()->rightBarButtonItem()) items.push_back(existing);
    std::weak_ptr<UIDBViewController_iPad> weakSelf = self<UIDBViewController_iPad>();
    items.push_back(makePlainButtonWithImageName(self<UIDBViewController_iPad>(), "lupa",
                                                 [weakSelf](const std::shared_ptr<NSObject>&) {
                                                     if (auto me = weakSelf.lock()) me->searchClick();
                                                 }));
    navigationItem()->setRightBarButtonItems(items);
}

void UIDBViewController_iPad::searchClick() {
    auto search = GallerySearchViewController::initWithSource(source(), galleryContext());
    search->setCancelBlock([](const std::shared_ptr<UISearchViewController>& controller) {
        controller->dismissViewControllerAnimated(true, nullptr);
    });
    preesentSubController(search);
}

void UIDBViewController_iPad::storeSelectedItem(const NSIndexPath& indexPath, const std::shared_ptr<dataSubCat>& subCat) {
    removeSelection();
    lastSelectedInDelegate_ = currentTableViewDelegate();
    curSelectedIndexPath_ = indexPath;
    curSubCat_ = subCat;
}

void UIDBViewController_iPad::removeSelection() {
    const auto current = currentTableViewDelegate();
    if (curSelectedIndexPath_ && current && current == lastSelectedInDelegate() && tableView()) {
        tableView()->deselectRowAtIndexPath(*curSelectedIndexPath_, false);
    }
    curSelectedIndexPath_.reset();
}

NSIndexPath UIDBViewController_iPad::selectedRowIndexPath() {
    const auto current = currentTableViewDelegate();
    if (current && current == lastSelectedInDelegate() && curSelectedIndexPath_) return *curSelectedIndexPath_;
    return UIDBViewController::selectedRowIndexPath();
}

void UIDBViewController_iPad::scrollToSelected(bool animated) {
    const auto current = currentTableViewDelegate();
    if (!current || current != lastSelectedInDelegate() || !curSelectedIndexPath_ || !tableView()) return;
    tableView()->scrollToRowAtIndexPath(*curSelectedIndexPath_, UITableViewScrollPositionMiddle, animated);
}

void UIDBViewController_iPad::viewWillAppear(bool animated) {
    UIDBViewController::viewWillAppear(animated);
    scrollToSelected(false);
}

void UIDBViewController_iPad::viewWillTransitionToSize(
    CGSize size, const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) {
    UIDBViewController::viewWillTransitionToSize(size, coordinator);
    scrollToSelected(true);
}

void UIDBViewController_iPad::itemSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) {
    auto subCat = subcatInSource(dataSource, indexPath);
    storeSelectedItem(indexPath, subCat);
    if (!subCat) return;
    presentDetailsController(thumbnailsViewController(subCat, dataSource));
}

void UIDBViewController_iPad::showFavorites() {
    removeSelection();
    lastSelectedInDelegate_.reset();
    curSubCat_.reset();
    presentDetailsController(favoritesViewController());
}

void UIDBViewController_iPad::presentDetailsController(const std::shared_ptr<UIViewController>& controller) {
    auto split = splitViewController();
    if (!split) return;
    std::vector<std::shared_ptr<UIViewController>> panes;
    if (!split->viewControllers().empty()) panes.push_back(split->viewControllers().front());
    panes.push_back(UINavigationController::initWithRootViewController(controller));
    split->setViewControllers(panes);
}

bool UIDBViewController_iPad::isSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) {
    return curSubCat_ && subcatInSource(dataSource, indexPath) == curSubCat_;
}

void UIDBViewController_iPad::preesentSubController(const std::shared_ptr<UIViewController>& controller) {
    presentViewController(controller, true, nullptr);
}
