// The search-results layout's rows.
#include "gallery/ImageCellSearch_TableViewDelegate.h"

#include "gallery/CellsGallery.h"
#include "gallery/GalleryCellText.h"
#include "gallery/ResourceLoader.h"
#include "gallery/UIImageCell.h"
#include "gallery/UIThumbailViewController.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

std::shared_ptr<ImageCellSearch_TableViewDelegate> ImageCellSearch_TableViewDelegate::initWithDataSource(
    const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context) {
    return std::make_shared<ImageCellSearch_TableViewDelegate>(dataSource, context);
}

std::size_t ImageCellSearch_TableViewDelegate::sheetIndex() const { return CellsGallery::kImageCellPosters; }

long ImageCellSearch_TableViewDelegate::numberOfSectionsInTableView(const std::shared_ptr<UITableView>&) { return 1; }

long ImageCellSearch_TableViewDelegate::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    const auto rows = dataSource() ? dataSource()->searchLast() : nullptr;
    return rows ? static_cast<long>(rows->size()) : 0;
}

std::shared_ptr<UIImage> ImageCellSearch_TableViewDelegate::thumbnailForImagePath(const std::string& imagePath) const {
    const auto& loader = galleryContext().resources;
    // Read at the size a thumbnail is shown.
    const int pixelSize = UIThumbailViewController::thumbnailPixelSize();
    auto thumbnail = loader->loadImageFrom(
        "Data/" + GalleryCellText::replacingCaseInsensitive(imagePath, ".jpg", "_thumb.jpg"), pixelSize);
    if (!thumbnail) {
        thumbnail = loader->loadImageFrom(
            "Data/" + GalleryCellText::replacingCaseInsensitive(imagePath, ".png", "_thumb.png"), pixelSize);
    }
    return thumbnail;
}

std::shared_ptr<UITableViewCell> ImageCellSearch_TableViewDelegate::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    auto cell = std::dynamic_pointer_cast<UIImageCell>(
        tableView->dequeueReusableCellWithIdentifier(CellsGallery::reuseIdentifierAtIndex(sheetIndex())));
    if (!cell) {
        cell = std::dynamic_pointer_cast<UIImageCell>(CellsGallery::cellAtIndex(sheetIndex()));
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
    }
    const auto rows = dataSource() ? dataSource()->searchLast() : nullptr;
    Value::Dictionary row;
    if (rows && indexPath.row >= 0 && indexPath.row < static_cast<long>(rows->size())) {
        row = (*rows)[static_cast<std::size_t>(indexPath.row)];
    }
    // A match offers no information of its own: the button is not there, as in the thumbnail list.
    cell->infoButton()->setHidden(true);
    cell->image()->setImage(thumbnailForImagePath(row.get("imagePath").stringValue()));
    cell->mainText()->setText(GalleryCellText::localizedAuthor(galleryContext().localizations(), row));
    cell->detailText()->setText(GalleryCellText::localizedName(galleryContext().localizations(), row));
    cell->mainText()->setFont(UIFont::systemFontOfSize(20));
    checkFrame(cell->mainText(), cell);
    checkFrame(cell->detailText(), cell);
    return cell;
}

void ImageCellSearch_TableViewDelegate::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                const NSIndexPath& indexPath) {
    TableViewDelegate::didSelectRowAtIndexPath(tableView, indexPath);
    tableView->deselectRowAtIndexPath(indexPath, true);
}
