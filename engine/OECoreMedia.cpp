// The engine's music: the player controller made at start-up, the play requests of the music
// screens, remote-control events, background playback, and the player screen's hooks (the
// author's paintings as its content, the catalogue pushed over it).
#include "engine/OECore.h"

#include "content/FileDownloader.h"
#include "content/ListOtherSubCat_DataSource.h"
#include "content/Loader.h"
#include "content/SQLiteEngine.h"
#include "content/dataSubCat.h"
#include "content/dbEntry.h"
#include "gallery/PhotoPageViewController.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerController.h"
#include "media/MediaPlayerItem.h"
#include "media/OECompositionsTableViewController.h"
#include "media/PlayList.h"
#include "media/UICompositionCatsViewController.h"
#include "media/UICompositionsDownloaderViewController.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UINavigationController.h"

MusicContext OECore::musicContext() {
    MusicContext context;
    context.media = mediaContext_;
    context.player = mediaPlayer_;
    context.downloads = mediaDownloads_;
    if (auto downloads = mediaDownloads_) {
        context.makeDownloadsScreen = [downloads, context](const std::shared_ptr<CompositionsSource>& source) {
            return std::static_pointer_cast<UIViewController>(UICompositionsDownloaderViewController::initWithStyle(
                UITableViewStyleGrouped, source, downloads, context));
        };
    }
    std::weak_ptr<OECore> weak = std::static_pointer_cast<OECore>(shared_from_this());
    context.beforeUpdate = [weak] {
        if (auto self = weak.lock()) self->beforeUpdate();
    };
    context.afterUpdate = [weak] {
        if (auto self = weak.lock()) self->afterUpdate();
    };
    return context;
}

void OECore::setupMediaPlayer() {
    auto media = std::make_shared<MediaContext>();
    media->app = appContext();
    media->idle = idleManager_;
    mediaContext_ = media;
    const auto& database = config_->database();
    if (!database || database->mediaDBName().empty()) return;
    auto sql = openMediaDatabase();
    if (!sql) {
        Diagnostics::notef("The media database %s cannot be opened; there is no music.", database->mediaDBName().c_str());
        return;
    }
    mediaDownloads_ = FileDownloader::sharedDownloader();
    mediaPlayer_ = MediaPlayerController::initWithSource(DB_CompositionsSource::initWithSQL(sql, "author", media), media);
    addPlayerObservers();
    UIApplication::sharedApplication()->beginReceivingRemoteControlEvents();
}

std::shared_ptr<SQLiteEngine> OECore::openMediaDatabase() const {
    const auto database = config_ ? config_->database() : nullptr;
    if (!database || database->mediaDBName().empty() || !fileSystem_) return nullptr;
    return SQLiteEngine::init(database->mediaDBName(), *fileSystem_, DB_CompositionsSource::expectedTables());
}

void OECore::addPlayerObservers() {
    auto self = std::static_pointer_cast<OECore>(shared_from_this());
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(self, &OECore::compositionSelected, CompositionSelectedMessage);
    center->addObserver(self, &OECore::playPlayList, CompositionPlayPlaylistMessage);
    center->addObserver(self, &OECore::playList, CompositionsPlayList);
}

void OECore::compositionSelected(const NSNotification& notification) {
    auto item = std::dynamic_pointer_cast<MediaPlayerItem>(notification.object());
    if (mediaPlayer_ && item) mediaPlayer_->playList(MediaItems{item});
}

void OECore::playPlayList(const NSNotification& notification) {
    auto list = std::dynamic_pointer_cast<PlayList>(notification.object());
    if (mediaPlayer_ && list) mediaPlayer_->playList(list->items);
}

void OECore::playList(const NSNotification& notification) {
    if (!mediaPlayer_) return;
    MediaItems items;
    for (const auto& value : notification.userInfo().get("list").array())
        if (auto item = value.objectAs<MediaPlayerItem>()) items.push_back(item);
    mediaPlayer_->playList(items, notification.userInfo().get("index").intValue());
}

void OECore::remoteControlReceivedWithEvent(const std::shared_ptr<UIEvent>& event) {
    if (!mediaPlayer_ || !event || event->type() != UIEventType::RemoteControl) return;
    switch (static_cast<int>(event->subtype())) {
    case 100:
        if (!mediaPlayer_->isPlaying()) mediaPlayer_->play();
        break;
    case 101:
        if (mediaPlayer_->isPlaying()) mediaPlayer_->play();
        break;
    case 103: mediaPlayer_->play(); break;
    case 104: mediaPlayer_->next(); break;
    case 105: mediaPlayer_->prev(); break;
    default: break;
    }
}

void OECore::startPlayerBackgroundTask() {
    if (playerTask_ != UIBackgroundTaskInvalid) return;
    std::weak_ptr<OECore> weak = std::static_pointer_cast<OECore>(shared_from_this());
    playerTask_ = UIApplication::sharedApplication()->beginBackgroundTaskWithExpirationHandler([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->stopPlayerBackgroundTask();
        self->startPlayerBackgroundTask();
    });
}

void OECore::stopPlayerBackgroundTask() {
    UIApplication::sharedApplication()->endBackgroundTask(playerTask_);
    playerTask_ = UIBackgroundTaskInvalid;
}

void OECore::beforeUpdate() {
    if (auto screen = mediaPlayerVC()) screen->beforeUpdate();
}

void OECore::afterUpdate() {
    if (auto screen = mediaPlayerVC()) screen->afterUpdate();
}

void OECore::loadPhotoViewForMediaPlayerVC(const std::shared_ptr<MediaPlayerViewController>& controller) {
    if (!controller || !config_ || !config_->database()) return;
    auto item = controller->controller() ? controller->controller()->currentMediaItem() : nullptr;
    const int author = item ? item->data().get("author").intValue() : 0;
    auto entry = dbEntry::defaultEntry(config_->database());
    entry->setDbPath(config_->database()->mediaDBName());
    auto loader = Loader::loaderWithDBEntry(entry, appContext());
    auto subCat = dataSubCat::emptySubCat();
    subCat->setIndex(author);
    auto source = loader ? ListOtherSubCat_DataSource::initWithLoader(loader, "author") : nullptr;
    const auto rows = source ? source->list(subCat) : ContentRowList{};
    std::weak_ptr<MediaPlayerViewController> weak = controller;
    const auto gallery = galleryContext();
    DispatchQueue::mainQueue()->async([weak, rows, subCat, gallery] {
        auto screen = weak.lock();
        if (!screen) return;
        auto pager = PhotoPageViewController::initWithImagesData(rows, subCat, 0, gallery);
        if (pager) {
            pager->setHideControlls(true);
            pager->setSlideShow(true);
            pager->setCanHideStatusBar(false);
            pager->view()->setUserInteractionEnabled(false);
        }
        // An author without paintings leaves the content area empty.
        screen->setContentViewController(pager);
    });
}

void OECore::mediaPlayerViewControllerNeedShowCompositions(const std::shared_ptr<MediaPlayerViewController>& controller) {
    if (!controller || !config_ || !config_->database()) return;
    auto sql = openMediaDatabase();
    auto navigation = controller->navigationController();
    if (!sql || !navigation) return;
    navigation->pushViewController(UICompositionCatsViewController::initWithDb(sql, musicContext()), true);
}

void OECore::mediaPlayerViewControllerDidChangeItem(const std::shared_ptr<MediaPlayerViewController>& controller) {
    loadPhotoViewForMediaPlayerVC(controller);
}
