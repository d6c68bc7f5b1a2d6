// The information screen: its layout, the page it renders and the reading settings it changes.
#include "gallery/UIInfoView.h"

#include "config/OEConfig.h"
#include "platform/foundation/NSBundle.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/web/WKWebView.h"
#include "uikit/OEImageButtonNames.h"
#include "uikit/UIColorHex.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <cstdlib>

namespace {

// Dark text colours arrived with system version 13.
bool systemFollowsInterfaceStyle() {
    return std::atoi(UIDevice::currentDevice()->systemVersion().c_str()) >= 13;
}

}  // namespace

std::shared_ptr<UIInfoView> UIInfoView::initWithContext(GalleryContext context) {
    return std::make_shared<UIInfoView>(std::move(context));
}

std::shared_ptr<UIInfoView> UIInfoView::presentInfo(const std::shared_ptr<UIViewController>& presenter,
                                                    GalleryContext context, const std::string& author,
                                                    const std::string& text) {
    auto info = initWithContext(std::move(context));
    info->setAuthor(author);
    info->setText(text);
    presenter->presentViewController(UINavigationController::initWithRootViewController(info), true, nullptr);
    return info;
}

UIInfoView::UIInfoView(GalleryContext context)
    : context_(std::move(context)), settings_(AppConfig::sharedAppConfig()) {}

void UIInfoView::loadView() {
    auto root = UIView::initWithFrame(UIScreen::mainScreen()->bounds());
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    const CGSize size = root->bounds().size;
    const CGFloat barTop = size.height - kButtonBarHeight;
    webView_ = WKWebView::initWithFrame({{0, 0}, {size.width, barTop}});
    webView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->addSubview(webView_);

    auto bar = UIView::initWithFrame({{0, barTop}, {size.width, kButtonBarHeight}});
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
    root->addSubview(bar);
    std::weak_ptr<UIInfoView> weakSelf = self<UIInfoView>();
    // System buttons, as the text reader's: their titles take the tint colour, which shows on
    // any configured background (a custom button's white title vanishes on a light one).
    auto button = [&](CGFloat x, unsigned margins, void (UIInfoView::*action)()) {
        auto made = UIButton::buttonWithType(UIButtonTypeSystem);
        made->setFrame({{x, 0}, {kButtonBarHeight, kButtonBarHeight}});
        made->setAutoresizingMask(margins);
        made->addTarget(
            self<UIInfoView>(),
            [weakSelf, action](const std::shared_ptr<NSObject>&) {
                if (auto me = weakSelf.lock()) ((*me).*action)();
            },
            UIControlEventTouchUpInside);
        bar->addSubview(made);
        return made;
    };
    alignButton_ = button(10, UIViewAutoresizingFlexibleRightMargin, &UIInfoView::alignClick);
    fontZoomOutButton_ =
        button(size.width - 2 * kButtonBarHeight - 10, UIViewAutoresizingFlexibleLeftMargin, &UIInfoView::fontZoomOutClick);
    fontZoomOutButton_->setTitle("A-", UIControlStateNormal);
    fontZoomInButton_ =
        button(size.width - kButtonBarHeight - 10, UIViewAutoresizingFlexibleLeftMargin, &UIInfoView::fontZoomInClick);
    fontZoomInButton_->setTitle("A+", UIControlStateNormal);
    setView(root);
}

void UIInfoView::viewDidLoad() {
    UIViewController::viewDidLoad();
    webView_->setBackgroundColor(UIColor::clearColor());
    webView_->setOpaque(false);
    const auto& config = context_.app.config;
    const auto color = config && config->color() ? config->color()->backgroundColor()
                                                 : OEColorConfig::Color::groupTableViewBackground();
    view()->setBackgroundColor(UIColor::colorWithRed(color.red, color.green, color.blue, color.alpha));

    curAlign_ = settings_->intValue(kTextAlignInfoKey);
    changeAlignButtonImage();
    showText();

    std::weak_ptr<UIInfoView> weakSelf = self<UIInfoView>();
    if (MFMailComposeViewController::canSendMail()) {
        navigationItem()->setRightBarButtonItem(
            customBarButtonItemWithImageName(self<UIInfoView>(), "action", [weakSelf](const std::shared_ptr<NSObject>&) {
                if (auto me = weakSelf.lock()) me->sendEmail();
            }));
    }
    if (presentingViewController()) {
        navigationItem()->setLeftBarButtonItem(
            makeCloseButtonWithTitle(self<UIInfoView>(), NSLocalizedStringFromTable("Back", "Core"),
                                     [weakSelf](const std::shared_ptr<NSObject>&) {
                                         if (auto me = weakSelf.lock()) me->closeClick();
                                     }));
    }

    CGSize barSize{};
    if (auto navigation = navigationController()) barSize = navigation->navigationBar()->frame().size;
    titleLabel_ = UILabel::initWithFrame({{0, 0}, {barSize.width - 100, barSize.height - 8}});
    titleLabel_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    titleLabel_->setFont(UIFont::systemFontOfSize(16));
    titleLabel_->setAdjustsFontSizeToFitWidth(false);
    titleLabel_->setNumberOfLines(2);
    titleLabel_->setTextAlignment(NSTextAlignmentCenter);
    titleLabel_->setBackgroundColor(UIColor::clearColor());
    titleLabel_->setText(author_);
    navigationItem()->setTitle(author_);
    navigationItem()->setTitleView(titleLabel_);
}

void UIInfoView::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, animated);
}

void UIInfoView::didRotateFromInterfaceOrientation(UIInterfaceOrientation fromOrientation) {
    UIViewController::didRotateFromInterfaceOrientation(fromOrientation);
    showText();
}

std::string UIInfoView::pageHTML() const {
    const bool dark = systemFollowsInterfaceStyle() &&
                      UIScreen::mainScreen()->userInterfaceStyle() == UIUserInterfaceStyle::Dark;
    const std::string colour = hexString(dark ? UIColor::whiteColor() : UIColor::blackColor());
    const std::string align = curAlign_ == kAlignLeft ? "left" : "justify";
    const std::string link = "{COLOR: #008000; TEXT-DECORATION: none; border-bottom: 1px dashed #008000}";
    return "<html><head><meta name='viewport' content='width=device-width, initial-scale=1.0, maximum-scale=1.0, "
           "minimum-scale=1.0, user-scalable=no'>"
           "<style>p{  margin-top:8px;  margin-bottom:8px; }A:link " +
           link + "A:visited " + link + "A:active " + link +
           "</style></head>"
           "<body style='background-color: transparent'>"
           "<div align=\"" +
           align + "\" style=\"margin: 10px 5px 10px 5px; font-size:" + std::to_string(settings_->intValue(kFontSizeKey)) +
           "pt; color: " + colour + "; font-family:Verdana\">" + text_ + "</div></body></html>";
}

void UIInfoView::showText() {
    if (webView_) webView_->loadHTMLString(pageHTML(), "");
}

void UIInfoView::changeAlignButtonImage() {
    OEImageButtonNames::setImage(alignButton_, curAlign_ != kAlignLeft ? "ajustify" : "aleft");
}

void UIInfoView::alignClick() {
    curAlign_ = curAlign_ == kAlignLeft ? kAlignJustify : kAlignLeft;
    changeAlignButtonImage();
    showText();
    settings_->setInt(curAlign_, kTextAlignInfoKey);
}

void UIInfoView::fontZoomOutClick() {
    const std::int64_t size = settings_->intValue(kFontSizeKey);
    if (size < kSmallestFontSize + 1) return;
    settings_->setInt(size - 1, kFontSizeKey);
    showText();
}

void UIInfoView::fontZoomInClick() {
    const std::int64_t size = settings_->intValue(kFontSizeKey);
    if (size > kLargestFontSize - 1) return;
    settings_->setInt(size + 1, kFontSizeKey);
    showText();
}

void UIInfoView::closeClick() { dismissViewControllerAnimated(true, nullptr); }

void UIInfoView::sendEmail() {
    if (!MFMailComposeViewController::canSendMail()) return;
    auto composer = MFMailComposeViewController::make();
    composer->setMailComposeDelegate(self<UIInfoView>());
    composer->setSubject(author_);
    composer->setMessageBody(text_, true);
    presentViewController(composer, true, nullptr);
}

void UIInfoView::mailComposeControllerDidFinishWithResult(const std::shared_ptr<MFMailComposeViewController>& controller,
                                                          MFMailComposeResult, const NSErrorPtr&) {
    controller->dismissViewControllerAnimated(true, nullptr);
}
