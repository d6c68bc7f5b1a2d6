// The plain list layout: one platform cell per subcategory with its localised name.
#pragma once

#include "gallery/TableViewDelegate.h"

class StandartCell_TableViewDelegate : public TableViewDelegate {
public:
    static std::shared_ptr<StandartCell_TableViewDelegate> initWithDataSource(const std::shared_ptr<DataSource>& dataSource,
                                                                              const GalleryContext& context);
    using TableViewDelegate::TableViewDelegate;

    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return 44; }
};
