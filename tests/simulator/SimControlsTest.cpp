// Reaching every control of a screen in process: a tap by text reaches the deepest control
// showing it and any text of a row, and says what it hit or that nothing was there; the
// controls inside a row have numbers of their own; segments, sliders and switches are set
// through their own actions; typing goes to a tapped search bar, in a toolbar too; the screen
// lists what can be seen or touched and says when a list is empty; a shot draws the controls the
// screen lists.
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UISwitch.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UIToolbar.h"
#include "tests/simulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Painters and paintings, each row with an information button that notes its row.
class PaintingRows : public NSObject, public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<std::pair<std::string, std::string>> rows{
        {"Diego Velázquez", "Las Meninas"}, {"Rembrandt van Rijn", "The Night Watch"}, {"Johannes Vermeer", "The Milkmaid"}};
    std::vector<long> selected;
    std::vector<long> informed;

    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return static_cast<long>(rows.size()); }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath& indexPath) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleSubtitle, "painting");
        const auto& [painter, title] = rows[static_cast<std::size_t>(indexPath.row)];
        cell->textLabel()->setText(painter);
        cell->detailTextLabel()->setText(title);
        auto info = UIButton::buttonWithType(UIButtonTypeInfoDark);
        info->setFrame(CGRectMake(270, 0, 44, 44));
        const long row = indexPath.row;
        std::weak_ptr<PaintingRows> weak = std::static_pointer_cast<PaintingRows>(shared_from_this());
        info->addTarget(nullptr, [weak, row](const std::shared_ptr<NSObject>&) {
            if (auto me = weak.lock()) me->informed.push_back(row);
        }, UIControlEventTouchUpInside);
        cell->contentView()->addSubview(info);
        return cell;
    }
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& indexPath) override {
        selected.push_back(indexPath.row);
    }
};

class Counter : public NSObject {
public:
    int count = 0;
    void hit(const std::shared_ptr<NSObject>&) { ++count; }
    void tapped(const std::shared_ptr<UITapGestureRecognizer>&) { ++count; }
    void panned(const std::shared_ptr<UIPanGestureRecognizer>&) {}
};

class Typed : public UISearchBarDelegate {
public:
    std::vector<std::string> texts;
    int cancelled = 0;
    void textDidChange(const std::shared_ptr<UISearchBar>&, const std::string& text) override { texts.push_back(text); }
    void searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>&) override { ++cancelled; }
};

class SimControlsTest : public SimSessionTest {
protected:
    template <class T>
    std::shared_ptr<T> add(std::shared_ptr<T> view, CGRect frame) {
        view->setFrame(frame);
        root->view()->addSubview(view);
        return view;
    }
};

}  // namespace

TEST_F(SimControlsTest, ATapByTextReachesTheDeepestControlShowingItAndAnyTextOfARow) {
    auto counter = std::make_shared<Counter>();
    // A touch area over the whole screen whose recogniser lets the views under it have their
    // touches too (one that cancels them takes a row's tap for itself, as on the platform).
    auto area = add(UIView::make(), root->view()->bounds());
    auto areaTap = UITapGestureRecognizer::initWithTarget(counter, &Counter::tapped);
    areaTap->setCancelsTouchesInView(false);
    area->addGestureRecognizer(areaTap);
    auto rows = std::make_shared<PaintingRows>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 100, 320, 300), UITableViewStylePlain);
    table->setDataSource(rows);
    table->setDelegate(rows);
    area->addSubview(table);
    table->reloadData();

    const std::string text = screen();
    EXPECT_NE(text.find("[1] area\n"
                        "  [2] row \"Diego Velázquez\" \"Las Meninas\"\n"
                        "    [3] button \"info\"\n"
                        "  [4] row \"Rembrandt van Rijn\" \"The Night Watch\"\n"
                        "    [5] button \"info\"\n"),
              std::string::npos)
        << text;

    // A row's second text; the area holds the same text but the row inside it is deeper. What it
    // reached is said as it is after the tap: chosen.
    auto tapped = run("tap The Night Watch");
    EXPECT_TRUE(tapped.ok) << tapped.message;
    EXPECT_EQ(tapped.message, "tapped [4] row \"Rembrandt van Rijn\" \"The Night Watch\" (selected)");
    EXPECT_EQ(rows->selected, std::vector<long>{1});
    // Part of a text, and the control inside a row by its own number.
    EXPECT_EQ(run("tap Milk").message, "tapped [6] row \"Johannes Vermeer\" \"The Milkmaid\" (selected)");
    EXPECT_EQ(rows->selected, (std::vector<long>{1, 2}));
    EXPECT_EQ(run("tap 5").message, "tapped [5] button \"info\"");
    EXPECT_EQ(rows->informed, std::vector<long>{1});
    EXPECT_EQ(run("tap info").message, "tapped [3] button \"info\"");
    EXPECT_EQ(rows->informed, (std::vector<long>{1, 0}));
    EXPECT_EQ(counter->count, 2) << "the area saw the taps on the rows, not those its buttons took";

    // Nothing showing the text: said, not silent.
    auto missed = run("tap The Garden of Earthly Delights");
    EXPECT_FALSE(missed.ok);
    EXPECT_EQ(missed.message, "nothing to tap called \"The Garden of Earthly Delights\" on the screen");
    auto tooFar = run("tap 40");
    EXPECT_FALSE(tooFar.ok);
    EXPECT_EQ(tooFar.message, "there is no control numbered 40 on the screen (it shows 7 controls)");
}

TEST_F(SimControlsTest, SegmentsSlidersAndSwitchesAreSetThroughTheirOwnActionsAndReadBack) {
    auto counter = std::make_shared<Counter>();
    auto zoom = add(UISegmentedControl::initWithItems({"1x", "2x", "3x"}), CGRectMake(20, 100, 280, 32));
    zoom->setSelectedSegmentIndex(1);
    zoom->addTarget(counter, &Counter::hit, UIControlEventValueChanged);
    auto delay = add(UISlider::make(), CGRectMake(20, 150, 280, 31));
    delay->setMaximumValue(10);
    delay->addTarget(counter, &Counter::hit, UIControlEventValueChanged);
    auto hints = add(UISwitch::make(), CGRectMake(20, 200, 51, 31));
    hints->addTarget(counter, &Counter::hit, UIControlEventValueChanged);
    auto button = add(UIButton::buttonWithType(UIButtonTypeSystem), CGRectMake(20, 250, 200, 44));
    button->setTitle("Delete", UIControlStateNormal);

    EXPECT_NE(screen().find("[1] segments 1x <2x> 3x\n[2] slider 0 (0 to 10)\n[3] switch off\n[4] button \"Delete\""),
              std::string::npos)
        << screen();

    EXPECT_EQ(run("set segments 3x").message, "set [1] segments 1x 2x <3x>");
    EXPECT_EQ(zoom->selectedSegmentIndex(), 2);
    EXPECT_EQ(run("set 1 1").message, "set [1] segments <1x> 2x 3x") << "a place, counted from 1";
    EXPECT_EQ(run("tap 2x").message, "tapped [1] segments 1x <2x> 3x") << "as the tap left it";
    EXPECT_EQ(zoom->selectedSegmentIndex(), 1);
    EXPECT_EQ(counter->count, 3);

    EXPECT_EQ(run("set slider 7.5").message, "set [2] slider 7.5 (0 to 10)");
    EXPECT_FLOAT_EQ(delay->value(), 7.5f);
    EXPECT_EQ(run("set switch on").message, "set [3] switch on");
    EXPECT_TRUE(hints->isOn());
    EXPECT_EQ(run("set 3 on").message, "set [3] switch on");
    EXPECT_EQ(counter->count, 5) << "the slider and the switch said so once each; an unchanged switch says nothing";
    EXPECT_NE(screen().find("[1] segments 1x <2x> 3x\n[2] slider 7.5 (0 to 10)\n[3] switch on"), std::string::npos);

    // Values the control does not have are refused, and nothing changes.
    for (const auto& [line, message] : std::vector<std::pair<std::string, std::string>>{
             {"set 1 4x", "[1] segments 1x <2x> 3x has no segment \"4x\" (give its title or its place, 1 to 3)"},
             {"set 1 0", "[1] segments 1x <2x> 3x has no segment \"0\" (give its title or its place, 1 to 3)"},
             {"set 2 11", "[2] slider 7.5 (0 to 10) takes a number from 0 to 10"},
             {"set 2 much", "[2] slider 7.5 (0 to 10) takes a number from 0 to 10"},
             {"set 3 yes", "[3] switch on is a switch: set it on or off"},
             {"set Delete 1", "[4] button \"Delete\" is no slider, segments or switch, so it cannot be set"},
             {"set Reset 1", "nothing to set called \"Reset\" on the screen"}}) {
        auto refused = run(line);
        EXPECT_FALSE(refused.ok) << line;
        EXPECT_EQ(refused.message, message) << line;
    }
    EXPECT_EQ(zoom->selectedSegmentIndex(), 1);
    EXPECT_FLOAT_EQ(delay->value(), 7.5f);
    EXPECT_EQ(counter->count, 5);
}

TEST_F(SimControlsTest, TypingGoesToASearchBarOnceItIsTappedAndItsCancelButtonIsAControl) {
    auto bar = add(UISearchBar::make(), CGRectMake(0, 64, 375, 56));
    bar->setPlaceholder("Painter or picture");
    bar->setShowsCancelButton(true);
    auto typed = std::make_shared<Typed>();
    bar->setDelegate(typed);

    EXPECT_NE(screen().find("[1] search \"\" (placeholder \"Painter or picture\")  [2] Cancel"), std::string::npos)
        << screen();
    auto early = run("type Night");
    EXPECT_FALSE(early.ok);
    EXPECT_EQ(early.message, "no text field, search bar or text is taking typing (tap one first)");

    EXPECT_EQ(run("tap search").message, "tapped [1] search \"\" (placeholder \"Painter or picture\") (typing)");
    EXPECT_TRUE(bar->isFirstResponder());
    EXPECT_TRUE(run("type Night").ok);
    EXPECT_TRUE(run("type \" Watch\"").ok);
    EXPECT_EQ(typed->texts, (std::vector<std::string>{"Night", "Night Watch"}));
    EXPECT_NE(screen().find("[1] search \"Night Watch\" (typing)  [2] Cancel"), std::string::npos) << screen();
    EXPECT_EQ(run("tap Cancel").message, "tapped [2] Cancel");
    EXPECT_EQ(typed->cancelled, 1);
}

TEST_F(SimControlsTest, ASearchBarInAToolbarIsTypedIntoAndCancelledLikeAnyOther) {
    auto toolbar = add(UIToolbar::make(), CGRectMake(0, 400, 375, 44));
    auto bar = UISearchBar::initWithFrame(CGRectMake(0, 0, 180, 33));
    auto typed = std::make_shared<Typed>();
    bar->setDelegate(typed);
    toolbar->setItems({UIBarButtonItem::flexibleSpaceItem(), UIBarButtonItem::initWithCustomView(bar)});

    EXPECT_NE(screen().find("-- toolbar: [1] search \"\"  "), std::string::npos) << screen();
    EXPECT_TRUE(run("type @1 Night").ok);
    EXPECT_TRUE(bar->isFirstResponder());
    EXPECT_EQ(typed->texts, std::vector<std::string>{"Night"});
    bar->setShowsCancelButton(true);
    EXPECT_NE(screen().find("-- toolbar: [1] search \"Night\" (typing)  [2] Cancel  "), std::string::npos) << screen();
    EXPECT_TRUE(run("tap Cancel").ok);
    EXPECT_EQ(typed->cancelled, 1);
}

TEST_F(SimControlsTest, TheScreenListsWhatCanBeSeenOrTouchedAndSaysWhenAListIsEmpty) {
    auto counter = std::make_shared<Counter>();
    // Only dragged: not listed (a drag reaches it by position).
    auto edge = add(UIView::make(), CGRectMake(0, 0, 20, 600));
    edge->addGestureRecognizer(UIPanGestureRecognizer::initWithTarget(counter, &Counter::panned));
    // A tap area whose recogniser is off is not listed either.
    auto off = add(UIView::make(), CGRectMake(40, 0, 40, 40));
    auto recognizer = UITapGestureRecognizer::initWithTarget(counter, &Counter::tapped);
    recognizer->setEnabled(false);
    off->addGestureRecognizer(recognizer);
    // A label under an opaque screen laid over it is not seen.
    auto hidden = add(UILabel::make(), CGRectMake(20, 300, 200, 30));
    hidden->setText("Under the cover");
    auto cover = add(UIView::make(), CGRectMake(0, 250, 375, 200));
    cover->setBackgroundColor(UIColor::whiteColor());
    auto table = UITableView::initWithFrame(CGRectMake(0, 0, 375, 200), UITableViewStylePlain);
    auto rows = std::make_shared<PaintingRows>();
    rows->rows.clear();
    table->setDataSource(rows);
    cover->addSubview(table);
    table->reloadData();

    EXPECT_EQ(screen(), "(empty list)\n");
    rows->rows = {{"Giotto di Bondone", "Lamentation"}};
    table->reloadData();
    EXPECT_EQ(screen(), "[1] row \"Giotto di Bondone\" \"Lamentation\"\n  [2] button \"info\"\n");
}

TEST_F(SimControlsTest, AShotDrawsTheBackButtonSliderSwitchSegmentCaptionsInformationButtonsAndSearchBar) {
    auto first = UIViewController::make();
    first->setTitle("Paintings");
    auto second = UIViewController::make();
    second->setTitle("Settings");
    auto navigation = UINavigationController::initWithRootViewController(first);
    navigation->pushViewController(second, false);
    window->setRootViewController(navigation);
    auto v = second->view();
    v->setBackgroundColor(UIColor::whiteColor());
    auto place = [&](std::shared_ptr<UIView> view, CGRect frame) {
        view->setFrame(frame);
        v->addSubview(view);
    };
    auto zoom = UISegmentedControl::initWithItems({"1x", "2x", "3x"});
    zoom->setSelectedSegmentIndex(0);
    place(zoom, CGRectMake(20, 20, 300, 32));
    auto slider = UISlider::make();
    slider->setMaximumValue(10);
    slider->setValue(8);
    place(slider, CGRectMake(20, 70, 300, 31));
    auto on = UISwitch::make();
    on->setOn(true);
    place(on, CGRectMake(20, 120, 51, 31));
    auto infoButton = UIButton::buttonWithType(UIButtonTypeInfoDark);
    place(infoButton, CGRectMake(300, 120, 44, 44));
    auto bar = UISearchBar::make();
    bar->setText("Vermeer");
    place(bar, CGRectMake(0, 180, 375, 56));
    session.settle();
    const std::string text = screen();
    EXPECT_NE(text.find("[1] < Paintings"), std::string::npos) << text;

    const std::string path = Sandbox::tmp() + "/controls.png";
    std::string error;
    std::vector<SimDrawnElement> drawn;
    ASSERT_TRUE(SimRenderer::write(path, error, &drawn)) << error;
    auto find = [&](const std::string& kind, const std::string& caption = "") -> const SimDrawnElement* {
        for (const auto& d : drawn)
            if (d.kind == kind && (caption.empty() || d.text == caption)) return &d;
        return nullptr;
    };
    // The back button draws itself: its title where its glyphs went, its chevron before it.
    const auto* back = find("line", "Paintings");
    const auto* track = find("slider");
    const auto* toggle = find("switch", "on");
    const auto* caption = find("segment", "2x");
    // The information button draws its sign itself, in its own box.
    const CGRect infoBox = infoButton->convertRectToView(infoButton->bounds(), window);
    const auto drawing = std::find_if(drawn.begin(), drawn.end(),
                                      [&](const auto& d) { return d.kind == "drawing" && d.frame == infoBox; });
    const auto* info = drawing != drawn.end() ? &*drawing : nullptr;
    const auto* search = find("search bar", "Vermeer");
    ASSERT_TRUE(back && track && toggle && caption && info && search);

    auto shot = UIImage::imageWithContentsOfFile(path);
    ASSERT_TRUE(shot);
    const CGRect chevron = CGRectMake(back->frame.origin.x - 20, CGRectGetMidY(back->frame) - 10, 16, 20);
    EXPECT_GT(markedPixels(*shot, chevron), 20) << "the back button's chevron";
    // The slider's track is tinted up to the value and plain after it; the thumb sits at 80 %.
    const double y = CGRectGetMidY(track->frame);
    const auto filled = shotRGB(*shot, track->frame.origin.x + 40, y);
    EXPECT_GT(filled[2], filled[0] + 100) << "tinted track";
    const auto rest = shotRGB(*shot, CGRectGetMaxX(track->frame) - 20, y);
    EXPECT_LT(std::abs(rest[0] - rest[2]), 20) << "grey track";
    // The switch is filled green when on.
    const auto green = shotRGB(*shot, toggle->frame.origin.x + 12, CGRectGetMidY(toggle->frame));
    EXPECT_GT(green[1], green[0] + 80);
    EXPECT_GT(markedPixels(*shot, caption->frame), 10) << "the caption of an unselected segment";
    EXPECT_GT(markedPixels(*shot, infoBox), 30) << "the information sign";
    EXPECT_GT(markedPixels(*shot, CGRectMake(40, 190, 120, 36)), 30) << "the typed text in the search field";
}

TEST_F(SimControlsTest, AShotIsWrittenInTheFormatItsNameAsksForOrRefused) {
    add(UIView::make(), CGRectMake(0, 0, 100, 100))->setBackgroundColor(UIColor::redColor());
    std::string error;
    const std::string jpeg = Sandbox::tmp() + "/screen.JPG";
    ASSERT_TRUE(SimRenderer::write(jpeg, error)) << error;
    std::ifstream in(jpeg, std::ios::binary);
    std::array<unsigned char, 3> magic{};
    in.read(reinterpret_cast<char*>(magic.data()), 3);
    EXPECT_EQ(magic, (std::array<unsigned char, 3>{0xFF, 0xD8, 0xFF}));
    auto decoded = UIImage::imageWithContentsOfFile(jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixelWidth(), 375);
    const auto red = shotRGB(*decoded, 50, 50);
    EXPECT_GT(red[0], 230);
    EXPECT_LT(red[1], 30);

    const std::string png = Sandbox::tmp() + "/screen.png";
    ASSERT_TRUE(SimRenderer::write(png, error)) << error;
    std::ifstream pngIn(png, std::ios::binary);
    pngIn.read(reinterpret_cast<char*>(magic.data()), 3);
    EXPECT_EQ(magic, (std::array<unsigned char, 3>{0x89, 'P', 'N'}));

    EXPECT_FALSE(SimRenderer::write(Sandbox::tmp() + "/screen.gif", error));
    EXPECT_NE(error.find("name the file .png, .jpg or .jpeg"), std::string::npos) << error;
    EXPECT_FALSE(std::ifstream(Sandbox::tmp() + "/screen.gif"));
    auto refused = SimCommand::parse("shot screen.bmp");
    EXPECT_EQ(refused.kind, SimCommand::Kind::Invalid);
    EXPECT_EQ(refused.error, "shot: name the file .png or .jpg (.jpeg), the formats a shot is written in");
    EXPECT_EQ(SimCommand::parse("shot shots.d/screen.jpeg").kind, SimCommand::Kind::Shot);
    EXPECT_EQ(SimCommand::parse("shot shots.png/screen").kind, SimCommand::Kind::Invalid);
}
