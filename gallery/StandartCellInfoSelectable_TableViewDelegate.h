// The information list layout where a tap picks or unpicks a subcategory, marked in its corner.
#pragma once

#include "gallery/StandartCellInfo_TableViewDelegate.h"

class StandartCellInfoSelectable_TableViewDelegate : public StandartCellInfo_TableViewDelegate {
public:
    // With a dictionary given, the picks go into that very object, so its creator sees them.
    static std::shared_ptr<StandartCellInfoSelectable_TableViewDelegate> initWithDataSource(
        const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context,
        std::shared_ptr<Value::Dictionary> selectedCats = nullptr);
    StandartCellInfoSelectable_TableViewDelegate(std::shared_ptr<DataSource> dataSource, GalleryContext context,
                                                 std::shared_ptr<Value::Dictionary> selectedCats);

    void setCurrentCellParams(const std::shared_ptr<UIStandartInfoCell>& cell,
                              const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    const std::shared_ptr<Value::Dictionary>& selectedCats() const { return selectedCats_; }

protected:
    std::size_t sheetIndex() const override;

private:
    std::shared_ptr<Value::Dictionary> selectedCats_;
};
