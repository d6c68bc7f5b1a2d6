// The product's menu rows and what choosing them does.
#include "engine/OEDefaultMenuItemFactory.h"

#include "content/NewAppsChecker.h"
#include "content/SQLiteEngine.h"
#include "config/AppInfo.h"
#include "config/FileSystem.h"
#include "config/OEConfig.h"
#include "config/OEDBConfig.h"
#include "engine/OECore.h"
#include "engine/OEMainMenu.h"
#include "engine/OEUnavailableViewController.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIAlertAction.h"
#include "uikit/UIViewControllerOpenAdUrl.h"
#include "engine/ViewControllersConstructor.h"
#include "uikit/MailHandler.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEMakerContacts.h"
#include "uikit/OESideMenuContainerViewController.h"

#include <set>
#include <string>
#include <vector>

namespace {

// Says that the row's screen cannot be opened, where that screen would stand; why is in the log.
std::shared_ptr<UIViewController> unavailableScreen(const std::string& title) {
    const auto engine = OECore::hasInstance() ? OECore::instance() : nullptr;
    const auto& config = engine ? engine->config() : nullptr;
    const auto background = config && config->color() ? config->color()->backgroundColor()
                                                       : OEColorConfig::Color::groupTableViewBackground();
    return ViewControllersConstructor::detailsControllerWithController(OEUnavailableViewController::initWithTitle(
        title, OECannotBeOpened(title), background));
}

// The paths of the content databases whose rows `screen` shows.
std::set<std::string> databasesShownBy(OEMenuScreen screen) {
    std::set<std::string> paths;
    const auto engine = OECore::hasInstance() ? OECore::instance() : nullptr;
    const auto& config = engine ? engine->config() : nullptr;
    const auto& database = config ? config->database() : nullptr;
    const auto& fileSystem = engine ? engine->fileSystem() : nullptr;
    if (!database || !fileSystem) return paths;
    std::vector<std::string> names;
    switch (screen) {
    case OEMenuScreen::Gallery:
    case OEMenuScreen::Famous:
        names = {database->imagesDBName()};
        break;
    case OEMenuScreen::MediaLibrary:
        names = {database->mediaDBName()};
        break;
    case OEMenuScreen::Articles:
        names = {database->articlesDBName(), database->imagesDBName()};
        break;
    case OEMenuScreen::Texts:
        names = {database->textDBName()};
        break;
    }
    for (const auto& name : names) {
        if (name.empty()) continue;
        const std::string path = fileSystem->documentsPathForFile(name);
        if (!path.empty()) paths.insert(path);
    }
    return paths;
}

// Watches, for as long as the screen a row put into the centre lives, for damaged pages met in
// the databases it shows, by its own reads or any other: what it lists may then lack rows, and
// it is replaced at once by the screen that says it cannot be opened, as the row's next choice
// would be. Made before the screen, so that damage met while the screen is built is seen too.
class CenterDamageWatch : public NSObject {
public:
    static std::shared_ptr<CenterDamageWatch> make(std::set<std::string> paths, std::string title,
                                                   const std::shared_ptr<OESideMenuContainerViewController>& container) {
        auto watch = std::make_shared<CenterDamageWatch>();
        watch->paths_ = std::move(paths);
        watch->title_ = std::move(title);
        watch->container_ = container;
        if (watch->paths_.empty()) return watch;
        std::weak_ptr<CenterDamageWatch> weak = watch;
        // Posted on the thread of the statement that met the damage; the screen is the main thread's.
        NSNotificationCenter::defaultCenter()->addObserver(
            watch,
            [weak](const NSNotification& note) {
                const auto self = weak.lock();
                if (!self || !self->paths_.count(note.userInfo().get(SQLiteEngine::kDamagedFilePathKey).string())) return;
                DispatchQueue::mainQueue()->async([weak] {
                    if (const auto watch = weak.lock()) watch->replaceScreen();
                });
            },
            SQLiteEngine::kDamagedPagesMessage);
        return watch;
    }

    // The screen this watch stands for; the screen keeps the watch alive.
    void watch(const std::shared_ptr<UIViewController>& screen) {
        static const char key = 0;
        screen_ = screen;
        screen->setAssociatedValue(&key, Value(shared_from_this()));
    }

private:
    void replaceScreen() {
        const auto container = container_.lock();
        const auto screen = screen_.lock();
        if (!container || !screen || container->centerViewController() != screen) return;
        container->setCenterViewController(unavailableScreen(title_));
    }

    std::set<std::string> paths_;
    std::string title_;
    std::weak_ptr<OESideMenuContainerViewController> container_;
    std::weak_ptr<UIViewController> screen_;
};

}  // namespace

std::shared_ptr<OEDefaultMenuItemFactory> OEDefaultMenuItemFactory::make() {
    using Screens = ViewControllersConstructor;
    auto factory = std::make_shared<OEDefaultMenuItemFactory>();
    factory->setScreenConstructor(OEMenuScreen::Gallery, &Screens::constructGalleryViewController);
    factory->setScreenConstructor(OEMenuScreen::MediaLibrary, &Screens::constructMediaPLayerController);
    factory->setScreenConstructor(OEMenuScreen::Famous, &Screens::constructFamousController);
    factory->setScreenConstructor(OEMenuScreen::Articles, &Screens::constructArticlesController);
    factory->setScreenConstructor(OEMenuScreen::Texts, &Screens::constructTextsController);
    return factory;
}

void OEDefaultMenuItemFactory::setScreenConstructor(OEMenuScreen screen, ScreenConstructor constructor) {
    if (constructor) constructors_[screen] = std::move(constructor);
    else constructors_.erase(screen);
}

bool OEDefaultMenuItemFactory::canConstruct(OEMenuScreen screen) const { return constructors_.count(screen) != 0; }

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeCenterItem(OEMenuScreen screen,
                                                                            const std::string& titleKey,
                                                                            const std::string& imageName) const {
    auto it = constructors_.find(screen);
    if (it == constructors_.end()) return nullptr;
    ScreenConstructor construct = it->second;
    const std::string title = OECoreString(titleKey);
    return OEMenuSectionItem::initWithTitle(title, imageName, [construct, screen, title](
                                                                  const std::shared_ptr<OEMainMenu>& menu) {
        auto container = menu ? menu->sideMenuContainer() : nullptr;
        if (!container) return;
        auto watch = CenterDamageWatch::make(databasesShownBy(screen), title, container);
        auto center = construct();
        // An empty centre has no menu button: the person would have no way back to the menu.
        if (center) watch->watch(center);
        else center = unavailableScreen(title);
        container->setCenterViewController(center);
    });
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeGalleryItem() const {
    return makeCenterItem(OEMenuScreen::Gallery, "GalleryMenu", "galleryengine");
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeCompositionsItem() const {
    return makeCenterItem(OEMenuScreen::MediaLibrary, "MediaLibrary", "music");
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeFamousItem() const {
    return makeCenterItem(OEMenuScreen::Famous, "Famous", "famous_paintings");
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeArticlesItem() const {
    return makeCenterItem(OEMenuScreen::Articles, "Articles", "famous_paintings");
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeTextsItem() const {
    return makeCenterItem(OEMenuScreen::Texts, "TEXTS_TITLE", "texts");
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeUrlItemWithTitle(
    const std::string& title, const std::string& imageName, const std::string& url, const std::string& badge,
    bool needsMenuReload, std::function<void()> afterClickAction) const {
    return OEMenuSectionItem::initWithTitle(
        title, imageName, badge,
        [url, needsMenuReload, afterClickAction = std::move(afterClickAction)](const std::shared_ptr<OEMainMenu>& menu) {
            ViewControllersConstructor::showBrowser(url);
            if (afterClickAction) afterClickAction();
            if (needsMenuReload && menu) menu->reloadData();
        });
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeOtherAppsItem(const std::string& webSite) const {
    const std::string url =
        localizedUrlWithFormat(NSString::stringByReplacingOccurrencesOfString(webSite, "%", "%%") + "/more%@.html");
    const long found = NewAppsChecker::hasSharedNewAppsChecker() ? NewAppsChecker::sharedNewAppsChecker()->newApps() : 0;
    if (found < 1) return makeUrlItemWithTitle(OECoreString("More Apps"), "other_apps", url, "", false, nullptr);
    return makeUrlItemWithTitle(OECoreString("More Apps"), "other_apps", url, std::to_string(found), true, [] {
        if (NewAppsChecker::hasSharedNewAppsChecker()) NewAppsChecker::sharedNewAppsChecker()->resetApps();
    });
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeWebSiteItem(const std::string& webSite) const {
    return makeUrlItemWithTitle(OECoreString("Web site"), "website", webSite, "", false, nullptr);
}

std::string OEDefaultMenuItemFactory::localizedUrlWithFormat(const std::string& format) {
    const auto locale = OECore::hasInstance() ? OECore::instance()->locale() : nullptr;
    std::string language = "en";
    if (locale && locale->isRussian()) language = "";
    else if (locale && locale->isEnglish()) language = locale->languageStr();
    return NSString::format(format, language);
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeSettingsItem() const {
    return OEMenuSectionItem::initWithTitle(OECoreString("Settings"), "settings",
                                            [](const std::shared_ptr<OEMainMenu>&) {
                                                ViewControllersConstructor::showSettings();
                                            });
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeDownloadAllItem() const {
    return OEMenuSectionItem::initWithTitle(OECoreString("Download All Images"), "download",
                                            [](const std::shared_ptr<OEMainMenu>& menu) {
                                                downloadAllActionFromController(menu);
                                            });
}

void OEDefaultMenuItemFactory::downloadAllActionFromController(const std::shared_ptr<UIViewController>& controller) {
    if (!controller) return;
    auto confirm = UIAlertAction::actionWithTitle(
        OECoreString("Download"), UIAlertActionStyle::Default, [](const std::shared_ptr<UIAlertAction>&) {
            auto engine = OECore::instance();
            // The list the row was counted over is the list downloaded.
            if (auto counter = engine->isInitialized() ? engine->downloadsCounter() : nullptr) counter->downloadAllImages();
        });
    showAskAlertWithMessage(controller, OECoreString("Do you realy want to download all images?"), confirm);
}

std::shared_ptr<OEMenuSectionItem> OEDefaultMenuItemFactory::makeSupportItem() const {
    return OEMenuSectionItem::initWithTitle(OECoreString("Support"), "support", [](const std::shared_ptr<OEMainMenu>& menu) {
        MailHandler::showMailComposerFromController(menu, AppInfo::appInfoString(), {OEMakerContacts::supportEmail()},
                                                    nullptr);
    });
}
