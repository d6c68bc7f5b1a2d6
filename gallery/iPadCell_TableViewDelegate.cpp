// The tall list layout's cells.
#include "gallery/iPadCell_TableViewDelegate.h"

#include "platform/ui/UIImageView.h"

std::shared_ptr<iPadCell_TableViewDelegate> iPadCell_TableViewDelegate::initWithDataSource(
    const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context) {
    return std::make_shared<iPadCell_TableViewDelegate>(dataSource, context);
}

std::shared_ptr<UITableViewCell> iPadCell_TableViewDelegate::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    static const std::string kIdentifier = "standartCell";
    auto cell = tableView->dequeueReusableCellWithIdentifier(kIdentifier);
    if (!cell) {
        cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, kIdentifier);
        auto background = UIImageView::make();
        background->setContentMode(UIViewContentModeScaleToFill);
        auto selectedBackground = UIImageView::make();
        selectedBackground->setContentMode(UIViewContentModeScaleToFill);
        cell->setBackgroundView(background);
        cell->setSelectedBackgroundView(selectedBackground);
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
    }
    markSelection(tableView, cell, indexPath);
    return cell;
}
