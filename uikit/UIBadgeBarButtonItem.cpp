// The badge bar item: the badge view set up with the engine's colours over the custom view.
#include "uikit/UIBadgeBarButtonItem.h"

#include "platform/widgets/BPMKNumberBadgeView.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIView.h"

#include <cstdlib>

namespace {
int majorSystemVersion() { return std::atoi(UIDevice::currentDevice()->systemVersion().c_str()); }
}  // namespace

std::shared_ptr<UIBadgeBarButtonItem> UIBadgeBarButtonItem::initWithCustomView(const std::shared_ptr<UIView>& view,
                                                                               std::int64_t number,
                                                                               const std::shared_ptr<UIColor>& fill) {
    auto item = std::make_shared<UIBadgeBarButtonItem>();
    item->setCustomView(view);
    const CGSize size = view ? view->frame().size : CGSize{};
    item->badge_ = BPMKNumberBadgeView::initWithFrame(
        CGRectMake(0.43 * size.width, -0.3 * size.height, size.width, size.height));
    auto color = majorSystemVersion() >= 13 ? UIColor::labelColor() : UIColor::darkGrayColor();
    auto& badge = *item->badge_;
    badge.setHideWhenZero(true);
    badge.setFont(UIFont::systemFontOfSize(12));
    badge.setShadow(false);
    badge.setShine(false);
    badge.setStrokeColor(color);
    badge.setTextColor(color);
    badge.setFillColor(fill);
    badge.setShadowOffset({0, 0});
    badge.setValue(static_cast<long>(number));
    if (view) view->addSubview(item->badge_);
    badge.setUserInteractionEnabled(false);
    return item;
}

std::int64_t UIBadgeBarButtonItem::number() const { return badge_->value(); }

void UIBadgeBarButtonItem::setNumber(std::int64_t number) { badge_->setValue(static_cast<long>(number)); }
