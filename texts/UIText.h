// The text reader: one text of a list as an HTML page, set in the reader's font size (9 to 23
// points), alignment (left, justify, center) and font family; paging to the previous and next
// text (wrapping round), a favourite toggle, and links in a text that open a picture of the
// gallery full-screen ("imageLink_<index>", "imagePath_<path>"). Showing a text marks it read.
#pragma once

#include "content/OESearch.h"
#include "platform/ui/UIViewController.h"
#include "platform/web/WKNavigationDelegate.h"
#include "texts/TextEntry.h"
#include "texts/TextsContext.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class AppConfig;
class UIBarButtonItem;
class UIButton;
class UILabel;
class WKWebView;

class UIText : public UIViewController, public WKNavigationDelegate {
public:
    // The screen of the interface file "UIText".
    static std::shared_ptr<UIText> initWithNibName(const std::string& nibName, TextsContext context);
    explicit UIText(TextsContext context);

    const std::vector<TextEntry>& texts() const { return texts_; }
    void setTexts(std::vector<TextEntry> texts) { texts_ = std::move(texts); }
    // The position of the text shown.
    long firstText() const { return firstText_; }
    void setFirstText(long position) { firstText_ = position; }
    // 0 a subcategory's texts, 1 favourites; the reader does not use it.
    std::int32_t mode() const { return mode_; }
    void setMode(std::int32_t mode) { mode_ = mode; }
    const std::shared_ptr<WKWebView>& webView() const { return webView_; }
    const std::shared_ptr<UILabel>& catLabel() const { return catLabel_; }
    const std::shared_ptr<UIButton>& alignButton() const { return alignButton_; }
    const std::shared_ptr<UIButton>& prevButton() const { return prevButton_; }
    const std::shared_ptr<UIButton>& nextButton() const { return nextButton_; }
    const std::shared_ptr<UIButton>& fontZoomOutButton() const { return fontZoomOutButton_; }
    const std::shared_ptr<UIButton>& fontZoomInButton() const { return fontZoomInButton_; }
    const std::shared_ptr<UIBarButtonItem>& favoritesButton() const { return favoritesButton_; }
    // 0 left, 1 justify, 2 center.
    long currentAlignment() const { return curAlign_; }

    // The page of the text, as the web view gets it.
    std::string pageHTML(const TextEntry& entry) const;
    void showText(const TextEntry& entry);
    void changeAlignButtonImage();
    void updateFavoritesButton(const TextEntry& entry);
    void alignClick();
    void favoritesClick();
    void nextClick();
    void prevClick();
    void closeClick();
    void fontZoomOutClick();
    void fontZoomInClick();

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void didRotateFromInterfaceOrientation(UIInterfaceOrientation fromOrientation) override;

    void decidePolicyForNavigationAction(WKWebView& webView, const WKNavigationAction& action,
                                         DecisionHandler decisionHandler) override;

    static constexpr long kMinFontSize = 9;
    static constexpr long kMaxFontSize = 23;
    static constexpr double kButtonBarHeight = 44;
    // The family when the user default "fontName" names none (or nothing that can be used).
    static constexpr const char* kDefaultFontFamily = "Arial";
    // A font family as it may stand in the page's style: the characters that could end the
    // style or the page's markup are dropped; "" when nothing is left.
    static std::string safeFontFamily(const std::string& name);

private:
    void showCurrentText();
    // The stored size, kept within 9..23.
    long fontSize() const;
    void openPicture(const ContentRowList& rows);

    TextsContext context_;
    std::shared_ptr<AppConfig> settings_;
    std::vector<TextEntry> texts_;
    long firstText_ = 0;
    std::int32_t mode_ = 0;
    long curAlign_ = 1;
    std::shared_ptr<WKWebView> webView_;
    std::shared_ptr<UILabel> catLabel_;
    std::shared_ptr<UIButton> alignButton_;
    std::shared_ptr<UIButton> prevButton_;
    std::shared_ptr<UIButton> nextButton_;
    std::shared_ptr<UIButton> fontZoomOutButton_;
    std::shared_ptr<UIButton> fontZoomInButton_;
    std::shared_ptr<UIBarButtonItem> favoritesButton_;
};
