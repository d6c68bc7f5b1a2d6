// Shots draw what the text screen lists: every word of a justified page inside its margin, the
// views that draw themselves, the spinner of a busy overlay, and an alert as tall as what it holds.
#include "platform/foundation/Sandbox.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "simulator/SimRenderer.h"
#include "tests/simulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <array>
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

std::vector<std::string> wordsOf(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
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
    EXPECT_EQ(all("drawing").size(), 1u);
    ASSERT_EQ(all("spinner").size(), 1u);
    EXPECT_GT(markedPixels(*shot, CGRectMake(200, 100, 37, 37)), 40);

    // Stopped, it hides and is not drawn.
    spinner->stopAnimating();
    shot = shoot();
    ASSERT_TRUE(shot);
    EXPECT_TRUE(all("spinner").empty());
    EXPECT_EQ(markedPixels(*shot, CGRectMake(200, 100, 37, 37)), 0);
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
