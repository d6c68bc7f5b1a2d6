// Scroll views: a person's scroll with paging and the delegate calls in order, zooming the
// delegate's view, and the animated offset's end on the clock.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIScrollView.h"

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

}  // namespace
