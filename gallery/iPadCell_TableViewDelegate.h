// The tall list layout: platform cells with empty background image views, selection state only.
#pragma once

#include "gallery/TableViewDelegate.h"

class iPadCell_TableViewDelegate : public TableViewDelegate {
public:
    static std::shared_ptr<iPadCell_TableViewDelegate> initWithDataSource(const std::shared_ptr<DataSource>& dataSource,
                                                                          const GalleryContext& context);
    using TableViewDelegate::TableViewDelegate;

    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return 150; }
};
