// Screen helpers: alert shapes and presentation, bar buttons, the top-most controller, the
// two-line title, and the menu button's badge bookkeeping in the user defaults, also across a
// simulated restart.
#include "uikit/UIViewControllerOpenAdUrl.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/ScopedMainBundle.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UIWindow.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEImageButtonNames.h"
#include "uikit/OESideMenuContainerViewController.h"
#include "uikit/UIAlertActionDefault.h"
#include "uikit/UIAlertControllerFactory.h"
#include "uikit/UIBadgeBarButtonItem.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIButtonCommon.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::vector<std::string> titles(const std::shared_ptr<UIAlertController>& alert) {
    std::vector<std::string> out;
    for (const auto& a : alert->actions()) out.push_back(a->title());
    return out;
}

}  // namespace

// --- Alerts ------------------------------------------------------------------------------------

TEST(AlertHelpersTest, ConfirmationsListTheConfirmingActionFirstAndCancelSecond) {
    auto confirm = UIAlertAction::actionWithTitle("Download", UIAlertActionStyle::Default, nullptr);
    auto ask = UIAlertControllerFactory::askAlertWithMessage("Sure?", confirm);
    EXPECT_EQ(ask->title(), OECoreString("Attention"));
    EXPECT_EQ(ask->message(), "Sure?");
    EXPECT_EQ(ask->preferredStyle(), UIAlertControllerStyle::Alert);
    EXPECT_EQ(titles(ask), (std::vector<std::string>{"Download", OECoreString("Cancel")}));
    EXPECT_EQ(ask->actions()[1]->style(), UIAlertActionStyle::Cancel);

    int ran = 0;
    auto block = UIAlertControllerFactory::askAlertWithTitle("T", "M", [&ran] { ++ran; });
    EXPECT_EQ(block->title(), "T");
    EXPECT_EQ(titles(block), (std::vector<std::string>{OECoreString("Ok"), OECoreString("Cancel")}));
    EXPECT_TRUE(block->tapActionAtIndex(0));
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(block->tapActionAtIndex(1));  // answered once
}

TEST(AlertHelpersTest, InformationAndErrorAlertsHaveOneOk) {
    auto error = UIAlertControllerFactory::errorAlertWithMessage("Broken");
    EXPECT_EQ(error->title(), OECoreString("Error"));
    EXPECT_EQ(titles(error), (std::vector<std::string>{OECoreString("Ok")}));
    EXPECT_FALSE(error->actions()[0]->hasHandler());
    EXPECT_EQ(UIAlertControllerFactory::undefinedErrorAlert()->message(), OECoreString("Undefined error was occured"));
    EXPECT_EQ(UIAlertControllerFactory::warningAlertMessage("W")->title(), OECoreString("Attention"));
    auto note = UIAlertControllerFactory::notificationAlerWithTitle("Hello", "There");
    EXPECT_EQ(note->title(), "Hello");
    EXPECT_EQ(titles(note), (std::vector<std::string>{OECoreString("Ok")}));
}

class PresentingTest : public KeyWindowTest {
protected:
    void TearDown() override {
        Clock::advance(5);
        KeyWindowTest::TearDown();
    }
};

TEST_F(PresentingTest, PresentersShowTheirAlertFromTheController) {
    showNoConnectionAllert(root);
    auto alert = std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), OECoreString("No Internet"));
    EXPECT_EQ(alert->message(), OECoreString("Check your internetsettings"));
    alert->tapActionAtIndex(0);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(root->presentedViewController(), nullptr);

    bool confirmed = false;
    showAskAlertWithMessage(root, "Go?", [&] { confirmed = true; });
    alert = std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), OECoreString("Attention"));
    alert->tapActionWithTitle(OECoreString("Ok"));
    EXPECT_TRUE(confirmed);
}

TEST_F(PresentingTest, TopControllerFollowsThePresentedChain) {
    EXPECT_EQ(topController(root), root);
    auto second = UIViewController::make();
    auto third = UIViewController::make();
    root->presentViewController(second, false, nullptr);
    second->presentViewController(third, false, nullptr);
    EXPECT_EQ(topController(root), third);
    EXPECT_EQ(topController(second), third);
    EXPECT_EQ(topController(nullptr), nullptr);
}

// --- Bar buttons -----------------------------------------------------------------------------------

TEST(BarButtonHelpersTest, ItemsHaveTheKindsStylesAndTargetsAsked) {
    auto target = UIViewController::make();
    int taps = 0;
    UIAction count = [&taps](const std::shared_ptr<NSObject>&) { ++taps; };

    EXPECT_EQ(makeDoneButton(target, count)->systemItem(), UIBarButtonSystemItemDone);
    EXPECT_EQ(makeCancelButton(target, count)->systemItem(), UIBarButtonSystemItemCancel);
    EXPECT_EQ(UIBarButtonItemCommon::makeFlexButton()->systemItem(), UIBarButtonSystemItemFlexibleSpace);
    auto fixed = UIBarButtonItemCommon::makeFixedButtonWithWidth(12);
    EXPECT_EQ(fixed->systemItem(), UIBarButtonSystemItemFixedSpace);
    EXPECT_DOUBLE_EQ(fixed->width(), 12);
    auto back = UIBarButtonItemCommon::makeBackButton();
    EXPECT_EQ(back->title(), OECoreString("Back"));
    EXPECT_EQ(back->style(), UIBarButtonItemStyleDone);
    EXPECT_EQ(makePlainButtonWithTitle(target, "P", count)->style(), UIBarButtonItemStylePlain);
    EXPECT_EQ(makeCloseButtonWithTitle(target, "C", count)->style(), UIBarButtonItemStyleDone);

    auto done = makeDoneButtonWithTitle(target, "D", count);
    EXPECT_EQ(done->target(), target);
    done->simulateTap();
    EXPECT_EQ(taps, 1);
    target.reset();  // the target is held weakly: gone, its action no longer runs
    done->simulateTap();
    EXPECT_EQ(taps, 1);
}

TEST(BarButtonHelpersTest, SegmentedItemSelectsAndReportsChanges) {
    int changes = 0;
    auto item = UIBarButtonItemCommon::makeSegmentedBarButtonItemWithSegments(
        {"List", "Grid"}, 1, nullptr, [&changes](const std::shared_ptr<NSObject>&) { ++changes; });
    auto control = std::dynamic_pointer_cast<UISegmentedControl>(item->customView());
    ASSERT_TRUE(control);
    EXPECT_EQ(control->numberOfSegments(), 2u);
    EXPECT_EQ(control->selectedSegmentIndex(), 1);
    EXPECT_EQ(changes, 0);  // selecting in code sends nothing
    EXPECT_TRUE(control->tintColor()->isEqual(UIColor::darkGrayColor().get()));
    control->simulateTapOnSegment(0);
    EXPECT_EQ(changes, 1);
}

TEST(BarButtonHelpersTest, ImageButtonsTakeTheImagesSizeOrNone) {
    const std::string folder = Sandbox::home() + "/ImageBundle";
    std::filesystem::create_directories(folder);
    auto image = UIImage::imageWithPixels(std::vector<std::uint8_t>(60 * 44 * 4, 200), 60, 44, 1);
    const NSData png = UIImagePNGRepresentation(image);
    std::ofstream(folder + "/menu@2x.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    ScopedMainBundle mainBundle(folder);
    UIImage::clearNamedCache();

    int taps = 0;
    auto button = UIButtonCommon::makeCustomButtonWithImage("menu", nullptr,
                                                           [&taps](const std::shared_ptr<NSObject>&) { ++taps; });
    EXPECT_EQ(button->buttonType(), UIButtonTypeCustom);
    EXPECT_EQ(button->frame(), CGRectMake(0, 0, 30, 22));
    ASSERT_TRUE(button->imageForState(UIControlStateNormal));
    button->simulateTap();
    EXPECT_EQ(taps, 1);
    EXPECT_EQ(UIButtonCommon::makeCustomButtonWithImage("no such image", nullptr, nullptr)->frame().size,
              (CGSize{0, 0}));
    // Named by what they do, not by their image files.
    EXPECT_EQ(accessibilityLabel(*button), "menu");
    EXPECT_EQ(accessibilityLabel(*UIButtonCommon::makeCustomButtonWithImage("media_download", nullptr, nullptr)), "download");
    EXPECT_EQ(accessibilityLabel(*UIBarButtonItemCommon::makePlainButtonWithImageName("lupa", nullptr, nullptr)), "search");
    EXPECT_EQ(accessibilityLabel(*UIBarButtonItemCommon::makePlainButtonWithImageName("media_plus", nullptr, nullptr)), "add");
    auto align = UIButton::make();
    OEImageButtonNames::setImage(align, "ajustify");
    EXPECT_EQ(accessibilityLabel(*align), "justify");
    OEImageButtonNames::setImage(align, "aleft");
    EXPECT_EQ(accessibilityLabel(*align), "align left");
    UIImage::clearNamedCache();
}

TEST(TitleHelpersTest, TheTwoLineTitleFitsTheBarLessAHundredPoints) {
    auto screen = UIViewController::make();
    auto navigation = UINavigationController::initWithRootViewController(screen);
    screen->setTitle("A long title of a picture");
    setMultilineTitle(screen);
    auto label = std::dynamic_pointer_cast<UILabel>(screen->navigationItem()->titleView());
    ASSERT_TRUE(label);
    const CGRect bar = navigation->navigationBar()->bounds();
    EXPECT_EQ(label->frame(), CGRectMake(0, 0, bar.size.width - 100, bar.size.height));
    EXPECT_EQ(label->text(), "A long title of a picture");
    EXPECT_EQ(label->numberOfLines(), 2);
    EXPECT_TRUE(label->adjustsFontSizeToFitWidth());
    EXPECT_DOUBLE_EQ(label->minimumScaleFactor(), 0.5);
    EXPECT_EQ(label->textAlignment(), NSTextAlignmentCenter);
    EXPECT_DOUBLE_EQ(label->font()->pointSize(), 17);
    updateMultilineTitle(screen, "Another");
    EXPECT_EQ(label->text(), "Another");
}

// --- The menu button and its badge --------------------------------------------------------------------

class MenuButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(100);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        defaults()->removeObjectForKey(kBadgeViewValueKey);
        defaults()->removeObjectForKey(kBadgeViewLastValueKey);
        ASSERT_TRUE(defaults()->synchronize());
        setNewAppsCountProvider([this] { return checkerCount; });
    }
    void TearDown() override {
        setNewAppsCountProvider(nullptr);
        Clock::advance(5);
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }
    static std::shared_ptr<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }
    static void settle() {
        Clock::advance(1);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    static long badgeOf(const std::shared_ptr<UIViewController>& screen) {
        auto item = std::dynamic_pointer_cast<UIBadgeBarButtonItem>(screen->navigationItem()->leftBarButtonItem());
        return item ? item->number() : -1;
    }
    static void post(const std::string& name) {
        NSNotificationCenter::defaultCenter()->postNotificationName(name, nullptr);
    }
    // A screen in a navigation controller in the centre of a shown side menu.
    std::shared_ptr<UIViewController> screenInMenu() {
        screen = UIViewController::make();
        container = OESideMenuContainerViewController::containerWithCenterViewController(
            UINavigationController::initWithRootViewController(screen), UIViewController::make(), nullptr,
            UIColor::whiteColor());
        window = UIWindow::make();
        window->setRootViewController(container);
        window->makeKeyAndVisible();
        settle();
        sideMenu_addButton(screen, UIColor::whiteColor());
        return screen;
    }

    long checkerCount = 0;
    std::shared_ptr<UIWindow> window;
    std::shared_ptr<OESideMenuContainerViewController> container;
    std::shared_ptr<UIViewController> screen;
};

TEST_F(MenuButtonTest, TheButtonStartsWithTheStoredCountAndOpensTheMenu) {
    defaults()->setInteger(2, kBadgeViewValueKey);
    auto s = screenInMenu();
    auto item = s->navigationItem()->leftBarButtonItem();
    ASSERT_TRUE(std::dynamic_pointer_cast<UIBadgeBarButtonItem>(item));
    EXPECT_EQ(badgeOf(s), 2);

    item->simulateTap();  // the custom button gets the tap
    settle();
    EXPECT_EQ(container->menuState(), OESideMenuStateLeftMenuOpen);
    EXPECT_EQ(badgeOf(s), 0);
    EXPECT_EQ(defaults()->integerForKey(kBadgeViewValueKey), 0);

    // Pressed while open: closes, the badge untouched.
    std::dynamic_pointer_cast<UIBadgeBarButtonItem>(item)->setNumber(5);
    showLeft(s);
    settle();
    EXPECT_EQ(container->menuState(), OESideMenuStateClosed);
    EXPECT_EQ(badgeOf(s), 5);
}

TEST_F(MenuButtonTest, NewCountsShowOnceUntilTheCheckerIsReset) {
    auto first = screenInMenu();
    auto other = UIViewController::make();
    sideMenu_addButton(other, UIColor::whiteColor());

    checkerCount = 3;
    post(NewAppsFoundMessage);
    EXPECT_EQ(badgeOf(first), 3);
    EXPECT_EQ(badgeOf(other), 3);
    EXPECT_EQ(badgeOf(other), 3);
    EXPECT_EQ(defaults()->integerForKey(kBadgeViewValueKey), 3);
    EXPECT_EQ(defaults()->integerForKey(kBadgeViewLastValueKey), 3);

    showLeft(first);  // clears the stored count and this button only
    settle();
    EXPECT_EQ(badgeOf(first), 0);
    EXPECT_EQ(badgeOf(other), 3);

    post(NewAppsFoundMessage);  // the same count again: nothing new
    EXPECT_EQ(badgeOf(first), 0);
    EXPECT_EQ(badgeOf(other), 3);
    EXPECT_EQ(defaults()->integerForKey(kBadgeViewValueKey), 0);

    post(NewAppsResetMessage);
    EXPECT_EQ(defaults()->integerForKey(kBadgeViewLastValueKey), 0);
    post(NewAppsFoundMessage);
    EXPECT_EQ(badgeOf(first), 3);

    setNewAppsCountProvider(nullptr);  // no checker: a found message changes nothing
    defaults()->setInteger(0, kBadgeViewLastValueKey);
    defaults()->setInteger(0, kBadgeViewValueKey);
    post(NewAppsFoundMessage);
    EXPECT_EQ(defaults()->integerForKey(kBadgeViewLastValueKey), 0);
    EXPECT_EQ(defaults()->integerForKey(kBadgeViewValueKey), 0);
}

TEST_F(MenuButtonTest, TheCountSurvivesARestartUntilTheMenuIsOpened) {
    auto s = screenInMenu();
    checkerCount = 4;
    post(NewAppsFoundMessage);
    ASSERT_EQ(badgeOf(s), 4);

    // A new process: the defaults are read back from their file.
    window.reset();
    container.reset();
    screen.reset();
    s.reset();
    NSUserDefaults::resetStandardUserDefaults();
    auto after = screenInMenu();
    EXPECT_EQ(badgeOf(after), 4);
    post(NewAppsFoundMessage);  // last seen survived too: still 4, nothing new
    EXPECT_EQ(badgeOf(after), 4);

    showLeft(after);
    settle();
    NSUserDefaults::resetStandardUserDefaults();
    auto again = UIViewController::make();
    sideMenu_addButton(again, UIColor::whiteColor());
    EXPECT_EQ(badgeOf(again), 0);
    EXPECT_EQ(defaults()->integerForKey(kBadgeViewLastValueKey), 4);
}

TEST_F(MenuButtonTest, AScreenOutsideAMenuIgnoresTheButton) {
    auto lone = UIViewController::make();
    sideMenu_addButton(lone, UIColor::whiteColor());
    defaults()->setInteger(7, kBadgeViewValueKey);
    showLeft(lone);
    EXPECT_EQ(defaults()->integerForKey(kBadgeViewValueKey), 7);
}
