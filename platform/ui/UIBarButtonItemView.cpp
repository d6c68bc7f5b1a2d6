// Bar buttons as views: made per item, kept while the item stays in its bar.
#include "platform/ui/UIBarButtonItemView.h"

#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"

#include <algorithm>
#include <cmath>

namespace {

void line(const CGContextRef& c, CGFloat x0, CGFloat y0, CGFloat x1, CGFloat y1) {
    CGContextMoveToPoint(c, x0, y0);
    CGContextAddLineToPoint(c, x1, y1);
}

// A trash can 18 points wide and 22 high centred on (cx, cy): the lid with its handle, the
// body narrowing to its foot, three ribs.
void trashCan(const CGContextRef& c, CGFloat cx, CGFloat cy) {
    const CGFloat top = cy - 11;
    CGContextSetLineWidth(c, 1.5);
    line(c, cx - 9, top + 4, cx + 9, top + 4);
    CGContextMoveToPoint(c, cx - 3.5, top + 4);
    CGContextAddLineToPoint(c, cx - 3.5, top + 1);
    CGContextAddLineToPoint(c, cx + 3.5, top + 1);
    CGContextAddLineToPoint(c, cx + 3.5, top + 4);
    CGContextMoveToPoint(c, cx - 7, top + 6);
    CGContextAddLineToPoint(c, cx - 6, top + 21);
    CGContextAddLineToPoint(c, cx + 6, top + 21);
    CGContextAddLineToPoint(c, cx + 7, top + 6);
    for (const CGFloat x : {-3.0, 0.0, 3.0}) line(c, cx + x, top + 9, cx + x, top + 18);
    CGContextStrokePath(c);
}

// A circular arrow turning clockwise, its head at the top.
void refreshArrow(const CGContextRef& c, CGFloat cx, CGFloat cy) {
    constexpr CGFloat kRadius = 8;
    const CGFloat end = 1.5 * M_PI - 0.35;
    CGContextSetLineWidth(c, 1.8);
    CGContextAddArc(c, cx, cy, kRadius, -M_PI / 2 + 0.5, end, 0);
    CGContextStrokePath(c);
    const CGFloat x = cx + kRadius * std::cos(end), y = cy + kRadius * std::sin(end);
    CGContextMoveToPoint(c, x, y - 4);
    CGContextAddLineToPoint(c, x + 5, y);
    CGContextAddLineToPoint(c, x, y + 4);
    CGContextClosePath(c);
    CGContextFillPath(c);
}

void text(const CGContextRef& c, const std::string& title, const std::shared_ptr<UIColor>& color, const CGRect& box,
          NSTextAlignment alignment) {
    if (title.empty()) return;
    CGContext::Operation op(CGContext::Operation::Kind::DrawText);
    op.text = title;
    op.font = UIFont::systemFontOfSize(17);
    op.color = color;
    op.rect = box;
    op.alignment = alignment;
    c->record(std::move(op));
}

}  // namespace

UIBarButtonItemView::UIBarButtonItemView(std::shared_ptr<UIBarButtonItem> item, bool back)
    : item_(std::move(item)), back_(back) {
    setContentMode(UIViewContentModeRedraw);
}

void UIBarButtonItemView::didMoveToSuperview() {
    if (!item_) return;
    auto& views = item_->views_;
    const auto self = weak_from_this();
    const bool known = std::any_of(views.begin(), views.end(),
                                   [this](const std::weak_ptr<UIView>& view) { return view.lock().get() == this; });
    if (!known && !self.expired()) views.push_back(std::static_pointer_cast<UIView>(self.lock()));
    setNeedsDisplay();
}

void UIBarButtonItemView::tintColorDidChange() { setNeedsDisplay(); }

void UIBarButtonItemView::drawRect(const CGRect& rect) {
    (void)rect;
    auto c = UIGraphicsGetCurrentContext();
    if (!c || !item_ || item_->isSpace()) return;
    const CGRect b = bounds();
    const CGFloat cx = CGRectGetMidX(b), cy = CGRectGetMidY(b);
    auto tint = item_->tintColor() ? item_->tintColor() : tintColor();
    if (!item_->isEnabled()) tint = UIColor::lightGrayColor();
    CGContextSetStrokeColorWithColor(c, tint);
    CGContextSetFillColorWithColor(c, tint);
    CGContextSetLineCap(c, kCGLineCapRound);
    if (back_) {
        CGContextSetLineWidth(c, 3);
        CGContextMoveToPoint(c, b.origin.x + 11, cy - 10);
        CGContextAddLineToPoint(c, b.origin.x + 2, cy);
        CGContextAddLineToPoint(c, b.origin.x + 11, cy + 10);
        CGContextStrokePath(c);
        text(c, item_->title(), tint,
             {{b.origin.x + 20, b.origin.y}, {std::max(0.0, b.size.width - 20), b.size.height}}, NSTextAlignmentLeft);
        return;
    }
    if (auto image = item_->image()) {
        const CGSize size = image->size();
        CGContext::Operation op(CGContext::Operation::Kind::DrawImage);
        op.image = image;
        op.rect = {{cx - size.width / 2, cy - size.height / 2}, size};
        c->record(std::move(op));
        return;
    }
    // A system item draws its glyph unless it was given a title of its own.
    const auto system = item_->title().empty() ? item_->systemItem() : std::nullopt;
    if (system == UIBarButtonSystemItemTrash) trashCan(c, cx, cy);
    else if (system == UIBarButtonSystemItemRefresh) refreshArrow(c, cx, cy);
    else text(c, item_->displayTitle(), tint, b, NSTextAlignmentCenter);
}

void UIBarButtonItemView::didTapInside() {
    if (item_) item_->sendAction();
}

void UIBarButtonItemView::showItems(UIView& bar, const std::vector<std::shared_ptr<UIBarButtonItem>>& items,
                                   std::vector<std::shared_ptr<UIView>>& shown) {
    std::vector<std::shared_ptr<UIView>> views;
    views.reserve(items.size());
    for (const auto& item : items) {
        std::shared_ptr<UIView> view;
        if (!item || item->isSpace()) {
        } else if (item->customView()) {
            view = item->customView();
        } else {
            for (const auto& old : shown)
                if (auto button = std::dynamic_pointer_cast<UIBarButtonItemView>(old); button && button->item() == item)
                    view = button;
            if (!view) view = std::make_shared<UIBarButtonItemView>(item);
        }
        views.push_back(view);
    }
    for (const auto& old : shown)
        if (old && old->superview().get() == &bar && std::find(views.begin(), views.end(), old) == views.end())
            old->removeFromSuperview();
    for (const auto& view : views)
        if (view && view->superview().get() != &bar) bar.addSubview(view);
    shown = std::move(views);
}
