// Screen views: controllers appearing through the hooks in a real window tree, the choice of the
// top controller, manual naming and "screen_view" events, the Info.plist switch, activity across
// background and foreground, the parameters other events get, and the instance counter's wrap.
#include "ReporterTestSupport.h"

#include "analytics/core/APMNumericUtil.h"
#include "analytics/reporters/APMAppActivity.h"
#include "analytics/reporters/APMScreen.h"
#include "analytics/reporters/APMScreenClassName.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UITabBarController.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

namespace {

class MenuScreenController : public UIViewController {};
class PictureScreenController : public UIViewController {};
class _PrivateSheetController : public UIViewController {};

class APMScreenViewReporterTest : public ReporterTest {
protected:
    void SetUp() override {
        ReporterTest::SetUp();
        APMScreenViewReporter::installHooks();
    }
    // A navigation root with the menu on it, shown in the key window.
    void showNavigation() {
        menu = std::make_shared<MenuScreenController>();
        navigation = UINavigationController::initWithRootViewController(menu);
        window->setRootViewController(navigation);
        settle();
    }
    void becomeActive() {
        auto application = UIApplication::sharedApplication();
        if (!application->enterForeground()) {
            EXPECT_TRUE(application->becomeActive());
        }
        settle();
    }
    std::shared_ptr<APMEvent> lastScreenView() {
        settle();
        auto views = eventsNamed(*context->sink, "_vs");
        return views.empty() ? nullptr : views.back();
    }
    // An Info.plist with `info` as the main bundle (named `name`) for the rest of the test.
    void useInfo(const Value::Dictionary& info, const std::string& name = "Screens.app") {
        const std::string bundle = Sandbox::tmp() + "/" + name;
        std::filesystem::create_directories(bundle);
        ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(
            Value(info), bundle + "/Info.plist", NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
        mainBundle.reset();
        mainBundle = std::make_unique<ScopedMainBundle>(bundle);
    }
    void TearDown() override {
        ReporterTest::TearDown();
        mainBundle.reset();
    }

    std::shared_ptr<MenuScreenController> menu;
    std::shared_ptr<UINavigationController> navigation;
    std::unique_ptr<ScopedMainBundle> mainBundle;
};

TEST_F(APMScreenViewReporterTest, ControllersShownThroughTheHooksAreReportedWithThePreviousScreen) {
    becomeActive();
    showNavigation();
    auto first = lastScreenView();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->origin(), "auto");
    EXPECT_EQ(stringParameter(*first, "_sc"), "MenuScreenController");
    EXPECT_FALSE(first->parameters().find("_pi"));
    const auto menuID = intParameter(*first, "_si");
    ASSERT_TRUE(menuID);

    auto picture = std::make_shared<PictureScreenController>();
    navigation->pushViewController(picture, false);
    settle();
    auto second = lastScreenView();
    EXPECT_EQ(stringParameter(*second, "_sc"), "PictureScreenController");
    EXPECT_EQ(intParameter(*second, "_pi"), menuID);
    EXPECT_EQ(stringParameter(*second, "_pc"), "MenuScreenController");
    EXPECT_EQ(*intParameter(*second, "_si"), *menuID + 1);

    // Back to the menu: the same screen, so the same instance id, reported again.
    (void)navigation->popViewControllerAnimated(false);
    settle();
    auto third = lastScreenView();
    EXPECT_EQ(intParameter(*third, "_si"), menuID);
    EXPECT_EQ(stringParameter(*third, "_pc"), "PictureScreenController");
    EXPECT_EQ(eventsNamed(*context->sink, "_vs").size(), 3u);

    // Other events get the current screen.
    auto parameters = reporter->screenParameters();
    ASSERT_TRUE(parameters.find("_si"));
    EXPECT_EQ(parameters.get("_si").objectAs<APMValue>()->int64Value(), *menuID);
    std::optional<std::string> name, className;
    reporter->getScreenName(&name, &className);
    EXPECT_FALSE(name);
    EXPECT_EQ(className, "MenuScreenController");
}

TEST_F(APMScreenViewReporterTest, InsideAnApplicationExtensionNothingIsTracked) {
    useInfo({}, "Widget.appex");
    becomeActive();
    showNavigation();
    // The window is there, but an extension has no application whose key window it could be.
    EXPECT_FALSE(APMShouldTrackViewController(menu));
    EXPECT_EQ(lastScreenView(), nullptr);
    navigation->pushViewController(std::make_shared<PictureScreenController>(), false);
    settle();
    EXPECT_EQ(lastScreenView(), nullptr);
    EXPECT_TRUE(APMScreenClassName::apmStack(*window).empty());
}

TEST_F(APMScreenViewReporterTest, TheTopControllerIsWhatTheContainersAndPresentationsShow) {
    showNavigation();
    auto picture = std::make_shared<PictureScreenController>();
    navigation->pushViewController(picture, false);
    settle();
    // The stack holds what appeared; the navigation controller leads to the picture.
    EXPECT_EQ(APMTopViewControllerInStack({navigation}), picture);
    EXPECT_EQ(APMTopViewControllerInStack(APMScreenClassName::apmStack(*window)), picture);
    EXPECT_TRUE(APMShouldTrackViewController(picture));

    auto sheet = std::make_shared<MenuScreenController>();
    picture->presentViewController(sheet, false, nullptr);
    settle();
    EXPECT_EQ(APMTopViewControllerInStack(APMScreenClassName::apmStack(*window)), sheet);
    EXPECT_EQ(stringParameter(*lastScreenView(), "_pc"), "PictureScreenController");

    (void)monitorSample(true);
    EXPECT_FALSE(APMTopViewControllerInStack({}));
    EXPECT_TRUE(sampled("Root view controller not found"));

    // A controller whose view is in no window is not tracked.
    auto loose = std::make_shared<MenuScreenController>();
    (void)loose->view();
    EXPECT_FALSE(APMShouldTrackViewController(loose));
}

TEST_F(APMScreenViewReporterTest, TabsLeadToTheSelectedTabAndSwitchingTabsIsAScreenChange) {
    becomeActive();
    // A navigation stack in the first tab, a plain screen in the second.
    menu = std::make_shared<MenuScreenController>();
    navigation = UINavigationController::initWithRootViewController(menu);
    auto picture = std::make_shared<PictureScreenController>();
    auto tabs = UITabBarController::make();
    tabs->setViewControllers({navigation, picture});
    window->setRootViewController(tabs);
    settle();
    EXPECT_EQ(APMTopViewControllerInStack({tabs}), menu);
    EXPECT_EQ(APMTopViewControllerInStack(APMScreenClassName::apmStack(*window)), menu);
    EXPECT_EQ(stringParameter(*lastScreenView(), "_sc"), "MenuScreenController");

    tabs->setSelectedIndex(1);
    settle();
    EXPECT_EQ(APMTopViewControllerInStack({tabs}), picture);
    auto switched = lastScreenView();
    EXPECT_EQ(stringParameter(*switched, "_sc"), "PictureScreenController");
    EXPECT_EQ(stringParameter(*switched, "_pc"), "MenuScreenController");

    // Back to the first tab, whose stack has grown meanwhile: the descent goes through both.
    auto sheet = std::make_shared<PictureScreenController>();
    navigation->pushViewController(sheet, false);
    tabs->setSelectedViewController(navigation);
    settle();
    EXPECT_EQ(APMTopViewControllerInStack({tabs}), sheet);
    auto back = lastScreenView();
    EXPECT_EQ(stringParameter(*back, "_sc"), "PictureScreenController");
    EXPECT_EQ(intParameter(*back, "_pi"), intParameter(*switched, "_si"));
    EXPECT_NE(intParameter(*back, "_si"), intParameter(*switched, "_si"));

    // A tab container without tabs leads nowhere.
    auto empty = UITabBarController::make();
    EXPECT_EQ(APMTopViewControllerInStack({empty}), empty);
}

TEST_F(APMScreenViewReporterTest, ClassNamesTrackingAndAssociatedObjectsFollowTheRules) {
    EXPECT_EQ(APMScreenClassNameForClass("Shop.CartViewController"), "CartViewController");
    EXPECT_EQ(APMScreenClassNameForClass("Shop."), "Shop.");
    EXPECT_EQ(APMScreenClassNameForClass("Plain"), "Plain");

    // A "_" class is tracked from the main bundle, not from a framework bundle of its own.
    auto sheet = std::make_shared<_PrivateSheetController>();
    window->setRootViewController(sheet);
    settle();
    EXPECT_TRUE(APMShouldTrackViewController(sheet));
    const std::string framework = Sandbox::tmp() + "/Kit.framework";
    std::filesystem::create_directories(framework);
    const std::string className = APMClassNameOfController(*sheet);
    NSBundle::setBundlePathForClass(className, framework);
    EXPECT_FALSE(APMShouldTrackViewController(sheet));
    NSBundle::setBundlePathForClass(className, "");

    // A foreign object under the screen key is dropped with a message.
    LogCapture log;
    sheet->setAssociatedValue(APMScreenAssociationKey(), Value(APMValue::initWithInt64(1)));
    EXPECT_FALSE(APMScreenClassName::apmScreen(*sheet));
    EXPECT_TRUE(log.contains("Found unknown associated object"));
    EXPECT_TRUE(sheet->associatedValue(APMScreenAssociationKey()).isNull());
}

TEST_F(APMScreenViewReporterTest, ALongClassIsTrimmedAndTracked) {
    class VeryLongNamedScreenControllerThatKeepsGoingOnAndOnPastEveryReasonableLimitOfLengthForAClassNameInAnyCodebaseAtAll
        : public UIViewController {};
    using Long =
        VeryLongNamedScreenControllerThatKeepsGoingOnAndOnPastEveryReasonableLimitOfLengthForAClassNameInAnyCodebaseAtAll;
    becomeActive();
    LogCapture log;
    window->setRootViewController(std::make_shared<Long>());
    settle();
    auto view = lastScreenView();
    ASSERT_TRUE(view);
    auto className = stringParameter(*view, "_sc");
    ASSERT_TRUE(className);
    EXPECT_EQ(className->size(), 100u);
    EXPECT_EQ(*className, std::string("VeryLongNamedScreenControllerThatKeepsGoingOnAndOnPastEveryReasonableLimitOfLengthForAClassNameInAny"));
    EXPECT_TRUE(log.contains("Trimmed name of default screen class"));
}

TEST_F(APMScreenViewReporterTest, ManualNamesReplaceTheScreenOnceAndDuplicatesAreIgnored) {
    becomeActive();
    LogCapture log;
    reporter->setScreenName("Before", std::nullopt);
    EXPECT_TRUE(log.contains("must be called after a view controller has appeared"));

    showNavigation();
    clearLogged();
    reporter->setScreenName("Menu", std::nullopt);
    auto named = lastScreenView();
    ASSERT_TRUE(named);
    EXPECT_EQ(stringParameter(*named, "_sn"), "Menu");
    EXPECT_EQ(stringParameter(*named, "_sc"), "MenuScreenController");
    EXPECT_EQ(stringParameter(*named, "_pc"), "MenuScreenController");

    reporter->setScreenName("Menu", std::nullopt);
    EXPECT_EQ(eventsNamed(*context->sink, "_vs").size(), 1u);
    EXPECT_TRUE(log.contains("Ignoring duplicate screen name and screen class"));

    reporter->setScreenName(std::string(101, 'x'), std::nullopt);
    EXPECT_TRUE(log.contains("Received invalid screen name"));
    EXPECT_EQ(eventsNamed(*context->sink, "_vs").size(), 1u);
    // The named screen wins the choice over the containers.
    EXPECT_EQ(APMTopViewControllerInStack(APMScreenClassName::apmStack(*window)), menu);
}

TEST_F(APMScreenViewReporterTest, ScreenViewEventsAreReportedAsTheApplicationsOwn) {
    // Before the first activation a screen view is accepted.
    reporter->trackScreenWithParameters({{"screen_name", Value("Intro")}, {"screen_class", Value("IntroScreen")},
                                         {"extra", Value(7)}},
                                        1234.5);
    auto view = lastScreenView();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->origin(), "app");
    EXPECT_DOUBLE_EQ(view->timestamp(), 1234.5);
    EXPECT_EQ(stringParameter(*view, "_sn"), "Intro");
    EXPECT_EQ(stringParameter(*view, "_sc"), "IntroScreen");
    EXPECT_FALSE(view->parameters().find("screen_name"));
    EXPECT_TRUE(view->parameters().find("extra"));

    // Without a class on the main thread: the key window's root controller.
    showNavigation();
    reporter->trackScreenWithParameters({{"screen_name", Value("Second")}}, Clock::now());
    EXPECT_EQ(stringParameter(*lastScreenView(), "_sc"), "UINavigationController");

    becomeActive();
    UIApplication::sharedApplication()->enterBackground();
    settle();
    LogCapture log;
    const auto before = eventsNamed(*context->sink, "_vs").size();
    reporter->trackScreenWithParameters({{"screen_name", Value("Hidden")}}, Clock::now());
    EXPECT_EQ(eventsNamed(*context->sink, "_vs").size(), before);
    EXPECT_TRUE(log.contains("Cannot log screen view event when the app is not active"));
}

TEST_F(APMScreenViewReporterTest, AScreenChangedInTheBackgroundIsReportedAtActivationOnly) {
    becomeActive();
    showNavigation();
    EXPECT_TRUE(isKindOf<NSObject>(reporter));
    EXPECT_TRUE(APMIsAppActive());
    UIApplication::sharedApplication()->enterBackground();
    settle();
    EXPECT_FALSE(APMIsAppActive());
    clearLogged();
    // Back to the same screen: nothing new.
    becomeActive();
    EXPECT_TRUE(eventsNamed(*context->sink, "_vs").empty());

    UIApplication::sharedApplication()->enterBackground();
    settle();
    navigation->pushViewController(std::make_shared<PictureScreenController>(), false);
    settle();
    EXPECT_TRUE(eventsNamed(*context->sink, "_vs").empty());
    // In the background other events get no screen.
    EXPECT_TRUE(reporter->screenParameters().empty());
    becomeActive();
    auto views = eventsNamed(*context->sink, "_vs");
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(stringParameter(*views[0], "_sc"), "PictureScreenController");
    EXPECT_EQ(stringParameter(*views[0], "_pc"), "MenuScreenController");
}

TEST_F(APMScreenViewReporterTest, WithReportingSwitchedOffOnlyScreenViewEventsAreReported) {
    APMScreenViewReporter::resetSharedInstance();
    useInfo({{"RezaviviScreenReportingEnabled", Value(false)}});
    EXPECT_FALSE(APMIsScreenReportingEnabled());
    reporter = APMScreenViewReporter::sharedInstance();
    reporter->setEventSink(context->sink);
    LogCapture log;
    APMScreenViewReporter::installHooks();
    becomeActive();
    showNavigation();
    EXPECT_TRUE(eventsNamed(*context->sink, "_vs").empty());
    reporter->setScreenName("Menu", std::nullopt);
    EXPECT_TRUE(log.contains("Ignoring call to setScreenName:screenClass:. Screen reporting is disabled."));
    EXPECT_TRUE(log.contains("I-ACS036001"));

    reporter->trackScreenWithParameters({{"screen_name", Value("Manual")}}, Clock::now());
    auto view = lastScreenView();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->origin(), "app");
    EXPECT_EQ(intParameter(*view, "_mst"), 1);
}

TEST_F(APMScreenViewReporterTest, TheSwitchReadsEitherKeyAndOnlyNumbersTurnItOff) {
    useInfo({{"RezaviviScreenReportingEnabled", Value("NO")}});
    EXPECT_TRUE(APMIsScreenReportingEnabled());
    useInfo({{"RezaviviAutomaticScreenReportingEnabled", Value(0)}});
    EXPECT_FALSE(APMIsScreenReportingEnabled());
    useInfo({{"RezaviviScreenReportingEnabled", Value(1)}, {"RezaviviAutomaticScreenReportingEnabled", Value(0)}});
    EXPECT_TRUE(APMIsScreenReportingEnabled());
}

TEST_F(APMScreenViewReporterTest, AnEmptiedSlotOrAnOlderLibraryLeavesControllersUnhooked) {
    APMScreenViewReporter::resetSharedInstance();
    reporter = APMScreenViewReporter::sharedInstance();
    reporter->setEventSink(context->sink);
    UIViewController::setAppearanceImplementation(UIViewControllerAppearanceHook::DidDisappear, nullptr);
    LogCapture log;
    APMScreenViewReporter::installHooks();
    EXPECT_TRUE(log.contains("I-ACS036004"));
    becomeActive();
    showNavigation();
    EXPECT_TRUE(eventsNamed(*context->sink, "_vs").empty());
    UIViewController::resetAppearanceImplementations();

    APMScreenViewReporter::resetSharedInstance();
    reporter = APMScreenViewReporter::sharedInstance();
    ClassRegistry::registerClass("DARODatabase", [] { return std::make_shared<NSObject>(); });
    APMScreenViewReporter::installHooks();
    ClassRegistry::unregisterClass("DARODatabase");
    EXPECT_TRUE(log.contains("I-ACS036005"));
}

class RecordingDelegate : public APMScreenViewReporterDelegate {
public:
    void viewControllerDidAppear(const std::shared_ptr<UIViewController>&, bool tracked) override {
        appeared.push_back(tracked);
    }
    void viewControllerDidDisappear(const std::shared_ptr<UIViewController>&) override { ++disappeared; }
    bool respondsToAppearanceCallbacks() const override { return compatible; }
    std::vector<bool> appeared;
    int disappeared = 0;
    bool compatible = true;
};

TEST_F(APMScreenViewReporterTest, ThePerformanceDelegateIsToldOfEveryAppearanceAndKeptOnce) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto other = std::make_shared<RecordingDelegate>();
    auto old = std::make_shared<RecordingDelegate>();
    old->compatible = false;
    LogCapture log;
    reporter->setRezaviviPerfDelegate(old);
    EXPECT_FALSE(reporter->rezaviviPerfDelegate());
    EXPECT_TRUE(log.contains("Incompatible versions"));
    reporter->setRezaviviPerfDelegate(delegate);
    reporter->setRezaviviPerfDelegate(other);
    EXPECT_EQ(reporter->rezaviviPerfDelegate(), delegate);
    EXPECT_TRUE(log.contains("Tried to override screen reporter delegate"));

    showNavigation();
    navigation->pushViewController(std::make_shared<PictureScreenController>(), false);
    settle();
    EXPECT_GE(delegate->appeared.size(), 2u);
    EXPECT_GE(delegate->disappeared, 1);
    EXPECT_TRUE(other->appeared.empty());
    reporter->setRezaviviPerfDelegate(nullptr);
    EXPECT_FALSE(reporter->rezaviviPerfDelegate());
}

TEST_F(APMScreenViewReporterTest, LoadingTheControllersExtensionHooksThemOnce) {
    APMScreenViewReporter::resetSharedInstance();
    reporter = APMScreenViewReporter::sharedInstance();
    auto delegate = std::make_shared<RecordingDelegate>();
    reporter->setRezaviviPerfDelegate(delegate);
    APMScreenClassName::load();
    APMScreenClassName::load();
    window->setRootViewController(std::make_shared<MenuScreenController>());
    settle();
    EXPECT_EQ(delegate->appeared.size(), 1u);
}

TEST(APMScreenViewReporterCounterTest, InstanceIdsWrapAroundAtTheEndOfTheRange) {
    auto reporter = std::make_shared<APMScreenViewReporter>(std::numeric_limits<std::int64_t>::max() - 1);
    EXPECT_EQ(reporter->incrementScreenInstanceID(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(reporter->incrementScreenInstanceID(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(reporter->incrementScreenInstanceID(), std::numeric_limits<std::int64_t>::min() + 1);
}

}  // namespace
