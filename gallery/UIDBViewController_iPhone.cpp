// The phone category browser's row handling.
#include "gallery/UIDBViewController_iPhone.h"

#include "gallery/UIDBViewController_iPad.h"
#include "gallery/UIInfoView.h"
#include "gallery/UIThumbailViewController.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UITableView.h"

std::shared_ptr<UIDBViewController_iPhone> UIDBViewController_iPhone::initWithSource(
    const std::shared_ptr<DataSource>& source, const GalleryContext& context) {
    auto controller = std::make_shared<UIDBViewController_iPhone>(context);
    controller->setupWithSource(source);
    return controller;
}

void UIDBViewController_iPhone::showFavorites() {
    if (auto navigation = navigationController()) navigation->pushViewController(favoritesViewController(), true);
}

void UIDBViewController_iPhone::itemSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) {
    if (auto subCat = UIDBViewController_iPad::subcatInSource(dataSource, indexPath)) {
        auto thumbnails = UIThumbailViewController::initWithDataSource(dataSource, subCat, mode() == 0, galleryContext());
        if (auto navigation = navigationController()) navigation->pushViewController(thumbnails, true);
    }
    tableView()->deselectRowAtIndexPath(indexPath, true);
}

void UIDBViewController_iPhone::showInfoForCell(const std::shared_ptr<UITableViewCell>& cell,
                                                const std::shared_ptr<DataSource>& dataSource) {
    const auto indexPath = tableView()->indexPathForCell(cell);
    if (!indexPath) return;
    presentViewController(UINavigationController::initWithRootViewController(infoViewForIndexPath(*indexPath, dataSource)),
                          true, nullptr);
}
