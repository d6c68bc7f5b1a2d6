// The text reader: its page, its settings and its picture links.
#include "texts/UIText.h"

#include "config/AppConfig.h"
#include "config/OEConfig.h"
#include "content/ImagePathDataSource.h"
#include "content/Loader.h"
#include "content/OneImage_DataSource.h"
#include "content/dbEntry.h"
#include "gallery/PhotoPageViewController.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/net/NSURL.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIToolbar.h"
#include "platform/web/WKWebView.h"
#include "uikit/ActivityView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEImageButtonNames.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <algorithm>
#include <cctype>

namespace {

const char* const kAlignWords[] = {"left", "justify", "center"};
const char* const kAlignImages[] = {"aleft", "ajustify", "acenter"};

std::shared_ptr<UIColor> colorOf(const OEColorConfig::Color& c) {
    return UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha);
}

// The leading whole number of a text, as the platform's integerValue reads it (0 for none).
std::int64_t leadingInteger(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value > (INT64_MAX - 9) / 10) return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

std::shared_ptr<UIText> UIText::initWithNibName(const std::string&, TextsContext context) {
    return std::make_shared<UIText>(std::move(context));
}

UIText::UIText(TextsContext context)
    : context_(std::move(context)), settings_(AppConfig::sharedAppConfig()) {}

void UIText::loadView() {
    // The interface file's layout: the page over a bar of the five buttons.
    auto root = UIView::initWithFrame(UIScreen::mainScreen()->bounds());
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    const CGSize size = root->bounds().size;
    const double barTop = size.height - kButtonBarHeight;
    catLabel_ = UILabel::initWithFrame(CGRectMake(0, 0, size.width, 0));
    catLabel_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    root->addSubview(catLabel_);
    webView_ = WKWebView::initWithFrame(CGRectMake(0, 0, size.width, barTop));
    webView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->addSubview(webView_);

    auto bar = UIView::initWithFrame(CGRectMake(0, barTop, size.width, kButtonBarHeight));
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
    root->addSubview(bar);
    std::weak_ptr<UIText> weak = self<UIText>();
    auto button = [&](double x, unsigned margins, const std::string& title, void (UIText::*action)()) {
        auto made = UIButton::buttonWithType(UIButtonTypeSystem);
        made->setFrame(CGRectMake(x, 0, kButtonBarHeight, kButtonBarHeight));
        made->setAutoresizingMask(margins);
        if (!title.empty()) made->setTitle(title, UIControlStateNormal);
        made->addTarget(
            self<UIText>(),
            [weak, action](const std::shared_ptr<NSObject>&) {
                if (auto me = weak.lock()) ((*me).*action)();
            },
            UIControlEventTouchUpInside);
        bar->addSubview(made);
        return made;
    };
    const double middle = size.width / 2;
    alignButton_ = button(10, UIViewAutoresizingFlexibleRightMargin, "", &UIText::alignClick);
    const unsigned centred = UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin;
    prevButton_ = button(middle - kButtonBarHeight - 5, centred, "<", &UIText::prevClick);
    nextButton_ = button(middle + 5, centred, ">", &UIText::nextClick);
    fontZoomOutButton_ =
        button(size.width - 2 * kButtonBarHeight - 10, UIViewAutoresizingFlexibleLeftMargin, "A-", &UIText::fontZoomOutClick);
    fontZoomInButton_ =
        button(size.width - kButtonBarHeight - 10, UIViewAutoresizingFlexibleLeftMargin, "A+", &UIText::fontZoomInClick);
    setView(root);
}

void UIText::viewDidLoad() {
    UIViewController::viewDidLoad();
    const auto& config = context_.app().config;
    view()->setBackgroundColor(colorOf(config && config->color() ? config->color()->backgroundColor()
                                                                 : OEColorConfig::Color::groupTableViewBackground()));
    std::weak_ptr<UIText> weak = self<UIText>();
    favoritesButton_ = makePlainButtonWithImageName(self<UIText>(), "favorite_off", [weak](const std::shared_ptr<NSObject>&) {
        if (auto me = weak.lock()) me->favoritesClick();
    });
    navigationItem()->setRightBarButtonItem(favoritesButton_);
    webView_->setBackgroundColor(UIColor::clearColor());
    webView_->setOpaque(false);
    webView_->setNavigationDelegate(self<UIText>());
    curAlign_ = std::clamp<long>(static_cast<long>(settings_->intValue(kTextAlignKey)), 0, 2);
    changeAlignButtonImage();
    showCurrentText();
    // Presented in a navigation controller of its own (from the pad's split view): it closes itself.
    auto navigation = navigationController();
    if (navigation && navigation->viewControllers().size() == 1 && navigation->viewControllers().front().get() == this) {
        navigationItem()->setLeftBarButtonItem(makeCloseButtonWithTitle(
            self<UIText>(), OECoreString("Back"), [weak](const std::shared_ptr<NSObject>&) {
                if (auto me = weak.lock()) me->closeClick();
            }));
    }
}

void UIText::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    const auto& config = context_.app().config;
    if (auto navigation = navigationController(); navigation && config && config->color()) {
        const auto tint = colorOf(config->color()->settingsColor());
        navigation->navigationBar()->setTintColor(tint);
        navigation->toolbar()->setTintColor(tint);
        navigation->setToolbarHidden(true, animated);
    }
    ActivityView::sharedActivityView()->hideActivityIndicator();
}

void UIText::didRotateFromInterfaceOrientation(UIInterfaceOrientation from) {
    UIViewController::didRotateFromInterfaceOrientation(from);
    showCurrentText();
}

long UIText::fontSize() const {
    return std::clamp<long>(static_cast<long>(settings_->intValue(kFontSizeTextsKey)), kMinFontSize, kMaxFontSize);
}

std::string UIText::safeFontFamily(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        // Quotes, the backslash and these would end the family, the style or the markup around it.
        if (c < 0x20 || c == 0x7F || std::string_view("'\"\\<>;{}&").find(static_cast<char>(c)) != std::string_view::npos)
            continue;
        out += static_cast<char>(c);
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string UIText::pageHTML(const TextEntry& entry) const {
    std::string family = safeFontFamily(NSUserDefaults::standardUserDefaults()->stringForKey(kFontNameKey));
    if (family.empty()) family = kDefaultFontFamily;
    const std::string imageStyle =
        NSString::format("<style type=\"text/css\">img {width: %d%%; display: block; margin: 0 auto;}</style>", 95);
    const std::string viewport =
        "<meta name='viewport' content='width=device-width, initial-scale=1.0, maximum-scale=1.0, minimum-scale=1.0, "
        "user-scalable=no'></head>";
    const long size = fontSize();
    return NSString::format(
        "<html><head>%@%@</head><body style='background-color: transparent'><div align=\"center\" "
        "style=\"font-size:%ldpt;\"><h2>%@</h2></div><div align=\"%@\" style=\"margin: -10px 0px 0px -5px; "
        "font-size:%ldpt;font-family:'%@'\">%@</div></body></html>",
        imageStyle, viewport, size + 1, entry.shortText, kAlignWords[curAlign_], size, family, entry.fullText);
}

void UIText::showText(const TextEntry& entry) {
    std::string base;
    if (auto bundle = NSBundle::mainBundle()) {
        if (auto url = NSURL::fileURLWithPath(bundle->resourcePath())) base = url->absoluteString();
        if (!base.empty() && base.back() != '/') base += '/';
    }
    if (webView_) (void)webView_->loadHTMLString(pageHTML(entry), base);
    if (context_.textServer) context_.textServer->resetText(entry);
    NSNotificationCenter::defaultCenter()->postNotificationName(MTextStatusUpdate, nullptr);
    setTitle(NSString::format("%ld/%ld", firstText_ + 1, static_cast<long>(texts_.size())));
    updateFavoritesButton(entry);
}

void UIText::showCurrentText() {
    // A list shorter than the position given shows its last text; an empty one nothing.
    if (texts_.empty()) return;
    firstText_ = std::clamp<long>(firstText_, 0, static_cast<long>(texts_.size()) - 1);
    showText(texts_[static_cast<std::size_t>(firstText_)]);
}

void UIText::changeAlignButtonImage() {
    if (!alignButton_) return;
    auto image = UIImage::imageNamed(kAlignImages[curAlign_]);
    alignButton_->setBackgroundImage(image, UIControlStateNormal);
    alignButton_->setBackgroundImage(image, UIControlStateHighlighted);
    setAccessibilityLabel(*alignButton_, OEImageButtonNames::nameForImage(kAlignImages[curAlign_]));
}

void UIText::updateFavoritesButton(const TextEntry& entry) {
    if (!favoritesButton_) return;
    const bool favourite = context_.textServer && context_.textServer->textInFavorites(entry);
    favoritesButton_->setImage(UIImage::imageNamed(favourite ? "favorite_on" : "favorite_off"));
    setAccessibilityToggle(*favoritesButton_, favourite);
}

void UIText::alignClick() {
    curAlign_ = (curAlign_ + 1) % 3;
    changeAlignButtonImage();
    showCurrentText();
    settings_->setInt(curAlign_, kTextAlignKey);
}

void UIText::favoritesClick() {
    if (texts_.empty() || !context_.textServer) return;
    const TextEntry& entry = texts_[static_cast<std::size_t>(firstText_)];
    if (context_.textServer->textInFavorites(entry)) context_.textServer->deleteFavorite(entry);
    else context_.textServer->addTextToFavorites(entry);
    updateFavoritesButton(entry);
}

void UIText::nextClick() {
    if (texts_.empty()) return;
    firstText_ = firstText_ + 1 >= static_cast<long>(texts_.size()) ? 0 : firstText_ + 1;
    showCurrentText();
}

void UIText::prevClick() {
    if (texts_.empty()) return;
    firstText_ = firstText_ <= 0 ? static_cast<long>(texts_.size()) - 1 : firstText_ - 1;
    showCurrentText();
}

void UIText::closeClick() {
    if (presentingViewController() || (navigationController() && navigationController()->presentingViewController()))
        dismissViewControllerAnimated(true, nullptr);
}

void UIText::fontZoomOutClick() {
    settings_->setInt(std::max(kMinFontSize, fontSize() - 1), kFontSizeTextsKey);
    showCurrentText();
}

void UIText::fontZoomInClick() {
    settings_->setInt(std::min(kMaxFontSize, fontSize() + 1), kFontSizeTextsKey);
    showCurrentText();
}

void UIText::openPicture(const ContentRowList& rows) {
    auto pager = PhotoPageViewController::initWithImagesData(rows, nullptr, 0, context_.gallery);
    // No such picture: the pager has nothing to show.
    if (!pager) return;
    pager->setHideControlls(true);
    if (context_.showController) context_.showController(pager, true);
}

void UIText::decidePolicyForNavigationAction(WKWebView&, const WKNavigationAction& action,
                                             DecisionHandler decisionHandler) {
    if (action.navigationType() != WKNavigationType::LinkActivated) {
        decisionHandler(WKNavigationActionPolicy::Allow);
        return;
    }
    // The page never goes anywhere; a picture link opens the picture over it.
    const std::string& url = action.requestURL();
    auto decoded = [](const std::string& text) { return stringByRemovingPercentEncoding(text).value_or(text); };
    const auto& app = context_.app();
    if (const std::size_t at = url.find("imageLink_"); at != std::string::npos) {
        const std::int64_t index = leadingInteger(decoded(url.substr(at + std::string_view("imageLink_").size())));
        if (app.config && app.fileSystem && app.localizations) {
            auto loader = Loader::loaderWithDBEntry(dbEntry::defaultEntry(app.config->database()), app);
            openPicture(OneImage_DataSource::initWithLoader(loader, index)->list());
        }
    } else if (const std::size_t at = url.find("imagePath_"); at != std::string::npos) {
        openPicture(ImagePathDataSource::initWithImagePath(decoded(url.substr(at + std::string_view("imagePath_").size())))
                        ->list());
    }
    decisionHandler(WKNavigationActionPolicy::Cancel);
}
