// Editing a table with a finger: a row swiped to the left offers its deletion and a tap on the
// offer deletes it; a tap elsewhere on the row, or a swipe back, takes the offer away. While the
// table is edited each row shows its delete control and, when it moves, a grip that drags it
// onto another row's place. Rows the data source keeps show nothing.
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableView.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Titles : public NSObject, public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<std::string> titles{"Adagio", "Bolero", "Canon", "Dances"};
    std::vector<std::string> selected;
    bool moves = true;
    // Rows from here on cannot be edited.
    long kept = 100;

    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override {
        return static_cast<long>(titles.size());
    }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& table,
                                                           const NSIndexPath& path) override {
        auto cell = table->dequeueReusableCellWithIdentifier("Row");
        if (!cell) cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "Row");
        cell->textLabel()->setText(titles[static_cast<std::size_t>(path.row)]);
        auto length = UILabel::initWithFrame(CGRectMake(0, 0, 40, 20));
        length->setText("0:04");
        cell->setAccessoryView(length);
        return cell;
    }
    bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& path) override {
        return path.row < kept;
    }
    bool respondsToCommitEditingStyle() const override { return true; }
    bool respondsToMoveRow() const override { return moves; }
    void commitEditingStyle(const std::shared_ptr<UITableView>& table, UITableViewCellEditingStyle,
                            const NSIndexPath& path) override {
        titles.erase(titles.begin() + path.row);
        table->deleteRowsAtIndexPaths({path}, UITableViewRowAnimationFade);
    }
    void moveRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& from, const NSIndexPath& to) override {
        const std::string title = titles[static_cast<std::size_t>(from.row)];
        titles.erase(titles.begin() + from.row);
        titles.insert(titles.begin() + to.row, title);
    }
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& path) override {
        selected.push_back(titles[static_cast<std::size_t>(path.row)]);
    }
};

class TableEditingTest : public KeyWindowTest {
protected:
    void SetUp() override {
        KeyWindowTest::SetUp();
        table = UITableView::initWithFrame(CGRectMake(0, 0, 320, 400));
        table->setDataSource(titles);
        table->setDelegate(titles);
        root->view()->addSubview(table);
        window->layoutIfNeeded();
        table->layoutIfNeeded();
    }

    CGPoint centre(const std::shared_ptr<UIView>& view) {
        const CGRect r = view->convertRectToView(view->bounds(), window);
        return {CGRectGetMidX(r), CGRectGetMidY(r)};
    }
    std::shared_ptr<UITableViewCell> row(long index) { return table->cellForRowAtIndexPath({0, index}); }
    // A finger across row `index`, from its right part to the left (or back).
    void swipe(long index, bool left) {
        const CGPoint mid = centre(row(index));
        window->pan({left ? 280.0 : 40.0, mid.y}, left ? -220 : 220, 0, 1500);
        window->layoutIfNeeded();
    }
    void tap(const std::shared_ptr<UIView>& view) {
        window->tap(centre(view));
        window->layoutIfNeeded();
    }

    std::shared_ptr<Titles> titles = std::make_shared<Titles>();
    std::shared_ptr<UITableView> table;
};

TEST_F(TableEditingTest, ASwipedRowOffersItsDeletionAndATapOnTheOfferDeletesIt) {
    EXPECT_EQ(row(1)->deleteConfirmationButton(), nullptr);
    swipe(1, true);
    ASSERT_EQ(table->indexPathForDeleteConfirmation(), (NSIndexPath{0, 1}));
    auto offer = row(1)->deleteConfirmationButton();
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->currentTitle(), "Delete");
    EXPECT_EQ(row(0)->deleteConfirmationButton(), nullptr);

    tap(offer);
    EXPECT_EQ(titles->titles, (std::vector<std::string>{"Adagio", "Canon", "Dances"}));
    EXPECT_EQ(table->numberOfRowsInSection(0), 3);
    EXPECT_FALSE(table->indexPathForDeleteConfirmation());
    for (long i = 0; i < 3; ++i) EXPECT_EQ(row(i)->deleteConfirmationButton(), nullptr) << i;
    EXPECT_TRUE(titles->selected.empty());
}

TEST_F(TableEditingTest, ATapOnTheRowOrASwipeBackTakesTheOfferAwayAndAKeptRowOffersNothing) {
    swipe(2, true);
    ASSERT_TRUE(row(2)->deleteConfirmationButton());
    // The tap only takes the offer away: nothing is chosen, nothing deleted.
    tap(row(2)->textLabel());
    EXPECT_FALSE(table->indexPathForDeleteConfirmation());
    EXPECT_EQ(row(2)->deleteConfirmationButton(), nullptr);
    EXPECT_TRUE(titles->selected.empty());
    EXPECT_EQ(titles->titles.size(), 4u);
    tap(row(2)->textLabel());
    EXPECT_EQ(titles->selected, std::vector<std::string>{"Canon"});

    swipe(0, true);
    ASSERT_TRUE(row(0)->deleteConfirmationButton());
    swipe(0, false);
    EXPECT_EQ(row(0)->deleteConfirmationButton(), nullptr);

    titles->kept = 3;
    swipe(3, true);
    EXPECT_FALSE(table->indexPathForDeleteConfirmation());
    EXPECT_EQ(row(3)->deleteConfirmationButton(), nullptr);
}

TEST_F(TableEditingTest, WhileEditedRowsShowDeleteControlsAndGripsThatMoveThem) {
    titles->kept = 3;
    EXPECT_EQ(row(0)->deleteControl(), nullptr);
    table->setEditing(true, true);
    window->layoutIfNeeded();
    ASSERT_TRUE(row(0)->deleteControl());
    ASSERT_TRUE(row(0)->reorderControl());
    EXPECT_EQ(row(3)->deleteControl(), nullptr);
    // The grip takes the accessory's place; the content makes room for the controls on both sides.
    EXPECT_FALSE(row(0)->accessoryView()->superview());
    EXPECT_GT(row(0)->contentView()->frame().origin.x, 0);
    EXPECT_LT(CGRectGetMaxX(row(0)->contentView()->frame()), CGRectGetMinX(row(0)->reorderControl()->frame()) + 1);

    // The delete control asks; the offer deletes.
    tap(row(1)->deleteControl());
    auto offer = row(1)->deleteConfirmationButton();
    ASSERT_TRUE(offer);
    tap(offer);
    EXPECT_EQ(titles->titles, (std::vector<std::string>{"Adagio", "Canon", "Dances"}));

    // Adagio's grip let go over Dances: it takes the last place.
    const CGPoint from = centre(row(0)->reorderControl());
    const CGPoint to = centre(row(2));
    window->pan(from, 0, to.y - from.y, 300);
    window->layoutIfNeeded();
    EXPECT_EQ(titles->titles, (std::vector<std::string>{"Canon", "Dances", "Adagio"}));
    EXPECT_EQ(row(2)->textLabel()->text(), "Adagio");

    // Swiping does not offer deletion while editing; the end of editing takes every control away.
    swipe(0, true);
    EXPECT_FALSE(table->indexPathForDeleteConfirmation());
    table->setEditing(false, true);
    EXPECT_TRUE(row(0)->accessoryView()->superview());
    EXPECT_EQ(row(0)->deleteControl(), nullptr);
    EXPECT_EQ(row(0)->reorderControl(), nullptr);

    // A data source that does not move rows has no grips.
    titles->moves = false;
    table->setEditing(true, false);
    EXPECT_TRUE(row(0)->deleteControl());
    EXPECT_EQ(row(0)->reorderControl(), nullptr);
}

}  // namespace
