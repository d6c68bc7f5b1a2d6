// A screen whose view is a collection view, and which is its data source and delegate.
// Subclasses answer the data-source calls; the view reloads on its first appearance and
// drops its selection each time it appears.
#pragma once

#include "platform/ui/UICollectionView.h"
#include "platform/ui/UIViewController.h"

#include <memory>

class UICollectionViewController : public UIViewController,
                                   public UICollectionViewDataSource,
                                   public UICollectionViewDelegateFlowLayout {
public:
    // Without a layout, a default flow layout.
    explicit UICollectionViewController(std::shared_ptr<UICollectionViewFlowLayout> layout = nullptr);
    static std::shared_ptr<UICollectionViewController> initWithCollectionViewLayout(
        const std::shared_ptr<UICollectionViewFlowLayout>& layout) {
        return std::make_shared<UICollectionViewController>(layout);
    }

    // Loads the view on first use.
    std::shared_ptr<UICollectionView> collectionView();
    // The view's layout once loaded, else the one the view will be made with.
    std::shared_ptr<UICollectionViewFlowLayout> collectionViewLayout() const;

    // No items unless a subclass says otherwise.
    long numberOfItemsInSection(const std::shared_ptr<UICollectionView>&, long) override { return 0; }
    std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(const std::shared_ptr<UICollectionView>&,
                                                                 const NSIndexPath&) override;

    void loadView() override;
    void viewWillAppear(bool animated) override;

private:
    std::shared_ptr<UICollectionViewFlowLayout> layout_;
    bool reloadedOnce_ = false;
};
