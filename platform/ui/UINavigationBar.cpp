// The navigation bar: items, styling, and the top item's title in the middle.
#include "platform/ui/UINavigationBar.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationItem.h"

#include <algorithm>

UINavigationBar::UINavigationBar(const CGRect& frame) : UIView(frame) {
    titleLabel_ = UILabel::make();
    titleLabel_->setFont(UIFont::boldSystemFontOfSize(17));
    titleLabel_->setTextAlignment(NSTextAlignmentCenter);
    updateBackground();
}

void UINavigationBar::updateBackground() {
    const bool dark = barStyle_ != UIBarStyleDefault;
    setBackgroundColor(barTintColor_ ? barTintColor_ : UIColor::colorWithWhite(dark ? 0.1 : 0.97, 1));
    titleLabel_->setTextColor(dark ? UIColor::whiteColor() : UIColor::blackColor());
}

void UINavigationBar::setItems(std::vector<std::shared_ptr<UINavigationItem>> items, bool) {
    for (auto& old : items_)
        if (std::find(items.begin(), items.end(), old) == items.end()) old->setChangeHandler(nullptr);
    items_ = std::move(items);
    // A title or bar items changed on an item already shown (a pager's page turn) show at once.
    std::weak_ptr<UIView> weak = self<UIView>();
    for (auto& item : items_)
        item->setChangeHandler([weak] {
            if (auto bar = weak.lock()) bar->setNeedsLayout();
        });
    setNeedsLayout();
    layoutIfNeeded();
}

void UINavigationBar::pushNavigationItem(const std::shared_ptr<UINavigationItem>& item, bool animated) {
    if (!item) return;
    auto next = items_;
    next.push_back(item);
    setItems(std::move(next), animated);
}

std::shared_ptr<UINavigationItem> UINavigationBar::popNavigationItemAnimated(bool animated) {
    if (items_.empty()) return nullptr;
    auto top = items_.back();
    auto next = items_;
    next.pop_back();
    setItems(std::move(next), animated);
    return top;
}

std::shared_ptr<UINavigationItem> UINavigationBar::backItem() const {
    return items_.size() < 2 ? nullptr : items_[items_.size() - 2];
}

void UINavigationBar::setBarStyle(UIBarStyle style) {
    barStyle_ = style;
    updateBackground();
}

void UINavigationBar::setBarTintColor(std::shared_ptr<UIColor> color) {
    barTintColor_ = std::move(color);
    updateBackground();
}

void UINavigationBar::layoutSubviews() {
    auto top = topItem();
    auto titleView = top ? top->titleView() : nullptr;
    if (shownTitleView_ && shownTitleView_ != titleView && shownTitleView_->superview().get() == this)
        shownTitleView_->removeFromSuperview();
    shownTitleView_ = titleView;
    const CGRect b = bounds();
    if (titleView) {
        titleLabel_->removeFromSuperview();
        const CGRect f = titleView->frame();
        titleView->setCenter({CGRectGetMidX(b), CGRectGetMidY(b)});
        if (f.size.width <= 0 || f.size.height <= 0) titleView->setFrame(CGRectMake(b.size.width / 4, 0, b.size.width / 2, b.size.height));
        if (titleView->superview().get() != this) addSubview(titleView);
        return;
    }
    titleLabel_->setText(top ? top->title() : "");
    // The middle half of the bar, where no bar buttons sit.
    titleLabel_->setFrame(CGRectMake(b.size.width / 4, 0, b.size.width / 2, b.size.height));
    if (titleLabel_->superview().get() != this) addSubview(titleLabel_);
}
