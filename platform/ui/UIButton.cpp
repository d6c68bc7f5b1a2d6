// Buttons: per-state content, the title label and image view, and their layout.
#include "platform/ui/UIButton.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

#include <algorithm>
#include <cmath>

UIButton::UIButton() : UIButton(CGRectZero) {}

UIButton::UIButton(const CGRect& frame) : UIControl(frame) {
    titleColors_[UIControlStateNormal] = UIColor::whiteColor();
}

std::shared_ptr<UIButton> UIButton::buttonWithType(UIButtonType type) {
    auto button = std::make_shared<UIButton>();
    button->type_ = type;
    if (type != UIButtonTypeCustom) {
        button->titleColors_[UIControlStateNormal] = UIColor::systemBlueColor();
        button->titleColors_[UIControlStateHighlighted] = UIColor::systemBlueColor()->colorWithAlphaComponent(0.2);
        button->titleColors_[UIControlStateDisabled] = UIColor::colorWithWhite(0.5, 0.35);
    }
    return button;
}

std::shared_ptr<UIButton> UIButton::initWithFrame(const CGRect& frame) { return std::make_shared<UIButton>(frame); }

template <class T>
T UIButton::lookup(const std::map<unsigned, T>& table, unsigned state) {
    auto it = table.find(state);
    if (it != table.end() && it->second) return it->second;
    // Highlighted while selected, and the like: the most specific single state that has one.
    for (unsigned single : {UIControlStateDisabled, UIControlStateHighlighted, UIControlStateSelected}) {
        if ((state & single) == 0) continue;
        it = table.find(single);
        if (it != table.end() && it->second) return it->second;
    }
    it = table.find(UIControlStateNormal);
    return it != table.end() ? it->second : T{};
}

namespace {
template <class T>
void store(std::map<unsigned, T>& table, unsigned state, T value) {
    if (value) table[state] = std::move(value);
    else table.erase(state);
}
}  // namespace

void UIButton::setTitle(const std::string& title, unsigned state) {
    if (title.empty()) titles_.erase(state);
    else titles_[state] = title;
    updateContent();
}

std::string UIButton::titleForState(unsigned state) const {
    auto it = titles_.find(state);
    if (it != titles_.end()) return it->second;
    for (unsigned single : {UIControlStateDisabled, UIControlStateHighlighted, UIControlStateSelected}) {
        if ((state & single) == 0) continue;
        it = titles_.find(single);
        if (it != titles_.end()) return it->second;
    }
    it = titles_.find(UIControlStateNormal);
    return it != titles_.end() ? it->second : "";
}

void UIButton::setTitleColor(std::shared_ptr<UIColor> color, unsigned state) {
    store(titleColors_, state, std::move(color));
    updateContent();
}
std::shared_ptr<UIColor> UIButton::titleColorForState(unsigned state) const { return lookup(titleColors_, state); }

void UIButton::setImage(std::shared_ptr<UIImage> image, unsigned state) {
    store(images_, state, std::move(image));
    updateContent();
}
std::shared_ptr<UIImage> UIButton::imageForState(unsigned state) const { return lookup(images_, state); }

void UIButton::setBackgroundImage(std::shared_ptr<UIImage> image, unsigned state) {
    store(backgroundImages_, state, std::move(image));
    updateContent();
}
std::shared_ptr<UIImage> UIButton::backgroundImageForState(unsigned state) const {
    return lookup(backgroundImages_, state);
}

std::shared_ptr<NSAttributedString> UIButton::attributedTitleForState(unsigned state) const {
    return lookup(attributedTitles_, state);
}

std::shared_ptr<UILabel> UIButton::titleLabel() {
    if (!titleLabel_) {
        titleLabel_ = UILabel::make();
        titleLabel_->setFont(UIFont::systemFontOfSize(15));
        titleLabel_->setTextAlignment(NSTextAlignmentCenter);
        titleLabel_->setLineBreakMode(NSLineBreakByTruncatingMiddle);
        addSubview(titleLabel_);
        updateContent();
    }
    return titleLabel_;
}

std::shared_ptr<UIImageView> UIButton::imageView() {
    if (!imageView_) {
        imageView_ = UIImageView::make();
        imageView_->setContentMode(UIViewContentModeCenter);
        insertSubview(imageView_, 0);
        updateContent();
    }
    return imageView_;
}

void UIButton::updateContent() {
    const unsigned s = state();
    const auto attributed = attributedTitleForState(s);
    const std::string title = titleForState(s);
    if (!titleLabel_ && (attributed || !title.empty()) && !weak_from_this().expired()) titleLabel();
    if (titleLabel_) {
        if (attributed) titleLabel_->setAttributedText(attributed);
        else titleLabel_->setText(title);
        titleLabel_->setTextColor(titleColorForState(s));
        titleLabel_->setHidden(!attributed && title.empty());
    }
    const auto image = imageForState(s);
    if (!imageView_ && image && !weak_from_this().expired()) imageView();
    if (imageView_) {
        imageView_->setImage(image);
        imageView_->setHidden(!image);
    }
    setNeedsLayout();
    // The background image may differ by state.
    setNeedsDisplay();
}

void UIButton::setEnabled(bool enabled) {
    UIControl::setEnabled(enabled);
    updateContent();
}
void UIButton::setHighlighted(bool highlighted) {
    UIControl::setHighlighted(highlighted);
    updateContent();
}
void UIButton::setSelected(bool selected) {
    UIControl::setSelected(selected);
    updateContent();
}

void UIButton::setContentEdgeInsets(UIEdgeInsets insets) {
    contentEdgeInsets_ = insets;
    invalidateIntrinsicContentSize();
    setNeedsLayout();
}

CGSize UIButton::titleSize() const {
    const unsigned s = state();
    const auto attributed = attributedTitleForState(s);
    const std::string title = titleForState(s);
    if (!attributed && title.empty()) return {0, 0};
    if (titleLabel_) return titleLabel_->sizeThatFits({0, 0});
    UILabel probe;
    probe.setFont(UIFont::systemFontOfSize(15));
    if (attributed) probe.setAttributedText(attributed);
    else probe.setText(title);
    return probe.sizeThatFits({0, 0});
}

CGSize UIButton::sizeThatFits(const CGSize& size) const {
    (void)size;
    const CGSize title = titleSize();
    const auto image = imageForState(state());
    const CGSize imageSize = image ? image->size() : CGSizeZero;
    CGSize fitted{imageSize.width + title.width + contentEdgeInsets_.left + contentEdgeInsets_.right,
                  std::max(imageSize.height, title.height) + contentEdgeInsets_.top + contentEdgeInsets_.bottom};
    if (auto background = backgroundImageForState(state())) {
        fitted.width = std::max(fitted.width, background->size().width);
        fitted.height = std::max(fitted.height, background->size().height);
    }
    return fitted;
}

CGSize UIButton::intrinsicContentSize() const { return sizeThatFits({0, 0}); }

void UIButton::layoutSubviews() {
    const CGRect content = UIEdgeInsetsInsetRect(bounds(), contentEdgeInsets_);
    const auto image = imageView_ && !imageView_->isHidden() ? imageView_->image() : nullptr;
    const CGSize imageSize = image ? image->size() : CGSizeZero;
    CGSize title = titleLabel_ && !titleLabel_->isHidden() ? titleLabel_->sizeThatFits({0, 0}) : CGSizeZero;
    title.width = std::max(0.0, std::min(title.width, content.size.width - imageSize.width));
    title.height = std::min(title.height, std::max(0.0, content.size.height));
    const CGFloat total = imageSize.width + title.width;
    CGFloat x = content.origin.x + (content.size.width - total) / 2;
    if (contentHorizontalAlignment() == UIControlContentHorizontalAlignmentLeft) x = content.origin.x;
    else if (contentHorizontalAlignment() == UIControlContentHorizontalAlignmentRight) x = CGRectGetMaxX(content) - total;
    const CGFloat midY = CGRectGetMidY(content);
    if (imageView_)
        imageView_->setFrame(UIEdgeInsetsInsetRect(
            CGRectMake(x, midY - imageSize.height / 2, imageSize.width, imageSize.height), imageEdgeInsets_));
    if (titleLabel_)
        titleLabel_->setFrame(UIEdgeInsetsInsetRect(
            CGRectMake(x + imageSize.width, midY - title.height / 2, title.width, title.height), titleEdgeInsets_));
}

void UIButton::tintColorDidChange() { setNeedsDisplay(); }

void UIButton::drawRect(const CGRect& rect) {
    (void)rect;
    auto context = UIGraphicsGetCurrentContext();
    if (!context) return;
    if (const auto background = currentBackgroundImage()) {
        CGContext::Operation op(CGContext::Operation::Kind::DrawImage);
        op.image = background;
        op.rect = bounds();
        context->record(std::move(op));
    }
    const bool info = type_ == UIButtonTypeInfoDark || type_ == UIButtonTypeInfoLight || type_ == UIButtonTypeDetailDisclosure;
    const CGRect b = bounds();
    const CGFloat radius = std::min({11.0, b.size.width / 2 - 1, b.size.height / 2 - 1});
    if (!info || currentImage() || radius <= 2) return;
    const auto tint = type_ == UIButtonTypeInfoLight ? UIColor::whiteColor() : tintColor();
    const CGFloat cx = CGRectGetMidX(b), cy = CGRectGetMidY(b);
    CGContextSetStrokeColorWithColor(context, tint);
    CGContextSetFillColorWithColor(context, tint);
    CGContextSetLineWidth(context, 1.5);
    CGContextAddArc(context, cx, cy, radius, 0, 2 * M_PI, 0);
    CGContextStrokePath(context);
    CGContextFillEllipseInRect(context, CGRectMake(cx - radius * 0.14, cy - radius * 0.59, radius * 0.28, radius * 0.28));
    CGContextFillRect(context, CGRectMake(cx - radius * 0.1, cy - radius * 0.2, radius * 0.2, radius * 0.75));
}

std::string UIButton::description() const {
    std::string base = UIView::description();
    base.pop_back();
    return base + NSString::format("; title = '%@'>", titleForState(state()));
}
