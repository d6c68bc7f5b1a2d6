// A red rounded label with white text: the count at the right end of a menu row.
#pragma once

#include "platform/ui/UILabel.h"

#include <memory>

class OEBadge : public UILabel {
public:
    // Insets (1, 5, 1, 5), clipped, 5-point corners, red background, white text.
    static std::shared_ptr<OEBadge> make();
    OEBadge();

    UIEdgeInsets textInseets() const { return textInseets_; }
    void setTextInseets(UIEdgeInsets insets);

    // Width plus left and right insets, height plus top and bottom.
    CGSize addInsetsToSize(CGSize size) const;
    CGSize intrinsicContentSize() const override;
    CGSize sizeThatFits(const CGSize& size) const override;
    // Draws into the rectangle less the insets.
    void drawTextInRect(const CGRect& rect) override;

private:
    UIEdgeInsets textInseets_{1, 5, 1, 5};
};
