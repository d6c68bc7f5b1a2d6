// A page's link as a button that asks the web view to follow it.
#include "platform/web/WKWebLinkView.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/web/WKWebView.h"

std::shared_ptr<WKWebLinkView> WKWebLinkView::initWithLink(const std::string& text, const std::string& href,
                                                           const std::shared_ptr<WKWebView>& webView) {
    auto link = std::make_shared<WKWebLinkView>(CGRectZero);
    link->text_ = text;
    link->href_ = href;
    link->setTitle(text, UIControlStateNormal);
    link->setTitleColor(UIColor::systemBlueColor(), UIControlStateNormal);
    link->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentLeft);
    std::weak_ptr<WKWebView> weakView = webView;
    link->addTarget(
        nullptr,
        [weakView, href](const std::shared_ptr<NSObject>&) {
            if (auto view = weakView.lock()) view->activateLink(href);
        },
        UIControlEventTouchUpInside);
    return link;
}
