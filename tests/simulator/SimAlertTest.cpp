// Alerts on the text screen, whichever kind puts them up: the one in front under its heading with
// its message, fields and numbered buttons, those behind it listed as waiting, their buttons not
// yet to be touched, their numbers kept from the one in front; an action sheet under a heading of
// its own. A shot draws the alert the last listing put in front, alone, over the screen dimmed
// once. An alert's one field takes the typing as it appears. Behind an alert, a swipe, a scroll
// and a drag are refused as a tap is.
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UITextField.h"
#include "tests/simulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

using SimAlertTest = SimSessionTest;

std::shared_ptr<UIAlertController> offer(std::string* answer) {
    auto alert = UIAlertController::alertControllerWithTitle(
        "Complete", "Pictures not on this device yet: 24. Download them now?", UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default,
                                                    [answer](const auto&) { *answer = "download"; }));
    alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel,
                                                    [answer](const auto&) { *answer = "later"; }));
    return alert;
}

// How many points down the middle of a shot an alert's box takes, and whether the rest of that
// column is the red screen dimmed once: no box waiting behind, no second dimming.
struct AlertColumn {
    int box = 0;
    bool dimmedOnce = true;
};

AlertColumn alertColumn(const UIImage& shot) {
    auto dimmedRed = [&](int y) {
        const auto c = shotRGB(shot, 187, y);
        return std::abs(c[0] - 153) <= 3 && c[1] <= 3 && c[2] <= 3;
    };
    int top = 0, bottom = shot.pixelHeight() - 1;
    while (top <= bottom && dimmedRed(top)) ++top;
    while (bottom >= top && dimmedRed(bottom)) --bottom;
    AlertColumn column;
    column.box = bottom - top + 1;
    column.dimmedOnce = top > 0 && bottom < shot.pixelHeight() - 1;
    return column;
}

int boxHeight(const UIAlertView& alert) {
    return static_cast<int>(std::lround(alert.window()->subviews().front()->frame().size.height));
}

}  // namespace

TEST_F(SimAlertTest, TheAlertInFrontIsListedFirstWithItsButtonsAndThoseBehindItWait) {
    auto count = UIButton::buttonWithType(UIButtonTypeSystem);
    count->setTitle("Count", UIControlStateNormal);
    count->setFrame(CGRectMake(20, 80, 120, 44));
    root->view()->addSubview(count);
    std::string answer;
    root->presentViewController(offer(&answer), false, nullptr);
    session.settle();
    EXPECT_EQ(screen(), "[1] button \"Count\"\n== alert: Complete ==\n"
                        "  Pictures not on this device yet: 24. Download them now?\n  [2] OK\n  [3] Cancel\n");

    // An alert view comes over it, as a message does on a return from the background.
    auto news = UIAlertView::initWithTitle("New paintings", "More paintings are waiting on the server.", nullptr, "OK", {});
    news->show();
    EXPECT_EQ(screen(), "[1] button \"Count\"\n== alert: New paintings ==\n  More paintings are waiting on the server.\n"
                        "  [4] OK\n== waiting behind it: alert: Complete ==\n"
                        "  Pictures not on this device yet: 24. Download them now?\n"
                        "  (its buttons once it is in front: OK, Cancel)\n");
    // The buttons of the one behind are out of reach until it is in front.
    const auto refused = run("tap Cancel");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message, "an alert is up (\"New paintings\"): answer it first with one of its buttons: [4] OK");
    EXPECT_FALSE(run("tap 3").ok);
    EXPECT_EQ(run("tap OK").message, "tapped [4] OK");
    EXPECT_TRUE(answer.empty());
    EXPECT_FALSE(news->isVisible());

    // Now in front, its buttons take numbers and answer it.
    EXPECT_EQ(screen(), "[1] button \"Count\"\n== alert: Complete ==\n"
                        "  Pictures not on this device yet: 24. Download them now?\n  [2] OK\n  [3] Cancel\n");
    EXPECT_EQ(run("tap Cancel").message, "tapped [3] Cancel");
    EXPECT_EQ(answer, "later");
    EXPECT_EQ(screen(), "[1] button \"Count\"\n");

    // A sheet is listed the same way under a heading of its own, an untitled one by its kind. It
    // follows alerts that have gone: their numbers stay theirs while the screen shows.
    auto sheet = UIAlertController::alertControllerWithTitle("", "", UIAlertControllerStyle::ActionSheet);
    sheet->addAction(UIAlertAction::actionWithTitle("Share", UIAlertActionStyle::Default, nullptr));
    auto disabled = UIAlertAction::actionWithTitle("Get HD", UIAlertActionStyle::Default, nullptr);
    disabled->setEnabled(false);
    sheet->addAction(disabled);
    root->presentViewController(sheet, false, nullptr);
    session.settle();
    EXPECT_EQ(screen(), "[1] button \"Count\"\n== sheet ==\n  [5] Share\n  [6] Get HD (disabled)\n");
    ASSERT_TRUE(run("tap Share").ok);
}

TEST_F(SimAlertTest, AWaitingAlertsButtonsKeepTheirNumbersAndTheOneInFrontTakesFreshOnes) {
    auto news = UIAlertView::initWithTitle("New paintings", "More paintings are waiting on the server.", nullptr, "OK", {});
    news->show();
    const std::string alone = "== alert: New paintings ==\n  More paintings are waiting on the server.\n  [1] OK\n";
    EXPECT_EQ(screen(), alone);
    auto music = UIAlertView::initWithTitle("Music", "New compositions are on the server.", nullptr, "Later", {"Listen"});
    music->show();
    EXPECT_EQ(screen(), "== alert: Music ==\n  New compositions are on the server.\n  [2] Later\n  [3] Listen\n"
                        "== waiting behind it: alert: New paintings ==\n  More paintings are waiting on the server.\n"
                        "  (its buttons once it is in front: OK)\n");
    // The number OK had reaches nothing while its alert waits, not a button of the one in front.
    const auto refused = run("tap 1");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message, "there is no control numbered 1 on the screen (it shows 2 controls)");
    EXPECT_TRUE(music->isVisible());
    EXPECT_EQ(run("tap Listen").message, "tapped [3] Listen");
    EXPECT_EQ(screen(), alone);
    EXPECT_EQ(run("tap 1").message, "tapped [1] OK");
    EXPECT_FALSE(news->isVisible());
}

TEST_F(SimAlertTest, AShotDrawsTheAlertTheListingPutInFrontAloneOverTheScreenDimmedOnce) {
    root->view()->setBackgroundColor(UIColor::redColor());
    std::string answer;
    root->presentViewController(offer(&answer), false, nullptr);
    session.settle();
    auto news = UIAlertView::initWithTitle("New paintings", "", nullptr, "OK", {});
    news->show();
    ASSERT_EQ(screen().rfind("== alert: New paintings ==\n", 0), 0u) << screen();
    // One more comes after that listing: the next shot shows the one it listed in front.
    auto music = UIAlertView::initWithTitle("Music", "New compositions are on the server. Listen to them now?", nullptr,
                                            "Later", {"Listen"});
    music->show();
    ASSERT_NE(boxHeight(*news), boxHeight(*music));
    const std::string path = Sandbox::tmp() + "/alerts.png";
    ASSERT_TRUE(run("shot " + path).ok);
    auto shot = UIImage::imageWithContentsOfFile(path);
    ASSERT_TRUE(shot);
    AlertColumn column = alertColumn(*shot);
    EXPECT_NEAR(column.box, boxHeight(*news), 2);
    EXPECT_TRUE(column.dimmedOnce);

    // The next listing has it in front, and so has the shot after it.
    ASSERT_EQ(screen().rfind("== alert: Music ==\n", 0), 0u) << screen();
    ASSERT_TRUE(run("shot " + path).ok);
    shot = UIImage::imageWithContentsOfFile(path);
    ASSERT_TRUE(shot);
    column = alertColumn(*shot);
    EXPECT_NEAR(column.box, boxHeight(*music), 2);
    EXPECT_TRUE(column.dimmedOnce);

    // With the two answered, the first is in front again, dimming the screen itself.
    ASSERT_TRUE(run("tap Later").ok);
    ASSERT_TRUE(run("tap OK").ok);
    ASSERT_EQ(screen().rfind("== alert: Complete ==\n", 0), 0u) << screen();
    ASSERT_TRUE(run("shot " + path).ok);
    shot = UIImage::imageWithContentsOfFile(path);
    ASSERT_TRUE(shot);
    column = alertColumn(*shot);
    EXPECT_GT(column.box, 100);
    EXPECT_TRUE(column.dimmedOnce);
    EXPECT_TRUE(answer.empty());
}

TEST_F(SimAlertTest, AnAlertsOneFieldTakesTheTypingAsItAppears) {
    auto alert = UIAlertController::alertControllerWithTitle("", "New Playlist", UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler([](const auto& field) { field->setPlaceholder("Name"); });
    std::string named;
    std::weak_ptr<UIAlertController> weak = alert;
    alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, [weak, &named](const auto&) {
        if (auto shown = weak.lock()) named = shown->textFields().front()->text();
    }));
    root->presentViewController(alert, false, nullptr);
    session.settle();
    // Untitled, it is headed by its kind alone; its message follows.
    EXPECT_EQ(screen(), "== alert ==\n  New Playlist\n  [1] field \"\" (placeholder \"Name\") (typing)\n  [2] OK\n");
    EXPECT_TRUE(run("type Evening").ok);
    EXPECT_EQ(run("tap OK").message, "tapped [2] OK");
    EXPECT_EQ(named, "Evening");
    EXPECT_EQ(UIResponder::currentFirstResponder(), nullptr) << "the keyboard went with the alert";
}

TEST_F(SimAlertTest, BehindAnAlertASwipeAScrollAndADragAreRefusedAsATapIs) {
    auto scroller = UIScrollView::initWithFrame(CGRectMake(0, 64, 375, 300));
    scroller->setContentSize(CGSizeMake(1000, 1000));
    root->view()->addSubview(scroller);
    auto count = UIButton::buttonWithType(UIButtonTypeSystem);
    count->setTitle("Count", UIControlStateNormal);
    count->setFrame(CGRectMake(20, 400, 120, 44));
    root->view()->addSubview(count);
    std::string answer;
    root->presentViewController(offer(&answer), false, nullptr);
    session.settle();

    const std::string refusal = run("tap Count").message;
    EXPECT_EQ(refusal, "an alert is up (\"Complete\"): answer it first with one of its buttons: [2] OK, [3] Cancel");
    for (const char* line : {"swipe left", "swipe Count up", "scroll down", "scroll Count down 50", "pan 0 100",
                             "pan Count 10 10"}) {
        const auto refused = run(line);
        EXPECT_FALSE(refused.ok) << line;
        EXPECT_EQ(refused.message, refusal) << line;
    }
    EXPECT_EQ(scroller->contentOffset().y, 0);
    EXPECT_TRUE(answer.empty());
    ASSERT_TRUE(run("tap Cancel").ok);
    EXPECT_TRUE(run("scroll down").ok);
    EXPECT_EQ(scroller->contentOffset().y, 300 - 44);
}
