// Binds a controls view to the player controller: its presses play, pause, step, and cycle the
// repeat and shuffle modes, and its buttons show the controller's state.
#pragma once

#include "media/OEControlsView.h"
#include "platform/foundation/NSObject.h"

#include <memory>

class MediaPlayerController;
class UIButton;

class OEControlsHandler : public NSObject, public OEControlsViewDelegate {
public:
    static std::shared_ptr<OEControlsHandler> initWithController(std::shared_ptr<MediaPlayerController> controller);

    // The handler holds the view; the view's delegate is the handler.
    void setControlsView(std::shared_ptr<OEControlsView> view);
    const std::shared_ptr<OEControlsView>& controlsView() const { return view_; }
    void checkButtons();
    // "paused" while playing, else "play".
    void updatePlayButton(const std::shared_ptr<UIButton>& button);
    // By repeat mode: "r", "r_up", "r.1".
    void updateLoopButton(const std::shared_ptr<UIButton>& button);
    // "s_up" while shuffling, else "s".
    void updateShufleButton(const std::shared_ptr<UIButton>& button);

    void playButtonPressed(const std::shared_ptr<NSObject>& sender) override;
    void prevButtonPressed(const std::shared_ptr<NSObject>& sender) override;
    void nextButtonPressed(const std::shared_ptr<NSObject>& sender) override;
    void loopButtonPressed(const std::shared_ptr<NSObject>& sender) override;
    void shuffleButtonPressed(const std::shared_ptr<NSObject>& sender) override;

private:
    explicit OEControlsHandler(std::shared_ptr<MediaPlayerController> controller) : controller_(std::move(controller)) {}
    std::shared_ptr<MediaPlayerController> controller_;
    std::shared_ptr<OEControlsView> view_;
};
