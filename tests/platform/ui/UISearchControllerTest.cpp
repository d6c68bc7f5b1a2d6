// Search controllers: typing in the bar reaches the results updater, activation and
// deactivation call the delegate in order, and a released updater is never called. On screen
// the bar sits under a navigation bar and takes its place while searching, the search lies over
// the screen searched, and what an active search presents shows in its window.
#include "platform/ui/UISearchController.h"

#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Recorder : public UISearchResultsUpdating, public UISearchControllerDelegate {
public:
    std::vector<std::string> log;
    void updateSearchResultsForSearchController(const std::shared_ptr<UISearchController>& c) override {
        log.push_back("update:" + c->searchBar()->text());
    }
    void willPresentSearchController(const std::shared_ptr<UISearchController>& c) override {
        log.push_back(std::string("willPresent:") + (c->isActive() ? "active" : "inactive"));
    }
    void didPresentSearchController(const std::shared_ptr<UISearchController>&) override { log.push_back("didPresent"); }
    void willDismissSearchController(const std::shared_ptr<UISearchController>& c) override {
        log.push_back(std::string("willDismiss:") + (c->isActive() ? "active" : "inactive"));
    }
    void didDismissSearchController(const std::shared_ptr<UISearchController>&) override { log.push_back("didDismiss"); }
};

struct Fixture {
    std::shared_ptr<UISearchController> search = UISearchController::initWithSearchResultsController(nullptr);
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    Fixture() {
        search->setSearchResultsUpdater(recorder);
        search->setDelegate(recorder);
    }
    // Typing made the bar the first responder, which shows the keyboard.
    ~Fixture() { (void)search->searchBar()->resignFirstResponder(); }
};

using Log = std::vector<std::string>;

TEST(UISearchControllerTyping, EveryChangeOfTheBarReachesTheUpdaterWithTheText) {
    Fixture f;
    auto bar = f.search->searchBar();
    ASSERT_TRUE(bar->simulateTyping("ro"));
    // Beginning to edit activated the search, which refreshed from the still-empty text.
    EXPECT_TRUE(f.search->isActive());
    ASSERT_TRUE(bar->simulateTyping("se"));
    ASSERT_TRUE(bar->simulateReplaceText(""));
    EXPECT_EQ(f.recorder->log, (Log{"willPresent:inactive", "didPresent", "update:", "update:ro", "update:rose", "update:"}));
}

// A screen that makes itself the bar's delegate (for its cancel button) hears the bar too,
// and the search controller still follows the typing.
TEST(UISearchControllerTyping, AScreenDelegateOnTheBarDoesNotCutTheUpdaterOff) {
    struct ScreenDelegate : UISearchBarDelegate {
        std::vector<std::string> heard;
        void textDidChange(const std::shared_ptr<UISearchBar>&, const std::string& text) override {
            heard.push_back(text);
        }
    };
    Fixture f;
    auto bar = f.search->searchBar();
    auto screen = std::make_shared<ScreenDelegate>();
    bar->setDelegate(screen);
    ASSERT_TRUE(bar->simulateTyping("ro"));
    EXPECT_TRUE(f.search->isActive());
    EXPECT_EQ(screen->heard, (Log{"ro"}));
    EXPECT_EQ(f.recorder->log, (Log{"willPresent:inactive", "didPresent", "update:", "update:ro"}));
}

TEST(UISearchControllerTyping, CancelClearsTheTextAndEndsTheSearch) {
    Fixture f;
    auto bar = f.search->searchBar();
    bar->setShowsCancelButton(true);
    bar->simulateTyping("sea");
    f.recorder->log.clear();
    bar->simulateCancelButton();
    EXPECT_FALSE(f.search->isActive());
    EXPECT_EQ(bar->text(), "");
    EXPECT_FALSE(bar->isFirstResponder());
    EXPECT_EQ(f.recorder->log, (Log{"willDismiss:active", "didDismiss"}));
}

// Writes into a log that outlives it, so calls after its release would show.
class Outliving : public UISearchResultsUpdating {
public:
    explicit Outliving(std::vector<std::string>& log) : log_(log) {}
    void updateSearchResultsForSearchController(const std::shared_ptr<UISearchController>& c) override {
        log_.push_back(c->searchBar()->text());
    }

private:
    std::vector<std::string>& log_;
};

TEST(UISearchControllerTyping, AReleasedUpdaterIsNeverCalled) {
    std::vector<std::string> log;
    auto search = UISearchController::initWithSearchResultsController(nullptr);
    auto updater = std::make_shared<Outliving>(log);
    search->setSearchResultsUpdater(updater);
    auto bar = search->searchBar();
    bar->simulateTyping("a");
    EXPECT_EQ(log, (Log{"", "a"}));
    updater.reset();
    EXPECT_EQ(search->searchResultsUpdater(), nullptr);
    EXPECT_TRUE(bar->simulateTyping("b"));
    search->setActive(false);
    search->setActive(true);
    EXPECT_EQ(log, (Log{"", "a"}));
    EXPECT_EQ(bar->text(), "ab");
}

TEST(UISearchControllerActivation, ActiveAndInactiveCallTheDelegateInOrderOnceEach) {
    Fixture f;
    f.search->setActive(true);
    f.search->setActive(true);
    EXPECT_TRUE(f.search->isActive());
    f.search->setActive(false);
    f.search->setActive(false);
    EXPECT_FALSE(f.search->isActive());
    EXPECT_EQ(f.recorder->log,
              (Log{"willPresent:inactive", "didPresent", "update:", "willDismiss:active", "didDismiss"}));
}

class Reentrant : public UISearchControllerDelegate {
public:
    int presents = 0;
    void willPresentSearchController(const std::shared_ptr<UISearchController>& c) override {
        ++presents;
        c->setActive(true);
    }
};

TEST(UISearchControllerActivation, ADelegateActivatingFromItsCallbackDoesNotRestartTheSequence) {
    auto search = UISearchController::initWithSearchResultsController(nullptr);
    auto d = std::make_shared<Reentrant>();
    search->setDelegate(d);
    search->setActive(true);
    EXPECT_EQ(d->presents, 1);
    EXPECT_TRUE(search->isActive());
}

TEST(UISearchControllerActivation, TheResultsScreenIsAChildOnlyWhileActive) {
    auto results = UIViewController::make();
    auto search = UISearchController::initWithSearchResultsController(results);
    EXPECT_EQ(search->searchResultsController(), results);
    search->setActive(true);
    EXPECT_EQ(results->parentViewController(), search);
    EXPECT_EQ(results->view()->superview(), search->view());
    search->setActive(false);
    EXPECT_EQ(results->parentViewController(), nullptr);
    EXPECT_EQ(results->view()->superview(), nullptr);
    EXPECT_TRUE(search->childViewControllers().empty());
}

TEST(UISearchControllerSettings, PresentationSettingsDefaultOnAndTheTwoBackgroundNamesAgree) {
    auto search = UISearchController::initWithSearchResultsController(nullptr);
    EXPECT_TRUE(search->obscuresBackgroundDuringPresentation());
    EXPECT_TRUE(search->hidesNavigationBarDuringPresentation());
    search->setDimsBackgroundDuringPresentation(false);
    EXPECT_FALSE(search->obscuresBackgroundDuringPresentation());
    search->setObscuresBackgroundDuringPresentation(true);
    EXPECT_TRUE(search->dimsBackgroundDuringPresentation());
    search->setHidesNavigationBarDuringPresentation(false);
    EXPECT_FALSE(search->hidesNavigationBarDuringPresentation());
}

}  // namespace

// --- On screen: in a navigation bar's place and as a table's header ---------------------------

namespace {

class UISearchControllerOnScreen : public KeyWindowTest {
protected:
    void TearDown() override {
        if (auto responder = UIResponder::currentFirstResponder()) (void)responder->resignFirstResponder();
        KeyWindowTest::TearDown();
    }
    void settle() {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        window->layoutAndDisplayIfNeeded();
    }
    CGRect inWindow(const std::shared_ptr<UIView>& view) { return view->convertRectToView(view->bounds(), window); }
};

}  // namespace

TEST_F(UISearchControllerOnScreen, InANavigationBarsPlaceTheBarSitsUnderItAndTakesItsPlaceWhileSearching) {
    auto results = UIViewController::make();
    auto search = UISearchController::initWithSearchResultsController(results);
    auto screen = UIViewController::make();
    screen->navigationItem()->setSearchController(search);
    auto navigation = UINavigationController::initWithRootViewController(screen);
    window->setRootViewController(navigation);
    settle();

    auto bar = search->searchBar();
    const double top = window->safeAreaInsets().top;
    ASSERT_EQ(bar->superview(), navigation->view());
    EXPECT_EQ(inWindow(bar), CGRectMake(0, top + 44, window->bounds().size.width, 56));
    EXPECT_EQ(inWindow(screen->view()).origin.y, top + 44 + 56) << "the screen starts under the search bar";
    EXPECT_FALSE(bar->showsCancelButton());

    // Searching: the navigation bar gives way, the search bar moves to the top with its cancel
    // button, and the search lies over the screen, empty until something is typed.
    ASSERT_TRUE(bar->becomeFirstResponder());
    settle();
    EXPECT_TRUE(search->isActive());
    EXPECT_TRUE(navigation->navigationBar()->isHidden());
    EXPECT_EQ(inWindow(bar).origin.y, top);
    EXPECT_EQ(inWindow(screen->view()).origin.y, top + 56);
    EXPECT_TRUE(bar->showsCancelButton());
    ASSERT_EQ(search->view()->superview(), screen->view());
    EXPECT_EQ(inWindow(search->view()), inWindow(screen->view()));
    EXPECT_TRUE(search->view()->isHidden());
    ASSERT_TRUE(bar->simulateTyping("Night"));
    EXPECT_FALSE(search->view()->isHidden());
    EXPECT_EQ(results->view()->superview(), search->view());

    // Another screen pushed takes the search bar away with the searched screen; back, both return.
    auto next = UIViewController::make();
    navigation->pushViewController(next, false);
    settle();
    EXPECT_EQ(bar->superview(), nullptr);
    EXPECT_FALSE(navigation->navigationBar()->isHidden());
    EXPECT_EQ(inWindow(next->view()).origin.y, top + 44);
    navigation->popViewControllerAnimated(false);
    settle();
    EXPECT_EQ(bar->superview(), navigation->view());
    EXPECT_EQ(inWindow(bar).origin.y, top);

    // Cancel ends the search: the bar is back under the navigation bar, the search's view gone.
    bar->simulateCancelButton();
    settle();
    EXPECT_FALSE(search->isActive());
    EXPECT_FALSE(navigation->navigationBar()->isHidden());
    EXPECT_EQ(inWindow(bar).origin.y, top + 44);
    EXPECT_EQ(inWindow(screen->view()).origin.y, top + 44 + 56);
    EXPECT_EQ(search->viewIfLoaded()->superview(), nullptr);
    EXPECT_FALSE(bar->showsCancelButton());
    EXPECT_EQ(bar->text(), "");
}

TEST_F(UISearchControllerOnScreen, AnActiveSearchInATableHeaderPresentsOverItsWindow) {
    auto search = UISearchController::initWithSearchResultsController(nullptr);
    auto table = UITableView::initWithFrame(root->view()->bounds(), UITableViewStylePlain);
    root->view()->addSubview(table);
    table->setTableHeaderView(search->searchBar());
    settle();
    EXPECT_EQ(search->searchBar()->frame(), CGRectMake(0, 0, table->bounds().size.width, 56));

    ASSERT_TRUE(search->searchBar()->becomeFirstResponder());
    EXPECT_TRUE(search->isActive());
    EXPECT_TRUE(search->isVisible());
    ASSERT_EQ(search->view()->superview(), root->view());
    EXPECT_TRUE(search->view()->isHidden()) << "no results screen: the table shows the matches";

    // What the active search presents is shown in the window and appears.
    auto shown = UIViewController::make();
    search->presentViewController(shown, false, nullptr);
    settle();
    EXPECT_EQ(search->presentedViewController(), shown);
    EXPECT_EQ(shown->view()->window(), window);
    EXPECT_TRUE(shown->isVisible());
    search->dismissViewControllerAnimated(false, nullptr);
    settle();
    EXPECT_EQ(shown->viewIfLoaded()->window(), nullptr);

    search->setActive(false);
    EXPECT_FALSE(search->isVisible());
    EXPECT_EQ(search->view()->superview(), nullptr);
}
