// The in-app browser's set-up, its load counting and its link policy.
#include "gallery/MinibrowserViewController.h"

#include "config/OEConfig.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/web/WKError.h"
#include "platform/web/WKWebView.h"
#include "platform/web/WebURL.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewToast.h"

#include <algorithm>
#include <limits>

namespace {

bool isWebScheme(const std::string& scheme) { return scheme == "http" || scheme == "https"; }

// Addresses that belong to pages themselves, not to another application: they are neither
// loaded from a link nor handed to the system.
bool isPageScheme(const std::string& scheme) {
    return scheme == "javascript" || scheme == "data" || scheme == "file" || scheme == "about" || scheme == "blob" ||
           scheme == "vbscript" || scheme.empty();
}

// Why a page cannot be shown, in a person's words: its server could not be reached, no secure
// connection could be made, its address led on and on (a redirect loop), nowhere, or away from
// the secure server it was asked of, or what came is more than this browser shows; where neither
// the failure nor one beneath it tells, only that something went wrong.
std::string failureReason(const NSErrorPtr& failure) {
    for (NSErrorPtr error = failure; error; error = error->userInfo()[NSUnderlyingErrorKey].objectAs<NSError>()) {
        if (error->domain() == NSURLErrorDomain) {
            if (NSURLErrorIsUnreachable(error->code())) return OECoreString("The server cannot be reached.");
            switch (error->code()) {
            case NSURLErrorSecureConnectionFailed:
            case NSURLErrorServerCertificateUntrusted:
                return OECoreString("A secure connection to the server cannot be made.");
            case NSURLErrorDataLengthExceedsMaximum: return OECoreString("The page is too long to be shown.");
            case NSURLErrorHTTPTooManyRedirects: return OECoreString("The page redirects too many times.");
            case NSURLErrorRedirectToNonExistentLocation: return OECoreString("The page redirects to no address.");
            case NSURLErrorRedirectRefused:
                return OECoreString(
                    "The page redirects away from its secure server, and this browser does not follow it there.");
            default: break;
            }
        }
        // The web view's own: it could not lay out what came.
        if (error->domain() == WKErrorDomain) return OECoreString("The page is too complex to be shown.");
    }
    return OECoreString("Undefined error was occured");
}

// The failed page's words over the page, centred: what happened, then why.
class FailureView : public UIView {
public:
    FailureView(std::shared_ptr<UILabel> headline, std::shared_ptr<UILabel> reason)
        : headline_(std::move(headline)), reason_(std::move(reason)) {}

    void layoutSubviews() override {
        constexpr CGFloat kMargin = 20, kGap = 8;
        const CGFloat width = std::max<CGFloat>(0, bounds().size.width - 2 * kMargin);
        const CGSize most{width, std::numeric_limits<CGFloat>::max()};
        const CGFloat top = headline_->sizeThatFits(most).height, below = reason_->sizeThatFits(most).height;
        const CGFloat y = std::max(kMargin, (bounds().size.height - top - kGap - below) / 2);
        headline_->setFrame(CGRectMake(kMargin, y, width, top));
        reason_->setFrame(CGRectMake(kMargin, y + top + kGap, width, below));
    }

private:
    std::shared_ptr<UILabel> headline_, reason_;
};

std::shared_ptr<UILabel> failureLabelWithFont(const std::shared_ptr<UIFont>& font) {
    auto label = UILabel::make();
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setNumberOfLines(0);
    label->setFont(font);
    return label;
}

}  // namespace

std::shared_ptr<MinibrowserViewController> MinibrowserViewController::initWithURL(std::shared_ptr<NSURL> url,
                                                                                   OEContext context) {
    return std::make_shared<MinibrowserViewController>(std::move(url), std::move(context));
}

MinibrowserViewController::MinibrowserViewController(std::shared_ptr<NSURL> url, OEContext context)
    : url_(std::move(url)), context_(std::move(context)) {}

void MinibrowserViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    const auto& config = context_.config;
    const auto c = config && config->color() ? config->color()->backgroundColor()
                                             : OEColorConfig::Color::groupTableViewBackground();
    view()->setBackgroundColor(UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha));

    webView_ = WKWebView::initWithFrame(view()->bounds());
    webView_->setNavigationDelegate(self<MinibrowserViewController>());
    webView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    view()->addSubview(webView_);
    loading_ = showGrayActivityIndicator(webView_, false);
    // In front of the page, in the same place, shown only when a page cannot be shown: it covers
    // whatever page the web view still holds, as a person would see it, and takes the touches
    // meant for it.
    failureLabel_ = failureLabelWithFont(UIFont::systemFontOfSize(17));
    failureReasonLabel_ = failureLabelWithFont(UIFont::systemFontOfSize(15));
    failureView_ = std::make_shared<FailureView>(failureLabel_, failureReasonLabel_);
    failureView_->setBackgroundColor(webView_->backgroundColor());
    failureView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    failureView_->addSubview(failureLabel_);
    failureView_->addSubview(failureReasonLabel_);
    view()->addSubview(failureView_);
    setFailureShown(false);
    auto safeArea = view()->safeAreaLayoutGuide();
    for (const auto& pinned : {std::static_pointer_cast<UIView>(webView_), failureView_}) {
        NSLayoutConstraint::activateConstraints(
            {pinned->topAnchor()->constraintEqualToAnchor(safeArea->topAnchor()),
             pinned->leftAnchor()->constraintEqualToAnchor(view()->leftAnchor()),
             pinned->rightAnchor()->constraintEqualToAnchor(view()->rightAnchor()),
             pinned->bottomAnchor()->constraintEqualToAnchor(safeArea->bottomAnchor())});
    }

    std::weak_ptr<MinibrowserViewController> weak = self<MinibrowserViewController>();
    auto navigation = navigationController();
    if (navigation && navigation->presentingViewController()) {
        navigationItem()->setLeftBarButtonItem(UIBarButtonItemCommon::makeDoneButtonWithTitle(
            OECoreString("Close"), self<MinibrowserViewController>(), [weak](const std::shared_ptr<NSObject>&) {
                if (auto me = weak.lock()) me->close();
            }));
    }
    navigationItem()->setRightBarButtonItem(UIBarButtonItemCommon::makeSystemButton(
        UIBarButtonSystemItemRefresh, self<MinibrowserViewController>(), [weak](const std::shared_ptr<NSObject>&) {
            if (auto me = weak.lock()) me->reloadPage();
        }));
    reloadPage();
}

void MinibrowserViewController::close() { dismissViewControllerAnimated(true, nullptr); }

void MinibrowserViewController::reloadPage() {
    // An address of another kind (a file of the device, a script) is never opened here, whoever gave it.
    if (!url_ || !webView_ || !isWebScheme(url_->scheme())) return;
    (void)webView_->loadRequest(NSURLRequest::requestWithURL(url_));
}

void MinibrowserViewController::updateTitle() {
    if (!webView_) return;
    std::weak_ptr<MinibrowserViewController> weak = self<MinibrowserViewController>();
    webView_->evaluateJavaScript("document.title", [weak](const Value& result, const NSErrorPtr& error) {
        auto me = weak.lock();
        if (!me || error || !result.isString() || result.stringValue().empty()) return;
        if (!me->title().empty()) return;
        me->setTitle(result.stringValue());
        me->titleFromPage_ = result.stringValue();
    });
}

void MinibrowserViewController::decidePolicyForNavigationAction(WKWebView&, const WKNavigationAction& action,
                                                                 DecisionHandler decisionHandler) {
    if (action.navigationType() != WKNavigationType::LinkActivated) {
        decisionHandler(WKNavigationActionPolicy::Allow);
        return;
    }
    const std::string& url = action.requestURL();
    const std::string scheme = WebURL::scheme(url);
    if (isWebScheme(scheme)) {
        decisionHandler(WKNavigationActionPolicy::Allow);
        return;
    }
    // Another application's address (mail, telephone, a store): the system opens it when it can;
    // the page stays.
    auto application = UIApplication::sharedApplication();
    if (!isPageScheme(scheme) && application && application->canOpenURL(url)) application->openURL(url, {}, nullptr);
    decisionHandler(WKNavigationActionPolicy::Cancel);
}

void MinibrowserViewController::didStartProvisionalNavigation(WKWebView&, const std::shared_ptr<WKNavigation>&) {
    if (failureView_ && !failureView_->isHidden()) {
        setFailureShown(false);
        // The failure's title goes with it; the screen's own, if any, was kept.
        navigationItem()->setTitle(title());
    }
    if (framesLoadCounter_++ == 0 && loading_) loading_->startAnimating();
}

void MinibrowserViewController::didFinishNavigation(WKWebView& webView, const std::shared_ptr<WKNavigation>&) {
    if (framesLoadCounter_ <= 0) return;
    if (--framesLoadCounter_ != 0) return;
    updateTitle();
    if (postLoadScript_.empty()) {
        if (loading_) loading_->stopAnimating();
        return;
    }
    std::weak_ptr<MinibrowserViewController> weak = self<MinibrowserViewController>();
    webView.evaluateJavaScript(postLoadScript_, [weak](const Value&, const NSErrorPtr&) {
        auto me = weak.lock();
        // A load that started meanwhile keeps the spinner turning.
        if (me && me->loading_ && me->framesLoadCounter_ == 0) me->loading_->stopAnimating();
    });
}

void MinibrowserViewController::didFailProvisionalNavigation(WKWebView&, const std::shared_ptr<WKNavigation>& navigation,
                                                             const NSErrorPtr& error) {
    showFailure(navigation, error);
    navigationEnded();
}

void MinibrowserViewController::didFailNavigation(WKWebView&, const std::shared_ptr<WKNavigation>& navigation,
                                                  const NSErrorPtr& error) {
    showFailure(navigation, error);
    navigationEnded();
}

void MinibrowserViewController::showFailure(const std::shared_ptr<WKNavigation>& navigation, const NSErrorPtr& error) {
    // A load cut short by another (a reload, a link) is no failure of the page.
    if (error && error->domain() == NSURLErrorDomain && error->code() == NSURLErrorCancelled) return;
    Diagnostics::notef("The page %s cannot be shown: %s", navigation ? navigation->url().c_str() : "",
                       error ? error->localizedDescription().c_str() : "no reason given");
    if (!failureView_) return;
    failureLabel_->setText(OECoreString("This page cannot be shown."));
    failureReasonLabel_->setText(failureReason(error));
    setFailureShown(true);
    failureView_->setNeedsLayout();
    // A screen without a title of its own (none, or an earlier page's) names the failure in its
    // bar, while the screen itself keeps its title: the first page that loads still gives it one.
    if (title().empty() || title() == titleFromPage_) navigationItem()->setTitle(OECoreString("Cannot show the page"));
}

void MinibrowserViewController::setFailureShown(bool shown) {
    failureView_->setHidden(!shown);
    failureLabel_->setHidden(!shown);
    failureReasonLabel_->setHidden(!shown);
}

void MinibrowserViewController::navigationEnded() {
    if (framesLoadCounter_ <= 0) return;
    if (--framesLoadCounter_ == 0 && loading_) loading_->stopAnimating();
}
