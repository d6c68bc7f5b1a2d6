// View animations: final values at once, the record, and completions that wait for the
// manual clock, with finished = NO for animations taken over from the current state.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIView.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

class Animations : public ::testing::Test {
protected:
    static constexpr double start = 2'000'000.0;
    void SetUp() override {
        Clock::setManual(start);
        UIView::clearAnimationLog();
        UIView::setAnimationsEnabled(true);
    }
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::setReal();
    }
    static void pump() { NSRunLoop::mainRunLoop()->runUntilIdle(); }
};

TEST_F(Animations, ValuesChangeAtOnceAndTheCompletionWaitsForDelayPlusDuration) {
    auto view = UIView::initWithFrame(CGRectMake(0, 0, 10, 10));
    std::optional<bool> finished;
    double finishedAt = 0;
    UIView::animateWithDuration(0.3, 0.2, UIViewAnimationOptionCurveEaseOut | UIViewAnimationOptionAllowUserInteraction,
                                [&] {
                                    view->setAlpha(0);
                                    view->setFrame(CGRectMake(5, 5, 10, 10));
                                },
                                [&](bool f) {
                                    finished = f;
                                    finishedAt = Clock::now();
                                });
    EXPECT_EQ(view->alpha(), 0);
    EXPECT_EQ(view->frame(), CGRectMake(5, 5, 10, 10));

    auto log = UIView::animationLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]->duration, 0.3);
    EXPECT_EQ(log[0]->delay, 0.2);
    EXPECT_EQ(log[0]->curve, UIViewAnimationCurveEaseOut);
    EXPECT_TRUE(log[0]->options & UIViewAnimationOptionAllowUserInteraction);
    EXPECT_TRUE(log[0]->changed(view.get(), "opacity"));
    EXPECT_TRUE(log[0]->changed(view.get(), "position"));

    pump();
    Clock::advance(0.49);
    pump();
    EXPECT_FALSE(finished.has_value());
    Clock::advance(0.01);
    pump();
    ASSERT_TRUE(finished.has_value());
    EXPECT_TRUE(*finished);
    EXPECT_DOUBLE_EQ(finishedAt, start + 0.5);
    EXPECT_TRUE(log[0]->isCompleted());
}

TEST_F(Animations, ALaterAnimationFromTheCurrentStateEndsTheEarlierWithFinishedNo) {
    auto view = UIView::initWithFrame(CGRectMake(0, 0, 10, 10));
    auto other = UIView::initWithFrame(CGRectMake(0, 0, 10, 10));
    std::vector<std::string> events;
    UIView::animateWithDuration(1.0, [&] { view->setAlpha(0); },
                                [&](bool f) { events.push_back(std::string("first:") + (f ? "yes" : "no")); });
    UIView::animateWithDuration(1.0, [&] {
        view->setAlpha(0.5);
        other->setAlpha(0.5);
    }, [&](bool f) { events.push_back(std::string("partial:") + (f ? "yes" : "no")); });
    // Without begin-from-current-state nothing is taken over.
    Clock::advance(0.1);
    UIView::animateWithDuration(0.2, 0, UIViewAnimationOptionBeginFromCurrentState, [&] { view->setAlpha(1); },
                                [&](bool f) { events.push_back(std::string("takeover:") + (f ? "yes" : "no")); });
    pump();
    // The first had only the alpha: it ends now. The second still animates `other`.
    EXPECT_EQ(events, (std::vector<std::string>{"first:no"}));
    Clock::advance(0.2);
    pump();
    EXPECT_EQ(events, (std::vector<std::string>{"first:no", "takeover:yes"}));
    Clock::advance(0.7);
    pump();
    EXPECT_EQ(events, (std::vector<std::string>{"first:no", "takeover:yes", "partial:no"}));
    EXPECT_EQ(view->alpha(), 1);
}

TEST_F(Animations, BeginCommitRecordsTheCurlTransitionAndCallsTheStopHandler) {
    auto page = UIView::initWithFrame(CGRectMake(0, 0, 10, 10));
    std::vector<std::string> stopped;
    UIView::beginAnimations("curl");
    UIView::setAnimationDuration(0.75);
    UIView::setAnimationTransition(UIViewAnimationTransitionCurlUp, page, true);
    UIView::setAnimationDidStopHandler([&](const std::string& id, bool finished) {
        stopped.push_back(id + (finished ? ":yes" : ":no"));
    });
    page->setHidden(true);
    UIView::commitAnimations();

    auto log = UIView::animationLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]->form, UIViewAnimation::Form::BeginCommit);
    EXPECT_EQ(log[0]->transition, UIViewAnimationTransitionCurlUp);
    EXPECT_EQ(log[0]->transitionOption(), UIViewAnimationOptionTransitionCurlUp);
    EXPECT_EQ(log[0]->transitionView.lock(), page);
    Clock::advance(0.7);
    pump();
    EXPECT_TRUE(stopped.empty());
    Clock::advance(0.05);
    pump();
    EXPECT_EQ(stopped, (std::vector<std::string>{"curl:yes"}));
}

TEST_F(Animations, DisabledAnimationsAndZeroDurationsCompleteOnTheNextTurnNotInline) {
    auto view = UIView::initWithFrame(CGRectMake(0, 0, 10, 10));
    int done = 0;
    UIView::animateWithDuration(0, [&] { view->setAlpha(0.2); }, [&](bool f) { done += f ? 1 : 100; });
    EXPECT_EQ(done, 0);
    pump();
    EXPECT_EQ(done, 1);
    UIView::setAnimationsEnabled(false);
    UIView::animateWithDuration(5, [&] { view->setAlpha(0.3); }, [&](bool f) { done += f ? 1 : 100; });
    pump();
    EXPECT_EQ(done, 2);
    UIView::setAnimationsEnabled(true);
    // Springs are recorded with their own parameters.
    UIView::animateWithDuration(0.4, 0, 0.7, 0.2, 0, [&] { view->setCenter({1, 1}); }, nullptr);
    auto log = UIView::animationLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2]->form, UIViewAnimation::Form::Spring);
    EXPECT_EQ(log[2]->springDamping, 0.7);
}

TEST_F(Animations, AFadeIsDrawnAsFarAsItHasGoneAlongItsCurveUntilItEnds) {
    auto view = UIView::initWithFrame(CGRectMake(0, 0, 10, 10));
    view->setAlpha(0.8);
    EXPECT_DOUBLE_EQ(view->presentationAlpha(), 0.8) << "nothing running: the alpha itself";
    UIView::animateWithDuration(0.4, 0.1, UIViewAnimationOptionCurveLinear, [&] { view->setAlpha(0); }, nullptr);
    EXPECT_EQ(view->alpha(), 0);
    EXPECT_DOUBLE_EQ(view->presentationAlpha(), 0.8) << "its delay has not passed";
    Clock::advance(0.2);
    EXPECT_NEAR(view->presentationAlpha(), 0.6, 1e-9);
    Clock::advance(0.2);
    EXPECT_NEAR(view->presentationAlpha(), 0.2, 1e-9);

    // Taken over from where it got to, eased in and out: half-way at half its time.
    UIView::animateWithDuration(0.2, 0, UIViewAnimationOptionBeginFromCurrentState, [&] { view->setAlpha(1); }, nullptr);
    EXPECT_NEAR(view->presentationAlpha(), 0.2, 1e-9);
    Clock::advance(0.1);
    EXPECT_NEAR(view->presentationAlpha(), 0.6, 1e-9);
    Clock::advance(0.1);
    pump();
    EXPECT_DOUBLE_EQ(view->presentationAlpha(), 1);
}

}  // namespace
