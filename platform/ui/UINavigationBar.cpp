// The navigation bar: items, styling, and the top item's title in the middle.
#include "platform/ui/UINavigationBar.h"

#include "platform/ui/NSStringDrawing.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIToolbar.h"

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
    // Centred on the bar where it fits between the bar buttons; else moved into the room between
    // them and cut there, never drawn over the back button.
    CGFloat left = b.origin.x + kItemInset, right = CGRectGetMaxX(b) - kItemInset;
    if (top) {
        const CGRect back = backButtonFrame();
        if (!CGRectIsEmpty(back)) left = CGRectGetMaxX(back) + kItemInset;
        for (const auto& item : top->leftBarButtonItems()) left += UIToolbar::naturalWidth(*item) + kItemInset;
        for (const auto& item : top->rightBarButtonItems()) right -= UIToolbar::naturalWidth(*item) + kItemInset;
    }
    const CGFloat room = std::max<CGFloat>(0, right - left);
    const CGFloat width = std::min(room, std::ceil(NSStringSizeWithFont(titleLabel_->text(), titleLabel_->font()).width));
    const CGFloat x = std::clamp(CGRectGetMidX(b) - width / 2, left, std::max(left, right - width));
    titleLabel_->setFrame(CGRectMake(x, b.origin.y, width, b.size.height));
    if (titleLabel_->superview().get() != this) addSubview(titleLabel_);
}

bool UINavigationBar::itemShowsBackButton(const UINavigationItem& top) {
    if (top.hidesBackButton()) return false;
    return top.leftBarButtonItems().empty() || top.leftItemsSupplementBackButton();
}

std::string UINavigationBar::backButtonTitleFor(const UINavigationItem& below) {
    if (auto back = below.backBarButtonItem())
        if (!back->title().empty()) return back->title();
    if (!below.title().empty()) return below.title();
    return "Back";
}

CGRect UINavigationBar::backButtonFrame() const {
    auto top = topItem();
    auto below = backItem();
    if (!top || !below || !itemShowsBackButton(*top)) return CGRectZero;
    const CGRect b = bounds();
    // The chevron takes 20 points before the title.
    const CGFloat text = std::min(NSStringSizeWithFont(backButtonTitleFor(*below), UIFont::systemFontOfSize(17)).width,
                                  b.size.width / 3);
    return CGRectMake(b.origin.x + kItemInset, b.origin.y, 20 + text, b.size.height);
}
