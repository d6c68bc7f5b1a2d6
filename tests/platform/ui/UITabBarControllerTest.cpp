// Tabs: only the selected tab shows its view and gets the appearance callbacks, switching
// tabs hands them over, selection by index or controller refuses what is not a tab, and
// replacing the tabs keeps the selection where it can.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UITabBarController.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIWindow.h"
#include "tests/platform/ui/JournaledController.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> tabJournal;

class Tab : public JournaledController {
public:
    explicit Tab(std::string name) : JournaledController(std::move(name), tabJournal) {}
};

class TabBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(10);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        tabJournal.clear();
    }
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }
    // Three tabs in a key window.
    void showTabs() {
        tabs->setViewControllers({a, b, c});
        window = UIWindow::make();
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
    }
    static bool inWindow(const std::shared_ptr<UIViewController>& controller) {
        auto view = controller->viewIfLoaded();
        return view && view->window();
    }

    std::shared_ptr<Tab> a = std::make_shared<Tab>("A");
    std::shared_ptr<Tab> b = std::make_shared<Tab>("B");
    std::shared_ptr<Tab> c = std::make_shared<Tab>("C");
    std::shared_ptr<UITabBarController> tabs = UITabBarController::make();
    std::shared_ptr<UIWindow> window;
};

}  // namespace

TEST_F(TabBarTest, OnlyTheSelectedTabAppearsAndSwitchingHandsTheCallbacksOver) {
    EXPECT_FALSE(tabs->selectedViewController());
    EXPECT_EQ(tabs->selectedIndex(), NSNotFound);
    showTabs();
    EXPECT_EQ(tabs->viewControllers(), (std::vector<std::shared_ptr<UIViewController>>{a, b, c}));
    EXPECT_EQ(a->parentViewController(), tabs);
    EXPECT_EQ(c->parentViewController(), tabs);
    EXPECT_EQ(tabs->selectedViewController(), a);
    EXPECT_EQ(tabs->selectedIndex(), 0u);
    EXPECT_EQ(tabJournal, (std::vector<std::string>{"A.willAppear", "A.didAppear"}));
    EXPECT_TRUE(inWindow(a));
    EXPECT_FALSE(b->isViewLoaded());

    tabJournal.clear();
    tabs->setSelectedIndex(2);
    EXPECT_EQ(tabs->selectedViewController(), c);
    EXPECT_EQ(tabJournal, (std::vector<std::string>{"A.willDisappear", "C.willAppear", "A.didDisappear", "C.didAppear"}));
    EXPECT_FALSE(inWindow(a));
    EXPECT_TRUE(inWindow(c));
    EXPECT_EQ(c->view()->frame(), tabs->view()->bounds());

    tabJournal.clear();
    tabs->setSelectedViewController(b);
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_EQ(tabJournal, (std::vector<std::string>{"C.willDisappear", "B.willAppear", "C.didDisappear", "B.didAppear"}));

    // The tab already selected, an index past the end and a stranger change nothing.
    tabJournal.clear();
    tabs->setSelectedIndex(1);
    tabs->setSelectedIndex(3);
    tabs->setSelectedViewController(std::make_shared<Tab>("D"));
    tabs->setSelectedViewController(nullptr);
    EXPECT_EQ(tabs->selectedViewController(), b);
    EXPECT_TRUE(tabJournal.empty());
}

TEST_F(TabBarTest, ReplacingTheTabsKeepsTheSelectionOrFallsBackToTheFirst) {
    showTabs();
    tabs->setSelectedIndex(1);
    tabJournal.clear();
    // B stays selected and on screen; A leaves, D arrives unseen; duplicates and empties go.
    auto d = std::make_shared<Tab>("D");
    tabs->setViewControllers({d, b, nullptr, d, c});
    EXPECT_EQ(tabs->viewControllers(), (std::vector<std::shared_ptr<UIViewController>>{d, b, c}));
    EXPECT_EQ(tabs->selectedViewController(), b);
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_FALSE(a->parentViewController());
    EXPECT_EQ(d->parentViewController(), tabs);
    EXPECT_TRUE(tabJournal.empty());

    // The selected tab goes: it disappears and the first tab appears.
    tabs->setViewControllers({c, d});
    EXPECT_EQ(tabs->selectedViewController(), c);
    EXPECT_EQ(tabJournal, (std::vector<std::string>{"B.willDisappear", "B.didDisappear", "C.willAppear", "C.didAppear"}));
    EXPECT_FALSE(inWindow(b));
    EXPECT_TRUE(inWindow(c));

    tabJournal.clear();
    tabs->setViewControllers({});
    EXPECT_FALSE(tabs->selectedViewController());
    EXPECT_EQ(tabs->selectedIndex(), NSNotFound);
    EXPECT_EQ(tabJournal, (std::vector<std::string>{"C.willDisappear", "C.didDisappear"}));
}

TEST_F(TabBarTest, TabsChosenBeforeTheViewLoadsAppearWithTheContainer) {
    tabs->setViewControllers({a, b});
    tabs->setSelectedIndex(1);
    EXPECT_FALSE(tabs->isViewLoaded());
    EXPECT_TRUE(tabJournal.empty());
    window = UIWindow::make();
    window->setRootViewController(tabs);
    window->makeKeyAndVisible();
    EXPECT_EQ(tabJournal, (std::vector<std::string>{"B.willAppear", "B.didAppear"}));
    EXPECT_TRUE(inWindow(b));
    EXPECT_FALSE(a->isViewLoaded());
}
