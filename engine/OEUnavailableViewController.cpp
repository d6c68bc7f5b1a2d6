// The screen standing in for one that cannot be built.
#include "engine/OEUnavailableViewController.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UILabel.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<OEUnavailableViewController> OEUnavailableViewController::initWithTitle(
    const std::string& title, const std::string& message, OEColorConfig::Color background) {
    auto screen = std::make_shared<OEUnavailableViewController>();
    screen->setTitle(title);
    screen->message_ = message;
    screen->background_ = background;
    return screen;
}

void OEUnavailableViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    const auto& c = background_;
    const auto background = UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha);
    view()->setBackgroundColor(background);
    sideMenu_addButton(self<OEUnavailableViewController>(), background);
    const CGFloat margin = 20;
    const CGRect bounds = view()->bounds();
    label_ = UILabel::initWithFrame(CGRectMake(margin, 0, bounds.size.width - 2 * margin, bounds.size.height));
    label_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    label_->setNumberOfLines(0);
    label_->setTextAlignment(NSTextAlignmentCenter);
    label_->setText(message_);
    view()->addSubview(label_);
}
