// The external screen's mirror on its own: nothing without a second screen; a window of the
// second screen's size made hidden and shown with the first view; views handed over quickly
// each remove only the view that was current when their fade began.
#include "gallery/SecondWindowController.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

#include <gtest/gtest.h>

namespace {

class SecondWindowTest : public testing::Test {
protected:
    void SetUp() override { Clock::setManual(100); }
    void TearDown() override {
        mirror_.reset();
        if (external_) UIScreen::disconnectScreen(external_);
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }
    static void pass(double seconds) {
        Clock::advance(seconds);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    static std::shared_ptr<UIView> tagged(int tag) {
        auto view = UIView::initWithFrame(CGRectMake(0, 0, 10, 10));
        view->setTag(tag);
        return view;
    }
    std::shared_ptr<UIScreen> external_;
    std::shared_ptr<SecondWindowController> mirror_;
};

}  // namespace

TEST_F(SecondWindowTest, WithoutASecondScreenNothingIsShown) {
    mirror_ = SecondWindowController::make();
    EXPECT_FALSE(mirror_->secondWindow());
    mirror_->displayView(tagged(1));
    EXPECT_FALSE(mirror_->currentView());
    EXPECT_EQ(UIApplication::sharedApplication()->windows().size(), 0u);
}

TEST_F(SecondWindowTest, ViewsHandedOverQuicklyEachRemoveOnlyTheOneBeforeThem) {
    external_ = UIScreen::make({1280, 720}, 1);
    UIScreen::connectScreen(external_);
    mirror_ = SecondWindowController::make();
    auto window = mirror_->secondWindow();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isHidden());
    EXPECT_EQ(window->bounds().size, (CGSize{1280, 720}));

    auto first = tagged(1), second = tagged(2), third = tagged(3);
    mirror_->displayView(first);
    EXPECT_FALSE(window->isHidden());
    EXPECT_EQ(first->frame(), CGRectMake(0, 0, 1280, 720));
    EXPECT_EQ(first->autoresizingMask(), UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    pass(0.1);
    mirror_->displayView(second);
    pass(0.1);
    mirror_->displayView(third);
    EXPECT_EQ(mirror_->currentView(), third);
    pass(SecondWindowController::kFadeDuration);
    // The first went with the second's fade, the second with the third's.
    EXPECT_EQ(window->subviews(), (std::vector<std::shared_ptr<UIView>>{third}));
    EXPECT_EQ(third->alpha(), 1);

    // The mirror going hides its window.
    mirror_.reset();
    EXPECT_TRUE(window->isHidden());
}
