// The engine singleton: the start-up sequence, the start screen and the life-cycle forwards.
#include "engine/OECore.h"

#include "config/AppConfig.h"
#include "content/FileDownloader.h"
#include "content/Loader.h"
#include "content/NewAppsChecker.h"
#include "content/OELikesManager.h"
#include "content/RemoteMessageManager.h"
#include "content/dbEntry.h"
#include "content/tempDataSource.h"
#include "engine/OEDefaultMenuSectionsFactory.h"
#include "engine/OEMainMenu.h"
#include "engine/ViewControllersConstructor.h"
#include "gallery/DownloadedImagesCount.h"
#include "media/MediaPlayerController.h"
#include "config/AppInfo.h"
#include "config/OEConfigFactory.h"
#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"
#include "uikit/LaunchReminderManager.h"
#include "uikit/MRater.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEIdleTimerManager.h"
#include "uikit/OESideMenuContainerViewController.h"
#include "uikit/RemindManager.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <cstdio>

namespace {

// The new-applications check's repetition: a time reminder among the remind manager's (so it
// pauses with the application) that runs the check and starts counting again. It leaves the
// manager when the checker lets it go.
class RepeatingReminder : public NSObject {
public:
    static std::shared_ptr<NSObject> make(double interval, const std::string& key, std::function<void()> check) {
        auto holder = std::make_shared<RepeatingReminder>();
        auto slot = std::make_shared<std::weak_ptr<TimeReminder>>();
        holder->reminder_ = TimeReminder::initWithInterval(interval, key, [slot, interval, check = std::move(check)] {
            if (check) check();
            if (auto reminder = slot->lock()) reminder->reRunReminder(interval);
        });
        *slot = holder->reminder_;
        RemindManager::sharedRemindManager()->add(holder->reminder_);
        return holder;
    }
    ~RepeatingReminder() override {
        if (reminder_) RemindManager::sharedRemindManager()->remove(reminder_);
    }

private:
    std::shared_ptr<TimeReminder> reminder_;
};

Mutex instanceMutex;
std::shared_ptr<OECore>& sharedSlot() REQUIRES(instanceMutex) {
    static std::shared_ptr<OECore> engine;
    return engine;
}

}  // namespace

std::shared_ptr<OECore> OECore::instance() {
    MutexLock lock(instanceMutex);
    auto& engine = sharedSlot();
    if (!engine) engine = std::make_shared<OECore>();
    return engine;
}

void OECore::resetInstance() {
    std::shared_ptr<OECore> old;
    {
        MutexLock lock(instanceMutex);
        old.swap(sharedSlot());
    }
    if (old && old->favoritesUpload_) (void)old->favoritesUpload_->wait();  // no deadline: returns once all left
    // The services it started go with it, as with a process that ends.
    setNewAppsCountProvider(nullptr);
    NewAppsChecker::resetSharedNewAppsChecker();
    RemoteMessageManager::resetSharedManager();
    FileDownloader::resetSharedDownloader();
    MRater::resetInstance();
    DownloadedImagesCount::resetInstance();
    TextServer::resetSharedTextServer();
    ResourceLoader::resetSharedResourceLoader();
}

bool OECore::hasInstance() {
    MutexLock lock(instanceMutex);
    return sharedSlot() != nullptr;
}

const std::string& OECore::downloadReminderIdentifier() {
    static const std::string identifier = "DwonloadImagesReminder";
    return identifier;
}

bool OECore::setup() { return setupWithConfig(OEConfigFactory::defaultFactory()->makeConfig()); }

bool OECore::setupWithConfig(const std::shared_ptr<OEConfig>& config) {
    return setupWithConfig(config, AppInfo::appStoreId());
}

bool OECore::setupWithConfig(const std::shared_ptr<OEConfig>& config, const std::string& appId) {
    return instance()->initializeWithConfig(config, appId);
}

bool OECore::initializeWithConfig(const std::shared_ptr<OEConfig>& config, const std::string& appId) {
    if (initialized_) {
        Diagnostics::note("The engine has already started; a second start-up is refused.");
        return false;
    }
    if (!config) {
        Diagnostics::note("The engine cannot start without a configuration.");
        return false;
    }
    initialized_ = true;
    config_ = config;
    appId_ = appId;
    resourceLoader_ = ResourceLoader::sharedResourceLoader();
    // The reading settings' font-size defaults are this configuration's.
    AppConfig::sharedAppConfig()->setTextsConfig(config_->text());

    step("customizeInterface", [this] { customizeInterface(); });
    step("loadDefaults", [this] { loadDefaults(); });
    step("setupRemoteNotifications", [this] { setupRemoteNotifications(); });
    step("setupLocale", [this] { setupLocale(); });
    step("setupIdleManager", [this] { setupIdleManager(); });
    setupDownloadQueue();
    step("setupDownlloadsCounter", [this] { setupDownlloadsCounter(); });
    step("setupReminders", [this] { setupReminders(); });
    step("setupNewsChecker", [this] { setupNewsChecker(); });
    step("setupMediaPlayer", [this] { setupMediaPlayer(); });
    step("setupLikesManager", [this] { setupLikesManager(); });
    step("setupRaterWithAppId", [this] { setupRaterWithAppId(appId_); });
    step("sendFavorites", [this] { sendFavorites(); });
    // The texts model is made when a screen first asks for it, over what the layers are handed.
    TextServer::setSharedContext(appContext());
    return true;
}

void OECore::step(const std::string& name, const std::function<void()>& run) {
    run();
    if (stepObserver_) stepObserver_(name);
}

void OECore::setupRemoteNotifications() {
    RemoteMessageManager::appDidLaunched("ios." + AppInfo::bundleId(), AppInfo::appBuild(),
                                         RemoteMessageManager::defaultServerUrl(), 0);
}

// Not a step of its own: the shared download queue learns where files come from and who keeps
// the screen awake as soon as both exist.
void OECore::setupDownloadQueue() {
    auto queue = FileDownloader::sharedDownloader();
    queue->setContext(appContext());
    queue->setIdleTimerHold([idle = std::weak_ptr<OEIdleTimerManager>(idleManager_)](
                                bool disabled, const std::shared_ptr<NSObject>& holder) {
        if (auto manager = idle.lock()) manager->setIdleTimerDisabled(disabled, holder);
    });
}

void OECore::setupNewsChecker() {
    auto checker = NewAppsChecker::sharedNewAppsChecker();
    checker->setReminderMaker([](double interval, const std::string& key, std::function<void()> check) {
        return RepeatingReminder::make(interval, key, std::move(check));
    });
    const auto& app = config_->app();
    checker->appStartedWithAppsUrl(app ? app->newsUrl() : "", app ? app->newsCheckStartCount() : 12);
    setNewAppsCountProvider([] {
        return NewAppsChecker::hasSharedNewAppsChecker() ? NewAppsChecker::sharedNewAppsChecker()->newApps() : 0L;
    });
}

void OECore::setupRaterWithAppId(const std::string& appId) {
    auto rater = MRater::instance();
    rater->setAppID(appId);
    MRater::setDefaultConditions();
    rater->setFirstScreenTitle(OECoreString("Do you like our app?"));
    auto hundredLaunches = MRaterCondition::withThresholds(-1, 100);
    rater->setNotRatedConditions({hundredLaunches});
    rater->setUserIgnoredConditions({hundredLaunches});
    rater->setUserNoEnjoyAndNotWriteToSupportConditions({hundredLaunches});
    // Empty until the start screen stands: the rater then presents over the window's root.
    rater->setPresentingController(viewController_);
    MRater::appLaunched(true);
}

void OECore::loadDefaults() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (defaults->objectForKey("zoom").isNull() && UIScreen::mainScreen()->scale() > 1.0) defaults->setInteger(1, "zoom");
    // A failed write is told by the defaults, which keep the value and write it with the next change.
    (void)defaults->synchronize();
}

void OECore::setupLocale() {
    locale_ = OELocalizations::initWithConfig(config_->locale(),
                                              config_->database() ? config_->database()->nameFieldKey() : "");
}

void OECore::setupIdleManager() {
    idleManager_ = OEIdleTimerManager::make();
}

void OECore::setupDownlloadsCounter() {
    if (!downloadsCounter_) {
        DownloadedImagesCount::setSharedContext(galleryContext());
        downloadsCounter_ = DownloadedImagesCount::instance();
    }
    const OEContext context = appContext();
    downloadsCounter_->setup(hasImages() ? tempDataSource::tempImagesDataSource(context)
                                         : tempDataSource::tempMediaDataSource(context));
}

void OECore::setupReminders() {
    auto reminders = LaunchReminderManager::instance();
    if (isNeedDownloadReminder()) {
        reminders->registerReminder(LaunchReminder::initWithIdentifer(
            downloadReminderIdentifier(), 2, [weak = weakSelf<OECore>()] {
                if (auto self = weak.lock()) self->showDownloadAlert();
            }));
    }
    reminders->appLaunched();
}

void OECore::setupLikesManager() { likesManager_ = OELikesManager::initWithConfig(config_); }

void OECore::sendFavorites() {
    if (!hasImages() || !likesManager_) return;
    if (!favoritesUpload_) favoritesUpload_ = DispatchGroup::create();
    favoritesUpload_->enter();
    DispatchQueue::globalQueue()->async([context = appContext(), likes = likesManager_, upload = favoritesUpload_] {
        // A connection of its own: the main thread's loaders live on the main thread.
        auto loader = Loader::loaderWithDBEntry(dbEntry::defaultEntry(context.config->database()), context);
        Value::Array identifiers;
        for (const auto& index : loader->objectfFromTable("favorites", "index")) identifiers.emplace_back(index);
        // The outcome is not looked at: what failed is sent again at the next launch.
        likes->postLikesForIdentifiers(identifiers, [upload](const NSErrorPtr&) { upload->leave(); });
    });
}

std::shared_ptr<TextServer> OECore::textServer() { return initialized_ ? TextServer::sharedTextServer() : nullptr; }

TextsContext OECore::textsContext() {
    return TextsContext{galleryContext(), textServer(),
                        [](const std::shared_ptr<UIViewController>& controller, bool fullscreen) {
                            ViewControllersConstructor::showController(controller, fullscreen);
                        }};
}

bool OECore::hasImages() const {
    return config_ && config_->database() && !config_->database()->imagesDBName().empty();
}

bool OECore::isNeedDownloadReminder() const {
    return downloadsCounter_ && !downloadsCounter_->allFilesDownloaded();
}

void OECore::showDownloadAlert() {
    if (!startScreenShown_) {
        // Reached by the cold launch itself: there is no screen to show it over yet.
        downloadAlertPending_ = true;
        return;
    }
    // The reminder was registered at an earlier launch: what was missing then may all have
    // come since, and an offer of nothing, or of a list that could not be read, is not made.
    if (!downloadsCounter_ || !downloadsCounter_->canDownloadMissing()) return;
    auto window = UIApplication::sharedApplication()->keyWindow();
    auto top = window ? topController(window->rootViewController()) : nullptr;
    if (!top) {
        Diagnostics::note("No screen to offer the download of all pictures over.");
        return;
    }
    downloadsCounter_->showDownloadAlertFromController(top);
}

void OECore::showStartScreenInWindow(const std::shared_ptr<UIWindow>& window) {
    if (startScreenShown_) {
        Diagnostics::note("The start screen is already shown; it is not built again.");
        return;
    }
    if (!initialized_) {
        Diagnostics::note("The start screen needs the engine started first; it is not built.");
        return;
    }
    if (!window) return;
    auto factory = OEDefaultMenuSectionsFactory::initWithMainSectionTitle(AppInfo::displayName(), config_);
    factory->setDownloadsCounter(downloadsCounter_);
    auto menu = OEMainMenu::initWithFactory(factory, config_);
    const auto c = config_->color() ? config_->color()->backgroundColor() : OEColorConfig::Color::groupTableViewBackground();
    auto container = OESideMenuContainerViewController::containerWithCenterViewController(
        nullptr, menu, nullptr, UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha));
    container->setPanMode(OESideMenuPanModeNone);
    viewController_ = container;
    window->setRootViewController(container);
    window->makeKeyAndVisible();
    startScreenShown_ = true;

    const auto& sections = menu->sections();
    if (!sections.empty() && sections.front() && !sections.front()->items().empty()) {
        const auto& item = sections.front()->items().front();
        if (item && item->action()) item->action()(menu);
    }

    if (downloadAlertPending_) {
        downloadAlertPending_ = false;
        // After the launch has finished, over the first screen.
        DispatchQueue::mainQueue()->async([weak = weakSelf<OECore>()] {
            if (auto self = weak.lock()) self->showDownloadAlert();
        });
    }
}

void OECore::applicationWillResignActive(UIApplication&) {
    step("suspendReminders", [] { RemindManager::sharedRemindManager()->suspend(); });
}

void OECore::applicationDidEnterBackground(UIApplication&) {
    if (mediaPlayer_ && mediaPlayer_->isPlaying()) step("startPlayerBackgroundTask", [this] { startPlayerBackgroundTask(); });
    step("remoteMessagesEnterBackground", [] { RemoteMessageManager::appWillEnterBackground(); });
}

void OECore::applicationWillEnterForeground(UIApplication&) {
    step("raterAppLaunched", [] { MRater::appLaunched(true); });
    step("launchRemindersEnterForeground", [] { LaunchReminderManager::instance()->appEnterForeground(); });
    step("remoteMessagesEnterForeground", [] { RemoteMessageManager::appWillEnterForeground(); });
}

void OECore::applicationDidBecomeActive(UIApplication&) {
    step("resumeReminders", [] { RemindManager::sharedRemindManager()->resume(); });
    step("stopPlayerBackgroundTask", [this] { stopPlayerBackgroundTask(); });
}

void OECore::applicationWillTerminate(UIApplication&) {
    step("suspendReminders", [] { RemindManager::sharedRemindManager()->suspend(); });
    // The music ends while the application's services are still there to hear of it.
    if (mediaDownloads_) mediaDownloads_->cancelAll();
    if (mediaPlayer_) mediaPlayer_->stop();
}
