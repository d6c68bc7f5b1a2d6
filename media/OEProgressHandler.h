// Binds a progress view to the player controller: the slider follows the position (unless the
// user drags it) and seeks when moved; the labels show elapsed and remaining time and "n of m".
#pragma once

#include "media/OEProgressView.h"
#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>

class MediaPlayerController;

class OEProgressHandler : public NSObject, public OEProgressViewDelegate {
public:
    static std::shared_ptr<OEProgressHandler> initWithController(std::shared_ptr<MediaPlayerController> controller);

    void setProgressView(std::shared_ptr<OEProgressView> view);
    const std::shared_ptr<OEProgressView>& progressView() const { return view_; }
    bool sliding() const { return sliding_; }
    void updateProgress();
    void updateElapsedTime();
    void updateRemainingTime();
    void updatePlaylistProgress();
    // "%@%.02d:%.02d": the prefix, whole minutes (not wrapped into hours), whole seconds.
    static std::string makeTimeString(float seconds, const std::string& prefix);

    void progressSliderChange(const std::shared_ptr<NSObject>& slider) override;
    void startSlide(const std::shared_ptr<NSObject>& slider) override;
    void stopSlide(const std::shared_ptr<NSObject>& slider) override;

private:
    explicit OEProgressHandler(std::shared_ptr<MediaPlayerController> controller) : controller_(std::move(controller)) {}
    std::shared_ptr<MediaPlayerController> controller_;
    std::shared_ptr<OEProgressView> view_;
    bool sliding_ = false;
};
