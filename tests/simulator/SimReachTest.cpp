// Reaching what a screen offers with the simulator's commands, in process: a page's link is
// listed, tapped by its number and drawn once, where its text stands; typing goes on into the
// field whose focus an alert took; `scroll` without a number moves the screen's main list, and a
// tap naming a row out of sight says which way it lies; `back` takes a listed Back where the
// bar has no back button, and on a picture shown without its bars says how to bring them back.
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UITextField.h"
#include "platform/web/WKWebLinkView.h"
#include "platform/web/WKWebView.h"
#include "tests/simulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class SimReachTest : public SimSessionTest {
protected:
    // The number the screen gives the control showing `text`.
    std::string numberOf(const std::string& text) {
        const SimScreen s = session.screen();
        const SimTarget* target = s.find(text);
        return target ? std::to_string(s.numberOf(*target)) : "none";
    }
};

// Counts the links a person follows, and follows none.
class Links : public WKNavigationDelegate {
public:
    std::vector<std::string> asked;
    void decidePolicyForNavigationAction(WKWebView&, const WKNavigationAction& action,
                                         DecisionHandler decisionHandler) override {
        asked.push_back(action.requestURL());
        decisionHandler(WKNavigationActionPolicy::Cancel);
    }
};

// Forty rows, "Row 1" to "Row 40".
class Rows : public NSObject, public UITableViewDataSource, public UITableViewDelegate {
public:
    CGFloat height = 44;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return 40; }
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return height; }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath& path) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "");
        cell->textLabel()->setText("Row " + std::to_string(path.row + 1));
        return cell;
    }
};

// How many pixels of `frame` are clearly blue, the link colour.
int bluePixels(const UIImage& image, const CGRect& frame) {
    int n = 0;
    for (int y = static_cast<int>(frame.origin.y); y < static_cast<int>(CGRectGetMaxY(frame)); ++y)
        for (int x = static_cast<int>(frame.origin.x); x < static_cast<int>(CGRectGetMaxX(frame)); ++x) {
            const auto c = shotRGB(image, x, y);
            n += c[2] > 150 && c[0] < 120 ? 1 : 0;
        }
    return n;
}

}  // namespace

TEST_F(SimReachTest, APagesLinkIsTappedByItsNumberAndDrawnOnceWhereItsTextStands) {
    auto links = std::make_shared<Links>();
    auto web = WKWebView::initWithFrame(CGRectMake(0, 64, 375, 500));
    web->setNavigationDelegate(links);
    root->view()->addSubview(web);
    web->loadHTMLString("<p style='text-align: justify'>Paint laid on thickly enough to keep the mark of the brush "
                        "is called impasto, and the light catches on it.</p>"
                        "<p>See it in <a href='imageLink_7'>The Starry Night</a>.</p>",
                        "");
    session.settle();
    const std::string text = screen();
    EXPECT_NE(text.find("page \"See it in The Starry Night.\" (12pt)\n[1] link \"The Starry Night\"\n"), std::string::npos)
        << text;

    const std::string path = Sandbox::tmp() + "/page.png";
    std::string error;
    std::vector<SimDrawnElement> drawn;
    ASSERT_TRUE(SimRenderer::write(path, error, &drawn)) << error;
    std::vector<const SimDrawnElement*> named, first;
    for (const auto& d : drawn) {
        if (d.kind == "line" && d.text.find("Starry") != std::string::npos) named.push_back(&d);
        if (d.kind == "line" && d.text.rfind("Paint laid", 0) == 0) first.push_back(&d);
    }
    // Once, on the line of its sentence, in the link colour; nothing under the sentence.
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0]->text, "The Starry Night");
    const CGRect link = web->linkViews()[0]->convertRectToView(web->linkViews()[0]->bounds(), window);
    EXPECT_NEAR(CGRectGetMidY(named[0]->frame), CGRectGetMidY(link), 6);
    EXPECT_GE(named[0]->frame.origin.x, link.origin.x - 1);
    auto shot = UIImage::imageWithContentsOfFile(path);
    ASSERT_TRUE(shot);
    EXPECT_GT(bluePixels(*shot, link), 30);
    EXPECT_EQ(bluePixels(*shot, CGRectMake(0, CGRectGetMaxY(link) + 1, 375, 60)), 0);
    // A justified line is spread to the page's right margin.
    ASSERT_EQ(first.size(), 1u);
    EXPECT_NEAR(CGRectGetMaxX(first[0]->frame), 375 - WKWebView::kMargin, 2);

    EXPECT_EQ(run("tap 1").message, "tapped [1] link \"The Starry Night\"");
    ASSERT_EQ(links->asked.size(), 1u);
    EXPECT_NE(links->asked[0].find("imageLink_7"), std::string::npos);
}

TEST_F(SimReachTest, TypingGoesOnIntoTheFieldWhoseFocusAnAlertTook) {
    auto field = UITextField::initWithFrame(CGRectMake(20, 100, 335, 31));
    field->setPlaceholder("Enter e-mail address");
    root->view()->addSubview(field);
    // Its Request ends the editing, then finds no address and says so.
    auto request = UIButton::buttonWithType(UIButtonTypeSystem);
    request->setTitle("Request", UIControlStateNormal);
    request->setFrame(CGRectMake(20, 150, 120, 44));
    request->addTarget(
        nullptr,
        [&](const auto&) {
            (void)field->resignFirstResponder();
            auto error = UIAlertController::alertControllerWithTitle("Error", "Enter e-mail address",
                                                                     UIAlertControllerStyle::Alert);
            error->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, nullptr));
            root->presentViewController(error, false, nullptr);
        },
        UIControlEventTouchUpInside);
    root->view()->addSubview(request);
    ASSERT_TRUE(field->becomeFirstResponder());
    session.settle();

    ASSERT_TRUE(run("tap Request").ok);
    ASSERT_NE(screen().find("== alert: Error =="), std::string::npos);
    ASSERT_TRUE(run("tap OK").ok);
    // The field has the focus again, and the text screen shows it taking the typing.
    EXPECT_TRUE(field->isFirstResponder());
    const std::string shown = screen();
    EXPECT_NE(shown.find("field \"\" (placeholder \"Enter e-mail address\") (typing)"), std::string::npos) << shown;
    const auto typed = run("type me@example.org");
    EXPECT_TRUE(typed.ok) << typed.message;
    EXPECT_EQ(field->text(), "me@example.org");
}

TEST_F(SimReachTest, ScrollWithoutANumberMovesTheMainListAndATapNamingARowOutOfSightSaysWhereItLies) {
    // A strip that scrolls comes first; the list below it is the screen's main one.
    auto strip = UIScrollView::initWithFrame(CGRectMake(0, 64, 375, 60));
    strip->setContentSize(CGSizeMake(375, 1000));
    root->view()->addSubview(strip);
    auto rows = std::make_shared<Rows>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 130, 375, 440));
    rows->height = 55;
    table->setDataSource(rows);
    table->setDelegate(rows);
    root->view()->addSubview(table);
    session.settle();

    const auto far = run("tap Row 30");
    EXPECT_FALSE(far.ok);
    EXPECT_EQ(far.message, "\"Row 30\" is a row of a list further down, out of sight: scroll down to it, then tap it");
    EXPECT_EQ(run("tap Row 99").message, "nothing to tap called \"Row 99\" on the screen");
    // A screenful less a row, as a flick moves it: the last row in sight stays so.
    ASSERT_TRUE(run("scroll down").ok);
    EXPECT_EQ(table->contentOffset().y, 440 - 55);
    EXPECT_EQ(strip->contentOffset().y, 0);
    ASSERT_TRUE(run("scroll down 5000").ok);
    const std::string row35 = numberOf("Row 35");
    EXPECT_EQ(run("tap Row 35").message, "tapped [" + row35 + "] row \"Row 35\" (selected)");
    EXPECT_EQ(run("tap Row 2").message, "\"Row 2\" is a row of a list further up, out of sight: scroll up to it, then tap it");

    // At the list's end the next that can move that way moves; when none can, it says why.
    // One shorter than two rows moves half its height.
    ASSERT_TRUE(run("scroll down").ok);
    EXPECT_EQ(strip->contentOffset().y, 30);
    strip->setScrollEnabled(false);
    auto stuck = run("scroll down");
    EXPECT_FALSE(stuck.ok);
    EXPECT_EQ(stuck.message,
              "nothing on the screen can scroll down: the largest scroll view on it is at its bottom already");
    EXPECT_EQ(run("scroll left").message,
              "nothing on the screen can scroll left: the largest scroll view on it shows all it holds");
    table->removeFromSuperview();
    EXPECT_EQ(run("scroll up").message,
              "nothing on the screen can scroll up: the largest scroll view on it takes no scrolling now");
    strip->removeFromSuperview();
    EXPECT_EQ(run("scroll up").message, "nothing on the screen scrolls");
}

TEST_F(SimReachTest, BackTakesAListedBackAndAPictureWithoutItsBarsSaysHowToBringThemBack) {
    // A reader shown on its own: its bar has no back button, a Back in its place closes it.
    auto reader = UIViewController::make();
    reader->setTitle("4/4");
    int closed = 0;
    reader->navigationItem()->setLeftBarButtonItem(UIBarButtonItem::initWithTitle(
        "Back", UIBarButtonItemStylePlain, nullptr, [&](const std::shared_ptr<NSObject>&) { ++closed; }));
    auto navigation = UINavigationController::initWithRootViewController(reader);
    window->setRootViewController(navigation);
    session.settle();
    EXPECT_EQ(run("back").message, "tapped [1] Back");
    EXPECT_EQ(closed, 1);

    // A screen pushed above it goes back by its bar's back button first, though it lists a Back.
    auto pager = UIViewController::make();
    pager->setTitle("Leonardo da Vinci");
    auto other = UIButton::buttonWithType(UIButtonTypeSystem);
    other->setTitle("Back", UIControlStateNormal);
    other->setFrame(CGRectMake(20, 20, 100, 44));
    pager->view()->addSubview(other);
    auto picture = UIView::initWithFrame(CGRectMake(0, 100, 375, 400));
    picture->addGestureRecognizer(UITapGestureRecognizer::make());
    setAccessibilityTraits(*picture, UIAccessibilityTraitImage);
    // The picture zooms on a double tap of its own.
    auto zoom = UIView::initWithFrame(picture->bounds());
    auto doubleTap = UITapGestureRecognizer::make();
    doubleTap->setNumberOfTapsRequired(2);
    zoom->addGestureRecognizer(doubleTap);
    picture->addSubview(zoom);
    pager->view()->addSubview(picture);
    navigation->pushViewController(pager, false);
    session.settle();
    // Read before the tap: the two sides of a comparison are evaluated in no set order.
    const std::string backNumber = numberOf("4/4");
    EXPECT_EQ(run("back").message, "tapped [" + backNumber + "] < 4/4");
    EXPECT_EQ(navigation->topViewController(), reader);

    // Shown without its bars, the picture brings them back.
    other->removeFromSuperview();
    navigation->pushViewController(pager, false);
    navigation->setNavigationBarHidden(true);
    session.settle();
    const auto hidden = run("back");
    EXPECT_FALSE(hidden.ok);
    EXPECT_EQ(hidden.message,
              "the bars are hidden, and the back button with them: tap [" + numberOf("picture") + "] picture to bring them back");
    EXPECT_EQ(navigation->topViewController(), pager);
    EXPECT_EQ(closed, 1);
}
