// The activity overlay: the box, spinner, message label and buttons, and the reminders' pause.
#include "uikit/ActivityView.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/CALayer.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIWindow.h"
#include "uikit/RemindManager.h"
#include "uikit/UIViewToast.h"

#include <cstdio>
#include <mutex>
#include <typeinfo>

namespace {

constexpr unsigned kFlexibleMargins = UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                                      UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin;

// The key window when it is a plain window, else the last window of the application.
std::shared_ptr<UIWindow> hostWindow() {
    auto application = UIApplication::sharedApplication();
    if (!application) return nullptr;
    auto key = application->keyWindow();
    if (key) {
        const UIWindow& window = *key;
        if (typeid(window) == typeid(UIWindow)) return key;
    }
    const auto windows = application->windows();
    return windows.empty() ? nullptr : windows.back();
}

std::shared_ptr<UILabel> messageLabel(const std::shared_ptr<UIView>& box) {
    for (const auto& subview : box->subviews()) {
        if (subview->tag() == ActivityView::kMessageLabelTag) {
            if (auto label = std::dynamic_pointer_cast<UILabel>(subview)) return label;
        }
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<ActivityView> ActivityView::sharedActivityView() {
    static std::once_flag once;
    static std::shared_ptr<ActivityView> shared;
    std::call_once(once, [] { shared = make(); });
    return shared;
}

std::shared_ptr<ActivityView> ActivityView::make() {
    auto view = std::make_shared<ActivityView>();
    NSNotificationCenter::defaultCenter()->addObserver(view, &ActivityView::deviceOrientationDidChange,
                                                       UIDeviceOrientationDidChangeNotification);
    return view;
}

void ActivityView::removeObservers() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

void ActivityView::showActivityIndicator() {
    if (activityView_) return;
    RemindManager::sharedRemindManager()->suspend();

    const auto window = hostWindow();
    const CGRect windowBounds = window ? window->bounds() : CGRect{};
    centerView_ = UIView::initWithFrame({{(windowBounds.size.width - kBoxSide) / 2,
                                          (windowBounds.size.height - kBoxSide) / 2},
                                         {kBoxSide, kBoxSide}});
    centerView_->setAutoresizingMask(kFlexibleMargins);
    centerView_->setTransform(transformForOrientation());

    activityView_ = UIView::initWithFrame(windowBounds);
    activityView_->setBackgroundColor(UIColor::colorWithWhite(0.0, 0.75));
    activityView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);

    auto spinner = showLargeWhiteActivityIndicator(centerView_, true);
    // Constraints place it on the next layout pass; the message label needs its place now.
    const CGSize side = spinner->bounds().size;
    spinner->setFrame({{(kBoxSide - side.width) / 2, (kBoxSide - side.height) / 2}, side});

    activityView_->addSubview(centerView_);
    if (window) window->addSubview(activityView_);
}

void ActivityView::showActivityIndicatorWithMessage(const std::string& message) {
    showActivityIndicator();
    auto label = messageLabel(centerView_);
    if (!label) {
        const auto& spinner = centerView_->subviews().front();
        const CGFloat spinnerTop = (centerView_->bounds().size.height - spinner->bounds().size.height) / 2;
        label = UILabel::initWithFrame({{0, spinnerTop + 24}, {centerView_->bounds().size.width, 45}});
        label->setBackgroundColor(UIColor::clearColor());
        label->setTextColor(UIColor::whiteColor());
        label->setTextAlignment(NSTextAlignmentCenter);
        label->setAutoresizingMask(UIViewAutoresizingNone);
        label->setTag(kMessageLabelTag);
        const auto device = UIDevice::currentDevice();
        const bool pad = device->canReportUserInterfaceIdiom() &&
                         device->userInterfaceIdiom() != UIUserInterfaceIdiom::Phone;
        label->setFont(UIFont::systemFontOfSize(pad ? 14 : 12));
        label->layer()->setOpacity(1.0f);
        label->setNumberOfLines(3);
        centerView_->addSubview(label);
    }
    label->setText(message);
}

void ActivityView::setMessageForActivityIndicator(const std::string& message) {
    if (!activityView_) return;
    showActivityIndicatorWithMessage(message);
}

void ActivityView::addButton(const std::shared_ptr<UIButton>& button) {
    if (!activityView_ || !button) return;
    const CGSize box = centerView_->bounds().size;
    const CGSize size = button->bounds().size;
    float y;
    if (auto label = messageLabel(centerView_)) {
        const CGRect frame = label->frame();
        y = static_cast<float>(frame.origin.y + frame.size.height) + 10.0f;
    } else {
        const float half = static_cast<float>(box.height) / 2.0f;
        y = (half - static_cast<float>(size.height)) / 2.0f + half;
    }
    const float x = (static_cast<float>(box.width) - static_cast<float>(size.width)) / 2.0f;
    button->setAutoresizingMask(UIViewAutoresizingNone);
    button->setFrame({{x, y}, size});
    centerView_->addSubview(button);
}

std::shared_ptr<UIButton> ActivityView::addCancelButton() {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame({{0, 0}, {190, 50}});
    button->setTitle(NSLocalizedStringFromTable("Cancel", "Core"), UIControlStateNormal);
    if (auto image = UIImage::imageNamed("br280x50.png")) {
        auto background = image->resizableImageWithCapInsets({20, 20, 20, 20});
        button->setBackgroundImage(background, UIControlStateNormal);
        button->setBackgroundImage(background, UIControlStateHighlighted);
    }
    addButton(button);
    return button;
}

void ActivityView::hideActivityIndicator() {
    Diagnostics::note("Hide activity");
    if (!activityView_) return;
    if (!centerView_->subviews().empty()) {
        if (auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(centerView_->subviews().front())) {
            spinner->stopAnimating();
        }
    }
    activityView_->removeFromSuperview();
    activityView_.reset();
    RemindManager::sharedRemindManager()->resume();
}

CGAffineTransform ActivityView::transformForOrientation() const { return CGAffineTransformIdentity; }

void ActivityView::deviceOrientationDidChange(const NSNotification&) {
    if (!activityView_) return;
    auto box = centerView_;
    const CGAffineTransform transform = transformForOrientation();
    UIView::animateWithDuration(UIApplication::sharedApplication()->statusBarOrientationAnimationDuration(),
                                [box, transform] { box->setTransform(transform); });
}
