// The picture-row layout where a tap picks or unpicks a subcategory, marked in its corner.
#pragma once

#include "gallery/ImageCell_TableViewDelegate.h"
#include "gallery/SelectableLayout.h"
#include "gallery/UIImageCellSelectable.h"

class ImageCellSelectable_TableViewDelegate
    : public SelectableLayout<ImageCell_TableViewDelegate, UIImageCell, UIImageCellSelectable> {
public:
    static std::shared_ptr<ImageCellSelectable_TableViewDelegate> initWithDataSource(
        const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context,
        std::shared_ptr<Value::Dictionary> selectedCats = nullptr);
    using SelectableLayout::SelectableLayout;

protected:
    std::size_t sheetIndex() const override;
};
