// Gesture recognisers driven by synthetic touches through a window: pan translation,
// velocity and states reaching the target; a single tap waiting for a double tap to fail;
// the delegate's touch filter; long press on the clock; hit-testing skipping hidden views.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UILongPressGestureRecognizer.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UITouch.h"
#include "platform/ui/UIWindow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Receiver : public NSObject {
public:
    std::vector<UIGestureRecognizerState> states;
    std::vector<CGPoint> translations;
    std::vector<CGPoint> velocities;
    int singles = 0;
    int doubles = 0;
    void onPan(const std::shared_ptr<UIPanGestureRecognizer>& pan) {
        states.push_back(pan->state());
        translations.push_back(pan->translationInView(pan->view()));
        velocities.push_back(pan->velocityInView(pan->view()));
    }
    void onSingle(const std::shared_ptr<UITapGestureRecognizer>&) { ++singles; }
    void onDouble(const std::shared_ptr<UITapGestureRecognizer>&) { ++doubles; }
    void onPress(const std::shared_ptr<UILongPressGestureRecognizer>& r) { states.push_back(r->state()); }
};

class TouchLog : public UIView {
public:
    using UIView::UIView;
    std::vector<std::string> log;
    std::vector<int> tapCounts;
    void touchesBegan(const UITouchList& t, const std::shared_ptr<UIEvent>&) override {
        log.push_back("began");
        tapCounts.push_back(t.front()->tapCount());
    }
    void touchesEnded(const UITouchList&, const std::shared_ptr<UIEvent>&) override { log.push_back("ended"); }
    void touchesCancelled(const UITouchList&, const std::shared_ptr<UIEvent>&) override { log.push_back("cancelled"); }
};

class OnlyWhenOpen : public NSObject, public UIGestureRecognizerDelegate {
public:
    bool open = false;
    bool gestureRecognizerShouldReceiveTouch(UIGestureRecognizer&, UITouch&) override { return open; }
};

class GestureTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(5000);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        window = UIWindow::make();
        window->makeKeyAndVisible();
        area = std::make_shared<TouchLog>(CGRectMake(0, 100, 375, 400));
        window->addSubview(area);
    }
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }
    std::shared_ptr<UIWindow> window;
    std::shared_ptr<TouchLog> area;
    std::shared_ptr<Receiver> receiver = std::make_shared<Receiver>();
};

}  // namespace

TEST_F(GestureTest, PanReportsTranslationVelocityAndStatesInOrder) {
    auto pan = UIPanGestureRecognizer::initWithTarget(receiver, &Receiver::onPan);
    pan->setMaximumNumberOfTouches(1);
    area->addGestureRecognizer(pan);
    const double before = Clock::uptime();
    window->pan({100, 300}, 120, -30, 600);  // 123.7 points at 600 points per second
    ASSERT_GE(receiver->states.size(), 3u);
    EXPECT_EQ(receiver->states.front(), UIGestureRecognizerState::Began);
    EXPECT_EQ(receiver->states.back(), UIGestureRecognizerState::Ended);
    for (std::size_t i = 1; i + 1 < receiver->states.size(); ++i)
        EXPECT_EQ(receiver->states[i], UIGestureRecognizerState::Changed);
    EXPECT_NEAR(receiver->translations.back().x, 120, 1e-9);
    EXPECT_NEAR(receiver->translations.back().y, -30, 1e-9);
    // Constant speed: each step's velocity is the whole pan's.
    const double duration = std::hypot(120.0, 30.0) / 600;
    EXPECT_NEAR(receiver->velocities.back().x, 120 / duration, 1e-6);
    EXPECT_NEAR(receiver->velocities.back().y, -30 / duration, 1e-6);
    EXPECT_NEAR(Clock::uptime() - before, duration, 1e-9);
    // The pan took the touch from the view.
    EXPECT_EQ(area->log, (std::vector<std::string>{"began", "cancelled"}));
    EXPECT_EQ(pan->state(), UIGestureRecognizerState::Possible);  // reset for the next gesture
}

TEST_F(GestureTest, SetTranslationRebasesAndTooManyFingersFailThePan) {
    auto pan = UIPanGestureRecognizer::make();
    std::vector<CGPoint> seen;
    pan->addTarget(nullptr, [&](const std::shared_ptr<UIGestureRecognizer>& r) {
        auto p = std::static_pointer_cast<UIPanGestureRecognizer>(r);
        seen.push_back(p->translationInView(nullptr));
        if (p->state() == UIGestureRecognizerState::Began) p->setTranslation({0, 0}, nullptr);
    });
    pan->setMaximumNumberOfTouches(1);
    area->addGestureRecognizer(pan);
    auto t = window->touchDown({50, 200});
    window->touchMove(t, {50, 220});
    window->touchMove(t, {50, 230});
    window->touchUp(t);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].y, 20);
    EXPECT_EQ(seen[1].y, 10);  // measured from where Began rebased it

    auto first = window->touchDown({50, 200});
    auto second = window->touchDown({80, 200});
    EXPECT_EQ(pan->state(), UIGestureRecognizerState::Failed);
    window->touchMove(first, {50, 260});
    window->touchUp(first);
    window->touchUp(second);
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(GestureTest, SingleTapWaitsForTheDoubleTapToFail) {
    auto single = UITapGestureRecognizer::initWithTarget(receiver, &Receiver::onSingle);
    auto twice = UITapGestureRecognizer::initWithTarget(receiver, &Receiver::onDouble);
    twice->setNumberOfTapsRequired(2);
    single->requireGestureRecognizerToFail(twice);
    area->addGestureRecognizer(single);
    area->addGestureRecognizer(twice);

    auto t = window->touchDown({100, 300});
    window->touchUp(t);
    EXPECT_EQ(receiver->singles, 0);  // held until the double tap gives up
    Clock::advance(0.34);
    EXPECT_EQ(receiver->singles, 0);
    Clock::advance(0.02);
    EXPECT_EQ(receiver->singles, 1);
    EXPECT_EQ(receiver->doubles, 0);

    window->tap({100, 300}, 2);
    Clock::advance(1);
    EXPECT_EQ(receiver->doubles, 1);
    EXPECT_EQ(receiver->singles, 1);  // the double tap wins; no single tap reported
    EXPECT_EQ(area->tapCounts.back(), 2);
}

TEST_F(GestureTest, DelegateFilterKeepsTouchesFromTheRecognizer) {
    auto delegate = std::make_shared<OnlyWhenOpen>();
    auto tap = UITapGestureRecognizer::initWithTarget(receiver, &Receiver::onSingle);
    tap->setDelegate(delegate);
    area->addGestureRecognizer(tap);
    window->tap({10, 150});
    EXPECT_EQ(receiver->singles, 0);
    EXPECT_EQ(area->log, (std::vector<std::string>{"began", "ended"}));
    delegate->open = true;
    Clock::advance(1);
    window->tap({10, 150});
    EXPECT_EQ(receiver->singles, 1);
}

TEST_F(GestureTest, LongPressBeginsAfterTheMinimumDurationAndEndsOnLift) {
    auto press = UILongPressGestureRecognizer::initWithTarget(receiver, &Receiver::onPress);
    area->addGestureRecognizer(press);
    auto t = window->touchDown({200, 200});
    Clock::advance(0.49);
    EXPECT_TRUE(receiver->states.empty());
    Clock::advance(0.02);
    ASSERT_EQ(receiver->states.size(), 1u);
    EXPECT_EQ(receiver->states[0], UIGestureRecognizerState::Began);
    window->touchMove(t, {205, 200});
    window->touchUp(t);
    EXPECT_EQ(receiver->states, (std::vector<UIGestureRecognizerState>{UIGestureRecognizerState::Began,
                                                                       UIGestureRecognizerState::Changed,
                                                                       UIGestureRecognizerState::Ended}));
    // A short press is no long press.
    window->tap({200, 200});
    Clock::advance(1);
    EXPECT_EQ(receiver->states.size(), 3u);
}

TEST_F(GestureTest, HiddenTransparentAndNonInteractiveViewsTakeNoTouches) {
    auto cover = std::make_shared<TouchLog>(CGRectMake(0, 100, 375, 400));
    window->addSubview(cover);
    cover->setHidden(true);
    window->tap({20, 120});
    cover->setHidden(false);
    cover->setAlpha(0);
    Clock::advance(1);
    window->tap({20, 120});
    cover->setAlpha(1);
    cover->setUserInteractionEnabled(false);
    Clock::advance(1);
    window->tap({20, 120});
    EXPECT_TRUE(cover->log.empty());
    EXPECT_EQ(area->log.size(), 6u);
    cover->setUserInteractionEnabled(true);
    Clock::advance(1);
    window->tap({20, 120});
    EXPECT_EQ(cover->log, (std::vector<std::string>{"began", "ended"}));
}
