// Tables: only visible rows are asked for, cells are reused as the table scrolls, selection
// goes through the delegate, and row updates are checked against the data source.
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableView.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

class Source : public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<long> rows{100};
    std::vector<NSIndexPath> asked;
    int made = 0;
    std::vector<std::string> events;
    bool implementsDelete = true;

    long numberOfSectionsInTableView(const std::shared_ptr<UITableView>&) override {
        return static_cast<long>(rows.size());
    }
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long section) override {
        return rows[static_cast<std::size_t>(section)];
    }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& table,
                                                           const NSIndexPath& path) override {
        asked.push_back(path);
        auto cell = table->dequeueReusableCellWithIdentifier("Row");
        if (!cell) {
            ++made;
            cell = UITableViewCell::initWithStyle(UITableViewCellStyleSubtitle, "Row");
        }
        cell->textLabel()->setText("Row " + std::to_string(path.row));
        return cell;
    }
    std::string titleForHeaderInSection(const std::shared_ptr<UITableView>&, long section) override {
        return section == 1 ? "Second" : "";
    }
    bool respondsToCommitEditingStyle() const override { return implementsDelete; }
    void commitEditingStyle(const std::shared_ptr<UITableView>& table, UITableViewCellEditingStyle,
                            const NSIndexPath& path) override {
        --rows[static_cast<std::size_t>(path.section)];
        table->deleteRowsAtIndexPaths({path}, UITableViewRowAnimationFade);
    }
    std::optional<NSIndexPath> willSelectRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                        const NSIndexPath& path) override {
        events.push_back("willSelect " + path.description());
        if (path.row == 3) return std::nullopt;  // row 3 cannot be selected
        return path;
    }
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& path) override {
        events.push_back("didSelect " + path.description());
    }
    void didDeselectRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& path) override {
        events.push_back("didDeselect " + path.description());
    }
};

std::shared_ptr<UITableView> makeTable(const std::shared_ptr<Source>& source, CGFloat height = 220) {
    auto table = UITableView::initWithFrame(CGRectMake(0, 0, 320, height), UITableViewStylePlain);
    table->setDataSource(source);
    table->setDelegate(source);
    table->layoutIfNeeded();
    return table;
}

TEST(TableCells, OnlyTheRowsInsideTheFrameAtTheOffsetAreAskedForAndCellsAreReused) {
    auto source = std::make_shared<Source>();
    auto table = makeTable(source);
    // 220 points of 44-point rows: rows 0 to 4.
    EXPECT_EQ(source->asked, (std::vector<NSIndexPath>{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}}));
    EXPECT_EQ(source->made, 5);
    EXPECT_EQ(table->contentSize(), CGSizeMake(320, 4400));
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 4})->frame(), CGRectMake(0, 176, 320, 44));
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 5}), nullptr);

    source->asked.clear();
    table->setContentOffset({0, 22});  // half of row 0 gone, half of row 5 in view
    EXPECT_EQ(source->asked, (std::vector<NSIndexPath>{{0, 5}}));
    EXPECT_EQ(source->made, 6);

    source->asked.clear();
    table->setContentOffset({0, 440});  // rows 10 to 14: the five old cells come back
    EXPECT_EQ(source->asked.size(), 5u);
    EXPECT_EQ(source->asked.front(), (NSIndexPath{0, 10}));
    EXPECT_EQ(source->made, 6);
    EXPECT_EQ(table->indexPathsForVisibleRows().size(), 5u);
    auto cell = table->cellForRowAtIndexPath({0, 12});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->textLabel()->text(), "Row 12");
    EXPECT_EQ(table->indexPathForCell(cell), (NSIndexPath{0, 12}));
    EXPECT_EQ(cell->superview(), table);
    EXPECT_EQ(table->visibleCells().size(), 5u);
    EXPECT_EQ(table->indexPathForRowAtPoint({5, 460}), (NSIndexPath{0, 10}));
}

TEST(TableCells, SectionsHeadersAndScrollingToARow) {
    auto source = std::make_shared<Source>();
    source->rows = {2, 30};
    auto table = makeTable(source);
    EXPECT_EQ(table->numberOfSections(), 2);
    EXPECT_EQ(table->rectForHeaderInSection(0).size.height, 0);  // untitled plain header
    EXPECT_EQ(table->rectForHeaderInSection(1), CGRectMake(0, 88, 320, 28));
    EXPECT_EQ(table->rectForRowAtIndexPath({1, 0}), CGRectMake(0, 116, 320, 44));
    auto header = std::dynamic_pointer_cast<UILabel>(table->headerViewForSection(1));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->text(), "Second");

    table->scrollToRowAtIndexPath({1, 10}, UITableViewScrollPositionMiddle, false);
    // Row (1, 10) spans 556 to 600: its middle, 578, at the middle of 220 points.
    EXPECT_EQ(table->contentOffset(), CGPointMake(0, 468));
    EXPECT_TRUE(table->cellForRowAtIndexPath({1, 10}));
    table->scrollToRowAtIndexPath({1, 29}, UITableViewScrollPositionTop, false);
    EXPECT_EQ(table->contentOffset().y, table->contentSize().height - 220);  // clamped
}

TEST(TableSelection, TapsGoThroughWillSelectAndDeselectThePreviousRow) {
    auto source = std::make_shared<Source>();
    auto table = makeTable(source);
    table->simulateTapOnRow({0, 1});
    table->simulateTapOnRow({0, 3});  // refused by the delegate
    table->simulateTapOnRow({0, 2});
    EXPECT_EQ(source->events, (std::vector<std::string>{"willSelect {0, 1}", "didSelect {0, 1}", "willSelect {0, 3}",
                                                       "willSelect {0, 2}", "didDeselect {0, 1}", "didSelect {0, 2}"}));
    EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath{0, 2}));
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 2})->isSelected());
    EXPECT_FALSE(table->cellForRowAtIndexPath({0, 1})->isSelected());
    table->deselectRowAtIndexPath({0, 2}, true);
    EXPECT_FALSE(table->indexPathForSelectedRow().has_value());
    table->setAllowsSelection(false);
    table->simulateTapOnRow({0, 0});
    EXPECT_EQ(source->events.size(), 6u);
}

TEST(TableUpdates, DeletingARowShiftsTheCellsBelowAndIsRecorded) {
    auto source = std::make_shared<Source>();
    source->rows = {10};
    auto table = makeTable(source);
    auto third = table->cellForRowAtIndexPath({0, 2});
    table->simulateTapOnRow({0, 4});
    source->asked.clear();
    ASSERT_TRUE(table->simulateDeleteRow({0, 1}));
    EXPECT_EQ(table->numberOfRowsInSection(0), 9);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1}), third);  // moved up, not asked for again
    EXPECT_EQ(source->asked, (std::vector<NSIndexPath>{{0, 4}}));  // only the row that came into view
    EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath{0, 3}));
    ASSERT_FALSE(table->updateLog().empty());
    EXPECT_EQ(table->updateLog().back().kind, UITableView::Update::Kind::DeleteRows);
    EXPECT_EQ(table->updateLog().back().animation, UITableViewRowAnimationFade);

    table->reloadRowsAtIndexPaths({{0, 0}}, UITableViewRowAnimationNone);
    EXPECT_EQ(table->updateLog().back().kind, UITableView::Update::Kind::ReloadRows);
    source->implementsDelete = false;
    EXPECT_FALSE(table->simulateDeleteRow({0, 0}));
}

TEST(TableUpdatesDeathTest, ADeletionTheDataSourceDidNotMakeStopsTheProcess) {
    auto source = std::make_shared<Source>();
    source->rows = {10};
    auto table = makeTable(source);
    EXPECT_DEATH(table->deleteRowsAtIndexPaths({{0, 1}}, UITableViewRowAnimationFade),
                 "Invalid update: invalid number of rows in section 0");
}

TEST(TableUpdates, BatchedInsertsAndDeletesAreCheckedTogether) {
    auto source = std::make_shared<Source>();
    source->rows = {5};
    auto table = makeTable(source);
    table->beginUpdates();
    table->deleteRowsAtIndexPaths({{0, 0}}, UITableViewRowAnimationFade);
    table->insertRowsAtIndexPaths({{0, 4}, {0, 5}}, UITableViewRowAnimationFade);
    source->rows = {6};
    table->endUpdates();
    EXPECT_EQ(table->numberOfRowsInSection(0), 6);
}

}  // namespace
