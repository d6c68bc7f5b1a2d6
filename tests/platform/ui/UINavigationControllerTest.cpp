// Navigation stacks: the appearance order of push and pop (animated ones finishing on the
// clock), parent bookkeeping, the back button and pop-to-root.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIWindow.h"
#include "tests/platform/ui/JournaledController.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> journal;

class Page : public JournaledController {
public:
    explicit Page(std::string name) : JournaledController(std::move(name), journal) { setTitle(this->name()); }
};

class NavigationTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(10);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        journal.clear();
    }
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }
};

}  // namespace

TEST_F(NavigationTest, PushAndPopFollowThePlatformOrderAndKeepTheStack) {
    auto a = std::make_shared<Page>("A");
    auto b = std::make_shared<Page>("B");
    auto nav = UINavigationController::initWithRootViewController(a);
    auto window = UIWindow::make();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    EXPECT_EQ(journal, (std::vector<std::string>{"A.willAppear", "A.didAppear"}));
    EXPECT_EQ(a->navigationController(), nav);
    EXPECT_FALSE(nav->showsBackButton());
    // The content sits under the status strip and the bar.
    EXPECT_EQ(a->view()->frame(), CGRectMake(0, 64, 375, 603));

    journal.clear();
    nav->pushViewController(b, true);
    EXPECT_EQ(journal, (std::vector<std::string>{"A.willDisappear", "B.willAppear"}));
    Clock::advance(UIViewController::transitionDuration());
    EXPECT_EQ(journal, (std::vector<std::string>{"A.willDisappear", "B.willAppear", "A.didDisappear", "B.didAppear"}));
    EXPECT_EQ(nav->topViewController(), b);
    EXPECT_EQ(b->parentViewController(), nav);
    EXPECT_EQ(a->view()->superview(), nullptr);
    EXPECT_TRUE(nav->showsBackButton());
    EXPECT_EQ(nav->backButtonTitle(), "A");
    // A title changed while the screen is shown reaches the bar with the next pass; the screen
    // below no longer drives it.
    b->setTitle("B2");
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(nav->navigationBar()->titleLabel()->text(), "B2");
    nav->pushViewController(b, false);  // already on the stack: refused
    EXPECT_EQ(nav->viewControllers().size(), 2u);

    journal.clear();
    EXPECT_EQ(nav->popViewControllerAnimated(false), b);
    EXPECT_EQ(journal, (std::vector<std::string>{"B.willDisappear", "A.willAppear", "B.didDisappear", "A.didAppear"}));
    EXPECT_EQ(b->parentViewController(), nullptr);
    EXPECT_EQ(nav->popViewControllerAnimated(false), nullptr);
}

TEST_F(NavigationTest, PopToRootTakesTheWholeStackAndOnlyTheTopAppearsOrDisappears) {
    auto a = std::make_shared<Page>("A");
    auto b = std::make_shared<Page>("B");
    auto c = std::make_shared<Page>("C");
    auto nav = UINavigationController::initWithRootViewController(a);
    auto window = UIWindow::make();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    nav->setViewControllers({a, b, c}, false);
    journal.clear();
    c->navigationItem()->setHidesBackButton(true);
    EXPECT_FALSE(nav->showsBackButton());
    const auto popped = nav->popToRootViewControllerAnimated(false);
    EXPECT_EQ(popped, (std::vector<std::shared_ptr<UIViewController>>{b, c}));
    EXPECT_EQ(journal, (std::vector<std::string>{"C.willDisappear", "A.willAppear", "C.didDisappear", "A.didAppear"}));
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(NavigationTest, AScreenExtendedUnderTheBarsFillsTheWindowWhileTheBarsAreTranslucent) {
    auto a = std::make_shared<Page>("A");
    a->setEdgesForExtendedLayout(UIRectEdgeAll);
    auto nav = UINavigationController::initWithRootViewController(a);
    nav->setToolbarHidden(false);
    auto window = UIWindow::make();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    EXPECT_EQ(a->view()->frame(), CGRectMake(0, 0, 375, 667));
    // Hiding the bars changes nothing for it.
    nav->setNavigationBarHidden(true);
    nav->setToolbarHidden(true);
    EXPECT_EQ(a->view()->frame(), CGRectMake(0, 0, 375, 667));
    // Opaque bars keep it between them.
    nav->navigationBar()->setTranslucent(false);
    nav->toolbar()->setTranslucent(false);
    nav->setNavigationBarHidden(false);
    nav->setToolbarHidden(false);
    EXPECT_EQ(a->view()->frame(), CGRectMake(0, 64, 375, 667 - 64 - 44));
}

TEST_F(NavigationTest, ALongTitleIsCutBetweenTheBarButtonsNeverOverTheBackButton) {
    auto a = std::make_shared<Page>("Portraits");
    auto b = std::make_shared<Page>("Hans Holbein the Younger, The Ambassadors and other portraits");
    auto nav = UINavigationController::initWithRootViewController(a);
    auto window = UIWindow::make();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    nav->pushViewController(b, false);
    b->navigationItem()->setRightBarButtonItem(UIBarButtonItem::initWithTitle("Share", UIBarButtonItemStylePlain, nullptr, {}));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    auto bar = nav->navigationBar();
    bar->layoutIfNeeded();
    const CGRect back = bar->backButtonFrame();
    ASSERT_FALSE(CGRectIsEmpty(back));
    const CGRect title = bar->titleLabel()->frame();
    EXPECT_GE(title.origin.x, CGRectGetMaxX(back) + UINavigationBar::kItemInset);
    const CGFloat shareLeft = CGRectGetMaxX(bar->bounds()) - UINavigationBar::kItemInset -
                              UIToolbar::naturalWidth(*b->navigationItem()->rightBarButtonItem());
    EXPECT_LE(CGRectGetMaxX(title), shareLeft);
    const auto lines = bar->titleLabel()->visibleLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Hans Holbein", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - 3), "\u2026") << lines[0];

    // A short title stays in the middle of the bar.
    b->setTitle("Holbein");
    NSRunLoop::mainRunLoop()->runUntilIdle();
    bar->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(CGRectGetMidX(bar->titleLabel()->frame()), CGRectGetMidX(bar->bounds()));
    EXPECT_EQ(bar->titleLabel()->visibleLines(), std::vector<std::string>{"Holbein"});
    // Without a back button (a left item in its place) the room starts after that item.
    b->setTitle("Hans Holbein the Younger, The Ambassadors and other portraits");
    b->navigationItem()->setLeftBarButtonItem(UIBarButtonItem::initWithTitle("Done", UIBarButtonItemStylePlain, nullptr, {}));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    bar->layoutIfNeeded();
    EXPECT_TRUE(CGRectIsEmpty(bar->backButtonFrame()));
    EXPECT_GE(bar->titleLabel()->frame().origin.x,
              UINavigationBar::kItemInset * 2 + UIToolbar::naturalWidth(*b->navigationItem()->leftBarButtonItems()[0]));
}
