// Collection cells: parts made on demand, the selected background while selected.
#include "platform/ui/UICollectionViewCell.h"

#include "platform/ui/UICollectionView.h"
#include "platform/ui/UITouch.h"

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

void UICollectionViewCell::touchesBegan(const UITouchList&, const std::shared_ptr<UIEvent>&) { touched_ = true; }

void UICollectionViewCell::touchesCancelled(const UITouchList&, const std::shared_ptr<UIEvent>&) { touched_ = false; }

void UICollectionViewCell::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (!touched_) return;
    touched_ = false;
    auto self = std::static_pointer_cast<UICollectionViewCell>(shared_from_this());
    if (!touches.empty() && !pointInside(touches.front()->locationInView(self), event)) return;
    std::shared_ptr<UICollectionView> grid;
    for (auto v = superview(); v && !grid; v = v->superview()) grid = std::dynamic_pointer_cast<UICollectionView>(v);
    if (!grid) return;
    if (auto path = grid->indexPathForCell(self)) grid->simulateTapOnItem(*path);
}
