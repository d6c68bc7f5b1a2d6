// The picture-row layout where a tap picks or unpicks a subcategory, marked in its corner.
#pragma once

#include "gallery/ImageCell_TableViewDelegate.h"

class ImageCellSelectable_TableViewDelegate : public ImageCell_TableViewDelegate {
public:
    // With a dictionary given, the picks go into that very object, so its creator sees them.
    static std::shared_ptr<ImageCellSelectable_TableViewDelegate> initWithDataSource(
        const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context,
        std::shared_ptr<Value::Dictionary> selectedCats = nullptr);
    ImageCellSelectable_TableViewDelegate(std::shared_ptr<DataSource> dataSource, GalleryContext context,
                                          std::shared_ptr<Value::Dictionary> selectedCats);

    void setCurrentCellParams(const std::shared_ptr<UIImageCell>& cell, const std::shared_ptr<UITableView>& tableView,
                              const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    const std::shared_ptr<Value::Dictionary>& selectedCats() const { return selectedCats_; }

protected:
    std::size_t sheetIndex() const override;

private:
    std::shared_ptr<Value::Dictionary> selectedCats_;
};
