// The bar buttons the screens use: system, titled, image, custom and segmented items, and
// spaces. Targets are held weakly; an empty target lets the action stand alone.
#pragma once

#include "platform/ui/UIBarButtonItem.h"

#include <memory>
#include <string>
#include <vector>

namespace UIBarButtonItemCommon {
std::shared_ptr<UIBarButtonItem> makeSystemButton(UIBarButtonSystemItem item, const std::shared_ptr<NSObject>& target,
                                                  UIAction action);
// System item Done.
std::shared_ptr<UIBarButtonItem> makeDoneButtonWithTarget(const std::shared_ptr<NSObject>& target, UIAction action);
// A done-style "Back" with no action.
std::shared_ptr<UIBarButtonItem> makeBackButton();
std::shared_ptr<UIBarButtonItem> makeFlexButton();
std::shared_ptr<UIBarButtonItem> makeFixedButtonWithWidth(CGFloat width);
// Plain style.
std::shared_ptr<UIBarButtonItem> makePlainButtonWithTitle(const std::string& title,
                                                          const std::shared_ptr<NSObject>& target, UIAction action);
std::shared_ptr<UIBarButtonItem> makePlainButtonWithImageName(const std::string& imageName,
                                                              const std::shared_ptr<NSObject>& target, UIAction action);
// Done style.
std::shared_ptr<UIBarButtonItem> makeDoneButtonWithTitle(const std::string& title,
                                                         const std::shared_ptr<NSObject>& target, UIAction action);
// An item over UIButtonCommon's image button.
std::shared_ptr<UIBarButtonItem> makeCustomButtonWithImage(const std::string& imageName,
                                                           const std::shared_ptr<NSObject>& target, UIAction action);
// An item over a dark-grey segmented control with `selectedIndex` selected; `action` on value
// changes.
std::shared_ptr<UIBarButtonItem> makeSegmentedBarButtonItemWithSegments(const std::vector<std::string>& segments,
                                                                        int selectedIndex,
                                                                        const std::shared_ptr<NSObject>& target,
                                                                        UIAction action);
}  // namespace UIBarButtonItemCommon
