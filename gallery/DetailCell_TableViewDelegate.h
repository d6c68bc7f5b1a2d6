// The text-row layout: an 80-point detail cell per subcategory with its localised name.
#pragma once

#include "gallery/TableViewDelegate.h"

class UIDetailCell;

class DetailCell_TableViewDelegate : public TableViewDelegate {
public:
    static std::shared_ptr<DetailCell_TableViewDelegate> initWithDataSource(const std::shared_ptr<DataSource>& dataSource,
                                                                            const GalleryContext& context);
    using TableViewDelegate::TableViewDelegate;

    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    // The name into the main line, "" into the detail line.
    void setParams(const std::shared_ptr<UIDetailCell>& cell, const std::shared_ptr<dataSubCat>& record) const;

    static constexpr CGFloat kRowHeight = 80;

protected:
    // The text row as this layout makes it (picture layouts fall back on it).
    std::shared_ptr<UITableViewCell> detailCellForRow(const std::shared_ptr<UITableView>& tableView,
                                                      const NSIndexPath& indexPath);
};
