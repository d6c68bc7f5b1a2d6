// A view with the position slider and the time labels, and the receiver of the slider's moves.
#pragma once

#include <memory>

class NSObject;
class UILabel;
class UISlider;

class OEProgressViewDelegate {
public:
    virtual ~OEProgressViewDelegate() = default;
    virtual void progressSliderChange(const std::shared_ptr<NSObject>& slider) = 0;
    virtual void startSlide(const std::shared_ptr<NSObject>& slider) = 0;
    virtual void stopSlide(const std::shared_ptr<NSObject>& slider) = 0;
};

class OEProgressView {
public:
    virtual ~OEProgressView() = default;
    std::shared_ptr<OEProgressViewDelegate> progressViewDelegate() const { return progressDelegate_.lock(); }
    void setProgressViewDelegate(const std::shared_ptr<OEProgressViewDelegate>& delegate) { progressDelegate_ = delegate; }
    virtual std::shared_ptr<UILabel> elapsedTimeLabel() const = 0;
    virtual std::shared_ptr<UILabel> remainingTimeLabel() const = 0;
    virtual std::shared_ptr<UISlider> progressSlider() const = 0;
    // None when the view has no such label.
    virtual std::shared_ptr<UILabel> playListProgressLabel() const = 0;

private:
    std::weak_ptr<OEProgressViewDelegate> progressDelegate_;
};
