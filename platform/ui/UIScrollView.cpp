// Scroll views: offsets clamped to the content, paging, zooming the delegate's view, and the
// delegate calls of a person's scroll.
#include "platform/ui/UIScrollView.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIPanGestureRecognizer.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kScrollAnimationDuration = 0.3;

// The scroll view's pan: it leaves drags it cannot follow to the recognisers above.
class ScrollViewPan : public UIPanGestureRecognizer {
public:
    explicit ScrollViewPan(std::weak_ptr<UIScrollView> scroll) : scroll_(std::move(scroll)) {}

protected:
    bool canBegin() override {
        auto scroll = scroll_.lock();
        return scroll && scroll->canScrollTowards(translationInView(nullptr));
    }

private:
    std::weak_ptr<UIScrollView> scroll_;
};
}  // namespace

UIScrollView::UIScrollView() : UIScrollView(CGRectZero) {}

UIScrollView::UIScrollView(const CGRect& frame) : UIView(frame) { setClipsToBounds(true); }

void UIScrollView::setContentSize(CGSize size) {
    // Only a change asks for layout: tables and collections set it from their own layout.
    if (size == contentSize_) return;
    contentSize_ = size;
    setNeedsLayout();
}

void UIScrollView::setContentInset(UIEdgeInsets inset) {
    if (inset == contentInset_) return;
    contentInset_ = inset;
    setNeedsLayout();
}

CGPoint UIScrollView::minimumContentOffset() const { return {-contentInset_.left, -contentInset_.top}; }

CGPoint UIScrollView::maximumContentOffset() const {
    const CGSize b = bounds().size;
    const CGPoint min = minimumContentOffset();
    return {std::max(min.x, contentSize_.width + contentInset_.right - b.width),
            std::max(min.y, contentSize_.height + contentInset_.bottom - b.height)};
}

CGPoint UIScrollView::clampOffset(CGPoint offset) const {
    const CGPoint min = minimumContentOffset(), max = maximumContentOffset();
    return {std::clamp(offset.x, min.x, max.x), std::clamp(offset.y, min.y, max.y)};
}

void UIScrollView::notifyScroll() {
    contentOffsetDidChange();
    if (auto d = delegate()) d->scrollViewDidScroll(std::static_pointer_cast<UIScrollView>(shared_from_this()));
}

void UIScrollView::setContentOffset(CGPoint offset) {
    if (offset == bounds().origin) return;
    CGRect b = bounds();
    b.origin = offset;
    setBounds(b);
    notifyScroll();
}

void UIScrollView::scheduleScrollAnimationEnd() {
    auto weak = std::weak_ptr<UIScrollView>(std::static_pointer_cast<UIScrollView>(shared_from_this()));
    NSRunLoop::mainRunLoop()->performAfterDelay(
        shared_from_this(),
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            if (auto d = self->delegate()) d->scrollViewDidEndScrollingAnimation(self);
        },
        kScrollAnimationDuration);
}

void UIScrollView::setContentOffset(CGPoint offset, bool animated) {
    setContentOffset(offset);
    if (animated) scheduleScrollAnimationEnd();
}

void UIScrollView::applyZoom(CGFloat scale, const CGPoint* anchor) {
    auto self = std::static_pointer_cast<UIScrollView>(shared_from_this());
    auto d = delegate();
    auto view = d ? d->viewForZoomingInScrollView(self) : nullptr;
    if (!view) return;
    scale = std::clamp(scale, minimumZoomScale_, std::max(minimumZoomScale_, maximumZoomScale_));
    const CGFloat old = zoomScale_;
    // The point of the content under the anchor (in unscaled content coordinates) stays put.
    const CGPoint visibleAnchor = anchor ? *anchor : CGPoint{bounds().size.width / 2, bounds().size.height / 2};
    const CGPoint contentPoint{(bounds().origin.x + visibleAnchor.x) / old, (bounds().origin.y + visibleAnchor.y) / old};
    zoomScale_ = scale;
    view->setTransform(CGAffineTransformMakeScale(scale, scale));
    const CGSize size = view->bounds().size;
    view->setCenter({size.width * scale / 2, size.height * scale / 2});
    contentSize_ = {size.width * scale, size.height * scale};
    d->scrollViewDidZoom(self);
    setContentOffset(clampOffset({contentPoint.x * scale - visibleAnchor.x, contentPoint.y * scale - visibleAnchor.y}));
}

void UIScrollView::setZoomScale(CGFloat scale) { applyZoom(scale, nullptr); }

void UIScrollView::setZoomScale(CGFloat scale, bool animated) {
    applyZoom(scale, nullptr);
    if (!animated) return;
    auto weak = std::weak_ptr<UIScrollView>(std::static_pointer_cast<UIScrollView>(shared_from_this()));
    NSRunLoop::mainRunLoop()->performAfterDelay(
        shared_from_this(),
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            auto d = self->delegate();
            if (d) d->scrollViewDidEndZooming(self, d->viewForZoomingInScrollView(self), self->zoomScale_);
        },
        kScrollAnimationDuration);
}

void UIScrollView::zoomToRect(const CGRect& rect, bool animated) {
    if (rect.size.width <= 0 || rect.size.height <= 0) return;
    const CGSize b = bounds().size;
    CGFloat scale = std::min(b.width / rect.size.width, b.height / rect.size.height);
    scale = std::clamp(scale, minimumZoomScale_, std::max(minimumZoomScale_, maximumZoomScale_));
    setZoomScale(scale, animated);
    setContentOffset(clampOffset({CGRectGetMidX(rect) * zoomScale_ - b.width / 2,
                                  CGRectGetMidY(rect) * zoomScale_ - b.height / 2}));
}

void UIScrollView::simulateScroll(CGPoint offset, bool decelerate) {
    if (!scrollEnabled_ || !isUserInteractionEnabled() || !UIAlertModality::touchReaches(this)) return;
    auto self = std::static_pointer_cast<UIScrollView>(shared_from_this());
    auto d = delegate();
    dragging_ = true;
    if (d) d->scrollViewWillBeginDragging(self);
    setContentOffset(bounces_ ? offset : clampOffset(offset));
    CGPoint rest = offset;
    if (pagingEnabled_) {
        const CGSize page = bounds().size;
        if (page.width > 0) rest.x = std::round(offset.x / page.width) * page.width;
        if (page.height > 0) rest.y = std::round(offset.y / page.height) * page.height;
    }
    rest = clampOffset(rest);
    dragging_ = false;
    if (d) d->scrollViewDidEndDragging(self, decelerate);
    if (decelerate) {
        decelerating_ = true;
        if (d) d->scrollViewWillBeginDecelerating(self);
        setContentOffset(rest);
        decelerating_ = false;
        if (d) d->scrollViewDidEndDecelerating(self);
    } else {
        setContentOffset(rest);
    }
}

std::shared_ptr<UIPanGestureRecognizer> UIScrollView::panGestureRecognizer() {
    if (pan_) return pan_;
    auto self = std::static_pointer_cast<UIScrollView>(shared_from_this());
    pan_ = std::make_shared<ScrollViewPan>(self);
    pan_->setMaximumNumberOfTouches(1);
    pan_->addTarget(self, &UIScrollView::handlePan);
    addGestureRecognizer(pan_);
    return pan_;
}

bool UIScrollView::canScrollTowards(CGPoint translation) const {
    if (!scrollEnabled_ || !isUserInteractionEnabled()) return false;
    // Dragging the finger one way moves the offset the other way.
    constexpr double kSlack = 0.5;
    const CGPoint offset = contentOffset(), min = minimumContentOffset(), max = maximumContentOffset();
    if (std::fabs(translation.x) >= std::fabs(translation.y)) {
        if (translation.x < 0) return offset.x < max.x - kSlack || alwaysBounceHorizontal_;
        return offset.x > min.x + kSlack || alwaysBounceHorizontal_;
    }
    if (translation.y < 0) return offset.y < max.y - kSlack || alwaysBounceVertical_;
    return offset.y > min.y + kSlack || alwaysBounceVertical_;
}

void UIScrollView::handlePan(const std::shared_ptr<UIPanGestureRecognizer>& pan) {
    if (!pan) return;
    auto self = std::static_pointer_cast<UIScrollView>(shared_from_this());
    auto d = delegate();
    const CGPoint t = pan->translationInView(nullptr);
    switch (pan->state()) {
        case UIGestureRecognizerState::Began:
            panStartOffset_ = contentOffset();
            dragging_ = true;
            if (d) d->scrollViewWillBeginDragging(self);
            [[fallthrough]];
        case UIGestureRecognizerState::Changed:
            setContentOffset(clampOffset({panStartOffset_.x - t.x, panStartOffset_.y - t.y}));
            break;
        case UIGestureRecognizerState::Ended:
        case UIGestureRecognizerState::Cancelled:
            setContentOffset(clampOffset({panStartOffset_.x - t.x, panStartOffset_.y - t.y}));
            dragging_ = false;
            if (d) d->scrollViewDidEndDragging(self, false);
            break;
        default:
            break;
    }
}
