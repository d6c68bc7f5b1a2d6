// The in-app browser: a web view over the whole safe area that loads one address, a grey spinner
// while pages load, the page's title as the screen's when it has none, an optional script run
// after each completed load, Refresh, and Close when it was presented. Links to web pages load in
// place; links of other schemes go to the system (after it says it can open them) and never load
// here. A page that cannot be shown says so in its place, and why. The article and famous-post
// readers build on it.
#pragma once

#include "config/OEContext.h"
#include "platform/ui/UIViewController.h"
#include "platform/web/WKNavigationDelegate.h"

#include <cstdint>
#include <memory>
#include <string>

class NSURL;
class UIActivityIndicatorView;
class UILabel;
class UIView;
class WKWebView;

class MinibrowserViewController : public UIViewController, public WKNavigationDelegate {
public:
    // `url` may be empty: nothing is loaded then.
    static std::shared_ptr<MinibrowserViewController> initWithURL(std::shared_ptr<NSURL> url, OEContext context);
    MinibrowserViewController(std::shared_ptr<NSURL> url, OEContext context);

    const std::shared_ptr<NSURL>& url() const { return url_; }
    const std::shared_ptr<WKWebView>& webView() const { return webView_; }
    const std::shared_ptr<UIActivityIndicatorView>& loading() const { return loading_; }
    // "This page cannot be shown." in place of the page after a load failed (not one cut short
    // by another), with the reason below it; hidden again as the next load starts. Meanwhile a
    // screen without a title of its own (none, or one a page gave it) says "Cannot show the
    // page" in its bar.
    const std::shared_ptr<UILabel>& failureLabel() const { return failureLabel_; }
    const std::shared_ptr<UILabel>& failureReasonLabel() const { return failureReasonLabel_; }
    // Navigations started and not yet finished or failed.
    std::int64_t framesLoadCounter() const { return framesLoadCounter_; }
    // Run after each completed load; empty for none.
    const std::string& postLoadScript() const { return postLoadScript_; }
    void setPostLoadScript(const std::string& script) { postLoadScript_ = script; }

    void viewDidLoad() override;
    void close();
    // Loads the address again; only web addresses (http, https) are loaded.
    void reloadPage();
    // Takes the page's title when the screen has none.
    void updateTitle();

    void decidePolicyForNavigationAction(WKWebView& webView, const WKNavigationAction& action,
                                         DecisionHandler decisionHandler) override;
    void didStartProvisionalNavigation(WKWebView& webView, const std::shared_ptr<WKNavigation>& navigation) override;
    void didFinishNavigation(WKWebView& webView, const std::shared_ptr<WKNavigation>& navigation) override;
    void didFailProvisionalNavigation(WKWebView& webView, const std::shared_ptr<WKNavigation>& navigation,
                                      const NSErrorPtr& error) override;
    void didFailNavigation(WKWebView& webView, const std::shared_ptr<WKNavigation>& navigation,
                           const NSErrorPtr& error) override;

protected:
    const OEContext& appContext() const { return context_; }

private:
    // A navigation ended either way: the counter falls; at 0 the spinner stops.
    void navigationEnded();
    void showFailure(const std::shared_ptr<WKNavigation>& navigation, const NSErrorPtr& error);
    void setFailureShown(bool shown);

    std::shared_ptr<NSURL> url_;
    OEContext context_;
    std::shared_ptr<WKWebView> webView_;
    std::shared_ptr<UIActivityIndicatorView> loading_;
    // Lays the two labels out in front of the page, which it hides while they show.
    std::shared_ptr<UIView> failureView_;
    std::shared_ptr<UILabel> failureLabel_;
    std::shared_ptr<UILabel> failureReasonLabel_;
    std::int64_t framesLoadCounter_ = 0;
    std::string postLoadScript_;
    // The title the screen took from a page, "" when it has none or one of its own.
    std::string titleFromPage_;
};
