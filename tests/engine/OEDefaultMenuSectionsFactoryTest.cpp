// The product's menu: which rows show for which databases and articles style (only rows whose
// screen can be built), a row's action putting a new screen into the centre of the side menu,
// which then closes, and the same over the demo bundle from the browser's menu button.
#include "engine/OEDefaultMenuSectionsFactory.h"

#include "engine/OECore.h"
#include "engine/OEMainMenu.h"
#include "engine/ViewControllersConstructor.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIViewAnimation.h"
#include "platform/ui/UIWindow.h"
#include "tests/engine/DemoLaunchFixture.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OESideMenuContainerViewController.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<OEConfig> config(const std::string& images, const std::string& media, std::uint64_t style) {
    auto db = OEDBConfig::initWithImagesDBname(images, "", media, "", images, "name", nullptr, nullptr, nullptr);
    auto app = OEAppConfig::initWithLikesIdentifer("", "", "", 12, style);
    auto colour = OEColorConfig::initWithSettingsColor(OEColorConfig::Color::black(), OEColorConfig::Color::black(),
                                                       OEColorConfig::Color::groupTableViewBackground());
    return OEConfig::initWithAppConfig(app, colour, db, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// Titles are the "Core" table's texts for the keys (the keys themselves without a translation).
std::vector<std::string> texts(const std::vector<std::string>& keys) {
    std::vector<std::string> out;
    for (const auto& key : keys) out.push_back(OECoreString(key));
    return out;
}

std::vector<std::string> mainTitles(OEDefaultMenuSectionsFactory& factory) {
    std::vector<std::string> out;
    auto sections = factory.makeItems();
    if (sections.empty()) return {"<no section>"};
    for (const auto& item : sections.front()->items()) out.push_back(item->title());
    return out;
}

std::shared_ptr<OEDefaultMenuSectionsFactory> withAllScreens(const std::shared_ptr<OEConfig>& c) {
    auto factory = OEDefaultMenuSectionsFactory::initWithMainSectionTitle("Ostrel", c);
    for (auto screen : {OEMenuScreen::Gallery, OEMenuScreen::MediaLibrary, OEMenuScreen::Famous, OEMenuScreen::Articles,
                        OEMenuScreen::Texts})
        factory->factory()->setScreenConstructor(screen, [] { return UIViewController::make(); });
    return factory;
}

}  // namespace

TEST(DefaultMenuCompositionTest, RowsFollowTheDatabasesAndTheArticlesStyle) {
    struct Case {
        std::string images, media;
        std::uint64_t style;
        std::vector<std::string> titles;
    };
    const Case cases[] = {
        {"images.sqlite", "media.sqlite", 2, {"GalleryMenu", "MediaLibrary", "Famous"}},
        {"images.sqlite", "media.sqlite", 0, {"GalleryMenu", "MediaLibrary"}},
        {"images.sqlite", "", 1, {"GalleryMenu", "Articles"}},
        {"", "media.sqlite", 3, {"MediaLibrary"}},
        {"", "", 1, {"Articles"}},
        {"", "", 0, {}},
    };
    for (const auto& k : cases) {
        auto factory = withAllScreens(config(k.images, k.media, k.style));
        EXPECT_EQ(mainTitles(*factory), texts(k.titles)) << k.images << "|" << k.media << "|" << k.style;
    }
}

TEST(DefaultMenuCompositionTest, TheMainSectionComesFirstTitledAfterTheApplicationEvenWhenEmptyThenSettingsAndMore) {
    auto factory = withAllScreens(config("", "", 0));
    auto sections = factory->makeItems();
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0]->title(), "Ostrel");
    EXPECT_TRUE(sections[0]->items().empty());
    EXPECT_EQ(factory->title(), "Ostrel");
    EXPECT_EQ(sections[1]->title(), OECoreString("Settings"));
    ASSERT_EQ(sections[1]->items().size(), 1u);
    EXPECT_EQ(sections[1]->items()[0]->title(), OECoreString("Settings"));
    EXPECT_EQ(sections[1]->items()[0]->imageName(), "settings");
    // Support by mail, then the maker's pages in the in-app browser.
    EXPECT_EQ(sections[2]->title(), OECoreString("More"));
    ASSERT_EQ(sections[2]->items().size(), 3u);
    EXPECT_EQ(sections[2]->items()[0]->title(), OECoreString("Support"));
    EXPECT_EQ(sections[2]->items()[0]->imageName(), "support");
    EXPECT_EQ(sections[2]->items()[1]->title(), OECoreString("More Apps"));
    EXPECT_EQ(sections[2]->items()[1]->imageName(), "other_apps");
    EXPECT_EQ(sections[2]->items()[2]->title(), OECoreString("Web site"));
    EXPECT_EQ(sections[2]->items()[2]->imageName(), "website");
}

TEST(DefaultMenuCompositionTest, RowsWhoseScreenCannotBeBuiltAreLeftOut) {
    auto factory =
        OEDefaultMenuSectionsFactory::initWithMainSectionTitle("Ostrel", config("images.sqlite", "media.sqlite", 2));
    // Every row's screen is built here, the music library's too.
    for (auto screen : {OEMenuScreen::Gallery, OEMenuScreen::MediaLibrary, OEMenuScreen::Famous, OEMenuScreen::Articles,
                        OEMenuScreen::Texts})
        EXPECT_TRUE(factory->factory()->canConstruct(screen));
    EXPECT_EQ(mainTitles(*factory), texts({"GalleryMenu", "MediaLibrary", "Famous"}));
    factory->factory()->setScreenConstructor(OEMenuScreen::Famous, nullptr);
    EXPECT_EQ(mainTitles(*factory), texts({"GalleryMenu", "MediaLibrary"}));
    factory->factory()->setScreenConstructor(OEMenuScreen::Gallery, nullptr);
    EXPECT_EQ(mainTitles(*factory), texts({"MediaLibrary"}));
    factory->factory()->setScreenConstructor(OEMenuScreen::MediaLibrary, nullptr);
    EXPECT_TRUE(mainTitles(*factory).empty());
}

TEST(DefaultMenuCompositionTest, ItemsCarryTheirImagesAndNoBadge) {
    auto factory = withAllScreens(config("images.sqlite", "media.sqlite", 2));
    auto items = factory->makeItems()[0]->items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->imageName(), "galleryengine");
    EXPECT_EQ(items[1]->imageName(), "music");
    EXPECT_EQ(items[2]->imageName(), "famous_paintings");
    for (const auto& item : items) {
        EXPECT_TRUE(item->badge().empty());
        EXPECT_TRUE(item->identifer().empty());
    }
}

namespace {

// A count of present pictures that answers what it is told.
class FixedCounter : public DownloadsCounter {
public:
    void setup(const std::shared_ptr<DataSource>&) override {}
    bool allFilesDownloaded() const override { return all; }
    void checkDownloadedFiles() override {}
    void fileDownloaded() override {}
    void downloadAllImages() override {}
    void showDownloadAlertFromController(const std::shared_ptr<UIViewController>&) override {}
    bool all = false;
};

}  // namespace

TEST(DefaultMenuCompositionTest, TheDownloadRowShowsWhileAPictureIsMissingAndAsksBeforeAnything) {
    Clock::setManual(100);
    UIApplication::sharedApplication()->reset();
    auto factory = withAllScreens(config("images.sqlite", "", 0));
    EXPECT_EQ(factory->makeItems().size(), 3u) << "no count, no row";

    auto counter = std::make_shared<FixedCounter>();
    factory->setDownloadsCounter(counter);
    auto sections = factory->makeItems();
    ASSERT_EQ(sections.size(), 4u);
    EXPECT_EQ(sections[1]->title(), OECoreString("Additional"));
    EXPECT_EQ(sections[2]->title(), OECoreString("Settings"));
    EXPECT_EQ(sections[3]->title(), OECoreString("More"));
    ASSERT_EQ(sections[1]->items().size(), 1u);
    const auto row = sections[1]->items()[0];
    EXPECT_EQ(row->title(), OECoreString("Download All Images"));
    EXPECT_EQ(row->imageName(), "download");
    counter->all = true;
    sections = factory->makeItems();
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[1]->title(), OECoreString("Settings"));
    EXPECT_EQ(sections[2]->title(), OECoreString("More"));

    // Choosing it only asks: "Attention", "Download" first, "Cancel" second.
    auto menu = OEMainMenu::initWithFactory(factory, factory->config());
    auto window = UIWindow::make();
    window->setRootViewController(menu);
    window->makeKeyAndVisible();
    row->action()(menu);
    auto alert = std::dynamic_pointer_cast<UIAlertController>(menu->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), OECoreString("Attention"));
    EXPECT_EQ(alert->message(), OECoreString("Do you realy want to download all images?"));
    ASSERT_EQ(alert->actions().size(), 2u);
    EXPECT_EQ(alert->actions()[0]->title(), OECoreString("Download"));
    EXPECT_EQ(alert->actions()[0]->style(), UIAlertActionStyle::Default);
    EXPECT_EQ(alert->actions()[1]->title(), OECoreString("Cancel"));
    alert->tapActionAtIndex(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    Clock::advance(5);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(menu->presentedViewController(), nullptr);

    window.reset();
    UIApplication::sharedApplication()->reset();
    Clock::setReal();
}

TEST(DefaultMenuActionTest, ChoosingARowPutsANewScreenInTheCentreAndTheMenuCloses) {
    Clock::setManual(100);
    UIApplication::sharedApplication()->reset();
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);

    auto c = config("images.sqlite", "", 0);
    auto factory = OEDefaultMenuSectionsFactory::initWithMainSectionTitle("Ostrel", c);
    std::vector<std::shared_ptr<UIViewController>> built;
    factory->factory()->setScreenConstructor(OEMenuScreen::Gallery, [&built] {
        built.push_back(UIViewController::make());
        return built.back();
    });
    auto menu = OEMainMenu::initWithFactory(factory, c);
    auto container = OESideMenuContainerViewController::containerWithCenterViewController(nullptr, menu, nullptr, UIColor::whiteColor());
    auto window = UIWindow::make();
    window->setRootViewController(container);
    window->makeKeyAndVisible();
    auto settle = [] {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::advance(1);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    };

    // The engine's first step: the first item's action with the menu.
    menu->sections()[0]->items()[0]->action()(menu);
    ASSERT_EQ(built.size(), 1u);
    EXPECT_EQ(container->centerViewController(), built[0]);
    settle();

    // From the open menu: the new screen shows at the open offset, then slides closed.
    container->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();
    menu->tableView()->layoutIfNeeded();
    menu->tableView()->simulateTapOnRow({0, 0});
    ASSERT_EQ(built.size(), 2u);  // a new screen every time
    EXPECT_EQ(container->centerViewController(), built[1]);
    EXPECT_EQ(built[0]->parentViewController(), nullptr);
    // It took the open offset: the closing slide covers the whole menu width (0.2 s), where a
    // screen placed at 0 would have nothing to slide.
    ASSERT_FALSE(UIView::animationLog().empty());
    EXPECT_DOUBLE_EQ(UIView::animationLog().back()->duration, static_cast<double>(0.2f));
    EXPECT_EQ(container->menuState(), OESideMenuStateLeftMenuOpen);
    settle();
    EXPECT_EQ(container->menuState(), OESideMenuStateClosed);
    EXPECT_DOUBLE_EQ(built[1]->view()->frame().origin.x, 0);

    UIApplication::sharedApplication()->reset();
    Clock::setReal();
}

// --- Over the demo bundle -------------------------------------------------------------------------

namespace {
class DefaultMenuOnDemo : public DemoLaunchFixture {};
}  // namespace

TEST_F(DefaultMenuOnDemo, TheBrowsersMenuButtonOpensTheMenuAndTheGalleryRowBringsAFreshBrowser) {
    makeBundle(DemoDatabases::ImagesOnly);
    Clock::setManual(100);
    ASSERT_TRUE(OECore::setup());
    auto window = UIWindow::make();
    OECore::instance()->showStartScreenInWindow(window);
    auto shell = std::dynamic_pointer_cast<OESideMenuContainerViewController>(window->rootViewController());
    ASSERT_TRUE(shell);
    auto settle = [] {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::advance(1);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    };
    settle();
    auto first = std::dynamic_pointer_cast<UINavigationController>(shell->centerViewController());
    ASSERT_TRUE(first);
    auto browser = first->topViewController();
    auto button = browser->navigationItem()->leftBarButtonItem();
    ASSERT_TRUE(button);
    button->simulateTap();
    settle();
    ASSERT_EQ(shell->menuState(), OESideMenuStateLeftMenuOpen);

    auto menu = std::dynamic_pointer_cast<OEMainMenu>(shell->leftMenuViewController());
    ASSERT_TRUE(menu);
    menu->tableView()->layoutIfNeeded();
    // The gallery, then the articles the bundle's style asks for (without their database: none listed).
    ASSERT_EQ(menu->tableView()->numberOfRowsInSection(0), 2);
    EXPECT_EQ(menu->tableView()->cellForRowAtIndexPath({0, 0})->textLabel()->text(), OECoreString("GalleryMenu"));
    EXPECT_EQ(menu->tableView()->cellForRowAtIndexPath({0, 1})->textLabel()->text(), OECoreString("Articles"));
    menu->tableView()->simulateTapOnRow({0, 0});
    settle();
    auto second = std::dynamic_pointer_cast<UINavigationController>(shell->centerViewController());
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_EQ(shell->menuState(), OESideMenuStateClosed);
    EXPECT_DOUBLE_EQ(second->view()->frame().origin.x, 0);
    EXPECT_TRUE(second->topViewController()->view()->isUserInteractionEnabled());
    Clock::setReal();
}
