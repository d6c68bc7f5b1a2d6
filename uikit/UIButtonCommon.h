// The image button the screens put into their bars.
#pragma once

#include "platform/ui/UIButton.h"

#include <memory>
#include <string>

namespace UIButtonCommon {
// A custom button showing the bundle image `imageName`, sized to it (zero without such an
// image), sending `action` on touch-up-inside; `target` is held weakly.
std::shared_ptr<UIButton> makeCustomButtonWithImage(const std::string& imageName, const std::shared_ptr<NSObject>& target,
                                                    UIAction action);
}  // namespace UIButtonCommon
