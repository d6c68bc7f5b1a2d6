// Collection views: flow layout in lines, visible cells only, reuse, selection and updates.
#include "platform/ui/UICollectionView.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/VisibleCells.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

std::shared_ptr<UICollectionView> UICollectionView::initWithFrame(
    const CGRect& frame, const std::shared_ptr<UICollectionViewFlowLayout>& layout) {
    return std::make_shared<UICollectionView>(frame, layout);
}

UICollectionView::UICollectionView(const CGRect& frame, std::shared_ptr<UICollectionViewFlowLayout> layout)
    : UIScrollView(frame), layout_(layout ? std::move(layout) : UICollectionViewFlowLayout::make()) {}

std::shared_ptr<UICollectionView> UICollectionView::self() {
    return std::static_pointer_cast<UICollectionView>(shared_from_this());
}

void UICollectionView::setCollectionViewLayout(std::shared_ptr<UICollectionViewFlowLayout> layout, bool animated) {
    (void)animated;
    if (layout) layout_ = std::move(layout);
    if (loaded_) {
        computeLayout();
        updateVisibleCells();
    }
}

void UICollectionView::setDataSource(const std::shared_ptr<UICollectionViewDataSource>& dataSource) {
    dataSource_ = dataSource;
    loaded_ = false;
    setNeedsLayout();
}

void UICollectionView::setDelegate(const std::shared_ptr<UICollectionViewDelegateFlowLayout>& delegate) {
    collectionDelegate_ = delegate;
    UIScrollView::setDelegate(delegate);
    loaded_ = false;
    setNeedsLayout();
}

void UICollectionView::setBackgroundView(std::shared_ptr<UIView> view) {
    if (backgroundView_) backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(view);
    if (backgroundView_) {
        backgroundView_->setFrame(bounds());
        insertSubview(backgroundView_, 0);
    }
}

void UICollectionView::registerCellFactory(CellFactory factory, const std::string& reuseIdentifier) {
    factories_[reuseIdentifier] = std::move(factory);
}

std::shared_ptr<UICollectionViewCell> UICollectionView::dequeueReusableCellWithReuseIdentifier(
    const std::string& identifier, const NSIndexPath& indexPath) {
    (void)indexPath;
    auto pool = reusePool_.find(identifier);
    if (pool != reusePool_.end() && !pool->second.empty()) {
        auto cell = pool->second.back();
        pool->second.pop_back();
        cell->prepareForReuse();
        return cell;
    }
    auto it = factories_.find(identifier);
    if (it == factories_.end()) {
        std::fprintf(stderr,
                     "*** Terminating app due to uncaught exception 'NSInternalInconsistencyException', reason: 'could "
                     "not dequeue a view of kind: UICollectionElementKindCell with identifier %s - must register a nib "
                     "or a class for the identifier'\n",
                     identifier.c_str());
        std::abort();
    }
    auto cell = it->second();
    cell->setReuseIdentifier(identifier);
    cell->contentView();
    return cell;
}

// --- Layout -----------------------------------------------------------------------------

void UICollectionView::computeLayout() {
    frames_.clear();
    auto ds = dataSource();
    if (!ds) {
        setContentSize({0, 0});
        return;
    }
    auto me = self();
    auto d = delegate();
    const bool vertical = layout_->scrollDirection() == UICollectionViewScrollDirectionVertical;
    const CGSize b = bounds().size;
    // Main: the direction lines stack in; cross: the direction items sit side by side in a line.
    auto mainOf = [&](CGSize s) { return vertical ? s.height : s.width; };
    auto crossOf = [&](CGSize s) { return vertical ? s.width : s.height; };
    auto rect = [&](CGFloat cross, CGFloat main, CGSize s) {
        return vertical ? CGRect{{cross, main}, s} : CGRect{{main, cross}, s};
    };
    CGFloat pos = 0;
    const long sections = std::max(0L, ds->numberOfSectionsInCollectionView(me));
    for (long s = 0; s < sections; ++s) {
        const UIEdgeInsets inset = (d ? d->insetForSectionAtIndex(me, s) : std::nullopt).value_or(layout_->sectionInset());
        const CGFloat lineSpacing =
            (d ? d->minimumLineSpacingForSectionAtIndex(me, s) : std::nullopt).value_or(layout_->minimumLineSpacing());
        const CGFloat itemSpacing = (d ? d->minimumInteritemSpacingForSectionAtIndex(me, s) : std::nullopt)
                                        .value_or(layout_->minimumInteritemSpacing());
        const CGFloat crossStart = vertical ? inset.left : inset.top;
        const CGFloat available = vertical ? b.width - inset.left - inset.right : b.height - inset.top - inset.bottom;
        pos += mainOf(layout_->headerReferenceSize()) + (vertical ? inset.top : inset.left);

        const long count = std::max(0L, ds->numberOfItemsInSection(me, s));
        std::vector<CGSize> sizes;
        for (long i = 0; i < count; ++i)
            sizes.push_back((d ? d->sizeForItemAtIndexPath(me, {s, i}) : std::nullopt).value_or(layout_->itemSize()));

        std::vector<CGRect> frames(sizes.size());
        std::size_t i = 0;
        std::optional<CGFloat> fullLineSpacing;
        bool firstLine = true;
        while (i < sizes.size()) {
            std::size_t end = i + 1;
            CGFloat used = crossOf(sizes[i]);
            while (end < sizes.size() && used + itemSpacing + crossOf(sizes[end]) <= available + 1e-9) {
                used += itemSpacing + crossOf(sizes[end]);
                ++end;
            }
            const std::size_t n = end - i;
            const bool full = end < sizes.size();
            CGFloat lineMain = 0;
            CGFloat contentCross = 0;
            for (std::size_t k = i; k < end; ++k) {
                lineMain = std::max(lineMain, mainOf(sizes[k]));
                contentCross += crossOf(sizes[k]);
            }
            CGFloat spacing = itemSpacing;
            CGFloat cross = crossStart;
            if (n == 1 && (full || firstLine)) {
                // A line holding a single item centres it.
                cross = crossStart + (available - contentCross) / 2;
            } else if (full) {
                spacing = (available - contentCross) / static_cast<CGFloat>(n - 1);
                fullLineSpacing = spacing;
            } else if (fullLineSpacing) {
                // The last line keeps the columns of the lines above.
                spacing = *fullLineSpacing;
            }
            for (std::size_t k = i; k < end; ++k) {
                frames[k] = rect(cross, pos + (lineMain - mainOf(sizes[k])) / 2, sizes[k]);
                cross += crossOf(sizes[k]) + spacing;
            }
            pos += lineMain;
            if (end < sizes.size()) pos += lineSpacing;
            i = end;
            firstLine = false;
        }
        pos += (vertical ? inset.bottom : inset.right) + mainOf(layout_->footerReferenceSize());
        frames_.push_back(std::move(frames));
    }
    setContentSize(vertical ? CGSize{b.width, pos} : CGSize{pos, b.height});
}

long UICollectionView::numberOfItemsInSection(long section) const {
    if (section < 0 || section >= numberOfSections()) return 0;
    return static_cast<long>(frames_[static_cast<std::size_t>(section)].size());
}

bool UICollectionView::valid(const NSIndexPath& p) const {
    return p.section >= 0 && p.section < numberOfSections() && p.row >= 0 && p.row < numberOfItemsInSection(p.section);
}

CGRect UICollectionView::frameForItemAtIndexPath(const NSIndexPath& p) const {
    if (!valid(p)) return CGRectZero;
    return frames_[static_cast<std::size_t>(p.section)][static_cast<std::size_t>(p.row)];
}

std::optional<NSIndexPath> UICollectionView::indexPathForItemAtPoint(const CGPoint& point) const {
    for (std::size_t s = 0; s < frames_.size(); ++s)
        for (std::size_t i = 0; i < frames_[s].size(); ++i)
            if (CGRectContainsPoint(frames_[s][i], point)) return NSIndexPath{static_cast<long>(s), static_cast<long>(i)};
    return std::nullopt;
}

// --- Visible cells ----------------------------------------------------------------------

void UICollectionView::enqueue(const std::shared_ptr<UICollectionViewCell>& cell, const NSIndexPath& indexPath) {
    if (auto d = delegate()) d->didEndDisplayingCell(self(), cell, indexPath);
    cell->removeFromSuperview();
    if (!cell->reuseIdentifier().empty()) reusePool_[cell->reuseIdentifier()].push_back(cell);
}

void UICollectionView::updateVisibleCells() {
    if (updatingCells_ || !loaded_) return;
    updatingCells_ = true;
    auto me = self();
    const CGRect visibleRect = bounds();
    std::vector<NSIndexPath> needed;
    for (std::size_t s = 0; s < frames_.size(); ++s)
        for (std::size_t i = 0; i < frames_[s].size(); ++i)
            if (CGRectIntersectsRect(frames_[s][i], visibleRect))
                needed.push_back({static_cast<long>(s), static_cast<long>(i)});
    auto ds = dataSource();
    reconcileVisibleCells(
        visible_, needed, [&](const auto& cell, const NSIndexPath& path) { enqueue(cell, path); },
        [&](const NSIndexPath& path) -> std::shared_ptr<UICollectionViewCell> {
            if (!ds) return nullptr;
            auto cell = ds->cellForItemAtIndexPath(me, path);
            if (!cell) {
                std::fprintf(stderr,
                             "*** Terminating app due to uncaught exception 'NSInternalInconsistencyException', reason: "
                             "'the cell returned from -collectionView:cellForItemAtIndexPath: does not have a reuse "
                             "identifier - cells must be retrieved by calling "
                             "-dequeueReusableCellWithReuseIdentifier:forIndexPath:'\n");
                std::abort();
            }
            return cell;
        },
        [&](const std::shared_ptr<UICollectionViewCell>& cell, const NSIndexPath& path) {
            cell->setSelected(std::find(selected_.begin(), selected_.end(), path) != selected_.end());
            insertSubview(cell, backgroundView_ ? 1 : 0);
            cell->setFrame(frameForItemAtIndexPath(path));
            if (auto d = delegate()) d->willDisplayCell(me, cell, path);
        },
        [&](const auto& cell, const NSIndexPath& path) { cell->setFrame(frameForItemAtIndexPath(path)); });
    updatingCells_ = false;
}

void UICollectionView::contentOffsetDidChange() { updateVisibleCells(); }

void UICollectionView::layoutSubviews() {
    UIScrollView::layoutSubviews();
    if (backgroundView_) backgroundView_->setFrame(bounds());
    if (!loaded_) {
        reloadData();
        return;
    }
    computeLayout();
    updateVisibleCells();
}

std::vector<NSIndexPath> UICollectionView::indexPathsForVisibleItems() const { return visiblePaths(visible_); }

std::vector<std::shared_ptr<UICollectionViewCell>> UICollectionView::visibleCells() const {
    return visibleCellList(visible_);
}

std::shared_ptr<UICollectionViewCell> UICollectionView::cellForItemAtIndexPath(const NSIndexPath& indexPath) const {
    return visibleCellAt(visible_, indexPath);
}

std::optional<NSIndexPath> UICollectionView::indexPathForCell(const std::shared_ptr<UICollectionViewCell>& cell) const {
    for (const auto& [path, c] : visible_)
        if (c == cell) return path;
    return std::nullopt;
}

// --- Reloads ----------------------------------------------------------------------------

void UICollectionView::reloadData() {
    ++reloadCount_;
    loaded_ = true;
    auto visible = std::move(visible_);
    visible_.clear();
    for (auto& [path, cell] : visible) enqueue(cell, path);
    computeLayout();
    std::erase_if(selected_, [&](const NSIndexPath& p) { return !valid(p); });
    updateVisibleCells();
}

void UICollectionView::performBatchUpdates(const std::function<void()>& updates, std::function<void(bool)> completion) {
    ++batchDepth_;
    if (updates) updates();
    --batchDepth_;
    if (batchDepth_ == 0) reloadData();
    if (completion) NSRunLoop::mainRunLoop()->post([completion = std::move(completion)] { completion(true); });
}

void UICollectionView::deleteItemsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths) {
    for (const auto& p : indexPaths) std::erase(selected_, p);
    if (batchDepth_ == 0) reloadData();
}

void UICollectionView::reloadSections(const std::vector<long>&) {
    if (batchDepth_ == 0) reloadData();
}

// --- Selection --------------------------------------------------------------------------

void UICollectionView::setItemSelected(const NSIndexPath& indexPath, bool selected) {
    auto it = std::find(selected_.begin(), selected_.end(), indexPath);
    if (selected && it == selected_.end()) selected_.push_back(indexPath);
    if (!selected && it != selected_.end()) selected_.erase(it);
    if (auto cell = cellForItemAtIndexPath(indexPath)) cell->setSelected(selected);
}

void UICollectionView::deselectItemAtIndexPath(const NSIndexPath& indexPath, bool animated) {
    (void)animated;
    setItemSelected(indexPath, false);
}

void UICollectionView::simulateTapOnItem(const NSIndexPath& indexPath) {
    if (!allowsSelection_ || !valid(indexPath) || !isUserInteractionEnabled() || !UIAlertModality::touchReaches(this))
        return;
    auto me = self();
    auto d = delegate();
    const bool isSelected = std::find(selected_.begin(), selected_.end(), indexPath) != selected_.end();
    if (allowsMultipleSelection_ && isSelected) {
        setItemSelected(indexPath, false);
        if (d) d->didDeselectItemAtIndexPath(me, indexPath);
        return;
    }
    if (d && !d->shouldSelectItemAtIndexPath(me, indexPath)) return;
    if (!allowsMultipleSelection_) {
        const auto selected = selected_;
        for (const auto& p : selected) {
            if (p == indexPath) continue;
            setItemSelected(p, false);
            if (d) d->didDeselectItemAtIndexPath(me, p);
        }
    }
    setItemSelected(indexPath, true);
    if (d) d->didSelectItemAtIndexPath(me, indexPath);
}
