// Collection screens: the collection view as the view, wired to the controller.
#include "platform/ui/UICollectionViewController.h"

#include "platform/ui/UIScreen.h"

UICollectionViewController::UICollectionViewController(std::shared_ptr<UICollectionViewFlowLayout> layout)
    : layout_(layout ? std::move(layout) : UICollectionViewFlowLayout::make()) {}

std::shared_ptr<UICollectionView> UICollectionViewController::collectionView() {
    return std::dynamic_pointer_cast<UICollectionView>(view());
}

std::shared_ptr<UICollectionViewFlowLayout> UICollectionViewController::collectionViewLayout() const {
    if (auto view = std::dynamic_pointer_cast<UICollectionView>(viewIfLoaded())) return view->collectionViewLayout();
    return layout_;
}

std::shared_ptr<UICollectionViewCell> UICollectionViewController::cellForItemAtIndexPath(
    const std::shared_ptr<UICollectionView>&, const NSIndexPath&) {
    return std::make_shared<UICollectionViewCell>();
}

void UICollectionViewController::loadView() {
    auto view = UICollectionView::initWithFrame(UIScreen::mainScreen()->bounds(), layout_);
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    auto self = std::static_pointer_cast<UICollectionViewController>(shared_from_this());
    view->setDataSource(self);
    view->setDelegate(self);
    setView(view);
}

void UICollectionViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    auto view = collectionView();
    if (!view) return;
    if (!reloadedOnce_) {
        reloadedOnce_ = true;
        view->reloadData();
    }
    for (const auto& path : view->indexPathsForSelectedItems()) view->deselectItemAtIndexPath(path, animated);
}
