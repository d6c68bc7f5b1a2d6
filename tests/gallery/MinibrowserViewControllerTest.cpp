// The in-app browser against pages of a loopback server: the spinner over its loads (a failed one
// included), a failed page with its reason, the page's title, Close only when presented, links
// that load in place or go to the system, schemes that go nowhere, and the script run after a load.
#include "gallery/MinibrowserViewController.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/net/NSURL.h"
#include "platform/net/URLTrustAnchors.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/web/WKWebLinkView.h"
#include "platform/web/WKWebView.h"
#include "simulator/SimScreen.h"
#include "tests/fixtures/KeyWindowTest.h"
#include "demo/loopback/LoopbackServer.h"

namespace {

LoopbackServer::Response page(const std::string& body) {
    LoopbackServer::Response r;
    r.body = body;
    r.contentType = "text/html; charset=utf-8";
    return r;
}

class MinibrowserTest : public KeyWindowTest {
protected:
    void SetUp() override {
        KeyWindowTest::SetUp();
        server.serve("/page.html", page("<html><head><title>Served Title</title></head><body><p>Hello "
                                        "<a href='/next.html'>next</a> <a href='mailto:x@example.invalid'>mail</a> "
                                        "<a href='javascript:alert(1)'>js</a> <a href='file:///etc/passwd'>file</a> "
                                        "<a href='itms-apps://app/1'>store</a> <a href='data:text/html,x'>data</a> "
                                        "<a href='tel:+100'>call</a></p></body></html>"));
        server.serve("/next.html", page("<html><head><title>Next Title</title></head><body><p>Next page</p></body></html>"));
        server.serve("/header.html", page("<html><body><div id='docs-ml-header-id'>Header</div><p>Document</p></body></html>"));
        server.serve("/slow.html", page("<p>slow</p>"));
        LoopbackServer::Fault stall;
        stall.stallAfter = 2;
        server.setFault("/slow.html", stall);
    }
    void TearDown() override {
        server.releaseStalls();
        URLTrustAnchors::reset();
        browser.reset();
        Clock::advance(5);
        NSRunLoop::mainRunLoop()->runUntilIdle();
        KeyWindowTest::TearDown();
    }
    // Presented modally in a navigation controller, as the menu's rows show it.
    void present(const std::string& url) {
        browser = MinibrowserViewController::initWithURL(NSURL::URLWithString(url), OEContext{});
        root->presentViewController(UINavigationController::initWithRootViewController(browser), false, nullptr);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    bool waitUntilLoaded() {
        return NSRunLoop::mainRunLoop()->runUntil([this] { return !browser->webView()->isLoading(); }, 20) &&
               (NSRunLoop::mainRunLoop()->runUntilIdle(), true);
    }
    std::shared_ptr<WKWebLinkView> link(const std::string& text) {
        for (const auto& view : browser->webView()->linkViews())
            if (view->linkText() == text) return view;
        ADD_FAILURE() << "no link " << text;
        return nullptr;
    }
    void tap(const std::string& text) {
        if (auto view = link(text)) view->sendActionsForControlEvents(UIControlEventTouchUpInside);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }

    LoopbackServer server;
    std::shared_ptr<MinibrowserViewController> browser;
};

}  // namespace

TEST_F(MinibrowserTest, ThePageLoadsUnderASpinnerAndLendsItsTitle) {
    // The page waits at the server while the load is looked at.
    server.setFault("/page.html", LoopbackServer::Fault::stall());
    present(server.url("/page.html"));
    ASSERT_TRUE(server.waitForStalls(1));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(browser->webView()->isLoading());
    EXPECT_EQ(browser->framesLoadCounter(), 1);
    EXPECT_TRUE(browser->loading()->isAnimating());
    server.removeFault("/page.html");
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(browser->framesLoadCounter(), 0);
    EXPECT_FALSE(browser->loading()->isAnimating());
    EXPECT_EQ(browser->title(), "Served Title");
    EXPECT_EQ(browser->webView()->text(), "Hello next mail js file store data call");
    // Presented: Close on the left, Refresh always on the right.
    auto close = browser->navigationItem()->leftBarButtonItem();
    ASSERT_TRUE(close);
    EXPECT_EQ(close->title(), "Close");
    auto refresh = browser->navigationItem()->rightBarButtonItem();
    ASSERT_TRUE(refresh);
    EXPECT_EQ(refresh->displayTitle(), "Refresh");

    // A web link loads in place; the title, once taken, stays.
    tap("next");
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(browser->webView()->text(), "Next page");
    EXPECT_EQ(browser->title(), "Served Title");
    EXPECT_TRUE(UIApplication::sharedApplication()->openedURLs().empty());
    refresh->simulateTap();
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(server.requestsFor("/page.html").size(), 2u);
    close->simulateTap();
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(MinibrowserTest, OtherApplicationsAddressesGoToTheSystemAndPageSchemesNowhere) {
    UIApplication::sharedApplication()->setOpenURLPolicy([](const std::string& url) { return url.rfind("tel:", 0) != 0; });
    present(server.url("/page.html"));
    ASSERT_TRUE(waitUntilLoaded());
    for (const char* text : {"mail", "js", "file", "store", "data", "call"}) tap(text);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    std::vector<std::string> opened;
    for (const auto& url : UIApplication::sharedApplication()->openedURLs()) opened.push_back(url.url);
    // The telephone is what this system cannot open.
    EXPECT_EQ(opened, (std::vector<std::string>{"mailto:x@example.invalid", "itms-apps://app/1"}));
    EXPECT_EQ(browser->webView()->URL(), server.url("/page.html"));
    EXPECT_FALSE(browser->webView()->isLoading());
    EXPECT_EQ(browser->webView()->loadCount(), 1);
}

TEST_F(MinibrowserTest, AFailedLoadStopsTheSpinner) {
    // The answer waits at the server while the spinner is looked at, then breaks off after a byte.
    auto broken = LoopbackServer::Fault::stall();
    broken.resetAfter = 1;
    server.setFault("/page.html", broken);
    present(server.url("/page.html"));
    ASSERT_TRUE(server.waitForStalls(1));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(browser->loading()->isAnimating());
    server.releaseStalls();
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(browser->framesLoadCounter(), 0);
    EXPECT_FALSE(browser->loading()->isAnimating());
    EXPECT_EQ(browser->title(), "");
    root->dismissViewControllerAnimated(false, nullptr);
    NSRunLoop::mainRunLoop()->runUntilIdle();

    // Nothing listens on port 9.
    present("http://127.0.0.1:9/");
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(browser->framesLoadCounter(), 0);
    EXPECT_FALSE(browser->loading()->isAnimating());
    EXPECT_EQ(browser->title(), "");
}

TEST_F(MinibrowserTest, APageRefusedForItsLengthOrItsNestingSaysSoOnScreenAndInTheLog) {
    std::string nested = "<html><body>";
    for (int i = 0; i < 1000; ++i) nested += "<div>";
    nested += "Deep";
    server.serve("/nested.html", page(nested));
    server.serve("/long.html", page(std::string(WKWebView::kMaximumPageLength + 1, 'x')));
    for (const std::string& path : {std::string("/nested.html"), std::string("/long.html")}) {
        SCOPED_TRACE(path);
        testing::internal::CaptureStderr();
        present(server.url(path));
        const bool loaded = waitUntilLoaded();
        const std::string logged = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(loaded);
        EXPECT_FALSE(browser->loading()->isAnimating());
        ASSERT_TRUE(browser->failureLabel());
        EXPECT_FALSE(browser->failureLabel()->isHidden());
        EXPECT_EQ(browser->failureLabel()->text(), "This page cannot be shown.");
        EXPECT_EQ(browser->failureReasonLabel()->text(), path == "/long.html" ? "The page is too long to be shown."
                                                                               : "The page is too complex to be shown.");
        EXPECT_TRUE(browser->failureLabel()->isDescendantOfView(browser->view().get()));
        EXPECT_NE(logged.find("The page " + server.url(path) + " cannot be shown: "), std::string::npos) << logged;
        EXPECT_EQ(browser->webView()->text(), "");
        root->dismissViewControllerAnimated(false, nullptr);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    // The next load that works takes the message away.
    present(server.url("/long.html"));
    ASSERT_TRUE(waitUntilLoaded());
    ASSERT_FALSE(browser->failureLabel()->isHidden());
    server.serve("/long.html", page("<p>Short now</p>"));
    browser->reloadPage();
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_TRUE(browser->failureLabel()->isHidden());
    EXPECT_TRUE(browser->failureReasonLabel()->isHidden());
    EXPECT_EQ(browser->webView()->text(), "Short now");
}

TEST_F(MinibrowserTest, AFailedPageSaysWhyAndTheBarNamesTheFailureUntilAPageLoads) {
    // Nothing listens on port 9: the screen as a person reads it, the reason under the failure.
    present("http://127.0.0.1:9/");
    ASSERT_TRUE(waitUntilLoaded());
    window->layoutAndDisplayIfNeeded();
    EXPECT_EQ(SimScreen::capture().text(), "== Cannot show the page ==\n  [1] Close  | [2] Refresh  \n"
                                           "\"This page cannot be shown.\"\n\"The server cannot be reached.\"\n");
    // Centred on the page, one above the other.
    const CGRect headline = browser->failureLabel()->convertRectToView(browser->failureLabel()->bounds(), window);
    const CGRect reason = browser->failureReasonLabel()->convertRectToView(browser->failureReasonLabel()->bounds(), window);
    EXPECT_LT(CGRectGetMaxY(headline), CGRectGetMinY(reason));
    EXPECT_NEAR(CGRectGetMidX(headline), CGRectGetMidX(window->bounds()), 1);
    // The screen itself stays untitled, for the first page that loads to name it.
    EXPECT_EQ(browser->title(), "");
    root->dismissViewControllerAnimated(false, nullptr);
    NSRunLoop::mainRunLoop()->runUntilIdle();

    // A server whose certificate is not trusted; a title of the screen's own stays in the bar.
    LoopbackServer secure(LoopbackServer::Scheme::Https);
    browser = MinibrowserViewController::initWithURL(NSURL::URLWithString(secure.url("/")), OEContext{});
    browser->setTitle("Given");
    root->presentViewController(UINavigationController::initWithRootViewController(browser), false, nullptr);
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(browser->failureReasonLabel()->text(), "A secure connection to the server cannot be made.");
    EXPECT_EQ(browser->navigationItem()->title(), "Given");
    root->dismissViewControllerAnimated(false, nullptr);
    NSRunLoop::mainRunLoop()->runUntilIdle();

    // The answer breaks off; Refresh brings the page, which takes the failure away and names the screen.
    server.setFault("/page.html", LoopbackServer::Fault::reset(0));
    present(server.url("/page.html"));
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(browser->failureReasonLabel()->text(), "The server cannot be reached.");
    EXPECT_EQ(browser->navigationItem()->title(), "Cannot show the page");
    server.removeFault("/page.html");
    browser->navigationItem()->rightBarButtonItem()->simulateTap();
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_TRUE(browser->failureReasonLabel()->isHidden());
    EXPECT_EQ(browser->title(), "Served Title");
    EXPECT_EQ(browser->navigationItem()->title(), "Served Title");
}

// A page shown, then a Refresh that fails: the failure takes the page's place, as on a screen
// opened afresh, and the bar names it until a page loads again; the page gave the screen its title,
// which it keeps.
TEST_F(MinibrowserTest, ARefreshThatFailsShowsTheFailureInPlaceOfTheOldPage) {
    present(server.url("/page.html"));
    ASSERT_TRUE(waitUntilLoaded());
    const std::shared_ptr<WKWebLinkView> next = link("next");
    ASSERT_TRUE(next);
    window->layoutAndDisplayIfNeeded();
    const CGRect linkInWindow = next->convertRectToView(next->bounds(), window);
    server.setFault("/page.html", LoopbackServer::Fault::redirect());
    testing::internal::CaptureStderr();
    browser->navigationItem()->rightBarButtonItem()->simulateTap();
    const bool loaded = waitUntilLoaded();
    (void)testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded);
    window->layoutAndDisplayIfNeeded();
    EXPECT_EQ(SimScreen::capture().text(), "== Cannot show the page ==\n  [1] Close  | [2] Refresh  \n"
                                           "\"This page cannot be shown.\"\n\"The page redirects too many times.\"\n");
    EXPECT_EQ(browser->title(), "Served Title");
    // Where the link was, a finger meets the failure, not the link.
    const CGPoint where{CGRectGetMidX(linkInWindow), CGRectGetMidY(linkInWindow)};
    const auto touched = window->hitTest(where, nullptr);
    EXPECT_TRUE(touched && !touched->isDescendantOfView(browser->webView().get()));

    server.removeFault("/page.html");
    browser->navigationItem()->rightBarButtonItem()->simulateTap();
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_TRUE(browser->failureLabel()->isHidden());
    EXPECT_EQ(browser->navigationItem()->title(), "Served Title");
    EXPECT_EQ(browser->webView()->text(), "Hello next mail js file store data call");
}

TEST_F(MinibrowserTest, APageThatRedirectsToItselfSaysSoRatherThanThatSomethingWentWrong) {
    server.setFault("/page.html", LoopbackServer::Fault::redirect());
    testing::internal::CaptureStderr();
    present(server.url("/page.html"));
    const bool loaded = waitUntilLoaded();
    const std::string logged = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded);
    EXPECT_GT(server.requestsFor("/page.html").size(), 1u) << "the redirect was not followed";
    EXPECT_EQ(browser->failureLabel()->text(), "This page cannot be shown.");
    EXPECT_EQ(browser->failureReasonLabel()->text(), "The page redirects too many times.");
    EXPECT_NE(logged.find("too many HTTP redirects"), std::string::npos) << logged;
}

// A redirect away from a secure server trusted by its own certificate, or one that names no
// address, says so, and neither redirect's own body is the page.
TEST_F(MinibrowserTest, ARedirectAwayFromItsSecureServerOrToNoAddressSaysSoAndIsNeverThePage) {
    ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", LoopbackServer::certificatePEM()));
    LoopbackServer secure(LoopbackServer::Scheme::Https);
    secure.setFault("/leave.html", LoopbackServer::Fault::redirect(server.url("/page.html")));
    server.setFault("/nowhere.html", LoopbackServer::Fault::withStatus(302));
    const std::pair<std::string, std::string> failures[] = {
        {secure.url("/leave.html"),
         "The page redirects away from its secure server, and this browser does not follow it there."},
        {server.url("/nowhere.html"), "The page redirects to no address."}};
    for (const auto& [url, reason] : failures) {
        SCOPED_TRACE(url);
        testing::internal::CaptureStderr();
        present(url);
        const bool loaded = waitUntilLoaded();
        const std::string logged = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(loaded);
        window->layoutAndDisplayIfNeeded();
        EXPECT_EQ(SimScreen::capture().text(), "== Cannot show the page ==\n  [1] Close  | [2] Refresh  \n"
                                               "\"This page cannot be shown.\"\n\"" + reason + "\"\n");
        EXPECT_EQ(browser->webView()->text(), "");
        EXPECT_NE(logged.find("The page " + url + " cannot be shown: "), std::string::npos) << logged;
        root->dismissViewControllerAnimated(false, nullptr);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    // The refused redirect was never asked of the server it led to.
    EXPECT_TRUE(server.requestsFor("/page.html").empty());
}

TEST_F(MinibrowserTest, AReloadWhileLoadingKeepsTheSpinnerUntilTheLastLoadEnds) {
    present(server.url("/slow.html"));
    ASSERT_TRUE(server.waitForStalls(1));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    browser->reloadPage();
    ASSERT_TRUE(server.waitForStalls(2));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    // The first load gave way to the second, which still runs; giving way is no failure to show.
    EXPECT_EQ(browser->framesLoadCounter(), 1);
    EXPECT_TRUE(browser->loading()->isAnimating());
    EXPECT_TRUE(browser->failureLabel()->isHidden());
    server.releaseStalls();
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(browser->framesLoadCounter(), 0);
    EXPECT_FALSE(browser->loading()->isAnimating());
    EXPECT_EQ(browser->webView()->text(), "slow");
}

TEST_F(MinibrowserTest, APushedBrowserKeepsItsTitleAndHasNoClose) {
    browser = MinibrowserViewController::initWithURL(NSURL::URLWithString(server.url("/page.html")), OEContext{});
    browser->setTitle("Given");
    auto navigation = UINavigationController::initWithRootViewController(UIViewController::make());
    window->setRootViewController(navigation);
    navigation->pushViewController(browser, false);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(browser->title(), "Given");
    EXPECT_FALSE(browser->navigationItem()->leftBarButtonItem());
    EXPECT_TRUE(browser->navigationItem()->rightBarButtonItem());
}

TEST_F(MinibrowserTest, OnlyWebAddressesAreOpened) {
    for (const char* address : {"file:///etc/hosts", "javascript:alert(1)", "ftp://127.0.0.1/x"}) {
        present(address);
        EXPECT_EQ(browser->webView()->URL(), "") << address;
        EXPECT_FALSE(browser->webView()->isLoading()) << address;
        root->dismissViewControllerAnimated(false, nullptr);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
}

TEST_F(MinibrowserTest, ThePostLoadScriptRunsOnceTheLoadIsOver) {
    browser = MinibrowserViewController::initWithURL(NSURL::URLWithString(server.url("/header.html")), OEContext{});
    browser->setPostLoadScript(
        "var element = document.getElementById(\"docs-ml-header-id\");element.parentNode.removeChild(element);");
    root->presentViewController(UINavigationController::initWithRootViewController(browser), false, nullptr);
    ASSERT_TRUE(waitUntilLoaded());
    EXPECT_EQ(browser->webView()->text(), "Document");
    EXPECT_FALSE(browser->loading()->isAnimating());
}
