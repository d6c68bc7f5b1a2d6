// The plain list layout's cells.
#include "gallery/StandartCell_TableViewDelegate.h"

#include "gallery/GalleryCellText.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"

std::shared_ptr<StandartCell_TableViewDelegate> StandartCell_TableViewDelegate::initWithDataSource(
    const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context) {
    return std::make_shared<StandartCell_TableViewDelegate>(dataSource, context);
}

std::shared_ptr<UITableViewCell> StandartCell_TableViewDelegate::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    static const std::string kIdentifier = "standartCell";
    auto cell = tableView->dequeueReusableCellWithIdentifier(kIdentifier);
    if (!cell) {
        cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, kIdentifier);
        cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
    }
    if (const auto record = subCatForIndexPath(indexPath)) {
        cell->textLabel()->setText(GalleryCellText::localizedName(galleryContext().localizations(), record->data()));
    }
    if (GalleryCellText::isPhone()) cell->textLabel()->setFont(UIFont::systemFontOfSize(17));
    markSelection(tableView, cell, indexPath);
    return cell;
}
