// Buttons the platform draws itself are views a finger reaches through the window's hit testing:
// a bar's item buttons (in the navigation bar and the toolbar) and custom views, the back button,
// an alert view's buttons and a search bar's Cancel. Each does its action where it is laid out,
// and a view lying over it takes the touch instead. A custom view that changes size is laid out
// again by its bar.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIBarButtonItemView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIWindow.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Taps : public NSObject {
public:
    std::vector<std::string> seen;
    void share(const std::shared_ptr<NSObject>&) { seen.push_back("share"); }
    void play(const std::shared_ptr<NSObject>&) { seen.push_back("play"); }
    void edit(const std::shared_ptr<NSObject>&) { seen.push_back("edit"); }
};

class Answers : public UIAlertViewDelegate, public UISearchBarDelegate {
public:
    std::vector<long> clicked;
    int cancelled = 0;
    void alertViewClickedButtonAtIndex(UIAlertView&, long index) override { clicked.push_back(index); }
    void searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>&) override { ++cancelled; }
};

class BarButtonTouchTest : public KeyWindowTest {
protected:
    void SetUp() override {
        KeyWindowTest::SetUp();
        window->setRootViewController(nav);
    }

    // A finger lifted at the middle of `view`, through the hit testing of the window it is in.
    static void tapMiddle(const std::shared_ptr<UIView>& view) {
        auto in = view->window();
        ASSERT_TRUE(in);
        const CGRect r = view->convertRectToView(view->bounds(), in);
        in->tap({CGRectGetMidX(r), CGRectGetMidY(r)});
    }
    // A plain view laid over `view` in its window, taking the touches there.
    static std::shared_ptr<UIView> cover(const std::shared_ptr<UIView>& view) {
        auto in = view->window();
        auto over = UIView::initWithFrame(view->convertRectToView(view->bounds(), in));
        in->addSubview(over);
        return over;
    }

    std::shared_ptr<UIViewController> first = UIViewController::make();
    std::shared_ptr<UIViewController> second = UIViewController::make();
    std::shared_ptr<UINavigationController> nav = UINavigationController::initWithRootViewController(first);
    std::shared_ptr<Taps> taps = std::make_shared<Taps>();
};

}  // namespace

TEST_F(BarButtonTouchTest, BarButtonsAndTheBackButtonDoTheirActionsWhereTheBarsLayThemOut) {
    first->setTitle("Paintings");
    nav->pushViewController(second, false);
    auto share = UIBarButtonItem::initWithTitle("Share", UIBarButtonItemStylePlain, taps, [this](const auto& sender) {
        taps->share(sender);
    });
    auto editButton = UIButton::buttonWithType(UIButtonTypeSystem);
    editButton->setTitle("Edit", UIControlStateNormal);
    editButton->setFrame(CGRectMake(0, 0, 50, 30));
    editButton->addTarget(taps, &Taps::edit, UIControlEventTouchUpInside);
    second->navigationItem()->setRightBarButtonItems({share, UIBarButtonItem::initWithCustomView(editButton)});
    auto play = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemPlay, taps, [this](const auto& sender) {
        taps->play(sender);
    });
    second->setToolbarItems({UIBarButtonItem::flexibleSpaceItem(), play});
    nav->setToolbarHidden(false);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    window->layoutIfNeeded();

    auto bar = nav->navigationBar();
    auto shareView = bar->viewForItem(share);
    ASSERT_TRUE(shareView);
    EXPECT_EQ(shareView->superview(), bar);
    EXPECT_EQ(bar->viewForItem(second->navigationItem()->rightBarButtonItems()[1]), editButton);
    auto playView = nav->toolbar()->viewForItem(play);
    ASSERT_TRUE(playView);
    // Outermost on the right, then the next one left of it, none over the other.
    EXPECT_LE(CGRectGetMaxX(editButton->frame()), shareView->frame().origin.x);

    tapMiddle(shareView);
    tapMiddle(editButton);
    tapMiddle(playView);
    EXPECT_EQ(taps->seen, (std::vector<std::string>{"share", "edit", "play"}));

    // A view lying over a button takes its touch.
    auto overShare = cover(shareView);
    auto overPlay = cover(playView);
    tapMiddle(shareView);
    tapMiddle(playView);
    EXPECT_EQ(taps->seen.size(), 3u);
    overShare->removeFromSuperview();
    overPlay->removeFromSuperview();

    // A disabled item's button does nothing.
    share->setEnabled(false);
    tapMiddle(shareView);
    EXPECT_EQ(taps->seen.size(), 3u);

    auto back = bar->backButton();
    ASSERT_TRUE(back);
    EXPECT_TRUE(CGRectEqualToRect(back->frame(), bar->backButtonFrame()));
    auto overBack = cover(back);
    tapMiddle(back);
    EXPECT_EQ(nav->topViewController(), second);
    overBack->removeFromSuperview();
    tapMiddle(back);
    EXPECT_EQ(nav->topViewController(), first);
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    bar->layoutIfNeeded();
    EXPECT_FALSE(bar->backButton()) << "the root screen has no back button";
    EXPECT_FALSE(bar->viewForItem(share)) << "nor the popped screen's items";
    EXPECT_FALSE(shareView->superview());
}

TEST_F(BarButtonTouchTest, ACustomViewThatChangesSizeHasItsBarLaidOutAgainOnTheNextPass) {
    nav->pushViewController(second, false);
    // A count that arrives late: the button grows to fit its new title.
    auto count = UIButton::buttonWithType(UIButtonTypeSystem);
    count->setTitle("3", UIControlStateNormal);
    count->sizeToFit();
    auto share = UIBarButtonItem::initWithTitle("Share", UIBarButtonItemStylePlain, nullptr, {});
    second->navigationItem()->setRightBarButtonItems({UIBarButtonItem::initWithCustomView(count), share});
    auto tally = UIButton::buttonWithType(UIButtonTypeSystem);
    tally->setTitle("1", UIControlStateNormal);
    tally->sizeToFit();
    second->setToolbarItems({UIBarButtonItem::flexibleSpaceItem(), UIBarButtonItem::initWithCustomView(tally)});
    nav->setToolbarHidden(false);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    window->layoutIfNeeded();
    auto bar = nav->navigationBar();
    auto toolbar = nav->toolbar();
    const CGFloat barRight = CGRectGetMaxX(bar->bounds()) - UINavigationBar::kItemInset;
    const CGFloat toolbarRight = CGRectGetMaxX(toolbar->bounds()) - 8;  // the toolbar's margin
    EXPECT_DOUBLE_EQ(CGRectGetMaxX(count->frame()), barRight);
    EXPECT_DOUBLE_EQ(CGRectGetMaxX(tally->frame()), toolbarRight);
    const CGFloat narrow = count->frame().size.width;

    count->setTitle("\u2606 37", UIControlStateNormal);
    count->sizeToFit();
    tally->setTitle("1234", UIControlStateNormal);
    tally->sizeToFit();
    const CGFloat wide = count->frame().size.width;
    ASSERT_GT(wide, narrow);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    // Within the bar again, at its new width, and the item beside it moved along.
    EXPECT_DOUBLE_EQ(CGRectGetMaxX(count->frame()), barRight);
    EXPECT_DOUBLE_EQ(count->frame().size.width, wide);
    EXPECT_LE(CGRectGetMaxX(bar->viewForItem(share)->frame()) + UINavigationBar::kItemInset, count->frame().origin.x);
    EXPECT_DOUBLE_EQ(CGRectGetMaxX(tally->frame()), toolbarRight);

    // A frame of another size, set from outside, likewise.
    count->setFrame(CGRectMake(0, 0, narrow, count->frame().size.height));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_DOUBLE_EQ(CGRectGetMaxX(count->frame()), barRight);
    EXPECT_DOUBLE_EQ(count->frame().size.width, narrow);
}

TEST_F(BarButtonTouchTest, AnAlertViewsButtonsAnswerItWhereTheyAreAndNothingUnderItTakesATouch) {
    auto answers = std::make_shared<Answers>();
    auto alert = UIAlertView::initWithTitle("Welcome", "The gallery fetches pictures.", answers, "Close", {"Open"});
    alert->show();
    auto alertWindow = alert->window();
    ASSERT_TRUE(alertWindow);
    EXPECT_GT(alertWindow->windowLevel(), window->windowLevel());
    auto close = alert->buttonAtIndex(0), open = alert->buttonAtIndex(1);
    ASSERT_TRUE(close && open);
    EXPECT_EQ(close->window(), alertWindow);
    // Two buttons side by side.
    EXPECT_EQ(close->frame().origin.y, open->frame().origin.y);
    EXPECT_LE(CGRectGetMaxX(close->frame()), open->frame().origin.x);

    // Beneath it, a button the alert covers.
    int beneath = 0;
    auto under = UIButton::buttonWithType(UIButtonTypeSystem);
    under->setFrame(window->bounds());
    under->addTarget(nullptr, [&beneath](const std::shared_ptr<NSObject>&) { ++beneath; }, UIControlEventTouchUpInside);
    first->view()->addSubview(under);
    tapMiddle(under);
    EXPECT_EQ(beneath, 0);

    auto over = cover(open);
    tapMiddle(open);
    EXPECT_TRUE(answers->clicked.empty());
    EXPECT_TRUE(alert->isVisible());
    over->removeFromSuperview();

    tapMiddle(open);
    EXPECT_EQ(answers->clicked, std::vector<long>{1});
    EXPECT_FALSE(alert->isVisible());
    EXPECT_FALSE(alert->window()) << "its window goes with it";
    tapMiddle(under);
    EXPECT_EQ(beneath, 1);

    // Three buttons are stacked.
    auto three = UIAlertView::initWithTitle("", "Saved", answers, "OK", {"Share", "Print"});
    three->show();
    EXPECT_LT(three->buttonAtIndex(0)->frame().origin.y, three->buttonAtIndex(1)->frame().origin.y);
    EXPECT_LT(three->buttonAtIndex(1)->frame().origin.y, three->buttonAtIndex(2)->frame().origin.y);
    tapMiddle(three->buttonAtIndex(2));
    EXPECT_EQ(answers->clicked, (std::vector<long>{1, 2}));
}

TEST_F(BarButtonTouchTest, ASearchBarsCancelTellsItsDelegateWhereItShows) {
    auto answers = std::make_shared<Answers>();
    auto bar = UISearchBar::initWithFrame(CGRectMake(0, 100, 375, 56));
    bar->setDelegate(answers);
    first->view()->addSubview(bar);
    EXPECT_FALSE(bar->cancelButton());
    bar->setShowsCancelButton(true);
    auto cancel = bar->cancelButton();
    ASSERT_TRUE(cancel);
    EXPECT_EQ(cancel->superview(), bar);
    EXPECT_EQ(CGRectGetMaxX(cancel->frame()), 375 - 8) << "at the bar's right end";

    auto over = cover(cancel);
    tapMiddle(cancel);
    EXPECT_EQ(answers->cancelled, 0);
    over->removeFromSuperview();
    tapMiddle(cancel);
    EXPECT_EQ(answers->cancelled, 1);
    EXPECT_FALSE(bar->isFirstResponder()) << "Cancel is not the field";

    // Left of it, the field takes the touch and starts typing.
    const CGRect field = bar->convertRectToView(bar->bounds(), window);
    window->tap({field.origin.x + 40, CGRectGetMidY(field)});
    EXPECT_TRUE(bar->isFirstResponder());
    EXPECT_EQ(answers->cancelled, 1);
    (void)bar->resignFirstResponder();

    bar->setShowsCancelButton(false);
    EXPECT_FALSE(bar->cancelButton());
    EXPECT_FALSE(cancel->superview());
}
