// Toolbar layout: fixed items at their widths with 8-point gaps, flexible spaces sharing the rest.
#include "platform/ui/UIToolbar.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIBarButtonItemView.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr CGFloat kMargin = 8;
constexpr CGFloat kGap = 8;
}  // namespace

UIToolbar::UIToolbar() : UIToolbar(CGRectZero) {}

UIToolbar::UIToolbar(const CGRect& frame) : UIView(frame) { setContentMode(UIViewContentModeRedraw); }

void UIToolbar::drawRect(const CGRect& rect) {
    (void)rect;
    auto c = UIGraphicsGetCurrentContext();
    if (!c) return;
    const auto& appearance = standardAppearance_;
    std::shared_ptr<UIColor> fill = barTintColor_;
    if (!fill && appearance) fill = appearance->backgroundColor();
    if (!fill && appearance && appearance->background() == UIBarAppearance::Background::Transparent) return;
    if (!fill) {
        const bool see = translucent_ && !(appearance && appearance->background() == UIBarAppearance::Background::Opaque);
        fill = UIColor::colorWithWhite(barStyle_ != UIBarStyleDefault ? 0.1 : 0.97, see ? 0.94 : 1);
    }
    CGContextSetFillColorWithColor(c, fill);
    CGContextFillRect(c, bounds());
}

void UIToolbar::setItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated) {
    (void)animated;
    items_ = std::move(items);
    UIBarButtonItemView::showItems(*this, items_, itemViews_);
    itemViewWatch_.watch(*this, itemViews_);
    setNeedsLayout();
    layoutIfNeeded();
}

CGFloat UIToolbar::naturalWidth(const UIBarButtonItem& item) {
    if (item.systemItem() == UIBarButtonSystemItemFlexibleSpace) return 0;
    if (item.width() > 0) return item.width();
    if (item.systemItem() == UIBarButtonSystemItemFixedSpace) return 0;
    if (auto view = item.customView()) return view->frame().size.width;
    if (!item.title().empty())
        return std::ceil(NSString::utf16Length(item.title()) * UIFont::systemFontOfSize(17)->glyphWidth()) + 2 * kMargin;
    if (auto image = item.image()) return image->size().width + 2 * kMargin;
    return std::ceil(NSString::utf16Length(item.displayTitle()) * UIFont::systemFontOfSize(17)->glyphWidth()) +
           2 * kMargin;
}

std::vector<CGRect> UIToolbar::itemFrames() const {
    std::vector<CGRect> frames;
    const CGRect b = bounds();
    CGFloat fixed = 0;
    int flexible = 0;
    for (auto& item : items_) {
        if (item->systemItem() == UIBarButtonSystemItemFlexibleSpace) ++flexible;
        else fixed += naturalWidth(*item);
    }
    const CGFloat gaps = items_.empty() ? 0 : kGap * static_cast<CGFloat>(items_.size() - 1);
    const CGFloat spare = std::max(0.0, b.size.width - 2 * kMargin - fixed - gaps);
    const CGFloat share = flexible > 0 ? spare / flexible : 0;
    CGFloat x = b.origin.x + kMargin;
    for (auto& item : items_) {
        const bool flex = item->systemItem() == UIBarButtonSystemItemFlexibleSpace;
        const CGFloat w = flex ? share : naturalWidth(*item);
        CGFloat h = b.size.height;
        if (auto view = item->customView(); view && !flex) h = std::min(b.size.height, view->frame().size.height);
        frames.push_back({{x, b.origin.y + (b.size.height - h) / 2}, {w, h}});
        x += w + kGap;
    }
    return frames;
}

void UIToolbar::layoutSubviews() {
    const auto frames = itemFrames();
    const ui_detail::BarItemViewWatch::Placing placing(itemViewWatch_);
    for (std::size_t i = 0; i < items_.size() && i < itemViews_.size(); ++i)
        if (const auto& view = itemViews_[i]; view && view->superview().get() == this) view->setFrame(frames[i]);
}

std::shared_ptr<UIView> UIToolbar::viewForItem(const std::shared_ptr<UIBarButtonItem>& item) const {
    for (std::size_t i = 0; i < items_.size() && i < itemViews_.size(); ++i)
        if (items_[i] == item) return itemViews_[i];
    return nullptr;
}

CGSize UIToolbar::sizeThatFits(const CGSize& size) const { return {size.width, 44}; }
