// A link of a page: a button that, tapped, asks its web view to follow the link. A link inside
// a block's text lies over that text, which the block draws in the link colour, and takes
// touches only where the text stands; any other shows its text on a line of its own.
#pragma once

#include "platform/ui/UIButton.h"

#include <memory>
#include <string>
#include <vector>

class WKWebView;

class WKWebLinkView : public UIButton {
public:
    // A link on a line of its own, showing its text.
    static std::shared_ptr<WKWebLinkView> initWithLink(const std::string& text, const std::string& href,
                                                       const std::shared_ptr<WKWebView>& webView);
    using UIButton::UIButton;

    const std::string& linkText() const { return text_; }
    // As the page wrote it.
    const std::string& href() const { return href_; }

private:
    friend class WKWebView;

    // In a block's text, only where the text stands.
    bool pointInside(const CGPoint& point, const std::shared_ptr<UIEvent>& event) const override;

    // A link inside a block's text: it shows nothing itself.
    static std::shared_ptr<WKWebLinkView> inText(const std::string& text, const std::string& href,
                                                 const std::shared_ptr<WKWebView>& webView);
    // Where its text stands, a rectangle per line, in its own coordinates.
    void setFragments(std::vector<CGRect> fragments) { fragments_ = std::move(fragments); }

    std::string text_;
    std::string href_;
    std::vector<CGRect> fragments_;
};
