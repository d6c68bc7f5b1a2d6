// Top-level screens per device (phone, pad, a device that cannot tell), the catalogue search
// columns per language, and modal presentation from the top-most screen.
#include "engine/ViewControllersConstructor.h"

#include "content/Loader_DataSource.h"
#include "content/SQL_Search_2fields.h"
#include "config/OEConfigFactory.h"
#include "gallery/UIDBViewController_iPad.h"
#include "gallery/UIDBViewController_iPhone.h"
#include "gallery/UIThumbailViewController.h"
#include "platform/foundation/NSLocale.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UIWindow.h"
#include "tests/engine/DemoLaunchFixture.h"

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
}
