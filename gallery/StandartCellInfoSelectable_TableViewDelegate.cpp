// The selectable information layout: the "new_item" mark and the toggling tap.
#include "gallery/StandartCellInfoSelectable_TableViewDelegate.h"

#include "gallery/CellsGallery.h"
#include "gallery/GalleryPicks.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "uikit/UIStandartInfoCellSelectable.h"

std::shared_ptr<StandartCellInfoSelectable_TableViewDelegate> StandartCellInfoSelectable_TableViewDelegate::
    initWithDataSource(const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context,
                       std::shared_ptr<Value::Dictionary> selectedCats) {
    return std::make_shared<StandartCellInfoSelectable_TableViewDelegate>(dataSource, context, std::move(selectedCats));
}

StandartCellInfoSelectable_TableViewDelegate::StandartCellInfoSelectable_TableViewDelegate(
    std::shared_ptr<DataSource> dataSource, GalleryContext context, std::shared_ptr<Value::Dictionary> selectedCats)
    : StandartCellInfo_TableViewDelegate(std::move(dataSource), std::move(context)),
      selectedCats_(selectedCats ? std::move(selectedCats) : std::make_shared<Value::Dictionary>()) {}

std::size_t StandartCellInfoSelectable_TableViewDelegate::sheetIndex() const {
    return CellsGallery::kStandartCellInfoSelectable;
}

void StandartCellInfoSelectable_TableViewDelegate::setCurrentCellParams(const std::shared_ptr<UIStandartInfoCell>& cell,
                                                                        const std::shared_ptr<UITableView>& tableView,
                                                                        const NSIndexPath& indexPath) {
    StandartCellInfo_TableViewDelegate::setCurrentCellParams(cell, tableView, indexPath);
    auto selectable = std::dynamic_pointer_cast<UIStandartInfoCellSelectable>(cell);
    if (!selectable) return;
    const auto record = subCatForIndexPath(indexPath);
    const bool picked = record && GalleryPicks::isPicked(*selectedCats_, record->index());
    selectable->selectImageMark()->setImage(picked ? UIImage::imageNamed("new_item") : nullptr);
}

void StandartCellInfoSelectable_TableViewDelegate::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                           const NSIndexPath& indexPath) {
    StandartCellInfo_TableViewDelegate::didSelectRowAtIndexPath(tableView, indexPath);
    const auto record = subCatForIndexPath(indexPath);
    if (!record) return;
    GalleryPicks::toggle(*selectedCats_, record->index());
    tableView->reloadRowsAtIndexPaths({indexPath}, UITableViewRowAnimationFade);
}
