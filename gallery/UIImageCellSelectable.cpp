// The selectable picture cell: the corner mark over the thumbnail's top left.
#include "gallery/UIImageCellSelectable.h"

#include "platform/ui/UIImageView.h"

std::shared_ptr<UIImageCellSelectable> UIImageCellSelectable::initWithStyle(UITableViewCellStyle style,
                                                                            const std::string& reuseIdentifier) {
    auto cell = std::make_shared<UIImageCellSelectable>(style, reuseIdentifier);
    cell->connectButton();
    return cell;
}

UIImageCellSelectable::UIImageCellSelectable(UITableViewCellStyle style, const std::string& reuseIdentifier)
    : UIImageCell(style, reuseIdentifier) {
    selectImageMark_ = UIImageView::initWithFrame(CGRectMake(0, 0, 24, 24));
    contentView()->addSubview(selectImageMark_);
}
