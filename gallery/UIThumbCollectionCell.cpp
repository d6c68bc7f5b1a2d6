// The grid cell: its image view follows the cell's size and clips the signs laid over it.
#include "gallery/UIThumbCollectionCell.h"

#include "platform/ui/UIImageView.h"

std::shared_ptr<UIThumbCollectionCell> UIThumbCollectionCell::initWithFrame(const CGRect& frame) {
    return std::make_shared<UIThumbCollectionCell>(frame);
}

UIThumbCollectionCell::UIThumbCollectionCell(const CGRect& frame) : UICollectionViewCell(frame) {
    imageView_ = UIImageView::initWithFrame(bounds());
    imageView_->setContentMode(UIViewContentModeScaleToFill);
    imageView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    imageView_->setClipsToBounds(true);
    addSubview(imageView_);
}

void UIThumbCollectionCell::setSelected(bool selected) {
    UICollectionViewCell::setSelected(selected);
    if (selected && selectBlock_) selectBlock_(indexPath_);
}
