// Image buttons.
#include "uikit/UIButtonCommon.h"

#include "platform/ui/UIImage.h"
#include "uikit/OEImageButtonNames.h"

namespace UIButtonCommon {

std::shared_ptr<UIButton> makeCustomButtonWithImage(const std::string& imageName, const std::shared_ptr<NSObject>& target,
                                                    UIAction action) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->addTarget(target, std::move(action), UIControlEventTouchUpInside);
    auto image = UIImage::imageNamed(imageName);
    OEImageButtonNames::setImage(button, imageName);
    const CGSize size = image ? image->size() : CGSize{};
    button->setFrame(CGRectMake(0, 0, size.width, size.height));
    return button;
}

}  // namespace UIButtonCommon
