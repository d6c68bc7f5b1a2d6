// The view tree: geometry, hierarchy, coordinate conversion, autoresizing, the layout and
// display passes, constraint solving and hit-testing.
#include "platform/ui/UIView.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIColor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {
std::shared_ptr<UIView> lockView(const UIView* view) {
    if (!view) return nullptr;
    return std::static_pointer_cast<UIView>(std::const_pointer_cast<NSObject>(view->weak_from_this().lock()));
}

// Views waiting for the main run loop's layout and display pass.
std::vector<std::weak_ptr<UIView>>& pendingPass() {
    static std::vector<std::weak_ptr<UIView>> pending;
    return pending;
}
bool passPosted = false;
}  // namespace

UIView::UIView() : UIView(CGRectZero) {}

UIView::UIView(const CGRect& frame)
    : bounds_{{0, 0}, frame.size},
      center_{frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2},
      layer_(std::make_shared<CALayer>()) {
    layer_->owner_ = this;
}

UIView::~UIView() {
    layer_->owner_ = nullptr;
    layer_->opacity_ = static_cast<float>(alpha_);
    layer_->hidden_ = hidden_;
    layer_->masksToBounds_ = clipsToBounds_;
    for (auto& sub : subviews_) {
        sub->superview_.reset();
        sub->superviewRaw_ = nullptr;
    }
}

std::shared_ptr<UIView> UIView::superview() const {
    if (auto parent = superview_.lock()) return parent;
    if (!superviewRaw_) return nullptr;
    auto parent = lockView(superviewRaw_);
    if (parent) superview_ = parent;
    return parent;
}

// --- Geometry ---------------------------------------------------------------------------

CGRect UIView::frame() const {
    const CGRect local{{-bounds_.size.width / 2, -bounds_.size.height / 2}, bounds_.size};
    if (CGAffineTransformIsIdentity(transform_))
        return {{center_.x + local.origin.x, center_.y + local.origin.y}, bounds_.size};
    const CGRect r = CGRectApplyAffineTransform(local, transform_);
    return CGRectOffset(r, center_.x, center_.y);
}

void UIView::setFrame(const CGRect& frame) {
    noteAnimatableChange("position");
    noteAnimatableChange("bounds");
    const CGRect oldFrame = this->frame();
    const CGSize oldSize = bounds_.size;
    CGSize size = frame.size;
    if (!CGAffineTransformIsIdentity(transform_)) {
        // Only a pure scale can be undone; with a rotation the size stays as it was.
        if (transform_.b == 0 && transform_.c == 0 && transform_.a != 0 && transform_.d != 0)
            size = {frame.size.width / std::fabs(transform_.a), frame.size.height / std::fabs(transform_.d)};
        else
            size = bounds_.size;
    }
    center_ = {frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2};
    bounds_.size = size;
    frameDidChange(oldFrame, oldSize);
}

void UIView::setBounds(const CGRect& bounds) {
    noteAnimatableChange("bounds");
    const CGRect oldFrame = frame();
    const CGSize oldSize = bounds_.size;
    const bool originChanged = bounds.origin != bounds_.origin;
    bounds_ = bounds;
    frameDidChange(oldFrame, oldSize);
    // Scrolling moves the content: subviews are laid out again.
    if (originChanged) setNeedsLayout();
}

void UIView::setCenter(const CGPoint& center) {
    noteAnimatableChange("position");
    const CGRect oldFrame = frame();
    center_ = center;
    frameDidChange(oldFrame, bounds_.size);
}

void UIView::setTransform(const CGAffineTransform& transform) {
    noteAnimatableChange("transform");
    const CGRect oldFrame = frame();
    transform_ = transform;
    layer_->setTransform(CATransform3DMakeAffineTransform(transform));
    frameDidChange(oldFrame, bounds_.size);
}

void UIView::frameDidChange(const CGRect& oldFrame, const CGSize& oldBoundsSize) {
    const CGRect newFrame = frame();
    if (newFrame != oldFrame && !frameObservers_.empty()) {
        const auto observers = frameObservers_;
        for (auto& [token, observer] : observers) observer(*this, oldFrame, newFrame);
    }
    if (bounds_.size != oldBoundsSize) {
        if (autoresizesSubviews_) resizeSubviewsWithOldSize(oldBoundsSize);
        setNeedsLayout();
        if (contentMode_ == UIViewContentModeRedraw) setNeedsDisplay();
    }
    if (newFrame != oldFrame && !translatesAutoresizing_) {
        // Siblings tied to this view by constraints follow it.
        if (auto parent = superview(); parent && !parent->solvingConstraints_) parent->setNeedsLayout();
    }
}

void UIView::resizeSubviewsWithOldSize(const CGSize& oldSize) {
    const auto subviews = subviews_;
    for (auto& sub : subviews)
        if (sub->translatesAutoresizing_) sub->resizeWithOldSuperviewSize(oldSize);
}

namespace {
// Shares the change of the superview's extent among the flexible parts of one axis in
// proportion to their current extents (equally when those add up to nothing).
void resizeAxis(CGFloat& origin, CGFloat& size, CGFloat oldExtent, CGFloat newExtent, bool flexMin, bool flexSize,
                bool flexMax) {
    const CGFloat delta = newExtent - oldExtent;
    const int count = int(flexMin) + int(flexSize) + int(flexMax);
    if (delta == 0 || count == 0) return;
    const CGFloat minMargin = origin;
    const CGFloat maxMargin = oldExtent - origin - size;
    const CGFloat total = (flexMin ? minMargin : 0) + (flexSize ? size : 0) + (flexMax ? maxMargin : 0);
    CGFloat dMin = 0, dSize = 0;
    if (total == 0) {
        if (flexMin) dMin = delta / count;
        if (flexSize) dSize = delta / count;
    } else {
        if (flexMin) dMin = delta * minMargin / total;
        if (flexSize) dSize = delta * size / total;
    }
    origin += dMin;
    size += dSize;
}
}  // namespace

void UIView::resizeWithOldSuperviewSize(const CGSize& oldSize) {
    auto parent = superview();
    if (!parent || autoresizingMask_ == UIViewAutoresizingNone) return;
    const CGSize newSize = parent->bounds_.size;
    CGRect f = frame();
    const unsigned m = autoresizingMask_;
    resizeAxis(f.origin.x, f.size.width, oldSize.width, newSize.width, m & UIViewAutoresizingFlexibleLeftMargin,
               m & UIViewAutoresizingFlexibleWidth, m & UIViewAutoresizingFlexibleRightMargin);
    resizeAxis(f.origin.y, f.size.height, oldSize.height, newSize.height, m & UIViewAutoresizingFlexibleTopMargin,
               m & UIViewAutoresizingFlexibleHeight, m & UIViewAutoresizingFlexibleBottomMargin);
    if (f != frame()) setFrame(f);
}

void UIView::setAlpha(CGFloat alpha) {
    noteAnimatableChange("opacity");
    alpha_ = std::clamp(alpha, 0.0, 1.0);
}

void UIView::setHidden(bool hidden) {
    if (hidden && !hidden_) {
        // A hidden view cannot keep typing focus.
        if (auto responder = UIResponder::currentFirstResponder()) {
            auto view = std::dynamic_pointer_cast<UIView>(responder);
            if (view && view->isDescendantOfView(this)) view->resignFirstResponder();
        }
    }
    hidden_ = hidden;
}

void UIView::setBackgroundColor(std::shared_ptr<UIColor> color) {
    noteAnimatableChange("backgroundColor");
    backgroundColor_ = std::move(color);
}

std::shared_ptr<UIColor> UIView::tintColor() const {
    for (const UIView* v = this; v; v = v->superviewRaw_)
        if (v->tintColor_) return v->tintColor_;
    return UIColor::systemBlueColor();
}

void UIView::setTintColor(std::shared_ptr<UIColor> color) {
    tintColor_ = std::move(color);
    std::vector<UIView*> stack{this};
    while (!stack.empty()) {
        UIView* v = stack.back();
        stack.pop_back();
        v->tintColorDidChange();
        for (auto& sub : v->subviews_)
            if (!sub->tintColor_) stack.push_back(sub.get());
    }
}

std::shared_ptr<UIView> UIView::viewWithTag(int tag) {
    if (tag_ == tag) return lockView(this);
    for (auto& sub : subviews_)
        if (auto found = sub->viewWithTag(tag)) return found;
    return nullptr;
}

void UIView::setContentMode(UIViewContentMode mode) {
    contentMode_ = mode;
    setNeedsDisplay();
}

// --- Hierarchy --------------------------------------------------------------------------

void UIView::addSubview(const std::shared_ptr<UIView>& view) { insertSubview(view, subviews_.size() + 1); }

void UIView::insertSubview(const std::shared_ptr<UIView>& viewRef, std::size_t index) {
    // A copy: the caller's reference may live in a subview list this call changes.
    const std::shared_ptr<UIView> view = viewRef;
    if (!view || view.get() == this || isDescendantOfView(view.get())) return;
    auto self = lockView(this);
    if (view->superview().get() == this) {
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        subviews_.erase(it);
        subviews_.insert(subviews_.begin() + std::min(index, subviews_.size()), view);
        return;
    }
    auto oldWindow = view->windowView();
    auto newWindow = windowView();
    const bool windowChanges = oldWindow != newWindow;
    view->willMoveToSuperview(self);
    if (windowChanges) view->notifyWindowChange(oldWindow, newWindow, false);
    view->detachFromSuperview(true);
    view->superview_ = self;
    view->superviewRaw_ = this;
    subviews_.insert(subviews_.begin() + std::min(index, subviews_.size()), view);
    if (windowChanges) view->notifyWindowChange(oldWindow, newWindow, true);
    view->didMoveToSuperview();
    didAddSubview(view);
    setNeedsLayout();
    if (!view->translatesAutoresizing_) view->setNeedsLayout();
}

void UIView::bringSubviewToFront(const std::shared_ptr<UIView>& viewRef) {
    const auto view = viewRef;
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    if (it == subviews_.end()) return;
    subviews_.erase(it);
    subviews_.push_back(view);
}

void UIView::sendSubviewToBack(const std::shared_ptr<UIView>& viewRef) {
    const auto view = viewRef;
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    if (it == subviews_.end()) return;
    subviews_.erase(it);
    subviews_.insert(subviews_.begin(), view);
}

void UIView::detachFromSuperview(bool notify) {
    auto parent = superview();
    if (!parent) return;
    auto self = lockView(this);
    if (notify) parent->willRemoveSubview(self);
    auto it = std::find(parent->subviews_.begin(), parent->subviews_.end(), self);
    if (it != parent->subviews_.end()) parent->subviews_.erase(it);
    superview_.reset();
    superviewRaw_ = nullptr;
    parent->setNeedsLayout();
}

void UIView::removeFromSuperview() {
    auto parent = superview();
    if (!parent) return;
    auto self = lockView(this);  // the superview's list may hold the last reference
    if (auto responder = UIResponder::currentFirstResponder()) {
        auto view = std::dynamic_pointer_cast<UIView>(responder);
        if (view && view->isDescendantOfView(this)) view->resignFirstResponder();
    }
    auto oldWindow = windowView();
    willMoveToSuperview(nullptr);
    if (oldWindow && oldWindow.get() != this) notifyWindowChange(oldWindow, nullptr, false);
    detachFromSuperview(true);
    if (oldWindow && oldWindow.get() != this) notifyWindowChange(oldWindow, nullptr, true);
    didMoveToSuperview();
}

void UIView::notifyWindowChange(const std::shared_ptr<UIView>& oldWindow, const std::shared_ptr<UIView>& newWindow,
                                bool did) {
    (void)oldWindow;
    if (did) {
        didMoveToWindow();
        if (newWindow) {
            needsDisplay_ = true;
            scheduleRenderPass();
        }
    } else {
        willMoveToWindow(newWindow);
    }
    const auto subviews = subviews_;
    for (auto& sub : subviews) sub->notifyWindowChange(oldWindow, newWindow, did);
}

bool UIView::isDescendantOfView(const std::shared_ptr<UIView>& view) const { return isDescendantOfView(view.get()); }

bool UIView::isDescendantOfView(const UIView* view) const {
    if (!view) return false;
    for (auto v = lockView(this); v; v = v->superview())
        if (v.get() == view) return true;
    return false;
}

std::shared_ptr<UIView> UIView::windowView() const {
    for (auto v = lockView(this); v; v = v->superview())
        if (v->isWindow()) return v;
    return nullptr;
}

const UIView* UIView::rootView() const {
    const UIView* v = this;
    while (v->superviewRaw_) v = v->superviewRaw_;
    return v;
}

// --- Coordinates ------------------------------------------------------------------------

CGAffineTransform UIView::transformToSuperview() const {
    const CGAffineTransform toCentre = CGAffineTransformMakeTranslation(-bounds_.origin.x - bounds_.size.width / 2,
                                                                        -bounds_.origin.y - bounds_.size.height / 2);
    const CGAffineTransform fromCentre = CGAffineTransformMakeTranslation(center_.x, center_.y);
    if (CGAffineTransformIsIdentity(transform_)) {
        // Kept as one translation so whole-number frames convert without rounding.
        return CGAffineTransformMakeTranslation(center_.x - bounds_.size.width / 2 - bounds_.origin.x,
                                                center_.y - bounds_.size.height / 2 - bounds_.origin.y);
    }
    return CGAffineTransformConcat(CGAffineTransformConcat(toCentre, transform_), fromCentre);
}

// From this view's coordinates to `ancestor`'s (to the screen, past the root, when it is null
// or not an ancestor).
CGAffineTransform UIView::transformToAncestor(const UIView* ancestor) const {
    CGAffineTransform m = CGAffineTransformIdentity;
    const UIView* v = this;
    while (v && v != ancestor) {
        m = CGAffineTransformConcat(m, v->transformToSuperview());
        v = v->superviewRaw_;
    }
    return m;
}

namespace {
const UIView* commonAncestor(const UIView* a, const UIView* b) {
    std::set<const UIView*> ancestors;
    for (auto v = lockView(a); v; v = v->superview()) ancestors.insert(v.get());
    for (auto v = lockView(b); v; v = v->superview())
        if (ancestors.count(v.get())) return v.get();
    return nullptr;
}
}  // namespace

CGPoint UIView::convertPointToView(const CGPoint& point, const std::shared_ptr<UIView>& view) const {
    const UIView* target = view ? view.get() : nullptr;
    if (!target) {
        auto window = windowView();
        target = window ? window.get() : rootView();
    }
    if (target == this) return point;
    const UIView* common = commonAncestor(this, target);
    const CGPoint up = CGPointApplyAffineTransform(point, transformToAncestor(common));
    return CGPointApplyAffineTransform(up, CGAffineTransformInvert(target->transformToAncestor(common)));
}

CGPoint UIView::convertPointFromView(const CGPoint& point, const std::shared_ptr<UIView>& view) const {
    if (view) return view->convertPointToView(point, lockView(this));
    auto window = windowView();
    const UIView* source = window ? window.get() : rootView();
    return source->convertPointToView(point, lockView(this));
}

CGRect UIView::convertRectToView(const CGRect& rect, const std::shared_ptr<UIView>& view) const {
    const UIView* target = view ? view.get() : nullptr;
    if (!target) {
        auto window = windowView();
        target = window ? window.get() : rootView();
    }
    if (target == this) return rect;
    const UIView* common = commonAncestor(this, target);
    const CGAffineTransform m = CGAffineTransformConcat(transformToAncestor(common),
                                                        CGAffineTransformInvert(target->transformToAncestor(common)));
    return CGRectApplyAffineTransform(rect, m);
}

CGRect UIView::convertRectFromView(const CGRect& rect, const std::shared_ptr<UIView>& view) const {
    if (view) return view->convertRectToView(rect, lockView(this));
    auto window = windowView();
    const UIView* source = window ? window.get() : rootView();
    return source->convertRectToView(rect, lockView(this));
}

// --- Layout -----------------------------------------------------------------------------

void UIView::scheduleRenderPass() {
    // Views belong to the main thread: a change from elsewhere would race the render pass.
    if (!NSThread::isMainThread()) {
        std::fprintf(stderr,
                     "UIView: a %s was changed off the main thread; views may only be used on the main "
                     "thread; aborting.\n",
                     className().c_str());
        std::fflush(stderr);
        std::abort();
    }
    if (queuedForPass_) return;
    auto self = weak_from_this();
    if (self.expired()) return;
    queuedForPass_ = true;
    pendingPass().push_back(std::static_pointer_cast<UIView>(self.lock()));
    if (!passPosted) {
        passPosted = true;
        NSRunLoop::mainRunLoop()->post(&UIView::runRenderPass);
    }
}

void UIView::runRenderPass() {
    passPosted = false;
    std::vector<std::weak_ptr<UIView>> pending;
    pending.swap(pendingPass());
    std::vector<std::shared_ptr<UIView>> roots;
    for (auto& weak : pending) {
        auto view = weak.lock();
        if (!view) continue;
        view->queuedForPass_ = false;
        while (auto parent = view->superview()) view = parent;
        if (std::find(roots.begin(), roots.end(), view) == roots.end()) roots.push_back(view);
    }
    for (auto& root : roots) root->layoutAndDisplayIfNeeded();
}

void UIView::setNeedsLayout() {
    needsLayout_ = true;
    scheduleRenderPass();
}

void UIView::layoutIfNeeded() {
    auto keep = lockView(this);
    if (needsLayout_) {
        needsLayout_ = false;
        applyConstraints();
        layoutSubviews();
    }
    const auto subviews = subviews_;
    for (auto& sub : subviews) sub->layoutIfNeeded();
}

CGSize UIView::sizeThatFits(const CGSize& size) const {
    (void)size;
    return bounds_.size;
}

void UIView::sizeToFit() {
    const CGSize fitted = sizeThatFits(bounds_.size);
    CGRect f = frame();
    f.size = fitted;
    setFrame(f);
}

void UIView::invalidateIntrinsicContentSize() {
    if (!translatesAutoresizing_)
        if (auto parent = superview()) parent->setNeedsLayout();
}

UIEdgeInsets UIView::safeAreaInsets() const {
    auto window = windowView();
    if (!window || window.get() == this) return UIEdgeInsetsZero;
    const UIEdgeInsets w = window->safeAreaInsets();
    const CGRect mine = convertRectToView(bounds_, window);
    const CGRect wb = window->bounds();
    return {std::max(0.0, w.top - (mine.origin.y - wb.origin.y)), std::max(0.0, w.left - (mine.origin.x - wb.origin.x)),
            std::max(0.0, CGRectGetMaxY(mine) - (CGRectGetMaxY(wb) - w.bottom)),
            std::max(0.0, CGRectGetMaxX(mine) - (CGRectGetMaxX(wb) - w.right))};
}

std::shared_ptr<UILayoutGuide> UIView::safeAreaLayoutGuide() {
    if (!safeAreaGuide_) safeAreaGuide_ = std::make_shared<UILayoutGuide>(lockView(this));
    return safeAreaGuide_;
}

// --- Display ----------------------------------------------------------------------------

void UIView::drawRect(const CGRect& rect) { (void)rect; }

void UIView::setNeedsDisplay() {
    needsDisplay_ = true;
    scheduleRenderPass();
}

void UIView::displayIfNeeded() {
    if (!needsDisplay_) return;
    needsDisplay_ = false;
    auto keep = lockView(this);
    auto context = std::make_shared<CGContext>(bounds_);
    UIGraphicsPushContext(context);
    drawRect(bounds_);
    UIGraphicsPopContext();
    lastDrawing_ = context;
    ++displayCount_;
}

void UIView::layoutAndDisplayIfNeeded() {
    auto keep = lockView(this);
    layoutIfNeeded();
    std::vector<std::shared_ptr<UIView>> stack{keep};
    while (!stack.empty()) {
        auto v = stack.back();
        stack.pop_back();
        v->displayIfNeeded();
        for (auto& sub : v->subviews_) stack.push_back(sub);
    }
}

// --- Events -----------------------------------------------------------------------------

std::shared_ptr<UIView> UIView::hitTest(const CGPoint& point, const std::shared_ptr<UIEvent>& event) {
    if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01) return nullptr;
    if (!pointInside(point, event)) return nullptr;
    auto self = lockView(this);
    const auto subviews = subviews_;
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
        const CGPoint inner =
            CGPointApplyAffineTransform(point, CGAffineTransformInvert((*it)->transformToSuperview()));
        if (auto hit = (*it)->hitTest(inner, event)) return hit;
    }
    return self;
}

bool UIView::pointInside(const CGPoint& point, const std::shared_ptr<UIEvent>& event) const {
    (void)event;
    return CGRectContainsPoint(bounds_, point);
}

std::shared_ptr<UIResponder> UIView::nextResponder() const {
    if (auto controller = viewController_.lock()) return controller;
    return superview();
}

std::uint64_t UIView::addFrameObserver(FrameObserver observer) {
    const std::uint64_t token = nextObserver_++;
    frameObservers_[token] = std::move(observer);
    return token;
}

void UIView::removeFrameObserver(std::uint64_t token) { frameObservers_.erase(token); }

std::string UIView::description() const {
    const CGRect f = frame();
    std::string text = NSString::format("<%@: %p; frame = (%g %g; %g %g)", className(), static_cast<const void*>(this),
                                        f.origin.x, f.origin.y, f.size.width, f.size.height);
    if (tag_ != 0) text += NSString::format("; tag = %d", tag_);
    if (hidden_) text += "; hidden = YES";
    if (alpha_ != 1) text += NSString::format("; alpha = %g", alpha_);
    return text + ">";
}
