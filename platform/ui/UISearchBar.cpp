// Search bars: editing and the delegate calls a person's actions make.
#include "platform/ui/UISearchBar.h"

#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIBarButtonItemView.h"
#include "platform/ui/UITouch.h"

namespace {
// The Cancel button's width, and the gap after it at the bar's right end.
constexpr CGFloat kCancelWidth = 64;
constexpr CGFloat kCancelInset = 8;
}  // namespace

std::shared_ptr<UISearchBar> UISearchBar::self() { return std::static_pointer_cast<UISearchBar>(shared_from_this()); }

void UISearchBar::setText(const std::string& text) {
    text_ = text;
    setNeedsDisplay();
}

void UISearchBar::setShowsCancelButton(bool shows, bool animated) {
    (void)animated;
    showsCancelButton_ = shows;
    if (shows && !cancelButton_) {
        std::weak_ptr<UISearchBar> weak = self();
        auto item = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemCancel, nullptr,
                                                                 [weak](const std::shared_ptr<NSObject>&) {
                                                                     if (auto bar = weak.lock()) bar->cancelButtonClicked();
                                                                 });
        cancelButton_ = std::make_shared<UIBarButtonItemView>(item);
    }
    setNeedsLayout();
    layoutIfNeeded();
}

std::shared_ptr<UIView> UISearchBar::cancelButton() const {
    return showsCancelButton_ ? cancelButton_ : nullptr;
}

void UISearchBar::layoutSubviews() {
    if (!cancelButton_) return;
    if (!showsCancelButton_) {
        cancelButton_->removeFromSuperview();
        return;
    }
    const CGRect b = bounds();
    cancelButton_->setFrame(CGRectMake(CGRectGetMaxX(b) - kCancelInset - kCancelWidth, b.origin.y, kCancelWidth, b.size.height));
    if (cancelButton_->superview().get() != this) addSubview(cancelButton_);
}

template <class Call>
void UISearchBar::tell(Call call) {
    auto d = delegate();
    if (d) call(*d);
    auto owner = ownerObserver_.lock();
    if (owner && owner != d) call(*owner);
}

bool UISearchBar::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    auto d = delegate();
    if (d && !d->searchBarShouldBeginEditing(self())) return false;
    if (!UIView::becomeFirstResponder()) return false;
    tell([&](UISearchBarDelegate& x) { x.searchBarTextDidBeginEditing(self()); });
    return true;
}

void UISearchBar::touchesBegan(const UITouchList&, const std::shared_ptr<UIEvent>&) { touched_ = true; }

void UISearchBar::touchesCancelled(const UITouchList&, const std::shared_ptr<UIEvent>&) { touched_ = false; }

void UISearchBar::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (!touched_) return;
    touched_ = false;
    if (!touches.empty() && !pointInside(touches.front()->locationInView(self()), event)) return;
    (void)becomeFirstResponder();
}

bool UISearchBar::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    auto d = delegate();
    if (d && !d->searchBarShouldEndEditing(self())) return false;
    if (!UIView::resignFirstResponder()) return false;
    tell([&](UISearchBarDelegate& x) { x.searchBarTextDidEndEditing(self()); });
    return true;
}

bool UISearchBar::simulateTyping(const std::string& text) {
    if (!isFirstResponder() && !becomeFirstResponder()) return false;
    text_ += text;
    setNeedsDisplay();
    tell([&](UISearchBarDelegate& x) { x.textDidChange(self(), text_); });
    return true;
}

bool UISearchBar::simulateReplaceText(const std::string& text) {
    if (!isFirstResponder() && !becomeFirstResponder()) return false;
    if (text == text_) return true;
    text_ = text;
    setNeedsDisplay();
    tell([&](UISearchBarDelegate& x) { x.textDidChange(self(), text_); });
    return true;
}

void UISearchBar::simulateSearchButton() {
    if (auto d = delegate()) d->searchBarSearchButtonClicked(self());
}

void UISearchBar::simulateCancelButton() { cancelButtonClicked(); }

void UISearchBar::cancelButtonClicked() {
    if (!showsCancelButton_) return;
    tell([&](UISearchBarDelegate& x) { x.searchBarCancelButtonClicked(self()); });
}

void UISearchBar::simulateScopeTap(long index) {
    if (index < 0 || index >= static_cast<long>(scopeTitles_.size()) || index == selectedScope_) return;
    selectedScope_ = index;
    if (auto d = delegate()) d->selectedScopeButtonIndexDidChange(self(), index);
}

CGSize UISearchBar::sizeThatFits(const CGSize& size) const {
    return {size.width, showsScopeBar_ && !scopeTitles_.empty() ? 100.0 : 56.0};
}
