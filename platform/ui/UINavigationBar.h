// The bar at the top of a navigation stack: the stack's navigation items (the top one's title
// is shown in the middle), bar style, tint colours and translucency.
#pragma once

#include "platform/ui/BarItemViewWatch.h"
#include "platform/ui/UIBarAppearance.h"
#include "platform/ui/UIBarStyle.h"
#include "platform/ui/UIView.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class UIBarButtonItem;
class UIBarButtonItemView;
class UIColor;
class UILabel;
class UINavigationItem;

class UINavigationBar : public UIView {
public:
    static std::shared_ptr<UINavigationBar> make() { return std::make_shared<UINavigationBar>(CGRectMake(0, 0, 320, 44)); }
    static std::shared_ptr<UINavigationBar> initWithFrame(const CGRect& frame) {
        return std::make_shared<UINavigationBar>(frame);
    }
    explicit UINavigationBar(const CGRect& frame);

    // Bottom to top, as the stack.
    const std::vector<std::shared_ptr<UINavigationItem>>& items() const { return items_; }
    void setItems(std::vector<std::shared_ptr<UINavigationItem>> items, bool animated = false);
    void pushNavigationItem(const std::shared_ptr<UINavigationItem>& item, bool animated);
    std::shared_ptr<UINavigationItem> popNavigationItemAnimated(bool animated);
    std::shared_ptr<UINavigationItem> topItem() const { return items_.empty() ? nullptr : items_.back(); }
    // The item below the top one.
    std::shared_ptr<UINavigationItem> backItem() const;

    UIBarStyle barStyle() const { return barStyle_; }
    void setBarStyle(UIBarStyle style);
    std::shared_ptr<UIColor> barTintColor() const { return barTintColor_; }
    void setBarTintColor(std::shared_ptr<UIColor> color);
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool translucent) { translucent_ = translucent; }

    // The label showing the top item's title (or its title view in its place).
    std::shared_ptr<UILabel> titleLabel() const { return titleLabel_; }

    // Whether the top item shows a back button to `below`, and its title.
    static bool itemShowsBackButton(const UINavigationItem& top);
    static std::string backButtonTitleFor(const UINavigationItem& below);
    // Where the back button sits (bar coordinates): its chevron and title, the title at most a
    // third of the bar; empty when the top item shows none.
    CGRect backButtonFrame() const;
    // The back button while the bar shows one; empty otherwise.
    std::shared_ptr<UIView> backButton() const;
    // What a tap on the back button does: the stack that owns the bar goes back a screen; a bar
    // of its own pops its top item.
    void setBackAction(std::function<void()> action) { backAction_ = std::move(action); }
    // The view the bar shows for one of its top item's bar items (its custom view, or the button
    // made for it); empty for a space or another item.
    std::shared_ptr<UIView> viewForItem(const std::shared_ptr<UIBarButtonItem>& item) const;
    // The room between the bar buttons at either side: the title is centred on the bar where it
    // fits, else moved into this room, and cut at its end.
    static constexpr CGFloat kItemInset = 8;

    CGSize sizeThatFits(const CGSize& size) const override { return {size.width, 44}; }
    void layoutSubviews() override;

    // The background for normal scrolling and at the scroll edge (system 13 and later).
    std::shared_ptr<UINavigationBarAppearance> standardAppearance() const { return standardAppearance_; }
    void setStandardAppearance(std::shared_ptr<UINavigationBarAppearance> appearance) { standardAppearance_ = std::move(appearance); }
    std::shared_ptr<UINavigationBarAppearance> scrollEdgeAppearance() const { return scrollEdgeAppearance_; }
    void setScrollEdgeAppearance(std::shared_ptr<UINavigationBarAppearance> appearance) { scrollEdgeAppearance_ = std::move(appearance); }

private:
    void updateBackground();
    // Places the back button and the top item's bar buttons; answers the room left between them.
    std::pair<CGFloat, CGFloat> layoutButtons(const std::shared_ptr<UINavigationItem>& top);
    void goBack();

    std::vector<std::shared_ptr<UINavigationItem>> items_;
    UIBarStyle barStyle_ = UIBarStyleDefault;
    std::shared_ptr<UIColor> barTintColor_;
    bool translucent_ = true;
    std::shared_ptr<UILabel> titleLabel_;
    std::shared_ptr<UIView> shownTitleView_;
    std::shared_ptr<UIBarButtonItemView> backButton_;
    std::function<void()> backAction_;
    // The top item's left then right items, and the view shown for each.
    std::vector<std::shared_ptr<UIBarButtonItem>> shownItems_;
    std::vector<std::shared_ptr<UIView>> itemViews_;
    // An item view that changes size lays the bar out again.
    ui_detail::BarItemViewWatch itemViewWatch_;
    std::shared_ptr<UINavigationBarAppearance> standardAppearance_;
    std::shared_ptr<UINavigationBarAppearance> scrollEdgeAppearance_;
};
