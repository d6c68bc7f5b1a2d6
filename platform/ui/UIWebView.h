// A web view that keeps the page it was given: the markup, its base address, and the text a
// reader would see (no styles or scripts are run, nothing is fetched).
#pragma once

#include "platform/ui/UIView.h"

#include <memory>
#include <string>

class UIWebView : public UIView {
public:
    static std::shared_ptr<UIWebView> make() { return std::make_shared<UIWebView>(); }
    static std::shared_ptr<UIWebView> initWithFrame(const CGRect& frame) { return std::make_shared<UIWebView>(frame); }
    using UIView::UIView;

    // An empty base address means none.
    void loadHTMLString(const std::string& html, const std::string& baseURL);
    const std::string& html() const { return html_; }
    const std::string& baseURL() const { return baseURL_; }
    int loadCount() const { return loadCount_; }

    // The body's text: tags dropped, the head (with its styles) and scripts left out, paragraph
    // and line breaks as new lines, character references decoded, runs of blanks as one space.
    std::string text() const;

private:
    std::string html_;
    std::string baseURL_;
    int loadCount_ = 0;
};
