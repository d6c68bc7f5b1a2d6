// The selectable picture layout: its own cell sheet.
#include "gallery/ImageCellSelectable_TableViewDelegate.h"

#include "gallery/CellsGallery.h"

std::shared_ptr<ImageCellSelectable_TableViewDelegate> ImageCellSelectable_TableViewDelegate::initWithDataSource(
    const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context,
    std::shared_ptr<Value::Dictionary> selectedCats) {
    return std::make_shared<ImageCellSelectable_TableViewDelegate>(dataSource, context, std::move(selectedCats));
}

std::size_t ImageCellSelectable_TableViewDelegate::sheetIndex() const { return CellsGallery::kImageCellSelectable; }
