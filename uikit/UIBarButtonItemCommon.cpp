// Bar button factories.
#include "uikit/UIBarButtonItemCommon.h"

#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UISegmentedControl.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEImageButtonNames.h"
#include "uikit/UIButtonCommon.h"

namespace UIBarButtonItemCommon {

std::shared_ptr<UIBarButtonItem> makeSystemButton(UIBarButtonSystemItem item, const std::shared_ptr<NSObject>& target,
                                                  UIAction action) {
    return UIBarButtonItem::initWithBarButtonSystemItem(item, target, std::move(action));
}

std::shared_ptr<UIBarButtonItem> makeDoneButtonWithTarget(const std::shared_ptr<NSObject>& target, UIAction action) {
    return makeSystemButton(UIBarButtonSystemItemDone, target, std::move(action));
}

std::shared_ptr<UIBarButtonItem> makeBackButton() {
    return makeDoneButtonWithTitle(OECoreString("Back"), nullptr, nullptr);
}

std::shared_ptr<UIBarButtonItem> makeFlexButton() {
    return makeSystemButton(UIBarButtonSystemItemFlexibleSpace, nullptr, nullptr);
}

std::shared_ptr<UIBarButtonItem> makeFixedButtonWithWidth(CGFloat width) {
    auto item = makeSystemButton(UIBarButtonSystemItemFixedSpace, nullptr, nullptr);
    item->setWidth(width);
    return item;
}

std::shared_ptr<UIBarButtonItem> makePlainButtonWithTitle(const std::string& title,
                                                          const std::shared_ptr<NSObject>& target, UIAction action) {
    return UIBarButtonItem::initWithTitle(title, UIBarButtonItemStylePlain, target, std::move(action));
}

std::shared_ptr<UIBarButtonItem> makePlainButtonWithImageName(const std::string& imageName,
                                                              const std::shared_ptr<NSObject>& target, UIAction action) {
    auto item = UIBarButtonItem::initWithImage(UIImage::imageNamed(imageName), UIBarButtonItemStylePlain, target,
                                               std::move(action));
    setAccessibilityLabel(*item, OEImageButtonNames::nameForImage(imageName));
    return item;
}

std::shared_ptr<UIBarButtonItem> makeDoneButtonWithTitle(const std::string& title,
                                                         const std::shared_ptr<NSObject>& target, UIAction action) {
    return UIBarButtonItem::initWithTitle(title, UIBarButtonItemStyleDone, target, std::move(action));
}

std::shared_ptr<UIBarButtonItem> makeCustomButtonWithImage(const std::string& imageName,
                                                           const std::shared_ptr<NSObject>& target, UIAction action) {
    return UIBarButtonItem::initWithCustomView(
        UIButtonCommon::makeCustomButtonWithImage(imageName, target, std::move(action)));
}

std::shared_ptr<UIBarButtonItem> makeSegmentedBarButtonItemWithSegments(const std::vector<std::string>& segments,
                                                                        int selectedIndex,
                                                                        const std::shared_ptr<NSObject>& target,
                                                                        UIAction action) {
    auto control = UISegmentedControl::initWithItems(segments);
    control->setTintColor(UIColor::darkGrayColor());
    control->addTarget(target, std::move(action), UIControlEventValueChanged);
    control->setSelectedSegmentIndex(selectedIndex);
    return UIBarButtonItem::initWithCustomView(control);
}

}  // namespace UIBarButtonItemCommon
