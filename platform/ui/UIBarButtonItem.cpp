// Bar items and what tapping one does.
#include "platform/ui/UIBarButtonItem.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIView.h"

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::initWithTitle(const std::string& title, UIBarButtonItemStyle style,
                                                                const std::shared_ptr<NSObject>& target,
                                                                UIAction action) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->title_ = title;
    item->style_ = style;
    item->setTarget(target);
    item->action_ = std::move(action);
    return item;
}

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::initWithImage(const std::shared_ptr<UIImage>& image,
                                                                UIBarButtonItemStyle style,
                                                                const std::shared_ptr<NSObject>& target,
                                                                UIAction action) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->image_ = image;
    item->style_ = style;
    item->setTarget(target);
    item->action_ = std::move(action);
    return item;
}

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItem systemItem,
                                                                              const std::shared_ptr<NSObject>& target,
                                                                              UIAction action) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->systemItem_ = systemItem;
    if (systemItem == UIBarButtonSystemItemDone) item->style_ = UIBarButtonItemStyleDone;
    item->setTarget(target);
    item->action_ = std::move(action);
    return item;
}

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::initWithCustomView(const std::shared_ptr<UIView>& view) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->customView_ = view;
    return item;
}

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::flexibleSpaceItem() {
    return initWithBarButtonSystemItem(UIBarButtonSystemItemFlexibleSpace, nullptr, nullptr);
}

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::fixedSpaceItem(CGFloat width) {
    auto item = initWithBarButtonSystemItem(UIBarButtonSystemItemFixedSpace, nullptr, nullptr);
    item->width_ = width;
    return item;
}

void UIBarButtonItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (auto control = std::dynamic_pointer_cast<UIControl>(customView_)) control->setEnabled(enabled);
    redraw();
}

void UIBarButtonItem::setTitle(const std::string& title) {
    title_ = title;
    redraw();
}

void UIBarButtonItem::setImage(std::shared_ptr<UIImage> image) {
    image_ = std::move(image);
    redraw();
}

void UIBarButtonItem::setTintColor(std::shared_ptr<UIColor> color) {
    tintColor_ = std::move(color);
    redraw();
}

void UIBarButtonItem::redraw() {
    std::erase_if(views_, [](const std::weak_ptr<UIView>& view) { return view.expired(); });
    for (const auto& weak : views_)
        if (auto view = weak.lock()) view->setNeedsDisplay();
}

void UIBarButtonItem::setTarget(const std::shared_ptr<NSObject>& target) {
    target_ = target;
    hasTarget_ = target != nullptr;
}

bool UIBarButtonItem::isSpace() const {
    return systemItem_ &&
           (*systemItem_ == UIBarButtonSystemItemFlexibleSpace || *systemItem_ == UIBarButtonSystemItemFixedSpace);
}

std::string UIBarButtonItem::displayTitle() const {
    if (!title_.empty()) return title_;
    if (systemItem_) {
        static const char* const names[] = {"Done",   "Cancel", "Edit",      "Save",     "Add",     "",
                                            "",       "Compose", "Reply",    "Action",   "Organize", "Bookmarks",
                                            "Search", "Refresh", "Stop",     "Camera",   "Trash",   "Play",
                                            "Pause",  "Rewind",  "Fast Forward", "Undo", "Redo"};
        const int index = *systemItem_;
        if (index >= 0 && index < static_cast<int>(std::size(names))) return names[index];
    }
    if (image_) return image_->name();
    return "";
}

void UIBarButtonItem::simulateTap() {
    if (!enabled_) return;
    if (auto control = std::dynamic_pointer_cast<UIControl>(customView_)) {
        control->simulateTap();
        return;
    }
    sendAction();
}

void UIBarButtonItem::sendAction() {
    if (!enabled_ || !action_ || (hasTarget_ && target_.expired())) return;
    // No alert has bar items: under one, the tap goes nowhere.
    if (UIAlertModality::isAlertUp()) return;
    auto self = shared_from_this();
    action_(self);
}

std::string UIBarButtonItem::description() const {
    return NSString::format("<UIBarButtonItem: %p; %@>", static_cast<const void*>(this), displayTitle());
}
