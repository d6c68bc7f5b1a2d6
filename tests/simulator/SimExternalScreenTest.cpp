// External screens in the simulator: "display connect" and "display disconnect" add and remove
// one; the text screen lists what each shows, apart from the phone's own screen; a shot draws
// the phone's screen only; a button hidden inside its bar item is not listed.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimScreen.h"
#include "simulator/SimSession.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class ExternalScreenTest : public testing::Test {
protected:
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        SimRenderer::releaseCaches();
        // The session chose the manual clock and the phone's picture scale.
        Clock::setReal();
        UIImage::setScreenScale(1);
    }
};

std::shared_ptr<UIImage> greenPicture(const std::string& path) {
    std::vector<std::uint8_t> px(16 * 9 * 4, 255);
    for (std::size_t i = 0; i < px.size(); i += 4) px[i] = px[i + 2] = 0;
    const NSData png = UIImagePNGRepresentation(UIImage::imageWithPixels(px, 16, 9, 1));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
    return UIImage::imageWithContentsOfFile(path);
}

}  // namespace

TEST_F(ExternalScreenTest, DisplayCommandsConnectAndDisconnectAScreenThatTheTextScreenLists) {
    EXPECT_EQ(SimCommand::parse("display connect").dx, SimCommand::kDefaultDisplayWidth);
    const auto sized = SimCommand::parse("display connect 1280x720");
    EXPECT_EQ(sized.kind, SimCommand::Kind::Display);
    EXPECT_EQ(sized.direction, "connect");
    EXPECT_EQ(sized.dx, 1280);
    EXPECT_EQ(sized.dy, 720);
    EXPECT_EQ(SimCommand::parse("display disconnect").direction, "disconnect");
    for (const char* bad : {"display", "display on", "display connect 0x720", "display connect 1280",
                            "display connect 9000x720", "display connect axb", "display disconnect now",
                            "display connect 1280x720 extra"})
        EXPECT_EQ(SimCommand::parse(bad).kind, SimCommand::Kind::Invalid) << bad;

    SimSession session(false);
    auto root = UIViewController::make();
    auto window = UIWindow::make();
    window->setRootViewController(root);
    window->makeKeyAndVisible();

    EXPECT_FALSE(session.execute(SimCommand::parse("display disconnect")).ok);
    ASSERT_TRUE(session.execute(sized).ok);
    ASSERT_EQ(UIScreen::screens().size(), 2u);
    EXPECT_FALSE(session.execute(sized).ok);  // one at a time
    EXPECT_TRUE(session.screen().contains("-- external screen 1280x720: nothing shown")) << session.screen().text();

    // A window on it showing a picture: listed with its screen, not as part of the phone's.
    auto external = UIScreen::screens()[1];
    auto mirror = UIWindow::initWithFrame(external->bounds());
    mirror->setScreen(external);
    auto picture = greenPicture(Sandbox::tmp() + "/mirrored.png");
    auto view = UIImageView::initWithImage(picture);
    view->setFrame(mirror->bounds());
    mirror->addSubview(view);
    mirror->setHidden(false);
    const SimScreen screen = session.screen();
    EXPECT_TRUE(screen.contains("-- external screen 1280x720: image mirrored.png\n")) << screen.text();
    // Once: the external window is not walked as part of the phone's screen.
    EXPECT_EQ(screen.text().find("image "), screen.text().rfind("image ")) << screen.text();
    // The shot is the phone's screen: no green from the external one.
    const std::string shot = Sandbox::tmp() + "/phone.png";
    std::string error;
    ASSERT_TRUE(SimRenderer::writePNG(shot, error)) << error;
    auto drawn = UIImage::imageWithContentsOfFile(shot);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(drawn->pixelWidth(), 375);
    EXPECT_NE(drawn->rgbaPixels()[(300 * 375 + 100) * 4 + 1], 255);

    ASSERT_TRUE(session.execute(SimCommand::parse("display disconnect")).ok);
    EXPECT_EQ(UIScreen::screens().size(), 1u);
    EXPECT_FALSE(session.screen().contains("external screen"));
}

TEST_F(ExternalScreenTest, AButtonHiddenInsideItsBarItemIsNotListed) {
    SimSession session(false);
    auto top = UIViewController::make();
    top->setTitle("Pictures");
    auto shown = UIButton::buttonWithType(UIButtonTypeCustom);
    shown->setTitle("Shown", UIControlStateNormal);
    auto hidden = UIButton::buttonWithType(UIButtonTypeCustom);
    hidden->setTitle("Hidden", UIControlStateNormal);
    hidden->setHidden(true);
    top->navigationItem()->setRightBarButtonItems(
        {UIBarButtonItem::initWithCustomView(shown), UIBarButtonItem::initWithCustomView(hidden)});
    auto nav = UINavigationController::initWithRootViewController(top);
    auto window = UIWindow::make();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    const SimScreen screen = session.screen();
    EXPECT_TRUE(screen.contains("Shown")) << screen.text();
    EXPECT_FALSE(screen.contains("Hidden")) << screen.text();
    EXPECT_FALSE(screen.find("Hidden"));
}
