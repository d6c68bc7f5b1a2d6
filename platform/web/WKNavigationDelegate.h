// What a web view tells the screen that owns it about its loads, and asks it before it follows a
// link. Every navigation that was reported as started is reported once more, as finished or as
// failed; a navigation cut short by a newer one fails with NSURLErrorCancelled.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/web/WKNavigation.h"
#include "platform/web/WKNavigationAction.h"

#include <functional>
#include <memory>

class WKWebView;

class WKNavigationDelegate {
public:
    using DecisionHandler = std::function<void(WKNavigationActionPolicy policy)>;

    virtual ~WKNavigationDelegate() = default;

    // Asked before a link is followed; the handler must be called once. Allows by default.
    virtual void decidePolicyForNavigationAction(WKWebView& webView, const WKNavigationAction& action,
                                                 DecisionHandler decisionHandler) {
        (void)webView;
        (void)action;
        decisionHandler(WKNavigationActionPolicy::Allow);
    }
    virtual void didStartProvisionalNavigation(WKWebView&, const std::shared_ptr<WKNavigation>&) {}
    virtual void didFinishNavigation(WKWebView&, const std::shared_ptr<WKNavigation>&) {}
    // The address could not be loaded (no answer, an address this view does not load, cancelled).
    virtual void didFailProvisionalNavigation(WKWebView&, const std::shared_ptr<WKNavigation>&, const NSErrorPtr&) {}
    // The page failed after its content had begun to arrive.
    virtual void didFailNavigation(WKWebView&, const std::shared_ptr<WKNavigation>&, const NSErrorPtr&) {}
};
