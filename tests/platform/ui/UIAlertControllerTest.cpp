// Alerts: actions in order, a tap dismissing the alert and running the handler exactly once,
// the single cancel action, text fields (the first takes the typing while the alert is up), the
// button of each action, and the older alert view's delegate calls. An alert is
// modal: it takes every touch until it is answered, the newest of two first, and a screen
// presented from under it waits until it has gone.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIWindow.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

namespace {

class AlertTest : public KeyWindowTest {};

// One section of rows; taps are counted.
class Rows : public NSObject, public UITableViewDataSource, public UITableViewDelegate {
public:
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return 3; }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath&) override {
        return UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "row");
    }
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { ++taps; }
    int taps = 0;
};

std::shared_ptr<UIAlertController> question(const std::string& title, int* answered) {
    auto alert = UIAlertController::alertControllerWithTitle(title, "", UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle("Ok", UIAlertActionStyle::Default, [answered](const auto&) {
        if (answered) ++*answered;
    }));
    return alert;
}

class Listener : public NSObject, public UIAlertViewDelegate {
public:
    std::vector<std::string> calls;
    void alertViewClickedButtonAtIndex(UIAlertView&, long i) override { calls.push_back("clicked " + std::to_string(i)); }
    void alertViewWillDismissWithButtonIndex(UIAlertView&, long i) override {
        calls.push_back("will " + std::to_string(i));
    }
    void alertViewDidDismissWithButtonIndex(UIAlertView&, long i) override { calls.push_back("did " + std::to_string(i)); }
};

}  // namespace

TEST_F(AlertTest, TappedActionDismissesTheAlertAndRunsItsHandlerOnce) {
    int oks = 0, cancels = 0;
    auto alert = UIAlertController::alertControllerWithTitle("Attention", "Delete it?", UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle("Ok", UIAlertActionStyle::Default, [&](const auto&) { ++oks; }));
    alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel, [&](const auto&) { ++cancels; }));
    alert->addAction(UIAlertAction::actionWithTitle("Again", UIAlertActionStyle::Cancel, nullptr));  // refused
    ASSERT_EQ(alert->actions().size(), 2u);
    EXPECT_EQ(alert->actions()[0]->title(), "Ok");
    EXPECT_EQ(alert->actions()[1]->style(), UIAlertActionStyle::Cancel);

    root->presentViewController(alert, true, nullptr);
    Clock::advance(1);
    EXPECT_EQ(root->presentedViewController(), alert);
    EXPECT_EQ(alert->view()->window(), window);
    EXPECT_EQ(root->view()->window(), window);  // an alert leaves its presenter on screen

    EXPECT_TRUE(alert->tapActionWithTitle("Ok"));
    EXPECT_EQ(oks, 1);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(alert->view()->superview(), nullptr);
    EXPECT_FALSE(alert->tapActionAtIndex(0));
    EXPECT_FALSE(alert->tapActionAtIndex(1));
    EXPECT_FALSE(alert->actions()[0]->perform());
    EXPECT_EQ(oks, 1);
    EXPECT_EQ(cancels, 0);
}

TEST_F(AlertTest, AlertButtonsTapActionsThroughTheViewTree) {
    std::string chosen;
    auto sheet = UIAlertController::alertControllerWithTitle("", "", UIAlertControllerStyle::ActionSheet);
    for (const std::string title : {"Save", "Mail", "Share"})
        sheet->addAction(UIAlertAction::actionWithTitle(title, UIAlertActionStyle::Default,
                                                        [&chosen, title](const auto&) { chosen = title; }));
    root->presentViewController(sheet, false, nullptr);
    std::vector<std::shared_ptr<UIButton>> buttons;
    std::function<void(const std::shared_ptr<UIView>&)> collect = [&](const std::shared_ptr<UIView>& v) {
        if (auto b = std::dynamic_pointer_cast<UIButton>(v)) buttons.push_back(b);
        for (const auto& s : v->subviews()) collect(s);
    };
    collect(sheet->view());
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(buttons[1]->currentTitle(), "Mail");
    const CGRect f = buttons[1]->convertRectToView(buttons[1]->bounds(), nullptr);
    window->tap({CGRectGetMidX(f), CGRectGetMidY(f)});
    EXPECT_EQ(chosen, "Mail");
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(AlertTest, TextFieldsOnlyOnAlertsAndConfiguredInOrder) {
    auto alert = UIAlertController::alertControllerWithTitle("", "New Playlist", UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler([](const auto& field) { field->setPlaceholder("Name"); });
    ASSERT_EQ(alert->textFields().size(), 1u);
    EXPECT_EQ(alert->textFields()[0]->placeholder(), "Name");
    auto sheet = UIAlertController::alertControllerWithTitle("", "", UIAlertControllerStyle::ActionSheet);
    sheet->addTextFieldWithConfigurationHandler(nullptr);
    EXPECT_TRUE(sheet->textFields().empty());
}

TEST_F(AlertTest, TheFirstFieldTakesTheTypingAsTheAlertAppearsAndGivesItUpAsItGoes) {
    auto alert = UIAlertController::alertControllerWithTitle("", "New Playlist", UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler(nullptr);
    alert->addTextFieldWithConfigurationHandler(nullptr);
    alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, nullptr));
    root->presentViewController(alert, true, nullptr);
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(alert->textFields()[0]->isFirstResponder());
    // Each action's button is where a finger answers with it.
    ASSERT_TRUE(alert->viewForActionAtIndex(0));
    EXPECT_EQ(std::dynamic_pointer_cast<UIButton>(alert->viewForActionAtIndex(0))->currentTitle(), "OK");
    EXPECT_FALSE(alert->viewForActionAtIndex(1));
    ASSERT_TRUE(alert->tapActionAtIndex(0));
    EXPECT_EQ(UIResponder::currentFirstResponder(), nullptr);
}

TEST_F(AlertTest, AlertViewTellsItsDelegateAndStaysAliveUntilAnswered) {
    auto listener = std::make_shared<Listener>();
    std::weak_ptr<UIAlertView> weak;
    {
        auto alert = UIAlertView::initWithTitle("News", "A message", listener, "", {});
        alert->addButtonWithTitle("Open");
        alert->addButtonWithTitle("Later");
        alert->setCancelButtonIndex(1);
        alert->show();
        weak = alert;
    }
    ASSERT_FALSE(weak.expired());
    ASSERT_EQ(UIAlertView::visibleAlertViews().size(), 1u);
    EXPECT_FALSE(weak.lock()->tapButtonAtIndex(5));
    EXPECT_TRUE(weak.lock()->tapButtonAtIndex(0));
    EXPECT_EQ(listener->calls, (std::vector<std::string>{"clicked 0", "will 0", "did 0"}));
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
}

TEST_F(AlertTest, AnAlertTakesEveryTouchUntilOneOfItsActionsEndsIt) {
    auto button = UIButton::buttonWithType(UIButtonTypeSystem);
    button->setFrame(CGRectMake(20, 100, 120, 44));
    int pressed = 0;
    button->addTarget(nullptr, [&](const auto&) { ++pressed; }, UIControlEventTouchUpInside);
    auto rows = std::make_shared<Rows>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 200, 320, 200));
    table->setDataSource(rows);
    table->setDelegate(rows);
    root->view()->addSubview(button);
    root->view()->addSubview(table);
    table->reloadData();
    int barTaps = 0;
    auto item = UIBarButtonItem::initWithTitle("Edit", UIBarButtonItemStylePlain, nullptr, [&](const auto&) { ++barTaps; });
    const CGPoint centre{80, 122};

    int answered = 0;
    auto alert = question("Attention", &answered);
    root->presentViewController(alert, true, nullptr);
    EXPECT_TRUE(UIAlertModality::isAlertUp());
    // Under it, nothing takes a touch: not through the window, nor a control, a row or a bar item.
    window->tap(centre);
    button->simulateTap();
    table->simulateTapOnRow({0, 1});
    item->simulateTap();
    EXPECT_EQ(pressed, 0);
    EXPECT_EQ(rows->taps, 0);
    EXPECT_EQ(barTaps, 0);
    Clock::advance(1);
    window->tap(centre);
    EXPECT_EQ(pressed, 0);

    // Its own action ends it; then touches reach the screen again.
    EXPECT_TRUE(alert->tapActionWithTitle("Ok"));
    EXPECT_EQ(answered, 1);
    EXPECT_FALSE(UIAlertModality::isAlertUp());
    window->tap(centre);
    table->simulateTapOnRow({0, 1});
    item->simulateTap();
    EXPECT_EQ(pressed, 1);
    EXPECT_EQ(rows->taps, 1);
    EXPECT_EQ(barTaps, 1);

    // The older alert view is modal too, and of two alerts only the newer is answered.
    auto older = question("Older", &answered);
    root->presentViewController(older, false, nullptr);
    auto newer = UIAlertView::initWithTitle("Newer", "", nullptr, "OK", {});
    newer->show();
    EXPECT_EQ(UIAlertModality::topAlert(), newer);
    button->simulateTap();
    EXPECT_EQ(pressed, 1);
    EXPECT_FALSE(older->tapActionAtIndex(0));
    EXPECT_EQ(root->presentedViewController(), older);
    EXPECT_TRUE(newer->tapButtonAtIndex(0));
    EXPECT_TRUE(older->tapActionAtIndex(0));
    EXPECT_EQ(answered, 2);
    EXPECT_FALSE(UIAlertModality::isAlertUp());
    button->simulateTap();
    EXPECT_EQ(pressed, 2);
}

TEST_F(AlertTest, AScreenPresentedFromUnderAnAlertWaitsUntilTheAlertHasGone) {
    int answered = 0;
    auto alert = question("Attention", &answered);
    root->presentViewController(alert, true, nullptr);
    Clock::advance(1);

    // A second alert and a screen, asked for while the first is up: neither comes yet.
    auto second = question("Second", &answered);
    auto screen = UIViewController::make();
    root->presentViewController(second, true, nullptr);
    EXPECT_EQ(UIAlertModality::waitingCount(), 1u);
    EXPECT_EQ(root->presentedViewController(), alert);
    EXPECT_FALSE(second->isViewLoaded() && second->view()->window());

    // Answered: the second alert comes once its action has run; a screen asked for meanwhile
    // goes behind it, and waits for it in turn.
    bool screenShown = false;
    EXPECT_TRUE(alert->tapActionAtIndex(0));
    root->presentViewController(screen, false, [&] { screenShown = true; });
    EXPECT_EQ(UIAlertModality::waitingCount(), 2u);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    Clock::advance(1);
    EXPECT_EQ(root->presentedViewController(), second);
    EXPECT_EQ(UIAlertModality::topAlert(), second);
    EXPECT_FALSE(screenShown);
    EXPECT_EQ(UIAlertModality::waitingCount(), 1u);

    EXPECT_TRUE(second->tapActionAtIndex(0));
    EXPECT_EQ(answered, 2);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    Clock::advance(1);
    EXPECT_EQ(root->presentedViewController(), screen);
    EXPECT_TRUE(screenShown);
    EXPECT_EQ(UIAlertModality::waitingCount(), 0u);

    // With nothing up, a presentation goes at once.
    root->dismissViewControllerAnimated(false, nullptr);
    EXPECT_FALSE(UIAlertModality::isAlertUp());
    auto another = UIViewController::make();
    root->presentViewController(another, false, nullptr);
    EXPECT_EQ(root->presentedViewController(), another);
}

TEST_F(AlertTest, AFreshApplicationForgetsTheAlertsAndWhatWaitedForThem) {
    UIAlertView::initWithTitle("Left", "", nullptr, "OK", {})->show();
    auto later = UIViewController::make();
    root->presentViewController(later, false, nullptr);
    EXPECT_EQ(UIAlertModality::waitingCount(), 1u);
    UIApplication::sharedApplication()->reset();
    EXPECT_FALSE(UIAlertModality::isAlertUp());
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
    EXPECT_EQ(UIAlertModality::waitingCount(), 0u);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(later->isViewLoaded());
}

TEST_F(AlertTest, TheFieldWhoseFocusAnAlertTookHasItAgainOnceTheAlertHasGone) {
    auto field = UITextField::initWithFrame(CGRectMake(20, 100, 280, 30));
    root->view()->addSubview(field);
    auto settle = [] { NSRunLoop::mainRunLoop()->runUntilIdle(); };
    // A Done that ends the editing, then finds the address wanting and says so.
    auto complain = [&] {
        ASSERT_TRUE(field->resignFirstResponder());
        root->presentViewController(question("Enter e-mail address", nullptr), false, nullptr);
    };
    ASSERT_TRUE(field->becomeFirstResponder());
    complain();
    auto alert = std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_FALSE(field->isFirstResponder());
    ASSERT_TRUE(alert->tapActionAtIndex(0));
    settle();
    EXPECT_TRUE(field->isFirstResponder());

    // An alert whose own field took the typing gives it back too; an alert view as well.
    auto name = UIAlertController::alertControllerWithTitle("", "New Playlist", UIAlertControllerStyle::Alert);
    name->addTextFieldWithConfigurationHandler(nullptr);
    name->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, nullptr));
    root->presentViewController(name, false, nullptr);
    settle();
    EXPECT_TRUE(name->textFields()[0]->isFirstResponder());
    ASSERT_TRUE(name->tapActionAtIndex(0));
    settle();
    EXPECT_TRUE(field->isFirstResponder());
    auto news = UIAlertView::initWithTitle("News", "", nullptr, "OK", {});
    ASSERT_TRUE(field->resignFirstResponder());
    news->show();
    ASSERT_TRUE(news->tapButtonAtIndex(0));
    settle();
    EXPECT_TRUE(field->isFirstResponder());

    // The focus put away on an earlier turn was no alert's to take.
    ASSERT_TRUE(field->resignFirstResponder());
    settle();
    root->presentViewController(question("Saved", nullptr), false, nullptr);
    ASSERT_TRUE(std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController())->tapActionAtIndex(0));
    settle();
    EXPECT_FALSE(field->isFirstResponder());

    // Nor does a field that left the screen with the alert's action take it back.
    ASSERT_TRUE(field->becomeFirstResponder());
    complain();
    alert = std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    ASSERT_TRUE(alert);
    field->removeFromSuperview();
    ASSERT_TRUE(alert->tapActionAtIndex(0));
    settle();
    EXPECT_FALSE(field->isFirstResponder());
}
