// A view with the player's buttons, and the receiver of their presses.
#pragma once

#include <memory>

class NSObject;
class UIButton;

class OEControlsViewDelegate {
public:
    virtual ~OEControlsViewDelegate() = default;
    virtual void playButtonPressed(const std::shared_ptr<NSObject>& sender) = 0;
    virtual void prevButtonPressed(const std::shared_ptr<NSObject>& sender) = 0;
    virtual void nextButtonPressed(const std::shared_ptr<NSObject>& sender) = 0;
    virtual void loopButtonPressed(const std::shared_ptr<NSObject>& sender) = 0;
    virtual void shuffleButtonPressed(const std::shared_ptr<NSObject>& sender) = 0;
};

class OEControlsView {
public:
    virtual ~OEControlsView() = default;
    std::shared_ptr<OEControlsViewDelegate> controlsViewDelegate() const { return controlsDelegate_.lock(); }
    void setControlsViewDelegate(const std::shared_ptr<OEControlsViewDelegate>& delegate) { controlsDelegate_ = delegate; }
    virtual std::shared_ptr<UIButton> playButton() const = 0;
    virtual std::shared_ptr<UIButton> loopButton() const = 0;
    virtual std::shared_ptr<UIButton> shuffleButton() const = 0;

private:
    std::weak_ptr<OEControlsViewDelegate> controlsDelegate_;
};
