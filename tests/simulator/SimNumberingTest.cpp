// A control's number is what it is on its screen, not the view that shows it: a screen's bar
// buttons keep theirs while the bars hide and come back and while a screen laid over it comes
// and goes; a control that left keeps its number from any newcomer while its screen shows, so a
// number typed for it reaches nothing rather than something else; a list made anew keeps each
// row's number with the row, whichever cell shows it; a pager's controls keep theirs as its page
// turns and as a count beside a button's name changes; an overlay that follows another takes
// fresh numbers while the screen under them shows; a picture fading out is on the screen until
// its fade ends.
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIPageViewController.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UIToolbar.h"
#include "tests/simulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace {

using SimNumberingTest = SimSessionTest;

// The number the screen gives the first control listed as `line` ("< Portraits"), 0 for none.
int numberOf(const std::string& screen, const std::string& line) {
    std::smatch found;
    const std::regex numbered("\\[([0-9]+)\\] " + std::regex_replace(line, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"));
    return std::regex_search(screen, found, numbered) ? std::stoi(found[1].str()) : 0;
}

// A screen like a pager's: a picture that takes taps, reaching under the bars (so that it comes
// first in reading order), a name strip with a button below it, a bar button on the right.
class Pager : public UIViewController {
public:
    Pager() { setEdgesForExtendedLayout(UIRectEdgeAll); }
    void viewDidLoad() override {
        UIViewController::viewDidLoad();
        setTitle("Holbein");
        view()->setBackgroundColor(UIColor::whiteColor());
        auto picture = UIView::initWithFrame(view()->bounds());
        picture->addGestureRecognizer(UITapGestureRecognizer::make());
        setAccessibilityTraits(*picture, UIAccessibilityTraitImage);
        view()->addSubview(picture);
        auto strip = UIButton::buttonWithType(UIButtonTypeSystem);
        strip->setTitle("About", UIControlStateNormal);
        strip->setFrame(CGRectMake(20, 560, 100, 44));
        view()->addSubview(strip);
        navigationItem()->setRightBarButtonItem(
            UIBarButtonItem::initWithTitle("Like", UIBarButtonItemStylePlain, nullptr, nullptr));
    }
};

// Rows of compositions, each with a Download button until it is downloaded; the cells are
// reused, so a list made anew hands them to other rows.
class Songs : public NSObject, public UITableViewDataSource {
public:
    std::vector<std::pair<std::string, bool>> songs{{"Adagio", false}, {"Bolero", false}, {"Canon", false}};
    std::function<void(std::size_t)> downloaded;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override {
        return static_cast<long>(songs.size());
    }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& table,
                                                           const NSIndexPath& path) override {
        auto cell = table->dequeueReusableCellWithIdentifier("Song");
        if (!cell) cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "Song");
        for (const auto& sub : cell->contentView()->subviews())
            if (std::dynamic_pointer_cast<UIButton>(sub)) sub->removeFromSuperview();
        const auto row = static_cast<std::size_t>(path.row);
        cell->textLabel()->setText(songs[row].first);
        if (!songs[row].second) {
            auto download = UIButton::buttonWithType(UIButtonTypeSystem);
            download->setTitle("Download", UIControlStateNormal);
            download->setFrame(CGRectMake(250, 0, 100, 44));
            std::weak_ptr<Songs> weak = std::static_pointer_cast<Songs>(shared_from_this());
            download->addTarget(nullptr, [weak, row](const std::shared_ptr<NSObject>&) {
                if (auto me = weak.lock(); me && me->downloaded) me->downloaded(row);
            }, UIControlEventTouchUpInside);
            cell->contentView()->addSubview(download);
        }
        return cell;
    }
};

// A page of a picture pager: the picture takes taps, as the picture screen's does; while it
// loads there is no picture to touch.
std::shared_ptr<UIViewController> picturePage(bool loaded) {
    auto page = UIViewController::make();
    page->view()->setBackgroundColor(UIColor::whiteColor());
    auto picture = UIView::initWithFrame(CGRectMake(0, 64, 375, 400));
    picture->addGestureRecognizer(UITapGestureRecognizer::make());
    setAccessibilityTraits(*picture, UIAccessibilityTraitImage);
    picture->setHidden(!loaded);
    page->view()->addSubview(picture);
    return page;
}

}  // namespace

TEST_F(SimNumberingTest, ABarsButtonsKeepTheirNumbersWhileTheBarsHideAndWhileAScreenLaidOverItComesAndGoes) {
    auto list = UIViewController::make();
    list->setTitle("Portraits");
    list->navigationItem()->setRightBarButtonItem(
        UIBarButtonItem::initWithTitle("Filter", UIBarButtonItemStylePlain, nullptr, nullptr));
    auto navigation = UINavigationController::initWithRootViewController(UIViewController::make());
    navigation->topViewController()->setTitle("Gallery");
    navigation->pushViewController(list, false);
    window->setRootViewController(navigation);
    session.settle();
    ASSERT_EQ(numberOf(screen(), "< Gallery"), 1) << screen();
    auto pager = std::make_shared<Pager>();
    navigation->pushViewController(pager, false);
    session.settle();

    const std::string first = screen();
    const int back = numberOf(first, "< Portraits"), like = numberOf(first, "Like"), about = numberOf(first, "button \"About\"");
    ASSERT_TRUE(back && like && about) << first;
    navigation->setNavigationBarHidden(true);
    EXPECT_EQ(numberOf(screen(), "< Portraits"), 0) << "the bars are hidden\n" << screen();
    navigation->setNavigationBarHidden(false);
    EXPECT_EQ(screen(), first);

    // A screen laid over it takes the lowest numbers; once it has gone, each control has its own again.
    auto sheet = UIViewController::make();
    sheet->view()->setBackgroundColor(UIColor::whiteColor());
    auto close = UIButton::buttonWithType(UIButtonTypeSystem);
    close->setTitle("Close", UIControlStateNormal);
    close->setFrame(CGRectMake(20, 100, 100, 44));
    sheet->view()->addSubview(close);
    pager->presentViewController(sheet, false, nullptr);
    session.settle();
    EXPECT_EQ(screen(), "[1] button \"Close\"\n");
    sheet->presentingViewController()->dismissViewControllerAnimated(false, nullptr);
    session.settle();
    EXPECT_EQ(screen(), first);

    EXPECT_EQ(run("back").message, "tapped [" + std::to_string(back) + "] < Portraits");
    EXPECT_EQ(numberOf(screen(), "< Gallery"), 1) << screen();
}

TEST_F(SimNumberingTest, AControlThatLeftKeepsItsNumberFromNewcomersWhileItsScreenShows) {
    auto songs = std::make_shared<Songs>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 64, 375, 300));
    table->setDataSource(songs);
    auto toolbar = UIToolbar::initWithFrame(CGRectMake(0, 623, 375, 44));
    root->view()->addSubview(table);
    root->view()->addSubview(toolbar);
    // A download done: the row loses its button and the toolbar gains a Trash button where the
    // downloads can be thrown away.
    songs->downloaded = [&](std::size_t row) {
        songs->songs[row].second = true;
        table->reloadData();
        toolbar->setItems({UIBarButtonItem::initWithTitle("Trash", UIBarButtonItemStylePlain, nullptr, nullptr)});
    };
    EXPECT_EQ(screen(), "[1] row \"Adagio\" \"Download\"\n  [2] button \"Download\"\n[3] row \"Bolero\" \"Download\"\n"
                        "  [4] button \"Download\"\n[5] row \"Canon\" \"Download\"\n  [6] button \"Download\"\n"
                        "-- toolbar: \n");
    EXPECT_EQ(run("tap 4").message, "tapped [4] button \"Download\"");
    // The rows keep theirs, whichever cell shows them now; Trash is new, and 4 is still the
    // button that went.
    EXPECT_EQ(screen(), "[1] row \"Adagio\" \"Download\"\n  [2] button \"Download\"\n[3] row \"Bolero\"\n"
                        "[5] row \"Canon\" \"Download\"\n  [6] button \"Download\"\n-- toolbar: [7] Trash  \n");
    const auto again = run("tap 4");
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.message, "there is no control numbered 4 on the screen (it shows 6 controls)");

    // Made anew in another order, the list keeps each row's number and its button's with it.
    std::swap(songs->songs[0], songs->songs[2]);
    table->reloadData();
    EXPECT_EQ(screen(), "[5] row \"Canon\" \"Download\"\n  [6] button \"Download\"\n[3] row \"Bolero\"\n"
                        "[1] row \"Adagio\" \"Download\"\n  [2] button \"Download\"\n-- toolbar: [7] Trash  \n");
}

TEST_F(SimNumberingTest, AButtonWhoseTitleChangesWhereItStandsKeepsItsNumberAndOnePutInItsPlaceDoesNot) {
    auto play = UIButton::buttonWithType(UIButtonTypeSystem);
    play->setTitle("Play", UIControlStateNormal);
    play->setFrame(CGRectMake(150, 300, 80, 44));
    auto next = UIButton::buttonWithType(UIButtonTypeSystem);
    next->setTitle("Next", UIControlStateNormal);
    next->setFrame(CGRectMake(250, 300, 80, 44));
    root->view()->addSubview(play);
    root->view()->addSubview(next);
    ASSERT_EQ(screen(), "[1] button \"Play\"\n[2] button \"Next\"\n");

    // Play becomes Pause and back: the one button a person taps again by the same number.
    play->setTitle("Pause", UIControlStateNormal);
    EXPECT_EQ(screen(), "[1] button \"Pause\"\n[2] button \"Next\"\n");
    play->setTitle("Play", UIControlStateNormal);
    EXPECT_EQ(screen(), "[1] button \"Play\"\n[2] button \"Next\"\n");

    // Another button put where Next was is another control: it takes a number of its own.
    next->removeFromSuperview();
    auto stop = UIButton::buttonWithType(UIButtonTypeSystem);
    stop->setTitle("Stop", UIControlStateNormal);
    stop->setFrame(CGRectMake(250, 300, 80, 44));
    root->view()->addSubview(stop);
    EXPECT_EQ(screen(), "[1] button \"Play\"\n[3] button \"Stop\"\n");
}

TEST_F(SimNumberingTest, APagersControlsKeepTheirNumbersAsThePageTurnsAndALikeCountChanges) {
    auto pages = UIPageViewController::initWithTransitionStyle(UIPageViewControllerTransitionStyle::Scroll,
                                                               UIPageViewControllerNavigationOrientation::Horizontal);
    auto pager = UIViewController::make();
    pager->setTitle("Leonardo da Vinci");
    pager->addChildViewController(pages);
    pager->view()->addSubview(pages->view());
    pages->didMoveToParentViewController(pager);
    // The like button is named for what it does and shows the picture's count beside it.
    auto like = UIButton::buttonWithType(UIButtonTypeCustom);
    setAccessibilityLabel(*like, "favorite");
    like->setTitle("2.3kk", UIControlStateNormal);
    like->sizeToFit();
    pager->navigationItem()->setRightBarButtonItem(UIBarButtonItem::initWithCustomView(like));
    window->setRootViewController(UINavigationController::initWithRootViewController(pager));
    pages->setViewControllers({picturePage(true)}, UIPageViewControllerNavigationDirection::Forward, false, nullptr);
    session.settle();
    const std::string first = screen();
    const int picture = numberOf(first, "picture");
    ASSERT_NE(picture, 0) << first;
    const int favorite = numberOf(first, "favorite (2.3kk)");
    ASSERT_NE(favorite, 0) << first;

    // The next picture has no likes yet.
    like->setTitle("", UIControlStateNormal);
    like->sizeToFit();
    pages->setViewControllers({picturePage(true)}, UIPageViewControllerNavigationDirection::Forward, false, nullptr);
    session.settle();
    EXPECT_EQ(numberOf(screen(), "picture"), picture) << screen();
    EXPECT_EQ(numberOf(screen(), "favorite"), favorite) << screen();

    // A slideshow turns to a picture still loading and puts up its pause button: the picture's
    // number is no newcomer's while the pager shows.
    pager->navigationItem()->setLeftBarButtonItem(
        UIBarButtonItem::initWithTitle("pause slideshow", UIBarButtonItemStylePlain, nullptr, nullptr));
    auto loading = picturePage(false);
    pages->setViewControllers({loading}, UIPageViewControllerNavigationDirection::Forward, false, nullptr);
    session.settle();
    const int pause = numberOf(screen(), "pause slideshow");
    EXPECT_NE(pause, 0) << screen();
    EXPECT_NE(pause, picture) << screen();
    loading->view()->subviews().front()->setHidden(false);
    EXPECT_EQ(numberOf(screen(), "picture"), picture) << screen();
    EXPECT_EQ(numberOf(screen(), "pause slideshow"), pause) << screen();
}

TEST_F(SimNumberingTest, AnOverlayThatFollowsAnotherTakesFreshNumbersWhileTheScreenUnderThemShows) {
    auto list = UIViewController::make();
    list->setTitle("Portraits");
    auto navigation = UINavigationController::initWithRootViewController(list);
    auto pager = std::make_shared<Pager>();
    navigation->pushViewController(pager, false);
    window->setRootViewController(navigation);
    session.settle();
    const int about = numberOf(screen(), "button \"About\"");
    ASSERT_NE(about, 0) << screen();

    // The menu's sheet; its Download HD lays a busy overlay with its Cancel on the window, and
    // the photo library's question comes when the overlay has gone, then the message that it is done.
    auto busy = UIView::initWithFrame(window->bounds());
    auto cancel = UIButton::buttonWithType(UIButtonTypeSystem);
    cancel->setTitle("Cancel", UIControlStateNormal);
    cancel->setFrame(CGRectMake(140, 300, 100, 44));
    busy->addSubview(cancel);
    auto sheet = UIAlertController::alertControllerWithTitle("", "", UIAlertControllerStyle::ActionSheet);
    sheet->addAction(UIAlertAction::actionWithTitle("Download HD", UIAlertActionStyle::Default,
                                                    [&](const auto&) { window->addSubview(busy); }));
    pager->presentViewController(sheet, false, nullptr);
    session.settle();
    const int download = numberOf(screen(), "Download HD");
    ASSERT_NE(download, 0) << screen();
    ASSERT_TRUE(run("tap Download HD").ok);
    const int stop = numberOf(screen(), "button \"Cancel\"");
    ASSERT_NE(stop, 0) << screen();
    EXPECT_NE(stop, download) << screen();

    busy->removeFromSuperview();
    auto question = UIAlertView::initWithTitle("Allow adding to your photos?", "", nullptr, "Don't Allow", {"Allow"});
    question->show();
    const std::string asked = screen();
    const int dontAllow = numberOf(asked, "Don't Allow"), allow = numberOf(asked, "Allow");
    ASSERT_TRUE(dontAllow && allow) << asked;
    for (const int taken : {download, stop, about}) {
        EXPECT_NE(dontAllow, taken) << asked;
        EXPECT_NE(allow, taken) << asked;
    }
    // A late tap meant for the overlay's Cancel reaches nothing.
    const auto late = run("tap " + std::to_string(stop));
    EXPECT_FALSE(late.ok);
    EXPECT_EQ(late.message, "there is no control numbered " + std::to_string(stop) + " on the screen (it shows 6 controls)");
    EXPECT_TRUE(question->isVisible());
    ASSERT_TRUE(run("tap Allow").ok);
    auto done = UIAlertView::initWithTitle("", "Complete", nullptr, "OK", {});
    done->show();
    const int ok = numberOf(screen(), "OK");
    for (const int taken : {download, stop, dontAllow, allow, about}) EXPECT_NE(ok, taken) << screen();
    ASSERT_TRUE(run("tap OK").ok);

    // Once the screen under them has gone, their numbers are free again.
    ASSERT_TRUE(run("back").ok);
    auto welcome = UIAlertView::initWithTitle("Welcome", "", nullptr, "Close", {});
    welcome->show();
    EXPECT_EQ(numberOf(screen(), "Close"), 1) << screen();
}

TEST_F(SimNumberingTest, APictureFadingOutStaysListedWithItsNumberAndDrawnUntilTheFadeEnds) {
    // A slideshow's page: the picture fades out, then the next one takes its place.
    auto page = picturePage(true);
    auto picture = page->view()->subviews().front();
    picture->setBackgroundColor(UIColor::redColor());
    root->addChildViewController(page);
    root->view()->addSubview(page->view());
    session.settle();
    ASSERT_EQ(numberOf(screen(), "picture"), 1) << screen();
    std::shared_ptr<UIViewController> next;
    UIView::animateWithDuration(0.3, [&] { page->view()->setAlpha(0); }, [&](bool) {
        page->view()->removeFromSuperview();
        next = picturePage(true);
        root->view()->addSubview(next->view());
    });
    ASSERT_TRUE(run("advance 0.15").ok);
    EXPECT_EQ(numberOf(screen(), "picture"), 1) << screen();
    EXPECT_EQ(run("tap 99").message, "there is no control numbered 99 on the screen (it shows 1 control)");
    // Drawn as far as the fade has gone: neither the whole red nor the white under it.
    const std::string shot = Sandbox::tmp() + "/fading.png";
    ASSERT_TRUE(run("shot " + shot).ok);
    auto drawn = UIImage::imageWithContentsOfFile(shot);
    ASSERT_TRUE(drawn);
    const auto half = shotRGB(*drawn, 187, 250);
    EXPECT_EQ(half[0], 255);
    EXPECT_GT(half[1], 60);
    EXPECT_LT(half[1], 195);

    ASSERT_TRUE(run("advance 0.15").ok);
    ASSERT_TRUE(next);
    EXPECT_EQ(numberOf(screen(), "picture"), 1) << screen();
}

TEST_F(SimNumberingTest, AControlBackFromAPartOfTheScreenThatWasAwayTakesItsNumberBackFromAnOverlay) {
    // A menu that comes and goes over part of a screen, and a button of the screen's own.
    auto button = [](const std::string& title, CGFloat y) {
        auto made = UIButton::buttonWithType(UIButtonTypeSystem);
        made->setTitle(title, UIControlStateNormal);
        made->setFrame(CGRectMake(20, y, 200, 44));
        return made;
    };
    auto menu = UIViewController::make();
    menu->view()->setFrame(CGRectMake(0, 64, 250, 400));
    menu->view()->addSubview(button("Gallery", 36));
    menu->view()->addSubview(button("Music", 86));
    root->addChildViewController(menu);
    root->view()->addSubview(menu->view());
    root->view()->addSubview(button("Songs", 600));
    const std::string open = "[1] button \"Gallery\"\n[2] button \"Music\"\n[3] button \"Songs\"\n";
    ASSERT_EQ(screen(), open);

    // While the menu is away, an alert takes a number the menu had.
    menu->view()->setHidden(true);
    auto named = UIAlertView::initWithTitle("New Playlist", "", nullptr, "OK", {});
    named->show();
    const std::string asked = screen();
    ASSERT_EQ(numberOf(asked, "OK"), 1) << asked;
    ASSERT_TRUE(run("tap OK").ok);

    menu->view()->setHidden(false);
    EXPECT_EQ(screen(), open);
}
