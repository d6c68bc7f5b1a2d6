// The selectable picture layout: the "new_item" mark and the toggling tap.
#include "gallery/ImageCellSelectable_TableViewDelegate.h"

#include "gallery/CellsGallery.h"
#include "gallery/GalleryPicks.h"
#include "gallery/UIImageCellSelectable.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"

std::shared_ptr<ImageCellSelectable_TableViewDelegate> ImageCellSelectable_TableViewDelegate::initWithDataSource(
    const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context,
                       std::shared_ptr<Value::Dictionary> selectedCats) {
    return std::make_shared<ImageCellSelectable_TableViewDelegate>(dataSource, context, std::move(selectedCats));
}

ImageCellSelectable_TableViewDelegate::ImageCellSelectable_TableViewDelegate(
    std::shared_ptr<DataSource> dataSource, GalleryContext context, std::shared_ptr<Value::Dictionary> selectedCats)
    : ImageCell_TableViewDelegate(std::move(dataSource), std::move(context)),
      selectedCats_(selectedCats ? std::move(selectedCats) : std::make_shared<Value::Dictionary>()) {}

std::size_t ImageCellSelectable_TableViewDelegate::sheetIndex() const { return CellsGallery::kImageCellSelectable; }

void ImageCellSelectable_TableViewDelegate::setCurrentCellParams(const std::shared_ptr<UIImageCell>& cell,
                                                                 const std::shared_ptr<UITableView>& tableView,
                                                                 const NSIndexPath& indexPath) {
    ImageCell_TableViewDelegate::setCurrentCellParams(cell, tableView, indexPath);
    auto selectable = std::dynamic_pointer_cast<UIImageCellSelectable>(cell);
    if (!selectable) return;
    const auto record = subCatForIndexPath(indexPath);
    const bool picked = record && GalleryPicks::isPicked(*selectedCats_, record->index());
    selectable->selectImageMark()->setImage(picked ? UIImage::imageNamed("new_item") : nullptr);
}

void ImageCellSelectable_TableViewDelegate::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                    const NSIndexPath& indexPath) {
    ImageCell_TableViewDelegate::didSelectRowAtIndexPath(tableView, indexPath);
    const auto record = subCatForIndexPath(indexPath);
    if (!record) return;
    GalleryPicks::toggle(*selectedCats_, record->index());
    tableView->reloadRowsAtIndexPaths({indexPath}, UITableViewRowAnimationFade);
}
