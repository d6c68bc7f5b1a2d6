// The picture-row layout: picture lookup, label placement and the information closure.
#include "gallery/ImageCell_TableViewDelegate.h"

#include "gallery/CellsGallery.h"
#include "gallery/GalleryCellText.h"
#include "gallery/ResourceLoader.h"
#include "gallery/UIImageCell.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

#include <algorithm>

std::shared_ptr<ImageCell_TableViewDelegate> ImageCell_TableViewDelegate::initWithDataSource(
    const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context) {
    return std::make_shared<ImageCell_TableViewDelegate>(dataSource, context);
}

std::size_t ImageCell_TableViewDelegate::sheetIndex() const { return CellsGallery::kImageCell; }

bool ImageCell_TableViewDelegate::hasNoPicture(const std::shared_ptr<dataSubCat>& record) {
    return record && record->imagePath().value_or("").empty();
}

std::shared_ptr<UITableViewCell> ImageCell_TableViewDelegate::supperCellNeeded(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    if (hasNoPicture(subCatForIndexPath(indexPath))) return detailCellForRow(tableView, indexPath);
    return nullptr;
}

std::shared_ptr<UIImageCell> ImageCell_TableViewDelegate::takeCell(const std::shared_ptr<UITableView>& tableView) {
    auto cell = std::dynamic_pointer_cast<UIImageCell>(
        tableView->dequeueReusableCellWithIdentifier(CellsGallery::reuseIdentifierAtIndex(sheetIndex())));
    if (!cell) {
        cell = std::dynamic_pointer_cast<UIImageCell>(CellsGallery::cellAtIndex(sheetIndex()));
        setInitialCellParams(cell);
    }
    return cell;
}

std::shared_ptr<UITableViewCell> ImageCell_TableViewDelegate::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    if (auto textRow = supperCellNeeded(tableView, indexPath)) return textRow;
    auto cell = takeCell(tableView);
    setCurrentCellParams(cell, tableView, indexPath);
    return cell;
}

CGFloat ImageCell_TableViewDelegate::heightForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                             const NSIndexPath& indexPath) {
    return hasNoPicture(subCatForIndexPath(indexPath)) ? kRowHeight : static_cast<CGFloat>(cellHeight_);
}

void ImageCell_TableViewDelegate::setInitialCellParams(const std::shared_ptr<UIImageCell>& cell) {
    cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
}

void ImageCell_TableViewDelegate::setCurrentCellParams(const std::shared_ptr<UIImageCell>& cell,
                                                       const std::shared_ptr<UITableView>& tableView,
                                                       const NSIndexPath& indexPath) {
    const auto record = subCatForIndexPath(indexPath);
    const std::string imagePath = record ? record->imagePath().value_or("") : "";
    const CGFloat height = static_cast<CGFloat>(cellHeight_);
    CGRect imageFrame = cell->image()->frame();
    imageFrame.size.width = height - 15;
    cell->image()->setFrame(imageFrame);

    // Read at the size the row shows it.
    const int pixelSize = UIImage::pixelSizeForPoints(std::max(imageFrame.size.width, imageFrame.size.height));
    const auto& loader = galleryContext().resources;
    auto picture = loader->loadImageFrom("Data/cats/" + imagePath + ".jpg", pixelSize);
    if (!picture) picture = loader->loadImageFrom("Data/cats/" + imagePath + ".png", pixelSize);
    cell->image()->setImage(picture);
    for (const auto& label : {cell->mainText(), cell->detailText()}) {
        CGRect frame = label->frame();
        frame.origin.x = height + 3;
        label->setFrame(frame);
    }

    setParams(cell, record);
    cell->mainText()->setFont(UIFont::systemFontOfSize(20));
    checkFrame(cell->mainText(), cell);
    checkFrame(cell->detailText(), cell);
    markSelection(tableView, cell, indexPath);
    cell->infoButton()->setHidden(
        !record || GalleryCellText::localizedDescription(galleryContext().localizations(), record->data()).empty());

    std::weak_ptr<ImageCell_TableViewDelegate> weakSelf = self<ImageCell_TableViewDelegate>();
    cell->setInfoClickBlock([weakSelf](const std::shared_ptr<UIImageCell>& tapped) {
        auto me = weakSelf.lock();
        if (!me) return;
        if (auto owner = me->delegate()) owner->showInfoForCell(tapped, me->dataSource());
    });
}

void ImageCell_TableViewDelegate::checkFrame(const std::shared_ptr<UILabel>& label,
                                             const std::shared_ptr<UITableViewCell>& cell) const {
    CGRect frame = label->frame();
    CGFloat x = frame.origin.x;
    CGFloat w = frame.size.width;
    const CGFloat contentWidth = cell->contentView()->bounds().size.width;
    const CGFloat right = static_cast<float>(x + w + 5);
    if (contentWidth < right) w -= right - contentWidth + 5;
    if (x < kLabelMinimumX) {
        w -= kLabelMinimumX - x;
        x = kLabelMinimumX;
    }
    label->setFrame({{x, frame.origin.y}, {w, frame.size.height}});
}
