// The picture cells' layout: thumbnail at the left, labels beside it, information button at the right.
#include "gallery/UIImageCell.h"

#include "platform/ui/UIButton.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

std::shared_ptr<UIImageCell> UIImageCell::initWithStyle(UITableViewCellStyle style,
                                                        const std::string& reuseIdentifier, double height) {
    auto cell = std::make_shared<UIImageCell>(style, reuseIdentifier, height);
    cell->connectButton();
    return cell;
}

UIImageCell::UIImageCell(UITableViewCellStyle style, const std::string& reuseIdentifier, double height)
    : UIDetailCell(style, reuseIdentifier) {
    setFrame(CGRectMake(0, 0, 320, height));
    auto content = contentView();
    content->setFrame(bounds());
    image_ = UIImageView::initWithFrame(CGRectMake(8, 7, height - 15, height - 15));
    image_->setContentMode(UIViewContentModeScaleAspectFit);
    // The picture keeps its margins as the row grows or shrinks; the texts and the button stay
    // centred beside it.
    image_->setAutoresizingMask(UIViewAutoresizingFlexibleHeight);
    content->addSubview(image_);
    const unsigned centred = UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin;
    mainText()->setFrame(CGRectMake(height + 3, height / 2 - 34, 320 - height - 3 - 49, 30));
    mainText()->setAutoresizingMask(mainText()->autoresizingMask() | centred);
    detailText()->setFrame(CGRectMake(height + 3, height / 2 + 2, 320 - height - 3 - 49, 24));
    detailText()->setAutoresizingMask(detailText()->autoresizingMask() | centred);
    infoButton_ = UIButton::buttonWithType(UIButtonTypeInfoDark);
    infoButton_->setFrame(CGRectMake(320 - 44, (height - 44) / 2, 44, 44));
    infoButton_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | centred);
    content->addSubview(infoButton_);
}

void UIImageCell::connectButton() {
    infoButton_->addTarget(self<UIImageCell>(), &UIImageCell::infoCLick, UIControlEventTouchUpInside);
}

void UIImageCell::infoCLick(const std::shared_ptr<NSObject>&) {
    if (infoClickBlock_) infoClickBlock_(self<UIImageCell>());
}
