// The player screen both devices build on: the controls, progress and title handlers over the
// player controller, the notifications that keep them current, a content area showing another
// screen (the author's paintings), and a tap that toggles full screen.
#pragma once

#include "media/MusicContext.h"
#include "platform/ui/UIViewController.h"

#include <memory>

class MediaPlayerController;
class MediaPlayerItem;
class MediaPlayerViewController;
class NSNotification;
class OEControlsHandler;
class OEProgressHandler;
class OETitleViewHandler;

class MediaPlayerViewControllerDelegate {
public:
    virtual ~MediaPlayerViewControllerDelegate() = default;
    virtual void mediaPlayerViewControllerNeedShowCompositions(const std::shared_ptr<MediaPlayerViewController>&) {}
    virtual void mediaPlayerViewControllerDidChangeItem(const std::shared_ptr<MediaPlayerViewController>&) {}
};

class MediaPlayerViewController : public UIViewController {
public:
    MediaPlayerViewController(std::shared_ptr<MediaPlayerController> controller, MusicContext context);
    ~MediaPlayerViewController() override;

    const std::shared_ptr<MediaPlayerController>& controller() const { return controller_; }
    const MusicContext& context() const { return context_; }
    const std::shared_ptr<OEControlsHandler>& controlsHandler() const { return controlsHandler_; }
    const std::shared_ptr<OEProgressHandler>& progressHandler() const { return progressHandler_; }
    const std::shared_ptr<OETitleViewHandler>& titleHandler() const { return titleHandler_; }
    bool fullscreen() const { return fullscreen_; }
    std::shared_ptr<MediaPlayerViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<MediaPlayerViewControllerDelegate>& delegate) { delegate_ = delegate; }
    const std::shared_ptr<UIViewController>& contentViewController() const { return contentViewController_; }
    // The device screens place it.
    virtual void setContentViewController(std::shared_ptr<UIViewController> controller) {
        contentViewController_ = std::move(controller);
    }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void addObservers();
    void removeObservers();
    void setupUI();
    void updateUI();
    void positionChanged();
    void itemChanged(const NSNotification& notification);
    // The device screens fill their titles from the track.
    virtual void changeTitleFrom(const std::shared_ptr<MediaPlayerItem>& item) { (void)item; }
    virtual void toggleFullscreen() { fullscreen_ = !fullscreen_; }
    void showCompositions();
    // Around a replacement of the media data: the player stops and downloads end; then the
    // player takes every track.
    void beforeUpdate();
    void afterUpdate();
    void dataUpdatedNotification(const NSNotification& notification);
    // A playlist started from a screen pushed over the player: back to the player.
    void playPlayListClicked(const NSNotification& notification);
    // Once per installation: the notice that some songs need the network.
    void showNeedInternetConnectionMessageIfNeeded();

protected:
    std::shared_ptr<UIViewController> contentViewController_;

private:
    std::shared_ptr<MediaPlayerController> controller_;
    MusicContext context_;
    std::shared_ptr<OEControlsHandler> controlsHandler_;
    std::shared_ptr<OEProgressHandler> progressHandler_;
    std::shared_ptr<OETitleViewHandler> titleHandler_;
    bool fullscreen_ = false;
    std::weak_ptr<MediaPlayerViewControllerDelegate> delegate_;
};
