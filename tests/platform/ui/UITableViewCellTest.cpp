// Table cells: cell subclasses that build their parts in their constructors still end up with
// the content view inside the cell, once, and a selected cell shows a background under its content.
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableViewCell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// Builds its labels in the constructor, before any shared pointer owns the cell, asking for
// the content view once for each (as a subclass of a cell that made its own parts does).
class BuiltInConstructorCell : public UITableViewCell {
public:
    BuiltInConstructorCell() : UITableViewCell(UITableViewCellStyleDefault, "Built") {
        setFrame(CGRectMake(0, 0, 320, 80));
        label = UILabel::initWithFrame(CGRectMake(20, 10, 200, 30));
        label->setText("Portraits");
        contentView()->addSubview(label);
        detail = UILabel::initWithFrame(CGRectMake(20, 40, 200, 30));
        detail->setText("Faces");
        contentView()->addSubview(detail);
    }
    std::shared_ptr<UILabel> label;
    std::shared_ptr<UILabel> detail;
};

long countOf(const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& child) {
    const auto& subs = parent->subviews();
    return static_cast<long>(std::count(subs.begin(), subs.end(), child));
}

}  // namespace

TEST(UITableViewCellContentView, ConstructorMadeContentViewJoinsTheCellOnceOwned) {
    auto cell = std::make_shared<BuiltInConstructorCell>();
    auto content = cell->contentView();
    EXPECT_EQ(content->superview(), cell);
    EXPECT_EQ(countOf(cell, content), 1);
    EXPECT_EQ(cell->subviews().size(), 1u);
    EXPECT_EQ(cell->label->superview(), content);
    EXPECT_EQ(cell->detail->superview(), content);
}

TEST(UITableViewCellContentView, LabelsFollowTheCellIntoItsSuperview) {
    auto table = UIView::initWithFrame(CGRectMake(0, 0, 320, 400));
    auto first = std::make_shared<BuiltInConstructorCell>();
    auto second = std::make_shared<BuiltInConstructorCell>();
    first->setFrame(CGRectMake(0, 0, 320, 80));
    second->setFrame(CGRectMake(0, 80, 320, 80));
    // Added straight away, without asking for the content view first, as a table does.
    table->addSubview(first);
    table->addSubview(second);
    const CGRect a = first->label->convertRectToView(first->label->bounds(), table);
    const CGRect b = second->label->convertRectToView(second->label->bounds(), table);
    EXPECT_DOUBLE_EQ(a.origin.y, 10);
    EXPECT_DOUBLE_EQ(b.origin.y, 90);
    EXPECT_TRUE(second->label->isDescendantOfView(table));
    EXPECT_EQ(countOf(second, second->contentView()), 1);
}

TEST(UITableViewCellContentView, LateContentViewStaysAboveTheBackground) {
    auto cell = std::make_shared<BuiltInConstructorCell>();
    cell->setBackgroundView(UIView::make());
    cell->layoutIfNeeded();
    ASSERT_EQ(cell->subviews().size(), 2u);
    EXPECT_EQ(cell->subviews()[0], cell->backgroundView());
    EXPECT_EQ(cell->subviews()[1], cell->contentView());
}

TEST(UITableViewCellSelection, ASelectedCellShowsGreyUnderItsContentUnlessItsStyleIsNone) {
    auto cell = std::make_shared<BuiltInConstructorCell>();
    cell->setSelected(true, false);
    ASSERT_EQ(cell->subviews().size(), 2u);
    const auto grey = cell->subviews()[0];
    EXPECT_EQ(cell->subviews()[1], cell->contentView());
    ASSERT_NE(grey->backgroundColor(), nullptr);
    EXPECT_EQ(grey->frame(), cell->bounds());
    // The property stays what the owner set: nothing.
    EXPECT_EQ(cell->selectedBackgroundView(), nullptr);

    cell->setSelected(false, false);
    EXPECT_EQ(cell->subviews().size(), 1u);

    // A background of the owner's own replaces the grey.
    auto own = UIView::make();
    cell->setSelectedBackgroundView(own);
    cell->setHighlighted(true, false);
    ASSERT_EQ(cell->subviews().size(), 2u);
    EXPECT_EQ(cell->subviews()[0], own);
    cell->setHighlighted(false, false);

    auto plain = std::make_shared<BuiltInConstructorCell>();
    plain->setSelectionStyle(UITableViewCellSelectionStyleNone);
    plain->setSelected(true, false);
    EXPECT_EQ(plain->subviews().size(), 1u);
}
