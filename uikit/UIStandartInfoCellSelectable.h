// The information cell with a corner mark for a picked row.
#pragma once

#include "uikit/UIStandartInfoCell.h"

class UIImageView;

class UIStandartInfoCellSelectable : public UIStandartInfoCell {
public:
    static std::shared_ptr<UIStandartInfoCellSelectable> initWithStyle(UITableViewCellStyle style,
                                                                       const std::string& reuseIdentifier);
    UIStandartInfoCellSelectable(UITableViewCellStyle style, const std::string& reuseIdentifier);

    const std::shared_ptr<UIImageView>& selectImageMark() const { return selectImageMark_; }

private:
    std::shared_ptr<UIImageView> selectImageMark_;
};
