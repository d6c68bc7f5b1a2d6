// The phone's player screen: the progress view on top, the content area (the author's paintings),
// the controls below; the title view (author, composition) and a button to the catalogue in the
// navigation bar. A tap slides the bars away and back over 0.3 seconds.
#pragma once

#include "media/MediaPlayerViewController.h"

#include <memory>
#include <vector>

class MediaPlayerControllsView;
class MediaPlayerProgressView;
class MediaPlayerTitleView;
class NSLayoutConstraint;

class MediaPlayerViewController_iPhone : public MediaPlayerViewController {
public:
    static constexpr double kFullscreenAnimation = 0.3;
    static constexpr CGFloat kProgressHeight = 64;
    // The controls keep their height; the content takes what is left between the two.
    static constexpr CGFloat kControlsHeight = 64;

    static std::shared_ptr<MediaPlayerViewController_iPhone> initWithMediaPlayerController(
        std::shared_ptr<MediaPlayerController> controller, MusicContext context);
    using MediaPlayerViewController::MediaPlayerViewController;

    const std::shared_ptr<MediaPlayerProgressView>& progressView() const { return progressView_; }
    const std::shared_ptr<MediaPlayerControllsView>& controlsView() const { return controlsView_; }
    const std::shared_ptr<MediaPlayerTitleView>& titleView() const { return titleView_; }
    const std::shared_ptr<UIView>& contentViewHolder() const { return contentViewHolder_; }
    const std::vector<std::shared_ptr<NSLayoutConstraint>>& visibleConstraints() const { return visibleConstraints_; }
    const std::vector<std::shared_ptr<NSLayoutConstraint>>& hiddenConstraints() const { return hiddenConstraints_; }

    void loadView() override;
    void toggleFullscreen() override;
    bool prefersStatusBarHidden() const override { return fullscreen(); }
    // Author as title, composition as subtitle.
    void changeTitleFrom(const std::shared_ptr<MediaPlayerItem>& item) override;
    // The old content screen disappears; the new one fills the content area.
    void setContentViewController(std::shared_ptr<UIViewController> controller) override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewWillTransitionToSize(CGSize size,
                                  const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) override;

private:
    void setupContentViewHolder();
    void setupProgressView();
    void setupControls();
    void setupConstraaints();
    void setupButtons();
    void setupTitle();

    std::shared_ptr<MediaPlayerProgressView> progressView_;
    std::shared_ptr<MediaPlayerControllsView> controlsView_;
    std::shared_ptr<MediaPlayerTitleView> titleView_;
    std::shared_ptr<UIView> contentViewHolder_;
    std::vector<std::shared_ptr<UIView>> nibViews_;
    std::vector<std::shared_ptr<NSLayoutConstraint>> visibleConstraints_;
    std::vector<std::shared_ptr<NSLayoutConstraint>> hiddenConstraints_;
};
