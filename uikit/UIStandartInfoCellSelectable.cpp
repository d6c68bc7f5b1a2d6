// The selectable information cell: the corner mark over the cell's top left.
#include "uikit/UIStandartInfoCellSelectable.h"

#include "platform/ui/UIImageView.h"

std::shared_ptr<UIStandartInfoCellSelectable> UIStandartInfoCellSelectable::initWithStyle(
    UITableViewCellStyle style, const std::string& reuseIdentifier) {
    auto cell = std::make_shared<UIStandartInfoCellSelectable>(style, reuseIdentifier);
    cell->connectButton();
    return cell;
}

UIStandartInfoCellSelectable::UIStandartInfoCellSelectable(UITableViewCellStyle style,
                                                           const std::string& reuseIdentifier)
    : UIStandartInfoCell(style, reuseIdentifier) {
    selectImageMark_ = UIImageView::initWithFrame(CGRectMake(0, 0, 20, 20));
    contentView()->addSubview(selectImageMark_);
}
