// The screen read as text and drawn as a picture, in process: the text screen decodes no
// picture (a shot decodes each one once), a huge label shows only its beginning in both, and
// the buttons inside a table row are listed on its line and can be tapped, and a screen laid
// inside a button is listed and reached, the button where the screen leaves it free. What is
// listed is what a person sees: a page by its title, a picture by what it shows, a bar without a
// title by its buttons; never an address or a file of this machine, nor a backdrop.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "platform/web/WKWebView.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimCommand.h"
#include "simulator/SimScreen.h"
#include "simulator/SimSession.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// Rows with a "Go" button each, the second one hidden; taps of the rows and buttons are logged.
class ButtonRows : public NSObject, public UITableViewDataSource, public UITableViewDelegate {
public:
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return 2; }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath& indexPath) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "row");
        cell->textLabel()->setText("Row " + std::to_string(indexPath.row));
        auto button = UIButton::buttonWithType(UIButtonTypeSystem);
        button->setTitle("Go", UIControlStateNormal);
        button->setFrame(CGRectMake(250, 5, 50, 30));
        button->setHidden(indexPath.row == 1);
        const long row = indexPath.row;
        button->addTarget(nullptr, [this, row](const auto&) { log.push_back("go " + std::to_string(row)); },
                          UIControlEventTouchUpInside);
        cell->contentView()->addSubview(button);
        return cell;
    }
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& indexPath) override {
        log.push_back("row " + std::to_string(indexPath.row));
    }
    std::vector<std::string> log;
};

class ScreenTest : public KeyWindowTest {
protected:
    void SetUp() override {
        KeyWindowTest::SetUp();
        root->view()->setBackgroundColor(UIColor::whiteColor());
    }
    // The font caches the shots filled stay for the process unless released.
    static void TearDownTestSuite() { SimRenderer::releaseCaches(); }

    // A picture file of one colour, read back from the file.
    std::shared_ptr<UIImage> picture(const std::string& name, std::uint8_t red) {
        std::vector<std::uint8_t> px(20 * 20 * 4, 255);
        for (std::size_t i = 0; i < px.size(); i += 4) px[i + 1] = px[i + 2] = 0, px[i] = red;
        const std::string path = Sandbox::tmp() + "/" + name;
        const NSData png = UIImagePNGRepresentation(UIImage::imageWithPixels(px, 20, 20, 1));
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
        return UIImage::imageWithContentsOfFile(path);
    }
};

TEST_F(ScreenTest, TheTextScreenDecodesNoPictureAndAShotDecodesEachOnce) {
    const auto before = UIImage::decodedPictureCount();
    for (int i = 0; i < 3; ++i) {
        auto view = UIImageView::initWithImage(picture("picture" + std::to_string(i) + ".png", 200 + 20 * i));
        view->setFrame(CGRectMake(20 + 60 * i, 100, 40, 40));
        root->view()->addSubview(view);
    }
    window->layoutAndDisplayIfNeeded();

    const SimScreen screen = SimScreen::capture();
    // A picture by its file's name, wherever the file lies.
    EXPECT_TRUE(screen.contains("\nimage picture2.png\n")) << screen.text();
    EXPECT_EQ(UIImage::decodedPictureCount(), before);

    const std::string shot = Sandbox::tmp() + "/pictures.png";
    std::string error;
    ASSERT_TRUE(SimRenderer::writePNG(shot, error)) << error;
    EXPECT_EQ(UIImage::decodedPictureCount(), before + 3);
    auto drawn = UIImage::imageWithContentsOfFile(shot);
    ASSERT_TRUE(drawn);
    const auto& px = drawn->rgbaPixels();
    const std::size_t third = (static_cast<std::size_t>(120) * drawn->pixelWidth() + 160) * 4;
    EXPECT_EQ(px[third], 240);
    EXPECT_EQ(px[third + 1], 0);

    ASSERT_TRUE(SimRenderer::writePNG(shot, error)) << error;
    (void)SimScreen::capture();
    EXPECT_EQ(UIImage::decodedPictureCount(), before + 4);  // the pictures once, and the shot read back
}

TEST_F(ScreenTest, AHugeLabelShowsItsBeginningOnTheTextScreenAndInTheShot) {
    std::string huge = "Category ";
    while (huge.size() < 50'000'000) huge += "abcdefghi ";
    auto label = UILabel::initWithFrame(CGRectMake(20, 100, 200, 30));
    label->setText(huge);
    root->view()->addSubview(label);
    window->layoutAndDisplayIfNeeded();

    const SimScreen screen = SimScreen::capture();
    EXPECT_LT(screen.text().size(), 5000u);
    EXPECT_TRUE(screen.contains("\"" + huge.substr(0, 4000) + "\xE2\x80\xA6\"")) << screen.text().substr(0, 200);

    const std::string shot = Sandbox::tmp() + "/label.png";
    std::string error;
    ASSERT_TRUE(SimRenderer::writePNG(shot, error)) << error;
    // The label's first line is drawn: dark pixels in its box, none right of it.
    auto drawn = UIImage::imageWithContentsOfFile(shot);
    ASSERT_TRUE(drawn);
    auto darkIn = [&](int x0, int x1) {
        int dark = 0;
        const auto& px = drawn->rgbaPixels();
        for (int y = 100; y < 130; ++y)
            for (int x = x0; x < x1; ++x) dark += px[(static_cast<std::size_t>(y) * drawn->pixelWidth() + x) * 4] < 128;
        return dark;
    };
    EXPECT_GT(darkIn(20, 220), 50);
    EXPECT_EQ(darkIn(240, 375), 0);
}

}  // namespace

TEST_F(ScreenTest, ADisabledButtonsImageIsDrawnFaded) {
    const auto image = picture("arrow.png", 0);  // blue
    std::vector<std::shared_ptr<UIButton>> buttons;
    for (int i = 0; i < 2; ++i) {
        auto button = UIButton::make();
        button->setImage(image, UIControlStateNormal);
        button->setFrame(CGRectMake(40 + 100 * i, 100, 20, 20));
        root->view()->addSubview(button);
        buttons.push_back(button);
    }
    buttons[1]->setEnabled(false);
    window->layoutAndDisplayIfNeeded();

    const std::string shot = Sandbox::tmp() + "/buttons.png";
    std::string error;
    ASSERT_TRUE(SimRenderer::writePNG(shot, error)) << error;
    auto drawn = UIImage::imageWithContentsOfFile(shot);
    ASSERT_TRUE(drawn);
    auto red = [&](int x, int y) { return drawn->rgbaPixels()[(static_cast<std::size_t>(y) * drawn->pixelWidth() + x) * 4]; };
    EXPECT_LT(red(50, 110), 10);    // the enabled one in full
    EXPECT_GT(red(150, 110), 140);  // the disabled one mostly the white under it
    EXPECT_LT(red(150, 110), 230);
}

TEST_F(ScreenTest, ButtonsInsideARowAreListedUnderItAndTapped) {
    auto rows = std::make_shared<ButtonRows>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 100, 320, 100));
    table->setDataSource(rows);
    table->setDelegate(rows);
    root->view()->addSubview(table);
    table->reloadData();
    auto after = UIButton::buttonWithType(UIButtonTypeSystem);
    after->setTitle("Below", UIControlStateNormal);
    after->setFrame(CGRectMake(20, 300, 100, 44));
    root->view()->addSubview(after);
    window->layoutIfNeeded();

    // The hidden button is not listed; the visible one has a number of its own under its row.
    const SimScreen screen = SimScreen::capture();
    EXPECT_EQ(screen.text(), "[1] row \"Row 0\" \"Go\"\n  [2] button \"Go\"\n[3] row \"Row 1\"\n[4] button \"Below\"\n")
        << screen.text();

    const CGFloat scale = UIImage::screenScale();
    {
        SimSession session(false);
        EXPECT_TRUE(session.execute(SimCommand::parse("tap 2")).ok);
        EXPECT_TRUE(session.execute(SimCommand::parse("tap 3")).ok);
    }
    UIImage::setScreenScale(scale);  // the session draws at the device's scale
    EXPECT_EQ(rows->log, (std::vector<std::string>{"go 0", "row 1"}));
}

TEST_F(ScreenTest, AScreenInsideAButtonIsListedUnderItAndItsRowsAreTapped) {
    auto rows = std::make_shared<ButtonRows>();
    auto panel = std::make_shared<UIViewController>();
    auto dimming = UIButton::buttonWithType(UIButtonTypeCustom);
    dimming->setFrame(root->view()->bounds());
    // The panel lies over the button's middle.
    auto table = UITableView::initWithFrame(CGRectInset(dimming->bounds(), 20, 40));
    table->setDataSource(rows);
    table->setDelegate(rows);
    panel->setView(table);
    dimming->addTarget(nullptr, [&](const auto&) { rows->log.push_back("dimming"); }, UIControlEventTouchUpInside);
    dimming->addSubview(table);
    root->view()->addSubview(dimming);
    table->reloadData();
    window->layoutIfNeeded();

    const SimScreen screen = SimScreen::capture();
    EXPECT_EQ(screen.text(), "[1] button \"\"\n  [2] row \"Row 0\" \"Go\"\n    [3] button \"Go\"\n  [4] row \"Row 1\"\n")
        << screen.text();
    // A plain button's own subviews stay unlisted.
    dimming->removeFromSuperview();
    auto plain = UIButton::buttonWithType(UIButtonTypeSystem);
    plain->setTitle("Plain", UIControlStateNormal);
    plain->setFrame(CGRectMake(0, 0, 100, 44));
    plain->addSubview(UILabel::initWithFrame(CGRectMake(0, 0, 50, 20)));
    root->view()->addSubview(plain);
    root->view()->addSubview(dimming);
    window->layoutIfNeeded();
    EXPECT_EQ(SimScreen::capture().text().find("[1] button \"Plain\"\n[2] button"), 0u) << SimScreen::capture().text();

    const CGFloat scale = UIImage::screenScale();
    {
        SimSession session(false);
        EXPECT_TRUE(session.execute(SimCommand::parse("tap Row 1")).ok);
        // The button itself is touched where the panel leaves it free.
        EXPECT_TRUE(session.execute(SimCommand::parse("tap 2")).ok);
    }
    UIImage::setScreenScale(scale);
    EXPECT_EQ(rows->log, (std::vector<std::string>{"row 1", "dimming"}));
}

TEST_F(ScreenTest, APageIsListedByItsTitleAPictureByWhatItShowsAndABarWithoutATitleByItsButtons) {
    auto form = UIViewController::make();
    form->navigationItem()->setLeftBarButtonItem(
        UIBarButtonItem::initWithTitle("Cancel", UIBarButtonItemStylePlain, nullptr, nullptr));
    form->navigationItem()->setRightBarButtonItem(
        UIBarButtonItem::initWithTitle("Request", UIBarButtonItemStyleDone, nullptr, nullptr));
    form->view()->setBackgroundColor(UIColor::whiteColor());
    auto page = WKWebView::initWithFrame(CGRectMake(0, 64, 375, 200));
    (void)page->loadHTMLString("<html><head><title>Impasto</title></head><body><h2>Impasto</h2></body></html>",
                               "file:///home/someone/ostrel/build/runs/4242/bundle/");
    form->view()->addSubview(page);
    auto blank = WKWebView::initWithFrame(CGRectMake(0, 270, 375, 100));
    (void)blank->loadHTMLString("", "");
    form->view()->addSubview(blank);
    // A backdrop drawn under the controls says nothing; a picture says what it shows.
    auto backdrop = UIImageView::initWithImage(picture("bar_ipad.png", 90));
    backdrop->setFrame(CGRectMake(0, 380, 375, 40));
    setAccessibilityElementsHidden(*backdrop, true);
    form->view()->addSubview(backdrop);
    auto painting = UIImageView::initWithImage(picture("c02_1.png", 200));
    painting->setFrame(CGRectMake(0, 430, 100, 100));
    setAccessibilityLabel(*painting, "Antonio Vivaldi");
    form->view()->addSubview(painting);
    window->setRootViewController(UINavigationController::initWithRootViewController(form));
    window->layoutAndDisplayIfNeeded();
    NSRunLoop::mainRunLoop()->runUntilIdle();

    const std::string text = SimScreen::capture().text();
    EXPECT_EQ(text, "-- bar: [1] Cancel  | [2] Request  \nweb \"Impasto\"\nheading \"Impasto\" (18pt)\n"
                    "image \"Antonio Vivaldi\"\n")
        << text;
    for (const char* detail : {"(untitled)", "file:", "about:blank", "bar_ipad", "c02_1"})
        EXPECT_EQ(text.find(detail), std::string::npos) << detail << "\n" << text;
}
