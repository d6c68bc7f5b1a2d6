// The player screen both devices build on.
#include "media/MediaPlayerViewController.h"

#include "content/FileDownloader.h"
#include "media/MediaPlayerController.h"
#include "media/MediaPlayerItem.h"
#include "media/OEControlsHandler.h"
#include "media/OECompositionsTableViewController.h"
#include "media/OEProgressHandler.h"
#include "media/OETitleViewHandler.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

MediaPlayerViewController::MediaPlayerViewController(std::shared_ptr<MediaPlayerController> controller,
                                                     MusicContext context)
    : controller_(std::move(controller)),
      context_(std::move(context)),
      controlsHandler_(OEControlsHandler::initWithController(controller_)),
      progressHandler_(OEProgressHandler::initWithController(controller_)),
      titleHandler_(OETitleViewHandler::make()) {}

MediaPlayerViewController::~MediaPlayerViewController() { removeObservers(); }

void MediaPlayerViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    view()->setBackgroundColor(context_.backgroundColor());
    auto self = std::static_pointer_cast<MediaPlayerViewController>(shared_from_this());
    sideMenu_addButton(self, context_.backgroundColor());
    addObservers();
    auto tap = UITapGestureRecognizer::make();
    std::weak_ptr<MediaPlayerViewController> weak = self;
    tap->addTarget(self, [weak](const std::shared_ptr<UIGestureRecognizer>&) {
        if (auto screen = weak.lock()) screen->toggleFullscreen();
    });
    view()->addGestureRecognizer(tap);
    // A tap anywhere the controls leave free takes the player to full screen and back.
    setAccessibilityLabel(*view(), "full screen");
    setAccessibilityTraits(*view(), UIAccessibilityTraitButton);
    setupUI();
}

void MediaPlayerViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    controlsHandler_->checkButtons();
}

void MediaPlayerViewController::addObservers() {
    auto self = std::static_pointer_cast<MediaPlayerViewController>(shared_from_this());
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(self, [this](const NSNotification&) { positionChanged(); }, MediaPlayerPostionChangedNotification);
    center->addObserver(self, &MediaPlayerViewController::itemChanged, MediaPlayerItemChangedNotification);
    center->addObserver(self, [this](const NSNotification&) { updateUI(); }, MediaPlayerPlayStoppedNotification);
    center->addObserver(self, &MediaPlayerViewController::dataUpdatedNotification, kMediaDataUpdated);
    center->addObserver(self, &MediaPlayerViewController::playPlayListClicked, CompositionPlayPlaylistMessage);
}

void MediaPlayerViewController::removeObservers() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

void MediaPlayerViewController::setupUI() {
    if (auto item = controller_->currentMediaItem()) {
        positionChanged();
        changeTitleFrom(item);
    }
}

void MediaPlayerViewController::updateUI() { controlsHandler_->checkButtons(); }

void MediaPlayerViewController::positionChanged() {
    progressHandler_->updateProgress();
    controlsHandler_->checkButtons();
}

void MediaPlayerViewController::itemChanged(const NSNotification& notification) {
    changeTitleFrom(std::dynamic_pointer_cast<MediaPlayerItem>(notification.object()));
    if (auto d = delegate())
        d->mediaPlayerViewControllerDidChangeItem(std::static_pointer_cast<MediaPlayerViewController>(shared_from_this()));
}

void MediaPlayerViewController::showCompositions() {
    if (auto d = delegate())
        d->mediaPlayerViewControllerNeedShowCompositions(
            std::static_pointer_cast<MediaPlayerViewController>(shared_from_this()));
}

void MediaPlayerViewController::beforeUpdate() {
    controller_->stop();
    if (context_.downloads) context_.downloads->cancelAll();
}

void MediaPlayerViewController::afterUpdate() {
    controller_->updateList();
    setupUI();
}

void MediaPlayerViewController::dataUpdatedNotification(const NSNotification& notification) {
    // The picture favourites post the same name: only new media data touch the music.
    if (!MusicContext::isMediaDataUpdate(notification)) return;
    beforeUpdate();
    setupUI();
    afterUpdate();
}

void MediaPlayerViewController::playPlayListClicked(const NSNotification&) {
    if (auto navigation = navigationController()) navigation->popToRootViewControllerAnimated(true);
}

void MediaPlayerViewController::showNeedInternetConnectionMessageIfNeeded() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (!defaults->objectForKey("InternetConnectionNeededAttention").isNull()) return;
    showNotificationAlertWithWithTitle(std::static_pointer_cast<UIViewController>(shared_from_this()), OECoreString("Attention"),
                                       OECoreString("Some songs require Internet connection. You can download them later."));
    defaults->setBool(true, "InternetConnectionNeededAttention");
}
