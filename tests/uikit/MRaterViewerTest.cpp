// The rating banner over size changes: it slides in below the presenting view (the window's
// bottom safe area added), the view keeps room for it whatever resets the view's size once the
// slide is over (a rotation included), closing gives the room back and stops watching the
// view, presenting again watches once; and its screens on a phone and on a pad, with plain or
// attributed titles.
#include "uikit/MRaterViewer.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"
#include "tests/fixtures/KeyWindowTest.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace {

class Question : public MRaterViewerDataSource {
public:
    std::string title;
    std::string raterTitleForFirstScreen() override { return title; }
};

class BannerTest : public KeyWindowTest {
protected:
    void SetUp() override {
        KeyWindowTest::SetUp();
        const std::string bundle = Sandbox::tmp() + "/banner-bundle";
        std::filesystem::create_directories(bundle);
        Value::Dictionary info;
        info.set("CFBundleDisplayName", Value("Ostrel"));
        ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(info), bundle + "/Info.plist",
                                                                   NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
        // The phone's answer buttons show only these pictures.
        for (const char* name : {"rater_yes_message_btn", "rater_no_message_btn"}) {
            auto image = UIImage::imageWithPixels(std::vector<std::uint8_t>(4 * 4 * 4, 200), 4, 4, 1);
            const NSData png = UIImagePNGRepresentation(image);
            std::ofstream(bundle + "/" + name + ".png", std::ios::binary)
                .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
        }
        mainBundle_.emplace(bundle);
        viewer = MRaterViewer::make();
    }
    void TearDown() override {
        viewer.reset();
        mainBundle_.reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        KeyWindowTest::TearDown();
    }
    static void pass(double seconds) {
        Clock::advance(seconds);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    CGFloat rootHeight() const { return root->view()->frame().size.height; }
    CGFloat windowHeight() const { return window->frame().size.height; }
    void resetRootToFullHeight() {
        CGRect frame = root->view()->frame();
        frame.size.height = windowHeight();
        root->view()->setFrame(frame);
    }

    std::shared_ptr<MRaterViewer> viewer;
    std::optional<ScopedMainBundle> mainBundle_;
};

}  // namespace

TEST_F(BannerTest, TheBannerSlidesInBelowTheViewWhichShrinksByItsHeightWithTheSafeArea) {
    window->setSafeAreaInsets(UIEdgeInsets{20, 0, 34, 0});
    const CGFloat full = windowHeight(), width = window->frame().size.width;
    ASSERT_EQ(rootHeight(), full);
    viewer->presentInController(root, true);
    EXPECT_TRUE(viewer->isPresenting());
    EXPECT_TRUE(viewer->isOnScreen());
    EXPECT_EQ(viewer->viewerView()->superview(), window) << "beside the view, not over it";
    const CGFloat banner = MRaterViewer::kBannerHeight + 34;
    EXPECT_EQ(viewer->viewerView()->frame().size, (CGSize{width, banner}));
    EXPECT_EQ(rootHeight(), full - banner);
    EXPECT_EQ(viewer->viewerView()->center(), (CGPoint{width / 2, full - banner / 2}));
    pass(1.4);
    EXPECT_TRUE(viewer->isPresenting()) << "the slide waits 1 s and lasts 0.5 s";
    pass(0.2);
    EXPECT_FALSE(viewer->isPresenting());
    EXPECT_TRUE(viewer->isObservingFrame());

    viewer->presentInController(root, true);  // already up: nothing more
    EXPECT_EQ(rootHeight(), full - banner);
    std::size_t banners = 0;
    for (const auto& view : window->subviews()) banners += view == viewer->viewerView();
    EXPECT_EQ(banners, 1u);
}

TEST_F(BannerTest, WhileUpTheViewKeepsRoomForTheBannerWhateverResetsItButNotDuringASlide) {
    viewer->presentInController(root, true);
    const CGFloat banner = MRaterViewer::kBannerHeight;
    resetRootToFullHeight();
    EXPECT_EQ(rootHeight(), windowHeight()) << "during the slide nothing is corrected";
    pass(2);
    EXPECT_EQ(rootHeight(), windowHeight() - banner) << "once it is over, the room is made";
    CGRect other = root->view()->frame();
    other.size.height = 300;
    root->view()->setFrame(other);
    EXPECT_EQ(rootHeight(), 300) << "only the window's full height is taken back";
    resetRootToFullHeight();
    EXPECT_EQ(rootHeight(), windowHeight() - banner);

    // A rotation gives the view the window's new full height: room is made again.
    UIApplication::sharedApplication()->rotateTo(UIInterfaceOrientation::LandscapeLeft);
    pass(1);
    EXPECT_EQ(windowHeight(), UIScreen::mainScreen()->bounds().size.height);
    EXPECT_EQ(rootHeight(), windowHeight() - banner);
    UIApplication::sharedApplication()->rotateTo(UIInterfaceOrientation::Portrait);
    pass(1);
    EXPECT_EQ(rootHeight(), windowHeight() - banner);
}

TEST_F(BannerTest, ClosingGivesTheRoomBackAndStopsWatchingTheViewAndPresentingAgainWatchesOnce) {
    std::vector<std::uint64_t> states;
    viewer->setCloseBlock([&](std::uint64_t state) { states.push_back(state); });
    viewer->presentInController(root, false);
    EXPECT_FALSE(viewer->isPresenting());
    const CGFloat full = windowHeight();
    EXPECT_EQ(rootHeight(), full - MRaterViewer::kBannerHeight);

    viewer->closeWithState(4);
    EXPECT_EQ(states, std::vector<std::uint64_t>{4});
    EXPECT_FALSE(viewer->isObservingFrame());
    EXPECT_EQ(rootHeight(), full);
    EXPECT_TRUE(viewer->isOnScreen()) << "until the slide out is over";
    pass(0.6);
    EXPECT_FALSE(viewer->isOnScreen());
    EXPECT_FALSE(viewer->isPresenting());
    root->view()->setFrame(CGRectMake(0, 0, window->frame().size.width, 100));
    resetRootToFullHeight();
    EXPECT_EQ(rootHeight(), full) << "a closed banner no longer watches the view";

    // Again, over another screen: one watch, on that screen's view only.
    auto other = UIViewController::make();
    window->setRootViewController(other);
    pass(1);
    viewer->presentInController(other, false);
    EXPECT_TRUE(viewer->isObservingFrame());
    resetRootToFullHeight();
    EXPECT_EQ(rootHeight(), full) << "the first screen is not watched any more";
    CGRect frame = other->view()->frame();
    frame.size.height = full;
    other->view()->setFrame(frame);
    EXPECT_EQ(other->view()->frame().size.height, full - MRaterViewer::kBannerHeight);

    // The watched view goes away first, then the banner: nothing is left behind.
    window->setRootViewController(root);
    other.reset();
    pass(1);
    viewer->close(false);
    EXPECT_FALSE(viewer->isObservingFrame());
}

TEST_F(BannerTest, WithoutAControllerTheBannerGoesBelowTheKeyWindowsRootAt44PointsWithoutWatching) {
    window->setSafeAreaInsets(UIEdgeInsets{20, 0, 34, 0});
    viewer->present(false);
    EXPECT_EQ(viewer->viewerView()->frame().size.height, MRaterViewer::kBannerHeight);
    EXPECT_EQ(rootHeight(), windowHeight() - MRaterViewer::kBannerHeight);
    EXPECT_FALSE(viewer->isObservingFrame());
    EXPECT_EQ(viewer->presentingController(), root);
    viewer->present(false);
    viewer->close(false);
    EXPECT_EQ(rootHeight(), windowHeight());

    auto nowhere = MRaterViewer::make();
    nowhere->presentInController(nullptr, true);
    EXPECT_FALSE(nowhere->isOnScreen());
    EXPECT_FALSE(nowhere->isPresenting());
}

TEST_F(BannerTest, OnAPhoneTheScreensShowPictureButtonsBesideALeftAlignedQuestion) {
    auto question = std::make_shared<Question>();
    viewer->setDataSource(question);
    viewer->presentInController(root, false);
    auto screen = viewer->currentView();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->title(), MRaterViewer::localized("Do you like") + " Ostrel?") << "an empty answer keeps the default";
    EXPECT_EQ(screen->leftButton()->frame().size, (CGSize{44, 44}));
    EXPECT_TRUE(screen->leftButton()->imageForState(UIControlStateNormal));
    EXPECT_TRUE(screen->rightButton()->imageForState(UIControlStateNormal));
    EXPECT_EQ(screen->leftButton()->titleForState(UIControlStateNormal), "");
    EXPECT_EQ(screen->titleLebel()->textAlignment(), NSTextAlignmentLeft);
    EXPECT_EQ(screen->titleLebel()->numberOfLines(), 0);
    // The group (212 + 5 + 44 + 0 + 44) is centred on the 375-point banner, on its middle line.
    const CGFloat width = window->frame().size.width, margin = (width - 212 - 5 - 44 - 44) / 2;
    EXPECT_DOUBLE_EQ(screen->titleLebel()->center().x, margin + 106);
    EXPECT_DOUBLE_EQ(screen->leftButton()->center().x, margin + 212 + 5 + 22);
    EXPECT_DOUBLE_EQ(screen->rightButton()->center().x, margin + 212 + 5 + 44 + 22);
    EXPECT_DOUBLE_EQ(screen->leftButton()->center().y, 22);
    EXPECT_DOUBLE_EQ(screen->titleLebel()->font()->pointSize(), 15);

    // Yes: the question fades out, then the request to rate fades in.
    screen->leftButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(viewer->currentView(), screen);
    pass(0.31);
    ASSERT_NE(viewer->currentView(), screen);
    EXPECT_EQ(screen->superview(), nullptr);
    EXPECT_EQ(viewer->currentView()->title(), MRaterViewer::localized("Please rate us!"));
    EXPECT_EQ(viewer->currentView()->superview(), viewer->viewerView());

    question->title = "Do you like our app?";
    EXPECT_EQ(viewer->firstScreen()->title(), "Do you like our app?");
}

TEST_F(BannerTest, OnAPadTheButtonsCarryTheirTitlesBesideACentredQuestion) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto screen = viewer->notEnjoyScreen();
    EXPECT_EQ(screen->frame(), CGRectMake(0, 0, 680, MRaterViewer::kBannerHeight));
    EXPECT_EQ(screen->leftButton()->titleForState(UIControlStateNormal), MRaterViewer::localized("OK"));
    EXPECT_EQ(screen->rightButton()->titleForState(UIControlStateNormal), MRaterViewer::localized("No, thanks"));
    EXPECT_EQ(screen->leftButton()->frame().size.width, 100);
    EXPECT_DOUBLE_EQ(screen->leftButton()->titleLabel()->font()->pointSize(), 12);
    EXPECT_EQ(screen->titleLebel()->frame().size.width, 360);
    EXPECT_EQ(screen->titleLebel()->textAlignment(), NSTextAlignmentCenter);
    const CGFloat margin = (680 - 360 - 100 - 100 - 10 - 10) / 2.0;
    EXPECT_DOUBLE_EQ(screen->titleLebel()->center().x, margin + 180);
    EXPECT_DOUBLE_EQ(screen->leftButton()->center().x, margin + 360 + 10 + 50);
    EXPECT_DOUBLE_EQ(screen->rightButton()->center().x, margin + 360 + 10 + 100 + 10 + 50);
}

TEST_F(BannerTest, AScreensTitleCanBeAttributedTextAndPlainTextReplacesIt) {
    auto screen = viewer->enjoyScreen();
    auto question = NSMutableAttributedString::initWithString("Do you like ");
    NSStringAttributes bold;
    bold.font = UIFont::boldSystemFontOfSize(15);
    question->appendString("Ostrel", bold);
    question->appendString("?", {});
    screen->setAttributedTitle(question);
    ASSERT_TRUE(screen->attributedTitle());
    EXPECT_TRUE(screen->attributedTitle()->isEqual(question.get()));
    EXPECT_EQ(screen->title(), "Do you like Ostrel?");
    EXPECT_EQ(screen->titleLebel()->attributedText(), screen->attributedTitle());
    NSRange run{};
    EXPECT_EQ(screen->attributedTitle()->attributesAtIndex(12, &run).font, bold.font);
    EXPECT_EQ(run.location, 12u);
    EXPECT_EQ(run.length, 6u);

    // Plain text takes the label's own font and colour again.
    screen->setTitle("Please rate us!");
    ASSERT_TRUE(screen->attributedTitle());
    EXPECT_EQ(screen->attributedTitle()->string(), "Please rate us!");
    ASSERT_EQ(screen->attributedTitle()->runs().size(), 1u);
    EXPECT_EQ(screen->attributedTitle()->runs()[0].attributes.font, screen->titleLebel()->font());
    EXPECT_EQ(screen->attributedTitle()->runs()[0].attributes.foregroundColor, screen->titleLebel()->textColor());
}
