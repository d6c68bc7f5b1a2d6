// The state a shot draws, in the text too: a toggle reads (on) or (off) as it shows (a tick
// beside an author, a lit like button, a filter in use, a selected button), a checkmark reads
// (on), a row the list shows selected reads (selected), and a button showing one of more states
// keeps its name with the state after it. A tap says what it reached as the tap left it, and by
// the name it had when touched where the tap changed that name; a tap names a control by what
// the screen lists, every state after its name included (a badge, a placeholder), and by the
// whole line the screen prints for it.
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITextField.h"
#include "platform/widgets/BPMKNumberBadgeView.h"
#include "tests/simulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using SimStateTest = SimSessionTest;

UIAccessibilityTraits toggle(bool on) {
    return UIAccessibilityTraitToggleButton | (on ? UIAccessibilityTraitSelected : UIAccessibilityTraitNone);
}

// Authors ticked or not, as a filter lists them; a tap ticks or unticks one.
class Authors : public NSObject, public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<std::pair<std::string, bool>> ticked{{"Hans Holbein", true}, {"Johannes Vermeer", false}};
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override {
        return static_cast<long>(ticked.size());
    }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath& path) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "author");
        const auto& [name, on] = ticked[static_cast<std::size_t>(path.row)];
        cell->textLabel()->setText(name);
        setAccessibilityTraits(*cell, toggle(on));
        return cell;
    }
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& table, const NSIndexPath& path) override {
        table->deselectRowAtIndexPath(path, false);
        ticked[static_cast<std::size_t>(path.row)].second ^= true;
        table->reloadData();
    }
};

// Categories: the one shown beside the list stays selected, the one taken last has a checkmark;
// a row that shows no selection reads as none.
class Categories : public NSObject, public UITableViewDataSource {
public:
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return 3; }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath& path) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "category");
        cell->textLabel()->setText(path.row == 0 ? "Portraits" : path.row == 1 ? "Landscapes" : "Still Life");
        if (path.row == 1) cell->setAccessoryType(UITableViewCellAccessoryCheckmark);
        if (path.row == 2) cell->setSelectionStyle(UITableViewCellSelectionStyleNone);
        return cell;
    }
};

// One piece of a playlist, ticked, its length beside it.
class Pieces : public NSObject, public UITableViewDataSource {
public:
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return 1; }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "piece");
        cell->textLabel()->setText("Requiem");
        auto length = UILabel::initWithFrame(CGRectMake(0, 0, 40, 20));
        length->setText("0:03");
        cell->setAccessoryView(length);
        setAccessibilityTraits(*cell, toggle(true));
        return cell;
    }
};

// The other applications, with how many of them are new beside the row.
class MoreApps : public NSObject, public UITableViewDataSource {
public:
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return 1; }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "apps");
        cell->textLabel()->setText("More Apps");
        auto count = UILabel::initWithFrame(CGRectMake(0, 0, 30, 20));
        count->setText("3");
        cell->setAccessoryView(count);
        return cell;
    }
};

}  // namespace

TEST_F(SimStateTest, TogglesTicksAndAFilterInUseReadOnOrOffAndChangeWithATap) {
    auto authors = std::make_shared<Authors>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 64, 375, 88));
    table->setDataSource(authors);
    table->setDelegate(authors);
    auto list = UIViewController::make();
    list->setTitle("Authors");
    list->view()->addSubview(table);
    // A like button named for what it does, its count beside; lit when liked.
    auto like = UIButton::buttonWithType(UIButtonTypeCustom);
    setAccessibilityLabel(*like, "favorite");
    like->setTitle("2.3kk", UIControlStateNormal);
    like->sizeToFit();
    setAccessibilityTraits(*like, toggle(false));
    UIButton* liked = like.get();
    like->addTarget(nullptr, [liked](const std::shared_ptr<NSObject>&) {
        setAccessibilityTraits(*liked, toggle(!(accessibilityTraits(*liked) & UIAccessibilityTraitSelected)));
    }, UIControlEventTouchUpInside);
    auto filter = UIBarButtonItem::initWithTitle("filter", UIBarButtonItemStylePlain, nullptr, nullptr);
    setAccessibilityTraits(*filter, toggle(true));
    list->navigationItem()->setRightBarButtonItems({filter, UIBarButtonItem::initWithCustomView(like)});
    auto selected = UIButton::buttonWithType(UIButtonTypeSystem);
    selected->setTitle("Grid", UIControlStateNormal);
    selected->setFrame(CGRectMake(20, 300, 80, 44));
    selected->setSelected(true);
    list->view()->addSubview(selected);
    window->setRootViewController(UINavigationController::initWithRootViewController(list));
    session.settle();

    EXPECT_EQ(screen(), "== Authors ==\n  | [1] favorite (2.3kk) (off)  [2] filter (on)  \n"
                        "[3] row \"Hans Holbein\" (on)\n[4] row \"Johannes Vermeer\" (off)\n[5] button \"Grid\" (on)\n");
    EXPECT_EQ(run("tap 1").message, "tapped [1] favorite (2.3kk) (on)");
    // The list made its rows anew: the row is still the one tapped.
    EXPECT_EQ(run("tap 4").message, "tapped [4] row \"Johannes Vermeer\" (on)");
    EXPECT_EQ(screen(), "== Authors ==\n  | [1] favorite (2.3kk) (on)  [2] filter (on)  \n"
                        "[3] row \"Hans Holbein\" (on)\n[4] row \"Johannes Vermeer\" (on)\n[5] button \"Grid\" (on)\n");
}

TEST_F(SimStateTest, ACheckmarkReadsOnAndARowShownSelectedReadsSelected) {
    auto categories = std::make_shared<Categories>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 64, 375, 132));
    table->setDataSource(categories);
    root->view()->addSubview(table);
    session.settle();
    table->selectRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0), false, UITableViewScrollPositionNone);
    EXPECT_EQ(screen(), "[1] row \"Portraits\" (selected)\n[2] row \"Landscapes\" (on)\n[3] row \"Still Life\"\n");
    // Selected without showing it, a row reads as it looks.
    table->selectRowAtIndexPath(NSIndexPath::indexPathForRow(2, 0), false, UITableViewScrollPositionNone);
    EXPECT_EQ(screen(), "[1] row \"Portraits\"\n[2] row \"Landscapes\" (on)\n[3] row \"Still Life\"\n");
}

TEST_F(SimStateTest, AButtonShowingOneOfThreeStatesKeepsItsNameAndReadsTheStateAfterIt) {
    // A repeat button: its image shows off, all or one; its name stays.
    auto repeat = UIButton::buttonWithType(UIButtonTypeCustom);
    repeat->setFrame(CGRectMake(20, 100, 44, 44));
    setAccessibilityLabel(*repeat, "repeat");
    setAccessibilityValue(*repeat, "off");
    UIButton* button = repeat.get();
    repeat->addTarget(nullptr, [button](const std::shared_ptr<NSObject>&) {
        const std::string now = accessibilityValue(*button);
        setAccessibilityValue(*button, now == "off" ? "all" : now == "all" ? "one" : "off");
    }, UIControlEventTouchUpInside);
    root->view()->addSubview(repeat);
    session.settle();

    EXPECT_EQ(screen(), "[1] button \"repeat\" (off)\n");
    EXPECT_EQ(run("tap repeat").message, "tapped [1] button \"repeat\" (all)");
    EXPECT_EQ(run("tap 1").message, "tapped [1] button \"repeat\" (one)");
    EXPECT_EQ(screen(), "[1] button \"repeat\" (one)\n");
}

TEST_F(SimStateTest, ATapNamesTheControlAsItWasTouchedAndWhatItsNameBecame) {
    // Edit becomes Done, shuffle lights up, Share stays as it is.
    auto edit = UIButton::buttonWithType(UIButtonTypeSystem);
    edit->setTitle("Edit", UIControlStateNormal);
    edit->setFrame(CGRectMake(20, 100, 80, 44));
    UIButton* editing = edit.get();
    edit->addTarget(nullptr, [editing](const std::shared_ptr<NSObject>&) {
        editing->setTitle("Done", UIControlStateNormal);
    }, UIControlEventTouchUpInside);
    auto shuffle = UIButton::buttonWithType(UIButtonTypeCustom);
    shuffle->setFrame(CGRectMake(20, 160, 44, 44));
    setAccessibilityLabel(*shuffle, "shuffle");
    setAccessibilityTraits(*shuffle, toggle(false));
    UIButton* shuffling = shuffle.get();
    shuffle->addTarget(nullptr, [shuffling](const std::shared_ptr<NSObject>&) {
        setAccessibilityTraits(*shuffling, toggle(true));
    }, UIControlEventTouchUpInside);
    auto share = UIButton::buttonWithType(UIButtonTypeSystem);
    share->setTitle("Share", UIControlStateNormal);
    share->setFrame(CGRectMake(20, 220, 80, 44));
    for (const auto& button : {edit, shuffle, share}) root->view()->addSubview(button);
    session.settle();

    EXPECT_EQ(run("tap Edit").message, "tapped [1] button \"Edit\", now button \"Done\"");
    EXPECT_EQ(run("tap shuffle").message, "tapped [2] button \"shuffle\" (on)");
    EXPECT_EQ(run("tap 3").message, "tapped [3] button \"Share\"");
}

TEST_F(SimStateTest, ATapByNameAndTheStateShownReachesThatControlAndAnotherStateIsRefused) {
    // A like button, off until tapped; a repeat button showing all; the categories, the first selected.
    auto like = UIButton::buttonWithType(UIButtonTypeCustom);
    like->setFrame(CGRectMake(20, 100, 44, 44));
    setAccessibilityLabel(*like, "favorite");
    setAccessibilityTraits(*like, toggle(false));
    UIButton* liked = like.get();
    like->addTarget(nullptr, [liked](const std::shared_ptr<NSObject>&) {
        setAccessibilityTraits(*liked, toggle(!(accessibilityTraits(*liked) & UIAccessibilityTraitSelected)));
    }, UIControlEventTouchUpInside);
    auto repeat = UIButton::buttonWithType(UIButtonTypeCustom);
    repeat->setFrame(CGRectMake(20, 160, 44, 44));
    setAccessibilityLabel(*repeat, "repeat");
    setAccessibilityValue(*repeat, "all");
    auto categories = std::make_shared<Categories>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 220, 375, 132));
    table->setDataSource(categories);
    for (const auto& view : std::vector<std::shared_ptr<UIView>>{like, repeat, table}) root->view()->addSubview(view);
    session.settle();
    table->selectRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0), false, UITableViewScrollPositionNone);

    EXPECT_EQ(run("tap favorite (off)").message, "tapped [1] button \"favorite\" (on)");
    const auto again = run("tap favorite (off)");
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.message, "[1] button \"favorite\" (on) does not show (off) now, so it was not tapped");
    EXPECT_TRUE(accessibilityTraits(*like) & UIAccessibilityTraitSelected);
    EXPECT_EQ(run("tap \"repeat (all)\"").message, "tapped [2] button \"repeat\" (all)");
    EXPECT_EQ(run("tap 2 (all)").message, "tapped [2] button \"repeat\" (all)");
    EXPECT_EQ(run("tap Portraits (selected)").message, "tapped [3] row \"Portraits\" (selected)");
    EXPECT_EQ(run("tap Landscapes (selected)").message,
              "[4] row \"Landscapes\" (on) does not show (selected) now, so it was not tapped");
    EXPECT_EQ(run("tap Portraits (off)").message, "[3] row \"Portraits\" (selected) does not show (off) now, so it was not tapped");
    // A state nothing of that name shows, nor any text: nothing there.
    EXPECT_EQ(run("tap shuffle (on)").message, "nothing to tap called \"shuffle (on)\" on the screen");
}

TEST_F(SimStateTest, EveryParenthesisedStateAfterANameIsTakenBackAsTheScreenListsIt) {
    // The menu button with its count, a row with its length and tick, a field showing what it asks for.
    auto menu = UIButton::buttonWithType(UIButtonTypeCustom);
    setAccessibilityLabel(*menu, "menu");
    menu->setFrame(CGRectMake(0, 0, 22, 22));
    auto badge = BPMKNumberBadgeView::initWithFrame(CGRectMake(9, -7, 22, 22));
    badge->setValue(3);
    badge->setUserInteractionEnabled(false);
    menu->addSubview(badge);
    auto pieces = std::make_shared<Pieces>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 64, 375, 44));
    table->setDataSource(pieces);
    auto field = UITextField::initWithFrame(CGRectMake(20, 200, 200, 30));
    field->setPlaceholder("Name");
    auto list = UIViewController::make();
    list->setTitle("Playlist");
    list->navigationItem()->setLeftBarButtonItem(UIBarButtonItem::initWithCustomView(menu));
    list->view()->addSubview(table);
    list->view()->addSubview(field);
    window->setRootViewController(UINavigationController::initWithRootViewController(list));
    session.settle();

    EXPECT_EQ(screen(), "== Playlist ==\n  [1] menu (badge 3)  \n[2] row \"Requiem\" (badge \"0:03\") (on)\n"
                        "[3] field \"\" (placeholder \"Name\")\n");
    const std::pair<const char*, const char*> cases[] = {
        {"tap menu (badge 3)", "tapped [1] menu (badge 3)"},
        // The row stays selected after it.
        {"tap Requiem (badge \"0:03\") (on)", "tapped [2] row \"Requiem\" (badge \"0:03\") (on) (selected)"},
        {"tap Name (placeholder \"Name\")", "tapped [3] field \"\" (placeholder \"Name\") (typing)"},
        {"tap menu (badge 4)", "[1] menu (badge 3) does not show (badge 4) now, so it was not tapped"},
        // Only what it does not show is named.
        {"tap Requiem (badge \"0:03\") (selected) (off)",
         "[2] row \"Requiem\" (badge \"0:03\") (on) (selected) does not show (off) now, so it was not tapped"},
    };
    for (const auto& [typed, said] : cases) EXPECT_EQ(run(typed).message, said) << typed;
}

TEST_F(SimStateTest, EveryControlIsTakenBackByTheLineTheScreenPrintsForIt) {
    // A repeat toggle, a volume slider, a row with its count, a search bar being typed into.
    auto repeat = UIButton::buttonWithType(UIButtonTypeCustom);
    repeat->setFrame(CGRectMake(20, 100, 44, 44));
    setAccessibilityLabel(*repeat, "repeat");
    setAccessibilityTraits(*repeat, toggle(false));
    auto volume = UISlider::initWithFrame(CGRectMake(20, 160, 200, 30));
    auto apps = std::make_shared<MoreApps>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 200, 375, 44));
    table->setDataSource(apps);
    auto search = UISearchBar::initWithFrame(CGRectMake(0, 260, 375, 56));
    for (const auto& view : std::vector<std::shared_ptr<UIView>>{repeat, volume, table, search})
        root->view()->addSubview(view);
    search->setText("x");
    ASSERT_TRUE(search->becomeFirstResponder());
    session.settle();
    ASSERT_EQ(screen(), "[1] button \"repeat\" (off)\n[2] slider 0 (0 to 1)\n[3] row \"More Apps\" (badge \"3\")\n"
                        "[4] search \"x\" (typing)\n");

    const std::pair<const char*, const char*> cases[] = {
        {"tap button \"repeat\" (off)", "tapped [1] button \"repeat\" (off)"},
        {"tap slider 0 (0 to 1)", "tapped [2] slider 0 (0 to 1)"},
        {"tap row \"More Apps\" (badge \"3\")", "tapped [3] row \"More Apps\" (badge \"3\") (selected)"},
        {"tap search \"x\" (typing)", "tapped [4] search \"x\" (typing)"},
        // With the number the screen prints before it, and up to the states after its name.
        {"tap [2] slider 0 (0 to 1)", "tapped [2] slider 0 (0 to 1)"},
        {"tap button \"repeat\"", "tapped [1] button \"repeat\" (off)"},
        // A state it does not show, and a number that is another control's.
        {"tap button \"repeat\" (on)", "[1] button \"repeat\" (off) does not show (on) now, so it was not tapped"},
        {"tap [1] slider 0 (0 to 1)", "nothing to tap called \"[1] slider 0 (0 to 1)\" on the screen"},
    };
    for (const auto& [typed, said] : cases) EXPECT_EQ(run(typed).message, said) << typed;

    // Every line the screen prints, as it prints it, reaches its control.
    const SimScreen shown = session.screen();
    ASSERT_EQ(shown.targets().size(), 4u);
    for (const auto& target : shown.targets()) {
        const std::string number = std::to_string(shown.numberOf(target));
        const auto now = session.screen();
        const auto* current = now.withNumber(shown.numberOf(target));
        ASSERT_TRUE(current) << number;
        for (const std::string& line : {current->line, "[" + number + "] " + current->line}) {
            const auto tapped = run("tap " + line);
            EXPECT_TRUE(tapped.ok) << line << ": " << tapped.message;
            EXPECT_EQ(tapped.message.rfind("tapped [" + number + "] ", 0), 0u) << line << ": " << tapped.message;
        }
    }
}
