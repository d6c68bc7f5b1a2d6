// The detail cell's two labels, stretching with the cell's width.
#include "uikit/UIDetailCell.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"

std::shared_ptr<UIDetailCell> UIDetailCell::initWithStyle(UITableViewCellStyle style,
                                                          const std::string& reuseIdentifier) {
    return std::make_shared<UIDetailCell>(style, reuseIdentifier);
}

UIDetailCell::UIDetailCell(UITableViewCellStyle style, const std::string& reuseIdentifier)
    : UITableViewCell(style, reuseIdentifier) {
    setFrame(CGRectMake(0, 0, 320, kHeight));
    auto content = contentView();
    content->setFrame(bounds());
    mainText_ = UILabel::initWithFrame(CGRectMake(15, 12, 270, 30));
    mainText_->setFont(UIFont::systemFontOfSize(17));
    mainText_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    detailText_ = UILabel::initWithFrame(CGRectMake(15, 44, 270, 24));
    detailText_->setFont(UIFont::systemFontOfSize(13));
    detailText_->setTextColor(UIColor::grayColor());
    detailText_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    content->addSubview(mainText_);
    content->addSubview(detailText_);
}
