// The rating banner's screen: its parts and their layout.
#include "uikit/MRaterView.h"

#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"

std::shared_ptr<MRaterView> MRaterView::raterViewWithFrame(const CGRect& frame) {
    auto view = std::make_shared<MRaterView>(frame);
    view->defaultInit();
    return view;
}

void MRaterView::defaultInit() {
    titleLebel_ = UILabel::initWithFrame(CGRectMake(0, 0, bounds().size.width - overallPadding() - 80, 40));
    titleLebel_->setTextAlignment(NSTextAlignmentCenter);
    std::weak_ptr<MRaterView> weak = self<MRaterView>();
    auto button = [&](void (MRaterView::*action)()) {
        auto made = UIButton::buttonWithType(UIButtonTypeSystem);
        made->setFrame(CGRectMake(0, 0, 40, 30));
        made->addTarget(nullptr, [weak, action](const std::shared_ptr<NSObject>&) {
            if (auto me = weak.lock()) ((*me).*action)();
        }, UIControlEventTouchUpInside);
        return made;
    };
    leftButton_ = button(&MRaterView::leftButtonAction);
    rightButton_ = button(&MRaterView::rightButtonAction);
    addSubview(titleLebel_);
    addSubview(leftButton_);
    addSubview(rightButton_);
}

std::string MRaterView::title() const { return titleLebel_->text(); }

void MRaterView::setTitle(const std::string& title) { titleLebel_->setText(title); }

std::shared_ptr<NSAttributedString> MRaterView::attributedTitle() const { return titleLebel_->attributedText(); }

void MRaterView::setAttributedTitle(std::shared_ptr<NSAttributedString> title) {
    titleLebel_->setAttributedText(std::move(title));
}

void MRaterView::setLeftButtonTitle(const std::string& title, Block block) {
    leftButton_->setTitle(title, UIControlStateNormal);
    leftButtonBlock_ = std::move(block);
}

void MRaterView::setRightButtonTitle(const std::string& title, Block block) {
    rightButton_->setTitle(title, UIControlStateNormal);
    rightButtonBlock_ = std::move(block);
}

void MRaterView::setLeftButtonImage(std::shared_ptr<UIImage> image, Block block) {
    leftButton_->setImage(std::move(image), UIControlStateNormal);
    leftButtonBlock_ = std::move(block);
}

void MRaterView::setRightButtonImage(std::shared_ptr<UIImage> image, Block block) {
    rightButton_->setImage(std::move(image), UIControlStateNormal);
    rightButtonBlock_ = std::move(block);
}

void MRaterView::leftButtonAction() {
    if (auto block = leftButtonBlock_) block();
}

void MRaterView::rightButtonAction() {
    if (auto block = rightButtonBlock_) block();
}

void MRaterView::layoutSubviews() {
    UIView::layoutSubviews();
    const CGFloat t = titleLebel_->frame().size.width, l = leftButton_->frame().size.width,
                  r = rightButton_->frame().size.width;
    const CGFloat w = bounds().size.width, y = bounds().size.height / 2;
    const CGFloat margin = (w - t - l - r - paddingBetweenButtons_ - paddingBetweenTitleLabelAndLeftButton_) / 2;
    titleLebel_->setCenter(CGPointMake(margin + t / 2, y));
    leftButton_->setCenter(CGPointMake(CGRectGetMaxX(titleLebel_->frame()) + paddingBetweenTitleLabelAndLeftButton_ + l / 2, y));
    rightButton_->setCenter(CGPointMake(CGRectGetMaxX(leftButton_->frame()) + paddingBetweenButtons_ + r / 2, y));
}
