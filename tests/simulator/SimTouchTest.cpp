// What a person does beyond a plain tap, in process: a row swiped to the left offers its
// deletion and the offer deletes it; an edited list shows its delete controls and grips, and
// `move` drags a row onto another's place. While an alert is up every tap and key meant for
// what lies under it is refused, naming the alert's buttons. A control keeps its number while
// it stays on the screen. A view that takes taps is named by what it says it is, a picture by its
// file's name. A field is cleared and typed anew, and a text view takes typing; bytes that are no
// text are typed as U+FFFD, as no keyboard types them, and the run says so. While
// a person's session waits, the clock follows real time; a script's stands still. Remote-control
// presses reach the application as the system hands them over, and a link can start it. `back`
// is a finger on the back button: where none can be touched, nothing goes back. In the
// background the screen shows none of the application, and nothing of it is touched.
#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UICollectionViewCell.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UITextView.h"
#include "simulator/SimCommand.h"
#include "simulator/SimRenderer.h"
#include "tests/simulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

class Playlist : public NSObject, public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<std::string> tracks{"Adagio", "Bolero", "Canon"};
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override {
        return static_cast<long>(tracks.size());
    }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath& path) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "");
        cell->textLabel()->setText(tracks[static_cast<std::size_t>(path.row)]);
        return cell;
    }
    bool respondsToCommitEditingStyle() const override { return true; }
    bool respondsToMoveRow() const override { return true; }
    void commitEditingStyle(const std::shared_ptr<UITableView>& table, UITableViewCellEditingStyle,
                            const NSIndexPath& path) override {
        tracks.erase(tracks.begin() + path.row);
        table->deleteRowsAtIndexPaths({path}, UITableViewRowAnimationFade);
    }
    void moveRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& from, const NSIndexPath& to) override {
        const std::string track = tracks[static_cast<std::size_t>(from.row)];
        tracks.erase(tracks.begin() + from.row);
        tracks.insert(tracks.begin() + to.row, track);
    }
};

// The application's delegate as far as these tests need it: what it was launched with and the
// remote-control presses that reached it.
class Listener : public UIResponder, public UIApplicationDelegate {
public:
    Value::Dictionary options;
    std::vector<UIEventSubtype> remote;
    bool applicationDidFinishLaunchingWithOptions(UIApplication&, const Value::Dictionary& launchOptions) override {
        options = launchOptions;
        return true;
    }
    void remoteControlReceivedWithEvent(const std::shared_ptr<UIEvent>& event) override {
        remote.push_back(event->subtype());
    }
};

using SimTouchTest = SimSessionTest;

TEST_F(SimTouchTest, ASwipedRowIsDeletedByItsOfferAndAnEditedListMovesItsRows) {
    auto playlist = std::make_shared<Playlist>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 64, 375, 300));
    table->setDataSource(playlist);
    table->setDelegate(playlist);
    root->view()->addSubview(table);
    auto edit = UIButton::buttonWithType(UIButtonTypeSystem);
    edit->setTitle("Edit", UIControlStateNormal);
    edit->setFrame(CGRectMake(300, 20, 60, 44));
    std::weak_ptr<UITableView> weak = table;
    edit->addTarget(nullptr, [weak](const std::shared_ptr<NSObject>&) {
        if (auto t = weak.lock()) t->setEditing(!t->isEditing(), true);
    }, UIControlEventTouchUpInside);
    root->view()->addSubview(edit);

    EXPECT_EQ(screen(), "[1] button \"Edit\"\n[2] row \"Adagio\"\n[3] row \"Bolero\"\n[4] row \"Canon\"\n");
    ASSERT_TRUE(run("swipe Bolero left").ok);
    // The offer is new on the screen: it takes the lowest number free, the rows keep theirs.
    EXPECT_EQ(screen(), "[1] button \"Edit\"\n[2] row \"Adagio\"\n[3] row \"Bolero\"\n  [5] button \"Delete\"\n"
                        "[4] row \"Canon\"\n");
    EXPECT_EQ(run("tap Delete").message, "tapped [5] button \"Delete\"");
    EXPECT_EQ(playlist->tracks, (std::vector<std::string>{"Adagio", "Canon"}));
    EXPECT_EQ(screen(), "[1] button \"Edit\"\n[2] row \"Adagio\"\n[4] row \"Canon\"\n");

    // Not while the list is only shown.
    auto early = run("move Adagio to Canon");
    EXPECT_FALSE(early.ok);
    EXPECT_EQ(early.message,
              "[2] row \"Adagio\" cannot be moved now: a list shows its rows' reorder controls while it is edited");

    // The numbers of the deleted row and its offer stay theirs while the list shows: a 3 or a 5
    // typed now meant them, and reaches nothing rather than something new.
    ASSERT_TRUE(run("tap Edit").ok);
    EXPECT_EQ(screen(), "[1] button \"Edit\"\n[2] row \"Adagio\" (movable)\n  [6] button \"\u2212\"\n"
                        "[4] row \"Canon\" (movable)\n  [7] button \"\u2212\"\n");
    EXPECT_FALSE(run("tap 3").ok);
    EXPECT_EQ(run("move 2 to 4").message, "moved [2] row \"Adagio\" (movable) to the place of [4] row \"Canon\" (movable)");
    EXPECT_EQ(playlist->tracks, (std::vector<std::string>{"Canon", "Adagio"}));
    // Each row took its controls and their numbers along.
    EXPECT_EQ(screen(), "[1] button \"Edit\"\n[4] row \"Canon\" (movable)\n  [7] button \"\u2212\"\n"
                        "[2] row \"Adagio\" (movable)\n  [6] button \"\u2212\"\n");
    // The delete control asks; the offer deletes.
    ASSERT_TRUE(run("tap 6").ok);
    EXPECT_NE(screen().find("[2] row \"Adagio\" (movable)\n  [6] button \"\u2212\"\n  [8] button \"Delete\"\n"),
              std::string::npos)
        << screen();
    ASSERT_TRUE(run("tap 8").ok);
    EXPECT_EQ(playlist->tracks, std::vector<std::string>{"Canon"});

    EXPECT_EQ(SimCommand::parse("move 3").kind, SimCommand::Kind::Invalid);
    // A row onto its own place does not move.
    const auto stays = run("move 4 to 4");
    EXPECT_FALSE(stays.ok);
    EXPECT_EQ(stays.message, "[4] row \"Canon\" (movable) is in that place already: nothing moved");
    EXPECT_EQ(playlist->tracks, std::vector<std::string>{"Canon"});
    const auto byText = SimCommand::parse("move \"Night Watch\" to Milkmaid");
    EXPECT_EQ(byText.target, "Night Watch");
    EXPECT_EQ(byText.destination, "Milkmaid");
}

TEST_F(SimTouchTest, WhileAnAlertIsUpTapsAndKeysMeantForWhatIsUnderItAreRefused) {
    int taps = 0;
    auto count = UIButton::buttonWithType(UIButtonTypeSystem);
    count->setTitle("Count", UIControlStateNormal);
    count->setFrame(CGRectMake(20, 80, 120, 44));
    count->addTarget(nullptr, [&taps](const std::shared_ptr<NSObject>&) { ++taps; }, UIControlEventTouchUpInside);
    root->view()->addSubview(count);
    auto bar = UISearchBar::make();
    bar->setFrame(CGRectMake(0, 140, 375, 56));
    root->view()->addSubview(bar);
    // Beneath the alert, a button showing the same text as one of the alert's.
    int beneath = 0;
    auto yes = UIButton::buttonWithType(UIButtonTypeSystem);
    yes->setTitle("Yes", UIControlStateNormal);
    yes->setFrame(CGRectMake(20, 600, 120, 44));
    yes->addTarget(nullptr, [&beneath](const std::shared_ptr<NSObject>&) { ++beneath; }, UIControlEventTouchUpInside);
    root->view()->addSubview(yes);
    ASSERT_TRUE(run("tap search").ok);
    ASSERT_TRUE(bar->isFirstResponder());

    bool answered = false;
    auto alert = UIAlertController::alertControllerWithTitle("Reset the count?", "", UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle("Yes", UIAlertActionStyle::Default,
                                                    [&answered](const std::shared_ptr<UIAlertAction>&) { answered = true; }));
    alert->addAction(UIAlertAction::actionWithTitle("No", UIAlertActionStyle::Cancel, nullptr));
    root->presentViewController(alert, false, nullptr);
    session.settle();
    const std::string shown = screen();
    ASSERT_NE(shown.find("== alert: Reset the count? ==\n  [4] Yes\n  [5] No\n"), std::string::npos) << shown;

    const std::string refusal = "an alert is up (\"Reset the count?\"): answer it first with one of its buttons: "
                                "[4] Yes, [5] No";
    auto tapped = run("tap Count");
    EXPECT_FALSE(tapped.ok);
    EXPECT_EQ(tapped.message, refusal);
    EXPECT_EQ(taps, 0);
    auto typed = run("type Vermeer");
    EXPECT_FALSE(typed.ok);
    EXPECT_EQ(typed.message, refusal);
    EXPECT_EQ(bar->text(), "");

    EXPECT_FALSE(run("tap 3").ok) << "the Yes beneath it";
    // A text the alert shows means the alert's button.
    EXPECT_EQ(run("tap Yes").message, "tapped [4] Yes");
    EXPECT_TRUE(answered);
    EXPECT_EQ(beneath, 0);
    ASSERT_TRUE(run("tap Count").ok);
    EXPECT_EQ(taps, 1);
}

// Compositions, each with a Download button until it is downloaded.
class Catalogue : public NSObject, public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<std::pair<std::string, bool>> compositions{{"Adagio", false}, {"Bolero", false}, {"Canon", false}};
    std::vector<std::string> downloads;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override {
        return static_cast<long>(compositions.size());
    }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& table,
                                                           const NSIndexPath& path) override {
        // Reused cells, as a list made anew hands them out in another order.
        auto cell = table->dequeueReusableCellWithIdentifier("Row");
        if (!cell) cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "Row");
        for (const auto& sub : cell->contentView()->subviews())
            if (std::dynamic_pointer_cast<UIButton>(sub)) sub->removeFromSuperview();
        const auto& [title, downloaded] = compositions[static_cast<std::size_t>(path.row)];
        cell->textLabel()->setText(title);
        if (!downloaded) {
            auto download = UIButton::buttonWithType(UIButtonTypeSystem);
            download->setTitle("Download", UIControlStateNormal);
            download->setFrame(CGRectMake(250, 0, 100, 44));
            std::weak_ptr<Catalogue> weak = std::static_pointer_cast<Catalogue>(shared_from_this());
            const std::string name = title;
            download->addTarget(nullptr, [weak, name](const std::shared_ptr<NSObject>&) {
                if (auto me = weak.lock()) me->downloads.push_back(name);
            }, UIControlEventTouchUpInside);
            cell->contentView()->addSubview(download);
        }
        return cell;
    }
};

TEST_F(SimTouchTest, ControlsKeepTheirNumbersWhileTheyAreOnTheScreen) {
    auto catalogue = std::make_shared<Catalogue>();
    auto table = UITableView::initWithFrame(CGRectMake(0, 64, 375, 300));
    table->setDataSource(catalogue);
    root->view()->addSubview(table);
    EXPECT_EQ(screen(), "[1] row \"Adagio\" \"Download\"\n  [2] button \"Download\"\n[3] row \"Bolero\" \"Download\"\n"
                        "  [4] button \"Download\"\n[5] row \"Canon\" \"Download\"\n  [6] button \"Download\"\n");
    // Adagio finishes downloading and the list is made anew: the rest keep their numbers.
    catalogue->compositions[0].second = true;
    table->reloadData();
    EXPECT_EQ(screen(), "[1] row \"Adagio\"\n[3] row \"Bolero\" \"Download\"\n  [4] button \"Download\"\n"
                        "[5] row \"Canon\" \"Download\"\n  [6] button \"Download\"\n");
    EXPECT_EQ(run("tap 4").message, "tapped [4] button \"Download\"");
    EXPECT_EQ(catalogue->downloads, std::vector<std::string>{"Bolero"});
    auto gone = run("tap 2");
    EXPECT_FALSE(gone.ok);
    EXPECT_EQ(gone.message, "there is no control numbered 2 on the screen (it shows 5 controls)");

    // Something new on the same screen takes the lowest number no control there had: the 2 of
    // the button that left could still be meant.
    auto help = UIButton::buttonWithType(UIButtonTypeSystem);
    help->setTitle("Help", UIControlStateNormal);
    help->setFrame(CGRectMake(20, 400, 100, 44));
    root->view()->addSubview(help);
    EXPECT_NE(screen().find("[7] button \"Help\""), std::string::npos) << screen();

    // A screen of its own starts from 1 again.
    auto next = UIViewController::make();
    next->view()->setBackgroundColor(UIColor::whiteColor());
    auto done = UIButton::buttonWithType(UIButtonTypeSystem);
    done->setTitle("Done", UIControlStateNormal);
    done->setFrame(CGRectMake(20, 100, 100, 44));
    next->view()->addSubview(done);
    root->presentViewController(next, false, nullptr);
    session.settle();
    EXPECT_EQ(screen(), "[1] button \"Done\"\n");
    root->dismissViewControllerAnimated(false, nullptr);
}

TEST_F(SimTouchTest, ImageButtonsAndPictureCellsAreListedByTheirNamesNeverByTheirFiles) {
    auto picture = UIImage::imageWithPixels(std::vector<std::uint8_t>(22 * 22 * 4, 90), 22, 22, 1);
    auto search = UIButton::buttonWithType(UIButtonTypeCustom);
    search->setImage(picture, UIControlStateNormal);
    search->setFrame(CGRectMake(20, 80, 44, 44));
    setAccessibilityLabel(*search, "search");
    root->view()->addSubview(search);
    auto unnamed = UIButton::buttonWithType(UIButtonTypeCustom);
    unnamed->setImage(picture, UIControlStateNormal);
    unnamed->setFrame(CGRectMake(100, 80, 44, 44));
    root->view()->addSubview(unnamed);
    // A count beside the name.
    auto likes = UIButton::buttonWithType(UIButtonTypeCustom);
    likes->setImage(picture, UIControlStateNormal);
    likes->setTitle("12", UIControlStateNormal);
    likes->setFrame(CGRectMake(180, 80, 80, 44));
    setAccessibilityLabel(*likes, "favorite");
    root->view()->addSubview(likes);
    auto cell = std::make_shared<UICollectionViewCell>(CGRectMake(20, 140, 100, 100));
    auto thumbnail = UIImageView::initWithFrame(cell->bounds());
    thumbnail->setImage(picture);
    cell->addSubview(thumbnail);
    setAccessibilityLabel(*cell, "The Milkmaid");
    root->view()->addSubview(cell);

    EXPECT_EQ(screen(), "[1] button \"search\"\n[2] button \"image\"\n[3] button \"favorite (12)\"\n"
                        "[4] cell \"The Milkmaid\"\n");
    EXPECT_EQ(run("tap favorite").message, "tapped [3] button \"favorite (12)\"");
    EXPECT_EQ(run("tap Milkmaid").message, "tapped [4] cell \"The Milkmaid\"");
}

TEST_F(SimTouchTest, AViewTakingTapsIsNamedByWhatItSaysItIsAndAPictureByItsFilesName) {
    // A picture from a file deep in the home, as a painting is.
    std::vector<std::uint8_t> px(20 * 20 * 4, 255);
    const std::string file = Sandbox::tmp() + "/p0023.jpg";
    const NSData png = UIImagePNGRepresentation(UIImage::imageWithPixels(px, 20, 20, 1));
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
    auto page = UIView::initWithFrame(CGRectMake(0, 64, 375, 200));
    page->addGestureRecognizer(UITapGestureRecognizer::make());
    setAccessibilityTraits(*page, UIAccessibilityTraitImage);
    auto painting = UIImageView::initWithImage(UIImage::imageWithContentsOfFile(file));
    painting->setFrame(page->bounds());
    page->addSubview(painting);
    root->view()->addSubview(page);
    // One that closes something, and one that says nothing of itself.
    auto beside = UIView::initWithFrame(CGRectMake(0, 300, 375, 100));
    beside->addGestureRecognizer(UITapGestureRecognizer::make());
    setAccessibilityTraits(*beside, UIAccessibilityTraitButton);
    setAccessibilityLabel(*beside, "close menu");
    root->view()->addSubview(beside);
    auto plain = UIView::initWithFrame(CGRectMake(0, 450, 375, 100));
    plain->addGestureRecognizer(UITapGestureRecognizer::make());
    root->view()->addSubview(plain);

    EXPECT_EQ(screen(), "[1] picture\n  image p0023.jpg\n[2] button \"close menu\"\n[3] area\n");
    EXPECT_EQ(run("tap picture").message, "tapped [1] picture");
    EXPECT_EQ(run("tap close menu").message, "tapped [2] button \"close menu\"");
}

TEST_F(SimTouchTest, AFieldIsClearedAndTypedAnewAndATextViewTakesTyping) {
    auto address = UITextField::make();
    address->setFrame(CGRectMake(20, 80, 300, 31));
    address->setPlaceholder("Your e-mail");
    root->view()->addSubview(address);
    auto note = UITextView::initWithFrame(CGRectMake(20, 140, 300, 88));
    root->view()->addSubview(note);
    auto bar = UISearchBar::make();
    bar->setFrame(CGRectMake(0, 260, 375, 56));
    root->view()->addSubview(bar);

    ASSERT_TRUE(run("type @1 ada@exmaple.org").ok);
    EXPECT_EQ(address->text(), "ada@exmaple.org");
    ASSERT_TRUE(run("clear").ok);
    EXPECT_EQ(address->text(), "");
    ASSERT_TRUE(run("type ada@example.org").ok);
    EXPECT_EQ(address->text(), "ada@example.org");

    EXPECT_NE(screen().find("[2] text \"\""), std::string::npos) << screen();
    ASSERT_TRUE(run("tap text").ok);
    EXPECT_TRUE(note->isFirstResponder());
    ASSERT_TRUE(run("type Dear Ada,").ok);
    EXPECT_EQ(note->text(), "Dear Ada,");
    EXPECT_NE(screen().find("[2] text \"Dear Ada,\" (typing)"), std::string::npos) << screen();

    ASSERT_TRUE(run("type @3 Vermer").ok);
    EXPECT_EQ(bar->text(), "Vermer");
    ASSERT_TRUE(run("clear 3").ok);
    EXPECT_EQ(bar->text(), "");
    EXPECT_EQ(SimCommand::parse("clear").kind, SimCommand::Kind::Clear);
}

TEST_F(SimTouchTest, BytesThatAreNoTextAreTypedAsReplacementCharactersAndSaidSo) {
    auto name = UITextField::make();
    name->setFrame(CGRectMake(20, 80, 300, 31));
    root->view()->addSubview(name);
    auto bar = UISearchBar::make();
    bar->setFrame(CGRectMake(0, 260, 375, 56));
    root->view()->addSubview(bar);
    const std::string replacement = "\xEF\xBF\xBD";

    const auto one = run("type @1 Even\xFFing");
    ASSERT_TRUE(one.ok) << one.message;
    EXPECT_EQ(name->text(), "Even" + replacement + "ing");
    EXPECT_EQ(one.message, "typed U+FFFD in place of 1 byte that is no UTF-8 (a keyboard types only text)");
    // A surrogate encoded on its own is three bytes that start no character; text typed as
    // it is says nothing.
    ASSERT_TRUE(run("clear").ok);
    const auto lone = run("type \xED\xA0\x80 \xF0\x9F\x8E\xBB");
    EXPECT_EQ(name->text(), replacement + replacement + replacement + " \xF0\x9F\x8E\xBB");
    EXPECT_EQ(lone.message, "typed U+FFFD in place of each of 3 bytes that are no UTF-8 (a keyboard types only text)");
    EXPECT_TRUE(NSString::isValidUTF8(name->text()));
    const auto plain = run("type " + replacement);
    EXPECT_TRUE(plain.ok);
    EXPECT_EQ(plain.message, "");

    ASSERT_TRUE(run("type @2 Verm\xC3").ok);
    EXPECT_EQ(bar->text(), "Verm" + replacement);
}

TEST_F(SimTouchTest, RemotePressesReachTheApplicationWhileItTakesThem) {
    auto listener = std::make_shared<Listener>();
    auto application = UIApplication::sharedApplication();
    application->setDelegate(listener);
    const auto next = run("remote next");
    EXPECT_TRUE(next.ok);
    EXPECT_EQ(next.message, "the application does not take remote-control events now, so next did nothing");
    EXPECT_TRUE(listener->remote.empty());

    application->beginReceivingRemoteControlEvents();
    for (const char* press : {"remote play", "remote pause", "remote toggle", "remote next", "remote previous"}) {
        const auto r = run(press);
        EXPECT_TRUE(r.ok) << press;
        EXPECT_EQ(r.message, "") << press;
    }
    EXPECT_EQ(listener->remote,
              (std::vector<UIEventSubtype>{UIEventSubtype::RemoteControlPlay, UIEventSubtype::RemoteControlPause,
                                           UIEventSubtype::RemoteControlTogglePlayPause,
                                           UIEventSubtype::RemoteControlNextTrack,
                                           UIEventSubtype::RemoteControlPreviousTrack}));
    application->endReceivingRemoteControlEvents();
    EXPECT_EQ(SimCommand::parse("remote stop").kind, SimCommand::Kind::Invalid);
    EXPECT_EQ(SimCommand::parse("remote").error, "remote takes play, pause, toggle, next or previous");
}

TEST_F(SimTouchTest, WhileAPersonsSessionWaitsTheClockFollowsRealTimeAndAScriptsStandsStill) {
    bool fired = false;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(0.2, false, [&fired](const std::shared_ptr<NSTimer>&) { fired = true; });
    const double start = Clock::now();
    // A script's wait: real time passes, the clock does not.
    const auto scriptWait = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    session.runUntilInput([&] { return std::chrono::steady_clock::now() >= scriptWait; });
    EXPECT_FALSE(fired);
    EXPECT_EQ(Clock::now(), start);

    // A person's: the timer comes due as real time passes; bounded, in case it never does.
    session.setClockFollowsRealTime(true);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    session.runUntilInput([&] { return fired || std::chrono::steady_clock::now() >= giveUp; });
    ASSERT_TRUE(fired);
    EXPECT_GE(Clock::now(), start + 0.2);
    timer->invalidate();
}

TEST_F(SimTouchTest, ALinkStartsTheApplicationWithItsURLInTheLaunchOptions) {
    auto listener = std::make_shared<Listener>();
    ClassRegistry::registerClass("SimTouchLinkDelegate", [listener] { return listener; });
    SimSession launched{false};
    ASSERT_TRUE(launched.launch("SimTouchLinkDelegate", "gallery://paintings?utm_source=mail"));
    EXPECT_EQ(listener->options.get(UIApplicationLaunchOptionsURLKey).string(), "gallery://paintings?utm_source=mail");
    ClassRegistry::unregisterClass("SimTouchLinkDelegate");
}

// What the buttons the platform draws itself were told.
class Answers : public NSObject, public UIAlertViewDelegate, public UISearchBarDelegate {
public:
    std::vector<std::string> seen;
    void alertViewClickedButtonAtIndex(UIAlertView& alert, long index) override {
        seen.push_back(alert.buttonTitleAtIndex(index));
    }
    void searchBarCancelButtonClicked(const std::shared_ptr<UISearchBar>&) override { seen.push_back("cancel"); }
    void item(const std::shared_ptr<NSObject>& sender) {
        seen.push_back(std::static_pointer_cast<UIBarButtonItem>(sender)->displayTitle());
    }
    void covered(const std::shared_ptr<UITapGestureRecognizer>&) { seen.push_back("cover"); }
};

TEST_F(SimTouchTest, BarButtonsTheBackButtonAnAlertViewsButtonsAndCancelAreTouchedWhereTheyShow) {
    auto answers = std::make_shared<Answers>();
    auto first = UIViewController::make();
    first->setTitle("Paintings");
    auto second = UIViewController::make();
    second->setTitle("Vermeer");
    auto navigation = UINavigationController::initWithRootViewController(first);
    navigation->pushViewController(second, false);
    auto action = [weak = std::weak_ptr<Answers>(answers)](const std::shared_ptr<NSObject>& sender) {
        if (auto me = weak.lock()) me->item(sender);
    };
    second->navigationItem()->setRightBarButtonItem(
        UIBarButtonItem::initWithTitle("Share", UIBarButtonItemStylePlain, answers, action));
    second->setToolbarItems({UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemPlay, answers, action)});
    navigation->setToolbarHidden(false);
    auto bar = UISearchBar::make();
    bar->setFrame(CGRectMake(0, 0, 375, 56));
    bar->setShowsCancelButton(true);
    bar->setDelegate(answers);
    second->view()->addSubview(bar);
    window->setRootViewController(navigation);
    session.settle();
    EXPECT_EQ(screen(), "== Vermeer ==\n  [1] < Paintings  | [2] Share  \n[3] search \"\"  [4] Cancel\n"
                        "-- toolbar: [5] Play  \n");

    EXPECT_EQ(run("tap Share").message, "tapped [2] Share");
    EXPECT_EQ(run("tap 5").message, "tapped [5] Play");
    EXPECT_EQ(run("tap Cancel").message, "tapped [4] Cancel");
    EXPECT_EQ(answers->seen, (std::vector<std::string>{"Share", "Play", "cancel"}));

    // Something laid over a button takes the touch meant for it.
    auto cover = UIView::initWithFrame(CGRectMake(200, 0, 175, 64));
    cover->addGestureRecognizer(UITapGestureRecognizer::initWithTarget(answers, &Answers::covered));
    window->addSubview(cover);
    ASSERT_TRUE(run("tap Share").ok);
    EXPECT_EQ(answers->seen.back(), "cover");
    cover->removeFromSuperview();

    auto alert = UIAlertView::initWithTitle("Welcome", "The gallery fetches pictures.", answers, "Close", {"Open"});
    alert->show();
    // The cover that has gone keeps its number while the screen it lay over shows.
    EXPECT_NE(screen().find("== alert: Welcome ==\n  The gallery fetches pictures.\n  [7] Close\n  [8] Open\n"),
              std::string::npos)
        << screen();
    EXPECT_FALSE(run("tap Share").ok) << "the alert takes every touch";
    EXPECT_EQ(run("tap Open").message, "tapped [8] Open");
    EXPECT_EQ(answers->seen.back(), "Open");
    EXPECT_FALSE(alert->isVisible());

    EXPECT_EQ(run("tap Paintings").message, "tapped [1] < Paintings");
    EXPECT_EQ(navigation->topViewController(), first);
}

TEST_F(SimTouchTest, BackTapsTheBackButtonAndGoesNowhereWhereAFingerCannotReachOne) {
    auto answers = std::make_shared<Answers>();
    auto first = UIViewController::make();
    first->setTitle("Paintings");
    auto second = UIViewController::make();
    second->setTitle("Vermeer");
    auto third = UIViewController::make();
    third->setTitle("The Milkmaid");
    auto navigation = UINavigationController::initWithRootViewController(first);
    navigation->pushViewController(second, false);
    navigation->pushViewController(third, false);
    window->setRootViewController(navigation);
    session.settle();

    EXPECT_EQ(run("back").message, "tapped [1] < Vermeer");
    ASSERT_EQ(navigation->topViewController(), second);

    // Something laid over the back button takes the finger: nothing goes back, and it says why.
    auto cover = UIView::initWithFrame(CGRectMake(0, 0, 120, 64));
    cover->addGestureRecognizer(UITapGestureRecognizer::initWithTarget(answers, &Answers::covered));
    window->addSubview(cover);
    auto refused = run("back");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message, "[1] < Paintings is covered: a finger there touches something else, so there is no going back");
    cover->removeFromSuperview();

    // A hidden bar hides its back button with it.
    navigation->setNavigationBarHidden(true);
    refused = run("back");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message, "the back button is not on the screen (its bar is hidden or covered), so there is no going back");
    navigation->setNavigationBarHidden(false);

    // A screen that hides its back button, or one presented on its own, is not left by `back`.
    second->navigationItem()->setHidesBackButton(true);
    refused = run("back");
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("there is no back button on the screen"), std::string::npos) << refused.message;
    second->navigationItem()->setHidesBackButton(false);
    auto presented = UIViewController::make();
    navigation->presentViewController(presented, false, nullptr);
    session.settle();
    EXPECT_FALSE(run("back").ok);
    EXPECT_EQ(navigation->presentedViewController(), presented);
    EXPECT_EQ(navigation->topViewController(), second);
    EXPECT_TRUE(answers->seen.empty()) << "nothing was touched";

    navigation->dismissViewControllerAnimated(false, nullptr);
    // An alert in front takes the finger first.
    auto alert = UIAlertController::alertControllerWithTitle("Saved", "", UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, nullptr));
    navigation->presentViewController(alert, false, nullptr);
    refused = run("back");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message.rfind("an alert is up (\"Saved\")", 0), 0u) << refused.message;
    ASSERT_TRUE(run("tap OK").ok);
    EXPECT_TRUE(run("back").ok);
    EXPECT_EQ(navigation->topViewController(), first);
}

}  // namespace

TEST_F(SimTouchTest, InTheBackgroundTheScreenShowsNoneOfTheApplicationAndNothingOfItIsTouched) {
    int taps = 0;
    auto count = UIButton::buttonWithType(UIButtonTypeSystem);
    count->setTitle("Count", UIControlStateNormal);
    count->setFrame(CGRectMake(20, 100, 80, 44));
    count->addTarget(nullptr, [&taps](const std::shared_ptr<NSObject>&) { ++taps; }, UIControlEventTouchUpInside);
    root->view()->addSubview(count);
    const std::string shown = screen();
    ASSERT_EQ(shown, "[1] button \"Count\"\n");

    const auto gone = run("background");
    EXPECT_TRUE(gone.ok);
    EXPECT_EQ(gone.message, "the application is now in the background");
    EXPECT_EQ(screen(), "(the application is in the background; foreground brings it back)\n");
    std::string error;
    std::vector<SimDrawnElement> drawn;
    ASSERT_TRUE(SimRenderer::write(Sandbox::tmp() + "/background.png", error, &drawn)) << error;
    EXPECT_TRUE(drawn.empty());
    for (const char* touch : {"tap 1", "tap Count", "type x", "swipe left", "back"}) {
        const auto refused = run(touch);
        EXPECT_FALSE(refused.ok) << touch;
        EXPECT_EQ(refused.message, "the application is in the background, so nothing of it is on the screen to touch "
                                   "(foreground brings it back)")
            << touch;
    }
    EXPECT_EQ(taps, 0);
    EXPECT_EQ(run("background").message, "already in the background");
    // Back, as it was, numbers and all.
    EXPECT_TRUE(run("foreground").ok);
    EXPECT_EQ(screen(), shown);
    EXPECT_EQ(run("tap 1").message, "tapped [1] button \"Count\"");
    EXPECT_EQ(taps, 1);
}
