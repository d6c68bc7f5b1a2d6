// Top-level screens per device (phone, pad, a device that cannot tell), the catalogue search
// columns per language, modal presentation from the top-most screen, the reading screens,
// the in-app browser on the maker's pages, and the music player's screen per device: all
// built over the process's engine, none before it has started.
#include "engine/ViewControllersConstructor.h"

#include "content/List_DataSource.h"
#include "content/Loader.h"
#include "content/Loader_DataSource.h"
#include "content/dbEntry.h"
#include "content/SQL_Search_2fields.h"
#include "config/OEConfigFactory.h"
#include "gallery/UIDBViewController_iPad.h"
#include "gallery/UIDBViewController_iPhone.h"
#include "gallery/UIThumbailViewController.h"
#include "media/MediaPlayerController.h"
#include "media/MediaPlayerViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSLocale.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UIWindow.h"
#include "engine/OEDefaultMenuSectionsFactory.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/NSURL.h"
#include "tests/engine/DemoLaunchFixture.h"
#include "texts/TextEngineRoot_iPad.h"
#include "texts/LocalArticlesList.h"
#include "texts/TextEngineRoot_iPhone.h"
#include "texts/UIArticlesListViewController.h"
#include "texts/UIFamousTableViewController.h"
#include "gallery/MinibrowserViewController.h"

namespace {

class ScreenConstruction : public DemoLaunchFixture {
protected:
    void SetUp() override {
        makeBundle(DemoDatabases::ImagesOnly);
        ASSERT_TRUE(OECore::instance()->initializeWithConfig(OEConfigFactory::defaultFactory()->makeConfig(), ""));
    }
    void TearDown() override {
        NSLocale::resetPreferredLanguages();
        DemoLaunchFixture::TearDown();
    }
    // The two columns the catalogue browser searches.
    static std::pair<std::string, std::string> searchColumns() {
        auto browser = std::dynamic_pointer_cast<UIDBViewController>(ViewControllersConstructor::dbController());
        EXPECT_NE(browser, nullptr);
        if (!browser) return {};
        auto search = std::dynamic_pointer_cast<SQL_Search_2fields>(browser->source()->search());
        EXPECT_NE(search, nullptr);
        if (!search) return {};
        // The search runs on a queue of its own and so has a connection of its own.
        auto listed = std::dynamic_pointer_cast<Loader_DataSource>(browser->source());
        EXPECT_TRUE(listed && search->loader() && listed->loader() != search->loader());
        return {search->field(), search->field2()};
    }
};

}  // namespace

TEST_F(ScreenConstruction, ThePhoneGetsTheBrowserInANavigationController) {
    auto gallery = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::constructGalleryViewController());
    ASSERT_NE(gallery, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<UIDBViewController_iPhone>(gallery->topViewController()), nullptr);
    auto plain = UIViewController::make();
    auto wrapped = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::detailsControllerWithController(plain));
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(wrapped->topViewController(), plain);
}

TEST_F(ScreenConstruction, ThePadGetsItInASplitControllerShowingBothColumns) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto split = std::dynamic_pointer_cast<UISplitViewController>(ViewControllersConstructor::constructGalleryViewController());
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(split->preferredDisplayMode(), UISplitViewControllerDisplayMode::AllVisible);
    ASSERT_EQ(split->viewControllers().size(), 1u);
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(split->viewControllers().front());
    ASSERT_NE(navigation, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<UIDBViewController_iPad>(navigation->topViewController()), nullptr);
    // Once the browser is loaded, its first subcategory's thumbnails fill the second column.
    const CGFloat width = split->view()->bounds().size.width;
    ASSERT_EQ(split->viewControllers().size(), 2u);
    EXPECT_EQ(split->viewControllers().front(), navigation);
    auto detail = std::dynamic_pointer_cast<UINavigationController>(split->viewControllers().back());
    ASSERT_NE(detail, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<UIThumbailViewController>(detail->topViewController()), nullptr);
    split->view()->layoutIfNeeded();
    EXPECT_EQ(navigation->view()->frame().size.width, UISplitViewController::primaryColumnWidth());
    EXPECT_EQ(detail->view()->frame().size.width, width - UISplitViewController::primaryColumnWidth());
}

TEST_F(ScreenConstruction, ADeviceThatCannotTellItsIdiomIsTreatedAsAPhone) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    UIDevice::currentDevice()->setCanReportUserInterfaceIdiom(false);
    auto gallery = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::constructGalleryViewController());
    ASSERT_NE(gallery, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<UIDBViewController_iPhone>(gallery->topViewController()), nullptr);
    UIDevice::currentDevice()->setCanReportUserInterfaceIdiom(true);
}

TEST_F(ScreenConstruction, AThumbnailScreenComesInANewNavigationControllerOverTheSourceItIsGiven) {
    auto engine = OECore::instance();
    auto source = List_DataSource::initWithLoader(
        Loader::loaderWithDBEntry(dbEntry::defaultEntry(engine->config()->database()), engine->appContext()));
    const auto cats = source->catList();
    ASSERT_TRUE(cats && !cats->empty());
    const auto subCats = source->subCatList(cats->front());
    ASSERT_TRUE(subCats && !subCats->empty());
    for (const bool allowFilter : {true, false}) {
        auto navigation = std::dynamic_pointer_cast<UINavigationController>(
            ViewControllersConstructor::thumbnailViewControllerForSource(source, subCats->front(), allowFilter));
        ASSERT_NE(navigation, nullptr);
        ASSERT_EQ(navigation->viewControllers().size(), 1u);
        auto thumbnails = std::dynamic_pointer_cast<UIThumbailViewController>(navigation->topViewController());
        ASSERT_NE(thumbnails, nullptr);
        EXPECT_EQ(thumbnails->originalDataSource(), source);
        EXPECT_EQ(thumbnails->dataSubCat(), subCats->front());
        EXPECT_EQ(thumbnails->alowFilter(), allowFilter);
    }
}

TEST_F(ScreenConstruction, TheSearchColumnsFollowTheLanguageAndTheEnglishOnlySwitch) {
    NSLocale::setPreferredLanguages({"ru-RU"});
    EXPECT_EQ(searchColumns(), (std::pair<std::string, std::string>{"name", "author_name"}));
    NSLocale::setPreferredLanguages({"de"});
    EXPECT_EQ(searchColumns(), (std::pair<std::string, std::string>{"name_en", "author_name_de"}));
    OECore::instance()->config()->images()->setOnlyEnglishLocale(false);
    NSLocale::setPreferredLanguages({"fr-CA"});
    EXPECT_EQ(searchColumns(), (std::pair<std::string, std::string>{"name_fr", "author_name_fr"}));
}

TEST_F(ScreenConstruction, ModalScreensSlideUpFromTheTopMostScreen) {
    Clock::setManual();
    auto window = UIWindow::make();
    auto root = UIViewController::make();
    window->setRootViewController(root);
    window->makeKeyAndVisible();

    auto settings = UIViewController::make();
    settings->setModalPresentationStyle(UIModalPresentationStyle::PageSheet);
    settings->setModalTransitionStyle(UIModalTransitionStyle::CrossDissolve);
    ViewControllersConstructor::showController(settings);
    auto first = std::dynamic_pointer_cast<UINavigationController>(root->presentedViewController());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->topViewController(), settings);
    EXPECT_EQ(first->modalTransitionStyle(), UIModalTransitionStyle::CoverVertical);

    // The next one is presented over the first, full screen on request; the default style is
    // left alone otherwise.
    auto sheet = UIViewController::make();
    sheet->setModalPresentationStyle(UIModalPresentationStyle::PageSheet);
    sheet->setModalTransitionStyle(UIModalTransitionStyle::CrossDissolve);
    ViewControllersConstructor::showModalityController(sheet, false);
    EXPECT_EQ(first->presentedViewController(), sheet);
    EXPECT_EQ(sheet->modalPresentationStyle(), UIModalPresentationStyle::PageSheet);
    EXPECT_EQ(sheet->modalTransitionStyle(), UIModalTransitionStyle::CoverVertical);

    auto full = UIViewController::make();
    full->setModalPresentationStyle(UIModalPresentationStyle::PageSheet);
    ViewControllersConstructor::showModalityController(full, true);
    EXPECT_EQ(sheet->presentedViewController(), full);
    EXPECT_EQ(full->modalPresentationStyle(), UIModalPresentationStyle::FullScreen);
    EXPECT_EQ(ViewControllersConstructor::rootNavigationController(), root);
    EXPECT_EQ(ViewControllersConstructor::menuController(), nullptr);  // no start screen here
    // The slides end before the test does.
    Clock::advance(UIViewController::transitionDuration());
    EXPECT_FALSE(full->isBeingPresented());
    Clock::setReal();
}

TEST(ScreensOfTheEngine, AreEmptyBeforeItHasStartedAndAskingForThemMakesNone) {
    EXPECT_EQ(ViewControllersConstructor::dbController(), nullptr);
    EXPECT_EQ(ViewControllersConstructor::constructGalleryViewController(), nullptr);
    EXPECT_EQ(ViewControllersConstructor::constructMediaPLayerController(), nullptr);
    EXPECT_EQ(ViewControllersConstructor::constructTextsController(), nullptr);
    EXPECT_EQ(ViewControllersConstructor::menuController(), nullptr);
    ViewControllersConstructor::showSettings();
    ViewControllersConstructor::showBrowser("http://127.0.0.1:9");
    EXPECT_FALSE(OECore::hasInstance());
    // An engine not started yet builds nothing either.
    (void)OECore::instance();
    EXPECT_EQ(ViewControllersConstructor::dbController(), nullptr);
    EXPECT_EQ(ViewControllersConstructor::constructFamousController(), nullptr);
    EXPECT_EQ(ViewControllersConstructor::constructArticlesController(), nullptr);
    OECore::resetInstance();
}

namespace {

// Over every database of the demo bundle.
class ReadingConstruction : public DemoLaunchFixture {
protected:
    void TearDown() override {
        NSLocale::resetPreferredLanguages();
        // What the screens handed on to the main queue lets them go.
        NSRunLoop::mainRunLoop()->runUntilIdle();
        DemoLaunchFixture::TearDown();
    }
    void start() {
        makeBundle(DemoDatabases::All);
        ASSERT_TRUE(OECore::instance()->initializeWithConfig(OEConfigFactory::defaultFactory()->makeConfig(), ""));
    }
    template <class Screen>
    static std::shared_ptr<Screen> topOf(const std::shared_ptr<UIViewController>& wrapped) {
        auto navigation = std::dynamic_pointer_cast<UINavigationController>(wrapped);
        if (auto split = std::dynamic_pointer_cast<UISplitViewController>(wrapped); split && !split->viewControllers().empty())
            navigation = std::dynamic_pointer_cast<UINavigationController>(split->viewControllers().front());
        return navigation ? std::dynamic_pointer_cast<Screen>(navigation->topViewController()) : nullptr;
    }
};

}  // namespace

TEST_F(ReadingConstruction, TheReadingScreensAreWrappedForTheDevice) {
    EXPECT_EQ(ViewControllersConstructor::constructTextsController(), nullptr) << "before the engine has started";
    start();
    EXPECT_TRUE(topOf<UIFamousTableViewController>(ViewControllersConstructor::constructFamousController()));
    EXPECT_TRUE(topOf<UIArticlesListViewController>(ViewControllersConstructor::constructArticlesController()));
    auto texts = ViewControllersConstructor::constructTextsController();
    EXPECT_TRUE(std::dynamic_pointer_cast<UINavigationController>(texts));
    EXPECT_TRUE(topOf<TextEngineRoot_iPhone>(texts));
    // The engine's one texts model serves every screen.
    EXPECT_EQ(OECore::instance()->textServer(), OECore::instance()->textsContext().textServer);
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto padTexts = ViewControllersConstructor::constructTextsController();
    EXPECT_TRUE(std::dynamic_pointer_cast<UISplitViewController>(padTexts));
    EXPECT_TRUE(topOf<TextEngineRoot_iPad>(padTexts));
    EXPECT_TRUE(std::dynamic_pointer_cast<UISplitViewController>(ViewControllersConstructor::constructFamousController()));
}

TEST_F(ReadingConstruction, TheConstructOperationsBuildOverTheProcesssEngine) {
    start();
    const auto engine = OECore::instance();
    auto player = topOf<MediaPlayerViewController>(ViewControllersConstructor::constructMediaPLayerController());
    ASSERT_TRUE(player);
    EXPECT_EQ(engine->mediaPlayerVC(), player);
    EXPECT_EQ(player->delegate(), engine);
    EXPECT_EQ(player->context().player, engine->mediaPlayer());
    auto articles = topOf<UIArticlesListViewController>(ViewControllersConstructor::constructArticlesController());
    ASSERT_TRUE(articles);
    auto list = std::dynamic_pointer_cast<LocalArticlesList>(articles->articlesList());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->imagesDbLoader()->appContext().config, engine->config());
    EXPECT_EQ(list->imagesDbLoader()->appContext().fileSystem, engine->fileSystem());
    auto famous = topOf<UIFamousTableViewController>(ViewControllersConstructor::constructFamousController());
    ASSERT_TRUE(famous);
    ASSERT_TRUE(famous->manager());
    // Each call builds a new screen.
    EXPECT_NE(topOf<UIFamousTableViewController>(ViewControllersConstructor::constructFamousController()), famous);
}

TEST_F(ReadingConstruction, TheURLRowsOpenTheBrowserOnTheMakersPages) {
    start();
    Clock::setManual();
    auto window = UIWindow::make();
    auto root = UIViewController::make();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    OECore::instance()->config()->app()->setWebSite("http://127.0.0.1:9");
    auto factory = OEDefaultMenuSectionsFactory::initWithMainSectionTitle("Ostrel", OECore::instance()->config());
    const auto more = factory->supportSection();
    ASSERT_EQ(more->items().size(), 3u) << "Support, More Apps, Web site";
    more->items()[2]->action()(nullptr);
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(root->presentedViewController());
    ASSERT_TRUE(navigation);
    auto browser = std::dynamic_pointer_cast<MinibrowserViewController>(navigation->topViewController());
    ASSERT_TRUE(browser);
    ASSERT_TRUE(browser->url());
    EXPECT_EQ(browser->url()->absoluteString(), "http://127.0.0.1:9");
    root->dismissViewControllerAnimated(false, nullptr);
    more->items()[1]->action()(nullptr);
    navigation = std::dynamic_pointer_cast<UINavigationController>(root->presentedViewController());
    ASSERT_TRUE(navigation);
    browser = std::dynamic_pointer_cast<MinibrowserViewController>(navigation->topViewController());
    ASSERT_TRUE(browser && browser->url());
    EXPECT_EQ(browser->url()->absoluteString(), "http://127.0.0.1:9/moreen.html");
    root->dismissViewControllerAnimated(false, nullptr);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    // The slides up, cut short, end before the test does.
    Clock::advance(UIViewController::transitionDuration());
    Clock::setReal();
}

TEST_F(ReadingConstruction, TheMoreApplicationsPageIsInTheReadersLanguage) {
    start();
    const std::pair<const char*, const char*> cases[] = {{"ru-RU", "/more.html"}, {"en-GB", "/moreen.html"},
                                                         {"fr", "/moreen.html"}, {"de", "/moreen.html"}};
    for (const auto& [language, page] : cases) {
        NSLocale::setPreferredLanguages({language});
        ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value(Value::Array{Value(language)}), "AppleLanguages"));
        OECore::resetInstance();
        ASSERT_TRUE(OECore::instance()->initializeWithConfig(OEConfigFactory::defaultFactory()->makeConfig(), ""));
        EXPECT_EQ(OEDefaultMenuItemFactory::localizedUrlWithFormat("/more%@.html"), page) << language;
    }
    NSUserDefaults::standardUserDefaults()->removeObjectForKey("AppleLanguages");
}
