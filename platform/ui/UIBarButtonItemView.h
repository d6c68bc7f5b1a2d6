// The button a bar shows for a bar item that has no view of its own (and the navigation bar's
// back button, and a search bar's Cancel): it draws the item's image, its system glyph or its
// title in the tint colour, with no subviews. A tap inside runs the item's action.
#pragma once

#include "platform/ui/UIControl.h"

#include <memory>
#include <vector>

class UIBarButtonItem;

class UIBarButtonItemView : public UIControl {
public:
    // `back`: drawn as a back button, a chevron before the title.
    explicit UIBarButtonItemView(std::shared_ptr<UIBarButtonItem> item, bool back = false);

    const std::shared_ptr<UIBarButtonItem>& item() const { return item_; }
    bool isBackButton() const { return back_; }

    // The views standing for `items` in `bar`, in order: an item's custom view, else the button
    // `shown` already had for it, else a new one; none for spaces. Views of `shown` that no
    // longer stand for an item leave the bar, the new ones join it; `shown` becomes the result.
    static void showItems(UIView& bar, const std::vector<std::shared_ptr<UIBarButtonItem>>& items,
                          std::vector<std::shared_ptr<UIView>>& shown);

    // A back button's chevron and title; else the item's image, its system glyph (a trash can,
    // the refresh arrow) or its title, centred, grey while the item is disabled.
    void drawRect(const CGRect& rect) override;

protected:
    void didTapInside() override;
    // The item tells the buttons showing it when what they draw changes.
    void didMoveToSuperview() override;
    void tintColorDidChange() override;

private:
    std::shared_ptr<UIBarButtonItem> item_;
    bool back_;
};
