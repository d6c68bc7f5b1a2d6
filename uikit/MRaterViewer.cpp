// The rating banner: its slide in and out, its screens, and the feedback mail.
#include "uikit/MRaterViewer.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/ui/UIAlertAction.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAppearance.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UIViewAnimation.h"
#include "platform/ui/UIWindow.h"
#include "uikit/MRater.h"
#include "uikit/MRaterTools.h"
#include "uikit/OEMakerContacts.h"

namespace {

constexpr double kSlide = 0.5;
constexpr double kSlideInDelay = 1.0;
constexpr double kFade = 0.3;

std::string defaultTable(const std::string& key) {
    return NSBundle::mainBundle()->localizedStringForKey(key, "", "");
}

std::shared_ptr<UIColor> rgb(int red, int green, int blue, CGFloat alpha) {
    return UIColor::colorWithRed(red / 255.0, green / 255.0, blue / 255.0, alpha);
}

}  // namespace

std::shared_ptr<MRaterViewer> MRaterViewer::make() {
    auto viewer = std::make_shared<MRaterViewer>();
    const CGRect frame = CGRectMake(0, 0, 320, kBannerHeight);
    viewer->viewerView_ = UIView::initWithFrame(frame);
    viewer->viewerView_->setBackgroundColor(rgb(237, 237, 237, 1.0));
    viewer->backgroundImageView_ = UIImageView::initWithFrame(frame);
    viewer->backgroundImageView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (auto image = UIImage::imageNamed("rater_viewer_background"))
        viewer->backgroundImageView_->setImage(image->resizableImageWithCapInsets(UIEdgeInsets{}, UIImageResizingModeTile));
    viewer->viewerView_->addSubview(viewer->backgroundImageView_);
    viewer->viewerView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
    return viewer;
}

MRaterViewer::~MRaterViewer() { unregisterKVO(); }

std::string MRaterViewer::localized(const std::string& key) {
    return NSBundle::mainBundle()->localizedStringForKey(key, "", "MRaterLocalized");
}

std::string MRaterViewer::appName() {
    const Value localizedName = NSBundle::mainBundle()->localizedInfoDictionary()["CFBundleDisplayName"];
    if (localizedName.isString() && !localizedName.stringValue().empty()) return localizedName.stringValue();
    return NSBundle::mainBundle()->infoDictionary()["CFBundleDisplayName"].stringValue();
}

std::shared_ptr<UIViewController> MRaterViewer::presentingController() const {
    if (auto controller = presentingController_.lock()) return controller;
    return MRaterTools::getRootController();
}

std::shared_ptr<UIView> MRaterViewer::rootView() const {
    auto controller = presentingController();
    return controller ? controller->view() : nullptr;
}

bool MRaterViewer::isOnScreen() const { return viewerView_->superview() != nullptr; }

// --- Presentation ----------------------------------------------------------------------------

void MRaterViewer::placeBelowRoot(const std::shared_ptr<UIView>& root, CGFloat height, bool animated, bool watchFrame) {
    const CGRect rootFrame = root->frame();
    const CGFloat width = rootFrame.size.width;
    viewerView_->setFrame(CGRectMake(0, 0, width, height));
    showFirstScreen();
    viewerView_->setCenter(CGPointMake(width / 2, rootFrame.size.height + height / 2));
    const CGFloat rootHeight = rootFrame.size.height - height;
    std::weak_ptr<MRaterViewer> weak = self<MRaterViewer>();
    auto move = [weak, width, rootHeight, height] {
        auto me = weak.lock();
        auto view = me ? me->rootView() : nullptr;
        if (!view) return;
        view->setFrame(CGRectMake(0, 0, width, rootHeight));
        me->viewerView_->setCenter(CGPointMake(width / 2, rootHeight + height / 2));
    };
    if (!animated) {
        move();
        if (watchFrame) isPresenting_ = false;
        return;
    }
    UIView::animateWithDuration(kSlide, watchFrame ? kSlideInDelay : 0, UIViewAnimationOptionLayoutSubviews, move,
                                [weak, watchFrame](bool) {
                                    auto me = weak.lock();
                                    if (!me || !watchFrame) return;
                                    me->isPresenting_ = false;
                                    // A reset to full height during the slide took the room back.
                                    me->checkFrame();
                                });
}

void MRaterViewer::presentInController(const std::shared_ptr<UIViewController>& controller, bool animated) {
    if (!controller || isPresenting_ || isOnScreen()) return;
    auto root = controller->view();
    auto holder = root ? root->superview() : nullptr;
    if (!holder) return;  // a view outside any window has nowhere to slide the banner into
    isPresenting_ = true;
    presentingController_ = controller;
    registerKVO();
    CGFloat height = kBannerHeight;
    auto application = UIApplication::sharedApplication();
    auto delegate = application ? application->delegate() : nullptr;
    auto window = delegate ? delegate->window() : nullptr;
    if (!window && application) window = application->keyWindow();
    if (window) height += window->safeAreaInsets().bottom;
    holder->addSubview(viewerView_);
    placeBelowRoot(root, height, animated, true);
}

void MRaterViewer::present(bool animated) {
    auto controller = MRaterTools::getRootController();
    auto application = UIApplication::sharedApplication();
    auto window = application ? application->keyWindow() : nullptr;
    auto root = controller ? controller->view() : nullptr;
    if (!root || !window || isOnScreen()) return;
    window->addSubview(viewerView_);
    placeBelowRoot(root, kBannerHeight, animated, false);
}

void MRaterViewer::close(bool animated) {
    if (!isOnScreen()) return;
    unregisterKVO();
    auto root = rootView();
    const CGFloat bannerHeight = viewerView_->frame().size.height;
    const CGRect rootFrame = root ? root->frame() : CGRect{};
    const CGFloat width = rootFrame.size.width, height = rootFrame.size.height + bannerHeight;
    isPresenting_ = true;
    std::weak_ptr<MRaterViewer> weak = self<MRaterViewer>();
    std::weak_ptr<UIView> weakRoot = root;
    auto move = [weak, weakRoot, width, height, bannerHeight] {
        auto me = weak.lock();
        if (!me) return;
        if (auto view = weakRoot.lock()) view->setFrame(CGRectMake(0, 0, width, height));
        me->viewerView_->setCenter(CGPointMake(width / 2, height + bannerHeight / 2));
    };
    auto done = [weak](bool) {
        auto me = weak.lock();
        if (!me) return;
        me->viewerView_->removeFromSuperview();
        me->isPresenting_ = false;
    };
    if (!animated) {
        move();
        done(true);
        return;
    }
    UIView::animateWithDuration(kSlide, 0, UIViewAnimationOptionLayoutSubviews, move, done);
}

void MRaterViewer::closeWithState(std::uint64_t state) {
    close(true);
    if (auto block = closeBlock_) block(state);
}

// --- The presenting view's frame ---------------------------------------------------------------

void MRaterViewer::registerKVO() {
    unregisterKVO();
    auto root = rootView();
    if (!root) return;
    std::weak_ptr<MRaterViewer> weak = self<MRaterViewer>();
    observedToken_ = root->addFrameObserver([weak](UIView&, const CGRect&, const CGRect&) {
        if (auto me = weak.lock()) me->checkFrame();
    });
    observedView_ = root;
}

void MRaterViewer::unregisterKVO() {
    // A view that went away took its observers with it.
    if (auto view = observedView_.lock(); view && observedToken_) view->removeFrameObserver(observedToken_);
    observedView_.reset();
    observedToken_ = 0;
}

void MRaterViewer::checkFrame() {
    if (!isOnScreen() || isPresenting_) return;
    auto root = rootView();
    auto application = UIApplication::sharedApplication();
    auto window = application ? application->keyWindow() : nullptr;
    if (!root || !window) return;
    CGRect frame = root->frame();
    if (frame.size.height != window->frame().size.height) return;
    frame.size.height -= viewerView_->frame().size.height;
    root->setFrame(frame);
}

// --- Screens ---------------------------------------------------------------------------------

std::shared_ptr<MRaterView> MRaterViewer::raterViewWithTitle(const std::string& title, const std::string& leftButtonTitle,
                                                             const std::string& rightButtonTitle,
                                                             MRaterView::Block leftButtonBlock,
                                                             MRaterView::Block rightButtonBlock) {
    auto device = UIDevice::currentDevice();
    const bool pad = device->canReportUserInterfaceIdiom() && device->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
    std::shared_ptr<MRaterView> view;
    if (pad) {
        view = MRaterView::raterViewWithFrame(CGRectMake(0, 0, 680, kBannerHeight));
        auto background = UIImage::imageNamed("rater_button_background");
        if (background) {
            const CGSize size = background->size();
            background = background->resizableImageWithCapInsets(
                UIEdgeInsets{size.height / 2, size.width / 2, size.height / 2, size.width / 2});
        }
        for (const auto& button : {view->leftButton(), view->rightButton()}) {
            CGRect frame = button->frame();
            frame.size.width = 100;
            button->setFrame(frame);
            button->titleLabel()->setFont(UIFont::systemFontOfSize(12));
            button->setBackgroundImage(background, UIControlStateNormal);
        }
        view->setLeftButtonTitle(leftButtonTitle, std::move(leftButtonBlock));
        view->setRightButtonTitle(rightButtonTitle, std::move(rightButtonBlock));
        CGRect label = view->titleLebel()->frame();
        label.size.width = 360;
        view->titleLebel()->setFrame(label);
    } else {
        view = MRaterView::raterViewWithFrame(CGRectMake(0, 0, viewerView_->frame().size.width, kBannerHeight));
        view->leftButton()->setFrame(CGRectMake(0, 0, 44, 44));
        view->rightButton()->setFrame(CGRectMake(0, 0, 44, 44));
        view->setLeftButtonImage(UIImage::imageNamed("rater_yes_message_btn"), std::move(leftButtonBlock));
        view->setRightButtonImage(UIImage::imageNamed("rater_no_message_btn"), std::move(rightButtonBlock));
        view->setPaddingBetweenButtons(0);
        view->setPaddingBetweenTitleLabelAndLeftButton(5);
        auto label = view->titleLebel();
        label->setNumberOfLines(0);
        label->setTextAlignment(NSTextAlignmentLeft);
        CGRect frame = label->frame();
        frame.size.width = 212;
        label->setFrame(frame);
    }
    auto label = view->titleLebel();
    view->setTitle(title);
    label->setTextColor(rgb(0, 122, 255, 1.0));
    label->setFont(UIFont::systemFontOfSize(15));
    label->setAdjustsFontSizeToFitWidth(true);
    label->setMinimumScaleFactor(0.7);
    view->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin);
    view->setBackgroundColor(UIColor::clearColor());
    CGRect frame = view->frame();
    frame.origin = viewerView_->bounds().origin;
    view->setFrame(frame);
    view->setNeedsLayout();
    view->layoutIfNeeded();
    return view;
}

std::shared_ptr<MRaterView> MRaterViewer::firstScreen() {
    std::string title;
    if (auto source = dataSource_.lock()) title = source->raterTitleForFirstScreen();
    if (title.empty()) title = localized("Do you like") + NSString::format(" %@?", appName());
    std::weak_ptr<MRaterViewer> weak = self<MRaterViewer>();
    return raterViewWithTitle(
        title, localized("Yes"), localized("No"),
        [weak] {
            if (auto me = weak.lock()) me->showEnjoyScreen();
        },
        [weak] {
            if (auto me = weak.lock()) me->showNotEnjoyScreen();
        });
}

std::shared_ptr<MRaterView> MRaterViewer::enjoyScreen() {
    std::weak_ptr<MRaterViewer> weak = self<MRaterViewer>();
    return raterViewWithTitle(
        localized("Please rate us!"), localized("OK"), localized("No, thanks"),
        [weak] {
            if (auto me = weak.lock()) me->rateApp();
        },
        [weak] {
            if (auto me = weak.lock()) me->closeWithState(2);
        });
}

std::shared_ptr<MRaterView> MRaterViewer::notEnjoyScreen() {
    std::weak_ptr<MRaterViewer> weak = self<MRaterViewer>();
    return raterViewWithTitle(
        localized("Please tell us what you don't like in the app?"), localized("OK"), localized("No, thanks"),
        [weak] {
            if (auto me = weak.lock()) me->askForSupport();
        },
        [weak] {
            if (auto me = weak.lock()) me->closeWithState(4);
        });
}

void MRaterViewer::showFirstScreen() { showView(firstScreen()); }
void MRaterViewer::showEnjoyScreen() { showView(enjoyScreen()); }
void MRaterViewer::showNotEnjoyScreen() { showView(notEnjoyScreen()); }

void MRaterViewer::showView(const std::shared_ptr<MRaterView>& view) {
    std::weak_ptr<MRaterViewer> weak = self<MRaterViewer>();
    auto bringIn = [weak, view] {
        auto me = weak.lock();
        if (!me) return;
        if (me->currentView_) me->currentView_->removeFromSuperview();
        me->currentView_ = view;
        view->setAlpha(0);
        me->viewerView_->addSubview(view);
        UIView::animateWithDuration(kFade, [view] { view->setAlpha(1); });
    };
    auto old = currentView_;
    if (!old || !old->superview()) {
        bringIn();
        return;
    }
    UIView::animateWithDuration(kFade, [old] { old->setAlpha(0); }, [bringIn](bool) { bringIn(); });
}

// --- Answers ---------------------------------------------------------------------------------

void MRaterViewer::rateApp() {
    closeWithState(1);
    MRater::rateApp();
}

void MRaterViewer::askForSupport() {
    if (!MFMailComposeViewController::canSendMail()) {
        mailNotConfiguredAlert();
        return;
    }
    showMailComposer();
    closeWithState(3);
}

std::string MRaterViewer::supportSubject() const {
    auto bundle = NSBundle::mainBundle();
    const std::string version = NSString::format("%@ (%@)", bundle->infoDictionary()["CFBundleShortVersionString"].stringValue(),
                                                 bundle->infoDictionary()["CFBundleVersion"].stringValue());
    auto device = UIDevice::currentDevice();
    return NSString::format("%@ (%@ %@, %@ %@)", NSString::format(defaultTable("Support %@"), appName()),
                            defaultTable("version"), version, device->localizedModel(), device->systemVersion());
}

void MRaterViewer::showMailComposer() {
    auto composer = MFMailComposeViewController::make();
    composer->setSubject(supportSubject());
    composer->setMailComposeDelegate(self<MRaterViewer>());
    auto proxy = UIAppearance::appearance<UINavigationBar>();
    if (proxy->hasValue("barStyle"))
        composer->navigationBar()->setBarStyle(static_cast<UIBarStyle>(proxy->value("barStyle").integerValue()));
    if (auto tint = proxy->value("tintColor").objectAs<UIColor>()) composer->navigationBar()->setTintColor(tint);
    composer->setToRecipients({OEMakerContacts::supportEmail()});
    if (auto root = MRaterTools::getRootController()) root->presentViewController(composer, true, nullptr);
}

void MRaterViewer::mailComposeControllerDidFinishWithResult(const std::shared_ptr<MFMailComposeViewController>& controller,
                                                            MFMailComposeResult, const NSErrorPtr& error) {
    std::function<void()> tell;
    if (error) {
        // Once the composer has gone: a controller that still presents it cannot present more.
        tell = [weak = weakSelf<MRaterViewer>(), message = error->localizedDescription()] {
            if (auto me = weak.lock()) me->showAlertWithTitle(defaultTable("Error"), message);
        };
    }
    if (controller) controller->dismissViewControllerAnimated(true, tell);
    else if (tell) tell();
}

void MRaterViewer::mailNotConfiguredAlert() {
    showAlertWithTitle(defaultTable("Mail not configured"),
                       defaultTable("This device is not configured for sending Email. Please configure the Mail "
                                    "settings in the Settings app."));
}

void MRaterViewer::showAlertWithTitle(const std::string& title, const std::string& message) {
    auto alert = UIAlertController::alertControllerWithTitle(title, message, UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle(defaultTable("OK"), UIAlertActionStyle::Default, nullptr));
    if (auto controller = presentingController()) controller->presentViewController(alert, true, nullptr);
}
