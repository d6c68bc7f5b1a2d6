// A tile of the music grids.
#include "media/UICatGridCell.h"

#include "platform/ui/UIFont.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "uikit/UICloseButton.h"

std::shared_ptr<UICatGridCell> UICatGridCell::loadFromCompositionsViews() {
    auto cell = cellWithFrame<UICatGridCell>(CGRectMake(0, 0, 140, 180));
    auto image = UIImageView::initWithFrame(CGRectMake(10, 10, 120, 120));
    image->setContentMode(UIViewContentModeScaleAspectFit);
    // The texts stay inside the tile: long names end in an ellipsis before the next tile.
    auto text = UILabel::initWithFrame(CGRectMake(4, 134, 132, 22));
    text->setFont(UIFont::boldSystemFontOfSize(13));
    text->setTextAlignment(NSTextAlignmentCenter);
    auto detail = UILabel::initWithFrame(CGRectMake(4, 156, 132, 18));
    detail->setFont(UIFont::systemFontOfSize(12));
    detail->setTextAlignment(NSTextAlignmentCenter);
    for (const std::shared_ptr<UIView>& view : {std::static_pointer_cast<UIView>(image), std::static_pointer_cast<UIView>(text),
                                               std::static_pointer_cast<UIView>(detail)})
        cell->addSubview(view);
    cell->imageView_ = image;
    cell->textLabel_ = text;
    cell->detailTextLabel_ = detail;
    return cell;
}

void UICatGridCell::setEditing(bool editing) {
    if (editing == editing_) return;
    editing_ = editing;
    if (!editing) {
        if (deleteButton_) deleteButton_->removeFromSuperview();
        deleteButton_.reset();
        return;
    }
    const CGPoint corner = imageView() ? imageView()->frame().origin : CGPointMake(0, 0);
    deleteButton_ = UICloseButton::initWithFrame(CGRectMake(corner.x - kDeleteButtonOffset, corner.y - kDeleteButtonOffset,
                                                            kDeleteButtonSide, kDeleteButtonSide));
    deleteButton_->setShowsTouchWhenHighlighted(true);
    std::weak_ptr<UICatGridCell> weak = self<UICatGridCell>();
    deleteButton_->addTarget(
        nullptr,
        [weak](const std::shared_ptr<NSObject>&) {
            if (auto cell = weak.lock()) cell->editClick();
        },
        UIControlEventTouchUpInside);
    addSubview(deleteButton_);
}

void UICatGridCell::longPress() {
    OEGridViewCell::longPress();
    if (auto d = delegate()) d->catGridCellLongPressed(self<UICatGridCell>());
}

void UICatGridCell::editClick() {
    if (auto d = delegate()) d->catGridCellPerformDelete(self<UICatGridCell>());
}
