// A small application for exercising the simulator until the real one is built: a navigation
// stack with a counter, a text field, a switch, an alert and a pushed details screen.
#include "platform/foundation/ClassRegistry.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIWindow.h"

namespace {

class SampleDetailsController : public UIViewController {
public:
    void viewDidLoad() override {
        UIViewController::viewDidLoad();
        setTitle("Details");
        view()->setBackgroundColor(UIColor::whiteColor());
        auto label = UILabel::initWithFrame(CGRectMake(20, 40, 335, 30));
        label->setText("Second screen");
        view()->addSubview(label);
    }
};

class SampleHomeController : public UIViewController {
public:
    void viewDidLoad() override {
        UIViewController::viewDidLoad();
        setTitle("Sample");
        auto v = view();
        v->setBackgroundColor(UIColor::whiteColor());
        auto hello = UILabel::initWithFrame(CGRectMake(20, 20, 335, 30));
        hello->setText("Hello from the sample");
        v->addSubview(hello);
        count_ = UILabel::initWithFrame(CGRectMake(20, 60, 200, 30));
        count_->setText("Taps: 0");
        v->addSubview(count_);
        std::weak_ptr<SampleHomeController> weak = self<SampleHomeController>();
        auto add = [&](const std::string& title, CGFloat y, std::function<void(SampleHomeController&)> action) {
            auto button = UIButton::buttonWithType(UIButtonTypeSystem);
            button->setFrame(CGRectMake(20, y, 150, 44));
            button->setTitle(title, UIControlStateNormal);
            button->addTarget(nullptr,
                              [weak, action](const std::shared_ptr<NSObject>&) {
                                  if (auto self = weak.lock()) action(*self);
                              },
                              UIControlEventTouchUpInside);
            v->addSubview(button);
        };
        add("Count", 100, [](SampleHomeController& c) {
            ++c.taps_;
            c.count_->setText("Taps: " + std::to_string(c.taps_));
        });
        add("Details", 150, [](SampleHomeController& c) {
            c.navigationController()->pushViewController(std::make_shared<SampleDetailsController>(), true);
        });
        add("Ask", 200, [](SampleHomeController& c) {
            auto alert = UIAlertController::alertControllerWithTitle("Question", "Reset the count?",
                                                                     UIAlertControllerStyle::Alert);
            std::weak_ptr<SampleHomeController> w = c.self<SampleHomeController>();
            alert->addAction(UIAlertAction::actionWithTitle("Yes", UIAlertActionStyle::Default, [w](const auto&) {
                if (auto s = w.lock()) {
                    s->taps_ = 0;
                    s->count_->setText("Taps: 0");
                }
            }));
            alert->addAction(UIAlertAction::actionWithTitle("No", UIAlertActionStyle::Cancel, nullptr));
            c.presentViewController(alert, true, nullptr);
        });
        auto field = UITextField::initWithFrame(CGRectMake(20, 260, 335, 30));
        field->setPlaceholder("Your name");
        v->addSubview(field);
        auto sw = UISwitch::initWithFrame(CGRectMake(20, 300, 51, 31));
        v->addSubview(sw);
        // A block of plain colour at a fixed place, for pictures of the screen.
        auto swatch = UIView::initWithFrame(CGRectMake(200, 100, 100, 50));
        swatch->setBackgroundColor(UIColor::redColor());
        v->addSubview(swatch);
        navigationItem()->setRightBarButtonItem(UIBarButtonItem::initWithTitle(
            "Reset", UIBarButtonItemStylePlain, nullptr, [weak](const std::shared_ptr<NSObject>&) {
                if (auto self = weak.lock()) {
                    self->taps_ = 0;
                    self->count_->setText("Taps: 0");
                }
            }));
    }

private:
    std::shared_ptr<UILabel> count_;
    int taps_ = 0;
};

class SimSampleAppDelegate : public UIResponder, public UIApplicationDelegate {
public:
    bool applicationDidFinishLaunchingWithOptions(UIApplication&, const Value::Dictionary&) override {
        window_ = UIWindow::make();
        window_->setRootViewController(UINavigationController::initWithRootViewController(
            std::make_shared<SampleHomeController>()));
        window_->makeKeyAndVisible();
        return true;
    }
    std::shared_ptr<UIWindow> window() const override { return window_; }

private:
    std::shared_ptr<UIWindow> window_;
};

const bool registered = [] {
    ClassRegistry::registerClass("SimSampleAppDelegate", [] { return std::make_shared<SimSampleAppDelegate>(); });
    return true;
}();

}  // namespace
