// The information screen: a title of at most two lines over a text shown as a web page, with
// buttons for the text's alignment and a smaller or larger font, and an item that sends the text
// by e-mail when the device can send mail. Alignment and font size are reading settings shared
// by every information screen.
#pragma once

#include "config/AppConfig.h"
#include "gallery/GalleryContext.h"
#include "platform/messageui/MFMailComposeViewController.h"
#include "platform/ui/UIViewController.h"

#include <cstdint>
#include <memory>
#include <string>

class UIButton;
class UILabel;
class WKWebView;

class UIInfoView : public UIViewController, public MFMailComposeViewControllerDelegate {
public:
    static constexpr std::int64_t kAlignLeft = 0;
    static constexpr std::int64_t kAlignJustify = 1;
    static constexpr std::int64_t kSmallestFontSize = 9;
    static constexpr std::int64_t kLargestFontSize = 18;
    static constexpr CGFloat kButtonBarHeight = 44;

    // The screen built as its interface file lays it out; the caller sets the title and the
    // text, wraps it in a navigation controller and presents it.
    static std::shared_ptr<UIInfoView> initWithContext(GalleryContext context);
    explicit UIInfoView(GalleryContext context);
    // A screen with this title and text, in a new navigation controller that `presenter`
    // presents, animated.
    static std::shared_ptr<UIInfoView> presentInfo(const std::shared_ptr<UIViewController>& presenter,
                                                   GalleryContext context, const std::string& author,
                                                   const std::string& text);

    // The body, an HTML fragment or plain text, put into the page unchanged.
    const std::string& text() const { return text_; }
    void setText(const std::string& text) { text_ = text; }
    const std::string& author() const { return author_; }
    void setAuthor(const std::string& author) { author_ = author; }

    std::int64_t curAlign() const { return curAlign_; }
    const std::shared_ptr<WKWebView>& webView() const { return webView_; }
    const std::shared_ptr<UIButton>& alignButton() const { return alignButton_; }
    const std::shared_ptr<UIButton>& fontZoomOutButton() const { return fontZoomOutButton_; }
    const std::shared_ptr<UIButton>& fontZoomInButton() const { return fontZoomInButton_; }
    // The two-line title in the navigation bar (empty before the view loads).
    const std::shared_ptr<UILabel>& titleLabel() const { return titleLabel_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void didRotateFromInterfaceOrientation(UIInterfaceOrientation fromOrientation) override;

    // The page for the current text, alignment, font size and interface style.
    std::string pageHTML() const;
    void showText();
    void changeAlignButtonImage();
    void alignClick();
    void fontZoomOutClick();
    void fontZoomInClick();
    void closeClick();
    // A mail with the title as subject and the text as its HTML body, when the device can send
    // mail; the composer is dismissed whatever its result.
    void sendEmail();
    void mailComposeControllerDidFinishWithResult(const std::shared_ptr<MFMailComposeViewController>& controller,
                                                  MFMailComposeResult result, const NSErrorPtr& error) override;

private:
    GalleryContext context_;
    std::shared_ptr<AppConfig> settings_;
    std::string text_;
    std::string author_;
    std::int64_t curAlign_ = kAlignLeft;
    std::shared_ptr<WKWebView> webView_;
    std::shared_ptr<UIButton> alignButton_;
    std::shared_ptr<UIButton> fontZoomOutButton_;
    std::shared_ptr<UIButton> fontZoomInButton_;
    std::shared_ptr<UILabel> titleLabel_;
};
