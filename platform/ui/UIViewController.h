// A screen: its lazily loaded view, the appearance callbacks in the platform's order, child
// containment, modal presentation, the navigation item and the rotation callbacks. The four
// appearance callbacks run through replaceable implementation slots, so a screen-view
// reporter can install itself into them.
#pragma once

#include "platform/ui/CGGeometry.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIResponder.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class UIView;
class UIBarButtonItem;
class UINavigationItem;
class UINavigationController;
class UISplitViewController;
class UIPopoverPresentationController;
class UIViewControllerTransitionCoordinator;

enum class UIModalPresentationStyle : int {
    Automatic = -2,
    None = -1,
    FullScreen = 0,
    PageSheet = 1,
    FormSheet = 2,
    CurrentContext = 3,
    Custom = 4,
    OverFullScreen = 5,
    OverCurrentContext = 6,
    Popover = 7,
};

enum class UIModalTransitionStyle : int { CoverVertical = 0, FlipHorizontal = 1, CrossDissolve = 2, PartialCurl = 3 };

enum UIRectEdge : unsigned {
    UIRectEdgeNone = 0,
    UIRectEdgeTop = 1 << 0,
    UIRectEdgeLeft = 1 << 1,
    UIRectEdgeBottom = 1 << 2,
    UIRectEdgeRight = 1 << 3,
    UIRectEdgeAll = UIRectEdgeTop | UIRectEdgeLeft | UIRectEdgeBottom | UIRectEdgeRight,
};

enum class UIStatusBarStyle : int { Default = 0, LightContent = 1, DarkContent = 3 };

// The four appearance callbacks, each with a replaceable implementation slot.
enum class UIViewControllerAppearanceHook : int { WillAppear = 0, DidAppear = 1, WillDisappear = 2, DidDisappear = 3 };

class UIViewController : public UIResponder {
public:
    using Completion = std::function<void()>;
    // What the base class's appearance callback does: (controller, animated).
    using AppearanceImplementation = std::function<void(UIViewController&, bool)>;

    static std::shared_ptr<UIViewController> make() { return std::make_shared<UIViewController>(); }
    UIViewController();
    ~UIViewController() override;

    // --- Implementation slots of the appearance callbacks ----------------------------------
    // The current implementation (a do-nothing one at first); empty once a test empties it.
    static AppearanceImplementation appearanceImplementation(UIViewControllerAppearanceHook hook);
    static void setAppearanceImplementation(UIViewControllerAppearanceHook hook, AppearanceImplementation implementation);
    // Back to the original implementations.
    static void resetAppearanceImplementations();

    // --- The view -------------------------------------------------------------------------
    // Loads the view on first use: loadView, then viewDidLoad.
    std::shared_ptr<UIView> view();
    std::shared_ptr<UIView> viewIfLoaded() const { return view_; }
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(const std::shared_ptr<UIView>& view);
    void loadViewIfNeeded() { view(); }
    // By default a plain view the size of the main screen, flexible in width and height.
    virtual void loadView();
    virtual void viewDidLoad() {}

    // --- Appearance -----------------------------------------------------------------------
    // Overrides call the base class first, as on the platform; the base runs the slot.
    virtual void viewWillAppear(bool animated);
    virtual void viewDidAppear(bool animated);
    virtual void viewWillDisappear(bool animated);
    virtual void viewDidDisappear(bool animated);
    // For containers that manage their children's appearance themselves. A begin that does
    // not change the state (appearing while already visible) calls nothing.
    void beginAppearanceTransition(bool isAppearing, bool animated);
    void endAppearanceTransition();
    // True by default: appearance passes to the children.
    virtual bool shouldAutomaticallyForwardAppearanceMethods() const { return true; }
    // Between will-appear and will-disappear (the view is or is becoming visible).
    bool isVisible() const { return appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared; }
    bool hasAppeared() const { return appearance_ == Appearance::Appeared; }
    bool isBeingPresented() const { return beingPresented_; }
    bool isBeingDismissed() const { return beingDismissed_; }
    bool isMovingToParentViewController() const { return movingToParent_; }

    // --- Title and bar items ------------------------------------------------------------------
    const std::string& title() const { return title_; }
    // Also the navigation item's title, as on the platform.
    virtual void setTitle(const std::string& title);
    std::shared_ptr<UINavigationItem> navigationItem();
    const std::vector<std::shared_ptr<UIBarButtonItem>>& toolbarItems() const { return toolbarItems_; }
    void setToolbarItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated = false);
    bool isEditing() const { return editing_; }
    virtual void setEditing(bool editing, bool animated);
    // A bar item titled "Edit"/"Done" that toggles editing.
    std::shared_ptr<UIBarButtonItem> editButtonItem();

    // --- Containment ----------------------------------------------------------------------
    std::shared_ptr<UIViewController> parentViewController() const { return parent_.lock(); }
    const std::vector<std::shared_ptr<UIViewController>>& childViewControllers() const { return children_; }
    // Calls child->willMoveToParentViewController(this); the caller adds the child's view and
    // calls didMoveToParentViewController. A child that already has another parent leaves it.
    void addChildViewController(const std::shared_ptr<UIViewController>& child);
    // The caller has called willMoveToParentViewController(nullptr) first; this calls
    // didMoveToParentViewController(nullptr). A visible child disappears.
    void removeFromParentViewController();
    virtual void willMoveToParentViewController(const std::shared_ptr<UIViewController>& parent);
    // A child moved into a visible parent whose view holds its view appears.
    virtual void didMoveToParentViewController(const std::shared_ptr<UIViewController>& parent);
    // The nearest navigation controller up the parent chain (or of the presenting one).
    std::shared_ptr<UINavigationController> navigationController() const;
    // The nearest split controller up the parent chain.
    std::shared_ptr<UISplitViewController> splitViewController() const;

    // --- Modal presentation ---------------------------------------------------------------
    // Presents from the controller that defines the context: with a presentation already
    // shown from this one, the call is refused (as the platform warns and ignores it).
    // Animated: did-appear and the completion follow after the transition's clock time.
    virtual void presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated,
                                       Completion completion);
    // Dismisses what this controller presents, or this controller when it is presented.
    virtual void dismissViewControllerAnimated(bool animated, Completion completion);
    std::shared_ptr<UIViewController> presentedViewController() const { return presented_; }
    std::shared_ptr<UIViewController> presentingViewController() const;
    UIModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
    void setModalPresentationStyle(UIModalPresentationStyle style) { presentationStyle_ = style; }
    UIModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
    void setModalTransitionStyle(UIModalTransitionStyle style) { transitionStyle_ = style; }
    void setDefinesPresentationContext(bool defines) { definesPresentationContext_ = defines; }
    CGSize preferredContentSize() const { return preferredContentSize_; }
    virtual void setPreferredContentSize(CGSize size) { preferredContentSize_ = size; }
    // Made on first use; only a popover presentation consults it.
    std::shared_ptr<UIPopoverPresentationController> popoverPresentationController();
    // Clock time of an animated presentation or dismissal.
    static double transitionDuration() { return 0.35; }

    // The edges along which the view reaches under its navigation controller's translucent
    // bar and toolbar. The stand-in's default is none: screens sit between the bars (the
    // platform extends every screen under them and insets its scroll views instead).
    unsigned edgesForExtendedLayout() const { return edgesForExtendedLayout_; }
    void setEdgesForExtendedLayout(unsigned edges) { edgesForExtendedLayout_ = edges; }

    // --- Status bar and orientation -------------------------------------------------------
    virtual bool prefersStatusBarHidden() const { return false; }
    virtual UIStatusBarStyle preferredStatusBarStyle() const { return UIStatusBarStyle::Default; }
    void setNeedsStatusBarAppearanceUpdate() { ++statusBarUpdates_; }
    // Portrait and landscape on a pad, all but upside down on a phone, as the platform.
    virtual UIInterfaceOrientationMask supportedInterfaceOrientations() const;
    virtual bool shouldAutorotate() const { return true; }
    virtual UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const;

    // Rotation callbacks, in this order: the size transition, then will-rotate, will-animate
    // (inside the animation) and did-rotate. Containers pass them to their children.
    virtual void viewWillTransitionToSize(CGSize size, const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator);
    virtual void willRotateToInterfaceOrientation(UIInterfaceOrientation orientation, double duration);
    virtual void willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation, double duration);
    virtual void didRotateFromInterfaceOrientation(UIInterfaceOrientation from);
    // The application's rotation entry: runs the callbacks above over this controller, its
    // children and what it presents.
    void rotate(UIInterfaceOrientation from, UIInterfaceOrientation to, CGSize size, double duration);

    std::shared_ptr<UIResponder> nextResponder() const override;

    // The name of the class this controller's class derives from, as the object runtime tells
    // it: "UIResponder" for a plain controller, "UIViewController" for a class derived from it,
    // unless a class says more.
    virtual std::string superclassName() const;

    // Navigation controllers answer true (so that parents can be told apart cheaply).
    virtual bool isNavigationController() const { return false; }
    // A child's toolbar items changed; a navigation controller shows them when it is on top.
    virtual void childToolbarItemsDidChange(UIViewController& child, bool animated) {
        (void)child;
        (void)animated;
    }

    // The children that take part in appearance and rotation (containers narrow it: a
    // navigation controller only its top screen).
    virtual std::vector<std::shared_ptr<UIViewController>> childrenForAppearance() const { return children_; }

protected:
    // Used by the containers of this layer.
    void setParent(const std::shared_ptr<UIViewController>& parent) { parent_ = parent; }
    void setMovingToParent(bool moving) { movingToParent_ = moving; }
    void setMovingFromParent(bool moving) { movingFromParent_ = moving; }
    std::vector<std::shared_ptr<UIViewController>>& mutableChildren() { return children_; }
    // The view that a presented full-screen controller covers (the window's root view).
    std::shared_ptr<UIView> presentationContainerView();

private:
    friend class UINavigationController;
    friend class UIWindow;

    enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };

    void runSlot(UIViewControllerAppearanceHook hook, bool animated);
    void runRotation(UIInterfaceOrientation from, UIInterfaceOrientation to, CGSize size, double duration,
                     const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator, int phase);
    void finishPresentation(const std::shared_ptr<UIViewController>& presented, bool animated, Completion completion);
    void finishDismissal(const std::shared_ptr<UIViewController>& presented, bool animated, Completion completion);
    std::shared_ptr<UIViewController> presentationContext(UIModalPresentationStyle style);

    std::shared_ptr<UIView> view_;
    bool loadingView_ = false;
    Appearance appearance_ = Appearance::Disappeared;
    bool appearanceAnimated_ = false;
    bool beingPresented_ = false;
    bool beingDismissed_ = false;
    bool movingToParent_ = false;
    bool movingFromParent_ = false;

    std::string title_;
    std::shared_ptr<UINavigationItem> navigationItem_;
    std::vector<std::shared_ptr<UIBarButtonItem>> toolbarItems_;
    unsigned edgesForExtendedLayout_ = UIRectEdgeNone;
    std::shared_ptr<UIBarButtonItem> editButtonItem_;
    bool editing_ = false;

    std::weak_ptr<UIViewController> parent_;
    std::vector<std::shared_ptr<UIViewController>> children_;

    std::shared_ptr<UIViewController> presented_;
    // While a full-screen presentation covers this controller, its view waits out of the window.
    std::shared_ptr<UIView> coveredView_;
    std::weak_ptr<UIView> coveredSuperview_;
    std::weak_ptr<UIViewController> presenting_;
    UIModalPresentationStyle presentationStyle_ = UIModalPresentationStyle::FullScreen;
    UIModalTransitionStyle transitionStyle_ = UIModalTransitionStyle::CoverVertical;
    bool definesPresentationContext_ = false;
    CGSize preferredContentSize_;
    std::shared_ptr<UIPopoverPresentationController> popover_;
    int statusBarUpdates_ = 0;
};
