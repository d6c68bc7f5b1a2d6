// A page's link as a button that asks the web view to follow it.
#include "platform/web/WKWebLinkView.h"

#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIColor.h"
#include "platform/web/WKWebView.h"

#include <algorithm>

std::shared_ptr<WKWebLinkView> WKWebLinkView::inText(const std::string& text, const std::string& href,
                                                     const std::shared_ptr<WKWebView>& webView) {
    auto link = std::make_shared<WKWebLinkView>(CGRectZero);
    link->text_ = text;
    link->href_ = href;
    setAccessibilityLabel(*link, text);
    std::weak_ptr<WKWebView> weakView = webView;
    link->addTarget(
        nullptr,
        [weakView, href](const std::shared_ptr<NSObject>&) {
            if (auto view = weakView.lock()) view->activateLink(href);
        },
        UIControlEventTouchUpInside);
    return link;
}

std::shared_ptr<WKWebLinkView> WKWebLinkView::initWithLink(const std::string& text, const std::string& href,
                                                           const std::shared_ptr<WKWebView>& webView) {
    auto link = inText(text, href, webView);
    link->setTitle(text, UIControlStateNormal);
    link->setTitleColor(UIColor::systemBlueColor(), UIControlStateNormal);
    link->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentLeft);
    return link;
}

bool WKWebLinkView::pointInside(const CGPoint& point, const std::shared_ptr<UIEvent>& event) const {
    if (fragments_.empty()) return UIButton::pointInside(point, event);
    return std::any_of(fragments_.begin(), fragments_.end(),
                       [&](const CGRect& r) { return CGRectContainsPoint(r, point); });
}
