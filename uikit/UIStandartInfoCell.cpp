// The information cell's layout and its button's path to the delegate.
#include "uikit/UIStandartInfoCell.h"

#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"

std::shared_ptr<UIStandartInfoCell> UIStandartInfoCell::initWithStyle(UITableViewCellStyle style,
                                                                      const std::string& reuseIdentifier) {
    auto cell = std::make_shared<UIStandartInfoCell>(style, reuseIdentifier);
    cell->connectButton();
    return cell;
}

UIStandartInfoCell::UIStandartInfoCell(UITableViewCellStyle style, const std::string& reuseIdentifier)
    : UITableViewCell(style, reuseIdentifier) {
    auto content = contentView();
    label_ = UILabel::initWithFrame(CGRectMake(15, 3, 240, 22));
    label_->setFont(UIFont::systemFontOfSize(17));
    label_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    detail_ = UILabel::initWithFrame(CGRectMake(15, 25, 240, 16));
    detail_->setFont(UIFont::systemFontOfSize(12));
    detail_->setTextColor(UIColor::grayColor());
    detail_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    infoButton_ = UIButton::buttonWithType(UIButtonTypeInfoDark);
    infoButton_->setFrame(CGRectMake(content->bounds().size.width - 44, 0, 44, 44));
    infoButton_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    content->addSubview(label_);
    content->addSubview(detail_);
    content->addSubview(infoButton_);
}

void UIStandartInfoCell::connectButton() {
    std::weak_ptr<UIStandartInfoCell> weakCell = self<UIStandartInfoCell>();
    infoButton_->addTarget(
        nullptr,
        [weakCell](const std::shared_ptr<NSObject>& sender) {
            if (auto cell = weakCell.lock()) cell->buttonClick(sender);
        },
        UIControlEventTouchUpInside);
}

void UIStandartInfoCell::buttonClick(const std::shared_ptr<NSObject>&) {
    if (auto owner = delegate()) owner->infoClicked(self<UIStandartInfoCell>());
}
