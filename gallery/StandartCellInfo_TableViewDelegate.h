// The list layout with picture counts and information buttons (the "author" grouping).
#pragma once

#include "gallery/StandartCell_TableViewDelegate.h"
#include "uikit/UIInfoCellDelegate.h"

#include <cstddef>

class UILabel;
class UIStandartInfoCell;

class StandartCellInfo_TableViewDelegate : public StandartCell_TableViewDelegate, public UIInfoCellDelegate {
public:
    static std::shared_ptr<StandartCellInfo_TableViewDelegate> initWithDataSource(const std::shared_ptr<DataSource>& dataSource,
                                                                                  const GalleryContext& context);
    using StandartCell_TableViewDelegate::StandartCell_TableViewDelegate;

    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    // Once, when a cell comes from the cell sheet.
    virtual void setInitialCellParams(const std::shared_ptr<UIStandartInfoCell>& cell);
    // For every row.
    virtual void setCurrentCellParams(const std::shared_ptr<UIStandartInfoCell>& cell,
                                      const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath);
    // Whether the record has a localised description.
    bool needInfoButton(const std::shared_ptr<dataSubCat>& record) const;
    // A label starting left of 10 starts at 10, its right edge kept.
    void checkFrame(const std::shared_ptr<UILabel>& label, const std::shared_ptr<UITableViewCell>& cell) const;
    void infoClicked(const std::shared_ptr<UIStandartInfoCell>& cell) override;

protected:
    virtual std::size_t sheetIndex() const;
};
