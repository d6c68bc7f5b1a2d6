// Segmented controls: segment list, selection and measured widths.
#include "platform/ui/UISegmentedControl.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UITouch.h"

#include <algorithm>
#include <cmath>

std::shared_ptr<UISegmentedControl> UISegmentedControl::initWithItems(const std::vector<std::string>& titles) {
    auto control = std::make_shared<UISegmentedControl>();
    for (const auto& title : titles) control->segments_.push_back({title, nullptr, true, 0});
    control->setFrame({{0, 0}, control->sizeThatFits({0, 0})});
    return control;
}

std::string UISegmentedControl::titleForSegmentAtIndex(std::size_t index) const {
    return index < segments_.size() ? segments_[index].title : "";
}
void UISegmentedControl::setTitle(const std::string& title, std::size_t index) {
    if (index < segments_.size()) segments_[index].title = title;
    setNeedsDisplay();
}
std::shared_ptr<UIImage> UISegmentedControl::imageForSegmentAtIndex(std::size_t index) const {
    return index < segments_.size() ? segments_[index].image : nullptr;
}
void UISegmentedControl::setImage(std::shared_ptr<UIImage> image, std::size_t index) {
    if (index < segments_.size()) segments_[index].image = std::move(image);
    setNeedsDisplay();
}
bool UISegmentedControl::isEnabledForSegmentAtIndex(std::size_t index) const {
    return index < segments_.size() && segments_[index].enabled;
}
void UISegmentedControl::setEnabled(bool enabled, std::size_t index) {
    if (index < segments_.size()) segments_[index].enabled = enabled;
}
void UISegmentedControl::setSelectedSegmentIndex(int index) {
    selected_ = (index >= 0 && index < static_cast<int>(segments_.size())) ? index : UISegmentedControlNoSegment;
    setNeedsDisplay();
}
void UISegmentedControl::setWidth(CGFloat width, std::size_t index) {
    if (index < segments_.size()) segments_[index].width = std::max(0.0, width);
    setNeedsLayout();
}
std::shared_ptr<UIFont> UISegmentedControl::titleFont() const {
    return font_ ? font_ : UIFont::systemFontOfSize(13);
}

void UISegmentedControl::simulateTapOnSegment(std::size_t index) {
    if (!isEnabled() || !isEnabledForSegmentAtIndex(index) || !UIAlertModality::touchReaches(this)) return;
    const int previous = selected_;
    selected_ = static_cast<int>(index);
    if (selected_ != previous || momentary_) sendActionsForControlEvents(UIControlEventValueChanged);
    if (momentary_) selected_ = UISegmentedControlNoSegment;
}

void UISegmentedControl::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (touches.empty()) {
        UIControl::touchesEnded(touches, event);
        return;
    }
    auto self = std::static_pointer_cast<UIView>(shared_from_this());
    const CGPoint at = touches.front()->locationInView(self);
    UIControl::touchesEnded(touches, event);
    for (std::size_t i = 0; i < segments_.size(); ++i)
        if (CGRectContainsPoint(frameForSegmentAtIndex(i), at)) {
            simulateTapOnSegment(i);
            return;
        }
}

CGRect UISegmentedControl::frameForSegmentAtIndex(std::size_t index) const {
    const CGRect b = bounds();
    if (index >= segments_.size()) return CGRectZero;
    CGFloat fixed = 0;
    int shared = 0;
    for (const auto& s : segments_) {
        if (s.width > 0) fixed += s.width;
        else ++shared;
    }
    const CGFloat share = shared > 0 ? std::max(0.0, b.size.width - fixed) / shared : 0;
    CGFloat x = b.origin.x;
    for (std::size_t i = 0; i < index; ++i) x += segments_[i].width > 0 ? segments_[i].width : share;
    return {{x, b.origin.y}, {segments_[index].width > 0 ? segments_[index].width : share, b.size.height}};
}

CGSize UISegmentedControl::sizeThatFits(const CGSize& size) const {
    (void)size;
    // Equal segments as wide as the widest content plus padding, 32 points high.
    CGFloat widest = 0;
    for (const auto& s : segments_) {
        CGFloat w = s.width;
        if (w <= 0) {
            w = std::ceil(NSString::utf16Length(s.title) * titleFont()->glyphWidth());
            if (s.image) w = std::max(w, s.image->size().width);
            w += 2 * 12;
        }
        widest = std::max(widest, w);
    }
    return {widest * static_cast<CGFloat>(segments_.size()), 32};
}
