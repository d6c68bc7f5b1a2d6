// The side-menu container: widths per device, the state machine and its events, the duration
// rule, pans driven through the window on the manual clock, the tap filter, re-set centres,
// the keyboard and the parent-chain lookup.
#include "uikit/OESideMenuContainerViewController.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UIWindow.h"
#include "uikit/OESideMenuPanHandler.h"
#include "uikit/OESideMenuShadow.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class SideMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(1000);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        UIView::clearAnimationLog();
    }
    void TearDown() override {
        if (token) NSNotificationCenter::defaultCenter()->removeObserver(token);
        settle();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }

    // Records the events of `c` from now on.
    void listen(const std::shared_ptr<OESideMenuContainerViewController>& c) {
        token = NSNotificationCenter::defaultCenter()->addObserverForName(
            OESideMenuStateNotificationEvent, c, nullptr, [this](const NSNotification& note) {
                events.push_back(note.userInfo().get(OESideMenuStateEventTypeKey).intValue());
                statesAtEvent.push_back(
                    std::static_pointer_cast<OESideMenuContainerViewController>(note.object())->menuState());
            });
    }

    // Lets animations end: the clock passes the longest menu animation, the run loop drains.
    static void settle() {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::advance(1.0);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }

    // A container with a centre and both menus, shown as the window's root.
    std::shared_ptr<OESideMenuContainerViewController> shown(bool withRight = true) {
        center = UIViewController::make();
        left = UIViewController::make();
        right = withRight ? UIViewController::make() : nullptr;
        auto c = OESideMenuContainerViewController::containerWithCenterViewController(center, left, right, background);
        window = UIWindow::make();
        window->setRootViewController(c);
        window->makeKeyAndVisible();
        settle();
        return c;
    }

    double centerX() const { return center->view()->frame().origin.x; }

    const std::shared_ptr<UIColor> background = UIColor::colorWithRed(0.9, 0.8, 0.7, 1);
    std::shared_ptr<NSObject> token;
    std::vector<int> events;
    std::vector<int> statesAtEvent;
    std::shared_ptr<UIWindow> window;
    std::shared_ptr<UIViewController> center, left, right;
};

class HiddenBarScreen : public UIViewController {
public:
    bool prefersStatusBarHidden() const override { return true; }
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyle::LightContent; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override {
        return UIInterfaceOrientationMaskPortrait;
    }
    bool shouldAutorotate() const override { return false; }
};

long countOf(const std::shared_ptr<UIView>& view, bool taps) {
    long n = 0;
    for (const auto& r : view->gestureRecognizers()) {
        if (taps ? dynamic_cast<UITapGestureRecognizer*>(r.get()) != nullptr
                 : dynamic_cast<UIPanGestureRecognizer*>(r.get()) != nullptr)
            ++n;
    }
    return n;
}

}  // namespace

// --- Widths ---------------------------------------------------------------------------------

TEST_F(SideMenuTest, MenuWidthFollowsTheDeviceAtCreation) {
    struct Case {
        UIUserInterfaceIdiom idiom;
        bool reports;
        double screenWidth;
        double expected;
    };
    const Case cases[] = {
        {UIUserInterfaceIdiom::Phone, true, 320, 270},        {UIUserInterfaceIdiom::Phone, true, 375, 316.40625},
        {UIUserInterfaceIdiom::Phone, true, 414, 349.3125},   {UIUserInterfaceIdiom::Pad, true, 768, 270},
        {UIUserInterfaceIdiom::Pad, false, 768, 768 * 0.84375},
    };
    for (const auto& k : cases) {
        UIDevice::applyProfile(k.idiom);
        UIScreen::mainScreen()->setPortraitSize({k.screenWidth, 800});
        UIDevice::currentDevice()->setCanReportUserInterfaceIdiom(k.reports);
        auto c = OESideMenuContainerViewController::make(background);
        EXPECT_DOUBLE_EQ(c->leftMenuWidth(), k.expected) << k.screenWidth;
        EXPECT_DOUBLE_EQ(c->rightMenuWidth(), k.expected) << k.screenWidth;
        EXPECT_EQ(c->panMode(), OESideMenuPanModeDefault);
        EXPECT_DOUBLE_EQ(c->menuSlideAnimationFactor(), 3.0);
        EXPECT_DOUBLE_EQ(c->menuAnimationDefaultDuration(), static_cast<double>(0.2f));
        EXPECT_DOUBLE_EQ(c->menuAnimationMaxDuration(), static_cast<double>(0.4f));
    }
}

// --- State machine and events ----------------------------------------------------------------

TEST_F(SideMenuTest, ANewContainerAnnouncesOneCloseAndStartsClosed) {
    std::vector<int> seen;
    auto t = NSNotificationCenter::defaultCenter()->addObserverForName(
        OESideMenuStateNotificationEvent, nullptr, nullptr,
        [&seen](const NSNotification& n) { seen.push_back(n.userInfo().get("eventType").intValue()); });
    auto c = OESideMenuContainerViewController::make(background);
    EXPECT_EQ(seen, (std::vector<int>{2}));
    settle();
    EXPECT_EQ(seen, (std::vector<int>{2, 3}));
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    NSNotificationCenter::defaultCenter()->removeObserver(t);
}

TEST_F(SideMenuTest, OpenAndCloseAnnounceBeforeAndAfterAndChangeStateOnlyAtTheEnd) {
    auto c = shown();
    listen(c);
    int completions = 0;
    c->setMenuState(OESideMenuStateLeftMenuOpen, [&] { ++completions; });
    EXPECT_EQ(events, (std::vector<int>{0}));
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);  // still the old state while it moves
    EXPECT_DOUBLE_EQ(centerX(), c->leftMenuWidth());  // final values apply at once
    EXPECT_FALSE(left->view()->isHidden());
    settle();
    EXPECT_EQ(events, (std::vector<int>{0, 1}));
    EXPECT_EQ(statesAtEvent, (std::vector<int>{0, 1}));
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);
    EXPECT_EQ(completions, 1);

    c->setMenuState(OESideMenuStateClosed, [&] { ++completions; });
    EXPECT_EQ(events.back(), 2);
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);
    settle();
    EXPECT_EQ(events, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    EXPECT_DOUBLE_EQ(centerX(), 0);
    EXPECT_TRUE(left->view()->isHidden());
    EXPECT_TRUE(right->view()->isHidden());
    EXPECT_EQ(completions, 2);

    c->setMenuState(OESideMenuStateRightMenuOpen);
    settle();
    EXPECT_DOUBLE_EQ(centerX(), -c->rightMenuWidth());
    EXPECT_EQ(c->menuState(), OESideMenuStateRightMenuOpen);
}

TEST_F(SideMenuTest, ClosingAClosedMenuRunsTheWholeSequenceAgain) {
    auto c = shown();
    listen(c);
    int completions = 0;
    c->closeSideMenuCompletion(nullptr);  // a bare move announces nothing
    c->setMenuState(OESideMenuStateClosed, [&] { ++completions; });
    settle();
    EXPECT_EQ(events, (std::vector<int>{2, 3}));
    EXPECT_EQ(completions, 1);
}

TEST_F(SideMenuTest, OpeningAMissingMenuDoesNothingAtAll) {
    auto c = shown(/*withRight=*/false);
    listen(c);
    bool ran = false;
    c->setMenuState(OESideMenuStateRightMenuOpen, [&] { ran = true; });
    c->openRightSideMenuCompletion([&] { ran = true; });
    c->setMenuState(static_cast<OESideMenuState>(7), [&] { ran = true; });
    settle();
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(ran);
    EXPECT_DOUBLE_EQ(centerX(), 0);
    EXPECT_TRUE(UIView::animationLog().empty() || UIView::animationLog().back()->duration <= 0.4);
}

TEST_F(SideMenuTest, TogglesAlternateBetweenOpenAndClosed) {
    auto c = shown();
    c->toggleLeftSideMenuCompletion(nullptr);
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);
    c->toggleRightSideMenuCompletion(nullptr);  // from the left menu, asks for the right one
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateRightMenuOpen);
    c->toggleRightSideMenuCompletion(nullptr);
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
}

TEST_F(SideMenuTest, CentreScreensOfANavigationControllerTakeTouchesOnlyWhileClosed) {
    auto c = shown();
    auto screen = UIViewController::make();
    auto navigation = UINavigationController::initWithRootViewController(screen);
    c->setCenterViewController(navigation);
    c->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();
    EXPECT_FALSE(screen->view()->isUserInteractionEnabled());
    // The centre beside the open menu is touched as a button that closes it.
    EXPECT_EQ(accessibilityLabel(*navigation->view()), "close menu");
    EXPECT_EQ(accessibilityTraits(*navigation->view()), UIAccessibilityTraitButton);
    c->setMenuState(OESideMenuStateClosed);
    settle();
    EXPECT_TRUE(screen->view()->isUserInteractionEnabled());
    // A centre replaced is a plain view again.
    c->setCenterViewController(UINavigationController::initWithRootViewController(UIViewController::make()));
    EXPECT_EQ(accessibilityLabel(*navigation->view()), "");
    EXPECT_EQ(accessibilityTraits(*navigation->view()), UIAccessibilityTraitNone);
}

TEST_F(SideMenuTest, SplitCentresAreSwitchedLikeNavigationCentres) {
    auto c = shown();
    auto primary = UIViewController::make();
    auto secondary = UIViewController::make();
    auto split = UISplitViewController::make();
    split->setViewControllers({primary, secondary});
    c->setCenterViewController(split);
    c->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();
    EXPECT_FALSE(primary->view()->isUserInteractionEnabled());
    EXPECT_FALSE(secondary->view()->isUserInteractionEnabled());
    c->setMenuState(OESideMenuStateClosed);
    settle();
    EXPECT_TRUE(secondary->view()->isUserInteractionEnabled());
}

TEST_F(SideMenuTest, StatusBarAndOrientationQuestionsGoToTheCentresScreen) {
    auto c = shown();
    EXPECT_FALSE(c->prefersStatusBarHidden());
    EXPECT_TRUE(c->shouldAutorotate());
    auto screen = std::make_shared<HiddenBarScreen>();
    c->setCenterViewController(UINavigationController::initWithRootViewController(screen));
    EXPECT_TRUE(c->prefersStatusBarHidden());
    EXPECT_EQ(c->preferredStatusBarStyle(), UIStatusBarStyle::LightContent);
    EXPECT_EQ(c->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    EXPECT_FALSE(c->shouldAutorotate());
    c->setCenterViewController(nullptr);
    EXPECT_EQ(c->preferredInterfaceOrientationForPresentation(), UIInterfaceOrientation::Portrait);
}

// --- Duration rule -----------------------------------------------------------------------------

TEST_F(SideMenuTest, DurationIsWidthOverDistanceWithoutPanSpeedCappedAtTheMaximum) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = OESideMenuContainerViewController::make(background);
    ASSERT_DOUBLE_EQ(c->leftMenuWidth(), 270);
    const double base = static_cast<double>(0.2f);
    EXPECT_DOUBLE_EQ(c->animationDurationFromStartPosition(0, 270), base);
    EXPECT_DOUBLE_EQ(c->animationDurationFromStartPosition(270, 0), base);
    EXPECT_NEAR(c->animationDurationFromStartPosition(0, 200), 0.27, 0.001);  // shorter moves take longer
    EXPECT_DOUBLE_EQ(c->animationDurationFromStartPosition(0, 135), static_cast<double>(0.4f));
    EXPECT_DOUBLE_EQ(c->animationDurationFromStartPosition(0, 10), static_cast<double>(0.4f));
    EXPECT_DOUBLE_EQ(c->animationDurationFromStartPosition(50, 50), 0);
    c->setMenuAnimationMaxDuration(10);
    EXPECT_NEAR(c->animationDurationFromStartPosition(0, 135), 2 * base, 1e-9);
}

TEST_F(SideMenuTest, AnimatedMovesUseTheRuleFromTheCentresCurrentPosition) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown();
    c->setMenuState(OESideMenuStateLeftMenuOpen);
    ASSERT_FALSE(UIView::animationLog().empty());
    EXPECT_DOUBLE_EQ(UIView::animationLog().back()->duration, static_cast<double>(0.2f));
    settle();
    c->setCenterViewControllerOffset(200);
    c->setMenuState(OESideMenuStateClosed);
    EXPECT_NEAR(UIView::animationLog().back()->duration, 0.27, 0.001);
    // Before the clock passes the end the completion has not run; after it, it has.
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);
    Clock::advance(0.28);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
}

// --- Pans ----------------------------------------------------------------------------------------

TEST_F(SideMenuTest, AFastFlickOpensOverDistanceOverSpeed) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown();
    listen(c);
    window->pan({40, 300}, 60, 0, 1000);  // 60 points at 1,000 points per second
    // Released at 60 with 0.35 s of flight projected past half the menu: open.
    EXPECT_EQ(events, (std::vector<int>{0}));
    ASSERT_FALSE(UIView::animationLog().empty());
    EXPECT_NEAR(UIView::animationLog().back()->duration, (270.0 - 60.0) / 1000.0, 0.002);
    EXPECT_NE(c->panGestureVelocity(), 0);
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);
    EXPECT_DOUBLE_EQ(centerX(), 270);
    EXPECT_EQ(c->panGestureVelocity(), 0);  // cleared when the move ends
}

TEST_F(SideMenuTest, ASlowPanReleasedPastHalfOpensByTheWidthRuleAndAShortOneSnapsBack) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown();
    // The finger travels 145 points, rests, and lifts: no speed at release. That is short of
    // half the screen (160) but past half the menu (135), which is enough.
    auto touch = window->touchDown({20, 300});
    for (int i = 1; i <= 29; ++i) {
        Clock::advance(0.02);
        window->touchMove(touch, {20.0 + 5 * i, 300});
        if (i == 20) {
            EXPECT_DOUBLE_EQ(centerX(), 100);  // the centre follows the finger
        }
    }
    Clock::advance(0.2);
    window->touchUp(touch);
    // 125 points left to go: width over distance gives 0.43 s, held to the 0.4 s cap.
    EXPECT_DOUBLE_EQ(UIView::animationLog().back()->duration, static_cast<double>(0.4f));
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);

    // From closed, a slow pan released short of half the menu snaps back.
    c->setMenuState(OESideMenuStateClosed);
    settle();
    touch = window->touchDown({20, 300});
    for (int i = 1; i <= 5; ++i) {
        Clock::advance(0.05);
        window->touchMove(touch, {20.0 + 10 * i, 300});
    }
    Clock::advance(0.3);
    window->touchUp(touch);
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    EXPECT_DOUBLE_EQ(centerX(), 0);
}

// A released pan counts where 0.35 s more at its release speed would take it. From closed, 60
// points to the right open the left menu (270 wide on a 320-point screen) when that lies past
// half the menu, 135: from (135 - 60) / 0.35 = 214.3 points per second.
TEST_F(SideMenuTest, AShortPanOpensTheMenuOnlyAboveTheThresholdSpeed) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown();
    ASSERT_DOUBLE_EQ(c->leftMenuWidth(), 270);
    window->pan({40, 300}, 60, 0, 210);  // ends at 60 + 73.5 = 133.5
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    EXPECT_DOUBLE_EQ(centerX(), 0);

    window->pan({40, 300}, 60, 0, 220);  // ends at 60 + 77 = 137
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);
    EXPECT_DOUBLE_EQ(centerX(), 270);
}

// From the open left menu a pan closes it when its projection ends left of where it began. The
// finger goes 60 points left, then flicks 20 back: released at 270 - 40 = 230, the menu closes
// below (270 - 230) / 0.35 = 114.3 points per second of the flick back and stays open above.
TEST_F(SideMenuTest, APanFlickedBackClosesTheMenuOnlyBelowTheThresholdSpeed) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown();
    const auto flickBack = [this](double backSpeed) {
        const CGPoint from{300, 300};
        auto touch = window->touchDown(from);
        for (int i = 1; i <= 6; ++i) {
            Clock::advance(0.02);
            window->touchMove(touch, {from.x - 10 * i, from.y});
        }
        Clock::advance(20 / backSpeed);
        window->touchMove(touch, {from.x - 40, from.y});
        window->touchUp(touch);
        settle();
    };
    c->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();
    flickBack(120);  // ends at 230 + 42 = 272
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);
    EXPECT_DOUBLE_EQ(centerX(), 270);

    flickBack(110);  // ends at 230 + 38.5 = 268.5
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    EXPECT_DOUBLE_EQ(centerX(), 0);
}

TEST_F(SideMenuTest, PansCloseAnOpenMenuButNeverPushItFurtherOpen) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown();
    c->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();
    // Further right: ignored.
    window->pan({280, 300}, 30, 0, 200);
    settle();
    EXPECT_DOUBLE_EQ(centerX(), 270);
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);
    // Left, quickly: closes.
    listen(c);
    window->pan({300, 300}, -80, 0, 1500);
    settle();
    EXPECT_EQ(events, (std::vector<int>{2, 3}));
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    EXPECT_DOUBLE_EQ(centerX(), 0);
}

TEST_F(SideMenuTest, LeftwardPansOpenTheRightMenuOnlyWhenThereIsOne) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown(/*withRight=*/false);
    window->pan({300, 300}, -150, 0, 1500);
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    EXPECT_DOUBLE_EQ(centerX(), 0);

    auto d = shown(/*withRight=*/true);
    window->pan({300, 300}, -150, 0, 1500);
    settle();
    EXPECT_EQ(d->menuState(), OESideMenuStateRightMenuOpen);
    EXPECT_DOUBLE_EQ(centerX(), -270);
}

TEST_F(SideMenuTest, ACancelledPanLeavesTheCentreWhereTheFingerPutIt) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown();
    listen(c);
    auto touch = window->touchDown({20, 300});
    for (int i = 1; i <= 8; ++i) {
        Clock::advance(0.02);
        window->touchMove(touch, {20.0 + 10 * i, 300});
    }
    window->touchCancel(touch);
    settle();
    EXPECT_DOUBLE_EQ(centerX(), 80);
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    EXPECT_TRUE(events.empty());
}

TEST_F(SideMenuTest, APanHandlerWorksOnTheContainerEachPanHandsIt) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown();
    c->setPanMode(OESideMenuPanModeNone);  // its own recognisers stay out of it
    // A handler of nobody's, driven by a recogniser of the test's own.
    OESideMenuPanHandler handler;
    std::vector<OESideMenuPanDirection> directions;
    auto recognizer = UIPanGestureRecognizer::make();
    recognizer->addTarget(nullptr, [&](const std::shared_ptr<UIGestureRecognizer>& r) {
        handler.handlePan(*c, static_cast<UIPanGestureRecognizer&>(*r));
        directions.push_back(handler.direction());
    });
    center->view()->addGestureRecognizer(recognizer);

    window->pan({40, 300}, 60, 0, 1000);
    ASSERT_FALSE(directions.empty());
    EXPECT_EQ(directions.front(), OESideMenuPanDirectionRight);
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateLeftMenuOpen);
    EXPECT_EQ(c->panDirection(), OESideMenuPanDirectionNone) << "the container's own handler saw nothing";
    window->pan({290, 300}, -60, 0, 1000);
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    center->view()->removeGestureRecognizer(recognizer);
}

TEST_F(SideMenuTest, PanModeZeroStopsPansAndTapsCloseOnlyAnOpenMenu) {
    UIScreen::mainScreen()->setPortraitSize({320, 568});
    auto c = shown();
    c->setPanMode(OESideMenuPanModeNone);
    window->pan({40, 300}, 200, 0, 1000);
    settle();
    EXPECT_DOUBLE_EQ(centerX(), 0);
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);

    listen(c);
    window->tap({160, 300});  // closed: the tap is not for the container
    settle();
    EXPECT_TRUE(events.empty());

    c->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();
    window->tap({300, 300});  // on the uncovered part of the centre
    settle();
    EXPECT_EQ(c->menuState(), OESideMenuStateClosed);
    EXPECT_EQ(events, (std::vector<int>{0, 1, 2, 3}));
}

// --- Centres -------------------------------------------------------------------------------------

TEST_F(SideMenuTest, SettingACentreAgainLeavesOnePairOfRecognisers) {
    auto c = shown();
    auto v = center->view();
    EXPECT_EQ(countOf(v, true), 1);  // the first appearance did not add a second pair
    EXPECT_EQ(countOf(v, false), 1);
    c->setCenterViewController(center);
    c->setCenterViewController(center);
    EXPECT_EQ(countOf(v, true), 1);
    EXPECT_EQ(countOf(v, false), 1);
    EXPECT_EQ(v->superview(), c->view());
    EXPECT_EQ(c->view()->subviews().back(), v);

    // A replaced centre leaves with its view and without the container's recognisers.
    auto next = UIViewController::make();
    c->setCenterViewController(next);
    EXPECT_EQ(v->superview(), nullptr);
    EXPECT_EQ(countOf(v, true) + countOf(v, false), 0);
    EXPECT_EQ(center->parentViewController(), nullptr);
    EXPECT_EQ(next->parentViewController(), c);
}

TEST_F(SideMenuTest, ANewCentreTakesTheOldOnesPositionAndSlidesClosedWithTheMenu) {
    auto c = shown();
    c->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();
    auto next = UIViewController::make();
    c->setCenterViewController(next);
    EXPECT_DOUBLE_EQ(next->view()->frame().origin.x, c->leftMenuWidth());
    EXPECT_EQ(next->view()->frame().size.width, c->view()->bounds().size.width);
    ASSERT_TRUE(c->shadow());
    EXPECT_EQ(c->shadow()->shadowedView(), next->view());
    EXPECT_FLOAT_EQ(next->view()->layer()->shadowOpacity(), 0.75f);
    EXPECT_DOUBLE_EQ(next->view()->layer()->shadowRadius(), 10.0);
    c->setMenuState(OESideMenuStateClosed);
    settle();
    EXPECT_DOUBLE_EQ(next->view()->frame().origin.x, 0);
}

TEST_F(SideMenuTest, MenusSitInTheMenuAreaBehindTheCentre) {
    auto c = shown();
    EXPECT_EQ(c->view()->backgroundColor(), background);
    EXPECT_EQ(c->view()->subviews().front(), c->menuContainerView());
    EXPECT_EQ(left->view()->superview(), c->menuContainerView());
    EXPECT_EQ(right->view()->superview(), c->menuContainerView());
    EXPECT_EQ(left->view()->frame(), CGRectMake(0, 0, c->leftMenuWidth(), c->view()->bounds().size.height));
    EXPECT_DOUBLE_EQ(right->view()->frame().origin.x,
                     c->menuContainerView()->frame().size.width - c->rightMenuWidth());

    // A menu set after the first appearance goes straight into the area, closed.
    auto other = UIViewController::make();
    c->setLeftMenuViewController(other);
    EXPECT_EQ(left->view()->superview(), nullptr);
    EXPECT_EQ(other->view()->superview(), c->menuContainerView());
    EXPECT_DOUBLE_EQ(other->view()->frame().size.width, c->leftMenuWidth());

    c->setMenuSlideAnimationEnabled(true);
    c->setLeftSideMenuFrameToClosedPosition();
    EXPECT_DOUBLE_EQ(other->view()->frame().origin.x, -c->leftMenuWidth() / 3.0);
    c->setCenterViewControllerOffset(90);
    EXPECT_DOUBLE_EQ(other->view()->frame().origin.x, 90 / 3.0 - c->leftMenuWidth() / 3.0);
}

TEST_F(SideMenuTest, ChangingTheOpenMenusWidthMovesTheCentre) {
    auto c = shown();
    c->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();
    c->setLeftMenuWidth(200, false);
    EXPECT_DOUBLE_EQ(centerX(), 200);
    c->setRightMenuWidth(100, false);  // not open: only its closed frame changes
    EXPECT_DOUBLE_EQ(centerX(), 200);
    EXPECT_DOUBLE_EQ(right->view()->frame().size.width, 100);
}

// --- Keyboard, lookup --------------------------------------------------------------------------------

TEST_F(SideMenuTest, TheKeyboardShortensTheCentreUnlessItPresentsAScreen) {
    auto c = shown();
    const double height = c->view()->bounds().size.height;
    Value::Dictionary info{{UIKeyboardFrameEndUserInfoKey, UIKeyboard::valueWithRect(CGRectMake(0, height - 216, 375, 216))},
                           {UIKeyboardAnimationDurationUserInfoKey, Value(0.25)}};
    NSNotificationCenter::defaultCenter()->postNotificationName(UIKeyboardWillShowNotification, nullptr, info);
    EXPECT_DOUBLE_EQ(center->view()->frame().size.height, height - 216);
    EXPECT_DOUBLE_EQ(UIView::animationLog().back()->duration, 0.25);

    Value::Dictionary hidden{{UIKeyboardFrameEndUserInfoKey, UIKeyboard::valueWithRect(CGRectMake(0, height, 375, 216))},
                             {UIKeyboardAnimationDurationUserInfoKey, Value(0.25)}};
    NSNotificationCenter::defaultCenter()->postNotificationName(UIKeyboardWillHideNotification, nullptr, hidden);
    EXPECT_DOUBLE_EQ(center->view()->frame().size.height, height);

    center->presentViewController(UIViewController::make(), false, nullptr);
    settle();
    NSNotificationCenter::defaultCenter()->postNotificationName(UIKeyboardWillShowNotification, nullptr, info);
    EXPECT_DOUBLE_EQ(center->view()->frame().size.height, height);
}

TEST_F(SideMenuTest, ScreensFindTheirContainerUpTheParentChain) {
    auto c = shown();
    auto screen = UIViewController::make();
    auto navigation = UINavigationController::initWithRootViewController(screen);
    c->setCenterViewController(navigation);
    EXPECT_EQ(menuContainerViewController(screen), c);
    EXPECT_EQ(menuContainerViewController(left), c);
    EXPECT_EQ(menuContainerViewController(c), c);
    EXPECT_EQ(menuContainerViewController(UIViewController::make()), nullptr);
}
