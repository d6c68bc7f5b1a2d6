// The grid screen base on a pad: the page indicator's bar follows the page count and the page
// shown; a tapped cell's detail grows into a centred panel over a dimmed screen and shrinks back
// when the dimmed area is tapped, with its notifications before each; one detail at a time; and
// a hide taken over by another animation still ends the detail.
#include "gallery/UIGridViewController.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotification.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIPageControl.h"
#include "platform/ui/UIWindow.h"
#include "simulator/SimScreen.h"
#include "uikit/OEGridViewCell.h"
#include "uikit/UIGridViewWithPageControll.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingDetail : public UIViewController {
public:
    void viewWillAppear(bool animated) override {
        UIViewController::viewWillAppear(animated);
        calls.push_back("will appear");
    }
    void viewDidAppear(bool animated) override {
        UIViewController::viewDidAppear(animated);
        calls.push_back("did appear");
    }
    void viewWillDisappear(bool animated) override {
        UIViewController::viewWillDisappear(animated);
        calls.push_back("will disappear");
    }
    void viewDidDisappear(bool animated) override {
        UIViewController::viewDidDisappear(animated);
        calls.push_back("did disappear");
    }
    std::vector<std::string> calls;
};

class ItemsGrid : public UIGridViewController {
public:
    long numberOfCellsInGridView(const std::shared_ptr<OEGridView>&) override { return items; }
    std::shared_ptr<OEGridViewCell> gridViewCellAtIndex(const std::shared_ptr<OEGridView>&, unsigned long) override {
        return OEGridViewCell::initWithFrame(CGRectZero);
    }
    std::shared_ptr<UIViewController> itemDetailsViewController(unsigned long index) override {
        opened.push_back(index);
        auto detail = std::make_shared<RecordingDetail>();
        detail->setTitle("Item " + std::to_string(index));
        if (!inNavigation) return detail;
        detail->navigationItem()->setRightBarButtonItem(UIBarButtonItem::initWithCustomView(UIView::make()));
        detail->navigationItem()->setLeftBarButtonItem(UIBarButtonItem::initWithCustomView(UIView::make()));
        auto navigation = UINavigationController::initWithRootViewController(detail);
        navigation->setToolbarHidden(false);
        return navigation;
    }
    void detailDidDissappear() override { ++hidden; }
    long items = 0;
    bool inNavigation = false;
    std::vector<unsigned long> opened;
    int hidden = 0;
};

class UIGridViewControllerTest : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(100);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter()->removeObserver(observer_);
        window_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        Clock::setReal();
    }
    void show(long items) {
        screen_->items = items;
        window_ = UIWindow::initWithFrame({{0, 0}, {1024, 704}});
        window_->setRootViewController(screen_);
        window_->makeKeyAndVisible();
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    std::shared_ptr<OEGridView> grid() const { return screen_->gridView()->gridView(); }
    std::shared_ptr<UIView> pageBar() const { return screen_->gridView()->pageControl()->superview(); }
    CGPoint centreOf(unsigned long index) const {
        auto cell = grid()->cellAtIndex(index);
        return cell->superview()->convertPointToView(cell->center(), nullptr);
    }
    std::shared_ptr<UIButton> dimming() const {
        for (const auto& view : screen_->view()->subviews())
            if (auto button = std::dynamic_pointer_cast<UIButton>(view)) return button;
        return nullptr;
    }
    // Records the panel's alpha when each notification comes.
    void observeNotifications() {
        observer_ = std::make_shared<NSObject>();
        for (const auto& name : {GridControllerDetailWillShow, GridControllerDetailWillHide}) {
            NSNotificationCenter::defaultCenter()->addObserver(
                observer_,
                [this](const NSNotification& note) {
                    auto detail = std::dynamic_pointer_cast<UIViewController>(note.object());
                    ASSERT_EQ(detail, screen_->currentDetailViewController());
                    notes.push_back(note.name() + " " + std::to_string(detail->view()->alpha()));
                },
                name, nullptr);
        }
    }

    std::shared_ptr<ItemsGrid> screen_ = std::make_shared<ItemsGrid>();
    std::shared_ptr<UIWindow> window_;
    std::shared_ptr<NSObject> observer_;
    std::vector<std::string> notes;
};

}  // namespace

TEST_F(UIGridViewControllerTest, ThePageBarShowsForMoreThanOnePageAndFollowsTheGrid) {
    show(21);
    // 7 columns of 140 points by 3 rows of 180 above the bar.
    EXPECT_EQ(grid()->numberOfPages(), 1u);
    EXPECT_TRUE(pageBar()->isHidden());
    EXPECT_EQ(screen_->view(), screen_->gridView());
    EXPECT_EQ(grid()->cellMargin(), 3u);

    screen_->items = 50;
    grid()->reloadData();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(pageBar()->isHidden());
    auto dots = screen_->gridView()->pageControl();
    EXPECT_EQ(dots->numberOfPages(), 3);
    EXPECT_EQ(dots->currentPage(), 0);
    grid()->scrollView()->simulateScroll({2048, 0});
    EXPECT_EQ(dots->currentPage(), 2);
}

TEST_F(UIGridViewControllerTest, ADetailGrowsOutOfItsCellAndShrinksBackOnATapOfTheDimmedArea) {
    show(10);
    observeNotifications();
    const CGRect cellFrame = grid()->cellAtIndex(4)->frame();
    window_->tap(centreOf(4));
    Clock::advance(0.1);
    ASSERT_EQ(screen_->opened, std::vector<unsigned long>{4});
    auto detail = std::dynamic_pointer_cast<RecordingDetail>(screen_->currentDetailViewController());
    ASSERT_TRUE(detail);
    EXPECT_EQ(screen_->selectedCell(), grid()->cellAtIndex(4));
    EXPECT_EQ(notes, std::vector<std::string>{GridControllerDetailWillShow + " 0.000000"});
    EXPECT_EQ(detail->calls, std::vector<std::string>{"will appear"});
    auto button = dimming();
    ASSERT_TRUE(button);
    EXPECT_EQ(detail->view()->superview(), button);
    EXPECT_EQ(detail->view()->layer()->cornerRadius(), 8);
    // The dimmed area around the panel is what closes it.
    EXPECT_NE(SimScreen::capture().text().find("] button \"close\"\n"), std::string::npos) << SimScreen::capture().text();

    // Another cell while the detail is open: nothing.
    screen_->gridViewDidSelectCellAtIndex(grid(), grid()->cellAtIndex(2), 2);
    Clock::advance(0.5);
    EXPECT_EQ(screen_->opened, std::vector<unsigned long>{4});
    EXPECT_EQ(detail->view()->frame(), CGRectMake(176, 16, 672, 672));
    EXPECT_EQ(detail->view()->alpha(), 1);
    EXPECT_EQ(button->backgroundColor()->alpha(), 0.8);
    EXPECT_EQ(grid()->cellAtIndex(4)->frame(), cellFrame);
    EXPECT_EQ(grid()->cellAtIndex(4)->alpha(), 0);
    EXPECT_EQ(detail->calls, (std::vector<std::string>{"will appear", "did appear"}));

    window_->tap({20, 20});
    EXPECT_EQ(notes.back(), GridControllerDetailWillHide + " 1.000000");
    EXPECT_EQ(detail->title(), "");
    EXPECT_EQ(detail->view()->frame(), cellFrame);
    Clock::advance(0.5);
    EXPECT_FALSE(button->superview());
    EXPECT_FALSE(screen_->selectedCell());
    EXPECT_EQ(screen_->hidden, 1);
    EXPECT_EQ(grid()->cellAtIndex(4)->alpha(), 1);
    EXPECT_EQ(detail->calls.back(), "did disappear");
    EXPECT_EQ(screen_->currentDetailViewController(), detail);

    // A quick double tap opens nothing.
    Clock::advance(1);
    auto touch = window_->touchDown(centreOf(1));
    window_->touchUp(touch);
    Clock::advance(0.05);
    touch = window_->touchDown(centreOf(1));
    window_->touchUp(touch);
    Clock::advance(1);
    EXPECT_EQ(screen_->opened, std::vector<unsigned long>{4});
}

TEST_F(UIGridViewControllerTest, ClosingANavigationDetailClearsItsTopScreensBars) {
    screen_->inNavigation = true;
    show(10);
    screen_->beforeShow(0);
    Clock::advance(1);
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(screen_->currentDetailViewController());
    ASSERT_TRUE(navigation);
    auto top = navigation->topViewController();
    EXPECT_EQ(top->navigationItem()->title(), "Item 0");
    screen_->hideDetail();
    EXPECT_EQ(top->navigationItem()->title(), "");
    EXPECT_FALSE(top->navigationItem()->rightBarButtonItem());
    EXPECT_FALSE(top->navigationItem()->leftBarButtonItem());
    EXPECT_TRUE(navigation->isToolbarHidden());
    Clock::advance(1);
    EXPECT_FALSE(screen_->selectedCell());
}

TEST_F(UIGridViewControllerTest, AHideTakenOverByAnotherAnimationStillEndsTheDetail) {
    show(10);
    screen_->beforeShow(3);
    Clock::advance(1);
    auto detail = screen_->currentDetailViewController();
    auto cell = screen_->selectedCell();
    auto button = dimming();
    screen_->hideDetail();
    Clock::advance(0.2);
    UIView::animateWithDuration(0.1, 0, UIViewAnimationOptionBeginFromCurrentState,
                                [&] {
                                    cell->setFrame(cell->frame());
                                    cell->setAlpha(1);
                                    detail->view()->setFrame(detail->view()->frame());
                                    detail->view()->setAlpha(0);
                                    button->setBackgroundColor(UIColor::colorWithWhite(0, 0));
                                },
                                nullptr);
    Clock::advance(1);
    EXPECT_FALSE(button->superview());
    EXPECT_FALSE(screen_->selectedCell());
    EXPECT_EQ(screen_->hidden, 1);

    screen_->beforeShow(5);
    EXPECT_EQ(screen_->opened, (std::vector<unsigned long>{3, 5}));
}
