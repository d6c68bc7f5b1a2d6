// The appearance set at start: the tint by system version on bars, bar items, image views,
// search bars and alert contents; the slider images, applied to sliders that come on screen
// afterwards.
#include "engine/OECore.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAppearance.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UISearchBar.h"
#include "platform/media/MPVolumeView.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIWindow.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

class InterfaceAppearance : public ::testing::Test {
protected:
    void SetUp() override {
        UIAppearance::reset();
        previousBundle = NSBundle::mainBundle()->bundlePath();
    }
    void TearDown() override {
        NSBundle::setMainBundlePath(previousBundle);
        NSBundle::resetCaches();
        UIImage::clearNamedCache();
        UIAppearance::reset();
        UIDevice::currentDevice()->setSystemVersion("15.0");
    }
    static bool tinted(const std::shared_ptr<UIAppearanceProxy>& proxy, const std::shared_ptr<UIColor>& colour) {
        auto value = proxy->value("tintColor").objectAs<UIColor>();
        return value && value->isEqual(colour.get());
    }
    std::string previousBundle;
    // A small picture in the bundle under `name`.png.
    static void writeImage(const std::string& folder, const std::string& name) {
        auto image = UIImage::imageWithPixels(std::vector<std::uint8_t>(12 * 6 * 4, 200), 12, 6, 1);
        const NSData png = UIImagePNGRepresentation(image);
        std::ofstream(folder + "/" + name + ".png", std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    }
};

}  // namespace

TEST_F(InterfaceAppearance, TheTintIsTheLabelColourFromSystem13AndDarkGreyBefore) {
    UIDevice::currentDevice()->setSystemVersion("14.2");
    OECore().customizeInterface();
    const auto label = UIColor::labelColor();
    EXPECT_TRUE(tinted(UIAppearance::appearance<UIBarButtonItem>(), label));
    EXPECT_TRUE(tinted(UIAppearance::appearance<UINavigationBar>(), label));
    EXPECT_TRUE(tinted(UIAppearance::appearance<UIToolbar>(), label));
    EXPECT_TRUE(tinted(UIAppearance::appearance<UIImageView>(), label));
    EXPECT_TRUE(tinted(UIAppearance::appearance<UISearchBar>(), label));
    EXPECT_TRUE(tinted(UIAppearance::appearanceWhenContainedIn<UIView, UIAlertController>(), label));
    EXPECT_FALSE(UIAppearance::appearance<UIView>()->hasValue("tintColor"));

    UIAppearance::reset();
    UIDevice::currentDevice()->setSystemVersion("12.4");
    OECore().customizeInterface();
    EXPECT_TRUE(tinted(UIAppearance::appearance<UINavigationBar>(), UIColor::darkGrayColor()));
    EXPECT_TRUE(tinted(UIAppearance::appearance<UISearchBar>(), UIColor::darkGrayColor()));
    EXPECT_TRUE(tinted(UIAppearance::appearanceWhenContainedIn<UIView, UIAlertController>(), UIColor::darkGrayColor()));
}

TEST_F(InterfaceAppearance, SearchBarsComingOnScreenTakeTheTintButPlainViewsDoNot) {
    UIDevice::currentDevice()->setSystemVersion("15.0");
    OECore().customizeInterface();
    auto search = UISearchBar::make();
    auto plain = UIView::initWithFrame(CGRectMake(0, 100, 50, 50));
    auto screen = UIViewController::make();
    screen->view()->addSubview(search);
    screen->view()->addSubview(plain);
    auto window = UIWindow::make();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    ASSERT_NE(search->tintColor(), nullptr);
    EXPECT_TRUE(search->tintColor()->isEqual(UIColor::labelColor().get()));
    EXPECT_FALSE(plain->tintColor() && plain->tintColor()->isEqual(UIColor::labelColor().get()));
}

TEST_F(InterfaceAppearance, SlidersComingOnScreenTakeTheTrackAndThumbImages) {
    const std::string bundle = Sandbox::tmp() + "/appearance-bundle";
    std::filesystem::create_directories(bundle);
    for (const char* name : {"Active", "Innactive", "handle"}) writeImage(bundle, name);
    NSBundle::setMainBundlePath(bundle);
    NSBundle::resetCaches();
    UIImage::clearNamedCache();
    OECore().customizeInterface();

    auto slider = UISlider::initWithFrame(CGRectMake(10, 10, 200, 30));
    auto screen = UIViewController::make();
    screen->view()->addSubview(slider);
    auto window = UIWindow::make();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();

    auto minimum = slider->minimumTrackImageForState(0);
    auto maximum = slider->maximumTrackImageForState(0);
    auto thumb = slider->thumbImageForState(0);
    ASSERT_NE(minimum, nullptr);
    ASSERT_NE(maximum, nullptr);
    ASSERT_NE(thumb, nullptr);
    EXPECT_TRUE(minimum->isResizable());
    EXPECT_EQ(minimum->capInsets().left, 4);
    EXPECT_EQ(minimum->capInsets().right, 4);
    EXPECT_EQ(minimum->capInsets().top, 0);
    EXPECT_TRUE(maximum->isResizable());
    EXPECT_FALSE(thumb->isResizable());
    EXPECT_EQ(thumb->size().width, 12);
}

TEST_F(InterfaceAppearance, MissingImagesLeaveTheSlidersAlone) {
    const std::string bundle = Sandbox::tmp() + "/appearance-empty";
    std::filesystem::create_directories(bundle);
    NSBundle::setMainBundlePath(bundle);
    NSBundle::resetCaches();
    UIImage::clearNamedCache();
    OECore().customizeInterface();
    EXPECT_FALSE(UIAppearance::appearance<UISlider>()->hasValue("thumbImage@0"));
    auto slider = UISlider::make();
    auto screen = UIViewController::make();
    screen->view()->addSubview(slider);
    auto window = UIWindow::make();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    EXPECT_EQ(slider->thumbImageForState(0), nullptr);
}

TEST_F(InterfaceAppearance, FromSystem15BarsComingOnScreenTakeTheDefaultBackgroundForBothEdges) {
    const auto barsOnScreen = [] {
        auto navigation = UINavigationBar::initWithFrame(CGRectMake(0, 0, 320, 44));
        auto toolbar = UIToolbar::initWithFrame(CGRectMake(0, 400, 320, 44));
        auto screen = UIViewController::make();
        screen->view()->addSubview(navigation);
        screen->view()->addSubview(toolbar);
        auto window = UIWindow::make();
        window->setRootViewController(screen);
        window->makeKeyAndVisible();
        return std::make_pair(navigation, toolbar);
    };

    UIDevice::currentDevice()->setSystemVersion("15.0");
    OECore().customizeInterface();
    auto [navigation, toolbar] = barsOnScreen();
    ASSERT_NE(navigation->standardAppearance(), nullptr);
    EXPECT_EQ(navigation->standardAppearance(), navigation->scrollEdgeAppearance());
    EXPECT_EQ(navigation->standardAppearance()->background(), UIBarAppearance::Background::Default);
    ASSERT_NE(toolbar->standardAppearance(), nullptr);
    EXPECT_EQ(toolbar->standardAppearance(), toolbar->scrollEdgeAppearance());

    UIAppearance::reset();
    UIDevice::currentDevice()->setSystemVersion("14.2");
    OECore().customizeInterface();
    auto [oldNavigation, oldToolbar] = barsOnScreen();
    EXPECT_EQ(oldNavigation->standardAppearance(), nullptr);
    EXPECT_EQ(oldToolbar->scrollEdgeAppearance(), nullptr);
}

TEST_F(InterfaceAppearance, VolumeViewsComingOnScreenTakeTheirTrackThumbAndRouteImages) {
    const std::string bundle = Sandbox::tmp() + "/appearance-volume";
    std::filesystem::create_directories(bundle);
    for (const char* name : {"Active", "Innactive", "handle", "airPlayBtn", "airPlayBtn_up"}) writeImage(bundle, name);
    NSBundle::setMainBundlePath(bundle);
    NSBundle::resetCaches();
    UIImage::clearNamedCache();
    OECore().customizeInterface();

    auto volume = MPVolumeView::make();
    auto screen = UIViewController::make();
    screen->view()->addSubview(volume);
    auto window = UIWindow::make();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();

    auto minimum = volume->minimumVolumeSliderImageForState(UIControlStateNormal);
    ASSERT_NE(minimum, nullptr);
    EXPECT_TRUE(minimum->isResizable());
    EXPECT_EQ(minimum->capInsets().left, 4);
    ASSERT_NE(volume->maximumVolumeSliderImageForState(UIControlStateNormal), nullptr);
    ASSERT_NE(volume->volumeThumbImageForState(UIControlStateNormal), nullptr);
    EXPECT_FALSE(volume->volumeThumbImageForState(UIControlStateNormal)->isResizable());
    auto route = volume->routeButtonImageForState(UIControlStateNormal);
    auto lit = volume->routeButtonImageForState(UIControlStateHighlighted);
    ASSERT_TRUE(route && lit);
    EXPECT_EQ(route->name(), "airPlayBtn");
    EXPECT_EQ(lit->name(), "airPlayBtn_up");
    EXPECT_EQ(volume->routeButtonImageForState(UIControlStateSelected), lit);
}
