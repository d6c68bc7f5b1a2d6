// The high-resolution request form and the request it sends.
#include "gallery/UIRequestHD.h"

#include "config/OEConfig.h"
#include "content/NSStringLikes.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "uikit/ActivityView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <algorithm>

namespace {
constexpr CGFloat kFieldTop = 84;
constexpr CGFloat kFieldHeight = 36;
constexpr CGFloat kMargin = 20;
}  // namespace

std::shared_ptr<UIRequestHD> UIRequestHD::initWithImageData(Value::Dictionary row, GalleryContext context) {
    return std::make_shared<UIRequestHD>(std::move(row), std::move(context));
}

UIRequestHD::UIRequestHD(Value::Dictionary row, GalleryContext context)
    : context_(std::move(context)), imageData_(std::move(row)) {}

bool UIRequestHD::isPlausibleAddress(const std::string& address) {
    const auto at = address.find('@');
    if (at == std::string::npos || at == 0 || at + 1 == address.size() || address.find('@', at + 1) != std::string::npos)
        return false;
    return std::none_of(address.begin(), address.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f;
    });
}

std::optional<std::string> UIRequestHD::requestURL(const std::string& address) const {
    const auto& config = context_.app.config;
    const std::string format = config && config->urlFormat() ? config->urlFormat()->request() : std::string();
    if (format.empty()) return std::nullopt;
    const auto& locale = context_.localizations();
    const std::string showName = locale.localizedAuthorFieldValue(imageData_) + " - " + locale.localizedNameFieldValue(imageData_);
    // Every value encoded, so none can end its parameter or add another.
    return NSString::format(format, NSStringLikes::percentEncode(address),
                            NSStringLikes::percentEncode(imageData_.get("imagePath").stringValue()),
                            NSStringLikes::percentEncode(showName));
}

void UIRequestHD::loadView() {
    const CGRect screen = UIScreen::mainScreen()->bounds();
    auto root = UIView::initWithFrame(screen);
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    emailField_ = UITextField::initWithFrame(CGRectMake(kMargin, kFieldTop, screen.size.width - 2 * kMargin, kFieldHeight));
    emailField_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    emailField_->setBorderStyle(UITextBorderStyleRoundedRect);
    emailField_->setKeyboardType(UIKeyboardTypeEmailAddress);
    emailField_->setAutocapitalizationType(UITextAutocapitalizationTypeNone);
    emailField_->setAutocorrectionType(UITextAutocorrectionTypeNo);
    emailField_->setReturnKeyType(UIReturnKeySend);
    root->addSubview(emailField_);
    setView(root);
}

void UIRequestHD::viewDidLoad() {
    UIViewController::viewDidLoad();
    emailField_->setDelegate(self<UIRequestHD>());
    emailField_->setPlaceholder(OECoreString("Enter Email Address"));
    emailField_->setText(NSUserDefaults::standardUserDefaults()->stringForKey(kRequestEmailKey));
    const auto& config = context_.app.config;
    const auto color = config && config->color() ? config->color()->backgroundColor()
                                                 : OEColorConfig::Color::groupTableViewBackground();
    view()->setBackgroundColor(UIColor::colorWithRed(color.red, color.green, color.blue, color.alpha));
    std::weak_ptr<UIRequestHD> weak = self<UIRequestHD>();
    navigationItem()->setLeftBarButtonItem(makeCancelButton(self<UIRequestHD>(), [weak](const std::shared_ptr<NSObject>&) {
        if (auto me = weak.lock()) me->cancelClick();
    }));
    navigationItem()->setRightBarButtonItem(
        makeDoneButtonWithTitle(self<UIRequestHD>(), OECoreString("Request"), [weak](const std::shared_ptr<NSObject>&) {
            if (auto me = weak.lock()) me->doneClick();
        }));
}

void UIRequestHD::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    (void)emailField_->becomeFirstResponder();
}

bool UIRequestHD::textFieldShouldReturn(const std::shared_ptr<UITextField>& field) {
    if (!field || field->text().empty()) return false;
    doneClick();
    return true;
}

void UIRequestHD::doneClick() {
    (void)emailField_->resignFirstResponder();
    const std::string address = emailField_->text();
    const auto url = isPlausibleAddress(address) ? requestURL(address) : std::nullopt;
    if (!url) {
        showErrorAlertWithMessage(self<UIRequestHD>(), OECoreString("Enter Email Address"));
        return;
    }
    if (request_) request_->cancel();
    request_ = HTTPrequest::make(context_.app.fileSystem);
    request_->setDelegate(self<UIRequestHD>());
    request_->sendRequest(*url);
    ActivityView::sharedActivityView()->showActivityIndicatorWithMessage(OECoreString("Requesting HD Image..."));
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (!defaults->setObject(Value(address), kRequestEmailKey) || !defaults->synchronize())
        Diagnostics::notef("The e-mail address for high-resolution pictures could not be kept.");
}

void UIRequestHD::cancelClick() {
    if (request_) {
        // A request still running is not wanted any more: its overlay goes with it.
        request_->cancel();
        request_.reset();
        ActivityView::sharedActivityView()->hideActivityIndicator();
    }
    dismissViewControllerAnimated(true, nullptr);
}

void UIRequestHD::httpRequestDataLoaded(const std::shared_ptr<HTTPrequest>& request, const NSData&) {
    if (request != request_) return;
    request_.reset();
    ActivityView::sharedActivityView()->hideActivityIndicator();
    dismissViewControllerAnimated(true, nullptr);
}

void UIRequestHD::httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr&) {
    if (request != request_) return;
    request_.reset();
    ActivityView::sharedActivityView()->hideActivityIndicator();
    showUndefinedErrorAlert(self<UIRequestHD>());
}
