// View controllers: lazy loading and the order of appearance callbacks through windows,
// presentation, dismissal and containment, with animated transitions finishing on the clock.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "tests/platform/ui/JournaledController.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> journal;

class Screen : public JournaledController {
public:
    explicit Screen(std::string name) : JournaledController(std::move(name), journal) {}
    static std::shared_ptr<Screen> named(const std::string& name) { return std::make_shared<Screen>(name); }
    void viewDidLoad() override { note("load"); }
    void willMoveToParentViewController(const std::shared_ptr<UIViewController>& p) override {
        UIViewController::willMoveToParentViewController(p);
        note(p ? "willMoveTo" : "willMoveToNil");
    }
    void didMoveToParentViewController(const std::shared_ptr<UIViewController>& p) override {
        UIViewController::didMoveToParentViewController(p);
        note(p ? "didMoveTo" : "didMoveToNil");
    }
};

class ViewControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(1000);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        UIViewController::resetAppearanceImplementations();
        journal.clear();
    }
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIViewController::resetAppearanceImplementations();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }
    std::shared_ptr<UIWindow> showRoot(const std::shared_ptr<UIViewController>& root) {
        auto window = UIWindow::make();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        return window;
    }
};

}  // namespace

TEST_F(ViewControllerTest, ViewLoadsOnceOnFirstAccessAndAnswersItsController) {
    auto a = Screen::named("A");
    EXPECT_FALSE(a->isViewLoaded());
    auto v = a->view();
    EXPECT_TRUE(a->isViewLoaded());
    EXPECT_EQ(a->view(), v);
    EXPECT_EQ(journal, std::vector<std::string>{"A.load"});
    EXPECT_EQ(v->nextResponder(), a);
    EXPECT_EQ(v->frame(), CGRectMake(0, 0, 375, 667));
}

TEST_F(ViewControllerTest, WindowRootAppearsWhenShownAndReplacedRootDisappearsFirst) {
    auto a = Screen::named("A");
    auto b = Screen::named("B");
    auto window = showRoot(a);
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_EQ(UIApplication::sharedApplication()->keyWindow(), window);
    EXPECT_EQ(a->view()->window(), window);
    window->setRootViewController(b);
    EXPECT_EQ(journal, (std::vector<std::string>{"A.load", "A.willAppear", "A.didAppear", "A.willDisappear",
                                                 "A.didDisappear", "B.load", "B.willAppear", "B.didAppear"}));
    EXPECT_EQ(a->view()->window(), nullptr);
}

TEST_F(ViewControllerTest, AnimatedFullScreenPresentAndDismissFollowThePlatformOrderOnTheClock) {
    auto a = Screen::named("A");
    auto b = Screen::named("B");
    auto window = showRoot(a);
    journal.clear();
    bool presented = false;
    a->presentViewController(b, true, [&] { presented = true; });
    EXPECT_EQ(journal, (std::vector<std::string>{"B.load", "A.willDisappear", "B.willAppear"}));
    EXPECT_TRUE(b->isBeingPresented());
    Clock::advance(0.3);
    EXPECT_EQ(journal.size(), 3u);
    Clock::advance(0.1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(journal, (std::vector<std::string>{"B.load", "A.willDisappear", "B.willAppear", "B.didAppear",
                                                 "A.didDisappear"}));
    EXPECT_TRUE(presented);
    EXPECT_EQ(a->presentedViewController(), b);
    EXPECT_EQ(b->presentingViewController(), a);
    EXPECT_EQ(b->view()->window(), window);
    EXPECT_EQ(a->view()->window(), nullptr);  // covered screens leave the window

    journal.clear();
    bool dismissed = false;
    b->dismissViewControllerAnimated(true, [&] { dismissed = true; });
    EXPECT_EQ(journal, (std::vector<std::string>{"B.willDisappear", "A.willAppear"}));
    Clock::advance(0.35);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(journal, (std::vector<std::string>{"B.willDisappear", "A.willAppear", "A.didAppear", "B.didDisappear"}));
    EXPECT_TRUE(dismissed);
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(b->presentingViewController(), nullptr);
    EXPECT_EQ(a->view()->window(), window);
    EXPECT_EQ(b->view()->superview(), nullptr);
}

TEST_F(ViewControllerTest, SheetLeavesPresenterVisibleAndSecondPresentationIsRefused) {
    auto a = Screen::named("A");
    auto b = Screen::named("B");
    auto c = Screen::named("C");
    b->setModalPresentationStyle(UIModalPresentationStyle::PageSheet);
    auto window = showRoot(a);
    journal.clear();
    bool completion = false;
    a->presentViewController(b, false, nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"B.load", "B.willAppear", "B.didAppear"}));
    a->presentViewController(c, false, [&] { completion = true; });
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(completion);
    EXPECT_EQ(c->presentingViewController(), nullptr);
    EXPECT_EQ(a->view()->window(), window);
    // Dismissing from the presenter takes the presented screen away.
    a->dismissViewControllerAnimated(false, nullptr);
    EXPECT_EQ(journal.back(), "B.didDisappear");
    EXPECT_EQ(a->presentedViewController(), nullptr);
}

TEST_F(ViewControllerTest, OnlyTheContextStylesStopAtAChildThatDefinesTheContext) {
    auto parent = Screen::named("P");
    auto child = Screen::named("C");
    auto window = showRoot(parent);
    parent->addChildViewController(child);
    parent->view()->addSubview(child->view());
    child->didMoveToParentViewController(parent);
    child->setDefinesPresentationContext(true);

    auto full = Screen::named("F");
    child->presentViewController(full, false, nullptr);
    EXPECT_EQ(full->presentingViewController(), parent);
    EXPECT_EQ(child->presentedViewController(), nullptr);
    parent->dismissViewControllerAnimated(false, nullptr);

    auto over = Screen::named("O");
    over->setModalPresentationStyle(UIModalPresentationStyle::OverCurrentContext);
    child->presentViewController(over, false, nullptr);
    EXPECT_EQ(over->presentingViewController(), child);
    EXPECT_EQ(parent->presentedViewController(), nullptr);
    child->dismissViewControllerAnimated(false, nullptr);
}

TEST_F(ViewControllerTest, ContainmentForwardsAppearanceToChildrenAndRemovalMakesThemDisappear) {
    auto parent = Screen::named("P");
    auto child = Screen::named("C");
    auto window = showRoot(parent);
    journal.clear();
    parent->addChildViewController(child);
    parent->view()->addSubview(child->view());
    child->didMoveToParentViewController(parent);
    EXPECT_EQ(journal, (std::vector<std::string>{"C.willMoveTo", "C.load", "C.willAppear", "C.didAppear", "C.didMoveTo"}));
    EXPECT_EQ(child->parentViewController(), parent);
    EXPECT_EQ(parent->childViewControllers().size(), 1u);

    journal.clear();
    window->setHidden(true);
    EXPECT_EQ(journal, (std::vector<std::string>{"P.willDisappear", "C.willDisappear", "P.didDisappear", "C.didDisappear"}));
    window->setHidden(false);
    journal.clear();
    child->willMoveToParentViewController(nullptr);
    child->view()->removeFromSuperview();
    child->removeFromParentViewController();
    EXPECT_EQ(journal, (std::vector<std::string>{"C.willMoveToNil", "C.willDisappear", "C.didDisappear", "C.didMoveToNil"}));
    EXPECT_EQ(child->parentViewController(), nullptr);
    EXPECT_TRUE(parent->childViewControllers().empty());
}

TEST_F(ViewControllerTest, AppearanceSlotsCanBeReplacedChainedAndEmptied) {
    std::vector<std::string> reported;
    auto original = UIViewController::appearanceImplementation(UIViewControllerAppearanceHook::DidAppear);
    ASSERT_TRUE(original);
    UIViewController::setAppearanceImplementation(UIViewControllerAppearanceHook::DidAppear,
                                                  [original, &reported](UIViewController& vc, bool animated) {
                                                      original(vc, animated);
                                                      reported.push_back(vc.className());
                                                  });
    auto a = Screen::named("A");
    auto window = showRoot(a);
    EXPECT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("Screen"), std::string::npos);
    // The subclass's own work still runs after the base's.
    EXPECT_EQ(journal.back(), "A.didAppear");
    UIViewController::setAppearanceImplementation(UIViewControllerAppearanceHook::DidAppear, nullptr);
    EXPECT_FALSE(UIViewController::appearanceImplementation(UIViewControllerAppearanceHook::DidAppear));
    window->setRootViewController(Screen::named("B"));
    EXPECT_EQ(reported.size(), 1u);
}
