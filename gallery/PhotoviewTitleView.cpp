// The strip's label and information button.
#include "gallery/PhotoviewTitleView.h"

#include "gallery/UIInfoView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "uikit/OEImageButtonNames.h"

namespace {
constexpr double kMargin = 5;
}

std::shared_ptr<PhotoviewTitleView> PhotoviewTitleView::initWithFrame(const CGRect& frame, GalleryContext context) {
    auto strip = std::make_shared<PhotoviewTitleView>(frame, std::move(context));
    strip->setup();
    return strip;
}

PhotoviewTitleView::PhotoviewTitleView(const CGRect& frame, GalleryContext context)
    : UIView(frame), context_(std::move(context)) {}

void PhotoviewTitleView::setup() {
    const CGRect frame = this->frame();
    titleLabel_ = UILabel::initWithFrame(CGRectMake(kMargin, 0, frame.size.width - 2 * kMargin, frame.size.height));
    titleLabel_->setBackgroundColor(UIColor::clearColor());
    titleLabel_->setNumberOfLines(2);
    titleLabel_->setAutoresizingMask(UIViewAutoresizingFlexibleHeight);
    addSubview(titleLabel_);

    infoButton_ = UIButton::buttonWithType(UIButtonTypeCustom);
    infoButton_->setFrame(
        CGRectMake(frame.size.width - kMargin - kInfoButtonWidth, 0, kInfoButtonWidth, frame.size.height));
    OEImageButtonNames::setImage(infoButton_, "i");
    infoButton_->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleHeight);
    infoButton_->setHidden(true);
    std::weak_ptr<PhotoviewTitleView> weak = self<PhotoviewTitleView>();
    infoButton_->addTarget(
        self<PhotoviewTitleView>(),
        [weak](const std::shared_ptr<NSObject>&) {
            if (auto me = weak.lock()) me->infoClick();
        },
        UIControlEventTouchUpInside);
    addSubview(infoButton_);
}

std::shared_ptr<UIFont> PhotoviewTitleView::titleFont() const { return titleLabel_->font(); }
void PhotoviewTitleView::setTitleFont(std::shared_ptr<UIFont> font) { titleLabel_->setFont(std::move(font)); }
std::shared_ptr<UIColor> PhotoviewTitleView::titleColor() const { return titleLabel_->textColor(); }
void PhotoviewTitleView::setTitleColor(std::shared_ptr<UIColor> color) { titleLabel_->setTextColor(std::move(color)); }

void PhotoviewTitleView::updateTitle(const std::string& title, const std::string& description) {
    titleLabel_->setText(title);
    description_ = description;
    infoButton_->setHidden(description.empty());
    CGRect frame = titleLabel_->frame();
    const CGFloat width = bounds().size.width;
    frame.size.width = description.empty() ? width - 2 * kMargin : width - 4 * kMargin - infoButton_->frame().size.width;
    titleLabel_->setFrame(frame);
}

void PhotoviewTitleView::infoClick() {
    if (auto navigation = navigationController())
        UIInfoView::presentInfo(navigation, context_, titleLabel_->text(), description_);
}
