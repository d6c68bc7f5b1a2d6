// Search controllers: typing in the bar reaches the results updater, activation and
// deactivation call the delegate in order, and a released updater is never called.
#include "platform/ui/UISearchController.h"

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
