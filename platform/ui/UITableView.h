// Tables: sections of rows from a data source, cells asked for only for the rows inside the
// bounds at the current offset and reused by identifier, selection, editing and the recorded
// row and section updates.
#pragma once

#include "platform/ui/NSIndexPath.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UITableViewCell.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class UIColor;
class UIPanGestureRecognizer;
class UITableView;

enum UITableViewStyle : int {
    UITableViewStylePlain = 0,
    UITableViewStyleGrouped = 1,
    UITableViewStyleInsetGrouped = 2,
};

enum UITableViewScrollPosition : int {
    UITableViewScrollPositionNone = 0,
    UITableViewScrollPositionTop = 1,
    UITableViewScrollPositionMiddle = 2,
    UITableViewScrollPositionBottom = 3,
};

enum UITableViewRowAnimation : int {
    UITableViewRowAnimationFade = 0,
    UITableViewRowAnimationRight = 1,
    UITableViewRowAnimationLeft = 2,
    UITableViewRowAnimationTop = 3,
    UITableViewRowAnimationBottom = 4,
    UITableViewRowAnimationNone = 5,
    UITableViewRowAnimationMiddle = 6,
    UITableViewRowAnimationAutomatic = 100,
};

enum UITableViewCellSeparatorStyle : int {
    UITableViewCellSeparatorStyleNone = 0,
    UITableViewCellSeparatorStyleSingleLine = 1,
};

// A height the delegate leaves to the table.
inline constexpr CGFloat UITableViewAutomaticDimension = -1;

class UITableViewDataSource {
public:
    virtual ~UITableViewDataSource() = default;
    virtual long numberOfSectionsInTableView(const std::shared_ptr<UITableView>&) { return 1; }
    virtual long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) = 0;
    virtual std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                   const NSIndexPath& indexPath) = 0;
    // Empty: no title.
    virtual std::string titleForHeaderInSection(const std::shared_ptr<UITableView>&, long) { return ""; }
    virtual std::string titleForFooterInSection(const std::shared_ptr<UITableView>&, long) { return ""; }
    virtual bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) { return true; }
    virtual bool canMoveRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {
        return respondsToMoveRow();
    }
    virtual void commitEditingStyle(const std::shared_ptr<UITableView>&, UITableViewCellEditingStyle,
                                    const NSIndexPath&) {}
    virtual void moveRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&, const NSIndexPath&) {}
    virtual std::vector<std::string> sectionIndexTitlesForTableView(const std::shared_ptr<UITableView>&) { return {}; }
    virtual long sectionForSectionIndexTitle(const std::shared_ptr<UITableView>&, const std::string&, long index) {
        return index;
    }
    // Whether commitEditingStyle / moveRowAtIndexPath are implemented (swipe-to-delete and
    // reordering exist only then).
    virtual bool respondsToCommitEditingStyle() const { return false; }
    virtual bool respondsToMoveRow() const { return false; }
};

class UITableViewDelegate : public UIScrollViewDelegate {
public:
    virtual CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {
        return UITableViewAutomaticDimension;
    }
    virtual CGFloat heightForHeaderInSection(const std::shared_ptr<UITableView>&, long) {
        return UITableViewAutomaticDimension;
    }
    virtual CGFloat heightForFooterInSection(const std::shared_ptr<UITableView>&, long) {
        return UITableViewAutomaticDimension;
    }
    virtual std::shared_ptr<UIView> viewForHeaderInSection(const std::shared_ptr<UITableView>&, long) { return nullptr; }
    virtual std::shared_ptr<UIView> viewForFooterInSection(const std::shared_ptr<UITableView>&, long) { return nullptr; }
    virtual void willDisplayCell(const std::shared_ptr<UITableView>&, const std::shared_ptr<UITableViewCell>&,
                                 const NSIndexPath&) {}
    virtual void didEndDisplayingCell(const std::shared_ptr<UITableView>&, const std::shared_ptr<UITableViewCell>&,
                                      const NSIndexPath&) {}
    virtual bool shouldHighlightRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) { return true; }
    // The row to select instead, or none to select nothing.
    virtual std::optional<NSIndexPath> willSelectRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                                const NSIndexPath& indexPath) {
        return indexPath;
    }
    virtual void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {}
    virtual std::optional<NSIndexPath> willDeselectRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                                  const NSIndexPath& indexPath) {
        return indexPath;
    }
    virtual void didDeselectRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {}
    virtual UITableViewCellEditingStyle editingStyleForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                                      const NSIndexPath&) {
        return UITableViewCellEditingStyleDelete;
    }
    virtual std::string titleForDeleteConfirmationButtonForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                                          const NSIndexPath&) {
        return "Delete";
    }
    virtual void accessoryButtonTappedForRowWithIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {}
};

class UITableView : public UIScrollView {
public:
    struct Update {
        enum class Kind { ReloadData, ReloadRows, ReloadSections, InsertRows, DeleteRows, InsertSections,
                          DeleteSections, MoveRow };
        Kind kind;
        std::vector<NSIndexPath> indexPaths;  // rows, or for MoveRow: from, to
        std::vector<long> sections;
        UITableViewRowAnimation animation = UITableViewRowAnimationNone;
    };
    using CellFactory = std::function<std::shared_ptr<UITableViewCell>(const std::string& reuseIdentifier)>;

    static std::shared_ptr<UITableView> initWithFrame(const CGRect& frame, UITableViewStyle style);
    static std::shared_ptr<UITableView> initWithFrame(const CGRect& frame) {
        return initWithFrame(frame, UITableViewStylePlain);
    }
    UITableView(const CGRect& frame, UITableViewStyle style);

    UITableViewStyle style() const { return style_; }
    std::shared_ptr<UITableViewDataSource> dataSource() const { return dataSource_.lock(); }
    void setDataSource(const std::shared_ptr<UITableViewDataSource>& dataSource);
    std::shared_ptr<UITableViewDelegate> delegate() const { return tableDelegate_.lock(); }
    // Also the scroll view's delegate.
    void setDelegate(const std::shared_ptr<UITableViewDelegate>& delegate);

    std::shared_ptr<UIView> tableHeaderView() const { return tableHeaderView_; }
    void setTableHeaderView(std::shared_ptr<UIView> view);
    std::shared_ptr<UIView> backgroundView() const { return backgroundView_; }
    void setBackgroundView(std::shared_ptr<UIView> view);
    void setAllowsSelection(bool allows) { allowsSelection_ = allows; }
    bool isEditing() const { return editing_; }
    void setEditing(bool editing) { setEditing(editing, false); }
    void setEditing(bool editing, bool animated);

    // Forgets the rows and asks the data source again, then loads the visible cells.
    void reloadData();
    void reloadRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation);
    void reloadSections(const std::vector<long>& sections, UITableViewRowAnimation animation);
    // Outside beginUpdates/endUpdates each is checked at once: the data source's new row
    // counts must equal the old ones plus insertions less deletions, else the process stops
    // with the platform's inconsistency message.
    void insertRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation);
    void deleteRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation);
    void moveRowAtIndexPath(const NSIndexPath& from, const NSIndexPath& to);
    void beginUpdates();
    void endUpdates();
    // Every reload and update asked for, oldest first.
    const std::vector<Update>& updateLog() const { return updateLog_; }
    void clearUpdateLog() { updateLog_.clear(); }

    long numberOfSections() const { return static_cast<long>(sections_.size()); }
    long numberOfRowsInSection(long section) const;
    CGRect rectForRowAtIndexPath(const NSIndexPath& indexPath) const;
    CGRect rectForSection(long section) const;
    CGRect rectForHeaderInSection(long section) const;
    CGRect rectForFooterInSection(long section) const;
    std::optional<NSIndexPath> indexPathForRowAtPoint(const CGPoint& point) const;
    std::optional<NSIndexPath> indexPathForCell(const std::shared_ptr<UITableViewCell>& cell) const;
    std::vector<NSIndexPath> indexPathsForVisibleRows() const;
    std::vector<std::shared_ptr<UITableViewCell>> visibleCells() const;
    // Only a visible row has a cell; empty otherwise.
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const NSIndexPath& indexPath) const;
    std::shared_ptr<UIView> headerViewForSection(long section) const;

    void registerCellFactory(CellFactory factory, const std::string& reuseIdentifier);
    template <class Cell>
    void registerClass(const std::string& reuseIdentifier) {
        registerCellFactory(
            [](const std::string& identifier) {
                return std::make_shared<Cell>(UITableViewCellStyleDefault, identifier);
            },
            reuseIdentifier);
    }
    // A cell waiting for reuse under the identifier (prepared for reuse), else none.
    std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
    // The same, falling back on the registered factory; a programming error without one.
    std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                      const NSIndexPath& indexPath);

    void selectRowAtIndexPath(const std::optional<NSIndexPath>& indexPath, bool animated,
                              UITableViewScrollPosition position);
    void deselectRowAtIndexPath(const NSIndexPath& indexPath, bool animated);
    std::optional<NSIndexPath> indexPathForSelectedRow() const;
    std::vector<NSIndexPath> indexPathsForSelectedRows() const;
    void scrollToRowAtIndexPath(const NSIndexPath& indexPath, UITableViewScrollPosition position, bool animated);

    // A person's tap on a row: highlight, will-select, select (deselecting the others unless
    // several may be selected), did-select. A selected row tapped in a multiple-selection
    // table is deselected.
    void simulateTapOnRow(const NSIndexPath& indexPath);
    // A person's swipe-to-delete and confirmation: commitEditingStyle with delete, when the
    // row can be edited and the data source implements it.
    bool simulateDeleteRow(const NSIndexPath& indexPath);
    // A person's drag of a row in editing mode: the data source moves it, then the table.
    bool simulateMoveRow(const NSIndexPath& from, const NSIndexPath& to);
    void simulateAccessoryTap(const NSIndexPath& indexPath);

    // --- Editing by touch -------------------------------------------------------------------
    // A row takes deletion when the data source commits edits, lets the row be edited and
    // the delegate gives it the delete style; it moves while editing when the data source
    // moves rows and lets this one move. A finger swiping a row that takes deletion to the
    // left (outside editing) shows its delete confirmation, as a tap on the row's delete
    // control does while editing; a swipe back to the right, a tap on the row, any change to
    // the rows and the end of editing take it away, and a tap on it deletes the row.
    bool rowTakesDeletion(const NSIndexPath& indexPath);
    bool rowMoves(const NSIndexPath& indexPath);
    std::optional<NSIndexPath> indexPathForDeleteConfirmation() const { return confirming_; }
    void showDeleteConfirmation(const std::optional<NSIndexPath>& indexPath);
    // What the cells' editing controls do.
    void deleteControlTapped(const std::shared_ptr<UITableViewCell>& cell);
    void deleteConfirmationTapped(const std::shared_ptr<UITableViewCell>& cell);
    // The cell's grip let go at `point` (table coordinates): the row moves to the row there.
    void reorderControlDropped(const std::shared_ptr<UITableViewCell>& cell, CGPoint point);

    void layoutSubviews() override;

protected:
    void contentOffsetDidChange() override;

private:
    struct Section {
        CGFloat headerHeight = 0;
        CGFloat footerHeight = 0;
        std::vector<CGFloat> rowHeights;
        std::string headerTitle;
        std::string footerTitle;
        std::shared_ptr<UIView> headerView;
        std::shared_ptr<UIView> footerView;
        CGFloat top = 0;  // where the section starts
    };

    std::shared_ptr<UITableView> self();
    void loadModel();
    void computeGeometry();
    void updateVisibleCells();
    void enqueue(const std::shared_ptr<UITableViewCell>& cell, const NSIndexPath& indexPath);
    void dropVisibleCells();
    void checkCounts(const char* operation);
    CGFloat heightOfSection(long section) const;
    bool valid(const NSIndexPath& indexPath) const;
    bool commitDeletion(const NSIndexPath& indexPath);
    void showEditingControls(const std::shared_ptr<UITableViewCell>& cell, const NSIndexPath& indexPath);
    void attachRowSwipe();
    void setRowSelected(const NSIndexPath& indexPath, bool selected);

    UITableViewStyle style_;
    std::weak_ptr<UITableViewDataSource> dataSource_;
    std::weak_ptr<UITableViewDelegate> tableDelegate_;
    CGFloat rowHeight_ = 44;
    CGFloat sectionHeaderHeight_;
    CGFloat sectionFooterHeight_;
    std::shared_ptr<UIView> tableHeaderView_;
    std::shared_ptr<UIView> tableFooterView_;
    std::shared_ptr<UIView> backgroundView_;
    bool allowsSelection_ = true;
    bool allowsMultipleSelection_ = false;
    bool allowsSelectionDuringEditing_ = false;
    bool editing_ = false;
    std::optional<NSIndexPath> confirming_;
    std::shared_ptr<UIPanGestureRecognizer> rowSwipe_;

    bool loaded_ = false;
    bool updatingCells_ = false;
    std::vector<Section> sections_;
    std::map<NSIndexPath, std::shared_ptr<UITableViewCell>> visible_;
    std::map<std::string, std::vector<std::shared_ptr<UITableViewCell>>> reusePool_;
    std::map<std::string, CellFactory> factories_;
    std::vector<NSIndexPath> selected_;
    std::vector<Update> updateLog_;

    // Pending changes of a beginUpdates/endUpdates block.
    int updateDepth_ = 0;
    std::vector<long> countsBefore_;
    std::vector<NSIndexPath> pendingDeletes_;
    std::vector<NSIndexPath> pendingInserts_;
    long sectionDelta_ = 0;
    bool sectionsChanged_ = false;

    void beginChange();
    void endChange(const char* operation);
};
