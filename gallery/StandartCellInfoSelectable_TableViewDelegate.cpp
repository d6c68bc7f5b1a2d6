// The selectable information layout: its own cell sheet.
#include "gallery/StandartCellInfoSelectable_TableViewDelegate.h"

#include "gallery/CellsGallery.h"

std::shared_ptr<StandartCellInfoSelectable_TableViewDelegate> StandartCellInfoSelectable_TableViewDelegate::
    initWithDataSource(const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context,
                       std::shared_ptr<Value::Dictionary> selectedCats) {
    return std::make_shared<StandartCellInfoSelectable_TableViewDelegate>(dataSource, context, std::move(selectedCats));
}

std::size_t StandartCellInfoSelectable_TableViewDelegate::sheetIndex() const {
    return CellsGallery::kStandartCellInfoSelectable;
}
