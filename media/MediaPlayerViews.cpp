// The player's views, laid out as their interface files would.
#include "media/MediaPlayerViews.h"

#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UISlider.h"
#include "uikit/OEImageButtonNames.h"

namespace {

std::shared_ptr<UIButton> imageButton(const std::string& image, CGRect frame) {
    auto button = UIButton::initWithFrame(frame);
    OEImageButtonNames::setImage(button, image);
    return button;
}

std::shared_ptr<UILabel> label(CGRect frame, CGFloat size) {
    auto result = UILabel::initWithFrame(frame);
    result->setFont(UIFont::systemFontOfSize(size));
    return result;
}

// The five buttons' presses go to the controls delegate of `protocol`, the view they belong to.
void wireControls(const std::shared_ptr<UIView>& owner, OEControlsView* protocol, const std::shared_ptr<UIButton>& rewind,
                  const std::shared_ptr<UIButton>& play, const std::shared_ptr<UIButton>& forward,
                  const std::shared_ptr<UIButton>& loop, const std::shared_ptr<UIButton>& shuffle) {
    std::weak_ptr<UIView> weak = owner;
    auto forwardTo = [weak, protocol](void (OEControlsViewDelegate::*method)(const std::shared_ptr<NSObject>&)) {
        return [weak, protocol, method](const std::shared_ptr<NSObject>& sender) {
            if (!weak.lock()) return;
            if (auto delegate = protocol->controlsViewDelegate()) ((*delegate).*method)(sender);
        };
    };
    rewind->addTarget(nullptr, forwardTo(&OEControlsViewDelegate::prevButtonPressed), UIControlEventTouchUpInside);
    play->addTarget(nullptr, forwardTo(&OEControlsViewDelegate::playButtonPressed), UIControlEventTouchUpInside);
    forward->addTarget(nullptr, forwardTo(&OEControlsViewDelegate::nextButtonPressed), UIControlEventTouchUpInside);
    loop->addTarget(nullptr, forwardTo(&OEControlsViewDelegate::loopButtonPressed), UIControlEventTouchUpInside);
    shuffle->addTarget(nullptr, forwardTo(&OEControlsViewDelegate::shuffleButtonPressed), UIControlEventTouchUpInside);
    for (const auto& button : {rewind, play, forward, loop, shuffle}) owner->addSubview(button);
}

void wireSlider(const std::shared_ptr<UIView>& owner, OEProgressView* protocol, const std::shared_ptr<UISlider>& slider) {
    std::weak_ptr<UIView> weak = owner;
    auto forwardTo = [weak, protocol](void (OEProgressViewDelegate::*method)(const std::shared_ptr<NSObject>&)) {
        return [weak, protocol, method](const std::shared_ptr<NSObject>& sender) {
            if (!weak.lock()) return;
            if (auto delegate = protocol->progressViewDelegate()) ((*delegate).*method)(sender);
        };
    };
    slider->setMinimumValue(0);
    slider->setMaximumValue(1);
    slider->addTarget(nullptr, forwardTo(&OEProgressViewDelegate::startSlide), UIControlEventTouchDown);
    slider->addTarget(nullptr, forwardTo(&OEProgressViewDelegate::progressSliderChange), UIControlEventValueChanged);
    slider->addTarget(nullptr, forwardTo(&OEProgressViewDelegate::stopSlide),
                      UIControlEventTouchUpInside | UIControlEventTouchUpOutside | UIControlEventTouchCancel);
    owner->addSubview(slider);
}

}  // namespace

MediaPlayerControllsView::MediaPlayerControllsView() : UIView(CGRectMake(0, 0, 320, 64)) {
    rewind_ = imageButton("media_prev", CGRectMake(20, 10, 44, 44));
    play_ = imageButton("play", CGRectMake(138, 10, 44, 44));
    forward_ = imageButton("media_next", CGRectMake(256, 10, 44, 44));
    loop_ = imageButton("r", CGRectMake(79, 10, 44, 44));
    shuffle_ = imageButton("s", CGRectMake(197, 10, 44, 44));
}

std::shared_ptr<MediaPlayerControllsView> MediaPlayerControllsView::make() {
    auto view = std::make_shared<MediaPlayerControllsView>();
    view->connect();
    return view;
}

void MediaPlayerControllsView::connect() {
    wireControls(self<UIView>(), this, rewind_, play_, forward_, loop_, shuffle_);
}

MediaPlayerProgressView::MediaPlayerProgressView() : UIView(CGRectMake(0, 0, 320, 64)) {
    slider_ = UISlider::initWithFrame(CGRectMake(60, 8, 200, 31));
    elapsed_ = label(CGRectMake(8, 12, 50, 20), 12);
    remaining_ = label(CGRectMake(262, 12, 50, 20), 12);
    playList_ = label(CGRectMake(110, 40, 100, 20), 12);
    for (const auto& view : {elapsed_, remaining_, playList_}) addSubview(view);
}

std::shared_ptr<MediaPlayerProgressView> MediaPlayerProgressView::make() {
    auto view = std::make_shared<MediaPlayerProgressView>();
    view->connect();
    return view;
}

void MediaPlayerProgressView::connect() { wireSlider(self<UIView>(), this, slider_); }

MediaPlayerTitleView::MediaPlayerTitleView() : UIView(CGRectMake(0, 0, 200, 44)) {
    text_ = label(CGRectMake(0, 2, 200, 22), 15);
    detail_ = label(CGRectMake(0, 24, 200, 18), 12);
    addSubview(text_);
    addSubview(detail_);
}

std::shared_ptr<MediaPlayerTitleView> MediaPlayerTitleView::make() { return std::make_shared<MediaPlayerTitleView>(); }

MediaPlayerControlsPadView::MediaPlayerControlsPadView() : UIView(CGRectMake(0, 0, 768, 96)) {
    background_ = UIImageView::initWithFrame(bounds());
    if (auto bar = UIImage::imageNamed("bar_ipad")) {
        const CGFloat third = bar->size().width / 3;
        background_->setImage(bar->resizableImageWithCapInsets(UIEdgeInsetsMake(0, third, 0, third)));
    }
    // The bar's backdrop, nothing a person reads.
    setAccessibilityElementsHidden(*background_, true);
    addSubview(background_);
    rewind_ = imageButton("media_prev", CGRectMake(20, 26, 44, 44));
    loop_ = imageButton("r", CGRectMake(72, 26, 44, 44));
    play_ = imageButton("play", CGRectMake(124, 26, 44, 44));
    shuffle_ = imageButton("s", CGRectMake(176, 26, 44, 44));
    forward_ = imageButton("media_next", CGRectMake(228, 26, 44, 44));
    slider_ = UISlider::initWithFrame(CGRectMake(340, 48, 330, 31));
    elapsed_ = label(CGRectMake(284, 53, 50, 20), 12);
    remaining_ = label(CGRectMake(680, 53, 60, 20), 12);
    title_ = label(CGRectMake(284, 12, 460, 24), 16);
    for (const auto& view : {elapsed_, remaining_, title_}) addSubview(view);
}

std::shared_ptr<MediaPlayerControlsPadView> MediaPlayerControlsPadView::make() {
    auto view = std::make_shared<MediaPlayerControlsPadView>();
    view->connect();
    return view;
}

void MediaPlayerControlsPadView::connect() {
    auto owner = self<UIView>();
    wireControls(owner, this, rewind_, play_, forward_, loop_, shuffle_);
    wireSlider(owner, this, slider_);
}

std::vector<std::shared_ptr<UIView>> MediaPlayerViews::loadPhoneViews() {
    return {MediaPlayerControllsView::make(), MediaPlayerProgressView::make(), MediaPlayerTitleView::make()};
}

std::shared_ptr<MediaPlayerControlsPadView> MediaPlayerViews::loadPadHeader() { return MediaPlayerControlsPadView::make(); }
