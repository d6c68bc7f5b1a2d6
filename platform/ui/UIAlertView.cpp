// Legacy alerts: a list of showing alerts that keeps them alive until answered.
#include "platform/ui/UIAlertView.h"

#include "platform/ui/UIAlertModality.h"

#include <algorithm>

namespace {

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

void UIAlertView::show() {
    if (visible_) return;
    visible_ = true;
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
    auto& list = showing();
    list.erase(std::remove(list.begin(), list.end(), self), list.end());
    UIAlertModality::alertEnded(this);
    if (auto d = delegate()) d->alertViewDidDismissWithButtonIndex(*this, index);
}

std::vector<std::shared_ptr<UIAlertView>> UIAlertView::visibleAlertViews() { return showing(); }

void UIAlertView::forgetVisibleAlertViews() {
    for (const auto& alert : showing()) alert->visible_ = false;
    showing().clear();
}
