// The controls' binding to the player controller.
#include "media/OEControlsHandler.h"

#include "media/MediaPlayerController.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIButton.h"
#include "uikit/OEImageButtonNames.h"

namespace {

// The repeat modes by the player's number for them, as a person names them.
const char* const kRepeatModes[] = {"off", "all", "one"};

void show(const std::shared_ptr<UIButton>& button, const std::string& image) {
    OEImageButtonNames::setImage(button, image);
}

}  // namespace

std::shared_ptr<OEControlsHandler> OEControlsHandler::initWithController(std::shared_ptr<MediaPlayerController> controller) {
    return std::shared_ptr<OEControlsHandler>(new OEControlsHandler(std::move(controller)));
}

void OEControlsHandler::setControlsView(std::shared_ptr<OEControlsView> view) {
    view_ = std::move(view);
    if (view_) view_->setControlsViewDelegate(std::static_pointer_cast<OEControlsHandler>(shared_from_this()));
}

void OEControlsHandler::checkButtons() {
    if (!view_) return;
    updatePlayButton(view_->playButton());
    updateLoopButton(view_->loopButton());
    updateShufleButton(view_->shuffleButton());
}

void OEControlsHandler::updatePlayButton(const std::shared_ptr<UIButton>& button) {
    show(button, controller_->isPlaying() ? "paused" : "play");
}

void OEControlsHandler::updateLoopButton(const std::shared_ptr<UIButton>& button) {
    // The button keeps its name; the mode its image shows is its value.
    switch (controller_->rewind()) {
    case 0: show(button, "r"); break;
    case 1: show(button, "r_up"); break;
    case 2: show(button, "r.1"); break;
    default: return;
    }
    if (button) setAccessibilityValue(*button, kRepeatModes[controller_->rewind()]);
}

void OEControlsHandler::updateShufleButton(const std::shared_ptr<UIButton>& button) {
    show(button, controller_->shuffle() ? "s_up" : "s");
    if (button) setAccessibilityToggle(*button, controller_->shuffle());
}

void OEControlsHandler::playButtonPressed(const std::shared_ptr<NSObject>&) {
    controller_->play();
    if (view_) updatePlayButton(view_->playButton());
}

void OEControlsHandler::prevButtonPressed(const std::shared_ptr<NSObject>&) { controller_->prev(); }

void OEControlsHandler::nextButtonPressed(const std::shared_ptr<NSObject>&) { controller_->next(); }

void OEControlsHandler::loopButtonPressed(const std::shared_ptr<NSObject>&) {
    controller_->setRewind((controller_->rewind() + 1) % 3);
    if (view_) updateLoopButton(view_->loopButton());
}

void OEControlsHandler::shuffleButtonPressed(const std::shared_ptr<NSObject>&) {
    controller_->setShuffle(!controller_->shuffle());
    if (view_) updateShufleButton(view_->shuffleButton());
}
