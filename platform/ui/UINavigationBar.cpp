// The navigation bar: items, styling, and the top item's title in the middle.
#include "platform/ui/UINavigationBar.h"

#include "platform/ui/NSStringDrawing.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIBarButtonItemView.h"
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

std::pair<CGFloat, CGFloat> UINavigationBar::layoutButtons(const std::shared_ptr<UINavigationItem>& top) {
    const CGRect b = bounds();
    CGFloat left = b.origin.x + kItemInset, right = CGRectGetMaxX(b) - kItemInset;
    const CGRect back = backButtonFrame();
    if (!CGRectIsEmpty(back)) {
        if (!backButton_) {
            std::weak_ptr<UINavigationBar> weak = std::static_pointer_cast<UINavigationBar>(shared_from_this());
            auto item = UIBarButtonItem::initWithTitle("", UIBarButtonItemStylePlain, nullptr,
                                                       [weak](const std::shared_ptr<NSObject>&) {
                                                           if (auto bar = weak.lock()) bar->goBack();
                                                       });
            backButton_ = std::make_shared<UIBarButtonItemView>(item, true);
        }
        backButton_->item()->setTitle(backButtonTitleFor(*backItem()));
        backButton_->setFrame(back);
        if (backButton_->superview().get() != this) addSubview(backButton_);
        left = CGRectGetMaxX(back) + kItemInset;
    } else if (backButton_ && backButton_->superview().get() == this) {
        backButton_->removeFromSuperview();
    }
    std::vector<std::shared_ptr<UIBarButtonItem>> items;
    if (top) {
        items = top->leftBarButtonItems();
        items.insert(items.end(), top->rightBarButtonItems().begin(), top->rightBarButtonItems().end());
    }
    UIBarButtonItemView::showItems(*this, items, itemViews_);
    itemViewWatch_.watch(*this, itemViews_);
    shownItems_ = items;
    const std::size_t leftCount = top ? top->leftBarButtonItems().size() : 0;
    const ui_detail::BarItemViewWatch::Placing placing(itemViewWatch_);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const CGFloat w = UIToolbar::naturalWidth(*items[i]);
        const bool onLeft = i < leftCount;
        if (!onLeft) right -= w;
        if (const auto& view = itemViews_[i]) {
            // A custom view keeps its height, centred in the bar.
            const CGFloat h = items[i]->customView() ? std::min(b.size.height, view->frame().size.height) : b.size.height;
            view->setFrame(CGRectMake(onLeft ? left : right, b.origin.y + (b.size.height - h) / 2, w, h));
        }
        if (onLeft) left += w + kItemInset;
        else right -= kItemInset;
    }
    return {left, right};
}

void UINavigationBar::goBack() {
    if (backAction_) backAction_();
    else popNavigationItemAnimated(true);
}

std::shared_ptr<UIView> UINavigationBar::backButton() const {
    return backButton_ && backButton_->superview().get() == this ? backButton_ : nullptr;
}

std::shared_ptr<UIView> UINavigationBar::viewForItem(const std::shared_ptr<UIBarButtonItem>& item) const {
    for (std::size_t i = 0; i < shownItems_.size() && i < itemViews_.size(); ++i)
        if (shownItems_[i] == item) return itemViews_[i];
    return nullptr;
}

void UINavigationBar::layoutSubviews() {
    auto top = topItem();
    const auto [left, right] = layoutButtons(top);
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
