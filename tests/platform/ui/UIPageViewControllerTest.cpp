// The pager: swipes asking the data source for neighbours, completed and abandoned turns
// telling the delegate, pans turning pages, and setting a page directly.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIPageViewController.h"
#include "platform/ui/UIWindow.h"

#include <gtest/gtest.h>

namespace {

class Numbered : public UIViewController {
public:
    explicit Numbered(int n) : number(n) {}
    const int number;
};

class Book : public NSObject, public UIPageViewControllerDataSource, public UIPageViewControllerDelegate {
public:
    int pages = 3;
    std::vector<std::string> events;
    std::shared_ptr<UIViewController> pageViewControllerViewControllerBeforeViewController(
        UIPageViewController&, const std::shared_ptr<UIViewController>& page) override {
        const int n = std::static_pointer_cast<Numbered>(page)->number;
        return n > 0 ? std::make_shared<Numbered>(n - 1) : nullptr;
    }
    std::shared_ptr<UIViewController> pageViewControllerViewControllerAfterViewController(
        UIPageViewController&, const std::shared_ptr<UIViewController>& page) override {
        const int n = std::static_pointer_cast<Numbered>(page)->number;
        return n + 1 < pages ? std::make_shared<Numbered>(n + 1) : nullptr;
    }
    void pageViewControllerWillTransitionToViewControllers(
        UIPageViewController&, const std::vector<std::shared_ptr<UIViewController>>& pending) override {
        events.push_back("will " + std::to_string(std::static_pointer_cast<Numbered>(pending[0])->number));
    }
    void pageViewControllerDidFinishAnimatingPreviousViewControllersTransitionCompleted(
        UIPageViewController& pager, bool finished, const std::vector<std::shared_ptr<UIViewController>>&,
        bool completed) override {
        events.push_back(std::string("did ") + (finished ? "finished " : "") + (completed ? "completed " : "") +
                         std::to_string(std::static_pointer_cast<Numbered>(pager.viewControllers()[0])->number));
    }
};

class PagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(10);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        pager = UIPageViewController::initWithTransitionStyle(
            UIPageViewControllerTransitionStyle::Scroll, UIPageViewControllerNavigationOrientation::Horizontal,
            {{UIPageViewControllerOptionInterPageSpacingKey, Value(20.0)}});
        pager->setDataSource(book);
        pager->setDelegate(book);
        window = UIWindow::make();
        window->setRootViewController(pager);
        window->makeKeyAndVisible();
        pager->setViewControllers({std::make_shared<Numbered>(0)}, UIPageViewControllerNavigationDirection::Forward,
                                  false, nullptr);
    }
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }
    int current() const { return std::static_pointer_cast<Numbered>(pager->viewControllers()[0])->number; }
    std::shared_ptr<Book> book = std::make_shared<Book>();
    std::shared_ptr<UIPageViewController> pager;
    std::shared_ptr<UIWindow> window;
};

}  // namespace

TEST_F(PagerTest, SwipesTurnPagesUntilTheDataSourceHasNoMore) {
    EXPECT_EQ(pager->interPageSpacing(), 20);
    EXPECT_FALSE(pager->swipe(false));  // nothing before the first page
    ASSERT_TRUE(pager->swipe(true));
    EXPECT_FALSE(pager->swipe(true));   // one turn at a time
    Clock::advance(UIPageViewController::turnDuration());
    EXPECT_EQ(current(), 1);
    EXPECT_TRUE(pager->viewControllers()[0]->hasAppeared());
    EXPECT_EQ(pager->childViewControllers().size(), 1u);
    ASSERT_TRUE(pager->swipe(true));
    Clock::advance(1);
    EXPECT_FALSE(pager->swipe(true));
    EXPECT_EQ(current(), 2);
    EXPECT_EQ(book->events, (std::vector<std::string>{"will 1", "did finished completed 1", "will 2",
                                                      "did finished completed 2"}));
}

TEST_F(PagerTest, AnAbandonedTurnKeepsThePageAndSaysNotCompleted) {
    auto first = pager->viewControllers()[0];
    ASSERT_TRUE(pager->swipe(true, false));
    Clock::advance(1);
    EXPECT_EQ(pager->viewControllers()[0], first);
    EXPECT_TRUE(first->hasAppeared());
    EXPECT_EQ(book->events, (std::vector<std::string>{"will 1", "did finished 0"}));
}

TEST_F(PagerTest, APanAcrossTheViewTurnsThePage) {
    window->pan({300, 300}, -200, 0, 800);
    Clock::advance(1);
    EXPECT_EQ(current(), 1);
    window->pan({100, 300}, 200, 0, 800);
    Clock::advance(1);
    EXPECT_EQ(current(), 0);
}
