// The menu rows' badge: a label whose sizes carry its text insets.
#include "uikit/OEBadge.h"

#include "platform/ui/UIColor.h"

#include <limits>

std::shared_ptr<OEBadge> OEBadge::make() { return std::make_shared<OEBadge>(); }

OEBadge::OEBadge() {
    setClipsToBounds(true);
    layer()->setCornerRadius(5.0);
    setBackgroundColor(UIColor::redColor());
    setTextColor(UIColor::whiteColor());
}

void OEBadge::setTextInseets(UIEdgeInsets insets) {
    textInseets_ = insets;
    invalidateIntrinsicContentSize();
}

CGSize OEBadge::addInsetsToSize(CGSize size) const {
    return {size.width + textInseets_.left + textInseets_.right, size.height + textInseets_.top + textInseets_.bottom};
}

CGSize OEBadge::intrinsicContentSize() const {
    // The label's own measure (its intrinsic size goes through the overridable sizeThatFits,
    // which would add the insets twice).
    const CGFloat width = preferredMaxLayoutWidth() > 0 ? preferredMaxLayoutWidth() : 0;
    return addInsetsToSize(UILabel::sizeThatFits({width, std::numeric_limits<CGFloat>::infinity()}));
}

CGSize OEBadge::sizeThatFits(const CGSize& size) const { return addInsetsToSize(UILabel::sizeThatFits(size)); }

void OEBadge::drawTextInRect(const CGRect& rect) { UILabel::drawTextInRect(UIEdgeInsetsInsetRect(rect, textInseets_)); }
