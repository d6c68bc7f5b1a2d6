// The view tree: geometry, hierarchy, autoresizing, layout and display passes, simple
// constraints, hit-testing and the animation API. Nothing is drawn; drawRect goes into a
// recording context.
#pragma once

#include "platform/ui/CALayer.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/CGGeometry.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIResponder.h"
#include "platform/ui/UIViewAnimation.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class UIColor;
class UIGestureRecognizer;
class UIWindow;

enum UIViewAutoresizing : unsigned {
    UIViewAutoresizingNone = 0,
    UIViewAutoresizingFlexibleLeftMargin = 1 << 0,
    UIViewAutoresizingFlexibleWidth = 1 << 1,
    UIViewAutoresizingFlexibleRightMargin = 1 << 2,
    UIViewAutoresizingFlexibleTopMargin = 1 << 3,
    UIViewAutoresizingFlexibleHeight = 1 << 4,
    UIViewAutoresizingFlexibleBottomMargin = 1 << 5,
};

enum UIViewContentMode : int {
    UIViewContentModeScaleToFill = 0,
    UIViewContentModeScaleAspectFit = 1,
    UIViewContentModeScaleAspectFill = 2,
    UIViewContentModeRedraw = 3,
    UIViewContentModeCenter = 4,
    UIViewContentModeTop = 5,
    UIViewContentModeBottom = 6,
    UIViewContentModeLeft = 7,
    UIViewContentModeRight = 8,
    UIViewContentModeTopLeft = 9,
    UIViewContentModeTopRight = 10,
    UIViewContentModeBottomLeft = 11,
    UIViewContentModeBottomRight = 12,
};

// The value intrinsicContentSize gives for a dimension the view has no opinion on.
inline constexpr CGFloat UIViewNoIntrinsicMetric = -1;

class UIView : public UIResponder {
public:
    using FrameObserver = std::function<void(UIView& view, const CGRect& oldFrame, const CGRect& newFrame)>;

    static std::shared_ptr<UIView> make() { return std::make_shared<UIView>(); }
    static std::shared_ptr<UIView> initWithFrame(const CGRect& frame) { return std::make_shared<UIView>(frame); }

    UIView();
    explicit UIView(const CGRect& frame);
    ~UIView() override;

    // --- Geometry -----------------------------------------------------------------------
    // The bounding box of the bounds around the centre through the transform.
    CGRect frame() const;
    virtual void setFrame(const CGRect& frame);
    CGRect bounds() const { return bounds_; }
    virtual void setBounds(const CGRect& bounds);
    CGPoint center() const { return center_; }
    virtual void setCenter(const CGPoint& center);
    CGAffineTransform transform() const { return transform_; }
    void setTransform(const CGAffineTransform& transform);
    const std::shared_ptr<CALayer>& layer() const { return layer_; }

    CGFloat alpha() const { return alpha_; }
    void setAlpha(CGFloat alpha);
    // The alpha drawn now: while an animation of it runs, the value it has reached by the clock
    // along its curve (a view fading out is still seen until its fade ends); else alpha().
    CGFloat presentationAlpha() const;
    bool isHidden() const { return hidden_; }
    virtual void setHidden(bool hidden);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { opaque_ = opaque; }
    std::shared_ptr<UIColor> backgroundColor() const { return backgroundColor_; }
    virtual void setBackgroundColor(std::shared_ptr<UIColor> color);
    // The nearest set tint up the tree, else the system blue.
    std::shared_ptr<UIColor> tintColor() const;
    void setTintColor(std::shared_ptr<UIColor> color);
    virtual void tintColorDidChange() {}

    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    // This view or the first descendant (depth first, in subview order) with the tag.
    std::shared_ptr<UIView> viewWithTag(int tag);

    bool clipsToBounds() const { return clipsToBounds_; }
    void setClipsToBounds(bool clips) { clipsToBounds_ = clips; }
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    virtual void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
    bool isExclusiveTouch() const { return exclusiveTouch_; }
    void setExclusiveTouch(bool exclusive) { exclusiveTouch_ = exclusive; }
    UIViewContentMode contentMode() const { return contentMode_; }
    virtual void setContentMode(UIViewContentMode mode);
    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
    void setAutoresizesSubviews(bool autoresizes) { autoresizesSubviews_ = autoresizes; }

    // --- Hierarchy ----------------------------------------------------------------------
    std::shared_ptr<UIView> superview() const;
    // Back to front.
    const std::vector<std::shared_ptr<UIView>>& subviews() const { return subviews_; }
    // Moves `view` to the front of this view's subviews (taking it from its old superview).
    void addSubview(const std::shared_ptr<UIView>& view);
    // Index clamped to the count.
    void insertSubview(const std::shared_ptr<UIView>& view, std::size_t index);
    void bringSubviewToFront(const std::shared_ptr<UIView>& view);
    void sendSubviewToBack(const std::shared_ptr<UIView>& view);
    void removeFromSuperview();
    // True for the view itself too.
    bool isDescendantOfView(const std::shared_ptr<UIView>& view) const;
    bool isDescendantOfView(const UIView* view) const;

    // Windows answer true; a window is the root of what is on screen.
    virtual bool isWindow() const { return false; }
    // The nearest window up the tree (this view when it is one); empty when not in a window.
    std::shared_ptr<UIView> windowView() const;
    // The same as a window (defined with UIWindow).
    std::shared_ptr<UIWindow> window() const;

    // Overridable notifications of hierarchy changes; `newWindow` is empty when leaving one.
    virtual void willMoveToSuperview(const std::shared_ptr<UIView>& newSuperview) { (void)newSuperview; }
    virtual void didMoveToSuperview() {}
    virtual void willMoveToWindow(const std::shared_ptr<UIView>& newWindow) { (void)newWindow; }
    virtual void didMoveToWindow() {}
    virtual void didAddSubview(const std::shared_ptr<UIView>& subview) { (void)subview; }
    virtual void willRemoveSubview(const std::shared_ptr<UIView>& subview) { (void)subview; }

    // --- Coordinates --------------------------------------------------------------------
    // An empty `view` means the window's coordinates (the root's when not in a window).
    CGPoint convertPointToView(const CGPoint& point, const std::shared_ptr<UIView>& view) const;
    CGPoint convertPointFromView(const CGPoint& point, const std::shared_ptr<UIView>& view) const;
    CGRect convertRectToView(const CGRect& rect, const std::shared_ptr<UIView>& view) const;
    CGRect convertRectFromView(const CGRect& rect, const std::shared_ptr<UIView>& view) const;

    // --- Layout -------------------------------------------------------------------------
    // By default nothing (constraints are solved before it is called).
    virtual void layoutSubviews() {}
    // Asks for a layout pass, run on a later turn of the main run loop or by layoutIfNeeded().
    void setNeedsLayout();
    // Lays out this view (when it needs it) and then its subtree.
    void layoutIfNeeded();
    virtual CGSize sizeThatFits(const CGSize& size) const;
    // Sets the bounds size to sizeThatFits(current size), keeping the origin.
    virtual void sizeToFit();
    virtual CGSize intrinsicContentSize() const { return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric}; }
    void invalidateIntrinsicContentSize();

    // The window's safe-area insets, less the part of them this view does not reach.
    virtual UIEdgeInsets safeAreaInsets() const;
    std::shared_ptr<UILayoutGuide> safeAreaLayoutGuide();

    // --- Constraints --------------------------------------------------------------------
    std::shared_ptr<NSLayoutAnchor> leadingAnchor();
    std::shared_ptr<NSLayoutAnchor> trailingAnchor();
    std::shared_ptr<NSLayoutAnchor> leftAnchor();
    std::shared_ptr<NSLayoutAnchor> rightAnchor();
    std::shared_ptr<NSLayoutAnchor> topAnchor();
    std::shared_ptr<NSLayoutAnchor> bottomAnchor();
    std::shared_ptr<NSLayoutAnchor> widthAnchor();
    std::shared_ptr<NSLayoutAnchor> heightAnchor();
    std::shared_ptr<NSLayoutAnchor> centerXAnchor();
    std::shared_ptr<NSLayoutAnchor> centerYAnchor();
    // True by default: the frame is set by hand and the autoresizing mask; false lets the
    // active constraints on this view place it.
    bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizing_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates);
    // The active constraints whose first item is this view.
    std::vector<std::shared_ptr<NSLayoutConstraint>> constraints() const;

    // --- Display ------------------------------------------------------------------------
    // By default nothing; overrides draw into UIGraphicsGetCurrentContext().
    virtual void drawRect(const CGRect& rect);
    // Asks for drawRect on a later turn of the main run loop or by displayIfNeeded().
    void setNeedsDisplay();
    // Runs drawRect over the bounds into a fresh recording context when display was asked for.
    void displayIfNeeded();
    bool needsDisplay() const { return needsDisplay_; }
    // What the last drawRect recorded; empty before the first.
    CGContextRef lastDrawing() const { return lastDrawing_; }
    int displayCount() const { return displayCount_; }
    // Lays out and displays what is pending in this subtree (what the main run loop does).
    void layoutAndDisplayIfNeeded();

    // --- Events -------------------------------------------------------------------------
    // The frontmost descendant (or this view) containing `point` (in this view's coordinates)
    // that takes touches: hidden views, views with alpha below 0.01 and views with user
    // interaction off take none, nor do their subviews.
    virtual std::shared_ptr<UIView> hitTest(const CGPoint& point, const std::shared_ptr<UIEvent>& event);
    virtual bool pointInside(const CGPoint& point, const std::shared_ptr<UIEvent>& event) const;

    // Defined with UIGestureRecognizer, which ties the recogniser to this view.
    void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
    void removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
    const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const { return gestureRecognizers_; }

    // The controller whose root view this is: the next responder after this view. Set by the
    // controller when it loads its view.
    void setViewController(const std::shared_ptr<UIResponder>& controller) { viewController_ = controller; }
    std::shared_ptr<UIResponder> viewController() const { return viewController_.lock(); }
    std::shared_ptr<UIResponder> nextResponder() const override;

    // --- Frame observation --------------------------------------------------------------
    // Called after every change of the frame (through frame, bounds, centre or transform).
    std::uint64_t addFrameObserver(FrameObserver observer);
    void removeFrameObserver(std::uint64_t token);

    std::string description() const override;

    // --- Animations ---------------------------------------------------------------------
    // The changes made by `animations` take effect at once and are recorded as one animation;
    // `completion` runs on the main run loop once the clock passes delay + duration, with
    // finished = false when every change was taken over by a later animation begun from the
    // current state (then at once), or when some were.
    static void animateWithDuration(double duration, const std::function<void()>& animations);
    static void animateWithDuration(double duration, const std::function<void()>& animations,
                                    std::function<void(bool)> completion);
    static void animateWithDuration(double duration, double delay, unsigned options,
                                    const std::function<void()>& animations, std::function<void(bool)> completion);
    static void animateWithDuration(double duration, double delay, CGFloat springDamping, CGFloat initialVelocity,
                                    unsigned options, const std::function<void()>& animations,
                                    std::function<void(bool)> completion);
    static bool areAnimationsEnabled();
    static void setAnimationsEnabled(bool enabled);

    // The older begin/commit form.
    static void beginAnimations(const std::string& animationID);
    static void setAnimationDuration(double duration);
    static void setAnimationTransition(UIViewAnimationTransition transition, const std::shared_ptr<UIView>& view,
                                       bool cache);
    // The delegate's did-stop selector: (animation id, finished).
    static void setAnimationDidStopHandler(std::function<void(const std::string&, bool)> handler);
    static void commitAnimations();

    // Every animation begun so far, oldest first (the last 1000).
    static std::vector<std::shared_ptr<UIViewAnimation>> animationLog();
    static void clearAnimationLog();

protected:
    // Records an animatable change of `key` ("position", "bounds", "opacity", "transform",
    // "backgroundColor") inside an animation block; subclasses with their own animatable
    // values call it too.
    void noteAnimatableChange(const std::string& key);
    // Geometry changed: observers, autoresizing of subviews, layout requests.
    virtual void frameDidChange(const CGRect& oldFrame, const CGSize& oldBoundsSize);

private:
    friend class CALayer;
    friend class UIGestureRecognizer;
    friend class NSLayoutConstraint;

    void resizeSubviewsWithOldSize(const CGSize& oldSize);
    void resizeWithOldSuperviewSize(const CGSize& oldSize);
    void applyConstraints();
    void detachFromSuperview(bool notify);
    void attachSubview(const std::shared_ptr<UIView>& view, std::size_t index);
    void notifyWindowChange(const std::shared_ptr<UIView>& oldWindow, const std::shared_ptr<UIView>& newWindow,
                            bool did);
    void scheduleRenderPass();
    static void runRenderPass();
    std::shared_ptr<NSLayoutAnchor> anchor(NSLayoutAttribute attribute);
    void addActiveConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint);
    void removeActiveConstraint(const NSLayoutConstraint* constraint);
    CGAffineTransform transformToSuperview() const;
    CGAffineTransform transformToAncestor(const UIView* ancestor) const;
    const UIView* rootView() const;

    CGRect bounds_;
    CGPoint center_;
    CGAffineTransform transform_;
    std::shared_ptr<CALayer> layer_;
    CGFloat alpha_ = 1;
    bool hidden_ = false;
    bool opaque_ = true;
    std::shared_ptr<UIColor> backgroundColor_;
    std::shared_ptr<UIColor> tintColor_;
    int tag_ = 0;
    bool clipsToBounds_ = false;
    bool userInteractionEnabled_ = true;
    bool exclusiveTouch_ = false;
    UIViewContentMode contentMode_ = UIViewContentModeScaleToFill;
    unsigned autoresizingMask_ = UIViewAutoresizingNone;
    bool autoresizesSubviews_ = true;
    bool translatesAutoresizing_ = true;

    // The parent. A view that adds subviews in its own constructor has no owner yet to link
    // weakly to, so the plain pointer stands in until the owner exists; it is valid while this
    // view is in the parent's list, and the parent clears it when it goes.
    mutable std::weak_ptr<UIView> superview_;
    UIView* superviewRaw_ = nullptr;
    std::vector<std::shared_ptr<UIView>> subviews_;
    std::weak_ptr<UIResponder> viewController_;
    std::vector<std::shared_ptr<UIGestureRecognizer>> gestureRecognizers_;
    std::vector<std::shared_ptr<NSLayoutConstraint>> constraints_;
    std::shared_ptr<UILayoutGuide> safeAreaGuide_;

    bool needsLayout_ = true;
    bool solvingConstraints_ = false;
    bool queuedForPass_ = false;
    bool needsDisplay_ = true;
    int displayCount_ = 0;
    CGContextRef lastDrawing_;

    std::map<std::uint64_t, FrameObserver> frameObservers_;
    std::uint64_t nextObserver_ = 1;
};
