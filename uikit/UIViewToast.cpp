// Toasts on any view: the wrapper's layout, its fade-in, timer and fade-out, the activity toast.
#include "uikit/UIViewToast.h"

#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/ui/CALayer.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/NSStringDrawing.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UIView.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

// Association keys: the wrapper's dismissal timer and the host's activity toast.
const char kTimerKey = 0;
const char kActivityKey = 0;

constexpr CGFloat kPadding = 10;
constexpr CGFloat kImageSide = 80;
constexpr CGFloat kMaxWidthFactor = 0.8;
constexpr CGFloat kMaxHeightFactor = 0.8;
constexpr CGFloat kFontSize = 16;
constexpr CGFloat kCornerRadius = 10;
constexpr CGFloat kOpacity = 0.8;
constexpr CGFloat kActivitySide = 100;

std::string lowercased(const std::string& text) {
    std::string out = text;
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::shared_ptr<UILabel> makeTextLabel(const std::string& text, const std::shared_ptr<UIFont>& font,
                                       NSTextAlignment alignment) {
    auto label = UILabel::make();
    label->setNumberOfLines(0);
    label->setFont(font);
    label->setTextAlignment(alignment);
    label->setLineBreakMode(NSLineBreakByWordWrapping);
    label->setTextColor(UIColor::whiteColor());
    label->setBackgroundColor(UIColor::clearColor());
    label->setAlpha(1.0);
    label->setText(text);
    return label;
}

void setAssociated(const std::shared_ptr<UIView>& view, const void* key, std::shared_ptr<NSObject> object) {
    view->setAssociatedValue(key, object ? Value(std::move(object)) : Value());
}

}  // namespace

void makeToast(const std::shared_ptr<UIView>& host, const std::string& message) {
    makeToast(host, message, kUIToastDefaultDuration, "bottom");
}

void makeToast(const std::shared_ptr<UIView>& host, const std::string& message, double duration,
               const UIToastPosition& position) {
    showToast(host, viewForMessage(host, message, std::nullopt, nullptr), duration, position);
}

void makeToast(const std::shared_ptr<UIView>& host, const std::string& message, double duration,
               const UIToastPosition& position, const std::string& title) {
    showToast(host, viewForMessage(host, message, title, nullptr), duration, position);
}

void makeToast(const std::shared_ptr<UIView>& host, const std::string& message, double duration,
               const UIToastPosition& position, const std::shared_ptr<UIImage>& image) {
    showToast(host, viewForMessage(host, message, std::nullopt, image), duration, position);
}

void makeToast(const std::shared_ptr<UIView>& host, const std::string& message, double duration,
               const UIToastPosition& position, const std::string& title, const std::shared_ptr<UIImage>& image) {
    showToast(host, viewForMessage(host, message, title, image), duration, position);
}

void showToast(const std::shared_ptr<UIView>& host, const std::shared_ptr<UIView>& toast) {
    showToast(host, toast, kUIToastDefaultDuration, "bottom");
}

void showToast(const std::shared_ptr<UIView>& host, const std::shared_ptr<UIView>& toast, double duration,
               const UIToastPosition& position) {
    if (!host || !toast) return;
    // No queue: a new toast takes the place of the one on screen.
    const auto subviews = host->subviews();
    for (const auto& old : subviews) {
        if (old->tag() == kUIToastTag) old->removeFromSuperview();
    }
    toast->setCenter(centerPointForPosition(host, position, toast));
    toast->setAlpha(0);
    auto tap = UITapGestureRecognizer::make();
    tap->addTarget(toast, [](const std::shared_ptr<UIGestureRecognizer>& recognizer) { handleToastTapped(recognizer); });
    toast->addGestureRecognizer(tap);
    toast->setUserInteractionEnabled(true);
    toast->setExclusiveTouch(true);
    host->addSubview(toast);

    std::weak_ptr<UIView> weakToast = toast;
    UIView::animateWithDuration(
        kUIToastFadeDuration, 0, UIViewAnimationOptionCurveEaseOut | UIViewAnimationOptionAllowUserInteraction,
        [toast] { toast->setAlpha(1.0); },
        [weakToast, duration](bool) {
            auto shown = weakToast.lock();
            if (!shown) return;
            auto timer = NSTimer::scheduledTimerWithTimeInterval(
                duration, Value(std::static_pointer_cast<NSObject>(shown)), false,
                [](const std::shared_ptr<NSTimer>& fired) { toastTimerDidFinish(fired); });
            setAssociated(shown, &kTimerKey, timer);
        });
}

std::shared_ptr<NSTimer> toastTimer(const std::shared_ptr<UIView>& toast) {
    return toast ? toast->associatedValue(&kTimerKey).objectAs<NSTimer>() : nullptr;
}

void hideToast(const std::shared_ptr<UIView>& toast) {
    if (!toast) return;
    UIView::animateWithDuration(
        kUIToastFadeDuration, 0, UIViewAnimationOptionCurveEaseIn | UIViewAnimationOptionBeginFromCurrentState,
        [toast] { toast->setAlpha(0); },
        [toast](bool) {
            toast->removeFromSuperview();
            // The timer holds the wrapper as its user info; let both go.
            setAssociated(toast, &kTimerKey, nullptr);
        });
}

void toastTimerDidFinish(const std::shared_ptr<NSTimer>& timer) {
    if (!timer) return;
    hideToast(timer->userInfo().objectAs<UIView>());
}

void handleToastTapped(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
    auto toast = recognizer ? recognizer->view() : nullptr;
    if (!toast) return;
    if (auto timer = toastTimer(toast)) timer->invalidate();
    hideToast(toast);
}

void makeToastActivity(const std::shared_ptr<UIView>& host) { makeToastActivity(host, "center"); }

void makeToastActivity(const std::shared_ptr<UIView>& host, const UIToastPosition& position) {
    if (!host || toastActivityView(host)) return;
    auto box = UIView::initWithFrame({{0, 0}, {kActivitySide, kActivitySide}});
    box->setCenter(centerPointForPosition(host, position, box));
    box->setBackgroundColor(UIColor::blackColor()->colorWithAlphaComponent(kOpacity));
    box->setAlpha(0);
    box->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                             UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin);
    box->layer()->setCornerRadius(kCornerRadius);
    showLargeWhiteActivityIndicator(box, true);
    setAssociated(host, &kActivityKey, box);
    host->addSubview(box);
    UIView::animateWithDuration(kUIToastFadeDuration, 0, UIViewAnimationOptionCurveEaseOut,
                                [box] { box->setAlpha(1.0); }, nullptr);
}

void hideToastActivity(const std::shared_ptr<UIView>& host) {
    auto box = toastActivityView(host);
    if (!box) return;
    std::weak_ptr<UIView> weakHost = host;
    UIView::animateWithDuration(
        kUIToastFadeDuration, 0, UIViewAnimationOptionCurveEaseIn | UIViewAnimationOptionBeginFromCurrentState,
        [box] { box->setAlpha(0); },
        [box, weakHost](bool) {
            box->removeFromSuperview();
            if (auto shownOn = weakHost.lock()) setAssociated(shownOn, &kActivityKey, nullptr);
        });
}

std::shared_ptr<UIView> toastActivityView(const std::shared_ptr<UIView>& host) {
    return host ? host->associatedValue(&kActivityKey).objectAs<UIView>() : nullptr;
}

CGPoint centerPointForPosition(const std::shared_ptr<UIView>& host, const UIToastPosition& position,
                               const std::shared_ptr<UIView>& toast) {
    const CGSize hostSize = host->bounds().size;
    const CGFloat h = toast->frame().size.height;
    const CGPoint bottom{hostSize.width / 2, hostSize.height - h / 2 - kPadding - 20};
    if (const auto* point = position.point()) return *point;
    if (const auto* name = position.name()) {
        const std::string key = lowercased(*name);
        if (key == "top") return {hostSize.width / 2, h / 2 + kPadding};
        if (key == "bottom") return bottom;
        if (key == "center") return {hostSize.width / 2, hostSize.height / 2};
    }
    Diagnostics::note("Warning: Invalid position for toast.");
    return bottom;
}

CGSize sizeForString(const std::string& text, const std::shared_ptr<UIFont>& font, CGSize constrainedToSize,
                     NSLineBreakMode lineBreakMode) {
    NSStringAttributes attributes;
    attributes.font = font;
    attributes.lineBreakMode = lineBreakMode;
    const CGRect rect =
        NSStringBoundingRectWithSize(text, constrainedToSize, NSStringDrawingUsesLineFragmentOrigin, attributes);
    // The text never takes more room than the limit: what does not fit is clipped.
    const CGFloat width = std::min(rect.size.width, constrainedToSize.width);
    const CGFloat height = std::min(rect.size.height, constrainedToSize.height);
    return {std::ceil(static_cast<float>(width)), std::ceil(static_cast<float>(height))};
}

std::shared_ptr<UIView> viewForMessage(const std::shared_ptr<UIView>& host, const std::optional<std::string>& message,
                                       const std::optional<std::string>& title, const std::shared_ptr<UIImage>& image) {
    if (!message && !title && !image) return nullptr;
    const CGSize hostSize = host ? host->bounds().size : CGSize{};

    auto wrapper = UIView::make();
    wrapper->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                                 UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin);
    wrapper->layer()->setCornerRadius(kCornerRadius);
    wrapper->setBackgroundColor(UIColor::blackColor()->colorWithAlphaComponent(kOpacity));

    std::shared_ptr<UIImageView> imageView;
    CGFloat imageWidth = 0, imageHeight = 0, imageLeft = 0;
    if (image) {
        imageView = UIImageView::make();
        imageView->setImage(image);
        imageView->setContentMode(UIViewContentModeScaleAspectFit);
        imageView->setFrame({{kPadding, kPadding}, {kImageSide, kImageSide}});
        imageWidth = kImageSide;
        imageHeight = kImageSide;
        imageLeft = kPadding;
    }

    const CGSize limit{hostSize.width * kMaxWidthFactor - imageWidth, hostSize.height * kMaxHeightFactor};
    std::shared_ptr<UILabel> titleLabel;
    CGSize titleSize;
    if (title) {
        titleLabel = makeTextLabel(*title, UIFont::boldSystemFontOfSize(kFontSize), NSTextAlignmentLeft);
        titleSize = sizeForString(*title, titleLabel->font(), limit, NSLineBreakByWordWrapping);
    }
    std::shared_ptr<UILabel> messageLabel;
    CGSize messageSize;
    if (message) {
        messageLabel = makeTextLabel(*message, UIFont::systemFontOfSize(kFontSize), NSTextAlignmentCenter);
        messageSize = sizeForString(*message, messageLabel->font(), limit, NSLineBreakByWordWrapping);
    }

    const CGFloat textLeft = imageLeft + imageWidth + kPadding;
    const CGFloat titleTop = kPadding;
    const CGFloat messageTop = (title ? kPadding : 0) + titleSize.height + kPadding;

    const CGFloat textWidth = std::max(titleSize.width, messageSize.width);
    const CGFloat textRight = (title || message ? textLeft : 0) + textWidth + kPadding;
    const CGFloat width = std::max(imageWidth + 2 * kPadding, textRight);
    const CGFloat textBottom = message ? messageTop + messageSize.height + kPadding : kPadding;
    const CGFloat height = std::max(imageHeight + 2 * kPadding, textBottom);
    wrapper->setFrame({{0, 0}, {width, height}});

    if (titleLabel) {
        titleLabel->setFrame({{textLeft, titleTop}, titleSize});
        wrapper->addSubview(titleLabel);
    }
    if (messageLabel) {
        messageLabel->setFrame({{textLeft, messageTop}, messageSize});
        wrapper->addSubview(messageLabel);
    }
    if (imageView) wrapper->addSubview(imageView);
    wrapper->setTag(kUIToastTag);
    return wrapper;
}

std::shared_ptr<UIActivityIndicatorView> showGrayActivityIndicator(const std::shared_ptr<UIView>& view, bool animating) {
    return showActivityIndicatorWithStyle(view, UIActivityIndicatorViewStyleGray, animating);
}

std::shared_ptr<UIActivityIndicatorView> showLargeWhiteActivityIndicator(const std::shared_ptr<UIView>& view,
                                                                         bool animating) {
    return showActivityIndicatorWithStyle(view, UIActivityIndicatorViewStyleWhiteLarge, animating);
}

std::shared_ptr<UIActivityIndicatorView> showActivityIndicatorWithStyle(const std::shared_ptr<UIView>& view,
                                                                        UIActivityIndicatorViewStyle style,
                                                                        bool animating) {
    auto spinner = UIActivityIndicatorView::initWithActivityIndicatorStyle(style);
    spinner->setTranslatesAutoresizingMaskIntoConstraints(false);
    spinner->setHidesWhenStopped(true);
    view->addSubview(spinner);
    NSLayoutConstraint::activateConstraints({spinner->centerXAnchor()->constraintEqualToAnchor(view->centerXAnchor()),
                                             spinner->centerYAnchor()->constraintEqualToAnchor(view->centerYAnchor())});
    if (animating) spinner->startAnimating();
    return spinner;
}
