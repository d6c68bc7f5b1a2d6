// The web view: loads a page from an HTML text (with the address relative references resolve
// against) or from an address (http and https through the URL session, file from the disk,
// about:blank), keeps the parsed document, and shows it as a person reads it: its blocks of text
// set in the fonts, sizes and alignments the page's markup gives, each link where its text
// stands (a link with no text in its block on a line of its own under it). A tapped link is put
// to the navigation delegate, which allows or cancels it. Scripts come from a table of the
// scripts the application runs (WKScriptEffects). Everything happens on the main thread; the
// delegate hears of a load on later turns of the main run loop.
// A page longer than kMaximumPageLength fails before it is shown, and so does an answer that is
// a redirect (3xx) the load did not follow; one nesting its elements past the parser's bound
// shows nothing and fails once its content is in (didFailNavigation).
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIView.h"
#include "platform/web/WKNavigationDelegate.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class HTMLDocument;
class NSURLRequest;
class NSURLSession;
class NSURLSessionDataTask;
class UIScrollView;
class WKWebLinkView;
class WKWebTextView;

class WKWebView : public UIView {
public:
    using ScriptCompletion = std::function<void(const Value& result, const NSErrorPtr& error)>;

    static std::shared_ptr<WKWebView> make() { return initWithFrame(CGRectZero); }
    static std::shared_ptr<WKWebView> initWithFrame(const CGRect& frame);
    explicit WKWebView(const CGRect& frame);
    ~WKWebView() override;

    // Held weakly.
    std::shared_ptr<WKNavigationDelegate> navigationDelegate() const { return delegate_.lock(); }
    void setNavigationDelegate(const std::shared_ptr<WKNavigationDelegate>& delegate) { delegate_ = delegate; }

    // The page is there at once (its text, its views); the delegate hears of the start and the
    // finish later. `baseURL` "" reads as about:blank.
    std::shared_ptr<WKNavigation> loadHTMLString(const std::string& html, const std::string& baseURL);
    // Empty when the request has no address.
    std::shared_ptr<WKNavigation> loadRequest(const std::shared_ptr<NSURLRequest>& request);
    // The current address again (an HTML text is loaded again); empty when nothing was loaded.
    std::shared_ptr<WKNavigation> reload();
    // Cuts the load in flight short: the delegate hears that it failed, cancelled.
    void stopLoading();
    bool isLoading() const { return loading_ != nullptr; }
    // The page's address (the base address of an HTML text); "" before the first load.
    const std::string& URL() const { return url_; }
    // The document's title.
    std::string title() const;

    // The script's value, or its error, on a later turn of the main run loop.
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion);

    // A person tapped a link whose "href" is this: the delegate decides (a link activation),
    // and an allowed link is followed.
    void activateLink(const std::string& href);

    // --- What it holds and shows ----------------------------------------------------------------
    // The HTML of the page shown: the text given, or the body an address answered with.
    const std::string& html() const { return html_; }
    // The base address the last HTML text came with ("" when none).
    const std::string& baseURL() const { return baseURL_; }
    // Pages shown so far.
    int loadCount() const { return loadCount_; }
    const std::shared_ptr<HTMLDocument>& document() const { return document_; }
    // The page's text as a person reads it: its blocks, one per line.
    std::string text() const;
    const std::shared_ptr<UIScrollView>& scrollView() const { return scrollView_; }
    std::vector<std::shared_ptr<WKWebTextView>> textViews() const;
    std::vector<std::shared_ptr<WKWebLinkView>> linkViews() const;

    void layoutSubviews() override;
    std::string description() const override;

    // The most an address may answer with; a longer page fails to load.
    static constexpr std::uint64_t kMaximumPageLength = 4 * 1024 * 1024;
    // Margin around the page's content and between its blocks.
    static constexpr double kMargin = 8;

private:
    struct Load {
        std::shared_ptr<WKNavigation> navigation;
        std::shared_ptr<NSURLSessionDataTask> task;
        bool started = false;
        bool ended = false;
    };

    std::shared_ptr<WKNavigation> startNavigation(const std::string& url);
    std::shared_ptr<WKNavigation> loadURL(const std::string& url);
    // The page's content is in: the document and its views change, the delegate hears.
    void commit(const std::shared_ptr<Load>& load, const std::string& html);
    // Before the content was in (a provisional failure), or after (`committed`: the content
    // could not be shown).
    void fail(const std::shared_ptr<Load>& load, const NSErrorPtr& error, bool committed = false);
    void finish(const std::shared_ptr<Load>& load);
    void cancelLoad();
    void showDocument();
    void layoutContent();
    std::shared_ptr<NSURLSession> session();

    std::weak_ptr<WKNavigationDelegate> delegate_;
    std::shared_ptr<UIScrollView> scrollView_;
    std::vector<std::shared_ptr<UIView>> contentViews_;
    // The links inside a block's text: where in it (UTF-16 units) each stands.
    struct LinkInText {
        std::shared_ptr<WKWebLinkView> link;
        std::shared_ptr<WKWebTextView> block;
        NSRange range;
    };
    std::vector<LinkInText> linksInText_;
    std::shared_ptr<HTMLDocument> document_;
    std::shared_ptr<Load> loading_;
    std::shared_ptr<NSURLSession> session_;
    std::string html_;
    std::string baseURL_;
    std::string url_;
    // Whether the page came as an HTML text (reload gives the text again).
    bool fromString_ = false;
    int loadCount_ = 0;
    std::uint64_t navigations_ = 0;
    double laidOutWidth_ = -1;
};
