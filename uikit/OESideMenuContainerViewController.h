// The window's root screen: a centre screen over a menu area with a left and a right menu.
// Opening a menu slides the centre sideways by the menu's width; every state change is
// announced before and after with "OESideMenuStateNotificationEvent". Pans and the keyboard are
// handled in units of their own (OESideMenuPanHandler, OESideMenuKeyboard).
#pragma once

#include "platform/foundation/NSNotification.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIViewController.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class OESideMenuKeyboard;
class OESideMenuPanHandler;
class OESideMenuShadow;
class UIColor;
class UIPanGestureRecognizer;
class UITapGestureRecognizer;

enum OESideMenuState : std::int32_t {
    OESideMenuStateClosed = 0,
    OESideMenuStateLeftMenuOpen = 1,
    OESideMenuStateRightMenuOpen = 2,
};

enum OESideMenuPanDirection : std::int32_t {
    OESideMenuPanDirectionNone = 0,
    OESideMenuPanDirectionLeft = 1,   // finger moving left
    OESideMenuPanDirectionRight = 2,  // finger moving right
};

enum OESideMenuStateEvent : std::int32_t {
    OESideMenuStateEventMenuWillOpen = 0,
    OESideMenuStateEventMenuDidOpen = 1,
    OESideMenuStateEventMenuWillClose = 2,
    OESideMenuStateEventMenuDidClose = 3,
};

// Bit set: which views follow pan gestures.
enum OESideMenuPanMode : std::int32_t {
    OESideMenuPanModeNone = 0,
    OESideMenuPanModeCenterViewController = 1,
    OESideMenuPanModeSideMenu = 2,
    OESideMenuPanModeDefault = 3,
};

inline const std::string OESideMenuStateNotificationEvent = "OESideMenuStateNotificationEvent";
// User-info key of the event code.
inline const std::string OESideMenuStateEventTypeKey = "eventType";

class OESideMenuContainerViewController : public UIViewController, public UIGestureRecognizerDelegate {
public:
    using Completion = std::function<void()>;

    // With the default settings applied (which on a phone loads the view already); the view
    // takes `background` (the configuration's background colour) when it loads.
    static std::shared_ptr<OESideMenuContainerViewController> make(std::shared_ptr<UIColor> background);
    // Sets the left menu, the centre and the right menu, in that order; any may be empty.
    static std::shared_ptr<OESideMenuContainerViewController> containerWithCenterViewController(
        const std::shared_ptr<UIViewController>& center, const std::shared_ptr<UIViewController>& leftMenu,
        const std::shared_ptr<UIViewController>& rightMenu, std::shared_ptr<UIColor> background);
    ~OESideMenuContainerViewController() override;

    // --- Screens ------------------------------------------------------------------------
    std::shared_ptr<UIViewController> centerViewController() const { return center_; }
    // The new centre takes the old one's origin (so one chosen from an open menu shows up
    // shifted and slides closed with the menu).
    void setCenterViewController(const std::shared_ptr<UIViewController>& controller);
    std::shared_ptr<UIViewController> leftMenuViewController() const { return leftMenu_; }
    void setLeftMenuViewController(const std::shared_ptr<UIViewController>& controller);
    std::shared_ptr<UIViewController> rightMenuViewController() const { return rightMenu_; }
    void setRightMenuViewController(const std::shared_ptr<UIViewController>& controller);
    std::shared_ptr<UIView> menuContainerView() const { return menuContainerView_; }
    std::shared_ptr<OESideMenuShadow> shadow() const { return shadow_; }

    // --- State --------------------------------------------------------------------------
    // Changes only when a state change completes.
    OESideMenuState menuState() const { return menuState_; }
    void setMenuState(OESideMenuState state) { setMenuState(state, nullptr); }
    // The current state is not compared: asking again runs the whole sequence again.
    void setMenuState(OESideMenuState state, Completion completion);
    void toggleLeftSideMenuCompletion(Completion completion);
    void toggleRightSideMenuCompletion(Completion completion);
    void openLeftSideMenuCompletion(Completion completion);
    void openRightSideMenuCompletion(Completion completion);
    void closeSideMenuCompletion(Completion completion);

    OESideMenuPanMode panMode() const { return panMode_; }
    void setPanMode(OESideMenuPanMode mode) { panMode_ = mode; }
    OESideMenuPanDirection panDirection() const;
    CGPoint panGestureOrigin() const;
    // The speed of the pan that started the running move (for its duration); 0 otherwise.
    double panGestureVelocity() const { return panGestureVelocity_; }
    void setPanGestureVelocity(double velocity) { panGestureVelocity_ = velocity; }
    bool viewHasAppeared() const { return viewHasAppeared_; }

    // --- Widths and animation settings --------------------------------------------------
    double leftMenuWidth() const { return leftMenuWidth_; }
    double rightMenuWidth() const { return rightMenuWidth_; }
    void setMenuWidth(double width) { setMenuWidth(width, true); }
    void setMenuWidth(double width, bool animated);
    void setLeftMenuWidth(double width) { setLeftMenuWidth(width, true); }
    void setLeftMenuWidth(double width, bool animated);
    void setRightMenuWidth(double width) { setRightMenuWidth(width, true); }
    void setRightMenuWidth(double width, bool animated);
    bool menuSlideAnimationEnabled() const { return menuSlideAnimationEnabled_; }
    void setMenuSlideAnimationEnabled(bool enabled) { menuSlideAnimationEnabled_ = enabled; }
    double menuSlideAnimationFactor() const { return menuSlideAnimationFactor_; }
    void setMenuSlideAnimationFactor(double factor) { menuSlideAnimationFactor_ = factor; }
    double menuAnimationDefaultDuration() const { return menuAnimationDefaultDuration_; }
    void setMenuAnimationDefaultDuration(double seconds) { menuAnimationDefaultDuration_ = seconds; }
    double menuAnimationMaxDuration() const { return menuAnimationMaxDuration_; }
    void setMenuAnimationMaxDuration(double seconds) { menuAnimationMaxDuration_ = seconds; }

    // --- Positions ----------------------------------------------------------------------
    // Places the centre at x without animation (and the menus, with slide animation).
    void setCenterViewControllerOffset(double x);
    void setCenterViewControllerOffset(double x, bool animated, Completion completion);
    void setCenterViewControllerOffset(double x, const std::function<void()>& additionalAnimations, bool animated,
                                       Completion completion);
    // Width over distance times the default duration without pan speed, distance over speed
    // with it; never above the maximum.
    double animationDurationFromStartPosition(double start, double end) const;
    void setupMenuContainerView();
    void setLeftSideMenuFrameToClosedPosition();
    void setRightSideMenuFrameToClosedPosition();
    void alignLeftMenuControllerWithCenterViewController();
    void alignRightMenuControllerWithCenterViewController();
    void leftMenuWillShow();
    void rightMenuWillShow();
    void setUserInteractionStateForCenterViewController();

    // --- Gestures -----------------------------------------------------------------------
    // Each call makes a new recogniser with the container as target and delegate.
    std::shared_ptr<UIPanGestureRecognizer> panGestureRecognizer();
    std::shared_ptr<UITapGestureRecognizer> centerTapGestureRecognizer();
    // Pans are worked out by the container's pan handler (OESideMenuPanHandler).
    void handlePan(const std::shared_ptr<UIPanGestureRecognizer>& recognizer);
    void handleLeftPan(const std::shared_ptr<UIPanGestureRecognizer>& recognizer);
    void handleRightPan(const std::shared_ptr<UIPanGestureRecognizer>& recognizer);
    void centerViewControllerTapped(const std::shared_ptr<UITapGestureRecognizer>& recognizer);
    bool centerViewControllerPanEnabled() const { return (panMode_ & OESideMenuPanModeCenterViewController) != 0; }
    bool sideMenuPanEnabled() const { return (panMode_ & OESideMenuPanModeSideMenu) != 0; }
    bool gestureRecognizerShouldReceiveTouch(UIGestureRecognizer& recognizer, UITouch& touch) override;

    // --- Keyboard -----------------------------------------------------------------------
    // The centre ends at the keyboard's top edge (frame in window coordinates); the keyboard's
    // notifications are followed by OESideMenuKeyboard from the time the view loads.
    void updateWithKeyboardFrame(const CGRect& keyboardFrame, double duration);

    // --- Status bar, orientation, life cycle --------------------------------------------
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    UIStatusBarStyle preferredStatusBarStyle() const override;
    bool prefersStatusBarHidden() const override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    bool shouldAutorotate() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    void willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation, double duration) override;
    void didRotateFromInterfaceOrientation(UIInterfaceOrientation from) override;

    OESideMenuContainerViewController();

private:
    void setDefaultSettings();
    void sendStateEventNotification(OESideMenuStateEvent event);
    void removeChildViewControllerFromContainer(const std::shared_ptr<UIViewController>& controller);
    // Replaces the menu held in `slot`; false when the new menu is none.
    bool installMenuViewController(std::shared_ptr<UIViewController>& slot,
                                   const std::shared_ptr<UIViewController>& controller);
    void addGestureRecognizers();
    void addCenterGestureRecognizers();
    void removeCenterGestureRecognizers();
    void addKeyboardObserver();
    void removeKeyboardObservers();
    std::shared_ptr<UIView> centerView() const;
    std::shared_ptr<OESideMenuContainerViewController> self();

    std::shared_ptr<UIColor> background_;
    std::shared_ptr<UIViewController> center_;
    std::shared_ptr<UIViewController> leftMenu_;
    std::shared_ptr<UIViewController> rightMenu_;
    std::shared_ptr<UIView> menuContainerView_;
    std::shared_ptr<OESideMenuShadow> shadow_;
    // The tap and pan this container put on the current centre's view, so that they can be
    // taken off again instead of piling up when a centre is set anew.
    std::weak_ptr<UIGestureRecognizer> centerTap_;
    std::weak_ptr<UIGestureRecognizer> centerPan_;
    std::unique_ptr<OESideMenuPanHandler> pan_;
    std::shared_ptr<OESideMenuKeyboard> keyboard_;
    OESideMenuState menuState_ = OESideMenuStateClosed;
    OESideMenuPanMode panMode_ = OESideMenuPanModeDefault;
    double panGestureVelocity_ = 0;
    double leftMenuWidth_ = 0;
    double rightMenuWidth_ = 0;
    bool menuSlideAnimationEnabled_ = false;
    double menuSlideAnimationFactor_ = 3.0;
    double menuAnimationDefaultDuration_ = static_cast<double>(0.2f);
    double menuAnimationMaxDuration_ = static_cast<double>(0.4f);
    bool viewHasAppeared_ = false;
};

// The nearest side-menu container up the parent chain from `controller` (itself included);
// empty when the chain ends without one.
std::shared_ptr<OESideMenuContainerViewController> menuContainerViewController(
    const std::shared_ptr<UIViewController>& controller);
