// The engine singleton: holds the configuration and the long-lived services, runs the start-up
// sequence once, puts the side-menu shell into the window and receives the application's
// life-cycle changes. It is where the application's parts are wired together: the layers below
// get the configuration, localisations, file locations and picture service handed in from here.
#pragma once

#include "config/OEConfig.h"
#include "config/OEContext.h"
#include "config/OELocalizations.h"
#include "gallery/DownloadsCounter.h"
#include "gallery/GalleryContext.h"
#include "media/MediaPlayerViewController.h"
#include "media/MusicContext.h"
#include "texts/TextsContext.h"
#include "platform/foundation/NSObject.h"
#include "platform/ui/UIApplication.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class DataSource;
class DispatchGroup;
class OEIdleTimerManager;
class FileDownloader;
class MediaPlayerController;
class NSNotification;
class OELikesManager;
class SQLiteEngine;
class UIApplication;
class UIViewController;
class UIWindow;

class OECore : public NSObject, public MediaPlayerViewControllerDelegate {
public:
    // The count of present pictures: the download-all offer at the second launch and the
    // menu's download row hang on it. A test may install its own before the start-up sequence;
    // otherwise the sequence hands the gallery's its context and takes the process's one
    // (DownloadedImagesCount::instance).
    using DownloadsCounter = ::DownloadsCounter;

    // The singleton, made once (thread-safe) on first use.
    static std::shared_ptr<OECore> instance();
    // Drops the singleton, so that the next instance() is a fresh engine as in a new process
    // (tests). Its favourites upload ends first, so nothing of it reaches the next engine's files;
    // the services it started (messages, new applications, download queue, rating, the count of
    // present pictures, the texts model, the picture loader) go too.
    static void resetInstance();
    // Whether instance() has made the engine since the last reset (the test harness checks it).
    static bool hasInstance();

    // The factory's whole configuration (three picture groupings), then setupWithConfig.
    [[nodiscard]] static bool setup();
    // With Info.plist's "AppId" as the store identifier. What initializeWithConfig answers.
    [[nodiscard]] static bool setupWithConfig(const std::shared_ptr<OEConfig>& config);
    [[nodiscard]] static bool setupWithConfig(const std::shared_ptr<OEConfig>& config, const std::string& appId);

    // --- Properties -------------------------------------------------------------------------
    const std::shared_ptr<OEConfig>& config() const { return config_; }
    // The side-menu container, once the start screen stands; empty before.
    const std::shared_ptr<UIViewController>& viewController() const { return viewController_; }
    const std::shared_ptr<OEIdleTimerManager>& idleManager() const { return idleManager_; }
    const std::shared_ptr<OELocalizations>& locale() const { return locale_; }
    const std::shared_ptr<OELikesManager>& likesManager() const { return likesManager_; }
    const std::string& appId() const { return appId_; }
    const std::shared_ptr<FileSystem>& fileSystem() const { return fileSystem_; }
    // The process's picture loader (ResourceLoader::sharedResourceLoader), taken at start-up;
    // empty before.
    const std::shared_ptr<ResourceLoader>& resourceLoader() const { return resourceLoader_; }
    // What the layers below are handed: the configuration, the localisations and the file
    // locations (the first two empty before start-up).
    OEContext appContext() const { return OEContext{config_, locale_, fileSystem_}; }
    GalleryContext galleryContext() const {
        return GalleryContext{appContext(), resourceLoader_, likesManager_, downloadsCounter_, idleManager_};
    }

    // The process's texts model (TextServer::sharedTextServer), over the context handed to it at
    // start-up; empty before start-up and without a texts database.
    std::shared_ptr<TextServer> textServer();
    // What the text, article and famous-post screens are handed.
    TextsContext textsContext();

    std::shared_ptr<DownloadsCounter> downloadsCounter() const { return downloadsCounter_; }
    void setDownloadsCounter(std::shared_ptr<DownloadsCounter> counter) { downloadsCounter_ = std::move(counter); }

    // --- Start-up -----------------------------------------------------------------------------
    // Stores the configuration and runs the start-up sequence. It runs once per process: a
    // second call is refused (false, with a logged sentence) and changes nothing.
    [[nodiscard]] bool initializeWithConfig(const std::shared_ptr<OEConfig>& config, const std::string& appId);
    bool isInitialized() const { return initialized_; }
    // Builds the menu, the side-menu container with the menu on the left, shows the window and
    // runs the first menu item's action. Once only, like the sequence, and only after it.
    void showStartScreenInWindow(const std::shared_ptr<UIWindow>& window);
    bool isStartScreenShown() const { return startScreenShown_; }

    // The steps, in the order the sequence runs them.
    void customizeInterface();
    void loadDefaults();
    // Checks the maker's message server ("ios." + bundle identifier, the bundle version, the
    // server named by RemoteMessageManager::defaultServerUrl(), no periodic check).
    void setupRemoteNotifications();
    void setupLocale();
    void setupIdleManager();
    void setupDownlloadsCounter();
    void setupReminders();
    // Starts the new-applications check over the configuration's news address and start
    // count, repeated by a time reminder; the menu buttons' badge reads its count.
    void setupNewsChecker();
    void setupLikesManager();
    // The rating prompt: one condition of 100 launches for the states 0, 2 and 4, the question
    // of the first screen, and this launch counted.
    void setupRaterWithAppId(const std::string& appId);
    // Posts every favourite picture as a like, on a background queue; returns at once. Only the
    // likes not yet set on this device are sent.
    void sendFavorites();

    // The configuration names an images database.
    bool hasImages() const;
    // A downloads counter is installed and not every picture is present.
    bool isNeedDownloadReminder() const;
    // Offers the download of all pictures over the top-most screen, unless nothing is missing
    // any more or the list of pictures could not be read whole. Asked for before the start screen
    // stands (the reminder's launch is the cold launch itself), it waits for it.
    void showDownloadAlert();
    bool isDownloadAlertPending() const { return downloadAlertPending_; }

    // --- Music ------------------------------------------------------------------------------------
    // Made by the start-up sequence when the configuration names a media database; empty else.
    const std::shared_ptr<MediaPlayerController>& mediaPlayer() const { return mediaPlayer_; }
    std::shared_ptr<MediaPlayerViewController> mediaPlayerVC() const { return mediaPlayerVC_.lock(); }
    void setMediaPlayerVC(const std::shared_ptr<MediaPlayerViewController>& controller) { mediaPlayerVC_ = controller; }
    // What the music screens are handed; empty services before start-up.
    std::shared_ptr<const MediaContext> mediaContext() const { return mediaContext_; }
    MusicContext musicContext();
    // A connection of its own to the media database; empty without one, or when the file is not
    // a media database the music's statements can read.
    std::shared_ptr<SQLiteEngine> openMediaDatabase() const;
    // The shared download queue, handed to the music screens once there is a media database.
    const std::shared_ptr<FileDownloader>& mediaDownloads() const { return mediaDownloads_; }
    // Start-up step 9: the player controller over the media database's authors, its play-request
    // observers and remote-control reception.
    void setupMediaPlayer();
    void addPlayerObservers();
    void compositionSelected(const NSNotification& notification);
    void playPlayList(const NSNotification& notification);
    void playList(const NSNotification& notification);
    // Play (100) starts what does not play, pause (101) pauses what plays, toggle (103) toggles,
    // next (104) and previous (105); everything else is ignored.
    void remoteControlReceivedWithEvent(const std::shared_ptr<UIEvent>& event);
    // Keeps the music going in the background: one task at a time, renewed as it expires.
    void startPlayerBackgroundTask();
    void stopPlayerBackgroundTask();
    UIBackgroundTaskIdentifier playerTask() const { return playerTask_; }
    // The media data replaced: forwarded to the player screen.
    void beforeUpdate();
    void afterUpdate();
    // The player screen's content: a slideshow of the current author's paintings.
    void loadPhotoViewForMediaPlayerVC(const std::shared_ptr<MediaPlayerViewController>& controller);
    void mediaPlayerViewControllerNeedShowCompositions(const std::shared_ptr<MediaPlayerViewController>& controller) override;
    void mediaPlayerViewControllerDidChangeItem(const std::shared_ptr<MediaPlayerViewController>& controller) override;

    // --- Life cycle ---------------------------------------------------------------------------
    void applicationWillResignActive(UIApplication& application);
    void applicationDidEnterBackground(UIApplication& application);
    void applicationWillEnterForeground(UIApplication& application);
    void applicationDidBecomeActive(UIApplication& application);
    void applicationWillTerminate(UIApplication& application);

    // Told the name of each step of the start-up sequence and of the life-cycle changes as it
    // ends ("setupNewsChecker", "startPlayerBackgroundTask", ...), so the order can be followed.
    using StepObserver = std::function<void(const std::string& step)>;
    void setStepObserver(StepObserver observer) { stepObserver_ = std::move(observer); }

    // The identifier of the launch reminder that offers the download of all pictures.
    static const std::string& downloadReminderIdentifier();  // "DwonloadImagesReminder"

    OECore() = default;

private:
    void setupDownloadQueue();
    // Runs one named step and tells the observer.
    void step(const std::string& name, const std::function<void()>& run);

    std::shared_ptr<OEConfig> config_;
    std::shared_ptr<UIViewController> viewController_;
    std::shared_ptr<OEIdleTimerManager> idleManager_;
    std::shared_ptr<OELocalizations> locale_;
    std::shared_ptr<OELikesManager> likesManager_;
    // Held from the start of the favourites upload until the server has answered it.
    std::shared_ptr<DispatchGroup> favoritesUpload_;
    std::shared_ptr<FileSystem> fileSystem_ = FileSystem::sharedFileSystem();
    std::shared_ptr<ResourceLoader> resourceLoader_;
    std::shared_ptr<DownloadsCounter> downloadsCounter_;
    std::string appId_;
    bool initialized_ = false;
    bool startScreenShown_ = false;
    bool downloadAlertPending_ = false;
    std::shared_ptr<const MediaContext> mediaContext_;
    std::shared_ptr<MediaPlayerController> mediaPlayer_;
    std::weak_ptr<MediaPlayerViewController> mediaPlayerVC_;
    std::shared_ptr<FileDownloader> mediaDownloads_;
    UIBackgroundTaskIdentifier playerTask_ = UIBackgroundTaskInvalid;
    StepObserver stepObserver_;
};
