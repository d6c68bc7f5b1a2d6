// Toasts: the wrapper's geometry for each combination of parts, the positions, the fade and
// dismissal timing over the manual clock, replacement and taps, the activity toast and spinners.
#include "uikit/UIViewToast.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/CALayer.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIWindow.h"

#include <gtest/gtest.h>

#include <cmath>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

std::shared_ptr<UIImage> smallImage() { return UIImage::imageWithPixels(std::vector<std::uint8_t>(4 * 4, 255), 2, 2, 1); }

std::vector<std::shared_ptr<UILabel>> labelsOf(const std::shared_ptr<UIView>& view) {
    std::vector<std::shared_ptr<UILabel>> labels;
    for (const auto& subview : view->subviews()) {
        if (auto label = std::dynamic_pointer_cast<UILabel>(subview)) labels.push_back(label);
    }
    return labels;
}

std::vector<std::shared_ptr<UIView>> toastsOn(const std::shared_ptr<UIView>& host) {
    std::vector<std::shared_ptr<UIView>> toasts;
    for (const auto& subview : host->subviews()) {
        if (subview->tag() == kUIToastTag) toasts.push_back(subview);
    }
    return toasts;
}

// The width of one line of regular 16-point text, as the fixed metrics measure it.
double lineWidth(const std::string& text) { return std::ceil(text.size() * 8.0); }
double lineHeight() { return std::ceil(16 * 1.2f); }

class ToastTest : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(3'000'000.0);
        UIView::setAnimationsEnabled(true);
        host_ = UIView::initWithFrame(CGRectMake(0, 0, 400, 600));
    }
    void TearDown() override {
        advance(10);
        Clock::setReal();
    }
    static void advance(double seconds) {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::advance(seconds);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    std::shared_ptr<UIView> host_;
};

}  // namespace

TEST_F(ToastTest, MessageOnlyWrapsTheTextWithTenPointsAllRound) {
    auto toast = viewForMessage(host_, "Saved", std::nullopt, nullptr);
    ASSERT_TRUE(toast);
    const auto labels = labelsOf(toast);
    ASSERT_EQ(labels.size(), 1u);
    const CGRect text = labels[0]->frame();
    EXPECT_EQ(text.origin, (CGPoint{10, 10}));
    EXPECT_EQ(text.size, (CGSize{lineWidth("Saved"), lineHeight()}));
    EXPECT_EQ(toast->frame(), CGRectMake(0, 0, text.size.width + 20, text.size.height + 20));
    EXPECT_EQ(labels[0]->textAlignment(), NSTextAlignmentCenter);
    EXPECT_EQ(labels[0]->numberOfLines(), 0);
    EXPECT_FALSE(labels[0]->font()->isBold());
    EXPECT_EQ(toast->tag(), kUIToastTag);
    EXPECT_EQ(toast->layer()->cornerRadius(), 10);
    EXPECT_DOUBLE_EQ(toast->backgroundColor()->alpha(), 0.8);
}

TEST_F(ToastTest, ImageOnlyIsAHundredSquareAndNothingGivesNoWrapper) {
    auto toast = viewForMessage(host_, std::nullopt, std::nullopt, smallImage());
    ASSERT_TRUE(toast);
    EXPECT_EQ(toast->frame().size, (CGSize{100, 100}));
    auto image = std::dynamic_pointer_cast<UIImageView>(toast->subviews().back());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->frame(), CGRectMake(10, 10, 80, 80));
    EXPECT_EQ(image->contentMode(), UIViewContentModeScaleAspectFit);

    EXPECT_FALSE(viewForMessage(host_, std::nullopt, std::nullopt, nullptr));
}

TEST_F(ToastTest, TitleImageAndMessageSitBesideThePicture) {
    auto toast = viewForMessage(host_, "Body", std::string("Head"), smallImage());
    const auto labels = labelsOf(toast);
    ASSERT_EQ(labels.size(), 2u);
    const auto& title = labels[0];
    const auto& message = labels[1];
    EXPECT_TRUE(title->font()->isBold());
    EXPECT_EQ(title->textAlignment(), NSTextAlignmentLeft);
    EXPECT_EQ(title->frame().origin, (CGPoint{100, 10}));
    // Message top: 10 for the title's margin, the title's height, 10 more.
    EXPECT_EQ(message->frame().origin, (CGPoint{100, 10 + title->frame().size.height + 10}));
    const double textWidth = std::max(title->frame().size.width, message->frame().size.width);
    EXPECT_EQ(toast->frame().size.width, 100 + textWidth + 10);
    // The picture is taller than the text: 80 + 20.
    EXPECT_EQ(toast->frame().size.height, std::max(100.0, CGRectGetMaxY(message->frame()) + 10));
}

TEST_F(ToastTest, ALongMessageIsWrappedAndClippedToEightTenthsOfTheHost) {
    std::string longText;
    for (int i = 0; i < 400; ++i) longText += "word ";
    auto toast = viewForMessage(host_, longText, std::nullopt, nullptr);
    const auto label = labelsOf(toast).front();
    EXPECT_LE(label->frame().size.width, 0.8 * 400);
    EXPECT_GT(label->frame().size.width, 0.6 * 400);
    EXPECT_LE(label->frame().size.height, std::ceil(0.8 * 600));
    EXPECT_EQ(toast->frame().size.height, label->frame().size.height + 20);
}

TEST_F(ToastTest, SizesAreRoundedUpToWholePoints) {
    // 0.5 × 15 = 7.5 points a character, 1.2 × 15 = 18 a line.
    EXPECT_EQ(sizeForString("abc", UIFont::systemFontOfSize(15), {1000, 1000}, NSLineBreakByWordWrapping),
              (CGSize{23, 18}));
}

TEST_F(ToastTest, PositionsAreCaseInsensitiveAndAnUnknownOneFallsBackToBottomWithAWarning) {
    auto toast = UIView::initWithFrame(CGRectMake(0, 0, 100, 40));
    EXPECT_EQ(centerPointForPosition(host_, "top", toast), (CGPoint{200, 30}));
    EXPECT_EQ(centerPointForPosition(host_, "TOP", toast), (CGPoint{200, 30}));
    EXPECT_EQ(centerPointForPosition(host_, "Center", toast), (CGPoint{200, 300}));
    // 30 points above the bottom edge.
    EXPECT_EQ(centerPointForPosition(host_, "bottom", toast), (CGPoint{200, 600 - 20 - 30}));
    EXPECT_EQ(centerPointForPosition(host_, CGPoint{12, 34}, toast), (CGPoint{12, 34}));

    CaptureStderr();
    const CGPoint fallback = centerPointForPosition(host_, "middle", toast);
    EXPECT_NE(GetCapturedStderr().find("Warning: Invalid position for toast."), std::string::npos);
    EXPECT_EQ(fallback, (CGPoint{200, 550}));
}

TEST_F(ToastTest, AToastFadesInStaysForItsDurationThenFadesOutAndGoes) {
    makeToast(host_, "Hello", 2.0, "top");
    auto shown = toastsOn(host_);
    ASSERT_EQ(shown.size(), 1u);
    auto toast = shown[0];
    EXPECT_EQ(toast->center().y, toast->frame().size.height / 2 + 10);
    EXPECT_EQ(toast->alpha(), 1.0);
    EXPECT_TRUE(toast->isUserInteractionEnabled());
    EXPECT_TRUE(toast->isExclusiveTouch());
    EXPECT_EQ(toast->gestureRecognizers().size(), 1u);
    // The timer starts only when the fade-in has run.
    EXPECT_FALSE(toastTimer(toast));
    advance(0.2);
    auto timer = toastTimer(toast);
    ASSERT_TRUE(timer);
    EXPECT_TRUE(timer->isValid());

    advance(1.95);
    EXPECT_EQ(toast->alpha(), 1.0);
    advance(0.1);
    EXPECT_EQ(toast->alpha(), 0.0);
    EXPECT_EQ(toast->superview(), host_);
    advance(0.2);
    EXPECT_FALSE(toast->superview());
    EXPECT_TRUE(toastsOn(host_).empty());
}

TEST_F(ToastTest, TheDefaultToastShowsAtTheBottomForThreeSeconds) {
    makeToast(host_, "Default");
    auto toast = toastsOn(host_).front();
    EXPECT_EQ(toast->center().y, 600 - toast->frame().size.height / 2 - 30);
    advance(0.2 + 2.95);
    EXPECT_EQ(toast->alpha(), 1.0);
    advance(0.1 + 0.2);
    EXPECT_TRUE(toastsOn(host_).empty());
}

TEST_F(ToastTest, ASecondToastReplacesTheFirstAtOnceAndKeepsItsFullDuration) {
    makeToast(host_, "First", 1.0, "bottom");
    auto first = toastsOn(host_).front();
    advance(0.5);
    makeToast(host_, "Second", 1.0, "bottom");
    auto shown = toastsOn(host_);
    ASSERT_EQ(shown.size(), 1u);
    auto second = shown[0];
    EXPECT_NE(second, first);
    EXPECT_FALSE(first->superview());

    // The first toast's timer fires at 1.2 and only fades the view already gone.
    advance(0.75);
    EXPECT_EQ(first->alpha(), 0.0);
    EXPECT_EQ(second->alpha(), 1.0);
    EXPECT_EQ(second->superview(), host_);
    // The second's timer started at 0.7 and fires at 1.7.
    advance(0.4);
    EXPECT_EQ(second->alpha(), 1.0);
    advance(0.1);
    EXPECT_EQ(second->alpha(), 0.0);
    advance(0.2);
    EXPECT_FALSE(second->superview());
    EXPECT_FALSE(first->superview());
}

TEST_F(ToastTest, ATapEndsTheToastAndStopsItsTimer) {
    auto window = UIWindow::initWithFrame(CGRectMake(0, 0, 400, 600));
    window->makeKeyAndVisible();
    window->addSubview(host_);
    makeToast(host_, "Tap me", 5.0, "center");
    advance(0.2);
    auto toast = toastsOn(host_).front();
    auto timer = toastTimer(toast);
    ASSERT_TRUE(timer);
    window->tap(toast->center());
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(toast->alpha(), 0.0);
    advance(0.2);
    EXPECT_FALSE(toast->superview());
}

TEST_F(ToastTest, TheActivityToastShowsOnceAndHidesAfterItsFade) {
    makeToastActivity(host_);
    auto box = toastActivityView(host_);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->frame(), CGRectMake(150, 250, 100, 100));
    EXPECT_EQ(box->layer()->cornerRadius(), 10);
    EXPECT_EQ(box->autoresizingMask(), unsigned(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                                                UIViewAutoresizingFlexibleTopMargin |
                                                UIViewAutoresizingFlexibleBottomMargin));
    auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(box->subviews().front());
    ASSERT_TRUE(spinner);
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_EQ(spinner->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleWhiteLarge);

    makeToastActivity(host_, "top");
    EXPECT_EQ(toastActivityView(host_), box);
    EXPECT_EQ(host_->subviews().size(), 1u);

    hideToastActivity(host_);
    EXPECT_EQ(box->alpha(), 0.0);
    EXPECT_EQ(box->superview(), host_);
    advance(0.2);
    EXPECT_FALSE(box->superview());
    EXPECT_FALSE(toastActivityView(host_));
    hideToastActivity(host_);
    EXPECT_TRUE(host_->subviews().empty());
}

TEST_F(ToastTest, SpinnersAreCentredByConstraintsAndHideWhenStopped) {
    auto spinner = showGrayActivityIndicator(host_, false);
    EXPECT_EQ(spinner->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleGray);
    EXPECT_FALSE(spinner->translatesAutoresizingMaskIntoConstraints());
    EXPECT_TRUE(spinner->hidesWhenStopped());
    EXPECT_FALSE(spinner->isAnimating());
    host_->layoutIfNeeded();
    EXPECT_EQ(spinner->center(), (CGPoint{200, 300}));

    auto large = showLargeWhiteActivityIndicator(host_, true);
    EXPECT_TRUE(large->isAnimating());
    EXPECT_EQ(large->bounds().size, (CGSize{37, 37}));
}
