// Collection cells: parts made on demand, the selected background while selected.
#include "platform/ui/UICollectionViewCell.h"

std::shared_ptr<UIView> UICollectionViewCell::contentView() {
    if (!contentView_) {
        contentView_ = UIView::initWithFrame(bounds());
        contentView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        addSubview(contentView_);
    }
    return contentView_;
}

void UICollectionViewCell::setBackgroundView(std::shared_ptr<UIView> view) {
    if (backgroundView_) backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(view);
    if (backgroundView_) {
        backgroundView_->setFrame(bounds());
        insertSubview(backgroundView_, 0);
    }
}

void UICollectionViewCell::setSelectedBackgroundView(std::shared_ptr<UIView> view) {
    if (selectedBackgroundView_) selectedBackgroundView_->removeFromSuperview();
    selectedBackgroundView_ = std::move(view);
    showSelectionBackground();
}

void UICollectionViewCell::showSelectionBackground() {
    if (!selectedBackgroundView_ || weak_from_this().expired()) return;
    const bool show = selected_ || highlighted_;
    if (show && !selectedBackgroundView_->superview()) {
        selectedBackgroundView_->setFrame(bounds());
        insertSubview(selectedBackgroundView_, backgroundView_ ? 1 : 0);
    } else if (!show && selectedBackgroundView_->superview()) {
        selectedBackgroundView_->removeFromSuperview();
    }
}

void UICollectionViewCell::setSelected(bool selected) {
    selected_ = selected;
    showSelectionBackground();
}

void UICollectionViewCell::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    showSelectionBackground();
}

void UICollectionViewCell::prepareForReuse() {
    setSelected(false);
    setHighlighted(false);
}

void UICollectionViewCell::layoutSubviews() {
    if (backgroundView_) backgroundView_->setFrame(bounds());
    if (selectedBackgroundView_) selectedBackgroundView_->setFrame(bounds());
}
