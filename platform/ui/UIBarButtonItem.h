// Bar items: system items, titled, image and custom-view items, fixed and flexible spaces,
// with target-action, enabled and tint.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"
#include "platform/ui/UIControl.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class UIColor;
class UIImage;
class UIView;

enum UIBarButtonItemStyle : int {
    UIBarButtonItemStylePlain = 0,
    UIBarButtonItemStyleBordered = 1,
    UIBarButtonItemStyleDone = 2,
};

enum UIBarButtonSystemItem : int {
    UIBarButtonSystemItemDone = 0,
    UIBarButtonSystemItemCancel = 1,
    UIBarButtonSystemItemEdit = 2,
    UIBarButtonSystemItemSave = 3,
    UIBarButtonSystemItemAdd = 4,
    UIBarButtonSystemItemFlexibleSpace = 5,
    UIBarButtonSystemItemFixedSpace = 6,
    UIBarButtonSystemItemCompose = 7,
    UIBarButtonSystemItemReply = 8,
    UIBarButtonSystemItemAction = 9,
    UIBarButtonSystemItemOrganize = 10,
    UIBarButtonSystemItemBookmarks = 11,
    UIBarButtonSystemItemSearch = 12,
    UIBarButtonSystemItemRefresh = 13,
    UIBarButtonSystemItemStop = 14,
    UIBarButtonSystemItemCamera = 15,
    UIBarButtonSystemItemTrash = 16,
    UIBarButtonSystemItemPlay = 17,
    UIBarButtonSystemItemPause = 18,
    UIBarButtonSystemItemRewind = 19,
    UIBarButtonSystemItemFastForward = 20,
    UIBarButtonSystemItemUndo = 21,
    UIBarButtonSystemItemRedo = 22,
};

class UIBarButtonItem : public NSObject {
public:
    // An empty target means the action stands alone; a target is held weakly.
    static std::shared_ptr<UIBarButtonItem> initWithTitle(const std::string& title, UIBarButtonItemStyle style,
                                                          const std::shared_ptr<NSObject>& target, UIAction action);
    static std::shared_ptr<UIBarButtonItem> initWithImage(const std::shared_ptr<UIImage>& image,
                                                          UIBarButtonItemStyle style,
                                                          const std::shared_ptr<NSObject>& target, UIAction action);
    static std::shared_ptr<UIBarButtonItem> initWithBarButtonSystemItem(UIBarButtonSystemItem item,
                                                                        const std::shared_ptr<NSObject>& target,
                                                                        UIAction action);
    static std::shared_ptr<UIBarButtonItem> initWithCustomView(const std::shared_ptr<UIView>& view);
    static std::shared_ptr<UIBarButtonItem> flexibleSpaceItem();
    static std::shared_ptr<UIBarButtonItem> fixedSpaceItem(CGFloat width);

    UIBarButtonItem() = default;

    std::string title() const { return title_; }
    void setTitle(const std::string& title);
    std::shared_ptr<UIImage> image() const { return image_; }
    void setImage(std::shared_ptr<UIImage> image);
    UIBarButtonItemStyle style() const { return style_; }
    void setStyle(UIBarButtonItemStyle style) { style_ = style; }
    std::shared_ptr<UIView> customView() const { return customView_; }
    void setCustomView(std::shared_ptr<UIView> view) { customView_ = std::move(view); }
    // Fixed spaces and items whose width was set; 0 means natural width.
    CGFloat width() const { return width_; }
    void setWidth(CGFloat width) { width_ = width; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    std::shared_ptr<UIColor> tintColor() const { return tintColor_; }
    void setTintColor(std::shared_ptr<UIColor> color);
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

    std::shared_ptr<NSObject> target() const { return target_.lock(); }
    void setTarget(const std::shared_ptr<NSObject>& target);
    const UIAction& action() const { return action_; }
    void setAction(UIAction action) { action_ = std::move(action); }

    std::optional<UIBarButtonSystemItem> systemItem() const { return systemItem_; }
    bool isSpace() const;
    // The text a person sees: the title, else the system item's name ("Done", "Cancel", ...),
    // else the image's name; "" for spaces and custom views.
    std::string displayTitle() const;

    // A tap: a custom view that is a control gets the tap; otherwise the action runs unless
    // the item is disabled or its target is gone.
    void simulateTap();

    std::string description() const override;

private:
    friend class UIBarButtonItemView;
    // What a finger lifted on the item's button does: the action runs unless the item is
    // disabled, its target is gone or an alert is up.
    void sendAction();
    // The buttons showing the item draw it again.
    void redraw();

    std::string title_;
    std::shared_ptr<UIImage> image_;
    UIBarButtonItemStyle style_ = UIBarButtonItemStylePlain;
    std::shared_ptr<UIView> customView_;
    CGFloat width_ = 0;
    bool enabled_ = true;
    std::shared_ptr<UIColor> tintColor_;
    int tag_ = 0;
    std::weak_ptr<NSObject> target_;
    bool hasTarget_ = false;
    UIAction action_;
    std::optional<UIBarButtonSystemItem> systemItem_;
    // The buttons that show the item, which draw what it says.
    std::vector<std::weak_ptr<UIView>> views_;
};
