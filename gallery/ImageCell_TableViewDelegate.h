// The picture-row layout: the subcategory's picture, name and information button; records
// without a picture get the text row.
#pragma once

#include "gallery/DetailCell_TableViewDelegate.h"

#include <cstddef>
#include <cstdint>

class UIImageCell;
class UILabel;

class ImageCell_TableViewDelegate : public DetailCell_TableViewDelegate {
public:
    static std::shared_ptr<ImageCell_TableViewDelegate> initWithDataSource(const std::shared_ptr<DataSource>& dataSource,
                                                                           const GalleryContext& context);
    using DetailCell_TableViewDelegate::DetailCell_TableViewDelegate;

    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

    // Once, when a cell comes from the cell sheet.
    virtual void setInitialCellParams(const std::shared_ptr<UIImageCell>& cell);
    // For every row.
    virtual void setCurrentCellParams(const std::shared_ptr<UIImageCell>& cell,
                                      const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath);
    // The text row for a record without a picture; empty otherwise.
    std::shared_ptr<UITableViewCell> supperCellNeeded(const std::shared_ptr<UITableView>& tableView,
                                                      const NSIndexPath& indexPath);
    // Ends the label 10 points before the content view's right edge and starts it at 118 at
    // the earliest.
    void checkFrame(const std::shared_ptr<UILabel>& label, const std::shared_ptr<UITableViewCell>& cell) const;

    std::uint64_t cellHeight() const { return cellHeight_; }
    void setCellHeight(std::uint64_t height) { cellHeight_ = height; }

    static constexpr std::uint64_t kDefaultCellHeight = 115;
    static constexpr CGFloat kLabelMinimumX = 118;

protected:
    virtual std::size_t sheetIndex() const;
    // Whether the record is shown as a text row.
    static bool hasNoPicture(const std::shared_ptr<dataSubCat>& record);
    // The cell from the reuse pool or the sheet.
    std::shared_ptr<UIImageCell> takeCell(const std::shared_ptr<UITableView>& tableView);

private:
    std::uint64_t cellHeight_ = kDefaultCellHeight;
};
