// Tables: the row model and its geometry, visible cells only, reuse, selection, editing and
// checked row updates.
#include "platform/ui/UITableView.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/VisibleCells.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {
[[noreturn]] void inconsistency(const std::string& message) {
    std::fprintf(stderr, "*** Terminating app due to uncaught exception 'NSInternalInconsistencyException', reason: '%s'\n",
                 message.c_str());
    std::fflush(stderr);
    std::abort();
}
}  // namespace

std::shared_ptr<UITableView> UITableView::initWithFrame(const CGRect& frame, UITableViewStyle style) {
    return std::make_shared<UITableView>(frame, style);
}

UITableView::UITableView(const CGRect& frame, UITableViewStyle style)
    : UIScrollView(frame),
      style_(style),
      sectionHeaderHeight_(style == UITableViewStylePlain ? 28 : 18),
      sectionFooterHeight_(style == UITableViewStylePlain ? 28 : 18) {
    setAlwaysBounceVertical(true);
    if (style != UITableViewStylePlain) setBackgroundColor(UIColor::groupTableViewBackgroundColor());
}

std::shared_ptr<UITableView> UITableView::self() { return std::static_pointer_cast<UITableView>(shared_from_this()); }

void UITableView::setDataSource(const std::shared_ptr<UITableViewDataSource>& dataSource) {
    dataSource_ = dataSource;
    loaded_ = false;
    setNeedsLayout();
}

void UITableView::setDelegate(const std::shared_ptr<UITableViewDelegate>& delegate) {
    tableDelegate_ = delegate;
    UIScrollView::setDelegate(delegate);
    loaded_ = false;
    setNeedsLayout();
}

void UITableView::setTableHeaderView(std::shared_ptr<UIView> view) {
    if (tableHeaderView_) tableHeaderView_->removeFromSuperview();
    tableHeaderView_ = std::move(view);
    if (tableHeaderView_) addSubview(tableHeaderView_);
    computeGeometry();
    updateVisibleCells();
}

void UITableView::setBackgroundView(std::shared_ptr<UIView> view) {
    if (backgroundView_) backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(view);
    if (backgroundView_) {
        backgroundView_->setFrame(bounds());
        insertSubview(backgroundView_, 0);
    }
}

void UITableView::setEditing(bool editing, bool animated) {
    editing_ = editing;
    confirming_.reset();
    for (auto& [path, cell] : visible_) {
        cell->setEditing(editing, animated);
        showEditingControls(cell, path);
    }
}

// --- Model and geometry -----------------------------------------------------------------

void UITableView::loadModel() {
    // The rows change under it: a confirmation would name another row.
    confirming_.reset();
    for (auto& section : sections_) {
        if (section.headerView) section.headerView->removeFromSuperview();
        if (section.footerView) section.footerView->removeFromSuperview();
    }
    sections_.clear();
    auto ds = dataSource();
    if (!ds) return;
    auto me = self();
    auto d = delegate();
    const long count = std::max(0L, ds->numberOfSectionsInTableView(me));
    for (long s = 0; s < count; ++s) {
        Section section;
        const long rows = std::max(0L, ds->numberOfRowsInSection(me, s));
        section.rowHeights.reserve(static_cast<std::size_t>(rows));
        for (long r = 0; r < rows; ++r) {
            CGFloat h = d ? d->heightForRowAtIndexPath(me, {s, r}) : UITableViewAutomaticDimension;
            section.rowHeights.push_back(h >= 0 ? h : rowHeight_);
        }
        section.headerTitle = ds->titleForHeaderInSection(me, s);
        section.footerTitle = ds->titleForFooterInSection(me, s);
        if (d) section.headerView = d->viewForHeaderInSection(me, s);
        if (d) section.footerView = d->viewForFooterInSection(me, s);
        if (!section.headerView && !section.headerTitle.empty()) {
            auto label = UILabel::make();
            label->setText(style_ == UITableViewStylePlain ? section.headerTitle
                                                           : NSString::uppercaseString(section.headerTitle));
            label->setFont(UIFont::systemFontOfSize(style_ == UITableViewStylePlain ? 17 : 13));
            section.headerView = label;
        }
        if (!section.footerView && !section.footerTitle.empty()) {
            auto label = UILabel::make();
            label->setText(section.footerTitle);
            label->setFont(UIFont::systemFontOfSize(13));
            label->setNumberOfLines(0);
            section.footerView = label;
        }
        CGFloat hh = d ? d->heightForHeaderInSection(me, s) : UITableViewAutomaticDimension;
        if (hh < 0) hh = (style_ != UITableViewStylePlain || section.headerView) ? sectionHeaderHeight_ : 0;
        CGFloat fh = d ? d->heightForFooterInSection(me, s) : UITableViewAutomaticDimension;
        if (fh < 0) fh = (style_ != UITableViewStylePlain || section.footerView) ? sectionFooterHeight_ : 0;
        section.headerHeight = hh;
        section.footerHeight = fh;
        if (section.headerView) addSubview(section.headerView);
        if (section.footerView) addSubview(section.footerView);
        sections_.push_back(std::move(section));
    }
}

CGFloat UITableView::heightOfSection(long section) const {
    const Section& s = sections_[static_cast<std::size_t>(section)];
    CGFloat h = s.headerHeight + s.footerHeight;
    for (CGFloat r : s.rowHeights) h += r;
    return h;
}

void UITableView::computeGeometry() {
    const CGFloat width = bounds().size.width;
    CGFloat y = 0;
    if (tableHeaderView_) {
        CGRect f = tableHeaderView_->frame();
        tableHeaderView_->setFrame({{0, 0}, {width, f.size.height}});
        y += f.size.height;
    }
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        sections_[i].top = y;
        y += heightOfSection(static_cast<long>(i));
        if (sections_[i].headerView) sections_[i].headerView->setFrame(rectForHeaderInSection(static_cast<long>(i)));
        if (sections_[i].footerView) sections_[i].footerView->setFrame(rectForFooterInSection(static_cast<long>(i)));
    }
    if (tableFooterView_) {
        CGRect f = tableFooterView_->frame();
        tableFooterView_->setFrame({{0, y}, {width, f.size.height}});
        y += f.size.height;
    }
    setContentSize({width, y});
}

long UITableView::numberOfRowsInSection(long section) const {
    if (section < 0 || section >= numberOfSections()) return 0;
    return static_cast<long>(sections_[static_cast<std::size_t>(section)].rowHeights.size());
}

bool UITableView::valid(const NSIndexPath& p) const {
    return p.section >= 0 && p.section < numberOfSections() && p.row >= 0 && p.row < numberOfRowsInSection(p.section);
}

CGRect UITableView::rectForSection(long section) const {
    if (section < 0 || section >= numberOfSections()) return CGRectZero;
    return {{0, sections_[static_cast<std::size_t>(section)].top}, {bounds().size.width, heightOfSection(section)}};
}

CGRect UITableView::rectForHeaderInSection(long section) const {
    if (section < 0 || section >= numberOfSections()) return CGRectZero;
    const Section& s = sections_[static_cast<std::size_t>(section)];
    return {{0, s.top}, {bounds().size.width, s.headerHeight}};
}

CGRect UITableView::rectForFooterInSection(long section) const {
    if (section < 0 || section >= numberOfSections()) return CGRectZero;
    const CGRect r = rectForSection(section);
    const Section& s = sections_[static_cast<std::size_t>(section)];
    return {{0, CGRectGetMaxY(r) - s.footerHeight}, {bounds().size.width, s.footerHeight}};
}

CGRect UITableView::rectForRowAtIndexPath(const NSIndexPath& p) const {
    if (!valid(p)) return CGRectZero;
    const Section& s = sections_[static_cast<std::size_t>(p.section)];
    CGFloat y = s.top + s.headerHeight;
    for (long r = 0; r < p.row; ++r) y += s.rowHeights[static_cast<std::size_t>(r)];
    return {{0, y}, {bounds().size.width, s.rowHeights[static_cast<std::size_t>(p.row)]}};
}

std::optional<NSIndexPath> UITableView::indexPathForRowAtPoint(const CGPoint& point) const {
    for (long s = 0; s < numberOfSections(); ++s) {
        const Section& sec = sections_[static_cast<std::size_t>(s)];
        CGFloat y = sec.top + sec.headerHeight;
        for (long r = 0; r < static_cast<long>(sec.rowHeights.size()); ++r) {
            const CGFloat h = sec.rowHeights[static_cast<std::size_t>(r)];
            if (point.y >= y && point.y < y + h) return NSIndexPath{s, r};
            y += h;
        }
    }
    return std::nullopt;
}

// --- Visible cells ----------------------------------------------------------------------

void UITableView::enqueue(const std::shared_ptr<UITableViewCell>& cell, const NSIndexPath& indexPath) {
    if (auto d = delegate()) d->didEndDisplayingCell(self(), cell, indexPath);
    cell->removeFromSuperview();
    if (!cell->reuseIdentifier().empty()) reusePool_[cell->reuseIdentifier()].push_back(cell);
}

void UITableView::dropVisibleCells() {
    auto visible = std::move(visible_);
    visible_.clear();
    for (auto& [path, cell] : visible) enqueue(cell, path);
}

void UITableView::updateVisibleCells() {
    if (updatingCells_ || !loaded_) return;
    updatingCells_ = true;
    auto me = self();
    const CGRect visibleRect = bounds();
    std::vector<NSIndexPath> needed;
    for (long s = 0; s < numberOfSections(); ++s) {
        const CGRect sectionRect = rectForSection(s);
        if (CGRectGetMaxY(sectionRect) <= CGRectGetMinY(visibleRect) ||
            CGRectGetMinY(sectionRect) >= CGRectGetMaxY(visibleRect))
            continue;
        const Section& sec = sections_[static_cast<std::size_t>(s)];
        CGFloat y = sec.top + sec.headerHeight;
        for (long r = 0; r < static_cast<long>(sec.rowHeights.size()); ++r) {
            const CGFloat h = sec.rowHeights[static_cast<std::size_t>(r)];
            if (h > 0 && y < CGRectGetMaxY(visibleRect) && y + h > CGRectGetMinY(visibleRect)) needed.push_back({s, r});
            y += h;
            if (y >= CGRectGetMaxY(visibleRect)) break;
        }
    }
    auto ds = dataSource();
    reconcileVisibleCells(
        visible_, needed, [&](const auto& cell, const NSIndexPath& path) { enqueue(cell, path); },
        [&](const NSIndexPath& path) -> std::shared_ptr<UITableViewCell> {
            if (!ds) return nullptr;
            auto cell = ds->cellForRowAtIndexPath(me, path);
            if (!cell)
                inconsistency(NSString::format("UITableView (%p) failed to obtain a cell from its dataSource for row %ld "
                                               "in section %ld",
                                               static_cast<const void*>(this), path.row, path.section));
            return cell;
        },
        [&](const std::shared_ptr<UITableViewCell>& cell, const NSIndexPath& path) {
            cell->setSelected(std::find(selected_.begin(), selected_.end(), path) != selected_.end(), false);
            cell->setEditing(editing_, false);
            showEditingControls(cell, path);
            insertSubview(cell, backgroundView_ ? 1 : 0);
            cell->setFrame(rectForRowAtIndexPath(path));
            if (auto d = delegate()) d->willDisplayCell(me, cell, path);
            // The delegate may have moved it.
            cell->setFrame(rectForRowAtIndexPath(path));
        },
        [&](const auto& cell, const NSIndexPath& path) {
            showEditingControls(cell, path);
            cell->setFrame(rectForRowAtIndexPath(path));
        });
    updatingCells_ = false;
}

void UITableView::contentOffsetDidChange() { updateVisibleCells(); }

void UITableView::layoutSubviews() {
    UIScrollView::layoutSubviews();
    attachRowSwipe();
    if (backgroundView_) backgroundView_->setFrame(bounds());
    if (!loaded_) {
        reloadData();
        return;
    }
    computeGeometry();
    updateVisibleCells();
}

std::vector<NSIndexPath> UITableView::indexPathsForVisibleRows() const { return visiblePaths(visible_); }

std::vector<std::shared_ptr<UITableViewCell>> UITableView::visibleCells() const { return visibleCellList(visible_); }

std::shared_ptr<UITableViewCell> UITableView::cellForRowAtIndexPath(const NSIndexPath& indexPath) const {
    return visibleCellAt(visible_, indexPath);
}

std::shared_ptr<UIView> UITableView::headerViewForSection(long section) const {
    if (section < 0 || section >= numberOfSections()) return nullptr;
    return sections_[static_cast<std::size_t>(section)].headerView;
}

std::optional<NSIndexPath> UITableView::indexPathForCell(const std::shared_ptr<UITableViewCell>& cell) const {
    for (const auto& [path, c] : visible_)
        if (c == cell) return path;
    return std::nullopt;
}

void UITableView::registerCellFactory(CellFactory factory, const std::string& reuseIdentifier) {
    factories_[reuseIdentifier] = std::move(factory);
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
    auto it = reusePool_.find(identifier);
    if (it == reusePool_.end() || it->second.empty()) return nullptr;
    auto cell = it->second.back();
    it->second.pop_back();
    cell->prepareForReuse();
    return cell;
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                                const NSIndexPath& indexPath) {
    (void)indexPath;
    if (auto cell = dequeueReusableCellWithIdentifier(identifier)) return cell;
    auto it = factories_.find(identifier);
    if (it == factories_.end())
        inconsistency("unable to dequeue a cell with identifier " + identifier +
                      " - must register a nib or a class for the identifier");
    auto cell = it->second(identifier);
    cell->contentView();
    return cell;
}

// --- Reloads and updates ----------------------------------------------------------------

void UITableView::reloadData() {
    updateLog_.push_back({Update::Kind::ReloadData, {}, {}, UITableViewRowAnimationNone});
    loaded_ = true;
    dropVisibleCells();
    selected_.clear();
    loadModel();
    computeGeometry();
    updateVisibleCells();
}

void UITableView::reloadRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation) {
    updateLog_.push_back({Update::Kind::ReloadRows, indexPaths, {}, animation});
    if (!loaded_) return;
    for (const auto& path : indexPaths) {
        auto it = visible_.find(path);
        if (it == visible_.end()) continue;
        auto cell = it->second;
        visible_.erase(it);
        enqueue(cell, path);
    }
    loadModel();
    computeGeometry();
    updateVisibleCells();
}

void UITableView::reloadSections(const std::vector<long>& sections, UITableViewRowAnimation animation) {
    updateLog_.push_back({Update::Kind::ReloadSections, {}, sections, animation});
    if (!loaded_) return;
    for (auto it = visible_.begin(); it != visible_.end();) {
        if (std::find(sections.begin(), sections.end(), it->first.section) == sections.end()) {
            ++it;
            continue;
        }
        auto cell = it->second;
        const NSIndexPath path = it->first;
        it = visible_.erase(it);
        enqueue(cell, path);
    }
    loadModel();
    computeGeometry();
    updateVisibleCells();
}

void UITableView::beginChange() {
    if (updateDepth_++ > 0) return;
    countsBefore_.clear();
    for (long s = 0; s < numberOfSections(); ++s) countsBefore_.push_back(numberOfRowsInSection(s));
    pendingDeletes_.clear();
    pendingInserts_.clear();
    sectionDelta_ = 0;
    sectionsChanged_ = false;
}

void UITableView::checkCounts(const char* operation) {
    (void)operation;
    auto ds = dataSource();
    if (!ds || !loaded_) return;
    auto me = self();
    const long sectionsAfter = ds->numberOfSectionsInTableView(me);
    const long expectedSections = static_cast<long>(countsBefore_.size()) + sectionDelta_;
    if (sectionsAfter != expectedSections)
        inconsistency(NSString::format(
            "Invalid update: invalid number of sections. The number of sections contained in the table view after the "
            "update (%ld) must be equal to the number of sections contained in the table view before the update (%ld), "
            "plus or minus the number of sections inserted or deleted (%ld net).",
            sectionsAfter, static_cast<long>(countsBefore_.size()), sectionDelta_));
    if (sectionsChanged_) return;
    for (long s = 0; s < sectionsAfter; ++s) {
        long inserted = 0, deleted = 0;
        for (const auto& p : pendingInserts_) inserted += p.section == s;
        for (const auto& p : pendingDeletes_) deleted += p.section == s;
        const long before = countsBefore_[static_cast<std::size_t>(s)];
        const long after = ds->numberOfRowsInSection(me, s);
        if (after != before + inserted - deleted)
            inconsistency(NSString::format(
                "Invalid update: invalid number of rows in section %ld. The number of rows contained in an existing "
                "section after the update (%ld) must be equal to the number of rows contained in that section before "
                "the update (%ld), plus or minus the number of rows inserted or deleted from that section (%ld "
                "inserted, %ld deleted) and plus or minus the number of rows moved into or out of that section (0 "
                "moved in, 0 moved out).",
                s, after, before, inserted, deleted));
    }
}

void UITableView::endChange(const char* operation) {
    if (--updateDepth_ > 0) return;
    if (!loaded_) return;
    checkCounts(operation);
    if (sectionsChanged_) {
        dropVisibleCells();
        selected_.clear();
    } else {
        // Old rows move to their new indexes: deletions count in the old numbering,
        // insertions in the new, as the platform applies them.
        auto remap = [&](const NSIndexPath& p) -> std::optional<NSIndexPath> {
            if (std::find(pendingDeletes_.begin(), pendingDeletes_.end(), p) != pendingDeletes_.end())
                return std::nullopt;
            long row = p.row;
            for (const auto& d : pendingDeletes_)
                if (d.section == p.section && d.row < p.row) --row;
            std::vector<long> inserts;
            for (const auto& i : pendingInserts_)
                if (i.section == p.section) inserts.push_back(i.row);
            std::sort(inserts.begin(), inserts.end());
            for (long i : inserts)
                if (i <= row) ++row;
            return NSIndexPath{p.section, row};
        };
        std::map<NSIndexPath, std::shared_ptr<UITableViewCell>> moved;
        for (auto& [path, cell] : visible_) {
            if (auto to = remap(path)) moved[*to] = cell;
            else enqueue(cell, path);
        }
        visible_ = std::move(moved);
        std::vector<NSIndexPath> selection;
        for (const auto& p : selected_)
            if (auto to = remap(p)) selection.push_back(*to);
        selected_ = std::move(selection);
    }
    loadModel();
    computeGeometry();
    updateVisibleCells();
}

void UITableView::insertRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation) {
    updateLog_.push_back({Update::Kind::InsertRows, indexPaths, {}, animation});
    beginChange();
    pendingInserts_.insert(pendingInserts_.end(), indexPaths.begin(), indexPaths.end());
    endChange("insertRowsAtIndexPaths");
}

void UITableView::deleteRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation) {
    updateLog_.push_back({Update::Kind::DeleteRows, indexPaths, {}, animation});
    beginChange();
    for (const auto& p : indexPaths)
        if (!valid(p) && loaded_)
            inconsistency(NSString::format("attempt to delete row %ld from section %ld, which only contains %ld rows "
                                           "before the update",
                                           p.row, p.section, numberOfRowsInSection(p.section)));
    pendingDeletes_.insert(pendingDeletes_.end(), indexPaths.begin(), indexPaths.end());
    endChange("deleteRowsAtIndexPaths");
}

void UITableView::moveRowAtIndexPath(const NSIndexPath& from, const NSIndexPath& to) {
    updateLog_.push_back({Update::Kind::MoveRow, {from, to}, {}, UITableViewRowAnimationNone});
    if (!loaded_) return;
    // The moved row keeps its cell; the rows between shift by one.
    std::map<NSIndexPath, std::shared_ptr<UITableViewCell>> moved;
    for (auto& [path, cell] : visible_) {
        NSIndexPath p = path;
        if (p == from) {
            moved[to] = cell;
            continue;
        }
        if (p.section == from.section && p.row > from.row) --p.row;
        if (p.section == to.section && p.row >= to.row) ++p.row;
        moved[p] = cell;
    }
    visible_ = std::move(moved);
    loadModel();
    computeGeometry();
    updateVisibleCells();
}

void UITableView::beginUpdates() { beginChange(); }

void UITableView::endUpdates() { endChange("endUpdates"); }

// --- Selection and scrolling ------------------------------------------------------------

void UITableView::setRowSelected(const NSIndexPath& indexPath, bool selected) {
    auto it = std::find(selected_.begin(), selected_.end(), indexPath);
    if (selected && it == selected_.end()) selected_.push_back(indexPath);
    if (!selected && it != selected_.end()) selected_.erase(it);
    std::sort(selected_.begin(), selected_.end());
    if (auto cell = cellForRowAtIndexPath(indexPath)) cell->setSelected(selected, false);
}

void UITableView::selectRowAtIndexPath(const std::optional<NSIndexPath>& indexPath, bool animated,
                                       UITableViewScrollPosition position) {
    if (!indexPath) {
        const auto selected = selected_;
        for (const auto& p : selected) setRowSelected(p, false);
        return;
    }
    if (!valid(*indexPath)) return;
    if (!allowsMultipleSelection_) {
        const auto selected = selected_;
        for (const auto& p : selected)
            if (p != *indexPath) setRowSelected(p, false);
    }
    setRowSelected(*indexPath, true);
    if (position != UITableViewScrollPositionNone) scrollToRowAtIndexPath(*indexPath, position, animated);
}

void UITableView::deselectRowAtIndexPath(const NSIndexPath& indexPath, bool animated) {
    (void)animated;
    setRowSelected(indexPath, false);
}

std::optional<NSIndexPath> UITableView::indexPathForSelectedRow() const {
    if (selected_.empty()) return std::nullopt;
    return selected_.front();
}

std::vector<NSIndexPath> UITableView::indexPathsForSelectedRows() const { return selected_; }

void UITableView::scrollToRowAtIndexPath(const NSIndexPath& indexPath, UITableViewScrollPosition position,
                                         bool animated) {
    if (!valid(indexPath)) return;
    const CGRect row = rectForRowAtIndexPath(indexPath);
    const CGRect b = bounds();
    CGPoint offset = b.origin;
    switch (position) {
    case UITableViewScrollPositionTop: offset.y = row.origin.y; break;
    case UITableViewScrollPositionMiddle: offset.y = CGRectGetMidY(row) - b.size.height / 2; break;
    case UITableViewScrollPositionBottom: offset.y = CGRectGetMaxY(row) - b.size.height; break;
    case UITableViewScrollPositionNone:
        if (row.origin.y < b.origin.y) offset.y = row.origin.y;
        else if (CGRectGetMaxY(row) > CGRectGetMaxY(b)) offset.y = CGRectGetMaxY(row) - b.size.height;
        break;
    }
    const CGPoint min = minimumContentOffset(), max = maximumContentOffset();
    offset.y = std::clamp(offset.y, min.y, max.y);
    setContentOffset(offset, animated);
}

void UITableView::simulateTapOnRow(const NSIndexPath& indexPath) {
    if (!valid(indexPath) || !isUserInteractionEnabled() || !UIAlertModality::touchReaches(this)) return;
    // A tap while a row offers its deletion only takes the offer away.
    if (confirming_) {
        showDeleteConfirmation(std::nullopt);
        return;
    }
    if (editing_ ? !allowsSelectionDuringEditing_ : !allowsSelection_) return;
    auto me = self();
    auto d = delegate();
    if (d && !d->shouldHighlightRowAtIndexPath(me, indexPath)) return;
    const bool isSelected = std::find(selected_.begin(), selected_.end(), indexPath) != selected_.end();
    if (allowsMultipleSelection_ && isSelected) {
        auto target = d ? d->willDeselectRowAtIndexPath(me, indexPath) : std::optional<NSIndexPath>(indexPath);
        if (!target) return;
        setRowSelected(*target, false);
        if (d) d->didDeselectRowAtIndexPath(me, *target);
        return;
    }
    auto target = d ? d->willSelectRowAtIndexPath(me, indexPath) : std::optional<NSIndexPath>(indexPath);
    if (!target || !valid(*target)) return;
    if (!allowsMultipleSelection_) {
        const auto selected = selected_;
        for (const auto& p : selected) {
            if (p == *target) continue;
            auto deselect = d ? d->willDeselectRowAtIndexPath(me, p) : std::optional<NSIndexPath>(p);
            if (!deselect) continue;
            setRowSelected(*deselect, false);
            if (d) d->didDeselectRowAtIndexPath(me, *deselect);
        }
    }
    setRowSelected(*target, true);
    if (d) d->didSelectRowAtIndexPath(me, *target);
}

bool UITableView::simulateDeleteRow(const NSIndexPath& indexPath) { return commitDeletion(indexPath); }

bool UITableView::simulateMoveRow(const NSIndexPath& from, const NSIndexPath& to) {
    auto ds = dataSource();
    if (!ds || !editing_ || !rowMoves(from)) return false;
    ds->moveRowAtIndexPath(self(), from, to);
    moveRowAtIndexPath(from, to);
    return true;
}

// --- Editing by touch -------------------------------------------------------------------

namespace {

// A horizontal drag across a row: to the left on a row that takes deletion, to the right on
// the row offering it. Vertical drags are the scroll view's.
class RowSwipe : public UIPanGestureRecognizer {
public:
    explicit RowSwipe(std::weak_ptr<UITableView> table) : table_(std::move(table)) {}
    std::optional<NSIndexPath> row;

protected:
    bool canBegin() override {
        auto table = table_.lock();
        if (!table) return false;
        const CGPoint moved = translationInView(table);
        if (std::fabs(moved.x) <= std::fabs(moved.y)) return false;
        CGPoint start = locationInView(table);
        start.x -= moved.x;
        start.y -= moved.y;
        row = table->indexPathForRowAtPoint(start);
        if (!row) return false;
        if (moved.x > 0) return table->indexPathForDeleteConfirmation() == row;
        return !table->isEditing() && table->rowTakesDeletion(*row);
    }
    void reset() override {
        UIPanGestureRecognizer::reset();
        row.reset();
    }

private:
    std::weak_ptr<UITableView> table_;
};

}  // namespace

void UITableView::attachRowSwipe() {
    if (rowSwipe_) return;
    auto swipe = std::make_shared<RowSwipe>(self());
    swipe->setMaximumNumberOfTouches(1);
    std::weak_ptr<UITableView> weak = self();
    swipe->addTarget(nullptr, [weak](const std::shared_ptr<UIGestureRecognizer>& r) {
        auto table = weak.lock();
        auto swipe = std::dynamic_pointer_cast<RowSwipe>(r);
        if (!table || !swipe || r->state() != UIGestureRecognizerState::Ended || !swipe->row) return;
        const bool left = swipe->translationInView(table).x < 0;
        table->showDeleteConfirmation(left ? swipe->row : std::nullopt);
    });
    rowSwipe_ = swipe;
    addGestureRecognizer(rowSwipe_);
}

bool UITableView::rowTakesDeletion(const NSIndexPath& indexPath) {
    auto ds = dataSource();
    if (!ds || !valid(indexPath) || !ds->respondsToCommitEditingStyle()) return false;
    auto me = self();
    if (!ds->canEditRowAtIndexPath(me, indexPath)) return false;
    auto d = delegate();
    return !d || d->editingStyleForRowAtIndexPath(me, indexPath) == UITableViewCellEditingStyleDelete;
}

bool UITableView::rowMoves(const NSIndexPath& indexPath) {
    auto ds = dataSource();
    return ds && valid(indexPath) && ds->respondsToMoveRow() && ds->canMoveRowAtIndexPath(self(), indexPath);
}

void UITableView::showDeleteConfirmation(const std::optional<NSIndexPath>& indexPath) {
    confirming_ = indexPath && rowTakesDeletion(*indexPath) ? indexPath : std::nullopt;
    for (auto& [path, cell] : visible_) showEditingControls(cell, path);
}

void UITableView::showEditingControls(const std::shared_ptr<UITableViewCell>& cell, const NSIndexPath& indexPath) {
    const bool deletes = rowTakesDeletion(indexPath);
    cell->setEditingControls(editing_ && deletes, editing_ && rowMoves(indexPath));
    std::string title;
    if (deletes && confirming_ == indexPath) {
        auto d = delegate();
        title = d ? d->titleForDeleteConfirmationButtonForRowAtIndexPath(self(), indexPath) : "Delete";
    }
    cell->setDeleteConfirmationTitle(title);
}

void UITableView::deleteControlTapped(const std::shared_ptr<UITableViewCell>& cell) {
    auto path = indexPathForCell(cell);
    if (!path || !editing_) return;
    showDeleteConfirmation(confirming_ == path ? std::nullopt : path);
}

void UITableView::deleteConfirmationTapped(const std::shared_ptr<UITableViewCell>& cell) {
    auto path = indexPathForCell(cell);
    if (path && confirming_ == path) (void)commitDeletion(*path);
}

void UITableView::reorderControlDropped(const std::shared_ptr<UITableViewCell>& cell, CGPoint point) {
    auto from = indexPathForCell(cell);
    if (!from || numberOfRowsInSection(from->section) == 0) return;
    // Past the first or the last row of its section, the row goes to that end.
    const CGRect section = rectForSection(from->section);
    const long last = numberOfRowsInSection(from->section) - 1;
    point.y = std::clamp(point.y, CGRectGetMinY(section), CGRectGetMaxY(section) - 1);
    auto to = indexPathForRowAtPoint(point);
    if (!to || to->section != from->section) to = NSIndexPath{from->section, point.y < CGRectGetMidY(section) ? 0 : last};
    if (*to != *from) (void)simulateMoveRow(*from, *to);
}

bool UITableView::commitDeletion(const NSIndexPath& indexPath) {
    if (!rowTakesDeletion(indexPath)) return false;
    confirming_.reset();
    dataSource()->commitEditingStyle(self(), UITableViewCellEditingStyleDelete, indexPath);
    for (auto& [path, cell] : visible_) showEditingControls(cell, path);
    return true;
}

void UITableView::simulateAccessoryTap(const NSIndexPath& indexPath) {
    if (!valid(indexPath) || !UIAlertModality::touchReaches(this)) return;
    if (auto d = delegate()) d->accessoryButtonTappedForRowWithIndexPath(self(), indexPath);
}
