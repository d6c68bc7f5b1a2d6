// The web view: pages from HTML texts and from a loopback server, the text a person reads with
// the styles the markup sets, broken markup, the navigation delegate's story of every load, links
// of every scheme put to the delegate, a link drawn and touched where its text stands, the
// scripts of its table, and redirects.
#include "platform/web/WKWebView.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIScrollView.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/WKError.h"
#include "platform/web/WKWebLinkView.h"
#include "platform/web/WKWebTextView.h"
#include "demo/loopback/LoopbackServer.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes down every call, in order, and answers link questions with its policy.
class RecordingDelegate : public WKNavigationDelegate {
public:
    std::vector<std::string> calls;
    std::vector<std::string> askedURLs;
    std::vector<NSErrorPtr> errors;
    WKNavigationActionPolicy policy = WKNavigationActionPolicy::Allow;

    void decidePolicyForNavigationAction(WKWebView&, const WKNavigationAction& action,
                                         DecisionHandler decisionHandler) override {
        calls.push_back(action.navigationType() == WKNavigationType::LinkActivated ? "link" : "other");
        askedURLs.push_back(action.requestURL());
        decisionHandler(policy);
    }
    void didStartProvisionalNavigation(WKWebView&, const std::shared_ptr<WKNavigation>& n) override {
        calls.push_back("start " + std::to_string(n->number()));
    }
    void didFinishNavigation(WKWebView&, const std::shared_ptr<WKNavigation>& n) override {
        calls.push_back("finish " + std::to_string(n->number()));
    }
    void didFailProvisionalNavigation(WKWebView&, const std::shared_ptr<WKNavigation>& n,
                                      const NSErrorPtr& error) override {
        calls.push_back("fail " + std::to_string(n->number()) + " " + std::to_string(error ? error->code() : 0));
        errors.push_back(error);
    }
    void didFailNavigation(WKWebView&, const std::shared_ptr<WKNavigation>& n, const NSErrorPtr& error) override {
        calls.push_back("content failed " + std::to_string(n->number()));
        errors.push_back(error);
    }
};

void settle() { NSRunLoop::mainRunLoop()->runUntilIdle(); }

bool waitFor(const std::function<bool()>& done) { return NSRunLoop::mainRunLoop()->runUntil(done, 20); }

struct Page {
    std::shared_ptr<WKWebView> view = WKWebView::initWithFrame(CGRectMake(0, 0, 320, 480));
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    Page() { view->setNavigationDelegate(delegate); }
};

LoopbackServer::Response html(const std::string& body, int status = 200) {
    LoopbackServer::Response r;
    r.status = status;
    r.body = body;
    r.contentType = "text/html; charset=utf-8";
    return r;
}

}  // namespace

TEST(WKWebViewTest, TheTextLeavesOutTheHeadScriptsAndTagsAndDecodesReferences) {
    auto web = WKWebView::make();
    EXPECT_EQ(web->text(), "");
    web->loadHTMLString("<html><head><title>Hidden</title><style>p{color:red}</style></head><body>"
                        "<script type='x'>var a = '<p>';</script><P>Caf&#233; &lt;Rose&gt;</P>"
                        "<div align=\"left\">  line &#x41;<br/>next&nbsp;one &bogus; &amp;</div></body></html>",
                        "file:///base/");
    EXPECT_EQ(web->baseURL(), "file:///base/");
    EXPECT_EQ(web->URL(), "file:///base/");
    EXPECT_EQ(web->loadCount(), 1);
    EXPECT_EQ(web->title(), "Hidden");
    // Known by its title, as a person sees the page, not by where it came from.
    EXPECT_EQ(accessibilityLabel(*web), "Hidden");
    EXPECT_EQ(web->text(), "Caf\u00e9 <Rose>\nline A\nnext one &bogus; &");
    web->loadHTMLString("plain", "");
    EXPECT_EQ(accessibilityLabel(*web), "") << "a page without a title has no name";
    EXPECT_EQ(web->html(), "plain");
    EXPECT_EQ(web->text(), "plain");
    EXPECT_EQ(web->URL(), "about:blank");
    EXPECT_EQ(web->loadCount(), 2);
    settle();
}

TEST(WKWebViewTest, BrokenMarkupIsRepairedNeverRefused) {
    auto web = WKWebView::make();
    // Unclosed and misnested tags, a stray end tag, an attribute without a closing quote.
    web->loadHTMLString("<div><p>One <b>two <i>three</b> four</p></span><p>five<div>six", "");
    EXPECT_EQ(web->text(), "One two three four\nfive\nsix");
    // An attribute that never closes takes the rest of the page in, as browsers read it.
    web->loadHTMLString("<p>Before</p><p title=\"unclosed>Lost</p><p>Kept</p>", "");
    EXPECT_EQ(web->text(), "Before");
    // Bytes that are no UTF-8, a NUL, nothing at all, markup only.
    for (std::string page : {std::string("\xff\xfe<p>\x80\x81 bytes</p>"), std::string("<p>a\0b</p>", 10),
                             std::string(), std::string("<<<>>></></>"), std::string("<script>never closed")}) {
        web->loadHTMLString(page, "");
        EXPECT_EQ(web->html(), page);
        EXPECT_EQ(web->text().find("never closed"), std::string::npos);
    }
    // A link with nothing to show (no text, no title, no address) is nothing to tap.
    web->loadHTMLString("<p><a href></a><a href=' '> </a>Text</p>", "");
    EXPECT_TRUE(web->linkViews().empty());
    for (const auto& view : web->textViews()) EXPECT_FALSE(view->text().empty());
    // Nesting far deeper than any page: the parser's limit holds, the view stands.
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<div>";
    deep += "bottom";
    web->loadHTMLString(deep, "");
    EXPECT_LE(web->textViews().size(), 1u);
    settle();
}

TEST(WKWebViewTest, BlocksAreSetInTheSizeFamilyAndAlignmentTheMarkupGives) {
    auto web = WKWebView::initWithFrame(CGRectMake(0, 0, 320, 480));
    web->loadHTMLString("<html><body><div align=\"center\" style=\"font-size:17pt;\"><h2>Title</h2></div>"
                        "<div align=\"justify\" style=\"margin: -10px; font-size:16pt;font-family:'Times New Roman'\">"
                        "<p>Body <a href='imageLink_12'>picture</a> text</p><p style='text-align:right;font-size:150%'>"
                        "Second</p></div><p style='font-size: bogus; font-family: \"A;B\", serif'>Plain</p></body></html>",
                        "file:///bundle/");
    const auto texts = web->textViews();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0]->headingLevel(), 2);
    EXPECT_EQ(texts[0]->text(), "Title");
    EXPECT_NEAR(texts[0]->cssPointSize(), 17 * 1.5, 0.01);
    EXPECT_TRUE(texts[0]->font()->isBold());
    EXPECT_EQ(texts[0]->textAlignment(), NSTextAlignmentCenter);
    EXPECT_EQ(texts[1]->text(), "Body picture text");
    EXPECT_NEAR(texts[1]->cssPointSize(), 16, 0.01);
    EXPECT_NEAR(texts[1]->font()->pointSize(), 16 * 4.0 / 3.0, 0.01);
    EXPECT_EQ(texts[1]->textStyle().fontFamily, "Times New Roman");
    EXPECT_EQ(texts[1]->textAlignment(), NSTextAlignmentJustified);
    EXPECT_EQ(texts[1]->alignmentName(), "justify");
    EXPECT_EQ(texts[2]->textAlignment(), NSTextAlignmentRight);
    EXPECT_NEAR(texts[2]->cssPointSize(), 24, 0.01);
    // A size that cannot be read leaves the inherited one; a quoted family keeps its semicolon.
    EXPECT_NEAR(texts[3]->cssPointSize(), 12, 0.01);
    EXPECT_EQ(texts[3]->textStyle().fontFamily, "A;B");
    EXPECT_EQ(texts[3]->alignmentName(), "");

    const auto links = web->linkViews();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0]->linkText(), "picture");
    EXPECT_EQ(links[0]->href(), "imageLink_12");
    // Laid out top to bottom inside the margins, the link over its text in its block.
    EXPECT_LT(texts[0]->frame().origin.y, texts[1]->frame().origin.y);
    EXPECT_TRUE(CGRectContainsRect(texts[1]->frame(), links[0]->frame()));
    EXPECT_EQ(texts[1]->frame().size.width, 320 - 2 * WKWebView::kMargin);
    EXPECT_GE(web->scrollView()->contentSize().height, CGRectGetMaxY(texts[3]->frame()));
    // A narrower view lays the page out again.
    web->setFrame(CGRectMake(0, 0, 200, 480));
    web->layoutSubviews();
    EXPECT_EQ(texts[1]->frame().size.width, 200 - 2 * WKWebView::kMargin);
    settle();
}

TEST(WKWebViewTest, EveryLoadIsToldAsStartedThenFinishedOrFailed) {
    Page page;
    auto first = page.view->loadHTMLString("<p>one</p>", "");
    EXPECT_TRUE(page.view->isLoading());
    // Nothing is told inside the call.
    EXPECT_TRUE(page.delegate->calls.empty());
    settle();
    EXPECT_EQ(page.delegate->calls, (std::vector<std::string>{"start 1", "finish 1"}));
    EXPECT_FALSE(page.view->isLoading());

    // Cut short before its start was told: nothing of it is told.
    page.delegate->calls.clear();
    page.view->loadHTMLString("<p>two</p>", "");
    page.view->loadHTMLString("<p>three</p>", "");
    settle();
    EXPECT_EQ(page.delegate->calls, (std::vector<std::string>{"start 3", "finish 3"}));
    EXPECT_EQ(page.view->text(), "three");

    // Cut short after its start: it fails, cancelled.
    LoopbackServer server;
    LoopbackServer::Fault stall;
    stall.stallAfter = 3;
    server.serve("/slow", html("<p>slow page</p>"));
    server.setFault("/slow", stall);
    page.delegate->calls.clear();
    page.view->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/slow"))));
    ASSERT_TRUE(waitFor([&] { return !page.delegate->calls.empty(); }));
    page.view->stopLoading();
    settle();
    EXPECT_EQ(page.delegate->calls,
              (std::vector<std::string>{"start 4", "fail 4 " + std::to_string(NSURLErrorCancelled)}));
    EXPECT_FALSE(page.view->isLoading());
    server.releaseStalls();
    settle();
    EXPECT_EQ(page.view->text(), "three");
    (void)first;
}

TEST(WKWebViewTest, AddressesLoadFromTheServerAndFailWhereNothingAnswers) {
    LoopbackServer server;
    server.serve("/page.html", html("<html><head><title>Served</title></head><body><h1>Hello</h1>"
                                    "<p>From the <a href='other.html#part'>server</a>.</p></body></html>"));
    server.serve("/other.html", html("<p>Other page</p>"));
    Page page;
    page.view->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/page.html"))));
    ASSERT_TRUE(waitFor([&] { return !page.view->isLoading(); }));
    EXPECT_EQ(page.delegate->calls, (std::vector<std::string>{"start 1", "finish 1"}));
    EXPECT_EQ(page.view->title(), "Served");
    EXPECT_EQ(page.view->text(), "Hello\nFrom the server.");
    EXPECT_EQ(page.view->URL(), server.url("/page.html"));

    // The link is resolved against the page and followed.
    ASSERT_EQ(page.view->linkViews().size(), 1u);
    page.view->linkViews()[0]->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(page.delegate->askedURLs, (std::vector<std::string>{server.url("/other.html#part")}));
    ASSERT_TRUE(waitFor([&] { return page.view->text() == "Other page" && !page.view->isLoading(); }));
    // A server's error page is still a page.
    page.view->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/missing"))));
    ASSERT_TRUE(waitFor([&] { return !page.view->isLoading(); }));
    EXPECT_EQ(page.delegate->calls.back(), "finish 3");

    // A name that no lookup resolves, and a closed port: the load fails.
    page.delegate->calls.clear();
    page.view->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString("http://www.example.invalid/")));
    ASSERT_TRUE(waitFor([&] { return !page.view->isLoading(); }));
    EXPECT_EQ(page.delegate->calls,
              (std::vector<std::string>{"start 4", "fail 4 " + std::to_string(NSURLErrorCannotFindHost)}));
    EXPECT_EQ(page.view->text(), "Not Found");
    // A page longer than the view takes fails too.
    server.serve("/huge", html(std::string(WKWebView::kMaximumPageLength + 1, 'x')));
    page.view->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/huge"))));
    ASSERT_TRUE(waitFor([&] { return !page.view->isLoading(); }));
    EXPECT_EQ(page.delegate->calls.back(), "fail 5 " + std::to_string(NSURLErrorDataLengthExceedsMaximum));
    settle();
}

// A redirect is followed to its page; one that is itself the answer (it names no address) fails
// the load, its body never shown, whatever the server wrote in it.
TEST(WKWebViewTest, ARedirectLeadsToItsPageAndOneThatIsTheAnswerFailsUnshown) {
    LoopbackServer server;
    server.serve("/page.html", html("<p>Arrived</p>"));
    server.setFault("/moved", LoopbackServer::Fault::redirect("/page.html"));
    server.serve("/nowhere", html("<p>Moved, but not said where</p>", 302));
    Page page;
    page.view->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/moved"))));
    ASSERT_TRUE(waitFor([&] { return !page.view->isLoading(); }));
    EXPECT_EQ(page.delegate->calls, (std::vector<std::string>{"start 1", "finish 1"}));
    EXPECT_EQ(page.view->text(), "Arrived");

    page.view->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/nowhere"))));
    ASSERT_TRUE(waitFor([&] { return !page.view->isLoading(); }));
    EXPECT_EQ(page.delegate->calls.back(), "fail 2 " + std::to_string(NSURLErrorRedirectToNonExistentLocation));
    EXPECT_EQ(page.view->text(), "Arrived");
    EXPECT_EQ(page.view->loadCount(), 1);
}

TEST(WKWebViewTest, APageNestedPastTheParsersBoundShowsNothingAndFails) {
    auto nested = [](int levels) {
        std::string body = "<html><body><p>Top</p>";
        for (int i = 0; i < levels; ++i) body += "<div>";
        body += "Deep";
        for (int i = 0; i < levels; ++i) body += "</div>";
        return body + "</body></html>";
    };
    bool tooDeep = true;
    EXPECT_EQ(HTMLDocument::parse(nested(HTMLDocument::kMaximumDepth - 10), &tooDeep)->text(), "Top\nDeep");
    EXPECT_FALSE(tooDeep);

    LoopbackServer server;
    server.serve("/nested.html", html(nested(5000)));
    Page page;
    page.view->loadHTMLString("<p>before</p>", "");
    settle();
    page.view->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/nested.html"))));
    ASSERT_TRUE(waitFor([&] { return !page.view->isLoading(); }));
    EXPECT_EQ(page.delegate->calls,
              (std::vector<std::string>{"start 1", "finish 1", "start 2", "content failed 2"}));
    ASSERT_EQ(page.delegate->errors.size(), 1u);
    EXPECT_EQ(page.delegate->errors[0]->domain(), WKErrorDomain);
    EXPECT_NE(page.delegate->errors[0]->localizedDescription().find("deeper than 256 levels"), std::string::npos);
    EXPECT_EQ(page.view->text(), "") << "neither the old page nor a part of the new one";
    EXPECT_TRUE(page.view->textViews().empty());
    EXPECT_EQ(page.view->URL(), server.url("/nested.html"));
}

TEST(WKWebViewTest, LinksOfEverySchemeAreFirstPutToTheDelegate) {
    Page page;
    page.view->loadHTMLString(
        "<p><a href='https://example.invalid/a b?q=1'>web</a> <a href='../up/x.html'>up</a> "
        "<a href='mailto:someone@example.invalid?subject=Hi'>mail</a> <a href='tel:+100'>call</a> "
        "<a href='javascript:alert(1)'>script</a> <a href=' JaVaScRiPt:alert(2)'>mixed</a> "
        "<a href='data:text/html,<b>x</b>'>data</a> <a href='file:///etc/passwd'>file</a> "
        "<a href='itms-apps://app/1'>store</a> <a href='#top'>top</a> <a href='imageLink_12'>"
        "<img src='x.png'></a></p>",
        "file:///bundle/texts/");
    settle();
    const auto links = page.view->linkViews();
    ASSERT_EQ(links.size(), 11u);
    // A link around an image alone is named by its address.
    EXPECT_EQ(links[10]->linkText(), "imageLink_12");
    page.delegate->policy = WKNavigationActionPolicy::Cancel;
    page.delegate->calls.clear();
    for (const auto& link : links) link->sendActionsForControlEvents(UIControlEventTouchUpInside);
    settle();
    EXPECT_EQ(page.delegate->askedURLs,
              (std::vector<std::string>{"https://example.invalid/a%20b?q=1", "file:///bundle/up/x.html",
                                        "mailto:someone@example.invalid?subject=Hi", "tel:+100",
                                        "javascript:alert(1)", "javascript:alert(2)", "data:text/html,%3Cb%3Ex%3C/b%3E",
                                        "file:///etc/passwd", "itms-apps://app/1", "file:///bundle/texts/#top",
                                        "file:///bundle/texts/imageLink_12"}));
    // Cancelled, nothing was loaded.
    EXPECT_EQ(page.delegate->calls, std::vector<std::string>(11, "link"));
    EXPECT_EQ(page.view->URL(), "file:///bundle/texts/");

    // Allowed: a script address runs nothing, the page's own fragment loads nothing, an address
    // this view cannot load fails.
    page.delegate->policy = WKNavigationActionPolicy::Allow;
    page.delegate->calls.clear();
    page.view->activateLink("javascript:alert(1)");
    page.view->activateLink("#top");
    settle();
    EXPECT_EQ(page.delegate->calls, (std::vector<std::string>{"link", "link"}));
    page.view->activateLink("mailto:someone@example.invalid");
    settle();
    EXPECT_EQ(page.delegate->calls.back(), "fail 2 " + std::to_string(NSURLErrorUnsupportedURL));
    // With no delegate a link is simply followed.
    auto alone = WKWebView::make();
    alone->loadHTMLString("<a href='about:blank'>blank</a>", "");
    alone->activateLink("about:blank");
    settle();
    EXPECT_EQ(alone->URL(), "about:blank");
    EXPECT_EQ(alone->text(), "");
}

TEST(WKWebViewTest, TheScriptsOfTheTableChangeThePageAndOthersThrow) {
    Page page;
    page.view->loadHTMLString("<html><head><title> Doc  title </title></head><body><div id='docs-ml-header-id'>"
                              "<p>Header</p></div><p>Content</p></body></html>",
                              "");
    std::vector<std::pair<Value, NSErrorPtr>> results;
    auto record = [&](const Value& value, const NSErrorPtr& error) { results.emplace_back(value, error); };
    page.view->evaluateJavaScript("document.title", record);
    EXPECT_TRUE(results.empty());  // answered on a later turn
    page.view->evaluateJavaScript(
        "var element = document.getElementById(\"docs-ml-header-id\");element.parentNode.removeChild(element);", record);
    // Spacing and the variable's name do not matter; the element is gone now, so this throws.
    page.view->evaluateJavaScript("let  e=document.getElementById('docs-ml-header-id') ;\n e.parentNode.removeChild(e)",
                                  record);
    page.view->evaluateJavaScript("window.location = 'http://example.invalid'", record);
    page.view->evaluateJavaScript("document.title = 'x", record);
    settle();
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].first.stringValue(), "Doc title");
    EXPECT_FALSE(results[0].second);
    // The element goes; its value cannot be handed out of the page.
    ASSERT_TRUE(results[1].second);
    EXPECT_EQ(results[1].second->domain(), WKErrorDomain);
    EXPECT_EQ(results[1].second->code(), WKErrorJavaScriptResultTypeIsUnsupported);
    EXPECT_EQ(page.view->text(), "Content");
    EXPECT_EQ(page.view->textViews().size(), 1u);
    for (std::size_t i = 2; i < 5; ++i) {
        ASSERT_TRUE(results[i].second) << i;
        EXPECT_EQ(results[i].second->code(), WKErrorJavaScriptExceptionOccurred) << i;
        EXPECT_TRUE(results[i].first.isNull()) << i;
    }
    EXPECT_EQ(page.view->URL(), "about:blank");
}

TEST(WKWebViewTest, ReloadLoadsTheSameAgain) {
    Page page;
    EXPECT_FALSE(page.view->reload());
    page.view->loadHTMLString("<p>again</p>", "file:///b/");
    page.view->reload();
    settle();
    EXPECT_EQ(page.delegate->calls, (std::vector<std::string>{"start 2", "finish 2"}));
    EXPECT_EQ(page.view->text(), "again");
    EXPECT_EQ(page.view->loadCount(), 2);
}

namespace {

using WKWebViewLinkTest = KeyWindowTest;

// What a view drew: each text with whether it was in the link colour, and where.
struct Drawn {
    std::string text;
    bool link;
    CGRect rect;
};

std::vector<Drawn> drawnTexts(const UIView& view) {
    std::vector<Drawn> out;
    if (!view.lastDrawing()) return out;
    for (const auto& op : view.lastDrawing()->operations())
        if (op.kind == CGContext::Operation::Kind::DrawText)
            out.push_back({op.text, op.color && op.color->isEqual(UIColor::systemBlueColor().get()), op.rect});
    return out;
}

}  // namespace

TEST_F(WKWebViewLinkTest, ALinkInItsTextIsDrawnOnceWhereItStandsAndTakesTouchesThereAlone) {
    Page page;
    page.delegate->policy = WKNavigationActionPolicy::Cancel;
    page.view->setFrame(CGRectMake(0, 0, 320, 480));
    root->view()->addSubview(page.view);
    // The system font of 16 points: 8 points a character, 38 on a line of 304.
    page.view->loadHTMLString("<p>See it in <a href='imageLink_7'>The Starry Night</a>.</p>"
                              "<p>A link that runs over two lines: <a href='both'>the first words of it and the "
                              "rest</a> after.</p>",
                              "");
    window->layoutAndDisplayIfNeeded();
    const auto texts = page.view->textViews();
    const auto links = page.view->linkViews();
    ASSERT_EQ(texts.size(), 2u);
    ASSERT_EQ(links.size(), 2u);

    // The block draws it in the link colour where its text stands; the link draws nothing.
    const auto first = drawnTexts(*texts[0]);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0].text, "See it in");
    EXPECT_FALSE(first[0].link);
    EXPECT_EQ(first[1].text, "The Starry Night");
    EXPECT_TRUE(first[1].link);
    EXPECT_EQ(first[1].rect.origin.x, 80);
    EXPECT_EQ(first[2].text, ".");
    EXPECT_FALSE(first[2].link);
    for (const auto& link : links) {
        EXPECT_TRUE(drawnTexts(*link).empty());
        EXPECT_TRUE(link->subviews().empty()) << "no title of its own";
    }
    const CGRect drawn = CGRectOffset(first[1].rect, texts[0]->frame().origin.x, texts[0]->frame().origin.y);
    EXPECT_NEAR(links[0]->frame().origin.x, drawn.origin.x, 1e-9);
    EXPECT_NEAR(links[0]->frame().origin.y, drawn.origin.y, 1e-9);
    EXPECT_NEAR(links[0]->frame().size.width, drawn.size.width, 1e-9);
    EXPECT_NEAR(links[0]->frame().size.height, drawn.size.height, 1e-9);

    // A finger on the link follows it; one on the text beside it does not.
    auto centre = [](const CGRect& r) { return CGPointMake(CGRectGetMidX(r), CGRectGetMidY(r)); };
    window->tap(centre(links[0]->frame()));
    ASSERT_EQ(page.delegate->askedURLs.size(), 1u);
    EXPECT_NE(page.delegate->askedURLs[0].find("imageLink_7"), std::string::npos);
    window->tap(CGPointMake(20, centre(links[0]->frame()).y));
    EXPECT_EQ(page.delegate->askedURLs.size(), 1u);

    // Over two lines it covers both ends of its text, and nothing else of theirs.
    const CGRect both = links[1]->frame();
    const CGRect block = texts[1]->frame();
    EXPECT_NEAR(both.origin.y, block.origin.y, 1e-9);
    EXPECT_NEAR(both.size.height, 2 * 16 * 1.2, 1e-9);
    EXPECT_NEAR(both.origin.x, block.origin.x, 1e-9);
    EXPECT_NEAR(CGRectGetMaxX(both), block.origin.x + 36 * 8, 1e-9);
    const double top = both.origin.y + 5, bottom = CGRectGetMaxY(both) - 5;
    window->tap(CGPointMake(block.origin.x + 34 * 8, top));     // "the", closing the first line
    window->tap(CGPointMake(block.origin.x + 2 * 8, bottom));   // "first", opening the second
    EXPECT_EQ(page.delegate->askedURLs.size(), 3u);
    window->tap(CGPointMake(block.origin.x + 2 * 8, top));      // "A link"
    window->tap(CGPointMake(block.origin.x + 33 * 8, bottom));  // "after."
    EXPECT_EQ(page.delegate->askedURLs.size(), 3u);
    settle();
}
