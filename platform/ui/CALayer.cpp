// Layer values; opacity, hidden and masking are the owning view's alpha, hidden and clipping.
#include "platform/ui/CALayer.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UIView.h"

bool CALayer::masksToBounds() const { return owner_ ? owner_->clipsToBounds_ : masksToBounds_; }

std::shared_ptr<UIColor> CALayer::borderColor() const { return borderColor_ ? borderColor_ : UIColor::blackColor(); }

float CALayer::opacity() const { return owner_ ? static_cast<float>(owner_->alpha_) : opacity_; }
void CALayer::setOpacity(float opacity) {
    if (owner_) owner_->setAlpha(opacity);
    else opacity_ = opacity;
}

bool CALayer::isHidden() const { return owner_ ? owner_->hidden_ : hidden_; }
void CALayer::setHidden(bool hidden) {
    if (owner_) owner_->setHidden(hidden);
    else hidden_ = hidden;
}

std::shared_ptr<UIView> CALayer::delegate() const {
    if (!owner_) return nullptr;
    return std::static_pointer_cast<UIView>(owner_->weak_from_this().lock());
}
