// The picture row cell with a corner mark for a picked row.
#pragma once

#include "gallery/UIImageCell.h"

class UIImageCellSelectable : public UIImageCell {
public:
    static std::shared_ptr<UIImageCellSelectable> initWithStyle(UITableViewCellStyle style,
                                                                const std::string& reuseIdentifier);
    UIImageCellSelectable(UITableViewCellStyle style, const std::string& reuseIdentifier);

    const std::shared_ptr<UIImageView>& selectImageMark() const { return selectImageMark_; }
    void setSelectImageMark(std::shared_ptr<UIImageView> mark) { selectImageMark_ = std::move(mark); }

private:
    std::shared_ptr<UIImageView> selectImageMark_;
};
