// The strip's label.
#include "gallery/PhotoviewTitleView.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"

namespace {
constexpr double kMargin = 5;
}

std::shared_ptr<PhotoviewTitleView> PhotoviewTitleView::initWithFrame(const CGRect& frame) {
    return std::make_shared<PhotoviewTitleView>(frame);
}

PhotoviewTitleView::PhotoviewTitleView(const CGRect& frame) : UIView(frame) {
    titleLabel_ = UILabel::initWithFrame(CGRectMake(kMargin, 0, frame.size.width - 2 * kMargin, frame.size.height));
    titleLabel_->setBackgroundColor(UIColor::clearColor());
    titleLabel_->setNumberOfLines(2);
    titleLabel_->setAutoresizingMask(UIViewAutoresizingFlexibleHeight);
    addSubview(titleLabel_);
}

std::shared_ptr<UIFont> PhotoviewTitleView::titleFont() const { return titleLabel_->font(); }
void PhotoviewTitleView::setTitleFont(std::shared_ptr<UIFont> font) { titleLabel_->setFont(std::move(font)); }
std::shared_ptr<UIColor> PhotoviewTitleView::titleColor() const { return titleLabel_->textColor(); }
void PhotoviewTitleView::setTitleColor(std::shared_ptr<UIColor> color) { titleLabel_->setTextColor(std::move(color)); }

void PhotoviewTitleView::updateTitle(const std::string& title, const std::string& description) {
    titleLabel_->setText(title);
    description_ = description;
    CGRect frame = titleLabel_->frame();
    frame.size.width = bounds().size.width - 2 * kMargin;
    titleLabel_->setFrame(frame);
}
