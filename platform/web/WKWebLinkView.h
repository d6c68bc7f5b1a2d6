// A link of a page: a button showing the link's text that, tapped, asks its web view to follow
// the link.
#pragma once

#include "platform/ui/UIButton.h"

#include <memory>
#include <string>

class WKWebView;

class WKWebLinkView : public UIButton {
public:
    static std::shared_ptr<WKWebLinkView> initWithLink(const std::string& text, const std::string& href,
                                                       const std::shared_ptr<WKWebView>& webView);
    using UIButton::UIButton;

    const std::string& linkText() const { return text_; }
    // As the page wrote it.
    const std::string& href() const { return href_; }

private:
    std::string text_;
    std::string href_;
};
