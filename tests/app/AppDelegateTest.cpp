// The launch through the platform: the delegate found by its registered name, the analytics
// core configured, the product's two groupings, the shell in a key window; and the five
// life-cycle changes forwarded to the engine.
#include "app/AppDelegate.h"

#include "engine/OEMainMenu.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"
#include "tests/engine/DemoLaunchFixture.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OESideMenuContainerViewController.h"
#include "uikit/RemindManager.h"

namespace {

class ApplicationLaunch : public DemoLaunchFixture {
protected:
    void SetUp() override { makeBundle(DemoDatabases::All); }
    void TearDown() override {
        ClassRegistry::unregisterClass("AppDelegate");
        DemoLaunchFixture::TearDown();
    }
};

}  // namespace

TEST_F(ApplicationLaunch, TheRegisteredDelegateStartsTheCoreTheEngineAndTheShell) {
    ClassRegistry::unregisterClass("AppDelegate");
    EXPECT_FALSE(UIApplication::sharedApplication()->launch("AppDelegate"));
    AppDelegate::registerClass();
    ASSERT_TRUE(ClassRegistry::isRegistered("AppDelegate"));
    auto app = UIApplication::sharedApplication();
    app->reset();
    ASSERT_TRUE(app->launch("AppDelegate"));

    EXPECT_TRUE(RURAdi::isDefaultAppConfigured());
    auto engine = OECore::instance();
    ASSERT_TRUE(engine->isInitialized());
    const auto& groupings = engine->config()->images()->imagesCategories();
    ASSERT_EQ(groupings.size(), 2u);
    EXPECT_EQ(groupings[0]->identifer(), "subCat");
    EXPECT_EQ(groupings[0]->title(), OECoreString("By Janre"));
    EXPECT_EQ(groupings[1]->identifer(), "subCat2");
    EXPECT_EQ(groupings[1]->title(), OECoreString("By Name"));
    EXPECT_EQ(engine->config()->database()->articlesDBName(), "articles.sqlite");

    auto delegate = std::dynamic_pointer_cast<AppDelegate>(app->delegateObject());
    ASSERT_NE(delegate, nullptr);
    auto window = delegate->window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(app->keyWindow(), window);
    EXPECT_EQ(window->frame(), UIScreen::mainScreen()->bounds());
    auto shell = std::dynamic_pointer_cast<OESideMenuContainerViewController>(window->rootViewController());
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(engine->viewController(), shell);
    EXPECT_NE(std::dynamic_pointer_cast<OEMainMenu>(shell->leftMenuViewController()), nullptr);
    EXPECT_NE(shell->centerViewController(), nullptr);
}

TEST_F(ApplicationLaunch, TheLifeCycleReachesTheEngine) {
    AppDelegate::registerClass();
    auto app = UIApplication::sharedApplication();
    ASSERT_TRUE(app->launch("AppDelegate"));
    Clock::setManual(4'000'000.0);
    auto reminder = TimeReminder::initWithInterval(10'000, "AppCycleProbe", [] {});
    RemindManager::sharedRemindManager()->add(reminder);
    int counted = 0;
    LaunchReminderManager::instance()->registerReminder(LaunchReminder::initWithIdentifer("AppCycle", 1, [&] { ++counted; }));

    Clock::advance(15);
    EXPECT_TRUE(app->enterBackground());  // resigns active first
    EXPECT_FALSE(reminder->isTicking());
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->doubleForKey("AppCycleProbe"), 15);
    EXPECT_TRUE(app->enterForeground());  // counted, then active again
    EXPECT_EQ(counted, 1);
    EXPECT_TRUE(reminder->isTicking());
    Clock::advance(5);
    app->terminate();
    EXPECT_FALSE(reminder->isTicking());
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->doubleForKey("AppCycleProbe"), 20);

    RemindManager::sharedRemindManager()->remove(reminder);
    Clock::setReal();
}
