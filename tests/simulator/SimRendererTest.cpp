// Shots draw what the text screen lists: every word of a justified page inside its margin, the
// views that draw themselves, the spinner of a busy overlay, an alert as tall as what it holds
// and the box of its field, a bar button's count at the button's corner, off its glyph, the
// words typed into a mail, a button's background image, a row's accessory, a toolbar's trash
// can and the toolbar's own background.
#include "platform/foundation/Sandbox.h"
#include "platform/messageui/MFMailComposeViewController.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UITextView.h"
#include "platform/ui/UIToolbar.h"
#include "platform/widgets/BPMKNumberBadgeView.h"
#include "simulator/SimRenderer.h"
#include "tests/simulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A round red mark drawn by the view itself, as a badge is.
class RedDot : public UIView {
public:
    using UIView::UIView;
    void drawRect(const CGRect&) override {
        auto c = UIGraphicsGetCurrentContext();
        CGContextSetFillColorWithColor(c, UIColor::redColor());
        CGContextFillEllipseInRect(c, bounds());
    }
};

// A menu glyph: three dark bars across a 22-point square, drawn at two pixels a point.
std::shared_ptr<UIImage> menuGlyph() {
    constexpr int kSide = 44;
    std::vector<std::uint8_t> rgba(kSide * kSide * 4, 0);
    for (int bar : {10, 20, 30})
        for (int y = bar; y < bar + 4; ++y)
            for (int x = 6; x < 38; ++x) {
                std::uint8_t* p = &rgba[(y * kSide + x) * 4];
                p[0] = p[1] = p[2] = 40;
                p[3] = 255;
            }
    return UIImage::imageWithPixels(std::move(rgba), kSide, kSide, 2);
}

std::vector<std::string> wordsOf(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// Rows titled as given, each with the accessory given.
class AccessoryRows : public NSObject, public UITableViewDataSource {
public:
    std::vector<UITableViewCellAccessoryType> accessories;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override {
        return static_cast<long>(accessories.size());
    }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath& indexPath) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "row");
        cell->textLabel()->setText("Egg Tempera");
        cell->setAccessoryType(accessories[static_cast<std::size_t>(indexPath.row)]);
        return cell;
    }
};

// The process's peak resident size since the last reset, in bytes.
std::int64_t peakResident() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    return -1;
}

// Dark through and through, as a picture under the bars.
std::shared_ptr<UIImage> darkPicture(int width, int height) {
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4, 30);
    for (std::size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
    return UIImage::imageWithPixels(std::move(rgba), width, height, 1);
}

class RendererTest : public SimWindowTest {
protected:
    std::shared_ptr<UIImage> shoot() {
        window->layoutAndDisplayIfNeeded();
        const std::string path = Sandbox::tmp() + "/shot.png";
        std::string error;
        drawn.clear();
        EXPECT_TRUE(SimRenderer::writePNG(path, error, &drawn)) << error;
        return UIImage::imageWithContentsOfFile(path);
    }
    std::vector<const SimDrawnElement*> all(const std::string& kind) const {
        std::vector<const SimDrawnElement*> found;
        for (const auto& d : drawn)
            if (d.kind == kind) found.push_back(&d);
        return found;
    }

    std::vector<SimDrawnElement> drawn;
};

}  // namespace

TEST_F(RendererTest, AJustifiedPageKeepsEveryWordInsideItsMargin) {
    const std::string text =
        "Paint laid on thickly enough to keep the mark of the brush or knife is called impasto. Late Rembrandt and "
        "van Gogh used it to catch the light on the surface itself.";
    // A page's paragraph: a family the layout measures with fixed metrics and cairo draws wider.
    auto label = UILabel::initWithFrame(CGRectMake(16, 100, 343, 200));
    label->setFont(UIFont::fontWithName("Arial", 21));
    label->setNumberOfLines(0);
    label->setTextAlignment(NSTextAlignmentJustified);
    label->setText(text);
    root->view()->addSubview(label);
    auto shot = shoot();
    ASSERT_TRUE(shot);

    const auto lines = all("line");
    ASSERT_GT(lines.size(), 2u);
    std::string joined;
    for (const auto* line : lines) {
        joined += line->text + " ";
        EXPECT_GE(line->frame.origin.x, 16 - 0.5) << line->text;
        EXPECT_LE(CGRectGetMaxX(line->frame), 16 + 343 + 0.5) << line->text;
    }
    EXPECT_EQ(wordsOf(joined), wordsOf(text));
    // Nothing is inked in the right margin, and a justified line reaches its right edge.
    EXPECT_EQ(markedPixels(*shot, CGRectMake(360, 100, 15, 200)), 0);
    EXPECT_GT(CGRectGetMaxX(lines.front()->frame), 16 + 343 - 2);
    EXPECT_GT(markedPixels(*shot, CGRectMake(340, lines.front()->frame.origin.y, 19, lines.front()->frame.size.height)), 0);
}

TEST_F(RendererTest, ViewsThatDrawThemselvesAndSpinnersAreDrawn) {
    auto dot = std::make_shared<RedDot>(CGRectMake(40, 100, 30, 30));
    root->view()->addSubview(dot);
    dot->setNeedsDisplay();
    auto spinner = UIActivityIndicatorView::initWithActivityIndicatorStyle(UIActivityIndicatorViewStyleGray);
    spinner->setFrame(CGRectMake(200, 100, 37, 37));
    root->view()->addSubview(spinner);
    spinner->startAnimating();
    auto shot = shoot();
    ASSERT_TRUE(shot);

    const auto red = shotRGB(*shot, 55, 115);
    EXPECT_GT(red[0], 200);
    EXPECT_LT(red[1], 60);
    EXPECT_EQ(markedPixels(*shot, CGRectMake(40, 100, 3, 3)), 0) << "the corner outside the circle";
    // The dot and the spinner each draw themselves.
    ASSERT_EQ(all("drawing").size(), 2u);
    EXPECT_EQ(all("drawing")[1]->frame, CGRectMake(200, 100, 37, 37));
    EXPECT_GT(markedPixels(*shot, CGRectMake(200, 100, 37, 37)), 40);
    EXPECT_EQ(markedPixels(*shot, CGRectMake(200, 100, 4, 4)), 0) << "the corner outside the spokes";

    // Stopped, it hides and is not drawn.
    spinner->stopAnimating();
    shot = shoot();
    ASSERT_TRUE(shot);
    EXPECT_EQ(all("drawing").size(), 1u);
    EXPECT_EQ(markedPixels(*shot, CGRectMake(200, 100, 37, 37)), 0);
}

// A picture far larger than the shot shows it (a page's picture, whole or zoomed into) is drawn
// from the part in sight, at the pixels the shot gives that part: no copy of it the picture's size
// is made to draw it.
TEST_F(RendererTest, ALargePictureIsDrawnFromThePartInSightAtTheShotsPixels) {
    constexpr int kWidth = 4000, kHeight = 3000;
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(kWidth) * kHeight * 4);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        const bool left = (i / 4) % kWidth < kWidth / 2;
        rgba[i] = left ? 255 : 0;
        rgba[i + 2] = left ? 0 : 255;
        rgba[i + 3] = 255;
    }
    auto picture = UIImage::imageWithPixels(std::move(rgba), kWidth, kHeight, 1);
    auto whole = UIImageView::initWithFrame(CGRectMake(20, 100, 160, 120));
    whole->setContentMode(UIViewContentModeScaleAspectFit);
    whole->setImage(picture);
    root->view()->addSubview(whole);
    // Zoomed into its left edge: the picture at its size in a view that shows 100 points of it.
    auto clip = UIView::initWithFrame(CGRectMake(200, 100, 100, 100));
    clip->setClipsToBounds(true);
    auto zoomed = UIImageView::initWithFrame(CGRectMake(-1950, -1000, kWidth, kHeight));
    zoomed->setImage(picture);
    clip->addSubview(zoomed);
    root->view()->addSubview(clip);

    std::ofstream reset("/proc/self/clear_refs");
    reset << "5" << std::flush;
    ASSERT_TRUE(reset) << "the peak resident size cannot be reset";
    const std::int64_t start = peakResident();
    auto shot = shoot();
    const std::int64_t growth = peakResident() - start;
    ASSERT_TRUE(shot);
    EXPECT_GT(shotRGB(*shot, 30, 160)[0], 200);
    EXPECT_GT(shotRGB(*shot, 170, 160)[2], 200);
    // The picture's middle falls on the clipped view's middle: red to its left, blue to its right.
    EXPECT_GT(shotRGB(*shot, 240, 150)[0], 200);
    EXPECT_LT(shotRGB(*shot, 240, 150)[2], 60);
    EXPECT_GT(shotRGB(*shot, 260, 150)[2], 200);
    EXPECT_LT(shotRGB(*shot, 260, 150)[0], 60);
    // A copy of the whole picture to draw from would be 48 MB.
    EXPECT_LT(growth, 16 << 20);
}

// A picture with a side longer than cairo makes a surface (a thin strip, a panorama) is drawn
// scaled into its view like any other: red along its first half, blue along its second.
TEST_F(RendererTest, APictureLongerOnASideThanASurfaceIsDrawnScaledIntoItsView) {
    const auto halves = [](int width, int height) {
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const bool first = width >= height ? x < width / 2 : y < height / 2;
                std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
                p[0] = first ? 255 : 0;
                p[2] = first ? 0 : 255;
                p[3] = 255;
            }
        return UIImage::imageWithPixels(std::move(rgba), width, height, 1);
    };
    struct Strip {
        int width, height;
        CGRect frame;
    };
    for (const Strip& strip : {Strip{1, 65500, CGRectMake(20, 100, 20, 200)}, Strip{65500, 1, CGRectMake(60, 100, 200, 20)},
                               Strip{40000, 100, CGRectMake(60, 200, 200, 50)}}) {
        SCOPED_TRACE(std::to_string(strip.width) + " x " + std::to_string(strip.height));
        auto view = UIImageView::initWithFrame(strip.frame);
        view->setContentMode(UIViewContentModeScaleToFill);
        view->setImage(halves(strip.width, strip.height));
        root->view()->addSubview(view);
        auto shot = shoot();
        ASSERT_TRUE(shot);
        const CGRect f = strip.frame;
        const bool across = strip.width >= strip.height;
        const CGPoint first = across ? CGPointMake(f.origin.x + f.size.width / 4, CGRectGetMidY(f))
                                     : CGPointMake(CGRectGetMidX(f), f.origin.y + f.size.height / 4);
        const CGPoint second = across ? CGPointMake(f.origin.x + f.size.width * 3 / 4, CGRectGetMidY(f))
                                      : CGPointMake(CGRectGetMidX(f), f.origin.y + f.size.height * 3 / 4);
        EXPECT_GT(shotRGB(*shot, first.x, first.y)[0], 200);
        EXPECT_LT(shotRGB(*shot, first.x, first.y)[2], 60);
        EXPECT_GT(shotRGB(*shot, second.x, second.y)[2], 200);
        EXPECT_LT(shotRGB(*shot, second.x, second.y)[0], 60);
        view->removeFromSuperview();
    }
}

TEST_F(RendererTest, AnAlertWithoutATitleHasNoRoomForOne) {
    auto alert = UIAlertView::initWithTitle("", "Complete", nullptr, "OK", {});
    alert->show();
    auto shot = shoot();
    ASSERT_TRUE(shot);
    const auto lines = all("line");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]->text, "Complete");
    EXPECT_EQ(lines[1]->text, "OK");
    // The box's top edge: the first light pixel down the middle of the dimmed screen.
    int top = 0;
    while (top < shot->pixelHeight() && shotRGB(*shot, 187, top)[0] < 200) ++top;
    ASSERT_LT(top, shot->pixelHeight());
    EXPECT_LT(lines[0]->frame.origin.y - top, 30) << "the message sits at the top of the box";
    EXPECT_TRUE(all("text").empty()) << "no title is drawn";

    // With a title, the title comes first and the message under it.
    UIAlertView::forgetVisibleAlertViews();
    UIAlertView::initWithTitle("Saved", "Complete", nullptr, "OK", {})->show();
    shot = shoot();
    ASSERT_TRUE(shot);
    ASSERT_EQ(all("line").size(), 3u);
    EXPECT_EQ(all("line")[0]->text, "Saved");
    EXPECT_LT(all("line")[0]->frame.origin.y, all("line")[1]->frame.origin.y);
}

TEST_F(RendererTest, AnAlertsFieldIsABoxShowingItsPlaceholderThenWhatIsTyped) {
    auto alert = UIAlertController::alertControllerWithTitle("", "New Playlist", UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler([](const std::shared_ptr<UITextField>& f) { f->setPlaceholder("Name"); });
    alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, nullptr));
    root->presentViewController(alert, false, nullptr);
    auto shot = shoot();
    ASSERT_TRUE(shot);
    ASSERT_EQ(all("field").size(), 1u);
    const CGRect box = all("field")[0]->frame;
    EXPECT_EQ(all("field")[0]->text, "Name");
    // White inside, a grey edge, on the alert's lighter grey.
    const double midY = CGRectGetMidY(box);
    const auto inside = shotRGB(*shot, CGRectGetMaxX(box) - 10, midY);
    // The edge may fall between two pixels: the darker of them.
    int edge = 255;
    for (double x = box.origin.x - 1; x <= box.origin.x + 1; ++x) edge = std::min(edge, shotRGB(*shot, x, midY)[0]);
    const auto around = shotRGB(*shot, box.origin.x - 4, midY);
    EXPECT_EQ(inside[0], 255);
    EXPECT_GT(around[0], 235);
    EXPECT_LT(around[0], 255);
    EXPECT_LT(edge, around[0] - 15);
    auto placeholder = std::find_if(drawn.begin(), drawn.end(), [](const auto& d) { return d.kind == "line" && d.text == "Name"; });
    ASSERT_NE(placeholder, drawn.end());
    EXPECT_TRUE(CGRectContainsRect(box, placeholder->frame));

    const auto field = alert->textFields().front();
    ASSERT_TRUE(field->becomeFirstResponder());
    ASSERT_TRUE(field->insertText("Evening"));
    shot = shoot();
    ASSERT_TRUE(shot);
    ASSERT_EQ(all("field").size(), 1u);
    EXPECT_EQ(all("field")[0]->text, "Evening");
    auto typed = std::find_if(drawn.begin(), drawn.end(), [](const auto& d) { return d.kind == "line" && d.text == "Evening"; });
    ASSERT_NE(typed, drawn.end());
    EXPECT_TRUE(CGRectContainsRect(box, typed->frame));
    EXPECT_GT(markedPixels(*shot, typed->frame), 20);
}

TEST_F(RendererTest, ABarButtonsCountSitsAtTheButtonsCornerOffItsGlyphOnThePhoneAndThePad) {
    for (const auto idiom : {UIUserInterfaceIdiom::Phone, UIUserInterfaceIdiom::Pad}) {
        SCOPED_TRACE(idiom == UIUserInterfaceIdiom::Pad ? "pad" : "phone");
        UIDevice::applyProfile(idiom);
        // The menu button as the screens make it: a 22-point glyph button, its count's view
        // shifted right by 43 % and up by 30 % of it, as large as the button.
        auto button = UIButton::buttonWithType(UIButtonTypeCustom);
        button->setImage(menuGlyph(), UIControlStateNormal);
        button->setFrame(CGRectMake(0, 0, 22, 22));
        auto badge = BPMKNumberBadgeView::initWithFrame(CGRectMake(0.43 * 22, -0.3 * 22, 22, 22));
        badge->setFont(UIFont::systemFontOfSize(12));
        badge->setShadow(false);
        badge->setShine(false);
        badge->setStrokeColor(UIColor::darkGrayColor());
        badge->setTextColor(UIColor::darkGrayColor());
        badge->setFillColor(UIColor::whiteColor());
        badge->setValue(3);
        badge->setUserInteractionEnabled(false);
        button->addSubview(badge);
        auto screen = UIViewController::make();
        screen->setTitle("Gallery");
        screen->navigationItem()->setLeftBarButtonItem(UIBarButtonItem::initWithCustomView(button));
        window->setRootViewController(UINavigationController::initWithRootViewController(screen));
        auto shot = shoot();
        ASSERT_TRUE(shot);
        ASSERT_TRUE(button->window());

        // Every pixel of the three bars still shows the glyph's ink, but at most a corner of one.
        const CGRect b = button->convertRectToView(button->bounds(), window);
        int covered = 0;
        for (int bar : {5, 10, 15})
            for (int y = bar; y < bar + 2; ++y)
                for (int x = 3; x < 19; ++x) covered += shotRGB(*shot, b.origin.x + x, b.origin.y + y)[0] > 80 ? 1 : 0;
        EXPECT_LE(covered, 2);
        // The count's ring is drawn beyond the button's top right corner.
        EXPECT_GT(markedPixels(*shot, CGRectMake(CGRectGetMaxX(b), b.origin.y - 6, 8, 6)), 3);
        EXPECT_EQ(markedPixels(*shot, CGRectMake(b.origin.x, b.origin.y - 6, 10, 6)), 0) << "nothing over the glyph's left";
    }
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
}

TEST_F(RendererTest, WordsTypedIntoAMailAreDrawnInItsBodyAndATextViewDrawsTheLinesScrolledIntoView) {
    auto composer = MFMailComposeViewController::make();
    composer->setSubject("Las Meninas");
    composer->setMessageBody("<p>Court painter of Philip IV.</p>", true);
    root->presentViewController(composer, false, nullptr);
    const auto body = composer->writingView();
    ASSERT_TRUE(body->becomeFirstResponder());
    const std::string typed = "See the mirror at the back of the room, and who stands in it beside the painter.";
    ASSERT_TRUE(body->insertText(typed));
    auto shot = shoot();
    ASSERT_TRUE(shot);
    const CGRect box = body->convertRectToView(body->bounds(), window);
    std::string joined;
    for (const auto* line : all("line"))
        if (CGRectContainsRect(box, line->frame)) joined += line->text + " ";
    EXPECT_EQ(wordsOf(joined), wordsOf(typed)) << "every typed word, inside the body's box";
    EXPECT_GT(markedPixels(*shot, box), 200);

    // A long text scrolled down: the lines in view are drawn, those above it are not.
    auto notes = UITextView::initWithFrame(CGRectMake(20, 300, 300, 100));
    notes->setFont(UIFont::systemFontOfSize(17));
    std::string text;
    for (int i = 1; i <= 30; ++i) text += "Note " + std::to_string(i) + "\n";
    notes->setText(text);
    notes->setEditable(false);
    composer->dismissViewControllerAnimated(false, nullptr);
    root->view()->addSubview(notes);
    notes->setContentOffset(CGPointMake(0, 400));
    shot = shoot();
    ASSERT_TRUE(shot);
    std::vector<std::string> shown;
    for (const auto* line : all("line")) {
        shown.push_back(line->text);
        EXPECT_LT(line->frame.origin.y, 400 + 1) << line->text;
        EXPECT_GT(CGRectGetMaxY(line->frame), 300 - 1) << line->text;
    }
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "Note 1"), 0);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "Note 21"), 1);
    EXPECT_GT(markedPixels(*shot, CGRectMake(20, 300, 300, 100)), 100);
}

TEST_F(RendererTest, AButtonDrawsItsBackgroundImageUnderItsTitle) {
    // The text reader's alignment button: a glyph as its background, no title.
    auto align = UIButton::buttonWithType(UIButtonTypeSystem);
    align->setFrame(CGRectMake(10, 600, 44, 44));
    align->setBackgroundImage(menuGlyph(), UIControlStateNormal);
    root->view()->addSubview(align);
    auto shot = shoot();
    ASSERT_TRUE(shot);
    // Stretched over the button: the bars reach past where the glyph at its own size would end.
    EXPECT_GT(markedPixels(*shot, CGRectMake(10, 600, 44, 44)), 150);
    EXPECT_GT(markedPixels(*shot, CGRectMake(10 + 35, 600, 3, 44)), 10);

    // Another image for the highlighted state is drawn while the finger is down.
    auto other = UIImage::imageWithPixels(std::vector<std::uint8_t>(4 * 4 * 4, 255), 4, 4, 1);
    align->setBackgroundImage(other, UIControlStateHighlighted);
    align->setHighlighted(true);
    shot = shoot();
    ASSERT_TRUE(shot);
    EXPECT_EQ(markedPixels(*shot, CGRectMake(10, 600, 44, 44)), 0);
}

TEST_F(RendererTest, ARowDrawsItsAccessoryInItsStripSelectedOrNot) {
    auto rows = std::make_shared<AccessoryRows>();
    rows->accessories = {UITableViewCellAccessoryDisclosureIndicator, UITableViewCellAccessoryCheckmark,
                         UITableViewCellAccessoryDetailButton, UITableViewCellAccessoryNone};
    auto table = UITableView::initWithFrame(CGRectMake(0, 100, 375, 400), UITableViewStylePlain);
    table->setDataSource(rows);
    root->view()->addSubview(table);
    table->reloadData();
    auto shot = shoot();
    ASSERT_TRUE(shot);
    auto strip = [&](long row) {
        auto cell = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
        EXPECT_TRUE(cell);
        if (!cell) return CGRectZero;
        const CGRect frame = cell->convertRectToView(cell->bounds(), window);
        return CGRectMake(CGRectGetMaxX(frame) - 33, frame.origin.y, 33, frame.size.height);
    };
    // A grey chevron, a check mark and an information ring in the tint colour; nothing without one.
    const CGRect chevron = strip(0);
    EXPECT_GT(markedPixels(*shot, chevron), 15);
    int tinted = 0;
    for (const CGRect r : {strip(1), strip(2)}) {
        EXPECT_GT(markedPixels(*shot, r), 15);
        for (int y = static_cast<int>(r.origin.y); y < CGRectGetMaxY(r); ++y)
            for (int x = static_cast<int>(r.origin.x); x < CGRectGetMaxX(r); ++x) {
                const auto c = shotRGB(*shot, x, y);
                tinted += c[2] > c[0] + 80 ? 1 : 0;
            }
    }
    EXPECT_GT(tinted, 20);
    EXPECT_EQ(markedPixels(*shot, strip(3)), 0);

    // The selected row's grey background does not hide its chevron.
    table->selectRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0), false, UITableViewScrollPositionNone);
    shot = shoot();
    ASSERT_TRUE(shot);
    const auto selected = shotRGB(*shot, chevron.origin.x + 2, chevron.origin.y + 2);
    EXPECT_LT(selected[0], 230) << "the selection's grey";
    int darker = 0;
    for (int y = static_cast<int>(chevron.origin.y); y < CGRectGetMaxY(chevron); ++y)
        for (int x = static_cast<int>(chevron.origin.x); x < CGRectGetMaxX(chevron); ++x)
            darker += shotRGB(*shot, x, y)[0] < selected[0] - 20 ? 1 : 0;
    EXPECT_GT(darker, 10);
}

TEST_F(RendererTest, AToolbarDrawsItsBarUnderTheTrashCanAndItsOtherItems) {
    for (const auto idiom : {UIUserInterfaceIdiom::Phone, UIUserInterfaceIdiom::Pad}) {
        SCOPED_TRACE(idiom == UIUserInterfaceIdiom::Pad ? "pad" : "phone");
        UIDevice::applyProfile(idiom);
        // A screen whose picture runs under the toolbar, as the pager's does turned sideways.
        auto screen = UIViewController::make();
        screen->setTitle("Songs");
        auto trash = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemTrash, nullptr, nullptr);
        auto done = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemDone, nullptr, nullptr);
        screen->setToolbarItems({trash, UIBarButtonItem::flexibleSpaceItem(), done});
        auto navigation = UINavigationController::initWithRootViewController(screen);
        navigation->setToolbarHidden(false, false);
        window->setRootViewController(navigation);
        const CGSize size = window->bounds().size;
        auto picture = UIImageView::initWithImage(darkPicture(static_cast<int>(size.width), static_cast<int>(size.height)));
        picture->setFrame(window->bounds());
        screen->view()->addSubview(picture);
        auto shot = shoot();
        ASSERT_TRUE(shot);
        auto toolbar = navigation->toolbar();
        ASSERT_TRUE(toolbar->window());
        const CGRect bar = toolbar->convertRectToView(toolbar->bounds(), window);

        // The bar is light over the dark picture, with the picture faintly through it.
        const auto under = shotRGB(*shot, CGRectGetMidX(bar), bar.origin.y + 2);
        EXPECT_GT(under[0], 200);
        EXPECT_LT(under[0], 250);
        // The trash can is a glyph in the tint colour, not the word.
        auto button = toolbar->viewForItem(trash);
        ASSERT_TRUE(button);
        const CGRect can = button->convertRectToView(button->bounds(), window);
        EXPECT_GT(markedPixels(*shot, can), 40);
        for (const auto* line : all("line")) EXPECT_NE(line->text, "Trash");
        const auto found = std::find_if(drawn.begin(), drawn.end(),
                                        [](const auto& d) { return d.kind == "line" && d.text == "Done"; });
        EXPECT_NE(found, drawn.end()) << "a system item without a glyph keeps its word";
        // Ink only in the can's middle, 18 points wide.
        EXPECT_EQ(markedPixels(*shot, CGRectMake(can.origin.x, can.origin.y, CGRectGetMidX(can) - 11 - can.origin.x,
                                                 can.size.height)),
                  0);
        // Disabled, the can turns grey.
        trash->setEnabled(false);
        shot = shoot();
        ASSERT_TRUE(shot);
        int blue = 0;
        for (int y = static_cast<int>(can.origin.y); y < CGRectGetMaxY(can); ++y)
            for (int x = static_cast<int>(can.origin.x); x < CGRectGetMaxX(can); ++x) {
                const auto c = shotRGB(*shot, x, y);
                blue += c[2] > c[0] + 60 ? 1 : 0;
            }
        EXPECT_EQ(blue, 0);
        EXPECT_GT(markedPixels(*shot, can), 20);
    }
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
}
