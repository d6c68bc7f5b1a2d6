// The progress overlay: a bezel with a spinner and labels, laid out in the middle of the host.
#include "platform/widgets/MBProgressHUD.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"

#include <algorithm>

std::shared_ptr<MBProgressHUD> MBProgressHUD::initWithView(const std::shared_ptr<UIView>& view) {
    auto hud = std::make_shared<MBProgressHUD>(view ? view->bounds() : CGRectZero);
    hud->build();
    return hud;
}

MBProgressHUD::MBProgressHUD(const CGRect& frame) : UIView(frame) {}

void MBProgressHUD::build() {
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    setBackgroundColor(UIColor::clearColor());
    setAlpha(0);
    bezel_ = UIView::initWithFrame(CGRectMake(0, 0, 100, 100));
    bezel_->setBackgroundColor(UIColor::colorWithWhite(0.8, 0.9));
    bezel_->layer()->setCornerRadius(5);
    addSubview(bezel_);
    indicator_ = UIActivityIndicatorView::initWithActivityIndicatorStyle(UIActivityIndicatorViewStyleWhiteLarge);
    indicator_->setColor(UIColor::darkGrayColor());
    bezel_->addSubview(indicator_);
    label_ = UILabel::make();
    label_->setFont(UIFont::boldSystemFontOfSize(16));
    label_->setTextAlignment(NSTextAlignmentCenter);
    bezel_->addSubview(label_);
    detailsLabel_ = UILabel::make();
    detailsLabel_->setFont(UIFont::boldSystemFontOfSize(12));
    detailsLabel_->setTextAlignment(NSTextAlignmentCenter);
    detailsLabel_->setNumberOfLines(0);
    bezel_->addSubview(detailsLabel_);
}

std::shared_ptr<MBProgressHUD> MBProgressHUD::showHUDAddedTo(const std::shared_ptr<UIView>& view, bool animated) {
    if (!view) return nullptr;
    auto hud = initWithView(view);
    hud->removeOnHide_ = true;
    view->addSubview(hud);
    hud->showAnimated(animated);
    return hud;
}

std::shared_ptr<MBProgressHUD> MBProgressHUD::HUDForView(const std::shared_ptr<UIView>& view) {
    if (!view) return nullptr;
    const auto& subviews = view->subviews();
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it)
        if (auto hud = std::dynamic_pointer_cast<MBProgressHUD>(*it))
            if (hud->showing_) return hud;
    return nullptr;
}

bool MBProgressHUD::hideHUDForView(const std::shared_ptr<UIView>& view, bool animated) {
    auto hud = HUDForView(view);
    if (!hud) return false;
    hud->removeOnHide_ = true;
    hud->hideAnimated(animated);
    return true;
}

void MBProgressHUD::showAnimated(bool animated) {
    showing_ = true;
    if (mode_ == MBProgressHUDMode::Indeterminate) indicator_->startAnimating();
    setNeedsLayout();
    layoutIfNeeded();
    if (animated) UIView::animateWithDuration(animationDuration(), [this] { setAlpha(1); });
    else setAlpha(1);
}

void MBProgressHUD::hideAnimated(bool animated) {
    if (!showing_) return;
    showing_ = false;
    if (delayToken_) {
        NSRunLoop::mainRunLoop()->cancelPerformRequests(delayToken_.get());
        delayToken_.reset();
    }
    auto self = std::static_pointer_cast<MBProgressHUD>(shared_from_this());
    if (animated) {
        UIView::animateWithDuration(animationDuration(), 0, 0, [this] { setAlpha(0); },
                                    [self](bool) { self->done(); });
    } else {
        setAlpha(0);
        done();
    }
}

void MBProgressHUD::hideAnimated(bool animated, double afterDelay) {
    delayToken_ = std::make_shared<NSObject>();
    std::weak_ptr<MBProgressHUD> weak = std::static_pointer_cast<MBProgressHUD>(shared_from_this());
    NSRunLoop::mainRunLoop()->performAfterDelay(
        delayToken_,
        [weak, animated] {
            if (auto self = weak.lock()) {
                self->delayToken_.reset();
                self->hideAnimated(animated);
            }
        },
        afterDelay);
}

void MBProgressHUD::done() {
    // A show after the hide began wins over the fade's end.
    if (showing_) return;
    indicator_->stopAnimating();
    if (removeOnHide_) removeFromSuperview();
    if (auto block = completion_) block();
}

void MBProgressHUD::setMode(MBProgressHUDMode mode) {
    mode_ = mode;
    indicator_->setHidden(mode != MBProgressHUDMode::Indeterminate);
    if (mode == MBProgressHUDMode::Indeterminate && showing_) indicator_->startAnimating();
    setNeedsLayout();
}

void MBProgressHUD::setProgress(float progress) { progress_ = std::clamp(progress, 0.0f, 1.0f); }

void MBProgressHUD::layoutSubviews() {
    // The bezel hugs its content: spinner above the labels, 20 points of margin.
    const CGFloat margin = 20;
    CGFloat width = 0;
    CGFloat height = 0;
    const bool spinner = mode_ == MBProgressHUDMode::Indeterminate;
    CGSize indicatorSize = spinner ? CGSize{37, 37} : CGSize{0, 0};
    width = indicatorSize.width;
    height = indicatorSize.height;
    const CGFloat maxText = bounds().size.width - 4 * margin;
    CGSize labelSize = label_->text().empty() ? CGSizeZero : label_->sizeThatFits(CGSizeMake(maxText, 10000));
    CGSize detailsSize =
        detailsLabel_->text().empty() ? CGSizeZero : detailsLabel_->sizeThatFits(CGSizeMake(maxText, 10000));
    labelSize.width = std::min(labelSize.width, maxText);
    detailsSize.width = std::min(detailsSize.width, maxText);
    width = std::max({width, labelSize.width, detailsSize.width});
    if (labelSize.height > 0) height += (height > 0 ? 4 : 0) + labelSize.height;
    if (detailsSize.height > 0) height += (height > 0 ? 4 : 0) + detailsSize.height;
    const CGSize bezelSize{std::max(width + 2 * margin, 100.0), std::max(height + 2 * margin, 100.0)};
    const CGRect b = bounds();
    bezel_->setFrame(CGRectMake(CGRectGetMidX(b) - bezelSize.width / 2, CGRectGetMidY(b) - bezelSize.height / 2,
                                bezelSize.width, bezelSize.height));
    CGFloat y = (bezelSize.height - height) / 2;
    if (spinner) {
        indicator_->setFrame(CGRectMake((bezelSize.width - indicatorSize.width) / 2, y, indicatorSize.width,
                                        indicatorSize.height));
        y += indicatorSize.height + 4;
    }
    label_->setFrame(CGRectMake((bezelSize.width - labelSize.width) / 2, y, labelSize.width, labelSize.height));
    if (labelSize.height > 0) y += labelSize.height + 4;
    detailsLabel_->setFrame(CGRectMake((bezelSize.width - detailsSize.width) / 2, y, detailsSize.width, detailsSize.height));
}
