// The information list layout: name, "paintings" count, information button.
#include "gallery/StandartCellInfo_TableViewDelegate.h"

#include "gallery/CellsGallery.h"
#include "gallery/GalleryCellText.h"
#include "platform/foundation/NSBundle.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "uikit/UIStandartInfoCell.h"

std::shared_ptr<StandartCellInfo_TableViewDelegate> StandartCellInfo_TableViewDelegate::initWithDataSource(
    const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context) {
    return std::make_shared<StandartCellInfo_TableViewDelegate>(dataSource, context);
}

std::size_t StandartCellInfo_TableViewDelegate::sheetIndex() const { return CellsGallery::kStandartCellInfo; }

std::shared_ptr<UITableViewCell> StandartCellInfo_TableViewDelegate::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    auto cell = std::dynamic_pointer_cast<UIStandartInfoCell>(
        tableView->dequeueReusableCellWithIdentifier(CellsGallery::reuseIdentifierAtIndex(sheetIndex())));
    if (!cell) {
        cell = std::dynamic_pointer_cast<UIStandartInfoCell>(CellsGallery::cellAtIndex(sheetIndex()));
        setInitialCellParams(cell);
    }
    setCurrentCellParams(cell, tableView, indexPath);
    return cell;
}

void StandartCellInfo_TableViewDelegate::setInitialCellParams(const std::shared_ptr<UIStandartInfoCell>& cell) {
    cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
    cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
}

void StandartCellInfo_TableViewDelegate::setCurrentCellParams(const std::shared_ptr<UIStandartInfoCell>& cell,
                                                              const std::shared_ptr<UITableView>& tableView,
                                                              const NSIndexPath& indexPath) {
    const auto record = subCatForIndexPath(indexPath);
    if (record) {
        cell->label()->setText(GalleryCellText::localizedName(galleryContext().localizations(), record->data()));
        // Counted through the source for every row it fills.
        const auto pictures = dataSource()->list(record);
        const long count = pictures ? static_cast<long>(pictures->size()) : 0;
        cell->detail()->setText(NSLocalizedStringFromTable("paintings", "Core") + " " + std::to_string(count));
    }
    cell->label()->setFont(UIFont::systemFontOfSize(17));
    cell->infoButton()->setHidden(!record || !needInfoButton(record));
    cell->setDelegate(std::dynamic_pointer_cast<UIInfoCellDelegate>(shared_from_this()));
    markSelection(tableView, cell, indexPath);
    checkFrame(cell->label(), cell);
    checkFrame(cell->detail(), cell);
}

bool StandartCellInfo_TableViewDelegate::needInfoButton(const std::shared_ptr<dataSubCat>& record) const {
    return record && !GalleryCellText::localizedDescription(galleryContext().localizations(), record->data()).empty();
}

void StandartCellInfo_TableViewDelegate::checkFrame(const std::shared_ptr<UILabel>& label,
                                                    const std::shared_ptr<UITableViewCell>&) const {
    CGRect frame = label->frame();
    if (frame.origin.x < 10) {
        frame.size.width -= 10 - frame.origin.x;
        frame.origin.x = 10;
        label->setFrame(frame);
    }
}

void StandartCellInfo_TableViewDelegate::infoClicked(const std::shared_ptr<UIStandartInfoCell>& cell) {
    if (auto owner = delegate()) owner->showInfoForCell(cell, dataSource());
}
