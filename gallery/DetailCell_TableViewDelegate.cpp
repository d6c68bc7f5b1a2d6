// The text-row layout's cells.
#include "gallery/DetailCell_TableViewDelegate.h"

#include "gallery/CellsGallery.h"
#include "gallery/GalleryCellText.h"
#include "platform/ui/UILabel.h"
#include "uikit/UIDetailCell.h"

std::shared_ptr<DetailCell_TableViewDelegate> DetailCell_TableViewDelegate::initWithDataSource(
    const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context) {
    return std::make_shared<DetailCell_TableViewDelegate>(dataSource, context);
}

std::shared_ptr<UITableViewCell> DetailCell_TableViewDelegate::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    return detailCellForRow(tableView, indexPath);
}

std::shared_ptr<UITableViewCell> DetailCell_TableViewDelegate::detailCellForRow(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    auto cell = std::dynamic_pointer_cast<UIDetailCell>(
        tableView->dequeueReusableCellWithIdentifier(CellsGallery::reuseIdentifierAtIndex(CellsGallery::kDetailCell)));
    if (!cell) {
        cell = std::dynamic_pointer_cast<UIDetailCell>(CellsGallery::cellAtIndex(CellsGallery::kDetailCell));
        cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
    }
    setParams(cell, subCatForIndexPath(indexPath));
    markSelection(tableView, cell, indexPath);
    return cell;
}

CGFloat DetailCell_TableViewDelegate::heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {
    return kRowHeight;
}

void DetailCell_TableViewDelegate::setParams(const std::shared_ptr<UIDetailCell>& cell,
                                             const std::shared_ptr<dataSubCat>& record) const {
    cell->mainText()->setText(
        record ? GalleryCellText::localizedName(galleryContext().localizations(), record->data()) : "");
    cell->detailText()->setText("");
}
