// The phone's player screen.
#include "media/MediaPlayerViewController_iPhone.h"

#include "media/MediaPlayerItem.h"
#include "media/MediaPlayerViews.h"
#include "media/OEControlsHandler.h"
#include "media/OEProgressHandler.h"
#include "media/OETitleViewHandler.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<MediaPlayerViewController_iPhone> MediaPlayerViewController_iPhone::initWithMediaPlayerController(
    std::shared_ptr<MediaPlayerController> controller, MusicContext context) {
    return std::make_shared<MediaPlayerViewController_iPhone>(std::move(controller), std::move(context));
}

void MediaPlayerViewController_iPhone::loadView() {
    MediaPlayerViewController::loadView();
    nibViews_ = MediaPlayerViews::loadPhoneViews();
    setupContentViewHolder();
    setupProgressView();
    setupControls();
    setupConstraaints();
    setupButtons();
    setupTitle();
}

void MediaPlayerViewController_iPhone::setupContentViewHolder() {
    contentViewHolder_ = UIView::make();
    contentViewHolder_->setTranslatesAutoresizingMaskIntoConstraints(false);
    view()->addSubview(contentViewHolder_);
}

void MediaPlayerViewController_iPhone::setupProgressView() {
    progressView_ = std::static_pointer_cast<MediaPlayerProgressView>(nibViews_.at(1));
    progressView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    view()->addSubview(progressView_);
    progressHandler()->setProgressView(progressView_);
}

void MediaPlayerViewController_iPhone::setupControls() {
    controlsView_ = std::static_pointer_cast<MediaPlayerControllsView>(nibViews_.at(0));
    controlsView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    view()->addSubview(controlsView_);
    controlsHandler()->setControlsView(controlsView_);
}

void MediaPlayerViewController_iPhone::setupTitle() {
    titleView_ = std::static_pointer_cast<MediaPlayerTitleView>(nibViews_.at(2));
    titleHandler()->setTitleView(titleView_);
    navigationItem()->setTitleView(titleView_);
}

void MediaPlayerViewController_iPhone::setupButtons() {
    std::weak_ptr<MediaPlayerViewController_iPhone> weak =
        std::static_pointer_cast<MediaPlayerViewController_iPhone>(shared_from_this());
    navigationItem()->setRightBarButtonItem(makePlainButtonWithImageName(
        std::static_pointer_cast<UIViewController>(shared_from_this()), "menu_media", [weak](const auto&) {
            if (auto self = weak.lock()) self->showCompositions();
        }));
}

void MediaPlayerViewController_iPhone::setupConstraaints() {
    auto root = view();
    auto safe = root->safeAreaLayoutGuide();
    NSLayoutConstraint::activateConstraints({
        progressView_->leftAnchor()->constraintEqualToAnchor(root->leftAnchor()),
        progressView_->rightAnchor()->constraintEqualToAnchor(root->rightAnchor()),
        controlsView_->leftAnchor()->constraintEqualToAnchor(root->leftAnchor()),
        controlsView_->rightAnchor()->constraintEqualToAnchor(root->rightAnchor()),
        contentViewHolder_->leftAnchor()->constraintEqualToAnchor(root->leftAnchor()),
        contentViewHolder_->rightAnchor()->constraintEqualToAnchor(root->rightAnchor()),
        progressView_->heightAnchor()->constraintEqualToConstant(kProgressHeight),
        controlsView_->heightAnchor()->constraintEqualToConstant(kControlsHeight),
    });
    // Each view is placed against the screen, not against its neighbours: the content holds the
    // room between the two bars, and all of it while they are moved off screen.
    visibleConstraints_ = {
        progressView_->topAnchor()->constraintEqualToAnchor(safe->topAnchor()),
        controlsView_->bottomAnchor()->constraintEqualToAnchor(safe->bottomAnchor()),
        contentViewHolder_->topAnchor()->constraintEqualToAnchor(safe->topAnchor(), kProgressHeight),
        contentViewHolder_->bottomAnchor()->constraintEqualToAnchor(safe->bottomAnchor(), -kControlsHeight)};
    hiddenConstraints_ = {progressView_->bottomAnchor()->constraintEqualToAnchor(safe->topAnchor()),
                          controlsView_->topAnchor()->constraintEqualToAnchor(root->bottomAnchor()),
                          contentViewHolder_->topAnchor()->constraintEqualToAnchor(safe->topAnchor()),
                          contentViewHolder_->bottomAnchor()->constraintEqualToAnchor(root->bottomAnchor())};
    NSLayoutConstraint::activateConstraints(visibleConstraints_);
}

void MediaPlayerViewController_iPhone::toggleFullscreen() {
    MediaPlayerViewController::toggleFullscreen();
    setNeedsStatusBarAppearanceUpdate();
    const bool hide = fullscreen();
    if (auto navigation = navigationController()) navigation->setNavigationBarHidden(hide, true);
    NSLayoutConstraint::deactivateConstraints(hide ? visibleConstraints_ : hiddenConstraints_);
    NSLayoutConstraint::activateConstraints(hide ? hiddenConstraints_ : visibleConstraints_);
    std::weak_ptr<MediaPlayerViewController_iPhone> weak =
        std::static_pointer_cast<MediaPlayerViewController_iPhone>(shared_from_this());
    auto root = view();
    UIView::animateWithDuration(
        kFullscreenAnimation, [root] { root->layoutIfNeeded(); },
        [weak](bool) {
            auto self = weak.lock();
            if (!self) return;
            // The state when the animation ends: a second tap during it has the last word.
            self->controlsView_->setHidden(self->fullscreen());
            self->progressView_->setHidden(self->fullscreen());
        });
}

void MediaPlayerViewController_iPhone::changeTitleFrom(const std::shared_ptr<MediaPlayerItem>& item) {
    titleHandler()->updateTitle(item ? item->fieldValue("author_name") : std::string());
    titleHandler()->updateSubtitle(item ? item->fieldValue("name") : std::string());
}

void MediaPlayerViewController_iPhone::setContentViewController(std::shared_ptr<UIViewController> controller) {
    // A screen on show passes the appearance on, as it does when it appears itself, through
    // the content's own transitions so that its children (the slideshow's pages) hear of it too:
    // the pictures are read only on screen.
    // A screen on its way back (a pop that has begun and not ended) is on show too: its content
    // began appearing with it, and a new one begins now and ends with it in viewDidAppear.
    const bool onScreen = hasAppeared();
    const bool arriving = isVisible() && !onScreen;
    if (contentViewController_) {
        if (onScreen || arriving) contentViewController_->beginAppearanceTransition(false, false);
        contentViewController_->view()->removeFromSuperview();
        if (onScreen || arriving) contentViewController_->endAppearanceTransition();
    }
    contentViewController_ = std::move(controller);
    if (!contentViewController_) return;
    loadViewIfNeeded();
    auto content = contentViewController_->view();
    content->setTranslatesAutoresizingMaskIntoConstraints(false);
    contentViewHolder_->addSubview(content);
    NSLayoutConstraint::activateConstraints({
        content->topAnchor()->constraintEqualToAnchor(contentViewHolder_->topAnchor()),
        content->bottomAnchor()->constraintEqualToAnchor(contentViewHolder_->bottomAnchor()),
        content->leftAnchor()->constraintEqualToAnchor(contentViewHolder_->leftAnchor()),
        content->rightAnchor()->constraintEqualToAnchor(contentViewHolder_->rightAnchor()),
    });
    if (onScreen || arriving) contentViewController_->beginAppearanceTransition(true, false);
    if (onScreen) contentViewController_->endAppearanceTransition();
}

void MediaPlayerViewController_iPhone::viewWillAppear(bool animated) {
    MediaPlayerViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, animated);
    if (contentViewController_) contentViewController_->beginAppearanceTransition(true, false);
}

void MediaPlayerViewController_iPhone::viewDidAppear(bool animated) {
    MediaPlayerViewController::viewDidAppear(animated);
    if (contentViewController_) contentViewController_->endAppearanceTransition();
}

void MediaPlayerViewController_iPhone::viewWillDisappear(bool animated) {
    MediaPlayerViewController::viewWillDisappear(animated);
    if (contentViewController_) contentViewController_->beginAppearanceTransition(false, false);
}

void MediaPlayerViewController_iPhone::viewDidDisappear(bool animated) {
    MediaPlayerViewController::viewDidDisappear(animated);
    if (contentViewController_) contentViewController_->endAppearanceTransition();
}

void MediaPlayerViewController_iPhone::viewWillTransitionToSize(
    CGSize size, const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) {
    MediaPlayerViewController::viewWillTransitionToSize(size, coordinator);
    if (contentViewController_) contentViewController_->viewWillTransitionToSize(size, coordinator);
}
