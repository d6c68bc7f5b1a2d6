// Scroll views: a person's scroll with paging and the delegate calls in order, zooming the
// delegate's view, the animated offset's end on the clock, and the scroll view's own pan
// competing with a pan and a double tap of the views around it.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UIWindow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Watcher : public UIScrollViewDelegate {
public:
    std::vector<std::string> calls;
    std::shared_ptr<UIView> zoomView;
    void scrollViewDidScroll(const std::shared_ptr<UIScrollView>& s) override {
        calls.push_back("scroll " + std::to_string(static_cast<int>(s->contentOffset().x)));
    }
    void scrollViewWillBeginDragging(const std::shared_ptr<UIScrollView>&) override { calls.push_back("beginDrag"); }
    void scrollViewDidEndDragging(const std::shared_ptr<UIScrollView>&, bool d) override {
        calls.push_back(d ? "endDrag decelerate" : "endDrag");
    }
    void scrollViewDidEndDecelerating(const std::shared_ptr<UIScrollView>&) override { calls.push_back("endDecel"); }
    void scrollViewDidEndScrollingAnimation(const std::shared_ptr<UIScrollView>&) override {
        calls.push_back("endAnimation");
    }
    std::shared_ptr<UIView> viewForZoomingInScrollView(const std::shared_ptr<UIScrollView>&) override { return zoomView; }
    void scrollViewDidZoom(const std::shared_ptr<UIScrollView>& s) override {
        calls.push_back("zoom " + std::to_string(s->zoomScale()));
    }
};

TEST(ScrollViews, APagedScrollSettlesOnAPageAndTellsTheDelegateInOrder) {
    auto scroll = UIScrollView::initWithFrame(CGRectMake(0, 0, 100, 100));
    auto watcher = std::make_shared<Watcher>();
    scroll->setDelegate(watcher);
    scroll->setContentSize({500, 100});
    scroll->setPagingEnabled(true);
    scroll->simulateScroll({160, 0}, true);
    EXPECT_EQ(scroll->contentOffset(), CGPointMake(200, 0));
    EXPECT_EQ(watcher->calls, (std::vector<std::string>{"beginDrag", "scroll 160", "endDrag decelerate", "scroll 200",
                                                        "endDecel"}));
    watcher->calls.clear();
    scroll->simulateScroll({900, 0}, false);  // past the end: back to the last page
    EXPECT_EQ(scroll->contentOffset(), CGPointMake(400, 0));
    scroll->setScrollEnabled(false);
    watcher->calls.clear();
    scroll->simulateScroll({0, 0}, true);
    EXPECT_TRUE(watcher->calls.empty());
    EXPECT_TRUE(scroll->clipsToBounds());
}

TEST(ScrollViews, ZoomingScalesTheDelegatesViewWithinTheLimits) {
    auto scroll = UIScrollView::initWithFrame(CGRectMake(0, 0, 100, 100));
    auto watcher = std::make_shared<Watcher>();
    watcher->zoomView = UIView::initWithFrame(CGRectMake(0, 0, 200, 200));
    scroll->addSubview(watcher->zoomView);
    scroll->setDelegate(watcher);
    scroll->setContentSize({200, 200});
    scroll->setMinimumZoomScale(0.5);
    scroll->setMaximumZoomScale(4);

    scroll->setZoomScale(0.5);
    EXPECT_EQ(scroll->contentSize(), CGSizeMake(100, 100));
    EXPECT_EQ(watcher->zoomView->frame(), CGRectMake(0, 0, 100, 100));
    scroll->zoomToRect(CGRectMake(50, 50, 20, 20), false);  // would need 5: limited to 4
    EXPECT_EQ(scroll->zoomScale(), 4);
    EXPECT_EQ(scroll->contentSize(), CGSizeMake(800, 800));
    EXPECT_EQ(scroll->contentOffset(), CGPointMake(190, 190));  // the rect's centre (60, 60) × 4, centred
    scroll->setZoomScale(10);
    EXPECT_EQ(scroll->zoomScale(), 4);
}

TEST(ScrollViews, AnAnimatedOffsetEndsItsAnimationWhenTheClockPassesIt) {
    Clock::setManual(3'000'000.0);
    auto scroll = UIScrollView::initWithFrame(CGRectMake(0, 0, 100, 100));
    auto watcher = std::make_shared<Watcher>();
    scroll->setDelegate(watcher);
    scroll->setContentSize({500, 100});
    scroll->setContentOffset({50, 0}, true);
    EXPECT_EQ(watcher->calls, (std::vector<std::string>{"scroll 50"}));
    Clock::advance(0.2);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(watcher->calls.size(), 1u);
    Clock::advance(0.1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(watcher->calls.back(), "endAnimation");
    Clock::setReal();
}

class Counter : public NSObject {
public:
    int outerPans = 0;
    int doubleTaps = 0;
    void onPan(const std::shared_ptr<UIPanGestureRecognizer>& pan) {
        if (pan->state() == UIGestureRecognizerState::Ended) ++outerPans;
    }
    void onDoubleTap(const std::shared_ptr<UITapGestureRecognizer>&) { ++doubleTaps; }
};

TEST(ScrollViews, TheirPanFollowsDragsTheyCanScrollAndLeavesTheRestToTheViewsAbove) {
    Clock::setManual(4000);
    UIApplication::sharedApplication()->reset();
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
    auto window = UIWindow::make();
    window->makeKeyAndVisible();
    // A page with its own pan (as a pager has) and a double tap that waits for the scroll
    // view's pan to fail, around a scroll view whose content is twice as wide as it.
    auto page = UIView::initWithFrame(window->bounds());
    window->addSubview(page);
    auto counter = std::make_shared<Counter>();
    page->addGestureRecognizer(UIPanGestureRecognizer::initWithTarget(counter, &Counter::onPan));
    auto scroll = UIScrollView::initWithFrame(page->bounds());
    page->addSubview(scroll);
    scroll->setContentSize({750, 667});
    auto doubleTap = UITapGestureRecognizer::initWithTarget(counter, &Counter::onDoubleTap);
    doubleTap->setNumberOfTapsRequired(2);
    doubleTap->requireGestureRecognizerToFail(scroll->panGestureRecognizer());
    page->addGestureRecognizer(doubleTap);
    EXPECT_EQ(scroll->panGestureRecognizer(), scroll->panGestureRecognizer());

    // Towards the content's end: the content follows the finger, the page's pan sees nothing.
    window->pan({300, 300}, -200, 0, 400);
    Clock::advance(1);
    EXPECT_EQ(scroll->contentOffset(), CGPointMake(200, 0));
    EXPECT_EQ(counter->outerPans, 0);
    // Past the end it stops at the edge.
    window->pan({300, 300}, -300, 0, 400);
    Clock::advance(1);
    EXPECT_EQ(scroll->contentOffset(), CGPointMake(375, 0));
    // At the edge a further drag that way is the page's, and so is any vertical drag.
    window->pan({300, 300}, -200, 0, 400);
    Clock::advance(1);
    window->pan({200, 500}, 0, -200, 400);
    Clock::advance(1);
    EXPECT_EQ(scroll->contentOffset(), CGPointMake(375, 0));
    EXPECT_EQ(counter->outerPans, 2);
    // A double tap does not move, so the scroll view's pan fails and the tap is recognised.
    window->tap({200, 300}, 2);
    Clock::advance(1);
    EXPECT_EQ(counter->doubleTaps, 1);
    // With scrolling off every drag goes to the page.
    scroll->setScrollEnabled(false);
    window->pan({100, 300}, 200, 0, 400);
    Clock::advance(1);
    EXPECT_EQ(scroll->contentOffset(), CGPointMake(375, 0));
    EXPECT_EQ(counter->outerPans, 3);
    // A scroll view that takes no touches at all does not hold the double tap back.
    scroll->setUserInteractionEnabled(false);
    window->tap({200, 300}, 2);
    Clock::advance(1);
    EXPECT_EQ(counter->doubleTaps, 2);

    window.reset();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    UIApplication::sharedApplication()->reset();
    Clock::setReal();
}

}  // namespace
