// A bar button over a custom view (a button) with a numeric badge in its upper right corner:
// the menu button's new-applications count, the music screens' queued downloads.
#pragma once

#include "platform/ui/UIBarButtonItem.h"

#include <cstdint>
#include <memory>

class BPMKNumberBadgeView;
class UIColor;

class UIBadgeBarButtonItem : public UIBarButtonItem {
public:
    // The badge covers the view's size, shifted right by 43 % of its width and up by 30 % of
    // its height; hidden at 0; it takes no touches, so taps reach the button under it. Filled
    // with `fill` (the configuration's background colour).
    static std::shared_ptr<UIBadgeBarButtonItem> initWithCustomView(const std::shared_ptr<UIView>& view,
                                                                    std::int64_t number,
                                                                    const std::shared_ptr<UIColor>& fill);

    std::int64_t number() const;
    void setNumber(std::int64_t number);
    const std::shared_ptr<BPMKNumberBadgeView>& badge() const { return badge_; }

private:
    std::shared_ptr<BPMKNumberBadgeView> badge_;
};
