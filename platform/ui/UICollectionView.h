// Collection views with a flow layout: items placed in lines (sizes, insets and spacings from
// the layout or the delegate when it answers), cells only for the visible items, reuse by
// registered identifier, selection and batch updates.
#pragma once

#include "platform/ui/NSIndexPath.h"
#include "platform/ui/UICollectionViewCell.h"
#include "platform/ui/UICollectionViewFlowLayout.h"
#include "platform/ui/UIScrollView.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class UICollectionView;

enum UICollectionViewScrollPosition : unsigned {
    UICollectionViewScrollPositionNone = 0,
    UICollectionViewScrollPositionTop = 1 << 0,
    UICollectionViewScrollPositionCenteredVertically = 1 << 1,
    UICollectionViewScrollPositionBottom = 1 << 2,
    UICollectionViewScrollPositionLeft = 1 << 3,
    UICollectionViewScrollPositionCenteredHorizontally = 1 << 4,
    UICollectionViewScrollPositionRight = 1 << 5,
};

class UICollectionViewDataSource {
public:
    virtual ~UICollectionViewDataSource() = default;
    virtual long numberOfSectionsInCollectionView(const std::shared_ptr<UICollectionView>&) { return 1; }
    virtual long numberOfItemsInSection(const std::shared_ptr<UICollectionView>& collectionView, long section) = 0;
    virtual std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(
        const std::shared_ptr<UICollectionView>& collectionView, const NSIndexPath& indexPath) = 0;
};

// The delegate, with the flow layout's questions: an empty answer leaves it to the layout.
class UICollectionViewDelegateFlowLayout : public UIScrollViewDelegate {
public:
    virtual bool shouldSelectItemAtIndexPath(const std::shared_ptr<UICollectionView>&, const NSIndexPath&) {
        return true;
    }
    virtual void didSelectItemAtIndexPath(const std::shared_ptr<UICollectionView>&, const NSIndexPath&) {}
    virtual void didDeselectItemAtIndexPath(const std::shared_ptr<UICollectionView>&, const NSIndexPath&) {}
    virtual void willDisplayCell(const std::shared_ptr<UICollectionView>&, const std::shared_ptr<UICollectionViewCell>&,
                                 const NSIndexPath&) {}
    virtual void didEndDisplayingCell(const std::shared_ptr<UICollectionView>&,
                                      const std::shared_ptr<UICollectionViewCell>&, const NSIndexPath&) {}
    virtual std::optional<CGSize> sizeForItemAtIndexPath(const std::shared_ptr<UICollectionView>&,
                                                         const NSIndexPath&) {
        return std::nullopt;
    }
    virtual std::optional<UIEdgeInsets> insetForSectionAtIndex(const std::shared_ptr<UICollectionView>&, long) {
        return std::nullopt;
    }
    virtual std::optional<CGFloat> minimumLineSpacingForSectionAtIndex(const std::shared_ptr<UICollectionView>&, long) {
        return std::nullopt;
    }
    virtual std::optional<CGFloat> minimumInteritemSpacingForSectionAtIndex(const std::shared_ptr<UICollectionView>&,
                                                                            long) {
        return std::nullopt;
    }
};
using UICollectionViewDelegate = UICollectionViewDelegateFlowLayout;

class UICollectionView : public UIScrollView {
public:
    using CellFactory = std::function<std::shared_ptr<UICollectionViewCell>()>;

    static std::shared_ptr<UICollectionView> initWithFrame(const CGRect& frame,
                                                           const std::shared_ptr<UICollectionViewFlowLayout>& layout);
    UICollectionView(const CGRect& frame, std::shared_ptr<UICollectionViewFlowLayout> layout);

    std::shared_ptr<UICollectionViewFlowLayout> collectionViewLayout() const { return layout_; }
    void setCollectionViewLayout(std::shared_ptr<UICollectionViewFlowLayout> layout, bool animated = false);
    std::shared_ptr<UICollectionViewDataSource> dataSource() const { return dataSource_.lock(); }
    void setDataSource(const std::shared_ptr<UICollectionViewDataSource>& dataSource);
    std::shared_ptr<UICollectionViewDelegateFlowLayout> delegate() const { return collectionDelegate_.lock(); }
    void setDelegate(const std::shared_ptr<UICollectionViewDelegateFlowLayout>& delegate);
    std::shared_ptr<UIView> backgroundView() const { return backgroundView_; }
    void setBackgroundView(std::shared_ptr<UIView> view);
    void setAllowsSelection(bool allows) { allowsSelection_ = allows; }

    void registerCellFactory(CellFactory factory, const std::string& reuseIdentifier);
    template <class Cell>
    void registerClass(const std::string& reuseIdentifier) {
        registerCellFactory([] { return std::make_shared<Cell>(); }, reuseIdentifier);
    }
    // A cell waiting for reuse, else a new one from the registered factory; a programming
    // error without one.
    std::shared_ptr<UICollectionViewCell> dequeueReusableCellWithReuseIdentifier(const std::string& identifier,
                                                                                const NSIndexPath& indexPath);

    void reloadData();
    // Runs `updates`, then reloads; `completion` runs on a later turn of the main run loop.
    void performBatchUpdates(const std::function<void()>& updates, std::function<void(bool)> completion);
    void deleteItemsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths);
    void reloadSections(const std::vector<long>& sections);
    // How many reloads (whole or in part) the view has done.
    int reloadCount() const { return reloadCount_; }

    long numberOfSections() const { return static_cast<long>(frames_.size()); }
    long numberOfItemsInSection(long section) const;
    // The item's frame from the layout (zero for an unknown item).
    CGRect frameForItemAtIndexPath(const NSIndexPath& indexPath) const;
    std::optional<NSIndexPath> indexPathForItemAtPoint(const CGPoint& point) const;
    std::optional<NSIndexPath> indexPathForCell(const std::shared_ptr<UICollectionViewCell>& cell) const;
    std::vector<NSIndexPath> indexPathsForVisibleItems() const;
    std::vector<std::shared_ptr<UICollectionViewCell>> visibleCells() const;
    // Only a visible item has a cell.
    std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(const NSIndexPath& indexPath) const;

    void deselectItemAtIndexPath(const NSIndexPath& indexPath, bool animated);
    std::vector<NSIndexPath> indexPathsForSelectedItems() const { return selected_; }

    // A person's tap on an item: should-select, then select (deselecting others unless
    // several may be selected) and did-select; in a multiple selection a selected item is
    // deselected.
    void simulateTapOnItem(const NSIndexPath& indexPath);

    void layoutSubviews() override;

protected:
    void contentOffsetDidChange() override;

private:
    std::shared_ptr<UICollectionView> self();
    void computeLayout();
    void updateVisibleCells();
    void enqueue(const std::shared_ptr<UICollectionViewCell>& cell, const NSIndexPath& indexPath);
    bool valid(const NSIndexPath& indexPath) const;
    void setItemSelected(const NSIndexPath& indexPath, bool selected);

    std::shared_ptr<UICollectionViewFlowLayout> layout_;
    std::weak_ptr<UICollectionViewDataSource> dataSource_;
    std::weak_ptr<UICollectionViewDelegateFlowLayout> collectionDelegate_;
    std::shared_ptr<UIView> backgroundView_;
    bool allowsSelection_ = true;
    bool allowsMultipleSelection_ = false;
    bool loaded_ = false;
    bool updatingCells_ = false;
    int batchDepth_ = 0;
    int reloadCount_ = 0;
    std::vector<std::vector<CGRect>> frames_;
    std::map<NSIndexPath, std::shared_ptr<UICollectionViewCell>> visible_;
    std::map<std::string, std::vector<std::shared_ptr<UICollectionViewCell>>> reusePool_;
    std::map<std::string, CellFactory> factories_;
    std::vector<NSIndexPath> selected_;
};
