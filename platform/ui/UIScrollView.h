// Scroll views: content size, offset (the bounds origin), insets, paging, zooming, and the
// delegate calls, driven by tests and the simulator.
#pragma once

#include "platform/ui/UIView.h"

#include <memory>

class UIPanGestureRecognizer;
class UIScrollView;

class UIScrollViewDelegate {
public:
    virtual ~UIScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(const std::shared_ptr<UIScrollView>&) {}
    virtual void scrollViewDidZoom(const std::shared_ptr<UIScrollView>&) {}
    virtual void scrollViewWillBeginDragging(const std::shared_ptr<UIScrollView>&) {}
    virtual void scrollViewDidEndDragging(const std::shared_ptr<UIScrollView>&, bool willDecelerate) {
        (void)willDecelerate;
    }
    virtual void scrollViewWillBeginDecelerating(const std::shared_ptr<UIScrollView>&) {}
    virtual void scrollViewDidEndDecelerating(const std::shared_ptr<UIScrollView>&) {}
    virtual void scrollViewDidEndScrollingAnimation(const std::shared_ptr<UIScrollView>&) {}
    // The view that zooms; none (the default) means the scroll view does not zoom.
    virtual std::shared_ptr<UIView> viewForZoomingInScrollView(const std::shared_ptr<UIScrollView>&) { return nullptr; }
    virtual void scrollViewDidEndZooming(const std::shared_ptr<UIScrollView>&, const std::shared_ptr<UIView>&,
                                         CGFloat scale) {
        (void)scale;
    }
};

class UIScrollView : public UIView {
public:
    static std::shared_ptr<UIScrollView> make() { return std::make_shared<UIScrollView>(); }
    static std::shared_ptr<UIScrollView> initWithFrame(const CGRect& frame) { return std::make_shared<UIScrollView>(frame); }

    CGSize contentSize() const { return contentSize_; }
    void setContentSize(CGSize size);
    // The bounds origin. Setting it tells the delegate.
    CGPoint contentOffset() const { return bounds().origin; }
    void setContentOffset(CGPoint offset);
    // Animated: the offset is set at once; did-end-scrolling-animation follows on the main
    // run loop after 0.3 s of clock time.
    void setContentOffset(CGPoint offset, bool animated);
    UIEdgeInsets contentInset() const { return contentInset_; }
    void setContentInset(UIEdgeInsets inset);
    // The smallest and largest offsets a person can scroll to.
    CGPoint minimumContentOffset() const;
    CGPoint maximumContentOffset() const;

    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool enabled) { scrollEnabled_ = enabled; }
    bool isPagingEnabled() const { return pagingEnabled_; }
    void setPagingEnabled(bool enabled) { pagingEnabled_ = enabled; }
    bool bounces() const { return bounces_; }
    void setBounces(bool bounces) { bounces_ = bounces; }
    void setAlwaysBounceVertical(bool bounce) { alwaysBounceVertical_ = bounce; }
    void setAlwaysBounceHorizontal(bool bounce) { alwaysBounceHorizontal_ = bounce; }
    bool showsHorizontalScrollIndicator() const { return showsHorizontal_; }
    void setShowsHorizontalScrollIndicator(bool shows) { showsHorizontal_ = shows; }
    void setShowsVerticalScrollIndicator(bool shows) { showsVertical_ = shows; }
    void setDecelerationRate(double rate) { decelerationRate_ = rate; }

    // Zooming: the delegate's zooming view is scaled by a transform; the content size follows.
    CGFloat zoomScale() const { return zoomScale_; }
    void setZoomScale(CGFloat scale);
    void setZoomScale(CGFloat scale, bool animated);
    CGFloat minimumZoomScale() const { return minimumZoomScale_; }
    void setMinimumZoomScale(CGFloat scale) { minimumZoomScale_ = scale; }
    CGFloat maximumZoomScale() const { return maximumZoomScale_; }
    void setMaximumZoomScale(CGFloat scale) { maximumZoomScale_ = scale; }
    void setBouncesZoom(bool bounces) { bouncesZoom_ = bounces; }
    // Zooms so that `rect` (in the zooming view's unscaled coordinates) fills the bounds as
    // far as the scale limits allow, and scrolls it into view.
    void zoomToRect(const CGRect& rect, bool animated);

    std::shared_ptr<UIScrollViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UIScrollViewDelegate>& delegate) { delegate_ = delegate; }

    // A person's scroll: begin dragging, offsets moving to `offset` (clamped unless the view
    // bounces, snapped to pages when paging), end dragging, and with `decelerate` the
    // deceleration calls. Nothing happens while scrolling is disabled.
    void simulateScroll(CGPoint offset, bool decelerate = true);

    // The scroll view's own pan, made and attached the first time it is asked for (until then
    // touches pass the scroll view by; tests and the simulator's scroll command use
    // simulateScroll). It begins only when the drag can move the content (see
    // canScrollTowards), so a drag it cannot follow goes on to the recognisers above it (a
    // pager's pages turn); while it runs the content follows the finger within its limits.
    std::shared_ptr<UIPanGestureRecognizer> panGestureRecognizer();
    // Whether a drag by `translation` (finger movement, in points) would move the content:
    // scrolling enabled and room left in the drag's main direction.
    bool canScrollTowards(CGPoint translation) const;

    // Scroll views clip to their bounds.
    UIScrollView();
    explicit UIScrollView(const CGRect& frame);

protected:
    // Called after the offset changed (before the delegate hears of it).
    virtual void contentOffsetDidChange() {}

private:
    CGPoint clampOffset(CGPoint offset) const;
    void applyZoom(CGFloat scale, const CGPoint* anchor);
    void notifyScroll();
    void scheduleScrollAnimationEnd();
    void handlePan(const std::shared_ptr<UIPanGestureRecognizer>& pan);

    CGSize contentSize_;
    UIEdgeInsets contentInset_;
    bool scrollEnabled_ = true;
    bool pagingEnabled_ = false;
    bool bounces_ = true;
    bool alwaysBounceVertical_ = false;
    bool alwaysBounceHorizontal_ = false;
    bool showsHorizontal_ = true;
    bool showsVertical_ = true;
    double decelerationRate_ = 0.998;
    bool dragging_ = false;
    bool decelerating_ = false;
    CGFloat zoomScale_ = 1;
    CGFloat minimumZoomScale_ = 1;
    CGFloat maximumZoomScale_ = 1;
    bool bouncesZoom_ = true;
    std::weak_ptr<UIScrollViewDelegate> delegate_;
    std::shared_ptr<UIPanGestureRecognizer> pan_;
    CGPoint panStartOffset_;
};
