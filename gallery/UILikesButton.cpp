// The like button's image, title and size.
#include "gallery/UILikesButton.h"

#include "content/NSStringLikes.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIAppearance.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "uikit/OEImageButtonNames.h"

std::shared_ptr<UILikesButton> UILikesButton::initWithFrame(const CGRect& frame) {
    // Set up once owned: the title label becomes a subview.
    auto button = std::make_shared<UILikesButton>(frame);
    button->uiLikesButton_setup();
    return button;
}

UILikesButton::UILikesButton(const CGRect& frame) : UIButton(frame) {}

void UILikesButton::uiLikesButton_setup() {
    liked_ = false;
    likesCount_ = -1;
    titleLabel()->setFont(UIFont::systemFontOfSize(kTitleFontSize));
    // The count reads in the bar items' tint, like the titles beside it.
    setTitleColor(UIAppearance::appearance<UIBarButtonItem>()->value("tintColor").objectAs<UIColor>(), UIControlStateNormal);
    updateImage();
}

void UILikesButton::setLiked(bool liked) {
    liked_ = liked;
    updateImage();
}

void UILikesButton::setLikesCount(std::int64_t count) {
    likesCount_ = count;
    setTitle(NSStringLikes::likesStringForLikesNumber(static_cast<long>(count)), UIControlStateNormal);
    sizeToFit();
}

void UILikesButton::updateImage() {
    OEImageButtonNames::setImage(std::static_pointer_cast<UIButton>(shared_from_this()), liked_ ? "favorite_on" : "favorite_off");
    // Lit or not, it says so to those who do not see the image.
    setAccessibilityToggle(*this, liked_);
    sizeToFit();
}
