// Legacy alerts: a list of showing alerts that keeps them alive until answered.
#include "platform/ui/UIAlertView.h"

#include "platform/ui/NSStringDrawing.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>

namespace {

constexpr CGFloat kBoxWidth = 270;
constexpr CGFloat kTextWidth = 238;
constexpr CGFloat kButtonHeight = 44;

// The height of `text` wrapped to the box, at most `lines` lines; 0 for no text.
CGFloat textHeight(const std::string& text, const std::shared_ptr<UIFont>& font, std::size_t lines) {
    if (text.empty()) return 0;
    return font->lineHeight() *
           static_cast<CGFloat>(NSStringLayoutLines(text, font, kTextWidth, NSLineBreakByWordWrapping, lines).size());
}

std::vector<std::shared_ptr<UIAlertView>>& showing() {
    static auto* list = new std::vector<std::shared_ptr<UIAlertView>>;  // main thread only; never destroyed
    return *list;
}

}  // namespace

std::shared_ptr<UIAlertView> UIAlertView::initWithTitle(const std::string& title, const std::string& message,
                                                        const std::shared_ptr<UIAlertViewDelegate>& delegate,
                                                        const std::string& cancelButtonTitle,
                                                        const std::vector<std::string>& otherButtonTitles) {
    auto alert = std::make_shared<UIAlertView>();
    alert->title_ = title;
    alert->message_ = message;
    alert->delegate_ = delegate;
    if (!cancelButtonTitle.empty()) alert->cancelIndex_ = alert->addButtonWithTitle(cancelButtonTitle);
    for (const auto& t : otherButtonTitles) alert->addButtonWithTitle(t);
    return alert;
}

long UIAlertView::addButtonWithTitle(const std::string& title) {
    buttons_.push_back(title);
    return static_cast<long>(buttons_.size()) - 1;
}

std::string UIAlertView::buttonTitleAtIndex(long index) const {
    if (index < 0 || index >= numberOfButtons()) return "";
    return buttons_[static_cast<std::size_t>(index)];
}

long UIAlertView::firstOtherButtonIndex() const {
    for (long i = 0; i < numberOfButtons(); ++i)
        if (i != cancelIndex_) return i;
    return -1;
}

void UIAlertView::makeWindow() {
    const CGRect screen = UIScreen::mainScreen()->bounds();
    // Not one of the application's windows: it comes and goes with the alert.
    window_ = std::make_shared<UIWindow>(screen);
    window_->setWindowLevel(UIWindowLevelAlert);
    window_->setBackgroundColor(UIColor::colorWithWhite(0, 0.4));
    // As tall as what it holds: no room for a missing title.
    const CGFloat title = textHeight(title_, UIFont::boldSystemFontOfSize(17), 3);
    const CGFloat message = textHeight(message_, UIFont::systemFontOfSize(13), 8);
    const CGFloat text = title + message + (title > 0 && message > 0 ? 6 : 0);
    const std::size_t count = buttons_.size();
    const CGFloat buttons = kButtonHeight * static_cast<CGFloat>(count > 2 ? count : 1);
    const CGFloat height = 20 + text + 20 + buttons;
    auto box = UIView::initWithFrame(CGRectMake((screen.size.width - kBoxWidth) / 2,
                                                std::max<CGFloat>(0, (screen.size.height - height) / 2), kBoxWidth, height));
    box->setBackgroundColor(UIColor::colorWithWhite(0.97, 1));
    box->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                             UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin);
    window_->addSubview(box);
    buttonViews_.clear();
    std::weak_ptr<UIAlertView> weak = std::static_pointer_cast<UIAlertView>(shared_from_this());
    const CGFloat top = height - buttons;
    const CGFloat width = count == 2 ? kBoxWidth / 2 : kBoxWidth;
    for (std::size_t i = 0; i < count; ++i) {
        auto button = UIButton::buttonWithType(UIButtonTypeSystem);
        button->setTitle(buttons_[i], UIControlStateNormal);
        const CGFloat x = count == 2 ? width * static_cast<CGFloat>(i) : 0;
        const CGFloat y = count > 2 ? top + kButtonHeight * static_cast<CGFloat>(i) : top;
        button->setFrame(CGRectMake(x, y, width, kButtonHeight));
        const long index = static_cast<long>(i);
        button->addTarget(nullptr,
                          [weak, index](const std::shared_ptr<NSObject>&) {
                              if (auto alert = weak.lock()) (void)alert->tapButtonAtIndex(index);
                          },
                          UIControlEventTouchUpInside);
        box->addSubview(button);
        buttonViews_.push_back(button);
    }
    window_->setHidden(false);
}

std::shared_ptr<UIView> UIAlertView::buttonAtIndex(long index) const {
    if (index < 0 || index >= static_cast<long>(buttonViews_.size())) return nullptr;
    return buttonViews_[static_cast<std::size_t>(index)];
}

void UIAlertView::show() {
    if (visible_) return;
    visible_ = true;
    makeWindow();
    showing().push_back(std::static_pointer_cast<UIAlertView>(shared_from_this()));
    UIAlertModality::alertShown(shared_from_this());
}

bool UIAlertView::tapButtonAtIndex(long index) {
    if (!visible_ || index < 0 || index >= numberOfButtons()) return false;
    // An alert that came later lies over this one and takes the touches.
    if (!UIAlertModality::isTopAlert(this)) return false;
    auto self = std::static_pointer_cast<UIAlertView>(shared_from_this());
    if (auto d = delegate()) d->alertViewClickedButtonAtIndex(*this, index);
    dismissWithClickedButtonIndex(index, true);
    return true;
}

void UIAlertView::dismissWithClickedButtonIndex(long index, bool) {
    if (!visible_) return;
    auto self = std::static_pointer_cast<UIAlertView>(shared_from_this());
    if (auto d = delegate()) d->alertViewWillDismissWithButtonIndex(*this, index);
    visible_ = false;
    if (window_) window_->setHidden(true);
    window_.reset();
    buttonViews_.clear();
    auto& list = showing();
    list.erase(std::remove(list.begin(), list.end(), self), list.end());
    UIAlertModality::alertEnded(this);
    if (auto d = delegate()) d->alertViewDidDismissWithButtonIndex(*this, index);
}

std::vector<std::shared_ptr<UIAlertView>> UIAlertView::visibleAlertViews() { return showing(); }

void UIAlertView::forgetVisibleAlertViews() {
    for (const auto& alert : showing()) {
        alert->visible_ = false;
        alert->window_.reset();
        alert->buttonViews_.clear();
    }
    showing().clear();
}
