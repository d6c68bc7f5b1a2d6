// The progress view's binding to the player controller.
#include "media/OEProgressHandler.h"

#include "media/MediaPlayerController.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UISlider.h"
#include "uikit/OECoreStrings.h"

std::shared_ptr<OEProgressHandler> OEProgressHandler::initWithController(std::shared_ptr<MediaPlayerController> controller) {
    return std::shared_ptr<OEProgressHandler>(new OEProgressHandler(std::move(controller)));
}

void OEProgressHandler::setProgressView(std::shared_ptr<OEProgressView> view) {
    view_ = std::move(view);
    if (view_) view_->setProgressViewDelegate(std::static_pointer_cast<OEProgressHandler>(shared_from_this()));
}

void OEProgressHandler::updateProgress() {
    if (!view_) return;
    if (!sliding_)
        if (auto slider = view_->progressSlider()) slider->setValue(controller_->position());
    updateElapsedTime();
    updateRemainingTime();
    updatePlaylistProgress();
}

void OEProgressHandler::updateElapsedTime() {
    if (auto label = view_ ? view_->elapsedTimeLabel() : nullptr)
        label->setText(makeTimeString(controller_->currentTime(), ""));
}

void OEProgressHandler::updateRemainingTime() {
    if (auto label = view_ ? view_->remainingTimeLabel() : nullptr)
        label->setText(makeTimeString(controller_->remainingTime(), "-"));
}

void OEProgressHandler::updatePlaylistProgress() {
    if (auto label = view_ ? view_->playListProgressLabel() : nullptr)
        label->setText(NSString::format(OECoreString("%ld of %ld"), static_cast<long>(controller_->curItem()),
                                        static_cast<long>(controller_->itemsCount())));
}

std::string OEProgressHandler::makeTimeString(float seconds, const std::string& prefix) {
    const int minutes = static_cast<int>(seconds / 60.0);
    const int rest = static_cast<int>(seconds - static_cast<float>(minutes) * 60);
    return NSString::format("%@%.02d:%.02d", prefix, minutes, rest);
}

void OEProgressHandler::progressSliderChange(const std::shared_ptr<NSObject>& slider) {
    if (auto control = std::dynamic_pointer_cast<UISlider>(slider)) controller_->setPosition(control->value());
}

void OEProgressHandler::startSlide(const std::shared_ptr<NSObject>&) { sliding_ = true; }

void OEProgressHandler::stopSlide(const std::shared_ptr<NSObject>&) { sliding_ = false; }
