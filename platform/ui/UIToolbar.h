// Toolbars: a row of bar items laid out left to right, flexible spaces sharing what is left,
// over the bar's background.
#pragma once

#include "platform/ui/BarItemViewWatch.h"
#include "platform/ui/UIBarAppearance.h"
#include "platform/ui/UIBarStyle.h"
#include "platform/ui/UIView.h"

#include <memory>
#include <vector>

class UIBarButtonItem;
class UIColor;

class UIToolbar : public UIView {
public:
    static std::shared_ptr<UIToolbar> make() { return std::make_shared<UIToolbar>(); }
    static std::shared_ptr<UIToolbar> initWithFrame(const CGRect& frame) { return std::make_shared<UIToolbar>(frame); }
    UIToolbar();
    explicit UIToolbar(const CGRect& frame);

    const std::vector<std::shared_ptr<UIBarButtonItem>>& items() const { return items_; }
    void setItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated = false);
    void setBarStyle(UIBarStyle style) {
        barStyle_ = style;
        setNeedsDisplay();
    }
    std::shared_ptr<UIColor> barTintColor() const { return barTintColor_; }
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent) {
        translucent_ = translucent;
        setNeedsDisplay();
    }

    // Where each item sits, in the toolbar's coordinates (spaces included).
    std::vector<CGRect> itemFrames() const;
    // The view the toolbar shows for `item` (its custom view, or the button made for it); empty
    // for a space or an item it does not hold.
    std::shared_ptr<UIView> viewForItem(const std::shared_ptr<UIBarButtonItem>& item) const;
    void layoutSubviews() override;
    CGSize sizeThatFits(const CGSize& size) const override;
    // The bar's background: its tint colour, else its appearance's colour, else the light (or,
    // black style, dark) bar, a little see-through while translucent; a transparent
    // appearance draws nothing.
    void drawRect(const CGRect& rect) override;

    // The width a bar item takes: its width when set, its custom view's, else its title's
    // or image's with padding; 0 for a flexible space.
    static CGFloat naturalWidth(const UIBarButtonItem& item);

    // The background for normal scrolling and at the scroll edge (system 13 and later).
    std::shared_ptr<UIToolbarAppearance> standardAppearance() const { return standardAppearance_; }
    void setStandardAppearance(std::shared_ptr<UIToolbarAppearance> appearance) {
        standardAppearance_ = std::move(appearance);
        setNeedsDisplay();
    }
    std::shared_ptr<UIToolbarAppearance> scrollEdgeAppearance() const { return scrollEdgeAppearance_; }
    void setScrollEdgeAppearance(std::shared_ptr<UIToolbarAppearance> appearance) { scrollEdgeAppearance_ = std::move(appearance); }

private:
    std::vector<std::shared_ptr<UIBarButtonItem>> items_;
    // Beside items_: the view shown for each.
    std::vector<std::shared_ptr<UIView>> itemViews_;
    // An item view that changes size lays the toolbar out again.
    ui_detail::BarItemViewWatch itemViewWatch_;
    UIBarStyle barStyle_ = UIBarStyleDefault;
    std::shared_ptr<UIColor> barTintColor_;
    bool translucent_ = true;
    std::shared_ptr<UIToolbarAppearance> standardAppearance_;
    std::shared_ptr<UIToolbarAppearance> scrollEdgeAppearance_;
};
