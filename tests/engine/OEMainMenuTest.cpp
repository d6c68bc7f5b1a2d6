// The main menu: sections asked of the factory at construction and at every reload, the
// table's frame per device, cells with and without badges, the header's label inside the
// header, and a selection that runs the item's action before the side menu closes.
#include "engine/OEMainMenu.h"

#include "config/OEConfig.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIWindow.h"
#include "uikit/OEBadge.h"
#include "uikit/OESideMenuContainerViewController.h"

#include <gtest/gtest.h>

namespace {

class ScriptedFactory : public OEMainMenuSectionsFactory {
public:
    std::vector<std::shared_ptr<OEMenuSection>> next;
    int calls = 0;
    std::vector<std::shared_ptr<OEMenuSection>> makeItems() override {
        ++calls;
        return next;
    }
};

std::shared_ptr<OEConfig> configWithBackground(OEColorConfig::Color background) {
    return OEConfig::initWithAppConfig(
        nullptr, OEColorConfig::initWithSettingsColor(OEColorConfig::Color::black(), OEColorConfig::Color::black(), background),
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

class MainMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(100);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        factory = std::make_shared<ScriptedFactory>();
        factory->next = {OEMenuSection::initWithTitle("Gallery app", {item("One"), item("Two", "3")}),
                         OEMenuSection::initWithTitle("Empty", {})};
    }
    void TearDown() override {
        settle();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        Clock::setReal();
    }
    static void settle() {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::advance(1);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    std::shared_ptr<OEMenuSectionItem> item(const std::string& title, const std::string& badge = "") {
        return OEMenuSectionItem::initWithTitle(title, "image-" + title, badge,
                                                [this, title](const std::shared_ptr<OEMainMenu>& menu) {
                                                    chosen.push_back(title);
                                                    chosenWith = menu;
                                                    if (onAction) onAction();
                                                });
    }
    std::shared_ptr<OEMainMenu> menu() {
        return OEMainMenu::initWithFactory(factory, configWithBackground({0.1, 0.2, 0.3, 1}));
    }

    std::shared_ptr<ScriptedFactory> factory;
    std::vector<std::string> chosen;
    std::shared_ptr<OEMainMenu> chosenWith;
    std::function<void()> onAction;
};

}  // namespace

// --- Sections and reloads -------------------------------------------------------------------

TEST_F(MainMenuTest, SectionsComeFromTheFactoryBeforeAnyViewExists) {
    auto m = menu();
    EXPECT_EQ(factory->calls, 1);
    ASSERT_EQ(m->sections().size(), 2u);
    EXPECT_FALSE(m->isViewLoaded());
    EXPECT_EQ(m->tableView(), nullptr);
    // The first item's action can run at once, as the engine does at start-up.
    m->sections()[0]->items()[0]->action()(m);
    EXPECT_EQ(chosen, (std::vector<std::string>{"One"}));
    EXPECT_EQ(chosenWith, m);
}

TEST_F(MainMenuTest, TheThreeMessagesAskTheFactoryAgainWithOrWithoutATable) {
    auto m = menu();
    m->loadViewIfNeeded();
    NSNotificationCenter::defaultCenter()->postNotificationName("MessageDataUpdated", nullptr);
    EXPECT_EQ(factory->calls, 2);

    factory->next = {};
    NSNotificationCenter::defaultCenter()->postNotificationName("ImagesDataChanged", nullptr);
    EXPECT_EQ(factory->calls, 3);
    EXPECT_EQ(m->tableView()->numberOfSections(), 0);

    factory->next = {OEMenuSection::initWithTitle("Only", {item("A")})};
    NSNotificationCenter::defaultCenter()->postNotificationName("NewAppsFoundMessage", nullptr);
    EXPECT_EQ(factory->calls, 4);
    EXPECT_EQ(m->tableView()->numberOfSections(), 1);

    // Appearing only redraws what it has.
    factory->next = {};
    m->viewWillAppear(false);
    EXPECT_EQ(factory->calls, 4);
    EXPECT_EQ(m->tableView()->numberOfSections(), 1);

    // Before the view loads, a message still refreshes the sections.
    auto unloaded = menu();
    factory->next = {OEMenuSection::initWithTitle("Late", {})};
    NSNotificationCenter::defaultCenter()->postNotificationName("MessageDataUpdated", nullptr);
    EXPECT_EQ(unloaded->sections().size(), 1u);
    EXPECT_FALSE(unloaded->isViewLoaded());
}

// --- Table, cells, headers ---------------------------------------------------------------------

TEST_F(MainMenuTest, TheTableLeavesRoomForTheStatusBarOnlyOnAPhone) {
    auto phone = menu();
    phone->loadViewIfNeeded();
    const CGRect bounds = phone->view()->bounds();
    EXPECT_EQ(phone->tableView()->frame(), CGRectMake(0, 20, bounds.size.width, bounds.size.height - 20));
    EXPECT_EQ(phone->tableView()->style(), UITableViewStyleGrouped);
    EXPECT_EQ(phone->tableView()->superview(), phone->view());
    EXPECT_TRUE(phone->tableView()->backgroundColor()->isEqual(UIColor::clearColor().get()));
    EXPECT_TRUE(phone->view()->backgroundColor()->isEqual(UIColor::colorWithRed(0.1, 0.2, 0.3, 1).get()));

    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto pad = menu();
    pad->loadViewIfNeeded();
    EXPECT_EQ(pad->tableView()->frame(), pad->view()->bounds());

    UIDevice::currentDevice()->setCanReportUserInterfaceIdiom(false);
    auto unknown = menu();
    unknown->loadViewIfNeeded();
    EXPECT_DOUBLE_EQ(unknown->tableView()->frame().origin.y, 20);
}

TEST_F(MainMenuTest, CellsShowTitleImageAndBadgeAndAreNeverReused) {
    auto m = menu();
    m->loadViewIfNeeded();
    auto table = m->tableView();
    table->layoutIfNeeded();
    EXPECT_EQ(table->numberOfSections(), 2);
    EXPECT_EQ(table->numberOfRowsInSection(0), 2);
    EXPECT_EQ(table->numberOfRowsInSection(1), 0);  // a header with no rows

    auto plain = table->cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->textLabel()->text(), "One");
    EXPECT_EQ(plain->textLabel()->numberOfLines(), 3);
    EXPECT_DOUBLE_EQ(plain->textLabel()->font()->pointSize(), 17);
    EXPECT_EQ(plain->selectionStyle(), UITableViewCellSelectionStyleGray);
    EXPECT_EQ(plain->accessoryView(), nullptr);

    auto badged = table->cellForRowAtIndexPath({0, 1});
    auto badge = std::dynamic_pointer_cast<OEBadge>(badged->accessoryView());
    ASSERT_TRUE(badge);
    EXPECT_EQ(badge->text(), "3");
    EXPECT_EQ(badge->bounds().size, badge->sizeThatFits({0, 0}));

    // A cell that showed a badge and is built again without one loses it.
    auto reused = m->contructCellWithTitle("Two", "x", "", "", table);
    EXPECT_EQ(reused->accessoryView(), nullptr);
    m->reloadData();
    table->layoutIfNeeded();
    EXPECT_NE(table->cellForRowAtIndexPath({0, 0}), plain);
}

TEST_F(MainMenuTest, TheHeaderLabelEndsEightPointsShortOfTheRightEdge) {
    auto m = menu();
    m->loadViewIfNeeded();
    auto table = m->tableView();
    EXPECT_DOUBLE_EQ(m->heightForHeaderInSection(table, 0), 22);
    auto header = m->viewForHeaderInSection(table, 0);
    ASSERT_TRUE(header);
    header->layoutIfNeeded();
    ASSERT_EQ(header->subviews().size(), 1u);
    auto label = std::dynamic_pointer_cast<UILabel>(header->subviews()[0]);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), "Gallery app");
    EXPECT_DOUBLE_EQ(label->font()->pointSize(), 15);
    const double width = table->frame().size.width;
    EXPECT_DOUBLE_EQ(header->frame().size.width, width);
    EXPECT_EQ(label->frame(), CGRectMake(8, 0, width - 16, header->bounds().size.height));
    EXPECT_LE(label->frame().origin.x + label->frame().size.width, header->bounds().size.width);
}

// --- Selection -------------------------------------------------------------------------------------

TEST_F(MainMenuTest, ChoosingARowRunsItsActionWhileOpenThenClosesTheMenu) {
    auto m = menu();
    auto container =
        OESideMenuContainerViewController::containerWithCenterViewController(UIViewController::make(), m, nullptr,
                                                                             UIColor::whiteColor());
    auto window = UIWindow::make();
    window->setRootViewController(container);
    window->makeKeyAndVisible();
    container->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();

    OESideMenuState stateDuringAction = OESideMenuStateClosed;
    onAction = [&] { stateDuringAction = container->menuState(); };
    m->tableView()->layoutIfNeeded();
    m->tableView()->simulateTapOnRow({0, 1});
    EXPECT_EQ(chosen, (std::vector<std::string>{"Two"}));
    EXPECT_EQ(chosenWith, m);
    EXPECT_EQ(stateDuringAction, OESideMenuStateLeftMenuOpen);
    EXPECT_FALSE(m->tableView()->indexPathForSelectedRow().has_value());
    settle();
    EXPECT_EQ(container->menuState(), OESideMenuStateClosed);

    // An action that reloads the menu (as "More Apps" does) still closes it afterwards.
    container->setMenuState(OESideMenuStateLeftMenuOpen);
    settle();
    onAction = [&] {
        factory->next = {OEMenuSection::initWithTitle("After", {})};
        m->reloadData();
    };
    m->tableView()->simulateTapOnRow({0, 0});
    settle();
    EXPECT_EQ(m->sections().size(), 1u);
    EXPECT_EQ(container->menuState(), OESideMenuStateClosed);
}
