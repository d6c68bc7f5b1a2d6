// Navigation items: plain values with a change hook.
#include "platform/ui/UINavigationItem.h"

std::shared_ptr<UINavigationItem> UINavigationItem::initWithTitle(const std::string& title) {
    auto item = std::make_shared<UINavigationItem>();
    item->title_ = title;
    return item;
}

void UINavigationItem::setTitle(const std::string& title) {
    title_ = title;
    changed();
}

void UINavigationItem::setTitleView(std::shared_ptr<UIView> view) {
    titleView_ = std::move(view);
    changed();
}

std::shared_ptr<UIBarButtonItem> UINavigationItem::leftBarButtonItem() const { return left_.empty() ? nullptr : left_.front(); }

void UINavigationItem::setLeftBarButtonItem(std::shared_ptr<UIBarButtonItem> item, bool) {
    left_.clear();
    if (item) left_.push_back(std::move(item));
    changed();
}

void UINavigationItem::setLeftBarButtonItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool) {
    left_ = std::move(items);
    changed();
}

std::shared_ptr<UIBarButtonItem> UINavigationItem::rightBarButtonItem() const {
    return right_.empty() ? nullptr : right_.front();
}

void UINavigationItem::setRightBarButtonItem(std::shared_ptr<UIBarButtonItem> item, bool) {
    right_.clear();
    if (item) right_.push_back(std::move(item));
    changed();
}

void UINavigationItem::setRightBarButtonItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool) {
    right_ = std::move(items);
    changed();
}

void UINavigationItem::setHidesBackButton(bool hides, bool) {
    hidesBackButton_ = hides;
    changed();
}
