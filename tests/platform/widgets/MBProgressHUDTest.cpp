// The progress overlay: covering its host, its label, and hiding with and without animation.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/widgets/MBProgressHUD.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UILabel.h"

#include <gtest/gtest.h>

namespace {

class HUDTest : public ::testing::Test {
protected:
    void SetUp() override { Clock::setManual(50); }
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::setReal();
    }
    std::shared_ptr<UIView> host = UIView::initWithFrame(CGRectMake(0, 0, 320, 480));
};

}  // namespace

TEST_F(HUDTest, ShowCoversTheHostWithABusySpinnerAndTheLabel) {
    auto hud = MBProgressHUD::showHUDAddedTo(host, true);
    ASSERT_TRUE(hud);
    EXPECT_EQ(hud->superview(), host);
    EXPECT_EQ(hud->frame(), host->bounds());
    EXPECT_EQ(hud->alpha(), 1);
    EXPECT_TRUE(hud->indicator()->isAnimating());
    EXPECT_EQ(MBProgressHUD::HUDForView(host), hud);
    hud->label()->setText("Loading");
    hud->layoutIfNeeded();
    const CGRect bezel = hud->bezelView()->frame();
    EXPECT_EQ(CGRectGetMidX(bezel), 160);
    EXPECT_EQ(CGRectGetMidY(bezel), 240);
    EXPECT_GE(bezel.size.width, 100);
    // The overlay takes the touches meant for what it covers.
    EXPECT_EQ(host->hitTest({10, 10}, nullptr), hud);
}

TEST_F(HUDTest, AnimatedHideLeavesTheHostWhenTheFadeEnds) {
    auto hud = MBProgressHUD::showHUDAddedTo(host, false);
    int completions = 0;
    hud->setCompletionBlock([&] { ++completions; });
    hud->hideAnimated(true);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(hud->superview(), host);
    EXPECT_EQ(MBProgressHUD::HUDForView(host), nullptr);  // already on its way out
    Clock::advance(MBProgressHUD::animationDuration());
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(hud->superview(), nullptr);
    EXPECT_EQ(completions, 1);
    hud->hideAnimated(true);
    Clock::advance(1);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(MBProgressHUD::hideHUDForView(host, false));
}

TEST_F(HUDTest, DelayedHideAndHideByHost) {
    auto first = MBProgressHUD::showHUDAddedTo(host, false);
    first->hideAnimated(false, 2.0);
    Clock::advance(1.9);
    EXPECT_EQ(first->superview(), host);
    Clock::advance(0.2);
    EXPECT_EQ(first->superview(), nullptr);
    auto second = MBProgressHUD::showHUDAddedTo(host, false);
    EXPECT_TRUE(MBProgressHUD::hideHUDForView(host, false));
    EXPECT_EQ(second->superview(), nullptr);
}
