// The activity overlay: its geometry in the window, the message label and button placement,
// the reminders paused exactly while it is up, the missing nesting count, orientation changes
// and the touches it swallows.
#include "uikit/ActivityView.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIWindow.h"
#include "uikit/RemindManager.h"
#include "uikit/TimeReminder.h"

#include <gtest/gtest.h>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

class ActivityViewTest : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(4'000'000.0);
        window_ = UIWindow::initWithFrame(CGRectMake(0, 0, 768, 1024));
        window_->makeKeyAndVisible();
        overlay_ = ActivityView::make();
    }
    void TearDown() override {
        overlay_->hideActivityIndicator();
        overlay_->removeObservers();
        if (reminder_) RemindManager::sharedRemindManager()->remove(reminder_);
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }
    // A ticking reminder listed with the shared remind manager.
    std::shared_ptr<TimeReminder> listReminder() {
        reminder_ = TimeReminder::initWithInterval(600, "ActivityViewTestReminder", [] {});
        RemindManager::sharedRemindManager()->add(reminder_);
        return reminder_;
    }
    std::shared_ptr<UILabel> messageLabel() const {
        return std::dynamic_pointer_cast<UILabel>(overlay_->centerView()->viewWithTag(ActivityView::kMessageLabelTag));
    }

    std::shared_ptr<UIWindow> window_;
    std::shared_ptr<ActivityView> overlay_;
    std::shared_ptr<TimeReminder> reminder_;
};

}  // namespace

TEST_F(ActivityViewTest, TheOverlayDimsTheWholeWindowAroundACentredBox) {
    overlay_->showActivityIndicator();
    const auto& dim = overlay_->activityView();
    ASSERT_TRUE(dim);
    EXPECT_EQ(dim->superview(), window_);
    EXPECT_EQ(dim->frame(), window_->bounds());
    EXPECT_EQ(dim->autoresizingMask(), unsigned(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight));
    CGFloat white = 1, alpha = 0;
    ASSERT_TRUE(dim->backgroundColor()->getWhite(&white, &alpha));
    EXPECT_EQ(white, 0.0);
    EXPECT_DOUBLE_EQ(alpha, 0.75);

    const auto& box = overlay_->centerView();
    EXPECT_EQ(box->superview(), dim);
    EXPECT_EQ(box->frame(), CGRectMake(224, 352, 320, 320));
    auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(box->subviews().front());
    ASSERT_TRUE(spinner);
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_EQ(spinner->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleWhiteLarge);
}

TEST_F(ActivityViewTest, AButtonSitsTenPointsUnderTheMessage) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    overlay_->showActivityIndicatorWithMessage("Loading");
    auto label = messageLabel();
    ASSERT_TRUE(label);
    // The spinner's top (320 - 37) / 2 plus 24.
    EXPECT_EQ(label->frame(), CGRectMake(0, 141.5 + 24, 320, 45));
    EXPECT_EQ(label->text(), "Loading");
    EXPECT_EQ(label->numberOfLines(), 3);
    EXPECT_EQ(label->textAlignment(), NSTextAlignmentCenter);
    EXPECT_EQ(label->font()->pointSize(), 14);

    overlay_->setMessageForActivityIndicator("Still loading");
    EXPECT_EQ(messageLabel(), label);
    EXPECT_EQ(label->text(), "Still loading");

    auto button = overlay_->addCancelButton();
    EXPECT_EQ(button->superview(), overlay_->centerView());
    EXPECT_EQ(button->frame(), CGRectMake(65, 165.5 + 45 + 10, 190, 50));
    EXPECT_EQ(button->titleForState(UIControlStateNormal), "Cancel");
    EXPECT_EQ(button->buttonType(), UIButtonTypeCustom);
}

TEST_F(ActivityViewTest, WithoutAMessageAButtonIsCentredInTheLowerHalf) {
    overlay_->showActivityIndicator();
    auto button = UIButton::initWithFrame(CGRectMake(3, 4, 101, 41));
    button->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    overlay_->addButton(button);
    // x = (320 - 101) / 2, y = (160 - 41) / 2 + 160, in single precision.
    EXPECT_EQ(button->frame(), CGRectMake(109.5, 219.5, 101, 41));
    EXPECT_EQ(button->autoresizingMask(), unsigned(UIViewAutoresizingNone));
}

TEST_F(ActivityViewTest, ThePhoneAndADeviceThatCannotTellUseTheSmallFont) {
    overlay_->showActivityIndicatorWithMessage("Phone");
    EXPECT_EQ(messageLabel()->font()->pointSize(), 12);
    overlay_->hideActivityIndicator();

    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    UIDevice::currentDevice()->setCanReportUserInterfaceIdiom(false);
    overlay_->showActivityIndicatorWithMessage("Unknown");
    EXPECT_EQ(messageLabel()->font()->pointSize(), 12);
    UIDevice::currentDevice()->setCanReportUserInterfaceIdiom(true);
}

TEST_F(ActivityViewTest, ShowingTwiceAndHidingOnceEndsTheOverlayAndResumesRemindersOnce) {
    auto reminder = listReminder();
    ASSERT_TRUE(reminder->isTicking());
    overlay_->showActivityIndicator();
    EXPECT_FALSE(reminder->isTicking());
    const auto firstBox = overlay_->centerView();
    overlay_->showActivityIndicatorWithMessage("Second user");
    EXPECT_EQ(overlay_->centerView(), firstBox);
    EXPECT_EQ(window_->subviews().size(), 1u);

    // Time spent under the overlay is stored as suspended time, not ticked away.
    Clock::advance(120);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(reminder->isTicking());

    CaptureStderr();
    overlay_->hideActivityIndicator();
    EXPECT_NE(GetCapturedStderr().find("Hide activity"), std::string::npos);
    EXPECT_FALSE(overlay_->isShown());
    EXPECT_TRUE(window_->subviews().empty());
    EXPECT_TRUE(reminder->isTicking());
    auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(firstBox->subviews().front());
    EXPECT_FALSE(spinner->isAnimating());

    CaptureStderr();
    overlay_->hideActivityIndicator();
    EXPECT_NE(GetCapturedStderr().find("Hide activity"), std::string::npos);
    EXPECT_TRUE(reminder->isTicking());
}

TEST_F(ActivityViewTest, MessagesAndButtonsWhileHiddenDoNothingAndEachShowingBuildsAFreshBox) {
    overlay_->setMessageForActivityIndicator("Nobody sees this");
    EXPECT_FALSE(overlay_->isShown());
    auto button = overlay_->addCancelButton();
    ASSERT_TRUE(button);
    EXPECT_FALSE(button->superview());

    overlay_->showActivityIndicatorWithMessage("Once");
    const auto firstBox = overlay_->centerView();
    overlay_->hideActivityIndicator();
    EXPECT_EQ(overlay_->centerView(), firstBox);
    overlay_->showActivityIndicator();
    EXPECT_NE(overlay_->centerView(), firstBox);
    EXPECT_FALSE(messageLabel());
}

TEST_F(ActivityViewTest, AnOrientationChangeResetsTheBoxTransformInAnAnimation) {
    UIDevice::currentDevice()->beginGeneratingDeviceOrientationNotifications();
    overlay_->showActivityIndicator();
    overlay_->centerView()->setTransform(CGAffineTransformMakeRotation(1.0));
    UIView::clearAnimationLog();
    UIDevice::currentDevice()->setOrientation(UIDeviceOrientation::LandscapeLeft);
    EXPECT_EQ(overlay_->centerView()->transform(), CGAffineTransformIdentity);
    const auto log = UIView::animationLog();
    ASSERT_FALSE(log.empty());
    EXPECT_DOUBLE_EQ(log.back()->duration, UIApplication::sharedApplication()->statusBarOrientationAnimationDuration());
    UIDevice::currentDevice()->endGeneratingDeviceOrientationNotifications();
}

TEST_F(ActivityViewTest, TheOverlaySwallowsTouchesOutsideItsButtons) {
    int underneath = 0, cancelled = 0;
    auto behind = UIButton::initWithFrame(CGRectMake(0, 0, 200, 200));
    behind->addTarget(nullptr, [&](const std::shared_ptr<NSObject>&) { ++underneath; }, UIControlEventTouchUpInside);
    window_->addSubview(behind);
    window_->tap({100, 100});
    ASSERT_EQ(underneath, 1);

    overlay_->showActivityIndicator();
    auto cancel = overlay_->addCancelButton();
    cancel->addTarget(nullptr, [&](const std::shared_ptr<NSObject>&) { ++cancelled; }, UIControlEventTouchUpInside);
    window_->tap({100, 100});
    EXPECT_EQ(underneath, 1);
    window_->tap(cancel->convertPointToView({95, 25}, nullptr));
    EXPECT_EQ(cancelled, 1);
}
