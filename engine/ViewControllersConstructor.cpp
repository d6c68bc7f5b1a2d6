// Top-level screens and modal presentation.
#include "engine/ViewControllersConstructor.h"

#include "content/Loader.h"
#include "content/SQLiteEngine.h"
#include "content/List_DataSource.h"
#include "content/SQL_Search_2fields.h"
#include "content/dbEntry.h"
#include "engine/OECore.h"
#include "media/MediaPlayerViewController_iPad.h"
#include "media/MediaPlayerViewController_iPhone.h"
#include "gallery/UIDBViewController_iPad.h"
#include "gallery/UIDBViewController_iPhone.h"
#include "gallery/UISettings.h"
#include "gallery/UIThumbailViewController.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/net/NSURL.h"
#include "texts/LocalArticlesList.h"
#include "texts/TextEngineRoot_iPad.h"
#include "texts/TextEngineRoot_iPhone.h"
#include "texts/UIArticlesListViewController.h"
#include "texts/UIFamousTableViewController.h"
#include "gallery/MinibrowserViewController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UIWindow.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <cstdio>

namespace {

// The pad's layouts only where the device says it is exactly a pad.
bool isPad() {
    auto device = UIDevice::currentDevice();
    return device->canReportUserInterfaceIdiom() && device->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
}

// The player screen takes the phone against every other idiom.
bool isNotPhone() {
    auto device = UIDevice::currentDevice();
    return device->canReportUserInterfaceIdiom() && device->userInterfaceIdiom() != UIUserInterfaceIdiom::Phone;
}

// The process's engine when there is one; asking makes none.
std::shared_ptr<OECore> existingEngine() { return OECore::hasInstance() ? OECore::instance() : nullptr; }

}  // namespace

std::shared_ptr<OECore> ViewControllersConstructor::startedCore(const char* sentence) {
    auto core = existingEngine();
    if (core && core->isInitialized()) return core;
    Diagnostics::note(sentence);
    return nullptr;
}

std::shared_ptr<UIViewController> ViewControllersConstructor::menuController() {
    auto engine = existingEngine();
    return engine ? engine->viewController() : nullptr;
}

std::shared_ptr<UIViewController> ViewControllersConstructor::rootNavigationController() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    return window ? window->rootViewController() : nullptr;
}

std::shared_ptr<UIViewController> ViewControllersConstructor::constructGalleryViewController() {
    auto browser = dbController();
    return browser ? detailsControllerWithController(browser) : nullptr;
}

std::shared_ptr<UIViewController> ViewControllersConstructor::constructMediaPLayerController() {
    const auto engine = existingEngine();
    if (!engine || !engine->mediaPlayer()) {
        Diagnostics::note("The music library has no player: its media database is missing or could not be opened.");
        return nullptr;
    }
    // The pad's screen reads its lists through a connection of its own; on the phone the
    // connection only asks whether the database still opens (pages found damaged since the
    // player was made keep it shut).
    auto sql = engine->openMediaDatabase();
    if (!sql) {
        Diagnostics::note("The media database cannot be opened for the player screen.");
        return nullptr;
    }
    std::shared_ptr<MediaPlayerViewController> player;
    if (isNotPhone()) {
        player = MediaPlayerViewController_iPad::initWithMediaPlayerController(engine->mediaPlayer(), sql,
                                                                               engine->musicContext());
    } else {
        player = MediaPlayerViewController_iPhone::initWithMediaPlayerController(engine->mediaPlayer(),
                                                                                 engine->musicContext());
    }
    player->setDelegate(engine);
    engine->loadPhotoViewForMediaPlayerVC(player);
    engine->setMediaPlayerVC(player);
    return UINavigationController::initWithRootViewController(player);
}

std::shared_ptr<UIViewController> ViewControllersConstructor::thumbnailViewControllerForSource(
    const std::shared_ptr<DataSource>& source, const std::shared_ptr<dataSubCat>& subCat, bool allowFilter) {
    const auto engine = startedCore("The thumbnails cannot be built before the engine has started.");
    if (!engine) return nullptr;
    return UINavigationController::initWithRootViewController(
        UIThumbailViewController::initWithDataSource(source, subCat, allowFilter, engine->galleryContext()));
}

std::shared_ptr<UIViewController> ViewControllersConstructor::dbController() {
    const auto engine = startedCore("The gallery cannot be built before the engine has started.");
    if (!engine) return nullptr;
    const GalleryContext context = engine->galleryContext();
    const auto& config = context.app.config;
    const auto& locale = context.app.localizations;
    auto loader = Loader::loaderWithDBEntry(dbEntry::defaultEntry(config->database()), context.app);
    // A pictures database that cannot be used leaves no gallery to show; opening it said why.
    if (!loader->sql()) return nullptr;
    auto source = List_DataSource::initWithLoader(loader);
    // The browser lists the categories with their groups first: read now (the source keeps them
    // for it), so that pages found damaged say so here rather than by a browser without rows.
    if (const auto cats = source->catList()) {
        for (const auto& cat : *cats) (void)source->subCatList(cat);
    }
    if (loader->sql()->isDamaged()) return nullptr;
    std::shared_ptr<UIViewController> browser;
    if (isPad())
        browser = UIDBViewController_iPad::initWithSource(source, context);
    else
        browser = UIDBViewController_iPhone::initWithSource(source, context);
    // Making it may have read every picture's path as well (the first run marks them seen).
    if (loader->sql()->isDamaged()) return nullptr;

    std::string field1 = "name";
    std::string field2 = "author_name";
    if (!locale->isRussian()) {
        const std::string localized = locale->localizedNameField();
        field1 = config->images() && config->images()->onlyEnglishLocale() ? "name_en" : localized;
        field2 = "author_" + localized;
    }
    // The searches typed run on a queue of their own, so the search gets a connection of its own.
    auto searchLoader = Loader::loaderWithDBEntry(dbEntry::defaultEntry(config->database()), context.app);
    source->setSearch(SQL_Search_2fields::sqlSearchWithLoader(searchLoader, field1, field2));
    return browser;
}

std::shared_ptr<UIViewController> ViewControllersConstructor::constructFamousController() {
    const auto engine = startedCore("The famous paintings cannot be built before the engine has started.");
    if (!engine) return nullptr;
    auto context = engine->textsContext();
    // The posts are shown with their pictures from the pictures database; without it none would
    // be listed. Opening it said why.
    const auto& app = context.app();
    if (!app.config || !app.fileSystem ||
        !Loader::loaderWithDBEntry(dbEntry::defaultEntry(app.config->database()), app)->sql())
        return nullptr;
    return detailsControllerWithController(UIFamousTableViewController::initWithStyle(UITableViewStyleGrouped, context));
}

std::shared_ptr<UIViewController> ViewControllersConstructor::constructArticlesController() {
    const auto engine = startedCore("The articles cannot be built before the engine has started.");
    if (!engine) return nullptr;
    auto context = engine->textsContext();
    auto list = LocalArticlesList::initWithLocale(context.app());
    // Every article is read with its picture: without either database none would be listed.
    // Opening them said why.
    if (!list->articlesDbLoader() || !list->articlesDbLoader()->sql() || !list->imagesDbLoader() ||
        !list->imagesDbLoader()->sql())
        return nullptr;
    return detailsControllerWithController(UIArticlesListViewController::initWithDataList(list, std::move(context)));
}

std::shared_ptr<UIViewController> ViewControllersConstructor::constructTextsController() {
    const auto engine = startedCore("The texts cannot be built before the engine has started.");
    if (!engine) return nullptr;
    auto context = engine->textsContext();
    // A texts database that cannot be used leaves no texts to show; opening or reading it said why.
    if (!context.textServer || !context.textServer->readsCatalogue()) return nullptr;
    if (isPad()) return detailsControllerWithController(TextEngineRoot_iPad::initWithContext(std::move(context)));
    return detailsControllerWithController(TextEngineRoot_iPhone::initWithContext(std::move(context)));
}

void ViewControllersConstructor::showBrowser(const std::string& url) {
    const auto engine = startedCore("The browser cannot be shown before the engine has started.");
    if (!engine) return;
    showController(MinibrowserViewController::initWithURL(NSURL::URLWithString(url), engine->appContext()));
}

void ViewControllersConstructor::showSettings() {
    const auto engine = startedCore("The settings cannot be shown before the engine has started.");
    if (!engine) return;
    showController(UISettings::initWithNibName("Settings", engine->galleryContext()));
}

std::shared_ptr<UIViewController> ViewControllersConstructor::detailsControllerWithController(
    const std::shared_ptr<UIViewController>& controller) {
    std::shared_ptr<UIViewController> navigation = UINavigationController::initWithRootViewController(controller);
    if (isPad()) return splitControllerWithControllers({navigation});
    return navigation;
}

std::shared_ptr<UIViewController> ViewControllersConstructor::splitControllerWithControllers(
    const std::vector<std::shared_ptr<UIViewController>>& controllers) {
    auto split = UISplitViewController::make();
    split->setViewControllers(controllers);
    split->setPreferredDisplayMode(UISplitViewControllerDisplayMode::AllVisible);
    return split;
}

void ViewControllersConstructor::showController(const std::shared_ptr<UIViewController>& controller, bool fullscreen) {
    showModalityController(UINavigationController::initWithRootViewController(controller), fullscreen);
}

void ViewControllersConstructor::showModalityController(const std::shared_ptr<UIViewController>& controller,
                                                        bool fullscreen) {
    if (!controller) return;
    controller->setModalTransitionStyle(UIModalTransitionStyle::CoverVertical);
    if (fullscreen) controller->setModalPresentationStyle(UIModalPresentationStyle::FullScreen);
    auto top = topController(rootNavigationController());
    if (!top) {
        Diagnostics::notef("There is no screen to present %s from.", controller->className().c_str());
        return;
    }
    top->presentViewController(controller, true, nullptr);
}
