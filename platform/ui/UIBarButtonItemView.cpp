// Bar buttons as views: made per item, kept while the item stays in its bar.
#include "platform/ui/UIBarButtonItemView.h"

#include "platform/ui/UIBarButtonItem.h"

#include <algorithm>

UIBarButtonItemView::UIBarButtonItemView(std::shared_ptr<UIBarButtonItem> item, bool back)
    : item_(std::move(item)), back_(back) {}

void UIBarButtonItemView::didTapInside() {
    if (item_) item_->sendAction();
}

void UIBarButtonItemView::showItems(UIView& bar, const std::vector<std::shared_ptr<UIBarButtonItem>>& items,
                                   std::vector<std::shared_ptr<UIView>>& shown) {
    std::vector<std::shared_ptr<UIView>> views;
    views.reserve(items.size());
    for (const auto& item : items) {
        std::shared_ptr<UIView> view;
        if (!item || item->isSpace()) {
        } else if (item->customView()) {
            view = item->customView();
        } else {
            for (const auto& old : shown)
                if (auto button = std::dynamic_pointer_cast<UIBarButtonItemView>(old); button && button->item() == item)
                    view = button;
            if (!view) view = std::make_shared<UIBarButtonItemView>(item);
        }
        views.push_back(view);
    }
    for (const auto& old : shown)
        if (old && old->superview().get() == &bar && std::find(views.begin(), views.end(), old) == views.end())
            old->removeFromSuperview();
    for (const auto& view : views)
        if (view && view->superview().get() != &bar) bar.addSubview(view);
    shown = std::move(views);
}
