// The settings screen: the keys its controls write, the delay label, the orientations, and the
// deletion of the downloaded pictures behind the overlay only when confirmed.
#include "gallery/UISettings.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UIWindow.h"
#include "tests/gallery/GalleryFixture.h"
#include "uikit/ActivityView.h"

namespace {

class UISettingsTest : public GalleryFixture {
protected:
    void TearDown() override {
        window_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        for (const char* key : {kZoomKey, kSlideshowDelayKey, kFullScreenHintsEnabledKey})
            NSUserDefaults::standardUserDefaults()->removeObjectForKey(key);
        GalleryFixture::TearDown();
    }
    std::shared_ptr<UISettings> show() {
        auto settings = UISettings::initWithNibName("Settings", galleryContext());
        window_ = UIWindow::initWithFrame({{0, 0}, {320, 480}});
        window_->setRootViewController(UINavigationController::initWithRootViewController(settings));
        window_->makeKeyAndVisible();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        return settings;
    }
    static std::string delayText(long shown) {
        return NSString::format(NSLocalizedStringFromTable("Slide show delay: %d", "Settings"), shown);
    }
    std::shared_ptr<UIWindow> window_;
};

}  // namespace

TEST_F(UISettingsTest, TheHintsSwitchHasItsCaptionBesideIt) {
    auto settings = show();
    const auto hints = settings->fullScreenHintsEnabled();
    ASSERT_TRUE(hints);
    std::shared_ptr<UILabel> caption;
    for (const auto& view : settings->view()->subviews())
        if (auto label = std::dynamic_pointer_cast<UILabel>(view); label && label != settings->slideshowDelayLabel())
            caption = label;
    ASSERT_TRUE(caption);
    EXPECT_EQ(caption->text(), "Show the picture's name in full screen");
    EXPECT_EQ(caption->text(), NSLocalizedStringFromTable(kFullScreenHintsCaptionKey, "Settings"));
    EXPECT_DOUBLE_EQ(CGRectGetMidY(caption->frame()), CGRectGetMidY(hints->frame()));
    EXPECT_GE(caption->frame().origin.x, CGRectGetMaxX(hints->frame()));
    EXPECT_LE(CGRectGetMaxX(caption->frame()), settings->view()->bounds().size.width);
    // Whole on a narrow phone: wrapped, never cut.
    std::string shown;
    for (const auto& line : caption->visibleLines()) shown += (shown.empty() ? "" : " ") + line;
    EXPECT_EQ(shown, caption->text());
    EXPECT_LT(CGRectGetMaxY(caption->frame()), settings->deleteHdButton()->frame().origin.y);
}

TEST_F(UISettingsTest, ControlsShowAndWriteTheirKeys) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    auto settings = show();
    EXPECT_EQ(settings->navigationItem()->title(), NSLocalizedStringFromTable("Settings", "Settings"));
    EXPECT_TRUE(settings->navigationItem()->leftBarButtonItem());
    // No stored delay: 0 is written by the load and the label reads 4.
    EXPECT_FALSE(defaults->objectForKey(kSlideshowDelayKey).isNull());
    EXPECT_EQ(defaults->integerForKey(kSlideshowDelayKey), 0);
    EXPECT_EQ(settings->slideshowDelayLabel()->text(), delayText(4));
    EXPECT_EQ(settings->zoom()->selectedSegmentIndex(), 0);
    EXPECT_FALSE(settings->fullScreenHintsEnabled()->isOn());
    EXPECT_FALSE(settings->deleteHdButton()->isHidden());

    settings->slideshowDelay()->simulateDrag(2.9f);
    EXPECT_EQ(defaults->integerForKey(kSlideshowDelayKey), 2);
    EXPECT_EQ(settings->slideshowDelayLabel()->text(), delayText(6));
    settings->zoom()->simulateTapOnSegment(2);
    EXPECT_EQ(defaults->integerForKey(kZoomKey), 2);
    settings->fullScreenHintsEnabled()->setOn(true);
    settings->fullScreenHintsEnabled()->sendActionsForControlEvents(UIControlEventValueChanged);
    EXPECT_TRUE(defaults->boolForKey(kFullScreenHintsEnabledKey));

    // A screen opened again shows what is stored.
    auto again = show();
    EXPECT_EQ(again->zoom()->selectedSegmentIndex(), 2);
    EXPECT_EQ(again->slideshowDelay()->value(), 2.0f);
    EXPECT_TRUE(again->fullScreenHintsEnabled()->isOn());

    // Portrait on a phone, every orientation on a pad.
    EXPECT_EQ(again->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    EXPECT_EQ(again->supportedInterfaceOrientations(), UIInterfaceOrientationMaskAll);
}

TEST_F(UISettingsTest, DeletingTheDownloadedPicturesAsksFirstAndRunsBehindTheOverlay) {
    Clock::setManual();
    const std::string picture = Sandbox::documents() + "/Data/p0001.jpg";
    writePNG(picture);
    auto settings = show();
    auto alertShown = [&] { return std::dynamic_pointer_cast<UIAlertController>(settings->navigationController()->presentedViewController()); };

    settings->deleteHdButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    auto alert = alertShown();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), NSLocalizedStringFromTable("Are you sure?", "Settings"));
    ASSERT_EQ(alert->actions().size(), 2u);
    EXPECT_EQ(alert->actions()[0]->title(), NSLocalizedStringFromTable("Delete", "Settings"));
    EXPECT_EQ(alert->actions()[0]->style(), UIAlertActionStyle::Destructive);
    ASSERT_TRUE(alert->tapActionAtIndex(1));  // Cancel
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return !alertShown(); }, 20.0));
    EXPECT_TRUE(exists(picture));

    settings->deleteHdButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    alert = alertShown();
    ASSERT_TRUE(alert);
    ASSERT_TRUE(alert->tapActionAtIndex(0));
    // The overlay is up before anything is deleted, and gone afterwards.
    EXPECT_TRUE(ActivityView::sharedActivityView()->isShown());
    EXPECT_TRUE(exists(picture));
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return !exists(picture); }, 20.0));
    EXPECT_FALSE(exists(Sandbox::documents() + "/Data"));
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
    // The alerts' slides in, cut short, end before the test does.
    pass(UIViewController::transitionDuration());
    Clock::setReal();
}
