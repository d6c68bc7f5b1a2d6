// Alerts: actions in order, a tap dismissing the alert and running the handler exactly once,
// the single cancel action, text fields, and the older alert view's delegate calls.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIWindow.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

namespace {

class AlertTest : public KeyWindowTest {};

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
