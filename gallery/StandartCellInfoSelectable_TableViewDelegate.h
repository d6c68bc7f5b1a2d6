// The information list layout where a tap picks or unpicks a subcategory, marked in its corner.
#pragma once

#include "gallery/SelectableLayout.h"
#include "gallery/StandartCellInfo_TableViewDelegate.h"
#include "uikit/UIStandartInfoCellSelectable.h"

class StandartCellInfoSelectable_TableViewDelegate
    : public SelectableLayout<StandartCellInfo_TableViewDelegate, UIStandartInfoCell, UIStandartInfoCellSelectable> {
public:
    static std::shared_ptr<StandartCellInfoSelectable_TableViewDelegate> initWithDataSource(
        const std::shared_ptr<DataSource>& dataSource, const GalleryContext& context,
        std::shared_ptr<Value::Dictionary> selectedCats = nullptr);
    using SelectableLayout::SelectableLayout;

protected:
    std::size_t sheetIndex() const override;
};
